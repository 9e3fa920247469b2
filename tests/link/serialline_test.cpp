// The real serial code on pseudo-terminals: line settings, the read-completion rule,
// exclusivity, another program's lock, a ports folder that cannot be examined, and the
// command transaction.

#include "link/serialline.h"

#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <thread>

#include "link/command.h"
#include "link/connection.h"
#include "link/portlock.h"
#include "link/portnames.h"
#include "tests/support/pty.h"

namespace zfuse {
namespace {

using namespace std::chrono_literals;
using test::arrayOf;
using test::bytesOf;
using test::PtyPair;

// A read as large as a status telegram burst: 60 bytes.
constexpr int kReadBytes = 60;

class SerialLineTest : public ::testing::Test {
 protected:
  void SetUp() override { pty.linkAs("COM1"); }
  void TearDown() override { test::removePortLinks(); }

  QString port = QStringLiteral("COM1");  // where the command transactions go
  std::unique_ptr<SerialLine> openMonitorLine() {
    auto line = makeSystemSerialLine();
    EXPECT_TRUE(line->open(QStringLiteral("COM1")));
    line->setTimeouts(kMonitorTimeouts);
    return line;
  }

  PtyPair pty;
};

TEST_F(SerialLineTest, ControlAndHighBytesPassUnchangedBothWays) {
  // A fresh tty has XON/XOFF and line editing on; the port must be raw.
  const std::vector<uint8_t> bytes = {0x00, 0x11, 0x13, 0x0D, 0x0A, 0x03, 0x7F, 0xE4, 0xFF};
  auto line = openMonitorLine();
  pty.send(bytes);
  EXPECT_EQ(bytesOf(line->read(60)), bytes);
  EXPECT_EQ(line->write(arrayOf(bytes)), static_cast<qint64>(bytes.size()));
  EXPECT_EQ(pty.receive(50ms, 1000ms), bytes);
}

TEST_F(SerialLineTest, SilentPollReadReturnsEmptyWithinItsTotalTimeOut) {
  auto line = openMonitorLine();
  QElapsedTimer clock;
  clock.start();
  EXPECT_TRUE(line->read(kReadBytes).isEmpty());
  EXPECT_GE(clock.elapsed(), 100);  // 60 x 1 ms + 60 ms
  EXPECT_LT(clock.elapsed(), 300);
}

TEST_F(SerialLineTest, MoreThanSixtyWaitingBytesComeSixtyAtATimeInOrder) {
  std::vector<uint8_t> bytes(150);
  for (std::size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  auto line = openMonitorLine();
  pty.send(bytes);
  std::this_thread::sleep_for(20ms);
  std::vector<uint8_t> got = bytesOf(line->read(kReadBytes));
  EXPECT_EQ(got.size(), 60u);
  const auto second = bytesOf(line->read(kReadBytes));
  EXPECT_EQ(second.size(), 60u);
  got.insert(got.end(), second.begin(), second.end());
  const auto third = bytesOf(line->read(kReadBytes));
  got.insert(got.end(), third.begin(), third.end());
  EXPECT_EQ(got, bytes);
}

TEST_F(SerialLineTest, PollReadEndsShortlyAfterTheLastByte) {
  auto line = openMonitorLine();
  std::thread device([&] {
    std::this_thread::sleep_for(30ms);
    pty.send(std::vector<uint8_t>(31, 0x42));
  });
  QElapsedTimer clock;
  clock.start();
  const auto got = line->read(kReadBytes);
  const auto elapsed = clock.elapsed();
  device.join();
  EXPECT_EQ(got.size(), 31);
  EXPECT_LT(elapsed, 100);  // far below the 120 ms total: the 3 ms gap ended it
}

TEST_F(SerialLineTest, PortIsExclusiveAlsoForRoot) {
  auto first = openMonitorLine();
  auto second = makeSystemSerialLine();
  EXPECT_FALSE(second->open(QStringLiteral("COM1")));
  // The same device under another name is the same port.
  pty.linkAs("COM2");
  EXPECT_FALSE(second->open(QStringLiteral("COM2")));
  first->close();
  EXPECT_TRUE(second->open(QStringLiteral("COM1")));
}

TEST_F(SerialLineTest, BytesWaitingBeforeTheOpenAreDiscarded) {
  {
    auto line = openMonitorLine();
    line->close();
  }
  pty.send({0x01, 0x02, 0x03});
  std::this_thread::sleep_for(10ms);
  auto line = openMonitorLine();
  pty.send({0x04});
  EXPECT_EQ(bytesOf(line->read(kReadBytes)), (std::vector<uint8_t>{0x04}));
}

TEST_F(SerialLineTest, HungUpLineIsClosedAndReadsReturnAtOnce) {
  auto line = openMonitorLine();
  pty.hangUp();
  QElapsedTimer clock;
  clock.start();
  for (int i = 0; i < 20; ++i) EXPECT_TRUE(line->read(kReadBytes).isEmpty());
  EXPECT_LT(clock.elapsed(), 500);
  EXPECT_FALSE(line->isOpen());
}

// Another program holds the port: it has it open, raw and exclusively, bytes wait unread
// for it, and its lock names it, written the way that program writes it.
enum class LockStyle { Terminal, Qt };
void PrintTo(LockStyle style, std::ostream* os) {
  *os << (style == LockStyle::Terminal ? "terminal" : "Qt");
}
class SerialLineHeldByAnother : public SerialLineTest,
                                public ::testing::WithParamInterface<LockStyle> {
 protected:
  void TearDown() override {
    if (holder > 0) {
      ::kill(holder, SIGKILL);
      ::waitpid(holder, nullptr, 0);
    }
    if (held >= 0) ::close(held);
    if (!lock.isEmpty()) QFile::remove(lock);
    SerialLineTest::TearDown();
  }
  pid_t holder = -1;
  int held = -1;
  QString lock;
};

TEST_P(SerialLineHeldByAnother, OpenFailsAndLeavesLockInputAndExclusivityAlone) {
  holder = ::fork();
  if (holder == 0) {
    ::execlp("sleep", "sleep", "60", nullptr);
    ::_exit(127);
  }
  held = ::open(pty.slavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  ASSERT_GE(held, 0);
  termios raw{};
  ASSERT_EQ(::tcgetattr(held, &raw), 0);
  ::cfmakeraw(&raw);
  ASSERT_EQ(::tcsetattr(held, TCSANOW, &raw), 0);
  ASSERT_EQ(::ioctl(held, TIOCEXCL), 0);
  pty.send({0x01, 0x02, 0x03});
  std::this_thread::sleep_for(20ms);
  lock = examinePortLock(QString::fromStdString(pty.slavePath())).path;
  ASSERT_FALSE(lock.isEmpty());
  const QByteArray text =
      GetParam() == LockStyle::Terminal
          ? QByteArray::number(holder).rightJustified(10) + '\n'
          : QByteArray::number(holder) + "\nsleep\n" + QSysInfo::machineHostName().toUtf8() + '\n';
  {
    QFile file(lock);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    ASSERT_EQ(file.write(text), text.size());
  }
  struct stat before {};
  ASSERT_EQ(::stat(QFile::encodeName(lock).constData(), &before), 0);

  EXPECT_FALSE(makeSystemSerialLine()->open(QStringLiteral("COM1")));

  struct stat after {};
  ASSERT_EQ(::stat(QFile::encodeName(lock).constData(), &after), 0) << "the lock was removed";
  EXPECT_EQ(after.st_ino, before.st_ino);
  QFile file(lock);
  ASSERT_TRUE(file.open(QIODevice::ReadOnly));
  EXPECT_EQ(file.readAll(), text);
  int waiting = 0;
  ASSERT_EQ(::ioctl(held, FIONREAD, &waiting), 0);
  EXPECT_EQ(waiting, 3) << "the other program's input was flushed";
  int exclusive = 0;
  ASSERT_EQ(::ioctl(held, TIOCGEXCL, &exclusive), 0);
  EXPECT_EQ(exclusive, 1) << "the other program's exclusive hold was cleared";
}

INSTANTIATE_TEST_SUITE_P(Styles, SerialLineHeldByAnother,
                         ::testing::Values(LockStyle::Terminal, LockStyle::Qt), [](const auto& p) {
                           return p.param == LockStyle::Terminal ? "Terminal" : "Qt";
                         });

// A ports folder the user may not enter hides whether a port has a link: the port opens
// nothing, and never falls back to its standard port. As root the folder's mode does not
// count, so a child process becomes the user nobody first.
TEST_F(SerialLineTest, PortsFolderAnotherUserCannotEnterOpensNothing) {
  if (::getuid() != 0) GTEST_SKIP() << "needs root to become another user";
  ASSERT_EQ(::chmod(pty.slavePath().c_str(), 0666), 0);  // any user could open it
  QTemporaryDir config;                                  // root's, mode 0700
  QDir().mkpath(config.path() + "/zfuse/ports");
  ASSERT_TRUE(
      QFile::link(QString::fromStdString(pty.slavePath()), config.path() + "/zfuse/ports/COM1"));
  const QByteArray saved = qgetenv("XDG_CONFIG_HOME");
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  const pid_t child = ::fork();
  if (child == 0) {
    ::alarm(10);
    if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(10);
    if (!systemPortPath(QStringLiteral("COM1")).isEmpty()) ::_exit(11);
    if (makeSystemSerialLine()->open(QStringLiteral("COM1"))) ::_exit(12);
    ::_exit(0);
  }
  qputenv("XDG_CONFIG_HOME", saved);
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << "status " << status;
  EXPECT_EQ(WEXITSTATUS(status), 0)
      << "10: could not become nobody, 11: a device was named, 12: a port was opened";
}

// The device's side of one exchange: waits for a request, then answers in chunks with
// pauses between them.
struct Chunk {
  std::vector<uint8_t> bytes;
  std::chrono::milliseconds pauseBefore;
};
std::thread answerOnce(const PtyPair& pty, std::vector<Chunk> chunks,
                       std::vector<uint8_t>* request) {
  return std::thread([&pty, chunks = std::move(chunks), request] {
    *request = pty.receive(20ms, 2000ms);
    for (const auto& c : chunks) {
      std::this_thread::sleep_for(c.pauseBefore);
      pty.send(c.bytes);
    }
  });
}

using CommandTransaction = SerialLineTest;

TEST_F(CommandTransaction, NoDeviceGivesEmptyReplyAfterTheTotalTimeOut) {
  QElapsedTimer clock;
  clock.start();
  EXPECT_TRUE(command(port, QByteArray("\xFF\xFC", 2)).isEmpty());
  EXPECT_GE(clock.elapsed(), 250);
  EXPECT_LT(clock.elapsed(), 600);
  EXPECT_EQ(pty.receive(20ms, 200ms), (std::vector<uint8_t>{0xFF, 0xFC}));
  // The port is closed again: another handle can have it.
  EXPECT_TRUE(makeSystemSerialLine()->open(QStringLiteral("COM1")));
}

TEST_F(CommandTransaction, PortHeldByAnotherHandleGivesEmptyReplyAtOnce) {
  auto holder = openMonitorLine();
  QElapsedTimer clock;
  clock.start();
  EXPECT_TRUE(command(port, QByteArray("\xFF\xFC", 2)).isEmpty());
  EXPECT_LT(clock.elapsed(), 100);
}

TEST_F(CommandTransaction, ReplyIsCutAtFiftyBytes) {
  std::vector<uint8_t> answer(70);
  for (std::size_t i = 0; i < answer.size(); ++i) answer[i] = static_cast<uint8_t>(i);
  answer[3] = 0x00;
  std::vector<uint8_t> request;
  auto device = answerOnce(pty, {{answer, 5ms}}, &request);
  const auto reply = bytesOf(command(port, QByteArray("\xFF\xFC", 2)));
  device.join();
  EXPECT_EQ(request, (std::vector<uint8_t>{0xFF, 0xFC}));
  EXPECT_EQ(reply, std::vector<uint8_t>(answer.begin(), answer.begin() + 50));
}

TEST_F(CommandTransaction, ReplyEndsAtAnEightyMillisecondGap) {
  const std::vector<uint8_t> first = {0xE4, 0x15, 0x00, 0x11, 0x13};
  std::vector<uint8_t> request;
  auto device = answerOnce(pty, {{first, 5ms}, {{0x99, 0x98}, 250ms}}, &request);
  QElapsedTimer clock;
  clock.start();
  const auto reply = bytesOf(command(port, QByteArray("\xFF\xFC", 2)));
  const auto elapsed = clock.elapsed();
  device.join();
  EXPECT_EQ(reply, first);
  EXPECT_GE(elapsed, 80);
  EXPECT_LT(elapsed, 220);  // well before the late bytes
}

TEST_F(CommandTransaction, PauseShorterThanTheGapKeepsTheReplyWhole) {
  std::vector<uint8_t> request;
  auto device = answerOnce(pty, {{{0x01, 0x02}, 5ms}, {{0x03}, 40ms}}, &request);
  const auto reply = bytesOf(command(port, QByteArray("\xFF\xFC", 2)));
  device.join();
  EXPECT_EQ(reply, (std::vector<uint8_t>{0x01, 0x02, 0x03}));
}

TEST_F(CommandTransaction, EmptyRequestWritesNothingAndStillListens) {
  std::thread device([&] {
    std::this_thread::sleep_for(100ms);
    pty.send({0x7E});
  });
  const auto reply = bytesOf(command(port, QByteArray()));
  device.join();
  EXPECT_EQ(reply, (std::vector<uint8_t>{0x7E}));
  EXPECT_TRUE(pty.receive(20ms, 50ms).empty());
}

TEST_F(CommandTransaction, UsesThePortNamedAtTheMomentOfTheCall) {
  PtyPair other;
  other.linkAs("COM7");
  port = QStringLiteral("COM7");
  std::vector<uint8_t> request;
  auto device = answerOnce(other, {{{0x42}, 1ms}}, &request);
  EXPECT_EQ(bytesOf(command(port, QByteArray("\xFF\xFC", 2))), (std::vector<uint8_t>{0x42}));
  device.join();
  EXPECT_TRUE(pty.receive(10ms, 30ms).empty());
}

}  // namespace
}  // namespace zfuse
