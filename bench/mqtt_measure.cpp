// zfuse-mqtt-measure: figures of zfusectl publishing to an MQTT broker (mosquitto on a
// free loopback port, started here), the program run as it runs in the field.
//   latency  last byte of a status telegram written on the line -> its status message at a
//            subscriber on the same machine (200 telegrams), paced like the 9600-baud line
//            and written at once
//   scale    N simulated fuses (default 32) at 10 telegrams/s: processor time and resident
//            memory of zfusectl per device, publishing and, for comparison, printing only.
//            A zfusectl serves at most 11 ports (COM1 ... COM11), so N fuses take
//            ceil(N / 11) programs, each with its own port links.
// usage: zfuse-mqtt-measure [latency] [scale [N]]   (both when none is named)

#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bench/spread.h"
#include "link/portnames.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/pty.h"
#include "tools/devicesim.h"

using namespace zfuse;
using bench::ms;
using bench::printSpread;
using Clock = std::chrono::steady_clock;

namespace {

// Processor seconds (user and system) and resident kibibytes of a process.
double cpuSeconds(qint64 pid) {
  QFile f(QStringLiteral("/proc/%1/stat").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  const QByteArray text = f.readAll();
  const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
  // After the name: state is field 3, utime 14 and stime 15 (1-based), here 0-based from 3.
  const double ticks = fields.value(11).toDouble() + fields.value(12).toDouble();
  return ticks / double(sysconf(_SC_CLK_TCK));
}

long residentKiB(qint64 pid) {
  QFile f(QStringLiteral("/proc/%1/status").arg(pid));
  if (!f.open(QIODevice::ReadOnly)) return 0;
  for (const QByteArray& line : f.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return 0;
}

void measureLatency(bool paced) {
  test::MqttBroker broker;
  if (!broker.start()) {
    std::printf("latency: cannot start mosquitto\n");
    return;
  }
  test::PtyPair line;
  line.linkAs("COM1");
  test::MqttSubscriber subscriber(broker.port(), "zfuse/lat/status");
  std::mutex mutex;
  std::condition_variable arrived;
  int count = 0;
  Clock::time_point lastArrival;
  subscriber.setListener([&](const test::MqttSubscriber::Message& m) {
    const std::lock_guard lock(mutex);
    ++count;
    lastArrival = m.at;
    arrived.notify_all();
  });
  subscriber.waitSubscribed();
  QProcess program;
  program.setStandardOutputFile(QProcess::nullDevice());
  program.setStandardErrorFile(QProcess::nullDevice());
  program.start(QStringLiteral(ZFUSECTL_BINARY),
                {"status", "--port", "COM1", "--mqtt", broker.url(), "--device-id", "lat"});
  program.waitForStarted();

  sim::Measurements m;
  m.rated = {6, 10, 10, 2};
  std::vector<double> samples;
  int lost = 0;
  for (int n = -10; n < 200; ++n) {  // the first ten wait for the connection
    m.present[0] = static_cast<uint16_t>(100 + n + 10);
    m.counter = static_cast<uint16_t>(n + 10);
    const auto telegram = sim::statusTelegram(0x17, m);
    std::this_thread::sleep_for(std::chrono::milliseconds(40 + (n + 10) % 23));
    int before = 0;
    {
      const std::lock_guard lock(mutex);
      before = count;
    }
    if (paced) {
      line.sendPaced(telegram);
    } else {
      line.send(telegram);
    }
    const auto sent = Clock::now();
    std::unique_lock lock(mutex);
    const bool got = arrived.wait_for(lock, std::chrono::milliseconds(n < 0 ? 1000 : 500),
                                      [&] { return count > before; });
    if (n < 0) continue;
    if (got) {
      samples.push_back(ms(lastArrival - sent));
    } else {
      ++lost;
    }
  }
  program.terminate();
  program.waitForFinished(5000);
  printSpread(paced ? "latency, 9600-baud pacing, last byte -> status message at a subscriber"
                    : "latency, whole telegram at once, last byte -> status message at a "
                      "subscriber",
              samples);
  if (lost > 0) std::printf("  %d telegrams without a message within 500 ms\n", lost);
}

void measureScale(int devices, bool publish) {
  test::MqttBroker broker;
  if (!broker.start()) {
    std::printf("scale: cannot start mosquitto\n");
    return;
  }
  test::MqttSubscriber subscriber(broker.port(), "zfuse/+/status");
  subscriber.waitSubscribed();
  std::atomic<long> received{0};
  subscriber.setListener([&](const test::MqttSubscriber::Message&) { ++received; });

  std::vector<std::unique_ptr<sim::DeviceSimulator>> fuses;
  std::vector<std::unique_ptr<QTemporaryDir>> folders;
  std::vector<std::unique_ptr<QProcess>> programs;
  for (int first = 0; first < devices; first += 11) {
    const int here = std::min(11, devices - first);
    folders.push_back(std::make_unique<QTemporaryDir>());
    const QString links = folders.back()->path() + "/zfuse/ports";
    QDir().mkpath(links);
    QStringList args = {"status"};
    for (int k = 1; k <= here; ++k) {
      sim::DeviceSimulator::Options o;
      o.telegramIntervalMs = 100;
      o.seed = static_cast<uint32_t>(first + k);
      fuses.push_back(std::make_unique<sim::DeviceSimulator>(o));
      fuses.back()->start();
      QFile::link(QString::fromStdString(fuses.back()->slavePath()),
                  links + QStringLiteral("/COM%1").arg(k));
      args << "--port" << QStringLiteral("COM%1").arg(k);
    }
    if (publish) {
      args << "--mqtt" << broker.url();
      for (int k = 1; k <= here; ++k) args << "--device-id" << QStringLiteral("f%1").arg(first + k);
    } else {
      args << "--format"
           << "json";
    }
    programs.push_back(std::make_unique<QProcess>());
    QProcess& p = *programs.back();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_CONFIG_HOME", folders.back()->path());
    p.setProcessEnvironment(env);
    p.setStandardOutputFile(QProcess::nullDevice());
    p.setStandardErrorFile(QProcess::nullDevice());
    p.start(QStringLiteral(ZFUSECTL_BINARY), args);
    p.waitForStarted();
  }
  QThread::msleep(3000);  // ports open, connections up
  std::vector<double> cpu0;
  for (auto& p : programs) cpu0.push_back(cpuSeconds(p->processId()));
  const long received0 = received;
  QElapsedTimer wall;
  wall.start();
  const int seconds = 30;
  QThread::msleep(seconds * 1000);
  const double elapsed = double(wall.elapsed()) / 1000.0;
  double cpu = 0;
  long rss = 0;
  for (std::size_t i = 0; i < programs.size(); ++i) {
    cpu += cpuSeconds(programs[i]->processId()) - cpu0[i];
    rss += residentKiB(programs[i]->processId());
  }
  const long messages = received - received0;
  for (auto& p : programs) {
    p->terminate();
    p->waitForFinished(5000);
  }
  std::printf(
      "scale, %d fuses at 10 telegrams/s, %s, %zu zfusectl: %.3f %% of one core and %.0f KiB "
      "resident per device (all: %.2f %%, %ld KiB)",
      devices, publish ? "publishing" : "printing only", programs.size(),
      100.0 * cpu / elapsed / devices, double(rss) / devices, 100.0 * cpu / elapsed, rss);
  if (publish) {
    std::printf("; %ld status messages in %.1f s at the subscriber (%.1f per device a second)",
                messages, elapsed, double(messages) / elapsed / devices);
  }
  std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QCoreApplication app(argc, argv);
  QStringList what;
  for (int i = 1; i < argc; ++i) what << QString::fromLocal8Bit(argv[i]);
  if (what.isEmpty()) what = {"latency", "scale"};
  for (int i = 0; i < what.size(); ++i) {
    if (what[i] == "latency") {
      measureLatency(true);
      measureLatency(false);
    }
    if (what[i] == "scale") {
      bool ok = false;
      const int n = what.value(i + 1).toInt(&ok);
      const int devices = ok && n > 0 ? n : 32;
      measureScale(devices, true);
      measureScale(devices, false);
      if (devices > 1) {  // what one more device costs, beside what a program costs at all
        measureScale(1, true);
        measureScale(11, true);
      }
    }
  }
  return 0;
}
