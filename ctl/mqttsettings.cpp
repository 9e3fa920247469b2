#include "ctl/mqttsettings.h"

#include <QStringList>
#include <QUrl>
#include <algorithm>

namespace zfuse::ctl {
namespace {

// Topic levels may not hold the wildcards or the null character.
bool plainLevel(const QString& level) {
  return !level.isEmpty() && !level.contains(QLatin1Char('+')) &&
         !level.contains(QLatin1Char('#')) && !level.contains(QChar(0));
}

}  // namespace

std::optional<BrokerSettings> parseBrokerUrl(const QString& text, QString* error) {
  const QUrl url(text, QUrl::StrictMode);
  const QString scheme = url.scheme();
  const auto fail = [&](const QString& why) {
    *error = QStringLiteral("bad broker URL '%1': %2").arg(text, why);
    return std::nullopt;
  };
  if (!url.isValid()) return fail(QStringLiteral("not a URL"));
  if (scheme != QLatin1String("mqtt") && scheme != QLatin1String("mqtts")) {
    return fail(QStringLiteral("give mqtt://host[:port] or mqtts://host[:port]"));
  }
  if (url.host().isEmpty()) return fail(QStringLiteral("no host"));
  if (!url.userInfo().isEmpty()) {
    return fail(
        QStringLiteral("no user or password in the URL; use --username and "
                       "--password-file"));
  }
  if (!(url.path().isEmpty() || url.path() == QLatin1String("/")) || url.hasQuery() ||
      url.hasFragment()) {
    return fail(QStringLiteral("nothing after host and port"));
  }
  BrokerSettings s;
  s.tls = scheme == QLatin1String("mqtts");
  s.host = url.host();
  const int port = url.port(s.tls ? 8883 : 1883);
  if (port < 1 || port > 65535) return fail(QStringLiteral("port out of range"));
  s.port = static_cast<quint16>(port);
  return s;
}

bool validTopicPrefix(const QString& prefix) {
  const QStringList levels = prefix.split(QLatin1Char('/'));
  return std::all_of(levels.begin(), levels.end(), plainLevel);
}

bool validDeviceId(const QString& id) {
  return plainLevel(id) && !id.contains(QLatin1Char('/'));
}

}  // namespace zfuse::ctl
