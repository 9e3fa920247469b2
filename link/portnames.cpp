#include "link/portnames.h"

#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <cerrno>

namespace zfuse {

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
  if (link.exists()) return link.canonicalFilePath();
  // A link whose device is gone (an unplugged adapter) means that device or nothing:
  // never fall back to another port the operator did not choose.
  if (link.isSymLink()) return link.symLinkTarget();
  static const QRegularExpression comPattern(QStringLiteral("^COM([1-9][0-9]?)$"));
  const auto match = comPattern.match(comName);
  if (match.hasMatch()) {
    return QStringLiteral("/dev/ttyS%1").arg(match.captured(1).toInt() - 1);
  }
  return comName;
#endif
}

}  // namespace zfuse
