#pragma once

#include <QByteArray>
#include <QString>
#include <vector>

#include "monitor/statustelegram.h"

namespace zfuse::ctl {

// Home Assistant MQTT discovery: retained configuration messages that make each fuse a
// device with its sensors and lamps as entities. The entities read the device's
// existing retained `state` topic through value templates and its `online` topic for
// availability; no topic is added for them.
struct DiscoverySettings {
  QString discoveryPrefix = QStringLiteral("homeassistant");
  QString topicPrefix = QStringLiteral("zfuse");
  bool perEntity = false;  // one message per entity instead of one per device
  bool german = false;     // entity names
};

struct RetainedMessage {
  QByteArray topic;
  QByteArray payload;  // empty: clears what the broker retains on the topic
};

// The device id as it appears in discovery topics and unique ids, which allow only
// ASCII letters, digits, '_' and '-': letters, digits and '-' stay, every other byte of
// the id's UTF-8 becomes '_' and two lower-case hex digits ("hall 2" -> "hall_202").
// Different ids stay different.
QString discoveryId(const QString& deviceId);

// The configuration messages of a device whose telegrams name `type`: announce the
// channels the model has. Per entity, the topics of channels the model lacks get an
// empty payload, so that a changed model leaves no entities behind. The device's own
// version goes in where it is known (read from its configuration reply).
std::vector<RetainedMessage> discoveryMessages(const DiscoverySettings& settings,
                                               const QString& deviceId, uint8_t type,
                                               const QString& deviceVersion = {});

// Every topic a device's configurations may be retained on, in both forms: cleared by
// --ha-remove.
std::vector<QByteArray> discoveryTopics(const DiscoverySettings& settings, const QString& deviceId);

// The topic on which Home Assistant announces itself ("online" after its start).
QByteArray discoveryStatusTopic(const DiscoverySettings& settings);

}  // namespace zfuse::ctl
