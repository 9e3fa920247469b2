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
  const QByteArray first = content.split('\n').value(0).trimmed();
  bool ok = false;
  const qint64 pid = first.toLongLong(&ok);
  return ok && pid > 0 ? pid : 0;
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
    lock.pid = n > 0 ? pidOf(QByteArray(buffer, static_cast<qsizetype>(n))) : 0;
    if (lock.pid == 0) {
      lock.state = PortLock::Invalid;
    } else {
      lock.state = processRuns(lock.pid) ? PortLock::Live : PortLock::Stale;
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
