#include "monitor/eventlog.h"

#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <vector>

#include "monitor/statusoutput.h"

namespace zfuse {
namespace {

using Kind = DeviceEvent::Kind;

const QDateTime kTime(QDate(2026, 12, 11), QTime(3, 4, 5, 6));

// A reading of `type` with the given lamp bytes.
StatusReading lamps(uint8_t channelBits, uint8_t supplyBits = 0, uint8_t type = kType4ch10A) {
  StatusReading r;
  r.type = type;
  r.channelBits = channelBits;
  r.supplyBits = supplyBits;
  return r;
}

// What happens in a sequence: a reading, or a silence (nullopt).
using Step = std::optional<StatusReading>;

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::vector<DeviceEvent> expected;  // in the order they happened
};

DeviceEvent ev(Kind kind, int channel, bool on = true) {
  return DeviceEvent{kTime, kind, channel, on};
}

// What happened, without the values the telegram carried.
DeviceEvent withoutValues(DeviceEvent e) {
  e.present = {-1, -1, -1, -1};
  e.uin = -1;
  return e;
}

TEST(EventDetector, LampSequencesBecomeEvents) {
  const std::vector<Case> cases = {
      {"all lamps out: nothing", {lamps(0), lamps(0)}, {}},
      {"lit at the start is logged", {lamps(0x02)}, {ev(Kind::Trip, 0)}},
      {"warning on then off on channel 3",
       {lamps(0), lamps(0x10), lamps(0x10), lamps(0)},
       {ev(Kind::Warning, 2), ev(Kind::Warning, 2, false)}},
      {"warning turns into a trip on channel 4",
       {lamps(0x40), lamps(0x80)},
       {ev(Kind::Warning, 3), ev(Kind::Warning, 3, false), ev(Kind::Trip, 3)}},
      {"device lamps",
       {lamps(0, 0x01), lamps(0, 0x03), lamps(0, 0)},
       {ev(Kind::PowerGoodLow, -1), ev(Kind::HardwareFault, -1), ev(Kind::PowerGoodLow, -1, false),
        ev(Kind::HardwareFault, -1, false)}},
      {"silence before any telegram is no loss", {std::nullopt, lamps(0)}, {}},
      {"one loss per silence, back with the next telegram",
       {lamps(0), std::nullopt, std::nullopt, lamps(0)},
       {ev(Kind::ConnectionLost, -1), ev(Kind::ConnectionBack, -1)}},
      {"lamps after a gap compare with the last reading before it",
       {lamps(0x02), std::nullopt, lamps(0x02), lamps(0)},
       {ev(Kind::Trip, 0), ev(Kind::ConnectionLost, -1), ev(Kind::ConnectionBack, -1),
        ev(Kind::Trip, 0, false)}},
      {"a two-channel model has no channel 3 and 4 events",
       {lamps(0xF0, 0, kType2ch6A), lamps(0xF1, 0, kType2ch6A)},
       {ev(Kind::Warning, 0)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EventDetector detector;
    detector.setClock([] { return kTime; });
    std::vector<DeviceEvent> seen;
    QObject::connect(&detector, &EventDetector::occurred,
                     [&](const DeviceEvent& e) { seen.push_back(withoutValues(e)); });
    for (const Step& step : c.steps) {
      if (step) {
        detector.reading(*step);
      } else {
        detector.silence();
      }
    }
    EXPECT_EQ(seen, c.expected);
  }
}

TEST(EventLog, NewestFirstAndBounded) {
  EventLog log;
  for (int i = 0; i < EventLog::kMaxEntries + 5; ++i) {
    log.append(DeviceEvent{kTime.addMSecs(i), Kind::Warning, i % 4, i % 2 == 0});
  }
  EXPECT_EQ(log.size(), EventLog::kMaxEntries);
  EXPECT_EQ(log.dropped(), 5u);
  EXPECT_EQ(log.at(0).time, kTime.addMSecs(EventLog::kMaxEntries + 4));
  EXPECT_EQ(log.at(log.size() - 1).time, kTime.addMSecs(5));
  log.clear();
  EXPECT_EQ(log.size(), 0);
  EXPECT_EQ(log.dropped(), 0u);
}

TEST(EventLog, JsonCarriesKeyChannelAndState) {
  const QJsonObject trip =
      QJsonDocument::fromJson(eventJson(ev(Kind::Trip, 1, false), "COM2").toUtf8()).object();
  EXPECT_EQ(trip["event"].toString(), "trip");
  EXPECT_EQ(trip["channel"].toInt(), 2);
  EXPECT_EQ(trip["on"].toBool(), false);
  EXPECT_EQ(trip["port"].toString(), "COM2");
  const QJsonObject lost =
      QJsonDocument::fromJson(eventJson(ev(Kind::ConnectionLost, -1), "COM1").toUtf8()).object();
  EXPECT_EQ(lost["event"].toString(), "connection_lost");
  EXPECT_TRUE(lost["channel"].isNull());
}

}  // namespace
}  // namespace zfuse

namespace zfuse {
namespace {

TEST(EventLog, ExportsCsvOldestFirst) {
  EventLog log;
  log.append(ev(Kind::Warning, 0));
  log.append(ev(Kind::ConnectionLost, -1));
  log.append(DeviceEvent{kTime.addMSecs(1500), Kind::Trip, 3, false});
  const QByteArray zone = isoTime(kTime).mid(23).toUtf8();  // the local offset
  EXPECT_EQ(log.toCsv("COM2"),
            "time,port,event,channel,on,i1_A,i2_A,i3_A,i4_A,uin_V\r\n"
            "2026-12-11T03:04:05.006" +
                zone +
                ",COM2,warning,1,1,,,,,\r\n"
                "2026-12-11T03:04:05.006" +
                zone +
                ",COM2,connection_lost,,1,,,,,\r\n"
                "2026-12-11T03:04:06.506" +
                zone + ",COM2,trip,4,0,,,,,\r\n");
}

}  // namespace
}  // namespace zfuse

namespace zfuse {
namespace {

// An entry keeps the currents and the voltage of the telegram that raised it; entries no
// telegram raised keep none. Exported in both dialects.
TEST(EventDetector, EntriesKeepTheValuesOfTheirTelegram) {
  EventDetector detector;
  detector.setClock([] { return kTime; });
  std::vector<DeviceEvent> seen;
  QObject::connect(&detector, &EventDetector::occurred,
                   [&](const DeviceEvent& e) { seen.push_back(e); });
  StatusReading r = lamps(0);
  r.rated = {10, 0, 6, 2};  // channel 2 switched off
  r.present = {420, 0, 162, 5};
  r.uin = 2381;
  detector.reading(r);
  r.channelBits = 0x80;  // channel 4 trips
  r.present = {420, 0, 162, 0};
  detector.reading(r);
  detector.silence();
  detector.configurationWritten();
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[0].kind, Kind::Trip);
  EXPECT_EQ(seen[0].present, (std::array<int, 4>{420, -1, 162, 0}));
  EXPECT_EQ(seen[0].uin, 2381);
  for (const DeviceEvent& e : {seen[1], seen[2]}) {
    EXPECT_FALSE(e.hasValues());
    EXPECT_EQ(e.present, (std::array<int, 4>{-1, -1, -1, -1}));
  }

  EventLog log;
  log.append(seen[0]);
  log.append(seen[1]);
  const QByteArray zone = isoTime(kTime).mid(23).toUtf8();
  EXPECT_EQ(log.toCsv("COM1"),
            "time,port,event,channel,on,i1_A,i2_A,i3_A,i4_A,uin_V\r\n"
            "2026-12-11T03:04:05.006" +
                zone +
                ",COM1,trip,4,1,4.20,,1.62,0.00,23.81\r\n"
                "2026-12-11T03:04:05.006" +
                zone + ",COM1,connection_lost,,1,,,,,\r\n");
  EXPECT_EQ(log.toCsv("COM;1", CsvDialect::Semicolon),
            "time;port;event;channel;on;i1_A;i2_A;i3_A;i4_A;uin_V\r\n"
            "2026-12-11T03:04:05.006" +
                zone +
                ";\"COM;1\";trip;4;1;4,20;;1,62;0,00;23,81\r\n"
                "2026-12-11T03:04:05.006" +
                zone + ";\"COM;1\";connection_lost;;1;;;;;\r\n");
}

TEST(DeviceEvent, EveryKindBelongsToOneFilterGroup) {
  using Group = DeviceEvent::Group;
  const std::pair<Kind, Group> cases[] = {
      {Kind::Trip, Group::Trip},
      {Kind::Warning, Group::Warning},
      {Kind::PowerGoodLow, Group::Voltage},
      {Kind::HardwareFault, Group::DeviceFault},
      {Kind::ConnectionLost, Group::Connection},
      {Kind::ConnectionBack, Group::Connection},
      {Kind::ConfigurationWritten, Group::Configuration},
  };
  for (const auto& [kind, group] : cases) EXPECT_EQ(ev(kind, -1).group(), group);
}

}  // namespace
}  // namespace zfuse
