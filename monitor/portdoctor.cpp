#include "monitor/portdoctor.h"

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

namespace zfuse {

namespace {

constexpr int kIndent = 7;  // "COM11  "

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

// The words of `text` on lines of at most `width` columns, the first line indented by
// `first` spaces, the others by `indent`. A word longer than a line keeps a line of its
// own; a no-break space (as in "1.5 s") joins two words.
QStringList wrapped(const QString& text, int first, int indent, int width) {
  QStringList lines;
  QString line(first, QLatin1Char(' '));
  bool blank = true;
  for (const QString& word : text.split(QLatin1Char(' '))) {
    if (!blank && line.size() + 1 + word.size() > width) {
      while (line.endsWith(QLatin1Char(' '))) line.chop(1);
      lines << line;
      line = QString(indent, QLatin1Char(' '));
      blank = true;
    }
    if (blank) {
      if (word.isEmpty()) continue;
      line += word;
      blank = false;
    } else {
      line += QLatin1Char(' ') + word;
    }
  }
  if (!blank) lines << line;
  for (QString& l : lines) l.replace(QChar(0xA0), QLatin1Char(' '));
  return lines;
}

// A shell command on lines of at most `width` columns, continued with " \".
QStringList wrappedCommand(const QString& command, int indent, int width) {
  const QString more(indent + 2, QLatin1Char(' '));
  QStringList lines;
  QString line(indent, QLatin1Char(' '));
  for (const QString& word : command.split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
    const bool fresh = line.trimmed().isEmpty();
    if (!fresh && line.size() + 1 + word.size() + 2 > width) {
      lines << line + QStringLiteral(" \\");
      line = more + word;
    } else {
      line += (fresh ? QString() : QStringLiteral(" ")) + word;
    }
  }
  lines << line;
  return lines;
}

QString heardText(const Hearing& h, int ms) {
  const QString span = QString::number(ms / 1000.0, 'f', 1) + QChar(0xA0) + u's';
  if (!h.listened) return QStringLiteral("; not listened to: another program took it meanwhile");
  if (h.model >= 0) {
    return QStringLiteral("; a fuse is talking on it: %1").arg(fuseModelName(h.model));
  }
  if (h.bytes == 0) {
    return QStringLiteral(
               ", but no fuse is talking on it (nothing arrived in %1): check the cable "
               "and the fuse's supply")
        .arg(span);
  }
  return QStringLiteral(
             ", but no fuse is talking on it: %1 bytes in %2, no valid status "
             "telegram%3 (another device, or a line setting other than 9600 8N1?)")
      .arg(h.bytes)
      .arg(span)
      .arg(h.badFrames > 0 ? QStringLiteral(", %1 broken ones").arg(h.badFrames) : QString());
}

// Device names in their numeric order: ttyUSB2 before ttyUSB10.
bool byNumber(const QString& a, const QString& b) {
  static const QRegularExpression split(QStringLiteral("^(.*?)([0-9]*)$"));
  const auto ma = split.match(a), mb = split.match(b);
  if (ma.captured(1) != mb.captured(1)) return ma.captured(1) < mb.captured(1);
  return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
}

// The adapters present, which port leads to each, and the links to make by their stable
// names: for an adapter no port leads to, on the first port that leads to no device; for
// one a port reaches by its changing kernel name, on that port.
void reportAdapters(const std::function<void(const QString&)>& printLine, int width) {
  auto print = [&](const QStringList& lines) {
    for (const QString& line : lines) printLine(line);
  };
  const QList<SerialAdapter> adapters = serialAdapters();
  if (adapters.isEmpty()) {
    print(wrapped(QStringLiteral("Serial adapters: none plugged in (no /dev/ttyUSB*, "
                                 "/dev/ttyACM*)."),
                  0, 2, width));
    return;
  }
  printLine(QStringLiteral("Serial adapters present:"));
  QStringList devices, links;
  QList<int> freePorts;
  for (int n = 1; n <= kPortCount; ++n) {
    const QString com = QStringLiteral("COM%1").arg(n);
    devices << systemPortPath(com);
    links << portLinkFolder() + QLatin1Char('/') + com;
    if (!devices.last().isEmpty() && !QFileInfo::exists(devices.last())) freePorts << n - 1;
  }
  QStringList commands;
  for (const SerialAdapter& a : adapters) {
    const QString canonical = QFileInfo(a.device).canonicalFilePath();
    QStringList users;
    int relink = -1;
    for (int n = 0; n < kPortCount; ++n) {
      if (devices[n] != canonical) continue;
      users << QStringLiteral("COM%1").arg(n + 1);
      const QFileInfo link(links[n]);
      if (relink < 0 && link.isSymLink() && !a.stableName.isEmpty() &&
          QDir::cleanPath(link.symLinkTarget()) != a.stableName) {
        relink = n;
      }
    }
    QString text = a.device + QStringLiteral("  ") +
                   (a.stableName.isEmpty() ? QStringLiteral("(no stable name)") : a.stableName);
    if (users.isEmpty()) {
      text += QStringLiteral(", no port leads to it");
    } else {
      text += QStringLiteral(", %1 %2 to it")
                  .arg(users.join(QStringLiteral(", ")),
                       users.size() == 1 ? QStringLiteral("leads") : QStringLiteral("lead"));
    }
    print(wrapped(text, 2, kIndent, width));
    const int port = users.isEmpty() && !freePorts.isEmpty() ? freePorts.takeFirst() : relink;
    if (port < 0) continue;
    QString command = QStringLiteral("ln -sfn %1 %2")
                          .arg(a.stableName.isEmpty() ? a.device : a.stableName, links[port]);
    if (!QFileInfo(portLinkFolder()).isDir()) {
      command.prepend(QStringLiteral("mkdir -p %1 && ").arg(portLinkFolder()));
    }
    commands << command;
  }
  if (commands.isEmpty()) return;
  print(wrapped(QStringLiteral("A link by the stable name survives a replug and a reboot:"), 0, 2,
                width));
  for (const QString& command : commands) print(wrappedCommand(command, 2, width));
}

}  // namespace

QString portLockFile(const QString& device) {
  const PortLock lock = examinePortLock(device);
  return lock.state == PortLock::None ? QString() : lock.path;
}

namespace {
PortDiagnosis diagnoseName(const QString& comName);
}

PortDiagnosis diagnosePort(const QString& comName) {
  PortDiagnosis d = diagnoseName(comName);
  // A pseudo-terminal's number goes to the next terminal opened once its program ends,
  // so a link into /dev/pts may lead to an unrelated terminal later.
  const QFileInfo link(portLinkFolder() + QLatin1Char('/') + comName);
  if (link.isSymLink() &&
      QDir::cleanPath(link.symLinkTarget()).startsWith(QLatin1String("/dev/pts/"))) {
    d.source += QStringLiteral(
        "; a link into /dev/pts may lead to an unrelated terminal once its program ends, "
        "which takes the number over: link an adapter by its /dev/serial/by-id name");
  }
  return d;
}

namespace {
PortDiagnosis diagnoseName(const QString& comName) {
  PortDiagnosis d;
  d.com = comName;
  const QString link = portLinkFolder() + QLatin1Char('/') + comName;
  const QFileInfo linkInfo(link);
  const bool linked = linkInfo.isSymLink() || linkInfo.exists();
  d.device = systemPortPath(comName);
  d.source = linked ? QStringLiteral("link %1").arg(link)
                    : QStringLiteral("standard port, no link %1").arg(link);

  if (d.device.isEmpty()) {
    d.device = QStringLiteral("?");
    d.source = QStringLiteral("ports folder %1").arg(portLinkFolder());
    d.verdict = QStringLiteral(
                    "cannot tell: the ports folder %1 cannot be examined (permission "
                    "denied), so the port stays closed; give it back to your user or "
                    "set XDG_CONFIG_HOME to a folder of your own")
                    .arg(portLinkFolder());
    return d;
  }
  if (!linked && wasPortLink(comName)) {
    d.source = QStringLiteral("link %1, gone").arg(link);
    d.verdict = QStringLiteral(
                    "the link %1 was removed: the port stays closed until the link is back "
                    "(the standard port is not used in its place)")
                    .arg(link);
    return d;
  }
  if (!QFileInfo::exists(d.device)) {
    if (linked && isRelativeLink(link)) {
      // A relative link resolves from the ports folder, not from /dev: the adapter may
      // well be there, under the full path the link should name.
      const QString adapter = suggestedAdapter(serialAdapters());
      d.verdict = QStringLiteral(
                      "the link is relative (%1) and resolves to %2, which does not exist: "
                      "link %3 to the full path of your adapter")
                      .arg(QFile::decodeName(linkText(link)), d.device, comName);
      d.verdict += adapter.isEmpty() ? QStringLiteral(" once it is plugged in (none is now)")
                                     : QStringLiteral(", e.g. %1").arg(adapter);
    } else if (linked) {
      d.verdict = QStringLiteral(
                      "link points to %1, which does not exist: is the adapter plugged "
                      "in?")
                      .arg(d.device);
      const QString adapter = suggestedAdapter(serialAdapters());
      if (!adapter.isEmpty()) d.verdict += QStringLiteral(" Present now: %1").arg(adapter);
    } else {
      d.verdict =
          QStringLiteral("missing: %1 does not exist; ").arg(d.device) + linkAdvice(comName);
    }
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
    // The lock's process is gone, or its number runs another program now.
    const QString whose = ::kill(static_cast<pid_t>(lock.pid), 0) == 0 || errno == EPERM
                              ? QStringLiteral("of %1 as process %2, a number that %3 has now")
                                    .arg(lock.program)
                                    .arg(lock.pid)
                                    .arg(processName(lock.pid))
                              : QStringLiteral("of process %1, which is gone").arg(lock.pid);
    if (!mayRemove(lock)) {
      d.verdict = QStringLiteral(
                      "blocked: stale lock file %1 %2, "
                      "and its folder does not let you remove it; ask an "
                      "administrator to delete it")
                      .arg(lock.path, whose);
      return d;
    }
    staleNote = QStringLiteral(
                    " (the stale lock file %1 %2, is "
                    "removed on opening)")
                    .arg(lock.path, whose);
  }

  const int fd =
      ::open(QFile::encodeName(d.device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    const int error = errno;
    if (error == EACCES || error == EPERM) {
      d.verdict = permissionAdvice(d.device);
    } else if (error == EBUSY) {
      d.verdict = heldBy(d.device);
    } else if (error == ENXIO || error == ENODEV || error == EIO) {
      d.verdict = QStringLiteral("no serial hardware answers at %1 (%2): ")
                      .arg(d.device, systemError(error)) +
                  linkAdvice(comName);
    } else {
      d.verdict = QStringLiteral("cannot be opened: %1").arg(systemError(error));
    }
    return d;
  }
  termios settings{};
  const bool serial = ::tcgetattr(fd, &settings) == 0;
  int exclusive = 0;
#ifdef TIOCGEXCL
  // Root passes another program's exclusive hold; the port is that program's all the same.
  if (serial && ::ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = 0;
#endif
  ::close(fd);
  if (!serial) {
    d.verdict = QStringLiteral("%1 is no serial port: ").arg(d.device) + linkAdvice(comName);
    return d;
  }
  if (exclusive) {
    d.verdict = heldBy(d.device);
    return d;
  }
  d.openable = true;
  d.verdict = QStringLiteral("can be opened now") + staleNote;
  return d;
}
}  // namespace

QList<SerialAdapter> serialAdapters() {
  QString root = qEnvironmentVariable("ZFUSE_DEV_ROOT");
  if (root.isEmpty()) root = QStringLiteral("/dev");
  QStringList names = QDir(root).entryList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")},
                                           QDir::System | QDir::Files | QDir::NoSymLinks);
  std::sort(names.begin(), names.end(), byNumber);
  const QFileInfoList stable =
      QDir(root + QStringLiteral("/serial/by-id")).entryInfoList(QDir::System | QDir::Files);
  QList<SerialAdapter> adapters;
  for (const QString& name : names) {
    SerialAdapter a;
    a.device = root + QLatin1Char('/') + name;
    const QString canonical = QFileInfo(a.device).canonicalFilePath();
    for (const QFileInfo& link : stable) {
      // The names are links, mostly relative ("../../ttyUSB0"), from their own folder.
      if (link.isSymLink() && link.canonicalFilePath() == canonical) {
        a.stableName = link.absoluteFilePath();
        break;
      }
    }
    adapters << a;
  }
  return adapters;
}

QString fuseModelName(int typeByte) {
  const ModelFacts* m =
      typeByte >= 0 && typeByte <= 0xFF ? modelFacts(static_cast<uint8_t>(typeByte)) : nullptr;
  return m ? QString::fromLatin1(m->title) : QString();
}

Hearing listenForFuse(const QString& device, int milliseconds) {
  Hearing h;
  const int fd =
      ::open(QFile::encodeName(device).constData(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return h;
  int exclusive = 0;
#ifdef TIOCGEXCL
  if (::ioctl(fd, TIOCGEXCL, &exclusive) != 0) exclusive = 0;
#endif
  termios saved{};
  if (exclusive || ::tcgetattr(fd, &saved) != 0) {
    ::close(fd);
    return h;
  }
  // The port's lock, where it is free, so that no other program opens it meanwhile.
  const PortLock lock = examinePortLock(device);
  const QByteArray lockPath = QFile::encodeName(lock.path);
  const int lockFd = lock.state != PortLock::None || lockPath.isEmpty()
                         ? -1
                         : ::open(lockPath.constData(),
                                  O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
  bool locked = false;
  if (lockFd >= 0) {
    const QByteArray pid = QByteArray::number(qint64(::getpid())).rightJustified(10) + '\n';
    locked = ::write(lockFd, pid.constData(), std::size_t(pid.size())) == pid.size();
    ::close(lockFd);
    if (!locked) ::unlink(lockPath.constData());
  }
  ::ioctl(fd, TIOCEXCL);
  termios raw = saved;
  ::cfmakeraw(&raw);
  raw.c_cflag |= CLOCAL | CREAD;
  raw.c_cc[VMIN] = 0;
  raw.c_cc[VTIME] = 0;
  ::cfsetispeed(&raw, B9600);
  ::cfsetospeed(&raw, B9600);
  ::tcsetattr(fd, TCSANOW, &raw);
  ::tcflush(fd, TCIFLUSH);
  h.listened = true;

  FrameAssembler assembler([&h](const std::vector<uint8_t>& frame) {
    if (checkStatusTelegram(frame) != StatusCheck::Good) {
      ++h.badFrames;
    } else if (h.model < 0) {
      h.model = frame[1];
    }
  });
  QElapsedTimer clock;
  clock.start();
  while (h.model < 0) {
    const qint64 left = milliseconds - clock.elapsed();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    const int ready = ::poll(&p, 1, int(left));
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) break;
    uint8_t buffer[256];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && (errno == EAGAIN || errno == EINTR)) continue;
    if (n <= 0) break;  // hung up
    h.bytes += n;
    assembler.feed(buffer, std::size_t(n));
  }

  ::tcsetattr(fd, TCSANOW, &saved);
  ::ioctl(fd, TIOCNXCL);
  ::close(fd);
  if (locked) ::unlink(lockPath.constData());
  return h;
}

QString portReportLine(const PortDiagnosis& d, int width) {
  const QString head =
      QStringLiteral("%1  %2  (%3)").arg(d.com.leftJustified(5), d.device, d.source);
  return (wrapped(head, 0, kIndent, width) + wrapped(d.verdict, kIndent, kIndent, width))
      .join(QLatin1Char('\n'));
}

int reportPorts(const std::function<void(const QString&)>& printLine,
                const PortDoctorOptions& options) {
  QList<PortDiagnosis> ports;
  for (int n = 1; n <= kPortCount; ++n) ports << diagnosePort(QStringLiteral("COM%1").arg(n));

  // Listening sets the line to 9600 baud: never on the system console, nor on a port
  // another program has open (a terminal or login without a lock file). A pseudo-
  // terminal is the exception: the program at its other end (the simulator) keeps it
  // open by design. The ports are separate devices: listening to all of them at once
  // keeps the whole run within one listening time.
  std::vector<QString> notHeard(std::size_t(ports.size()));
  std::vector<Hearing> heard(std::size_t(ports.size()));
  if (options.listen) {
    QStringList devices;
    for (const PortDiagnosis& d : ports) {
      if (d.openable && !d.device.startsWith(QStringLiteral("/dev/pts/"))) devices << d.device;
    }
    const QStringList consoles = consoleDevices();
    const QMap<QString, QStringList> holders = holdersOf(devices);
    std::vector<std::thread> listeners;
    for (qsizetype i = 0; i < ports.size(); ++i) {
      const std::size_t k = std::size_t(i);
      const QString device = ports[i].device;
      if (!ports[i].openable) continue;
      if (consoles.contains(device)) {
        notHeard[k] = QStringLiteral(", but it is the system console: not listened to");
      } else if (holders.contains(device)) {
        notHeard[k] =
            QStringLiteral(", but %1 %2 it open too: not listened to")
                .arg(holders[device].join(QStringLiteral(", ")),
                     holders[device].size() == 1 ? QStringLiteral("has") : QStringLiteral("have"));
      } else {
        listeners.emplace_back(
            [&heard, device, k, ms = options.listenMs] { heard[k] = listenForFuse(device, ms); });
      }
    }
    for (std::thread& t : listeners) t.join();
  }

  int openable = 0;
  QStringList talking;
  for (qsizetype i = 0; i < ports.size(); ++i) {
    PortDiagnosis& d = ports[i];
    const std::size_t k = std::size_t(i);
    if (d.openable) {
      ++openable;
      if (options.listen) {
        d.verdict += notHeard[k].isEmpty() ? heardText(heard[k], options.listenMs) : notHeard[k];
        if (heard[k].model >= 0) talking << d.com;
      }
    }
    for (const QString& line : portReportLine(d, options.width).split(QLatin1Char('\n'))) {
      printLine(line);
    }
  }
  reportAdapters(printLine, options.width);

  QString summary =
      QStringLiteral("%1 of %2 ports can be opened now.").arg(openable).arg(kPortCount);
  if (options.listen && openable > 0) {
    summary +=
        talking.isEmpty()
            ? QStringLiteral(" No fuse heard on them.")
            : QStringLiteral(" A fuse is talking on %1.").arg(talking.join(QStringLiteral(", ")));
  }
  for (const QString& line : wrapped(summary, 0, 2, options.width)) printLine(line);
  return openable > 0 ? 0 : 1;
}

}  // namespace zfuse
