// The monitoring link under stress: a window that never waits on the line, bounded
// memory under a fast sender, no lock file left behind by any ordinary end, and no other
// device behind a dangling port link.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QTimer>
#include <atomic>
#include <fstream>
#include <thread>

#include "app/program.h"
#include "app/zokm32.h"
#include "link/connection.h"
#include "link/portnames.h"
#include "monitor/portdoctor.h"
#include "monitor/statustelegram.h"
#include "tests/support/program_fixture.h"
#include "tests/support/pty.h"
#include "tools/devicesim.h"

namespace zfuse {
namespace {

// The lock file a port's open leaves in the system's lock folder, if any.
QString lockFileOf(const std::string& device) {
  return portLockFile(QString::fromStdString(device));
}

long residentKiB() {
  std::ifstream status("/proc/self/status");
  std::string key;
  long value = 0;
  while (status >> key) {
    if (key == "VmRSS:") {
      status >> value;
      return value;
    }
    status.ignore(1 << 12, '\n');
  }
  return 0;
}

class Robustness : public ::testing::Test {
 protected:
  void SetUp() override { setWorkAreaOverride(QRect(0, 0, 1920, 1040)); }
  void TearDown() override {
    endProgram();
    test::removePortLinks();
    setWorkAreaOverride(std::nullopt);
  }
  // The longest pause of a 5 ms timer while the program runs for `ms`.
  static qint64 longestStall(int ms) {
    QElapsedTimer clock, since;
    clock.start();
    since.start();
    qint64 worst = 0;
    QTimer timer;
    timer.setTimerType(Qt::PreciseTimer);
    QObject::connect(&timer, &QTimer::timeout,
                     [&] { worst = std::max(worst, since.restart() - 5); });
    timer.start(5);
    while (clock.elapsed() < ms) QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    return worst;
  }
};

TEST_F(Robustness, WindowNeverWaitsOnASilentLineOrNoPort) {
  test::PtyPair silent;
  silent.linkAs("COM1");
  startProgram();
  ASSERT_TRUE(QTest::qWaitFor([] { return Form1->portOpen(); }, 2000));
  EXPECT_LT(longestStall(2000), 60);
  endProgram();

  test::removePortLinks();  // COM1 is now a port that does not exist here
  QDir().mkpath(portLinkFolder());
  QFile::link("/dev/zfuse-no-such-port", portLinkFolder() + "/COM1");
  startProgram();
  EXPECT_LT(longestStall(1000), 60);
  EXPECT_FALSE(Form1->portOpen());
}

TEST_F(Robustness, FastSenderNeitherFillsMemoryNorLagsTheDisplay) {
  test::PtyPair line;
  line.linkAs("COM1");
  startProgram();
  ASSERT_TRUE(QTest::qWaitFor([] { return Form1->portOpen(); }, 2000));
  QTest::qWait(100);
  [[maybe_unused]] const long before = residentKiB();

  // Telegrams written as fast as the line takes them, for three seconds; the last ones
  // carry another input voltage.
  sim::Measurements m;
  m.uin = 1200;
  const auto early = sim::statusTelegram(0x17, m);
  m.uin = 2345;
  const auto last = sim::statusTelegram(0x17, m);
  std::vector<uint8_t> burst;
  for (int i = 0; i < 200; ++i) burst.insert(burst.end(), early.begin(), early.end());
  std::atomic<bool> done{false};
  std::thread writer([&] {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(3);
    while (std::chrono::steady_clock::now() < end) line.send(burst);
    line.send(last);
    done = true;
  });
  auto* uin = Form1->findChild<QLabel*>("uin");
  while (!done) QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  writer.join();
  EXPECT_TRUE(QTest::qWaitFor([&] { return uin->text() == "23,4 Vdc"; }, 500))
      << uin->text().toStdString();
#ifndef __SANITIZE_ADDRESS__
  // (AddressSanitizer keeps freed memory in quarantine, so resident size says nothing
  // there.)
  EXPECT_LT(residentKiB() - before, 8 * 1024);
#endif
}

TEST_F(Robustness, DanglingPortLinkOpensNothing) {
  test::PtyPair other;  // a device that the fallback would have reached
  QDir().mkpath(portLinkFolder());
  QFile::link("/dev/ttyUSB-unplugged", portLinkFolder() + "/COM1");
  EXPECT_EQ(systemPortPath("COM1"), "/dev/ttyUSB-unplugged");
  EXPECT_EQ(systemPortPath("COM2"), "/dev/ttyS1");  // no link at all: the standard port
  PortConnection connection([](const QByteArray&) {});
  PortChoice choice(connection);
  choice.pollTick(0);
  EXPECT_FALSE(connection.isOpen());
}

TEST_F(Robustness, LockOfAProcessThatIsGoneDoesNotKeepThePort) {
  test::PtyPair line;
  line.linkAs("COM1");
  // A lock as a crashed run leaves it: the process is gone.
  const auto gone = static_cast<pid_t>(test::goneProcess());
  test::writeLockFile(line.slavePath(), gone);
  startProgram();
  EXPECT_TRUE(QTest::qWaitFor([] { return Form1->portOpen(); }, 2000));
  endProgram();
  EXPECT_TRUE(lockFileOf(line.slavePath()).isEmpty());
}

// Every ordinary end of the program closes its port: no lock file is left, and the next
// run opens the port again.
TEST_F(Robustness, EveryEndOfTheProgramRemovesTheLock) {
  test::PtyPair line;
  line.linkAs("COM1");
  for (const char* way : {"menu", "close box"}) {
    startProgram();
    ASSERT_TRUE(QTest::qWaitFor([] { return Form1->portOpen(); }, 2000)) << way;
    EXPECT_FALSE(lockFileOf(line.slavePath()).isEmpty()) << way;
    QTimer::singleShot(50, [way] {
      if (std::string(way) == "menu") {
        Form1->Beenden1Click();
      } else {
        Form1->close();
      }
    });
    runEventLoop();
    EXPECT_TRUE(lockFileOf(line.slavePath()).isEmpty()) << way;
  }
  for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
    QProcess program;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    program.setProcessEnvironment(env);
    program.start(QStringLiteral(ZFUSE_BINARY), {});
    ASSERT_TRUE(program.waitForStarted());
    QElapsedTimer clock;
    clock.start();
    while (lockFileOf(line.slavePath()).isEmpty() && clock.elapsed() < 5000) QTest::qWait(20);
    ASSERT_FALSE(lockFileOf(line.slavePath()).isEmpty())
        << "the port was not opened; signal " << sig;
    ::kill(static_cast<pid_t>(program.processId()), sig);
    ASSERT_TRUE(program.waitForFinished(5000)) << sig;
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << sig;
    EXPECT_TRUE(lockFileOf(line.slavePath()).isEmpty()) << "signal " << sig;
  }
}

}  // namespace
}  // namespace zfuse
