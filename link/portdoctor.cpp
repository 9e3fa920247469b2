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

#include "link/connection.h"
#include "link/portlock.h"
#include "link/portnames.h"

namespace zfuse {

namespace {

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

QString groupOf(const QString& device) {
  struct stat st {};
  if (::stat(QFile::encodeName(device).constData(), &st) != 0) return {};
  const group* g = ::getgrgid(st.st_gid);
  return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(st.st_gid);
}

}  // namespace

QString portLockFile(const QString& device) {
  const PortLock lock = examinePortLock(device);
  return lock.state == PortLock::None ? QString() : lock.path;
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

  if (d.device.isEmpty()) {
    d.source = QStringLiteral("ports folder %1").arg(portLinkFolder());
    d.verdict = QStringLiteral(
                    "cannot tell: the ports folder %1 cannot be examined (permission "
                    "denied), so the port stays closed; give it back to your user or "
                    "set XDG_CONFIG_HOME to a folder of your own")
                    .arg(portLinkFolder());
    return d;
  }
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
  const PortLock lock = examinePortLock(d.device);
  if (lock.state == PortLock::Invalid) {
    d.verdict = QStringLiteral(
                    "busy (invalid lock file %1: not a lock a program wrote; remove it "
                    "if no program uses the port)")
                    .arg(lock.path);
    return d;
  }
  if (lock.state == PortLock::Live || lock.state == PortLock::Stale) {
    if (lock.state == PortLock::Live) {
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

int reportPorts(const std::function<void(const QString&)>& printLine) {
  int openable = 0;
  for (int n = 1; n <= kPortCount; ++n) {
    const PortDiagnosis d = diagnosePort(QStringLiteral("COM%1").arg(n));
    printLine(portReportLine(d));
    if (d.openable) ++openable;
  }
  printLine(QStringLiteral("%1 of %2 ports can be opened now.").arg(openable).arg(kPortCount));
  return openable > 0 ? 0 : 1;
}

}  // namespace zfuse
