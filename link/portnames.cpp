#include "link/portnames.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

namespace zfuse {

QString portLinkFolder() {
  QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
  if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
  return base + QStringLiteral("/zfuse/ports");
}

QString systemPortPath(const QString& comName) {
#ifdef Q_OS_WIN
  return comName;
#else
  const QFileInfo link(portLinkFolder() + QLatin1Char('/') + comName);
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
