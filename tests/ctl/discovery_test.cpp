// The discovery configurations as built: ids encoded for discovery topics without
// collisions, unique ids unique across many devices, the model's channels only, names
// in the chosen language.

#include "ctl/discovery.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QSet>
#include <algorithm>

namespace zfuse::ctl {
namespace {

QJsonObject json(const QByteArray& bytes) {
  return QJsonDocument::fromJson(bytes).object();
}

TEST(Discovery, DeviceIdsAreEncodedForTopicsWithoutCollisions) {
  const struct {
    const char* id;
    const char* encoded;
  } cases[] = {
      {"gw1-COM1", "gw1-COM1"},   {"hall 2", "hall_202"},
      {"hall_202", "hall_5f202"},  // '_' is the escape itself, so it is escaped too
      {"Straße", "Stra_c3_9fe"},  {"a.b", "a_2eb"},
  };
  QSet<QString> seen;
  for (const auto& c : cases) {
    EXPECT_EQ(discoveryId(QString::fromUtf8(c.id)), c.encoded) << c.id;
    seen.insert(discoveryId(QString::fromUtf8(c.id)));
  }
  EXPECT_EQ(seen.size(), static_cast<qsizetype>(std::size(cases)));
}

TEST(Discovery, UniqueIdsStayUniqueAcrossThirtyTwoDevices) {
  DiscoverySettings s;
  QSet<QString> uniqueIds;
  QSet<QByteArray> topics;
  int entities = 0;
  for (int n = 0; n < 32; ++n) {
    // Ids that differ only where encoding could make them meet.
    const QString id =
        n % 2 ? QStringLiteral("line %1").arg(n / 2) : QStringLiteral("line_20%1").arg(n / 2);
    for (const RetainedMessage& m : discoveryMessages(s, id, kType4ch10A)) {
      EXPECT_FALSE(topics.contains(m.topic)) << m.topic.constData();
      topics.insert(m.topic);
      const QJsonObject components = json(m.payload)["cmps"].toObject();
      for (const QString& key : components.keys()) {
        uniqueIds.insert(components[key]["unique_id"].toString());
        ++entities;
      }
    }
  }
  EXPECT_EQ(entities, 32 * 24);
  EXPECT_EQ(uniqueIds.size(), entities);
}

TEST(Discovery, OnlyTheModelsChannelsAreAnnouncedInTheChosenLanguage) {
  DiscoverySettings s;
  s.german = true;
  const auto device = discoveryMessages(s, "p", kType2ch6A);
  ASSERT_EQ(device.size(), 1u);
  EXPECT_EQ(device[0].topic, "homeassistant/device/p/config");
  const QJsonObject cmps = json(device[0].payload)["cmps"].toObject();
  EXPECT_EQ(cmps.size(), 2 * 5 + 4);
  EXPECT_FALSE(cmps.contains("p_current_3"));
  EXPECT_EQ(cmps["p_tripped_2"]["name"].toString(), QString::fromUtf8("Kanal 2 ausgelöst"));
  EXPECT_EQ(json(device[0].payload)["dev"].toObject()["model"].toString(), "Electronic Fuse 2ch6a");
  // The device's own version once it is known.
  EXPECT_FALSE(json(device[0].payload)["dev"].toObject().contains("sw_version"));
  const QJsonObject versioned =
      json(discoveryMessages(s, "p", kType2ch6A, "1.07")[0].payload)["dev"].toObject();
  EXPECT_EQ(versioned["sw_version"].toString(), "1.07");

  // Per entity: the channels the model lacks are cleared; every topic a device may have
  // used is among those --ha-remove clears.
  s.perEntity = true;
  const auto entities = discoveryMessages(s, "p", kType2ch6A);
  int cleared = 0;
  const auto all = discoveryTopics(s, "p");
  for (const RetainedMessage& m : entities) {
    if (m.payload.isEmpty()) {
      ++cleared;
      EXPECT_TRUE(m.topic.endsWith("_3/config") || m.topic.endsWith("_4/config"))
          << m.topic.constData();
    }
    EXPECT_NE(std::find(all.begin(), all.end(), m.topic), all.end()) << m.topic.constData();
  }
  EXPECT_EQ(cleared, 2 * 5);
  EXPECT_NE(std::find(all.begin(), all.end(), QByteArray("homeassistant/device/p/config")),
            all.end());
}

}  // namespace
}  // namespace zfuse::ctl
