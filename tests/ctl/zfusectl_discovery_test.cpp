// zfusectl status --mqtt --ha-discovery against a real broker (mosquitto on a free
// loopback port) and simulated fuses: the configurations a subscriber that connects
// later finds retained, checked against the discovery convention with their templates
// rendered on the real state payload (tests/ctl/ha_discovery_check.py); republished
// when Home Assistant announces itself; cleared by --ha-remove.

#include <gtest/gtest.h>

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <memory>

#include "monitor/statustelegram.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/zfusectl_fixture.h"
#include "tools/devicesim.h"

namespace zfuse {
namespace {

using test::MqttBroker;
using test::MqttSubscriber;
using Messages = std::vector<MqttSubscriber::Message>;

std::vector<MqttSubscriber::Message> matching(const Messages& all, const QString& pattern) {
  Messages found;
  const QRegularExpression re(QRegularExpression::anchoredPattern(pattern));
  for (const auto& m : all) {
    if (re.match(m.topic).hasMatch()) found.push_back(m);
  }
  return found;
}

class ZfusectlDiscovery : public test::ZfusectlFixture {
 protected:
  void TearDown() override {
    if (zfusectl) {
      zfusectl->terminate();
      zfusectl->waitForFinished(10000);
    }
    ZfusectlFixture::TearDown();
  }
  void launch(const QStringList& args) {
    zfusectl = std::make_unique<QProcess>();
    zfusectl->start(ZFUSECTL_BINARY, args);
    ASSERT_TRUE(zfusectl->waitForStarted());
  }
  // Runs the convention check on what a late subscriber found retained.
  static void expectConventionKept(const Messages& retained, bool perEntity) {
    QTemporaryDir dir;
    int n = 0;
    for (const QString& device : {QStringLiteral("press 1"), QStringLiteral("press-2")}) {
      const Messages state =
          matching(retained, "plant/" + QRegularExpression::escape(device) + "/state");
      ASSERT_EQ(state.size(), 1u) << device.toStdString();
      const auto write = [&](const QString& name, const QByteArray& bytes) {
        QFile f(dir.filePath(name));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
      };
      write(QStringLiteral("%1.state").arg(n), state[0].payload);
      const QString id = device == "press 1" ? "press_201" : "press-2";
      if (perEntity) {
        int k = 0;
        for (const auto& m : matching(retained, "ha/(sensor|binary_sensor)/" + id + "/.*/config")) {
          write(QStringLiteral("%1-%2-%3.entity").arg(n).arg(m.topic.section('/', 1, 1)).arg(k++),
                m.payload);
        }
      } else {
        const Messages config = matching(retained, "ha/device/" + id + "/config");
        ASSERT_EQ(config.size(), 1u);
        write(QStringLiteral("%1.config").arg(n), config[0].payload);
      }
      ++n;
    }
    QProcess check;
    check.setProcessChannelMode(QProcess::MergedChannels);
    // Debian's Python with its python3-jinja2, whatever python3 comes first on the path.
    check.start("/usr/bin/python3",
                {ZFUSE_SOURCE_DIR "/tests/ctl/ha_discovery_check.py", dir.path()});
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAll().toStdString();
  }
  std::unique_ptr<QProcess> zfusectl;
};

TEST_F(ZfusectlDiscovery, RetainedConfigurationsKeepTheConventionAndComeBackAndGo) {
  for (const bool perEntity : {false, true}) {
    SCOPED_TRACE(perEntity ? "per entity" : "per device");
    MqttBroker broker;
    ASSERT_TRUE(broker.start());
    // Four channels, the second switched off; and a two-channel fuse.
    startDevice(kType4ch10A);
    std::vector<uint8_t> config = sim::factoryConfiguration(kType4ch10A);
    config[0] &= 0x0F;
    device->setConfiguration(config);
    startDevice(kType2ch6A, 0, "COM2");
    QStringList args{
        "status",     "--port",         "COM1",        "--device-id",    "press 1",
        "--port",     "COM2",           "--device-id", "press-2",        "--mqtt",
        broker.url(), "--topic-prefix", "plant",       "--ha-discovery", "--ha-discovery-prefix",
        "ha"};
    if (perEntity) args << "--ha-discovery-per-entity";
    launch(args);
    MqttSubscriber live(broker.port(), "ha/#");
    ASSERT_TRUE(live.waitSubscribed());
    // Per entity: every entity topic of four channels, 24 a device (those the model
    // lacks with an empty payload); 24 + 14 of them hold a configuration.
    const int announced = perEntity ? 2 * 24 : 2;
    const int kept = perEntity ? 24 + 14 : 2;
    // Announced again once each device's version is read: those are the ones kept.
    const QByteArray version =
        "\"sw_version\":\"" + QByteArray(sim::DeviceSimulator::Options().version.c_str()) + '"';
    ASSERT_TRUE(live.waitFor(
        [&](const Messages& m) {
          return std::count_if(m.begin(), m.end(),
                               [&](const auto& x) { return x.payload.contains(version); }) >= kept;
        },
        10000));

    // A subscriber that comes later finds them retained, with the devices' state.
    MqttSubscriber late(broker.port(), "#");
    ASSERT_TRUE(late.waitSubscribed());
    ASSERT_TRUE(late.waitFor(
        [&](const Messages& m) {
          return matching(m, "plant/.*/state").size() == 2 &&
                 matching(m, "ha/.*").size() >= static_cast<std::size_t>(kept);
        },
        10000));
    const Messages retained = late.messages();
    for (const auto& m : matching(retained, "ha/.*"))
      EXPECT_TRUE(m.retained) << m.topic.toStdString();
    // The two-channel fuse's channels 3 and 4, per entity, are cleared, not announced.
    EXPECT_EQ(matching(retained, "ha/.*").size(), static_cast<std::size_t>(kept));
    EXPECT_TRUE(matching(retained, "ha/.*/press-2/.*_[34]/config").empty());
    expectConventionKept(retained, perEntity);

    // Home Assistant restarts and announces itself: the configurations come again.
    const std::size_t before = live.messages().size();
    QProcess::execute("mosquitto_pub",
                      {"-p", QString::number(broker.port()), "-t", "ha/status", "-m", "online"});
    EXPECT_TRUE(live.waitFor(
        [&](const Messages& m) {
          return static_cast<int>(matching(Messages(m.begin() + static_cast<long>(before), m.end()),
                                           "ha/.*/config")
                                      .size()) >= announced;
        },
        10000));
    zfusectl->terminate();
    ASSERT_TRUE(zfusectl->waitForFinished(10000));

    // press-2 is taken off the command line and removed: nothing of it stays retained.
    launch({"status", "--port", "COM1", "--device-id", "press 1", "--mqtt", broker.url(),
            "--topic-prefix", "plant", "--ha-discovery", "--ha-discovery-prefix", "ha",
            "--ha-remove", "press-2", "--seconds", "2"});
    ASSERT_TRUE(zfusectl->waitForFinished(10000));
    EXPECT_EQ(zfusectl->exitCode(), 0);
    MqttSubscriber after(broker.port(), "ha/#");
    ASSERT_TRUE(after.waitSubscribed());
    ASSERT_TRUE(after.waitFor(
        [&](const Messages& m) { return !matching(m, "ha/.*press_201.*").empty(); }, 5000));
    EXPECT_TRUE(matching(after.messages(), "ha/.*press-2.*").empty());
    zfusectl.reset();
    device.reset();
    others.clear();
  }
}

TEST_F(ZfusectlDiscovery, BadPrefixesAndIdsAreRefused) {
  const struct {
    QStringList args;
    const char* says;
  } cases[] = {
      {{"--ha-discovery-prefix", "home assistant"}, "only ASCII letters"},
      {{"--ha-discovery-prefix", "ha/#"}, "no '+' or '#'"},
      {{"--ha-discovery-prefix", "$SYS"}, "no leading '$'"},
      {{"--ha-discovery-prefix", "häuser"}, "only ASCII letters"},
      {{"--ha-remove", "a/b"}, "--ha-remove 'a/b': one topic level"},
      {{"--ha-remove", "line7"}, "that device is served"},
  };
  for (const auto& c : cases) {
    const auto r = run(QStringList{"status", "--port", "COM1", "--device-id", "line7", "--mqtt",
                                   "mqtt://host", "--ha-discovery"} +
                       c.args);
    EXPECT_EQ(r.exit, 2) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
  }
  EXPECT_EQ(run({"status", "--port", "COM1", "--ha-remove", "x"}).exit, 2);
  EXPECT_EQ(run({"status", "--port", "COM1", "--ha-discovery"}).exit, 2);  // needs --mqtt
}

}  // namespace
}  // namespace zfuse
