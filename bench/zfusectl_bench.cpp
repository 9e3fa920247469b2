// zfusectl's configuration exchange against the simulated fuse at 9600-baud pacing, as a
// ratio to its floor: the wire time of every byte exchanged (request, reply,
// acknowledgement; 10 bits a byte at 9600 baud) plus the fuse's answer delay of 2 ms per
// reply. Whole programs too: a write on 1 and on 8 ports at once, a write with its
// read-back against its goal, and the peak memory of `zfusectl --version` against
// `zfuse --version`.
//
// Run: build/bench/zfusectl_bench (takes about a minute).

#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <vector>

#include "config/deviceconfig.h"
#include "config/exchange.h"
#include "link/portnames.h"
#include "monitor/statustelegram.h"
#include "tools/devicesim.h"

namespace {

using namespace zfuse;

constexpr double kByteMs = 10.0 / 9600.0 * 1000.0;
constexpr double kAnswerDelayMs = 2.0;

// A paced simulated fuse of `model` on `com`.
std::unique_ptr<sim::DeviceSimulator> fuseOn(const QString& com, uint8_t model) {
  sim::DeviceSimulator::Options o;
  o.model = model;
  auto device = std::make_unique<sim::DeviceSimulator>(o);
  if (!device->start()) return nullptr;
  QDir().mkpath(portLinkFolder());
  QFile::remove(portLinkFolder() + "/" + com);
  QFile::link(QString::fromStdString(device->slavePath()), portLinkFolder() + "/" + com);
  return device;
}

DeviceConfiguration factoryOf(uint8_t model) {
  DeviceConfiguration c;
  c.model = model;
  c.standard = standardFactorySet();
  c.zokx = zokxFactorySet(model);
  return c;
}

// Bytes of a configuration reply as the fuse sends it, end pair included.
double replyBytes(uint8_t model) {
  return static_cast<double>(
      sim::configurationReply(model, sim::factoryConfiguration(model), "1.07").size());
}

void report(benchmark::State& state, double totalMs, double floorMs) {
  const double each = totalMs / static_cast<double>(state.iterations());
  state.counters["ms"] = each;
  state.counters["floor_ms"] = floorMs;
  state.counters["ratio"] = each / floorMs;
}

void BM_Read(benchmark::State& state) {
  const auto model = static_cast<uint8_t>(state.range(0));
  auto device = fuseOn("COM1", model);
  HeldLine line(makeSystemSerialLine());
  if (!device || !line.open("COM1")) return state.SkipWithError("no simulated fuse");
  ConfigExchange exchange(line, {0, 0});
  double totalMs = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    if (!exchange.read()) return state.SkipWithError("no reply");
    totalMs += static_cast<double>(clock.nsecsElapsed()) / 1e6;
  }
  report(state, totalMs, (2 + replyBytes(model)) * kByteMs + kAnswerDelayMs);
}
BENCHMARK(BM_Read)->Arg(kTypeStandard)->Arg(kType4ch10A)->Iterations(20)->UseRealTime();

void BM_WriteAndVerify(benchmark::State& state) {
  const auto model = static_cast<uint8_t>(state.range(0));
  auto device = fuseOn("COM1", model);
  HeldLine line(makeSystemSerialLine());
  if (!device || !line.open("COM1")) return state.SkipWithError("no simulated fuse");
  ConfigExchange exchange(line, {0, 0});
  const std::vector<uint8_t> telegram = writeTelegramOf(factoryOf(model));
  double totalMs = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    if (!exchange.write(telegram) || !exchange.read()) return state.SkipWithError("failed");
    totalMs += static_cast<double>(clock.nsecsElapsed()) / 1e6;
  }
  const double bytes = static_cast<double>(telegram.size()) + 1 + 2 + replyBytes(model);
  report(state, totalMs, bytes * kByteMs + 2 * kAnswerDelayMs);
}
BENCHMARK(BM_WriteAndVerify)->Arg(kTypeStandard)->Arg(kType4ch10A)->Iterations(20)->UseRealTime();

// A hundred fuses from one file, one after another: each is a port opened afresh, the
// write, the read-back, the port closed (the fuse swapped on the same adapter).
void BM_HundredFusesOneAfterAnother(benchmark::State& state) {
  auto device = fuseOn("COM1", kType4ch10A);
  if (!device) return state.SkipWithError("no simulated fuse");
  const std::vector<uint8_t> telegram = writeTelegramOf(factoryOf(kType4ch10A));
  double totalMs = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    for (int fuse = 0; fuse < 100; ++fuse) {
      HeldLine line(makeSystemSerialLine());
      ConfigExchange exchange(line, {0, 0});
      if (!line.open("COM1") || !exchange.write(telegram) || !exchange.read()) {
        return state.SkipWithError("failed");
      }
    }
    totalMs += static_cast<double>(clock.nsecsElapsed()) / 1e6;
  }
  const double bytes = static_cast<double>(telegram.size()) + 1 + 2 + replyBytes(kType4ch10A);
  report(state, totalMs, 100 * (bytes * kByteMs + 2 * kAnswerDelayMs));
}
BENCHMARK(BM_HundredFusesOneAfterAnother)->Iterations(1)->UseRealTime();

// The whole program: `zfusectl write` on N ports at once, each with its own fuse.
void BM_ZfusectlWritePorts(benchmark::State& state) {
  const auto ports = static_cast<int>(state.range(0));
  std::vector<std::unique_ptr<sim::DeviceSimulator>> fuses;
  QStringList args{"write"};
  for (int n = 1; n <= ports; ++n) {
    const QString com = QStringLiteral("COM%1").arg(n);
    fuses.push_back(fuseOn(com, kType4ch10A));
    args << "--port" << com;
  }
  QTemporaryDir dir;
  const QString file = dir.filePath("line.txt");
  QFile f(file);
  f.open(QIODevice::WriteOnly);
  f.write(QByteArray::fromStdString(fileTextOf(factoryOf(kType4ch10A))));
  f.close();
  args << file;
  double totalMs = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    QProcess p;
    p.start(QStringLiteral(ZFUSECTL_BINARY), args);
    if (!p.waitForFinished(30000) || p.exitCode() != 0) return state.SkipWithError("failed");
    totalMs += static_cast<double>(clock.nsecsElapsed()) / 1e6;
  }
  state.counters["ms"] = totalMs / static_cast<double>(state.iterations());
}
BENCHMARK(BM_ZfusectlWritePorts)->Arg(1)->Arg(8)->Iterations(5)->UseRealTime();

// The whole program: `zfusectl write` with its read-back on one fuse, against its goal of
// 1.3 times the wire time of its three exchanges (the read that tells the model, the
// write, the read-back) plus the program's start-up. The start-up is a run that ends
// before any port is opened (a configuration file that is no regular file).
double runMs(const QStringList& args, int expectedExit) {
  QElapsedTimer clock;
  clock.start();
  QProcess p;
  p.start(QStringLiteral(ZFUSECTL_BINARY), args);
  if (!p.waitForFinished(30000) || p.exitCode() != expectedExit) return -1;
  return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

void BM_ZfusectlWriteAgainstGoal(benchmark::State& state) {
  auto fuse = fuseOn("COM1", kType4ch10A);
  if (!fuse) return state.SkipWithError("no simulated fuse");
  QTemporaryDir dir;
  const QString file = dir.filePath("line.txt");
  QFile f(file);
  f.open(QIODevice::WriteOnly);
  f.write(QByteArray::fromStdString(fileTextOf(factoryOf(kType4ch10A))));
  f.close();
  double writeMs = 0;
  double startMs = 0;
  for (auto _ : state) {
    const double start = runMs({"verify", "--port", "COM1", "/dev/null"}, 3);
    const double write = runMs({"write", "--port", "COM1", file}, 0);
    if (start < 0 || write < 0) return state.SkipWithError("failed");
    startMs += start;
    writeMs += write;
  }
  const double n = static_cast<double>(state.iterations());
  const double read = 2 + replyBytes(kType4ch10A);
  const double written = static_cast<double>(writeTelegramOf(factoryOf(kType4ch10A)).size()) + 1;
  const double wireMs = (2 * read + written) * kByteMs + 3 * kAnswerDelayMs;
  const double goalMs = 1.3 * wireMs + startMs / n;
  state.counters["ms"] = writeMs / n;
  state.counters["startup_ms"] = startMs / n;
  state.counters["wire_ms"] = wireMs;
  state.counters["goal_ms"] = goalMs;
  state.counters["ratio"] = writeMs / n / goalMs;
}
BENCHMARK(BM_ZfusectlWriteAgainstGoal)->Iterations(10)->UseRealTime();

// Peak resident memory of a program run to its end.
long peakKilobytes(const char* program) {
  const pid_t pid = fork();
  if (pid == 0) {
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    execl(program, program, "--version", static_cast<char*>(nullptr));
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;
}

void BM_VersionPeakMemory(benchmark::State& state) {
  long ctl = 0;
  long gui = 0;
  double ctlMs = 0;
  for (auto _ : state) {
    QElapsedTimer clock;
    clock.start();
    ctl = peakKilobytes(ZFUSECTL_BINARY);
    ctlMs += static_cast<double>(clock.nsecsElapsed()) / 1e6;
    gui = peakKilobytes(ZFUSE_BINARY);
  }
  state.counters["zfusectl_kB"] = static_cast<double>(ctl);
  state.counters["zfuse_kB"] = static_cast<double>(gui);
  state.counters["ratio"] = static_cast<double>(ctl) / static_cast<double>(gui);
  state.counters["zfusectl_ms"] = ctlMs / static_cast<double>(state.iterations());
}
BENCHMARK(BM_VersionPeakMemory)->Iterations(5)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
