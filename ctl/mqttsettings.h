#pragma once

#include <QByteArray>
#include <QString>
#include <optional>

namespace zfuse::ctl {

// Where and how to reach the broker.
struct BrokerSettings {
  QString host;
  quint16 port = 1883;
  bool tls = false;
  QString caFile;  // TLS: the authority to trust; empty: the system's certificates
  QString certFile;
  QString keyFile;
  QString username;
  QByteArray password;
  QString topicPrefix = QStringLiteral("zfuse");
  int keepAliveSeconds = 15;
};

// A topic name (and a client id) is at most this many bytes of UTF-8 on the wire.
constexpr int kMaxTopicBytes = 65535;

// "mqtt://host[:port]" (port 1883 by default) or "mqtts://host[:port]" (8883). No user,
// password, path, query or fragment: credentials come from their own options. On a bad
// URL returns nothing and says why in `error`.
std::optional<BrokerSettings> parseBrokerUrl(const QString& url, QString* error);

// Each of these says which rule `text` breaks, or returns an empty string when it keeps
// them all. Text in topics and client ids holds no control characters (C0, DEL, C1 such
// as U+0085) and no non-characters (U+FDD0 ... U+FDEF, U+xFFFE, U+xFFFF): the client
// library refuses them. U+FFFD is taken for bytes of the command line that were not
// UTF-8 and refused as well.
//
// A topic prefix: one or more levels separated by '/', none of them empty, no wildcard,
// not beginning with '$' (those topics are the broker's own), at most kMaxTopicBytes.
QString topicPrefixProblem(const QString& prefix);
// A device id is one topic level: not empty, no '/', no wildcard.
QString deviceIdProblem(const QString& id);
// The discovery prefix the home automation listens on: a topic prefix whose levels hold
// only ASCII letters, digits, '_' and '-'.
QString discoveryPrefixProblem(const QString& prefix);

// `text` for a message on standard error: control characters, non-characters and the
// replacement character as \u{...}, and cut to `limit` characters with "...".
QString quotedForMessage(const QString& text, int limit = 60);

}  // namespace zfuse::ctl
