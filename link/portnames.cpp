#include "link/portnames.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMutex>
#include <QRegularExpression>
#include <QSet>
#include <cerrno>

namespace zfuse {

namespace {
// The link paths found to be links in this run. Kept for the whole run: a name that was a
// link leads to that link's device or nowhere, never to a standard port.
QMutex linksSeenMutex;
QSet<QString> linksSeen;

void rememberLink(const QString& linkPath) {
  const QMutexLocker lock(&linksSeenMutex);
  linksSeen.insert(linkPath);
}
}  // namespace

bool wasPortLink(const QString& comName) {
  const QMutexLocker lock(&linksSeenMutex);
  return linksSeen.contains(portLinkFolder() + QLatin1Char('/') + comName);
}

void forgetPortLinks() {
  const QMutexLocker lock(&linksSeenMutex);
  linksSeen.clear();
}

QString portLinkFolder() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
  return base + QStringLiteral("/zfuse/ports");
}

int comPortNumber(const QString& comName) {
  static const QRegularExpression pattern(QStringLiteral("^COM([1-9]|1[01])$"));
  const auto match = pattern.match(comName);
  return match.hasMatch() ? match.captured(1).toInt() : 0;
}

QString systemPortPath(const QString& comName) {
#ifdef Q_OS_WIN
  return comName;
#else
  const QString linkPath = portLinkFolder() + QLatin1Char('/') + comName;
  struct stat st {};
  if (::lstat(QFile::encodeName(linkPath).constData(), &st) != 0 && errno != ENOENT &&
      errno != ENOTDIR) {
    // The ports folder cannot be examined (another user's, or unreadable): whether a
    // link is there cannot be told, so the port leads nowhere rather than to a standard
    // port the operator may not mean.
    return {};
  }
  const QFileInfo link(linkPath);
  if (link.isSymLink() || link.exists()) rememberLink(linkPath);
  if (link.exists()) return link.canonicalFilePath();
  // A link whose device is gone (an unplugged adapter) means that device or nothing:
  // never fall back to another port the operator did not choose.
  if (link.isSymLink()) return link.symLinkTarget();
  // A link removed meanwhile (its simulator ended) leads nowhere until it is back: the
  // missing link itself stands for the device, so every open fails.
  if (wasPortLink(comName)) return linkPath;
  static const QRegularExpression comPattern(QStringLiteral("^COM([1-9][0-9]?)$"));
  const auto match = comPattern.match(comName);
  if (match.hasMatch()) {
    return QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1);
  }
  return comName;
#endif
}

}  // namespace zfuse
