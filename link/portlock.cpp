#include "link/portlock.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFile>
#include <QFileInfo>
#include <cerrno>

namespace zfuse {

namespace {

// The folders the serial library looks in for lock files, in its order. It uses the
// first readable one that holds the lock already or lets it make one.
const char* const kLockFolders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                    "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                    "/var/lock/lockdev", "/run/lock"};

bool processRuns(qint64 pid) {
  return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The process number at the start of a lock file: "%10d\n" of terminal programs, or
// the first line of a Qt lock file. 0 when there is none.
qint64 pidOf(const QByteArray& content) {
  const QByteArray first = content.split('\n').value(0).simplified().split(' ').value(0);
  bool ok = false;
  const qint64 pid = first.toLongLong(&ok);
  return ok && pid > 0 ? pid : 0;
}

// The program a lock file names, empty for a bare process number: the second line of a
// Qt lock file ("4711\nzfusectl\nhost\n", as zfuse and zfusectl write it) or the word
// after the number of a terminal's lock ("      4711 minicom user").
QByteArray programOf(const QByteArray& content) {
  const QList<QByteArray> lines = content.split('\n');
  const QList<QByteArray> first = lines.value(0).simplified().split(' ');
  if (first.size() > 1) return first.at(1);
  return lines.value(1).trimmed();
}

// Whether process `pid` runs the program `program`, as far as can be told: by the name of
// its executable, else by its command name (which the kernel cuts to 15 bytes). True
// when neither can be read: then it may well be the lock's owner.
bool runsProgram(qint64 pid, const QByteArray& program) {
  char exe[4096];
  const QByteArray link = "/proc/" + QByteArray::number(pid) + "/exe";
  const ssize_t n = ::readlink(link.constData(), exe, sizeof exe - 1);
  if (n > 0) {
    QByteArray path(exe, static_cast<qsizetype>(n));
    if (path.endsWith(" (deleted)")) path.chop(10);  // a program replaced since it started
    if (path.mid(path.lastIndexOf('/') + 1) == program) return true;
  }
  const int fd =
      ::open(("/proc/" + QByteArray::number(pid) + "/comm").constData(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return n <= 0;
  char comm[64];
  const ssize_t m = ::read(fd, comm, sizeof comm);
  ::close(fd);
  if (m <= 0) return n <= 0;
  return QByteArray(comm, static_cast<qsizetype>(m)).trimmed() == program.left(15);
}

}  // namespace

QString processName(qint64 pid) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
  if (!comm.open(QIODevice::ReadOnly)) return QStringLiteral("?");
  return QString::fromLocal8Bit(comm.readLine(64)).trimmed();
}

PortLock examinePortLock(const QString& device) {
  QString name = QFileInfo(device).absoluteFilePath();
  if (name.startsWith(QLatin1String("/dev/"))) name = name.mid(5);
  name.replace(QLatin1Char('/'), QLatin1Char('_'));

  PortLock lock;
  for (const char* folder : kLockFolders) {
    const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
    const QByteArray folderName(folder);
    if (::access(folderName.constData(), R_OK) != 0) continue;
    struct stat st {};
    const bool there = ::lstat(QFile::encodeName(path).constData(), &st) == 0;
    if (!there && ::access(folderName.constData(), W_OK) != 0) continue;
    lock.path = path;
    if (!there) return lock;
    if (!S_ISREG(st.st_mode)) {
      lock.state = PortLock::Invalid;
      return lock;
    }
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
      lock.state = PortLock::Invalid;
      return lock;
    }
    char buffer[128];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    ::close(fd);
    const QByteArray content = n > 0 ? QByteArray(buffer, static_cast<qsizetype>(n)) : QByteArray();
    lock.pid = pidOf(content);
    lock.program = QString::fromUtf8(programOf(content));
    if (lock.pid == 0) {
      lock.state = PortLock::Invalid;
    } else if (!processRuns(lock.pid)) {
      lock.state = PortLock::Stale;
    } else {
      // The number may have gone to another program since: a lock that names its
      // program is stale when another one runs under the number. A bare number cannot
      // tell, so its process keeps the port.
      const QByteArray program = programOf(content);
      lock.state =
          program.isEmpty() || runsProgram(lock.pid, program) ? PortLock::Live : PortLock::Stale;
    }
    return lock;
  }
  return lock;
}

bool removeStaleLock(const PortLock& lock) {
  if (lock.state != PortLock::Stale) return false;
  return ::unlink(QFile::encodeName(lock.path).constData()) == 0 || errno == ENOENT;
}

}  // namespace zfuse
