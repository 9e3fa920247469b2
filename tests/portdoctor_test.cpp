// The port doctor of `zfuse --ports` on pseudo-terminals: each reason a port will not
// open that can be produced here.

#include "link/portdoctor.h"

#include <grp.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QSysInfo>
#include <QTemporaryDir>

#include "link/portnames.h"
#include "tests/support/pty.h"

namespace zfuse {
namespace {

class PortDoctor : public ::testing::Test {
 protected:
  void TearDown() override {
    test::removePortLinks();
    if (!lock.isEmpty()) QFile::remove(lock);
  }
  void lockFor(const test::PtyPair& line, qint64 pid) {
    lock = QString::fromStdString(test::writeLockFile(line.slavePath(), pid));
  }
  QString lock;
};

TEST_F(PortDoctor, OpenablePortThroughItsLink) {
  test::PtyPair line;
  line.linkAs("COM3");
  const PortDiagnosis d = diagnosePort("COM3");
  EXPECT_TRUE(d.openable);
  EXPECT_EQ(d.device.toStdString(), line.slavePath());
  EXPECT_TRUE(d.source.startsWith("link ")) << d.source.toStdString();
  EXPECT_EQ(d.verdict, "can be opened now");
  EXPECT_TRUE(portReportLine(d).startsWith("COM3   " + d.device));
}

TEST_F(PortDoctor, DanglingLinkAsksForTheAdapter) {
  QDir().mkpath(portLinkFolder());
  QFile::link("/dev/ttyUSB7", portLinkFolder() + "/COM2");
  const PortDiagnosis d = diagnosePort("COM2");
  EXPECT_FALSE(d.openable);
  EXPECT_EQ(d.device, "/dev/ttyUSB7");
  EXPECT_EQ(d.verdict,
            "link points to /dev/ttyUSB7, which does not exist: is the adapter plugged in?");
}

TEST_F(PortDoctor, MissingStandardPortSaysHowToLink) {
  if (QFile::exists("/dev/ttyS10")) GTEST_SKIP() << "this machine has /dev/ttyS10";
  const PortDiagnosis d = diagnosePort("COM11");
  EXPECT_FALSE(d.openable);
  EXPECT_TRUE(d.source.startsWith("standard port")) << d.source.toStdString();
  EXPECT_TRUE(
      d.verdict.startsWith("missing: /dev/ttyS10 does not exist; link COM11 to your adapter"))
      << d.verdict.toStdString();
}

TEST_F(PortDoctor, LockOfALiveProcessNamesIt) {
  test::PtyPair line;
  line.linkAs("COM1");
  const pid_t holder = fork();
  if (holder == 0) {
    execlp("sleep", "sleep", "30", nullptr);
    _exit(1);
  }
  usleep(100000);  // until the child is "sleep"
  lockFor(line, holder);
  const PortDiagnosis d = diagnosePort("COM1");
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  EXPECT_FALSE(d.openable);
  EXPECT_EQ(d.verdict.toStdString(), QString("busy: held by process %1 (sleep), lock file %2")
                                         .arg(holder)
                                         .arg(lock)
                                         .toStdString());
}

TEST_F(PortDoctor, StaleLockOfADeadProcessDoesNotBlock) {
  test::PtyPair line;
  line.linkAs("COM1");
  const pid_t gone = fork();
  if (gone == 0) _exit(0);
  waitpid(gone, nullptr, 0);
  lockFor(line, gone);
  const PortDiagnosis d = diagnosePort("COM1");
  EXPECT_TRUE(d.openable);
  EXPECT_EQ(d.verdict.toStdString(),
            QString("can be opened now (the stale lock file %1 of process %2, which is gone, is "
                    "removed on opening)")
                .arg(lock)
                .arg(gone)
                .toStdString());
}

TEST_F(PortDoctor, PermissionDeniedForAnotherUser) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  if (QProcess::execute("runuser", {"-u", "nobody", "--", "true"}) != 0) {
    GTEST_SKIP() << "cannot run as nobody here";
  }
  test::PtyPair line;  // owned by root, group tty, mode 620
  QTemporaryDir config;
  QFile::setPermissions(config.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                           QFile::ReadOther | QFile::ExeOther);
  QDir().mkpath(config.path() + "/zfuse/ports");
  for (const QString& d : {config.path() + "/zfuse", config.path() + "/zfuse/ports"}) {
    QFile::setPermissions(d, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner |
                                 QFile::ReadOther | QFile::ExeOther);
  }
  QFile::link(QString::fromStdString(line.slavePath()), config.path() + "/zfuse/ports/COM1");
  QProcess doctor;
  doctor.start("runuser", {"-u", "nobody", "--", "env", "XDG_CONFIG_HOME=" + config.path(),
                           ZFUSE_BINARY, "--ports"});
  ASSERT_TRUE(doctor.waitForFinished(10000));
  const QString report = QString::fromLocal8Bit(doctor.readAllStandardOutput());
  const QString com1 = report.split('\n').first();
  // The group the device belongs to: dialout for real adapters, that of the terminal here.
  struct stat st {};
  ASSERT_EQ(stat(line.slavePath().c_str(), &st), 0);
  const QString group = QString::fromLocal8Bit(getgrgid(st.st_gid)->gr_name);
  EXPECT_TRUE(
      com1.contains("permission denied: add yourself to the group " + group + " and log in again"))
      << report.toStdString() << doctor.readAllStandardError().toStdString();
  EXPECT_TRUE(report.contains("ports can be opened now."));
}

TEST_F(PortDoctor, PortsFolderThatCannotBeExaminedOpensNothing) {
  if (getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  if (QProcess::execute("runuser", {"-u", "nobody", "--", "true"}) != 0) {
    GTEST_SKIP() << "cannot run as nobody here";
  }
  test::PtyPair line;
  QTemporaryDir config;  // root's, mode 0700: nobody cannot look inside
  QDir().mkpath(config.path() + "/zfuse/ports");
  QFile::link(QString::fromStdString(line.slavePath()), config.path() + "/zfuse/ports/COM1");
  QProcess doctor;
  doctor.start("runuser", {"-u", "nobody", "--", "env", "XDG_CONFIG_HOME=" + config.path(),
                           ZFUSE_BINARY, "--ports"});
  ASSERT_TRUE(doctor.waitForFinished(10000));
  const QStringList lines = QString::fromLocal8Bit(doctor.readAllStandardOutput()).split('\n');
  ASSERT_GE(lines.size(), 11);
  for (int n = 0; n < 11; ++n) {
    EXPECT_TRUE(lines[n].contains("cannot tell: the ports folder")) << lines[n].toStdString();
    EXPECT_FALSE(lines[n].contains("/dev/ttyS")) << lines[n].toStdString();
  }
  EXPECT_EQ(doctor.exitCode(), 1);
}

}  // namespace
}  // namespace zfuse
