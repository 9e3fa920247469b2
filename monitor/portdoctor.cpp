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
#include "monitor/portadvice.h"
#include "monitor/statustelegram.h"

namespace zfuse {

using namespace doctor;

namespace {
// Device names in their numeric order: ttyUSB2 before ttyUSB10.
bool byNumber(const QString& a, const QString& b) {
  static const QRegularExpression split(QStringLiteral("^(.*?)([0-9]*)$"));
  const auto ma = split.match(a), mb = split.match(b);
  if (ma.captured(1) != mb.captured(1)) return ma.captured(1) < mb.captured(1);
  return ma.captured(2).toLongLong() < mb.captured(2).toLongLong();
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

}  // namespace zfuse
