#include "ctl/discovery.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include "zfuse_version.h"

namespace zfuse::ctl {
namespace {

// The maker's service address, as the package names it.
const char* const kSupportUrl = "http://www.zokara.example.com";

enum class Kind { Current, Maximum, Rated, Warning, Tripped, Uin, UinMin, PowerGood, Hardware };

struct Entity {
  Kind kind;
  const char* quantity;  // part of the unique id
  const char* platform;  // sensor or binary_sensor
  const char* en;        // name; %1 the channel
  const char* de;
  bool perChannel;
};

constexpr Entity kEntities[] = {
    {Kind::Current, "current", "sensor", "Channel %1 current", "Kanal %1 Strom", true},
    {Kind::Maximum, "current_max", "sensor", "Channel %1 maximum current", "Kanal %1 Maximalstrom",
     true},
    {Kind::Rated, "current_rated", "sensor", "Channel %1 rated current", "Kanal %1 Nennstrom",
     true},
    {Kind::Warning, "warning", "binary_sensor", "Channel %1 warning", "Kanal %1 Warnung", true},
    {Kind::Tripped, "tripped", "binary_sensor", "Channel %1 tripped", "Kanal %1 ausgelöst", true},
    {Kind::Uin, "uin", "sensor", "Input voltage", "Eingangsspannung", false},
    {Kind::UinMin, "uin_min", "sensor", "Minimum input voltage", "Minimale Eingangsspannung",
     false},
    {Kind::PowerGood, "power_good_low", "binary_sensor", "Uin < power good", "Uin < Power Good",
     false},
    {Kind::Hardware, "hardware_fault", "binary_sensor", "Hardware fault", "Hardwarefehler", false},
};

QString objectId(const Entity& e, int channel) {
  return e.perChannel ? QStringLiteral("%1_%2").arg(QLatin1String(e.quantity)).arg(channel)
                      : QString::fromLatin1(e.quantity);
}

// One entity's component configuration; `channel` 1 to 4, or 0 for the device's own.
QJsonObject component(const Entity& e, int channel, const QString& id, bool german) {
  const QString field = QStringLiteral("value_json.channels[%1].").arg(channel - 1);
  // A switched-off channel's currents are null in the state: the template renders None,
  // which Home Assistant shows as unknown rather than a value.
  const auto number = [](const QString& path) { return QStringLiteral("{{ %1 }}").arg(path); };
  const auto lamp = [](const QString& path) {
    return QStringLiteral("{{ 'ON' if %1 else 'OFF' }}").arg(path);
  };
  QJsonObject c{
      {QStringLiteral("p"), QLatin1String(e.platform)},
      {QStringLiteral("unique_id"), QStringLiteral("%1_%2").arg(id, objectId(e, channel))}};
  QString name = QString::fromUtf8(german ? e.de : e.en);
  if (e.perChannel) name = name.arg(channel);
  c.insert(QStringLiteral("name"), name);
  const auto sensor = [&](const char* deviceClass, const char* unit, const QString& path,
                          bool measurement) {
    c.insert(QStringLiteral("device_class"), QLatin1String(deviceClass));
    c.insert(QStringLiteral("unit_of_measurement"), QLatin1String(unit));
    c.insert(QStringLiteral("value_template"), number(path));
    if (measurement) c.insert(QStringLiteral("state_class"), QStringLiteral("measurement"));
  };
  const auto problem = [&](const QString& path) {
    c.insert(QStringLiteral("device_class"), QStringLiteral("problem"));
    c.insert(QStringLiteral("value_template"), lamp(path));
  };
  switch (e.kind) {
    case Kind::Current:
      sensor("current", "A", field + QStringLiteral("present"), true);
      break;
    case Kind::Maximum:
      sensor("current", "A", field + QStringLiteral("maximum"), false);
      break;
    case Kind::Rated:
      sensor("current", "A", field + QStringLiteral("rated"), false);
      break;
    case Kind::Warning:
      problem(field + QStringLiteral("warning"));
      break;
    case Kind::Tripped:
      problem(field + QStringLiteral("tripped"));
      break;
    case Kind::Uin:
      sensor("voltage", "V", QStringLiteral("value_json.uin"), true);
      break;
    case Kind::UinMin:
      sensor("voltage", "V", QStringLiteral("value_json.uin_min"), false);
      break;
    case Kind::PowerGood:
      problem(QStringLiteral("value_json.power_good_low"));
      break;
    case Kind::Hardware:
      problem(QStringLiteral("value_json.hardware_fault"));
      break;
  }
  return c;
}

// What every configuration of the device shares: the device, the origin, the state and
// availability topics.
QJsonObject shared(const DiscoverySettings& s, const QString& deviceId, uint8_t type) {
  const QString base = s.topicPrefix + QLatin1Char('/') + deviceId + QLatin1Char('/');
  return {
      {QStringLiteral("dev"),
       QJsonObject{{QStringLiteral("identifiers"),
                    QJsonArray{QStringLiteral("zfuse_%1").arg(discoveryId(deviceId))}},
                   {QStringLiteral("name"), deviceId},
                   {QStringLiteral("manufacturer"), QStringLiteral("Zokara")},
                   {QStringLiteral("model"),
                    QStringLiteral("Electronic Fuse %1").arg(QLatin1String(modelName(type)))}}},
      {QStringLiteral("o"),
       QJsonObject{{QStringLiteral("name"), QStringLiteral("zfusectl")},
                   {QStringLiteral("sw_version"), QLatin1String(kVersion)},
                   {QStringLiteral("support_url"), QLatin1String(kSupportUrl)}}},
      {QStringLiteral("state_topic"), base + QStringLiteral("state")},
      {QStringLiteral("availability_topic"), base + QStringLiteral("online")},
      {QStringLiteral("payload_available"), QStringLiteral("true")},
      {QStringLiteral("payload_not_available"), QStringLiteral("false")},
  };
}

QByteArray compact(const QJsonObject& o) {
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

QByteArray entityTopic(const DiscoverySettings& s, const QString& id, const Entity& e,
                       int channel) {
  return QStringLiteral("%1/%2/%3/%4/config")
      .arg(s.discoveryPrefix, QLatin1String(e.platform), id, objectId(e, channel))
      .toUtf8();
}

QByteArray deviceTopic(const DiscoverySettings& s, const QString& id) {
  return QStringLiteral("%1/device/%2/config").arg(s.discoveryPrefix, id).toUtf8();
}

}  // namespace

QString discoveryId(const QString& deviceId) {
  QString out;
  for (const char c : deviceId.toUtf8()) {
    const auto u = static_cast<unsigned char>(c);
    if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '-') {
      out += QLatin1Char(c);
    } else {
      out += QStringLiteral("_%1").arg(u, 2, 16, QLatin1Char('0'));
    }
  }
  return out;
}

std::vector<RetainedMessage> discoveryMessages(const DiscoverySettings& s, const QString& deviceId,
                                               uint8_t type, const QString& deviceVersion) {
  const QString id = discoveryId(deviceId);
  QJsonObject common = shared(s, deviceId, type);
  if (!deviceVersion.isEmpty()) {
    QJsonObject dev = common.value(QStringLiteral("dev")).toObject();
    dev.insert(QStringLiteral("sw_version"), deviceVersion);
    common.insert(QStringLiteral("dev"), dev);
  }
  const int channels = channelCount(type);
  std::vector<RetainedMessage> messages;
  QJsonObject components;
  for (const Entity& e : kEntities) {
    for (int ch = e.perChannel ? 1 : 0; ch <= (e.perChannel ? 4 : 0); ++ch) {
      const bool present = ch <= channels;
      if (s.perEntity) {
        QJsonObject config = component(e, ch, id, s.german);
        config.remove(QStringLiteral("p"));
        for (auto it = common.begin(); it != common.end(); ++it) config.insert(it.key(), *it);
        messages.push_back({entityTopic(s, id, e, ch), present ? compact(config) : QByteArray()});
      } else if (present) {
        components.insert(QStringLiteral("%1_%2").arg(id, objectId(e, ch)),
                          component(e, ch, id, s.german));
      }
    }
  }
  if (!s.perEntity) {
    QJsonObject config = common;
    config.insert(QStringLiteral("cmps"), components);
    messages.push_back({deviceTopic(s, id), compact(config)});
  }
  return messages;
}

std::vector<QByteArray> discoveryTopics(const DiscoverySettings& s, const QString& deviceId) {
  const QString id = discoveryId(deviceId);
  std::vector<QByteArray> topics{deviceTopic(s, id)};
  for (const Entity& e : kEntities) {
    for (int ch = e.perChannel ? 1 : 0; ch <= (e.perChannel ? 4 : 0); ++ch) {
      topics.push_back(entityTopic(s, id, e, ch));
    }
  }
  return topics;
}

QByteArray discoveryStatusTopic(const DiscoverySettings& s) {
  return (s.discoveryPrefix + QStringLiteral("/status")).toUtf8();
}

}  // namespace zfuse::ctl
