#include "ctl/mqttsettings.h"

#include <QStringList>
#include <QUrl>
#include <algorithm>

namespace zfuse::ctl {
namespace {

bool unusable(char32_t c) {
  return QChar::category(c) == QChar::Other_Control || QChar::isNonCharacter(c) ||
         c == QChar::ReplacementCharacter;
}

// The rule the characters of `text` break, if any.
QString characterProblem(const QString& text) {
  for (const char32_t c : text.toUcs4()) {
    if (c == QChar::ReplacementCharacter) return QStringLiteral("not valid UTF-8");
    if (unusable(c)) return QStringLiteral("no control characters or non-characters");
  }
  return {};
}

// Topic levels may not be empty or hold the wildcards.
bool plainLevel(const QString& level) {
  return !level.isEmpty() && !level.contains(QLatin1Char('+')) && !level.contains(QLatin1Char('#'));
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

QString topicPrefixProblem(const QString& prefix) {
  if (const QString p = characterProblem(prefix); !p.isEmpty()) return p;
  const QStringList levels = prefix.split(QLatin1Char('/'));
  if (!std::all_of(levels.begin(), levels.end(), plainLevel)) {
    return QStringLiteral("topic levels separated by '/', none empty, no '+' or '#'");
  }
  if (prefix.startsWith(QLatin1Char('$'))) {
    return QStringLiteral("no leading '$' (those topics are the broker's own)");
  }
  if (prefix.toUtf8().size() > kMaxTopicBytes) {
    return QStringLiteral("a topic is at most %1 bytes").arg(kMaxTopicBytes);
  }
  return {};
}

QString deviceIdProblem(const QString& id) {
  if (const QString p = characterProblem(id); !p.isEmpty()) return p;
  if (!plainLevel(id) || id.contains(QLatin1Char('/'))) {
    return QStringLiteral("one topic level, no '/', '+' or '#'");
  }
  if (id.toUtf8().size() > kMaxTopicBytes) {
    return QStringLiteral("a topic is at most %1 bytes").arg(kMaxTopicBytes);
  }
  return {};
}

QString discoveryPrefixProblem(const QString& prefix) {
  if (const QString p = topicPrefixProblem(prefix); !p.isEmpty()) return p;
  const auto plain = [](QChar c) {
    return (c.unicode() < 0x80 && c.isLetterOrNumber()) || c == QLatin1Char('_') ||
           c == QLatin1Char('-') || c == QLatin1Char('/');
  };
  if (!std::all_of(prefix.begin(), prefix.end(), plain)) {
    return QStringLiteral("only ASCII letters, digits, '_' and '-' in its levels");
  }
  return {};
}

QString quotedForMessage(const QString& text, int limit) {
  QString out;
  int shown = 0;
  for (const char32_t c : text.toUcs4()) {
    if (shown++ == limit) {
      out += QStringLiteral("...");
      break;
    }
    if (unusable(c)) {
      out += QStringLiteral("\\u{%1}").arg(static_cast<uint>(c), 4, 16, QLatin1Char('0'));
    } else {
      out += QString::fromUcs4(&c, 1);
    }
  }
  return out;
}

}  // namespace zfuse::ctl
