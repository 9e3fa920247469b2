// The simulator program as a shell starts it: in the background of a terminal, and
// with commands on its standard input.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QProcess>
#include <cstdlib>
#include <string>

namespace zfuse {
namespace {

// Reads from `fd` until `text` has come or `ms` pass without a byte.
QByteArray readUntil(int fd, const QByteArray& text, int ms = 10000) {
  QByteArray got;
  while (!got.contains(text)) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, ms) <= 0) break;
    char buffer[512];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, n);
  }
  return got;
}

// A job-control shell's "zfuse-sim --link COM1 &": the simulator's process group is not
// the terminal's foreground group, so a read of the terminal would stop it (SIGTTIN).
// The session leader plays the shell and tells, as its exit code, how the job ended:
// 0 when SIGTERM ended it in order, 3 when it was stopped.
TEST(ZfuseSimProgram, ABackgroundJobOfATerminalIsNotStopped) {
  const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
  ASSERT_GE(master, 0);
  ASSERT_EQ(::grantpt(master), 0);
  ASSERT_EQ(::unlockpt(master), 0);
  const std::string slave = ::ptsname(master);
  int out[2];
  int pidPipe[2];
  ASSERT_EQ(::pipe(out), 0);
  ASSERT_EQ(::pipe(pidPipe), 0);
  const pid_t shell = ::fork();
  ASSERT_GE(shell, 0);
  if (shell == 0) {
    // Only calls that are safe after a fork from here on.
    ::setsid();
    const int terminal = ::open(slave.c_str(), O_RDWR);  // the session's terminal now
    if (terminal < 0) ::_exit(4);
    const pid_t job = ::fork();
    if (job == 0) {
      ::setpgid(0, 0);
      ::signal(SIGTTIN, SIG_DFL);
      ::dup2(terminal, 0);
      ::dup2(out[1], 1);
      ::dup2(out[1], 2);
      ::execl(ZFUSE_SIM_BINARY, "zfuse-sim", "--link", "COM8", static_cast<char*>(nullptr));
      ::_exit(5);
    }
    ::setpgid(job, job);
    [[maybe_unused]] const auto n = ::write(pidPipe[1], &job, sizeof job);
    int status = 0;
    ::waitpid(job, &status, WUNTRACED);
    if (WIFSTOPPED(status)) {
      ::kill(job, SIGKILL);
      ::waitpid(job, &status, 0);
      ::_exit(3);
    }
    ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 6);
  }
  ::close(out[1]);
  ::close(pidPipe[1]);
  pid_t job = 0;
  ASSERT_EQ(::read(pidPipe[0], &job, sizeof job), static_cast<ssize_t>(sizeof job));
  const QByteArray said = readUntil(out[0], "faults:");
  EXPECT_TRUE(said.contains("faults:")) << said.data();
  // Its telegrams flow on its pseudo-terminal meanwhile: by the time a few have come, a
  // read of the terminal would long have stopped it.
  const QByteArray port = said.left(said.indexOf('\n'));
  const int line = ::open(port.constData(), O_RDONLY | O_NOCTTY | O_NONBLOCK);
  EXPECT_GE(line, 0) << port.data();
  QByteArray telegrams;
  for (int i = 0; i < 100 && telegrams.size() < 60; ++i) {
    pollfd p{line, POLLIN, 0};
    if (::poll(&p, 1, 5000) <= 0) break;
    char buffer[64];
    const ssize_t n = ::read(line, buffer, sizeof buffer);
    if (n > 0) telegrams.append(buffer, n);
  }
  EXPECT_GE(telegrams.size(), 60);
  ::close(line);
  ::kill(job, SIGTERM);
  int status = 0;
  ASSERT_EQ(::waitpid(shell, &status, 0), shell);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0) << "3: the simulator was stopped for reading the terminal";
  ::close(out[0]);
  ::close(pidPipe[0]);
  ::close(master);
}

// Asked to, it takes commands from standard input and ends on "quit".
TEST(ZfuseSimProgram, CommandsOnStandardInputWhenAsked) {
  QProcess p;
  p.start(QStringLiteral(ZFUSE_SIM_BINARY), {"--link", "COM8", "--commands"});
  ASSERT_TRUE(p.waitForStarted());
  p.write("fault noanswer on\nquit\n");
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_TRUE(p.readAllStandardOutput().contains("faults: noanswer"));
}

}  // namespace
}  // namespace zfuse
