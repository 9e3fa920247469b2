// zfusectl where the world fails it: standard output that cannot be written or whose
// reader went away, file names that are no UTF-8, an option given twice, and a signal
// that is already waiting when the program starts.

#include <gtest/gtest.h>
#include <signal.h>

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>

#include "monitor/statustelegram.h"
#include "tests/support/filesize_limit.h"
#include "tests/support/zfusectl_fixture.h"

namespace zfuse {
namespace {

class ZfusectlFaults : public test::ZfusectlFixture {
 protected:
  void SetUp() override {
    ZfusectlFixture::SetUp();
    startDevice(kType4ch10A);
  }
  // The port and its lock went with the program: another run opens it.
  static void expectPortFree() {
    const Result again = run({"status", "--port", "COM1", "--count", "1"});
    EXPECT_EQ(again.exit, 0) << again.err.toStdString();
  }
  // Runs a shell script with $Z standing for zfusectl, in the temporary folder.
  Result shell(const QString& script) const {
    QProcess p;
    p.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("Z"), QStringLiteral(ZFUSECTL_BINARY));
    p.setProcessEnvironment(env);
    p.start(QStringLiteral("bash"), {"-o", "pipefail", "-c", script});
    if (!p.waitForFinished(15000)) {
      p.kill();
      p.waitForFinished();
      return {-1, {}, {}};
    }
    return {p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
  }
  QTemporaryDir dir;
};

const QStringList kWritingCommands[] = {
    {"read", "--port", "COM1"},
    {"read", "--port", "COM1", "--format", "json"},
    {"status", "--port", "COM1", "--count", "5", "--format", "csv"},
    {"status", "--port", "COM1", "--count", "5"},
    {"ports"},
};

TEST_F(ZfusectlFaults, StandardOutputOnAFullDeviceFailsWithItsReason) {
  for (const QStringList& args : kWritingCommands) {
    QProcess p;
    p.setStandardOutputFile(QStringLiteral("/dev/full"));
    p.start(QStringLiteral(ZFUSECTL_BINARY), args);
    ASSERT_TRUE(p.waitForFinished(15000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 9) << args.join(' ').toStdString();
    EXPECT_TRUE(p.readAllStandardError().contains(
        "zfusectl: standard output cannot be written: No space left on device"))
        << args.join(' ').toStdString();
  }
  expectPortFree();
}

TEST_F(ZfusectlFaults, StandardOutputOnAFullFileSystemFailsWithItsReason) {
  // Room for the port's lock file (about 100 bytes), not for what the commands print;
  // a configuration file alone (46 bytes) fits, so read goes as JSON here.
  for (const QStringList& args : kWritingCommands) {
    if (args.size() == 3 && args[0] == QLatin1String("read")) continue;
    QProcess p;
    p.setStandardOutputFile(dir.filePath(QStringLiteral("out")));
    {
      // The program inherits the limit: its file system is full after 256 bytes.
      const test::FileSizeLimit full(256);
      p.start(QStringLiteral(ZFUSECTL_BINARY), args);
      ASSERT_TRUE(p.waitForStarted());
    }
    ASSERT_TRUE(p.waitForFinished(15000));
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(p.exitCode(), 9) << args.join(' ').toStdString();
    EXPECT_TRUE(p.readAllStandardError().contains("zfusectl: standard output cannot be written"))
        << args.join(' ').toStdString();
  }
  expectPortFree();
}

TEST_F(ZfusectlFaults, AReaderThatStopsEndsTheRunInOrder) {
  const Result r = shell(QStringLiteral("\"$Z\" status --port COM1 | head -2"));
  EXPECT_EQ(r.exit, 10) << r.err.toStdString();
  EXPECT_EQ(r.out.count('\n'), 2);
  EXPECT_FALSE(r.err.contains("cannot be written")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("COM1: ")) << r.err.toStdString();  // the counts at the end
  expectPortFree();
}

// "a\xff.txt" beside "a\xef\xbf\xbd.txt", the name the toolkit would make of it.
TEST_F(ZfusectlFaults, FileNamesThatAreNoUtf8AreTheFilesGiven) {
  const Result prepare = shell(QStringLiteral("printf old > $'a\\xef\\xbf\\xbd.txt'"));
  ASSERT_EQ(prepare.exit, 0);
  Result r = shell(QStringLiteral("\"$Z\" read --port COM1 -o $'a\\xff.txt'"));
  ASSERT_EQ(r.exit, 0) << r.err.toStdString();
  r =
      shell(QStringLiteral("cat $'a\\xef\\xbf\\xbd.txt'; echo; cmp $'a\\xff.txt' <(\"$Z\" read "
                           "--port COM1 2>/dev/null) && echo same"));
  EXPECT_EQ(r.out, "old\nsame\n") << r.err.toStdString();
  r = shell(QStringLiteral("\"$Z\" verify --port COM1 $'a\\xff.txt'"));
  EXPECT_EQ(r.exit, 0) << r.err.toStdString();
  r = shell(QStringLiteral("\"$Z\" write --port COM1 $'a\\xff.txt'"));
  EXPECT_EQ(r.exit, 0) << r.err.toStdString();
  // A name that is not there is named in the message as given.
  r = shell(QStringLiteral("\"$Z\" verify --port COM1 $'b\\xff.txt'"));
  EXPECT_EQ(r.exit, 3);
  EXPECT_TRUE(r.err.contains("b\\xff.txt: no such file")) << r.err.toStdString();
  // The toolkit cannot remove such names with the folder.
  shell(QStringLiteral("rm -f $'a\\xff.txt' $'a\\xef\\xbf\\xbd.txt'"));
}

TEST_F(ZfusectlFaults, AnOptionOfOneValueGivenTwiceIsRefused) {
  const QStringList cases[] = {
      {"status", "--port", "COM1", "--count", "1", "--count", "2"},
      {"status", "--port", "COM1", "--format", "json", "--format", "csv"},
      {"status", "--port", "COM1", "--mqtt", "mqtt://a", "--mqtt", "mqtt://b"},
      {"status", "--port", "COM1", "--format", "json", "--summary", "--summary"},
      {"read", "--port", "COM1", "-o", "x", "--output", "y"},
      {"write", "--port", "COM1", "--retries", "1", "--retries", "1", "f"},
  };
  for (const QStringList& args : cases) {
    const Result r = run(args);
    EXPECT_EQ(r.exit, 2) << args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains("given 2 times")) << r.err.toStdString();
  }
  // Ports and device ids are repeated by design.
  startDevice(kType4ch10A, 0, "COM2");
  EXPECT_EQ(run({"status", "--port", "COM1", "--port", "COM2", "--count", "1"}).exit, 0);
}

// How many files process `pid` has open that are `prefix`, or for "/dev/ttyS" any
// standard port.
int openFilesUnder(qint64 pid, const QString& prefix) {
  int n = 0;
  const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
  for (const QFileInfo& fd : fds.entryInfoList(QDir::System)) {
    const QString target = fd.symLinkTarget();
    // A terminal by its whole name ("/dev/pts/2" is not "/dev/pts/20"), ports by prefix.
    if (prefix.endsWith(QLatin1String("ttyS")) ? target.startsWith(prefix) : target == prefix) {
      ++n;
    }
  }
  return n;
}

TEST_F(ZfusectlFaults, ALinkRemovedDuringARunClosesThePortUntilItIsBack) {
  const QString link = portLinkFolder() + QStringLiteral("/COM1");
  const QString terminal = QString::fromStdString(device->slavePath());
  QProcess p;
  p.start(QStringLiteral(ZFUSECTL_BINARY), {"status", "--port", "COM1"});
  ASSERT_TRUE(p.waitForReadyRead(5000));
  // The simulator's own end of the terminal may be inherited as well: the port is one more.
  const int whileOpen = openFilesUnder(p.processId(), terminal);
  EXPECT_GE(whileOpen, 1);
  QFile::remove(link);
  QByteArray err;
  for (int i = 0; i < 50 && !err.contains("closed"); ++i) {
    p.waitForReadyRead(100);
    err += p.readAllStandardError();
  }
  EXPECT_TRUE(err.contains("COM1 closed, tried again every half second: the link")) << err.data();
  // Neither the simulator's terminal nor a standard port in its place.
  EXPECT_EQ(openFilesUnder(p.processId(), terminal), whileOpen - 1);
  EXPECT_EQ(openFilesUnder(p.processId(), QStringLiteral("/dev/ttyS")), 0);
  ASSERT_TRUE(QFile::link(terminal, link));
  for (int i = 0; i < 50 && !err.contains("open again"); ++i) {
    p.waitForReadyRead(100);
    err += p.readAllStandardError();
  }
  EXPECT_TRUE(err.contains("COM1 is open again")) << err.data();
  EXPECT_EQ(openFilesUnder(p.processId(), terminal), whileOpen);
  p.readAllStandardOutput();
  EXPECT_TRUE(p.waitForReadyRead(3000));  // the telegrams are back
  p.terminate();
  ASSERT_TRUE(p.waitForFinished(5000));
  EXPECT_EQ(p.exitCode(), 0);
}

// A signal that is waiting when the program starts ends it like a later one: in order,
// with the command's own code for an interruption.
TEST_F(ZfusectlFaults, ASignalAtTheStartEndsTheRunInOrder) {
  struct Case {
    QStringList args;
    int signal;
    int exit;
  };
  const Case cases[] = {
      // Status ended before any telegram: 13, no telegram came.
      {{"status", "--port", "COM1"}, SIGTERM, 13},
      {{"status", "--port", "COM1", "--format", "json"}, SIGINT, 13},
      {{"read", "--port", "COM1"}, SIGINT, 8},
      {{"verify", "--port", "COM1", "/dev/null"}, SIGTERM, 3},
      {{"ports"}, SIGTERM, 8},
  };
  for (const Case& c : cases) {
    QProcess p;
    p.setChildProcessModifier([sig = c.signal] {
      sigset_t set;
      sigemptyset(&set);
      sigaddset(&set, sig);
      sigprocmask(SIG_BLOCK, &set, nullptr);
      ::raise(sig);  // waits, blocked, until the program takes it
    });
    p.start(QStringLiteral(ZFUSECTL_BINARY), c.args);
    ASSERT_TRUE(p.waitForFinished(15000)) << c.args.join(' ').toStdString();
    EXPECT_EQ(p.exitStatus(), QProcess::NormalExit) << c.args.join(' ').toStdString();
    EXPECT_EQ(p.exitCode(), c.exit) << c.args.join(' ').toStdString();
  }
  expectPortFree();
}

}  // namespace
}  // namespace zfuse
