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

// "mqtt://host[:port]" (port 1883 by default) or "mqtts://host[:port]" (8883). No user,
// password, path, query or fragment: credentials come from their own options. On a bad
// URL returns nothing and says why in `error`.
std::optional<BrokerSettings> parseBrokerUrl(const QString& url, QString* error);
// A topic prefix: one or more levels separated by '/', none of them empty, no wildcard.
bool validTopicPrefix(const QString& prefix);
// A device id is one topic level: not empty, no '/', no wildcard.
bool validDeviceId(const QString& id);

}  // namespace zfuse::ctl
