#include "monitor/portadvice.h"

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QRegularExpression>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include "link/connection.h"
#include "link/frameassembler.h"
#include "link/portlock.h"
#include "link/portnames.h"
#include "monitor/statustelegram.h"

namespace zfuse::doctor {

QString systemError(int error) {
  return QString::fromLocal8Bit(std::strerror(error));
}

// For each of `devices`, the processes other than this one that have it open.
QMap<QString, QStringList> holdersOf(const QStringList& devices) {
  QMap<QString, QStringList> holders;
  if (devices.isEmpty()) return holders;
  const QString self = QString::number(::getpid());
  for (const QString& pid : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
    if (pid.isEmpty() || !pid[0].isDigit() || pid == self) continue;
    const QDir fds(QStringLiteral("/proc/") + pid + QStringLiteral("/fd"));
    QStringList seen;
    for (const QFileInfo& fd : fds.entryInfoList(QDir::System | QDir::NoDotAndDotDot)) {
      const QString target = fd.symLinkTarget();
      if (!devices.contains(target) || seen.contains(target)) continue;
      seen << target;
      holders[target] << QStringLiteral("process %1 (%2)").arg(pid, processName(pid.toLongLong()));
    }
  }
  return holders;
}

QString heldBy(const QString& device) {
  const QStringList holders = holdersOf({device}).value(device);
  return holders.isEmpty() ? QStringLiteral("busy: another program holds it exclusively")
                           : QStringLiteral("busy: held by ") + holders.join(QStringLiteral(", "));
}

// The devices the system writes its console to, e.g. "/dev/ttyS0".
QStringList consoleDevices() {
  QFile active(QStringLiteral("/sys/class/tty/console/active"));
  QStringList devices;
  if (!active.open(QIODevice::ReadOnly)) return devices;
  for (const QString& name : QString::fromLatin1(active.read(256)).simplified().split(u' ')) {
    if (!name.isEmpty()) devices << QStringLiteral("/dev/") + name;
  }
  return devices;
}

QString userName(uid_t uid) {
  const passwd* p = ::getpwuid(uid);
  return p ? QString::fromLocal8Bit(p->pw_name) : QString::number(uid);
}

QString groupName(gid_t gid) {
  const group* g = ::getgrgid(gid);
  return g ? QString::fromLocal8Bit(g->gr_name) : QString::number(gid);
}

// Whether this process counts as a member of `gid` now.
bool inGroupNow(gid_t gid) {
  if (::getegid() == gid) return true;
  const int n = ::getgroups(0, nullptr);
  if (n <= 0) return false;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  const int got = ::getgroups(n, groups.data());
  return got > 0 && std::find(groups.begin(), groups.begin() + got, gid) != groups.begin() + got;
}

// Whether the user is listed as a member of `gid`, which takes effect at the next login.
bool listedInGroup(gid_t gid) {
  const passwd* p = ::getpwuid(::getuid());
  if (!p) return false;
  int n = 64;
  std::vector<gid_t> groups(static_cast<std::size_t>(n));
  if (::getgrouplist(p->pw_name, p->pw_gid, groups.data(), &n) < 0) {
    groups.resize(static_cast<std::size_t>(n));
    if (::getgrouplist(p->pw_name, p->pw_gid, groups.data(), &n) < 0) return false;
  }
  return std::find(groups.begin(), groups.begin() + n, gid) != groups.begin() + n;
}

// The way to a device that this user may not open. Joining a group helps only where the
// device's group may both read and write it; otherwise its owner must allow it.
QString permissionAdvice(const QString& device) {
  struct stat st {};
  if (::stat(QFile::encodeName(device).constData(), &st) != 0) {
    return QStringLiteral("permission denied");
  }
  const QString group = groupName(st.st_gid);
  const bool groupMay = (st.st_mode & (S_IRGRP | S_IWGRP)) == (S_IRGRP | S_IWGRP);
  if (groupMay && inGroupNow(st.st_gid)) {
    return QStringLiteral(
               "permission denied, although your group %1 may read and write %2: "
               "something beyond its mode (an access list or a security module) "
               "forbids it")
        .arg(group, device);
  }
  if (groupMay) {
    if (listedInGroup(st.st_gid)) {
      return QStringLiteral(
                 "permission denied: you are in the group %1, but not yet in this "
                 "login: log out and in again (or start a shell with newgrp %1)")
          .arg(group);
    }
    return QStringLiteral(
               "permission denied: add yourself to the group %1 and log in again "
               "(sudo usermod -aG %1 $USER)")
        .arg(group);
  }
  // The kernel's name without its number: ttyUSB0 -> ttyUSB[0-9]*, for every such adapter.
  QString kernelName = QFileInfo(device).fileName();
  kernelName.remove(QRegularExpression(QStringLiteral("[0-9]+$")));
  return QStringLiteral(
             "permission denied: %1 belongs to %2:%3 with mode %4, which lets no "
             "group of yours read and write it, so joining a group does not help; "
             "an administrator can allow it with a udev rule (the line "
             "SUBSYSTEM==\"tty\", KERNEL==\"%5[0-9]*\", GROUP=\"dialout\", "
             "MODE=\"0660\" in /etc/udev/rules.d/50-zfuse.rules, then sudo udevadm "
             "trigger, and you in the group dialout) or, until the device is next "
             "plugged in, sudo chmod a+rw %1")
      .arg(device, userName(st.st_uid), group,
           QStringLiteral("%1").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0')), kernelName);
}

// An adapter to name in advice: one that no port leads to yet, else the first; by its
// stable name where it has one.
QString suggestedAdapter(const QList<SerialAdapter>& adapters) {
  if (adapters.isEmpty()) return {};
  QStringList used;
  for (int n = 1; n <= kPortCount; ++n) used << systemPortPath(QStringLiteral("COM%1").arg(n));
  auto nameOf = [](const SerialAdapter& a) {
    return a.stableName.isEmpty() ? a.device : a.stableName;
  };
  for (const SerialAdapter& a : adapters) {
    if (!used.contains(QFileInfo(a.device).canonicalFilePath())) return nameOf(a);
  }
  return nameOf(adapters.first());
}

// What a link says, as written in it; empty for no link.
QByteArray linkText(const QString& link) {
  char text[PATH_MAX];
  const ssize_t n = ::readlink(QFile::encodeName(link).constData(), text, sizeof text);
  return n > 0 ? QByteArray(text, static_cast<qsizetype>(n)) : QByteArray();
}

bool isRelativeLink(const QString& link) {
  const QByteArray text = linkText(link);
  return !text.isEmpty() && !text.startsWith('/');
}

QString linkAdvice(const QString& comName) {
  const QString adapter = suggestedAdapter(serialAdapters());
  if (adapter.isEmpty()) {
    return QStringLiteral("link %1 to your adapter once it is plugged in (none is now)")
        .arg(comName);
  }
  return QStringLiteral("link %1 to your adapter, e.g. %2").arg(comName, adapter);
}

// Whether this user may remove the lock file of a process that is gone, as the open will.
bool mayRemove(const PortLock& lock) {
  const QByteArray folder = QFile::encodeName(QFileInfo(lock.path).absolutePath());
  struct stat dir {};
  struct stat file {};
  if (::access(folder.constData(), W_OK | X_OK) != 0 || ::stat(folder.constData(), &dir) != 0 ||
      ::lstat(QFile::encodeName(lock.path).constData(), &file) != 0) {
    return false;
  }
  // In a folder with the sticky bit (as the lock folder is) only the file's or the
  // folder's owner removes a file.
  const uid_t me = ::geteuid();
  return !(dir.st_mode & S_ISVTX) || me == 0 || file.st_uid == me || dir.st_uid == me;
}

}  // namespace zfuse::doctor
