#include "link/portaddress.h"

#include <limits.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "link/localnames.h"
#include "link/portnames.h"

namespace zfuse {

namespace {

// What a path names, when it is no place for a serial line; nullopt for a device or a
// path that is not there.
std::optional<QString> notADevice(const QByteArray& path) {
  struct stat st {};
  if (::stat(path.constData(), &st) != 0) {
    if (errno == ENOENT) return std::nullopt;
    if (errno == ELOOP) return QStringLiteral("a loop of links");
    if (errno == ENAMETOOLONG) return QStringLiteral("a name longer than the system takes");
    if (errno == ENOTDIR) return QStringLiteral("a path through something that is no folder");
    return QString::fromLocal8Bit(std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) return QStringLiteral("a folder, not a serial device");
  if (S_ISREG(st.st_mode)) return QStringLiteral("a regular file, not a serial device");
  if (S_ISFIFO(st.st_mode)) return QStringLiteral("a FIFO, not a serial device");
  if (S_ISSOCK(st.st_mode)) return QStringLiteral("a socket, not a serial device");
  if (!S_ISCHR(st.st_mode)) return QStringLiteral("not a character device");
  return std::nullopt;
}

// The device a path leads to: its links resolved where it exists, else the path itself.
QString resolved(const QString& path) {
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}

}  // namespace

std::optional<PortAddress> portAddressOf(const QString& text, QString* error) {
  const auto refuse = [&](const QString& why) {
    *error = text.isEmpty() ? QStringLiteral("the port is empty")
                            : QStringLiteral("port '%1': %2").arg(text, why);
    return std::nullopt;
  };
  if (text.isEmpty()) return refuse({});
  if (comPortNumber(text) != 0) {
    const QString device = systemPortPath(text);
    if (device.isEmpty()) return refuse(QStringLiteral("the ports folder cannot be examined"));
    return PortAddress{text, resolved(device)};
  }
  if (!text.startsWith(QLatin1Char('/'))) {
    *error = QStringLiteral("unknown port '%1'; ports: COM1 ... COM11 or an absolute device path")
                 .arg(text);
    return std::nullopt;
  }
  const QByteArray bytes = localName(text);
  if (bytes.size() >= PATH_MAX || bytes.contains('\0')) {
    return refuse(QStringLiteral("a name longer than the system takes"));
  }
  if (const auto why = notADevice(bytes)) return refuse(*why);
  return PortAddress{text, resolved(text)};
}

std::optional<QString> samePortTwice(const QList<PortAddress>& addresses) {
  for (qsizetype i = 0; i < addresses.size(); ++i) {
    for (qsizetype j = 0; j < i; ++j) {
      if (addresses[i].device != addresses[j].device) continue;
      if (addresses[i].given == addresses[j].given) {
        return QStringLiteral("port %1 named twice").arg(addresses[i].given);
      }
      return QStringLiteral("%1 and %2 are the same device, %3")
          .arg(addresses[j].given, addresses[i].given, addresses[i].device);
    }
  }
  return std::nullopt;
}

}  // namespace zfuse
