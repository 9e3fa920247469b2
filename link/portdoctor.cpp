#include "link/portdoctor.h"

#include <fcntl.h>
#include <grp.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "link/portnames.h"

namespace zfuse {

namespace {

// The folders serial lock files live in, in the order the serial library tries them.
const char* const kLockFolders[] = {"/var/lock",         "/etc/locks", "/var/spool/locks",
                                    "/var/spool/uucp",   "/tmp",       "/var/tmp",
                                    "/var/lock/lockdev", "/run/lock"};

QString processName(qint64 pid) {
  QFile comm(QStringLiteral("/proc/%1/comm").arg(pid));
  if (!comm.open(QIODevice::ReadOnly)) return QStringLiteral("?");
  return QString::fromLocal8Bit(comm.readLine()).trimmed();
}

bool processRuns(qint64 pid) {
  return pid > 0 && (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM);
}

// The processes other than this one that have `device` open.
QStringList holdersOf(const QString& device) {
  QStringList holders;
  const QString self = QString::number(::getpid());
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    if (pid.isEmpty() || !pid[0].isDigit() || pid == self) continue;
    const QDir fds(QStringLiteral("/proc/") + pid + QStringLiteral("/fd"));
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
      if (fd.symLinkTarget() == device) {
        holders << QStringLiteral("process %1 (%2)").arg(pid, processName(pid.toLongLong()));
        break;
      }
    }
  }
  return holders;
}

// The lock file an open of `device` takes, if one is there: its path and the process
// named in it.
struct Lock {
  QString path;
  qint64 pid = 0;
};
Lock lockOf(const QString& device) {
  const QString path = portLockFile(device);
  QFile file(path);
  if (path.isEmpty() || !file.open(QIODevice::ReadOnly)) return {};
  return {path, QString::fromLatin1(file.readLine()).trimmed().toLongLong()};
}

QString groupOf(const QString& device) {
  struct stat st {};
  if (::stat(QFile::encodeName(device).constData(), &st) != 0) return {};
  const group* g = ::getgrgid(st.st_gid);
  return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
}

}  // namespace

QString portLockFile(const QString& device) {
  QString name = QFileInfo(device).absoluteFilePath().mid(5);  // without "/dev/"
  name.replace(QLatin1Char('/'), QLatin1Char('_'));
  for (const char* folder : kLockFolders) {
    const QString path = QString::fromLatin1(folder) + QStringLiteral("/LCK..") + name;
    if (QFileInfo::exists(path)) return path;
  }
  return {};
}

PortDiagnosis diagnosePort(const QString& comName) {
  PortDiagnosis d;
  d.com = comName;
  const QString link = portLinkFolder() + QLatin1Char('/') + comName;
  const QFileInfo linkInfo(link);
  const bool linked = linkInfo.isSymLink() || linkInfo.exists();
  d.device = systemPortPath(comName);
  d.source = linked ? QStringLiteral("link %1").arg(link)
                    : QStringLiteral("standard port, no link %1").arg(link);

  if (!QFileInfo::exists(d.device)) {
    d.verdict = linked ? QStringLiteral(
                             "link points to %1, which does not exist: is the adapter "
                             "plugged in?")
                             .arg(d.device)
                       : QStringLiteral(
                             "missing: %1 does not exist; link %2 to your adapter, "
                             "e.g. ln -s /dev/ttyUSB0 %3")
                             .arg(d.device, comName, link);
    return d;
  }

  QString staleNote;
  const Lock lock = lockOf(d.device);
  if (!lock.path.isEmpty()) {
    if (processRuns(lock.pid) && lock.pid != ::getpid()) {
      d.verdict = QStringLiteral("busy: held by process %1 (%2), lock file %3")
                      .arg(lock.pid)
                      .arg(processName(lock.pid), lock.path);
      return d;
    }
    if (!QFileInfo(QFileInfo(lock.path).absolutePath()).isWritable()) {
      d.verdict = QStringLiteral(
                      "blocked: stale lock file %1 of process %2, which is gone, "
                      "and its folder does not let you remove it; ask an "
                      "administrator to delete it")
                      .arg(lock.path)
                      .arg(lock.pid);
      return d;
    }
    staleNote = QStringLiteral(
                    " (the stale lock file %1 of process %2, which is gone, is "
                    "removed on opening)")
                    .arg(lock.path)
                    .arg(lock.pid);
  }

  const int fd = ::open(QFile::encodeName(d.device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      const QString group = groupOf(d.device);
      d.verdict = QStringLiteral(
                      "permission denied: add yourself to the group %1 and log in "
                      "again (sudo usermod -aG %1 $USER)")
                      .arg(group.isEmpty() ? QStringLiteral("dialout") : group);
    } else if (error == EBUSY) {
      const QStringList holders = holdersOf(d.device);
      d.verdict = holders.isEmpty()
                      ? QStringLiteral("busy: another program holds it exclusively")
                      : QStringLiteral("busy: held by ") + holders.join(QStringLiteral(", "));
    } else if (error == ENXIO || error == ENODEV || error == EIO) {
      d.verdict = QStringLiteral(
                      "no serial hardware answers at %1 (%2): link %3 to your "
                      "adapter")
                      .arg(d.device, QString::fromLocal8Bit(std::strerror(error)), comName);
    } else {
      d.verdict =
          QStringLiteral("cannot be opened: %1").arg(QString::fromLocal8Bit(std::strerror(error)));
    }
    return d;
  }
  termios settings{};
  const bool serial = ::tcgetattr(fd, &settings) == 0;
  ::close(fd);
  if (!serial) {
    d.verdict =
        QStringLiteral("%1 is no serial port: link %2 to your adapter").arg(d.device, comName);
    return d;
  }
  d.openable = true;
  d.verdict = QStringLiteral("can be opened now") + staleNote;
  return d;
}

QString portReportLine(const PortDiagnosis& d) {
  return QStringLiteral("%1  %2  (%3)  %4")
      .arg(d.com.leftJustified(5), d.device, d.source, d.verdict);
}

}  // namespace zfuse
