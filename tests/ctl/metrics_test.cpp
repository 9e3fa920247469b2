// The metrics page: which samples a device has in which state, the numbers in base
// units, label values that need escaping, and the trip counter.

#include "ctl/metrics.h"

#include <gtest/gtest.h>

#include <QStringList>

namespace zfuse::ctl {
namespace {

StatusReading reading(uint8_t type, std::array<uint8_t, 4> rated) {
  StatusReading r;
  r.type = type;
  r.rated = rated;
  r.present = {1234, 5, 100, 0};
  r.highest = {1500, 7, 200, 0};
  r.uin = 2403;
  r.uinMin = 1890;
  return r;
}

// The sample lines of one metric, without the help and type lines.
QStringList samples(const QByteArray& page, const QString& name) {
  QStringList lines;
  for (const QString& line : QString::fromUtf8(page).split('\n')) {
    if (line.startsWith(name + '{')) lines << line;
  }
  return lines;
}

TEST(Metrics, SamplesFollowTheModelAndTheSwitchedOnChannels) {
  MetricsStore store({"a", "b", "c"}, {"COM1", "COM2", "COM3"});
  // a: four channels, channel 2 switched off; b: two channels; c: no telegram yet.
  store.telegram(0, reading(kType4ch10A, {10, 0, 6, 4}));
  store.telegram(1, reading(kType2ch6A, {6, 6, 0, 0}));
  store.setVersion(1, QStringLiteral("1.07"));  // b's configuration was read
  const QByteArray page = renderMetrics(store.snapshot());
  const struct {
    const char* metric;
    QStringList lines;
  } cases[] = {
      {"zfuse_up",
       {R"(zfuse_up{device="a",port="COM1"} 1)", R"(zfuse_up{device="b",port="COM2"} 1)",
        R"(zfuse_up{device="c",port="COM3"} 0)"}},
      {"zfuse_current_amperes",
       {R"(zfuse_current_amperes{device="a",port="COM1",channel="1"} 12.34)",
        R"(zfuse_current_amperes{device="a",port="COM1",channel="3"} 1.00)",
        R"(zfuse_current_amperes{device="a",port="COM1",channel="4"} 0.00)",
        R"(zfuse_current_amperes{device="b",port="COM2",channel="1"} 12.34)",
        R"(zfuse_current_amperes{device="b",port="COM2",channel="2"} 0.05)"}},
      {"zfuse_current_rated_amperes",
       {R"(zfuse_current_rated_amperes{device="a",port="COM1",channel="1"} 10)",
        R"(zfuse_current_rated_amperes{device="a",port="COM1",channel="3"} 6)",
        R"(zfuse_current_rated_amperes{device="a",port="COM1",channel="4"} 4)",
        R"(zfuse_current_rated_amperes{device="b",port="COM2",channel="1"} 6)",
        R"(zfuse_current_rated_amperes{device="b",port="COM2",channel="2"} 6)"}},
      // Lamps for every channel the model has, switched on or not.
      {"zfuse_channel_tripped",
       {R"(zfuse_channel_tripped{device="a",port="COM1",channel="1"} 0)",
        R"(zfuse_channel_tripped{device="a",port="COM1",channel="2"} 0)",
        R"(zfuse_channel_tripped{device="a",port="COM1",channel="3"} 0)",
        R"(zfuse_channel_tripped{device="a",port="COM1",channel="4"} 0)",
        R"(zfuse_channel_tripped{device="b",port="COM2",channel="1"} 0)",
        R"(zfuse_channel_tripped{device="b",port="COM2",channel="2"} 0)"}},
      {"zfuse_input_voltage_minimum_volts",
       {R"(zfuse_input_voltage_minimum_volts{device="a",port="COM1"} 18.90)",
        R"(zfuse_input_voltage_minimum_volts{device="b",port="COM2"} 18.90)"}},
      {"zfuse_device_info",
       {R"(zfuse_device_info{device="a",port="COM1",model="4ch10a",type="0x17"} 1)",
        R"(zfuse_device_info{device="b",port="COM2",model="2ch6a",type="0x11",version="1.07"} 1)"}},
      // Counters of a device without telegrams are there, at 0.
      {"zfuse_telegrams_total",
       {R"(zfuse_telegrams_total{device="a",port="COM1"} 1)",
        R"(zfuse_telegrams_total{device="b",port="COM2"} 1)",
        R"(zfuse_telegrams_total{device="c",port="COM3"} 0)"}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(samples(page, c.metric), c.lines) << c.metric;
    EXPECT_TRUE(page.contains(QByteArray("# TYPE ") + c.metric)) << c.metric;
  }
}

TEST(Metrics, TripsCountWhenTheLampLightsAndSilenceTakesTheDeviceDown) {
  MetricsStore store({"a"}, {"COM1"});
  StatusReading r = reading(kType2ch10A, {10, 10, 0, 0});
  // Channel 1's lamp: lit in the first telegram, stays, goes out, lights again.
  for (const bool lit : {true, true, false, true}) {
    r.channelBits = lit ? 0x02 : 0x00;
    store.telegram(0, r);
  }
  store.badTelegram(0);
  store.reopened(0);
  store.silent(0);
  const QByteArray page = renderMetrics(store.snapshot());
  EXPECT_EQ(samples(page, "zfuse_trips_total"),
            QStringList({R"(zfuse_trips_total{device="a",port="COM1",channel="1"} 2)",
                         R"(zfuse_trips_total{device="a",port="COM1",channel="2"} 0)"}));
  EXPECT_EQ(samples(page, "zfuse_up"), QStringList{R"(zfuse_up{device="a",port="COM1"} 0)"});
  EXPECT_TRUE(page.contains(R"(zfuse_bad_telegrams_total{device="a",port="COM1"} 1)"));
  EXPECT_TRUE(page.contains(R"(zfuse_reopens_total{device="a",port="COM1"} 1)"));
  // The last values stay while it is down.
  EXPECT_TRUE(page.contains(R"(zfuse_channel_tripped{device="a",port="COM1",channel="1"} 1)"));
}

TEST(Metrics, LabelValuesAreEscaped) {
  MetricsStore store({R"(hall "2" \ line)"}, {"COM1"});
  EXPECT_TRUE(renderMetrics(store.snapshot())
                  .contains(R"(zfuse_up{device="hall \"2\" \\ line",port="COM1"} 0)"));
}

}  // namespace
}  // namespace zfuse::ctl
