// zfuse-measure: figures of the whole program, measured in-process on pseudo-terminals.
//   latency   last byte of a status telegram written -> value label changed (200 telegrams),
//             once paced like the 9600-baud line and once with the telegram written at once
//   startup   program start to the main window shown, and peak resident memory
//   cpu       processor time while monitoring a silent line and one with 10 telegrams/s
//   read      "Konfiguration laden" to the success message, simulator paced at 9600 baud
//   stall     lateness of a 5 ms timer while the main window monitors a silent line,
//             a line with 10 telegrams/s, and no port at all
//   diagcpu   processor time at 10 telegrams/s, monitoring alone and then recording
//             with the trend and event log windows shown
//   diagmem   resident memory before and after a day of telegrams (864 000, fed in fast)
//             recorded, trended and logged
//   rows      telegrams sent by the simulator against rows recorded, over
//             ZFUSE_MEASURE_SECONDS (600 unless set)
//   burst     lateness of a 5 ms timer while 1000 lamp changes a second arrive, the
//             event log and trend windows shown
//   launch    whole processes: start to the first window shown on the X server named by
//             DISPLAY (run under Xvfb, no window manager), zfuse against the bare Qt window
//             zfuse-bare-window, 30 runs each taken in turn
//   versionmem  peak resident memory of `zfusectl --version` against `zfuse --version`,
//             10 runs each
// usage: zfuse-measure [latency|startup|cpu|read|stall|diagcpu|diagmem|rows|burst|launch|
//                       versionmem]...
//        (all but the diagnosis and whole-process ones when none is named)

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <xcb/xcb.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>
#include <thread>

#include "app/program.h"
#include "app/statustext.h"
#include "app/zokm32.h"
#include "bench/spread.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "link/portnames.h"
#include "monitor/statustelegram.h"
#include "tests/support/pty.h"
#include "tools/devicesim.h"
#include "windowkit/modal.h"
#include "windows/eventwindow.h"
#include "windows/trendwindow.h"

using namespace zfuse;
using bench::ms;
using bench::printSpread;
using Clock = std::chrono::steady_clock;

namespace {

double cpuSeconds() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// The program's processor time over `ms` of running its event loop, in % of one core.
double cpuPercentOver(int ms) {
  const double cpu0 = cpuSeconds();
  QElapsedTimer wall;
  wall.start();
  QTest::qWait(ms);
  return 100.0 * (cpuSeconds() - cpu0) / (double(wall.elapsed()) / 1000.0);
}

// The simulator as a process of its own on COM1 (10 telegrams/s, `extra` options), and
// the program started and settled in on it; false after a message when it cannot start.
bool startMonitoringSimulator(QProcess& device, const QStringList& extra) {
  const QString simulator = QCoreApplication::applicationDirPath() + "/../zfuse-sim";
  device.start(simulator, QStringList{"--link", "COM1", "--interval", "100"} + extra);
  if (!device.waitForReadyRead(3000)) {
    std::printf("cannot start %s\n", qPrintable(simulator));
    return false;
  }
  QTest::qWait(200);
  startProgram();
  QTest::qWait(1000);
  return true;
}

void linkCom1(const std::string& device) {
  QDir().mkpath(portLinkFolder());
  QFile::remove(portLinkFolder() + "/COM1");
  QFile::link(QString::fromStdString(device), portLinkFolder() + "/COM1");
}

void measureLatency(bool paced) {
  test::PtyPair line;
  line.linkAs("COM1");
  startProgram();
  QLabel* i1 = Form1->findChild<QLabel*>("i1");
  if (!QTest::qWaitFor([] { return Form1->portOpen(); }, 2000)) std::printf("port not open\n");
  std::vector<double> samples;
  sim::Measurements m;
  m.rated = {6, 10, 10, 2};
  for (int n = 0; n < 200; ++n) {
    m.present[0] = static_cast<uint16_t>(100 + n);  // every telegram changes i1
    m.counter = static_cast<uint16_t>(n);
    const auto telegram = sim::statusTelegram(0x17, m);
    const QString expected = QString::fromStdString(measurementText(m.present[0], kUnitAmps));
    // Let the poll tick settle into its wait, at a different phase each time.
    QTest::qWait(20 + n % 37);
    std::atomic<Clock::time_point::rep> sent{0};
    std::thread writer([&] {
      if (paced) {
        line.sendPaced(telegram);
      } else {
        line.send(telegram);
      }
      sent = Clock::now().time_since_epoch().count();
    });
    // Watch the label at 1 ms resolution; the decoder writes it inside the poll tick.
    QElapsedTimer limit;
    limit.start();
    while (i1->text() != expected && limit.elapsed() < 1000) {
      QCoreApplication::processEvents(QEventLoop::AllEvents, 1);
      if (i1->text() != expected) std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    const auto seen = Clock::now();
    writer.join();
    samples.push_back(ms(seen - Clock::time_point(Clock::duration(sent.load()))));
  }
  endProgram();
  printSpread(paced ? "latency, 9600-baud pacing, last byte -> i1 changed"
                    : "latency, whole telegram at once, last byte -> i1 changed",
              samples);
}

void measureStartup() {
  QElapsedTimer clock;
  clock.start();
  startProgram();
  if (!QTest::qWaitForWindowExposed(Form1, 5000)) std::printf("window not exposed\n");
  std::printf("startup: startProgram() to main window exposed %lld ms\n",
              static_cast<long long>(clock.elapsed()));
  endProgram();
}

void measureCpu() {
  // The simulator runs as a process of its own, so that only the program is measured.
  for (const bool talking : {false, true}) {
    QProcess device;
    if (!startMonitoringSimulator(device,
                                  talking ? QStringList{} : QStringList{"--fault", "silence"})) {
      return;
    }
    std::printf("cpu, %s: %.2f %% of one core over 10 s\n",
                talking ? "10 telegrams/s" : "silent line", cpuPercentOver(10000));
    endProgram();
    device.terminate();
    device.waitForFinished(3000);
  }
}

// "Konfiguration laden" of the dialog that fits `model`, 50 times.
void measureRead(uint8_t model) {
  sim::DeviceSimulator::Options options;
  options.model = model;
  options.paced = true;
  sim::DeviceSimulator device(options);
  device.start();
  linkCom1(device.slavePath());
  startProgram();
  if (!QTest::qWaitFor([] { return Form1->portOpen(); }, 2000)) std::printf("port not open\n");
  Form1->modelFlags().set(model);
  Form1->Button1Click();
  ConfigDialog* dialog = model == kTypeStandard ? static_cast<ConfigDialog*>(para) : parameter_zokx;
  QLabel* status = dialog->findChild<QLabel*>("status");
  std::vector<double> samples;
  int failed = 0;
  for (int n = 0; n < 50; ++n) {
    QTest::qWait(30 + n % 70);  // status telegrams keep flowing meanwhile
    const auto start = Clock::now();
    if (model == kTypeStandard) {
      para->laden();
    } else {
      parameter_zokx->Button1Click();
    }
    if (status->text() != "Übertragung erfolgreich!") {
      ++failed;
      dialog->Timer1->stop();
      continue;
    }
    samples.push_back(ms(Clock::now() - start));
  }
  dialog->close();
  endProgram();
  printSpread(model == kTypeStandard ? "standard configuration read, laden -> success message"
                                     : "fuse-variant configuration read, Button1Click -> success",
              samples);
  std::printf("configuration read: %d of 50 first attempts failed (each costs one retry)\n",
              failed);
}

// How late a 5 ms timer fires, over `seconds`, while the program runs.
std::vector<double> timerLateness(int seconds) {
  std::vector<double> late;
  auto last = Clock::now();
  QTimer timer;
  timer.setTimerType(Qt::PreciseTimer);
  QObject::connect(&timer, &QTimer::timeout, [&] {
    const auto now = Clock::now();
    late.push_back(std::max(0.0, ms(now - last) - 5.0));
    last = now;
  });
  timer.start(5);
  // A plain event loop: QTest::qWait would sleep in 10 ms steps of its own.
  QEventLoop loop;
  QTimer::singleShot(seconds * 1000, &loop, &QEventLoop::quit);
  loop.exec();
  return late;
}

void measureStall() {
  for (const char* situation : {"silent line", "10 telegrams/s", "no port"}) {
    const std::string what = situation;
    std::unique_ptr<sim::DeviceSimulator> device;
    if (what == "no port") {
      linkCom1("/dev/zfuse-no-such-port");
    } else {
      sim::DeviceSimulator::Options options;
      options.faults = what == "silent line" ? unsigned{sim::kSilence} : 0u;
      device = std::make_unique<sim::DeviceSimulator>(options);
      device->start();
      linkCom1(device->slavePath());
    }
    startProgram();
    QTest::qWait(500);
    printSpread(("event-loop stall, 5 ms timer lateness, " + what).c_str(), timerLateness(5));
    endProgram();
  }
}

long residentKiB() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmRSS:")) return line.mid(6).trimmed().split(' ').value(0).toLong();
  }
  return -1;
}

void measureDiagnosisCpu() {
  QProcess device;
  if (!startMonitoringSimulator(device, {})) return;
  QTemporaryDir dir;
  for (const bool diagnosis : {false, true}) {
    if (diagnosis) {
      Modal::fileAnswer = [&](const FileQuestion&) { return dir.filePath("rec.csv"); };
      Form1->Aufzeichnungstarten1Click();
      Modal::fileAnswer = nullptr;
      Form1->Verlauf1Click();
      Form1->Ereignisse1Click();
      QTest::qWait(1000);
    }
    std::printf("cpu, 10 telegrams/s, %s: %.2f %% of one core over 20 s\n",
                diagnosis ? "recording, trend and event log shown" : "monitoring alone",
                cpuPercentOver(20000));
  }
  std::printf("rows recorded: %llu\n", (unsigned long long)Form1->recording().telegramRows());
  endProgram();
  device.terminate();
  device.waitForFinished(3000);
}

void measureDiagnosisMemory() {
  linkCom1("/dev/zfuse-no-such-port");
  startProgram();
  QTest::qWait(500);
  const long before = residentKiB();
  QTemporaryDir dir;
  Modal::fileAnswer = [&](const FileQuestion&) { return dir.filePath("day.csv"); };
  Form1->Aufzeichnungstarten1Click();
  Modal::fileAnswer = nullptr;
  Form1->Verlauf1Click();
  Form1->Ereignisse1Click();
  Trend->chooseSpan(3);
  // A day at 10 telegrams a second on the trend's own clock; a warning lamp changes
  // every 50 telegrams, a trip every 3000.
  qint64 now = QDateTime::currentMSecsSinceEpoch() - 86'400'000LL;
  Trend->setClock([&] { return now; });
  sim::Measurements m;
  m.rated = {10, 10, 6, 2};
  for (int i = 0; i < 864'000; ++i, now += 100) {
    const double t = i / 10.0;
    for (int ch = 0; ch < 4; ++ch) {
      m.present[ch] = static_cast<uint16_t>(
          (0.3 + 0.6 * (0.5 - 0.5 * std::cos(t / (12.0 + 4 * ch)))) * m.rated[ch] * 100);
    }
    m.channelBits = static_cast<uint8_t>((i / 50) % 2 ? 0x01 : 0x00) |
                    static_cast<uint8_t>((i / 3000) % 2 ? 0x08 : 0x00);
    m.counter = static_cast<uint16_t>(i);
    const std::vector<uint8_t> telegram = sim::statusTelegram(kType4ch10A, m);
    Form1->monitor().feed(telegram.data(), telegram.size());
    if (i % 20'000 == 0) QCoreApplication::processEvents();
  }
  QTest::qWait(1000);
  const long after = residentKiB();
  std::printf(
      "resident memory: %ld KiB at start, %ld KiB after a day of telegrams "
      "(%llu rows recorded, %d events logged, %zu trend points, %zu seconds): "
      "%+.1f MiB\n",
      before, after, (unsigned long long)Form1->recording().telegramRows(),
      Form1->eventLog().size(), Trend->history().fine().size(), Trend->history().seconds().size(),
      double(after - before) / 1024.0);
  Form1->Aufzeichnungbeenden1Click();
  endProgram();
}

void measureRows() {
  const int seconds = qEnvironmentVariableIsSet("ZFUSE_MEASURE_SECONDS")
                          ? qEnvironmentVariableIntValue("ZFUSE_MEASURE_SECONDS")
                          : 600;
  sim::DeviceSimulator::Options options;
  options.faults = sim::kSilence;
  sim::DeviceSimulator device(options);
  device.start();
  linkCom1(device.slavePath());
  startProgram();
  if (!QTest::qWaitFor([] { return Form1->portOpen(); }, 2000)) std::printf("port not open\n");
  QTemporaryDir dir;
  Modal::fileAnswer = [&](const FileQuestion&) { return dir.filePath("rows.csv"); };
  Form1->Aufzeichnungstarten1Click();
  Modal::fileAnswer = nullptr;
  QTest::qWait(300);
  const uint64_t sent0 = device.telegramsSent();
  device.setFaults(0);
  QTest::qWait(seconds * 1000);
  device.setFaults(sim::kSilence);
  QTest::qWait(1500);  // the last telegram on the wire
  const uint64_t sent = device.telegramsSent() - sent0;
  Form1->Aufzeichnungbeenden1Click();
  std::printf(
      "recording over %d s: %llu telegrams sent, %llu rows recorded, %llu lost\n", seconds,
      (unsigned long long)sent, (unsigned long long)Form1->recording().telegramRows(),
      (unsigned long long)(sent - std::min<uint64_t>(sent, Form1->recording().telegramRows())));
  endProgram();
}

void measureBurst() {
  linkCom1("/dev/zfuse-no-such-port");
  startProgram();
  Form1->Ereignisse1Click();
  Form1->Verlauf1Click();
  QTest::qWait(500);
  // Ten telegrams every 10 ms, each turning channel 1's warning lamp on or off.
  sim::Measurements m;
  m.rated = {10, 10, 10, 10};
  int n = 0;
  QTimer sender;
  QObject::connect(&sender, &QTimer::timeout, [&] {
    for (int i = 0; i < 10; ++i, ++n) {
      m.channelBits = static_cast<uint8_t>(n % 2);
      m.counter = static_cast<uint16_t>(n);
      const std::vector<uint8_t> t = sim::statusTelegram(kType4ch10A, m);
      Form1->monitor().feed(t.data(), t.size());
    }
  });
  sender.start(10);
  // Twelve seconds: more changes than the log's bound.
  printSpread("event-loop stall, 5 ms timer lateness, 1000 lamp changes/s", timerLateness(12));
  sender.stop();
  std::printf("lamp changes fed: %d, event log entries: %d (bound %d)\n", n,
              Form1->eventLog().size(), EventLog::kMaxEntries);
  endProgram();
}

// Whole programs as processes: forked, their output thrown away, the window system the
// X server of DISPLAY (the measuring program itself stays offscreen).
class Child {
 public:
  Child(const char* program, std::vector<const char*> arguments) {
    std::vector<std::string> env;
    for (char** e = environ; *e != nullptr; ++e) {
      if (std::strncmp(*e, "QT_QPA_PLATFORM=", 16) != 0) env.emplace_back(*e);
    }
    env.emplace_back("QT_QPA_PLATFORM=xcb");
    std::vector<char*> envp;
    for (std::string& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    arguments.insert(arguments.begin(), program);
    arguments.push_back(nullptr);
    pid_ = ::fork();
    if (pid_ == 0) {
      const int null = ::open("/dev/null", O_RDWR);
      ::dup2(null, STDOUT_FILENO);
      ::dup2(null, STDERR_FILENO);
      ::execve(program, const_cast<char* const*>(arguments.data()), envp.data());
      ::_exit(127);
    }
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    for (int i = 0; i < 500; ++i) {
      if (::waitpid(pid_, nullptr, WNOHANG) == pid_) return;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  Child(const Child&) = delete;
  Child& operator=(const Child&) = delete;

  // Processor time of all the program's threads so far, in ms (from the scheduler's
  // nanosecond count, which the load of other programs on the machine does not inflate).
  double cpuMs() const {
    double ns = 0;
    const QString tasks = QStringLiteral("/proc/%1/task").arg(pid_);
    for (const QString& t : QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
      QFile f(tasks + QLatin1Char('/') + t + QStringLiteral("/schedstat"));
      if (f.open(QIODevice::ReadOnly)) ns += f.readAll().split(' ').value(0).toDouble();
    }
    return ns / 1e6;
  }

 private:
  pid_t pid_ = -1;
};

// Watches the X server for top-level windows being mapped (shown). Without a window
// manager, every window a program shows is a child of the root window; menus and tool
// tips (override-redirect) are not counted.
class WindowWatch {
 public:
  WindowWatch() : c_(xcb_connect(nullptr, nullptr)) {
    if (xcb_connection_has_error(c_) != 0) return;
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c_)).data->root;
    const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY;
    xcb_change_window_attributes(c_, root, XCB_CW_EVENT_MASK, &mask);
    // A round trip: from here on every map is reported.
    std::free(xcb_get_input_focus_reply(c_, xcb_get_input_focus(c_), nullptr));
    ok_ = true;
  }
  ~WindowWatch() { xcb_disconnect(c_); }
  WindowWatch(const WindowWatch&) = delete;
  WindowWatch& operator=(const WindowWatch&) = delete;

  bool ok() const { return ok_; }

  // The time the next top-level window was mapped, or nothing after `limit`.
  std::optional<Clock::time_point> nextMap(std::chrono::milliseconds limit) {
    const auto end = Clock::now() + limit;
    for (;;) {
      while (xcb_generic_event_t* e = xcb_poll_for_event(c_)) {
        const bool mapped = (e->response_type & 0x7f) == XCB_MAP_NOTIFY &&
                            reinterpret_cast<xcb_map_notify_event_t*>(e)->override_redirect == 0;
        std::free(e);
        if (mapped) return Clock::now();
      }
      if (xcb_connection_has_error(c_) != 0) return std::nullopt;
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now());
      if (left.count() <= 0) return std::nullopt;
      pollfd p{xcb_get_file_descriptor(c_), POLLIN, 0};
      ::poll(&p, 1, static_cast<int>(left.count()));
    }
  }

  // Forgets what the server reported so far (the last program's windows going away).
  void drain() {
    while (nextMap(std::chrono::milliseconds(50))) {
    }
  }

 private:
  xcb_connection_t* c_;
  bool ok_ = false;
};

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

void measureLaunch() {
  WindowWatch watch;
  if (!watch.ok()) {
    std::printf("launch: no X server at DISPLAY (run under xvfb-run -a)\n");
    return;
  }
  // zfuse finds COM1 on a quiet pseudo-terminal, as on a fuse that has not spoken yet.
  test::PtyPair line;
  line.linkAs("COM1");
  const int runs = 30;
  std::vector<double> bare;
  std::vector<double> tool;
  std::vector<double> bareCpu;
  std::vector<double> toolCpu;
  for (int n = -2; n < runs; ++n) {  // two rounds to warm the caches first
    for (const bool isTool : {false, true}) {
      watch.drain();
      const auto start = Clock::now();
      Child child(isTool ? ZFUSE_BINARY : BARE_WINDOW_BINARY, {});
      const auto shown = watch.nextMap(std::chrono::seconds(10));
      if (!shown) {
        std::printf("launch: %s showed no window\n", isTool ? "zfuse" : "bare window");
        return;
      }
      if (n >= 0) {
        (isTool ? tool : bare).push_back(ms(*shown - start));
        (isTool ? toolCpu : bareCpu).push_back(child.cpuMs());
      }
    }
  }
  printSpread("launch, process start -> first window shown, bare Qt window", bare);
  printSpread("launch, process start -> first window shown, zfuse", tool);
  printSpread("launch, processor time to the first window shown, bare Qt window", bareCpu);
  printSpread("launch, processor time to the first window shown, zfuse", toolCpu);
  std::printf("launch: zfuse / bare window, medians: %.2f wall, %.2f processor time\n",
              median(tool) / median(bare), median(toolCpu) / median(bareCpu));
}

// Peak resident memory of a program run to its end, in KiB.
long peakKilobytes(const char* program, const char* argument) {
  const pid_t pid = ::fork();
  if (pid == 0) {
    const int null = ::open("/dev/null", O_RDWR);
    ::dup2(null, STDOUT_FILENO);
    ::execl(program, program, argument, static_cast<char*>(nullptr));
    ::_exit(127);
  }
  int status = 0;
  rusage usage{};
  ::wait4(pid, &status, 0, &usage);
  return usage.ru_maxrss;
}

void measureVersionMemory() {
  std::vector<double> ctl;
  std::vector<double> gui;
  for (int n = 0; n < 10; ++n) {
    ctl.push_back(double(peakKilobytes(ZFUSECTL_BINARY, "--version")));
    gui.push_back(double(peakKilobytes(ZFUSE_BINARY, "--version")));
  }
  std::sort(ctl.begin(), ctl.end());
  std::sort(gui.begin(), gui.end());
  std::printf(
      "versionmem: peak resident, zfusectl --version median %.0f KiB (%.0f ... %.0f), "
      "zfuse --version median %.0f KiB (%.0f ... %.0f): %.2f\n",
      median(ctl), ctl.front(), ctl.back(), median(gui), gui.front(), gui.back(),
      median(ctl) / median(gui));
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  QApplication app(argc, argv);
  QStringList what;
  for (int i = 1; i < argc; ++i) what << QString::fromLocal8Bit(argv[i]);
  if (what.isEmpty()) what = {"startup", "latency", "cpu", "read", "stall"};
  for (const QString& w : what) {
    if (w == "latency") {
      measureLatency(true);
      measureLatency(false);
    }
    if (w == "startup") measureStartup();
    if (w == "stall") measureStall();
    if (w == "cpu") measureCpu();
    if (w == "diagcpu") measureDiagnosisCpu();
    if (w == "diagmem") measureDiagnosisMemory();
    if (w == "rows") measureRows();
    if (w == "burst") measureBurst();
    if (w == "launch") measureLaunch();
    if (w == "versionmem") measureVersionMemory();
    if (w == "read") {
      measureRead(kTypeStandard);
      measureRead(kType4ch10A);
    }
  }
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  std::printf("peak resident memory: %ld KiB\n", u.ru_maxrss);
  return 0;
}
