// A port's lock file keeps out a second opener, whatever program wrote it, and a file
// planted as a lock never freezes the tool: the open and the port doctor alike.

#include "link/portlock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QElapsedTimer>
#include <QFile>
#include <thread>

#include "link/serialline.h"
#include "monitor/portdoctor.h"
#include "tests/support/pty.h"

namespace zfuse {
namespace {

class PortLockTest : public ::testing::Test {
 protected:
  void SetUp() override { line.linkAs("COM4"); }
  void TearDown() override {
    if (holder > 0) {
      ::kill(holder, SIGKILL);
      ::waitpid(holder, nullptr, 0);
    }
    QFile::remove(lockPath);
    test::removePortLinks();
  }
  // The lock path an open of the line takes.
  QString pathOfLock() { return examinePortLock(QString::fromStdString(line.slavePath())).path; }
  // A running program that holds the port's lock, written as serial terminals write it.
  void terminalHoldsTheLock() {
    holder = ::fork();
    if (holder == 0) {
      ::pause();
      ::_exit(0);
    }
    lockPath = pathOfLock();
    QFile f(lockPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray::number(holder).rightJustified(10, ' ') + "\n");
  }

  test::PtyPair line;
  pid_t holder = -1;
  QString lockPath;
};

TEST_F(PortLockTest, LiveTerminalsLockMeansBusyAndIsLeftAlone) {
  terminalHoldsTheLock();
  line.send({0x42, 0x43});  // the terminal's unread input
  const auto port = makeSystemSerialLine();
  EXPECT_FALSE(port->open("COM4"));
  EXPECT_TRUE(QFile::exists(lockPath));
  QFile f(lockPath);
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_EQ(f.readAll().trimmed().toLongLong(), holder);

  const PortDiagnosis d = diagnosePort("COM4");
  EXPECT_FALSE(d.openable);
  EXPECT_TRUE(d.verdict.startsWith(QStringLiteral("busy: held by process %1").arg(holder)))
      << d.verdict.toStdString();
}

TEST_F(PortLockTest, PlantedFifoOrLinkMakesThePortBusyAtOnce) {
  for (const char* kind : {"fifo", "link", "empty"}) {
    lockPath = pathOfLock();
    QFile::remove(lockPath);
    const QByteArray path = QFile::encodeName(lockPath);
    if (std::string(kind) == "fifo") {
      ASSERT_EQ(::mkfifo(path.constData(), 0666), 0);
    } else if (std::string(kind) == "link") {
      ASSERT_EQ(::symlink("/dev/zero", path.constData()), 0);
    } else {
      QFile f(lockPath);
      ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    // A hang fails the test instead of blocking the run.
    bool opened = true;
    std::thread attempt([&] { opened = makeSystemSerialLine()->open("COM4"); });
    QElapsedTimer clock;
    clock.start();
    attempt.join();
    EXPECT_FALSE(opened) << kind;
    EXPECT_LT(clock.elapsed(), 1000) << kind;
    const PortDiagnosis d = diagnosePort("COM4");
    EXPECT_FALSE(d.openable) << kind;
    EXPECT_TRUE(d.verdict.startsWith("busy (invalid lock file " + lockPath))
        << d.verdict.toStdString();
    QFile::remove(lockPath);
  }
}

TEST_F(PortLockTest, LockOfAGoneProcessIsTakenOver) {
  const auto gone = static_cast<pid_t>(test::goneProcess());
  lockPath = pathOfLock();
  QFile f(lockPath);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray::number(gone).rightJustified(10, ' ') + "\n");
  f.close();
  EXPECT_EQ(examinePortLock(QString::fromStdString(line.slavePath())).state, PortLock::Stale);
  const auto port = makeSystemSerialLine();
  EXPECT_TRUE(port->open("COM4"));
  port->close();
}

// A process number that a running program has now: a lock that names another program (as
// zfuse and zfusectl write theirs) is stale, one that names no program may be its owner's.
TEST_F(PortLockTest, LockWhoseNumberAnotherProgramHasNowIsTakenOverOnlyWhenItNamesItsOwn) {
  holder = ::fork();
  if (holder == 0) {
    ::execlp("sleep", "sleep", "30", nullptr);
    ::_exit(1);
  }
  // Until the child runs sleep.
  for (int i = 0; i < 300 && processName(holder) != QLatin1String("sleep"); ++i) ::usleep(10000);
  ASSERT_EQ(processName(holder), QStringLiteral("sleep"));
  const QByteArray pid = QByteArray::number(holder);
  struct Case {
    const char* what;
    QByteArray content;
    PortLock::State state;
  };
  const Case cases[] = {
      {"bare number, as terminals write it", pid.rightJustified(10, ' ') + "\n", PortLock::Live},
      {"zfusectl's own lock", pid + "\nzfusectl\nhost\n", PortLock::Stale},
      {"zfuse's own lock", pid + "\nzfuse\nhost\n", PortLock::Stale},
      {"the lock of the program that runs", pid + "\nsleep\nhost\n", PortLock::Live},
      {"a terminal's lock naming itself", pid.rightJustified(10, ' ') + " minicom root\n",
       PortLock::Stale},
      {"a terminal's lock naming the program that runs", pid + " sleep root\n", PortLock::Live},
  };
  lockPath = pathOfLock();
  for (const Case& c : cases) {
    QFile f(lockPath);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(c.content);
    f.close();
    EXPECT_EQ(examinePortLock(QString::fromStdString(line.slavePath())).state, c.state) << c.what;
    const auto port = makeSystemSerialLine();
    EXPECT_EQ(port->open("COM4"), c.state == PortLock::Stale) << c.what;
    port->close();
    // A lock taken over is the opener's, and went with its close.
    EXPECT_EQ(QFile::exists(lockPath), c.state == PortLock::Live) << c.what;
  }
}

}  // namespace
}  // namespace zfuse
