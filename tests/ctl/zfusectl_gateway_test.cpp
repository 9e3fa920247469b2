// zfusectl status --mqtt as a gateway service meets the field: a port not plugged in at
// the start, the broker away, the device's description on the info topic, and the
// retained topics of a device taken out of service.

#include <signal.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <algorithm>

#include "config/deviceconfig.h"
#include "config/exchange.h"
#include "monitor/statustelegram.h"
#include "tests/support/mqttbroker.h"
#include "tests/support/zfusectl_fixture.h"
#include "zfuse_version.h"

namespace zfuse {
namespace {

using test::MqttBroker;
using test::MqttSubscriber;
using Messages = std::vector<MqttSubscriber::Message>;

QJsonObject json(const QByteArray& payload) {
  return QJsonDocument::fromJson(payload).object();
}

QByteArray lastPayload(const Messages& m) {
  return m.empty() ? QByteArray() : m.back().payload;
}

class ZfusectlGateway : public test::ZfusectlFixture {
 protected:
  void TearDown() override {
    if (z.state() != QProcess::NotRunning) {
      z.kill();
      z.waitForFinished();
    }
    ZfusectlFixture::TearDown();
  }
  void launch(const QStringList& args) {
    z.start(QStringLiteral(ZFUSECTL_BINARY), args);
    ASSERT_TRUE(z.waitForStarted());
  }
  // Waits until standard error holds `text`.
  bool errorSays(const QByteArray& text, int ms = 8000) {
    return QTest::qWaitFor(
        [&] {
          err += z.readAllStandardError();
          return err.contains(text);
        },
        ms);
  }
  int terminate() {
    z.terminate();
    if (!z.waitForFinished(10000)) return -1;
    err += z.readAllStandardError();
    return z.exitCode();
  }
  QProcess z;
  QByteArray err;
};

// Started with COM2 not plugged in and the broker not yet up: zfusectl runs on, publishes
// COM1 once the broker is there with COM2 offline, and COM2 from its first telegram once
// it is plugged in. Each round of connection attempts is one line for both devices.
TEST_F(ZfusectlGateway, AMissingPortAndAnAbsentBrokerAtTheStartAreWaitedFor) {
  MqttBroker broker;  // its port chosen, not started
  startDevice(kType4ch10A);
  launch({"status", "--port", "COM1", "--port", "COM2", "--mqtt", broker.url(), "--device-id", "a",
          "--device-id", "b"});
  ASSERT_TRUE(errorSays("COM2 cannot be opened yet, tried again every half second"));
  ASSERT_TRUE(errorSays("cannot connect to 127.0.0.1"));
  ASSERT_TRUE(broker.start());
  MqttSubscriber live(broker.port(), "zfuse/#");
  ASSERT_TRUE(live.waitSubscribed());
  ASSERT_TRUE(live.waitFor([](const Messages& m) { return m.size() > 3; }, 10000));
  ASSERT_TRUE(live.waitFor([&](const Messages&) { return live.on("a/status").size() >= 3; }, 5000));
  // COM2's own connection says it is offline (it need not come before COM1's telegrams).
  EXPECT_TRUE(live.waitFor(
      [&](const Messages&) { return lastPayload(live.on("b/online")) == "false"; }, 3000));
  EXPECT_TRUE(live.on("b/status").empty());

  startDevice(kType2ch6A, 0, "COM2");  // plugged in
  ASSERT_TRUE(live.waitFor([&](const Messages&) { return !live.on("b/status").empty(); }, 5000));
  EXPECT_EQ(json(live.on("b/status").front().payload)["model"].toString(), "2ch6a");
  ASSERT_TRUE(live.waitFor(
      [&](const Messages&) { return lastPayload(live.on("b/online")) == "true"; }, 3000));
  EXPECT_EQ(terminate(), 0) << err.data();
  EXPECT_TRUE(err.contains("COM2 is open now")) << err.data();
  // Every line of the broker's absence names both devices.
  const QList<QByteArray> attempts = err.split('\n');
  int rounds = 0;
  for (const QByteArray& line : attempts) {
    if (!line.contains("cannot connect to")) continue;
    ++rounds;
    EXPECT_TRUE(line.startsWith("zfusectl: MQTT COM1, COM2: cannot connect to")) << line.data();
  }
  EXPECT_GE(rounds, 1);
  EXPECT_EQ(err.count("connected to 127.0.0.1"), 1) << err.data();

  // --require-all: a port missing at the start ends the run at once, as before.
  others.clear();
  test::removePortLinks();
  startDevice(kType4ch10A);
  const auto r = run({"status", "--port", "COM1", "--port", "COM2", "--require-all"});
  EXPECT_EQ(r.exit, 7);
  EXPECT_TRUE(r.err.contains("COM2 cannot be opened:")) << r.err.toStdString();
}

// The info topic: the device's model, version and configuration, read over the port the
// gateway holds without a lost telegram being reported; read again for another device on
// the port. The state of a device gone stays retained, marked stale.
TEST_F(ZfusectlGateway, TheInfoTopicDescribesTheDeviceAndTheStateOfAGoneOneIsStale) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  startDevice(kType4ch10A);
  std::vector<uint8_t> config = sim::factoryConfiguration(kType4ch10A);
  config[0] &= 0x0F;  // channel 2 switched off
  device->setConfiguration(config);
  MqttSubscriber live(broker.port(), "zfuse/#");
  ASSERT_TRUE(live.waitSubscribed());
  launch({"status", "--port", "COM1", "--mqtt", broker.url(), "--device-id", "a"});
  ASSERT_TRUE(live.waitFor([&](const Messages&) { return !live.on("a/info").empty(); }, 10000));
  const QJsonObject info = json(live.on("a/info").front().payload);
  const auto expected = configurationOfReply(sim::configurationReply(
      kType4ch10A, device->configuration(), sim::DeviceSimulator::Options().version));
  ASSERT_TRUE(expected.has_value());
  EXPECT_EQ(info["model"].toString(), "4ch10a");
  EXPECT_EQ(info["port"].toString(), "COM1");
  EXPECT_EQ(info["device_version"].toString(), QString::fromStdString(expected->version));
  EXPECT_EQ(info["tool_version"].toString(), QLatin1String(kVersion));
  QJsonObject settings;
  for (const auto& [field, text] : settingTexts(*expected)) {
    settings.insert(QString::fromStdString(field), QString::fromStdString(text));
  }
  EXPECT_EQ(info["configuration"].toObject(), settings);
  for (const auto& request : device->requests()) {  // read, nothing written
    EXPECT_EQ(QByteArray(reinterpret_cast<const char*>(request.data()),
                         static_cast<qsizetype>(request.size())),
              readRequest());
  }

  // The read lent the port for a moment: telegrams go on, no loss is reported.
  const std::size_t seen = live.on("a/status").size();
  ASSERT_TRUE(
      live.waitFor([&](const Messages&) { return live.on("a/status").size() >= seen + 30; }, 8000));
  for (const auto& e : live.on("a/events")) EXPECT_FALSE(e.payload.contains("connection_"));

  // Another device on the port: described afresh.
  startDevice(kType2ch6A);
  ASSERT_TRUE(live.waitFor(
      [&](const Messages&) {
        return json(lastPayload(live.on("a/info")))["model"].toString() == "2ch6a";
      },
      10000));

  // Pulled: online false, and the retained state keeps its values marked stale.
  device.reset();
  ASSERT_TRUE(live.waitFor(
      [&](const Messages&) { return lastPayload(live.on("a/online")) == "false"; }, 5000));
  ASSERT_TRUE(live.waitFor(
      [&](const Messages&) { return json(lastPayload(live.on("a/state")))["stale"].toBool(); },
      3000));
  MqttSubscriber late(broker.port(), "zfuse/#");
  ASSERT_TRUE(late.waitFor([](const Messages& m) { return m.size() >= 3; }, 3000));
  const QJsonObject state = json(lastPayload(late.on("a/state")));
  EXPECT_TRUE(state["stale"].toBool());
  EXPECT_EQ(state["model"].toString(), "2ch6a");
  EXPECT_TRUE(late.on("a/info").at(0).retained);
  EXPECT_TRUE(errorSays("COM1: device lost"));
  EXPECT_EQ(terminate(), 0) << err.data();
}

// mqtt-clean takes what the broker retains for an old device id, and only that.
TEST_F(ZfusectlGateway, MqttCleanClearsTheRetainedTopicsOfAnOldDevice) {
  MqttBroker broker;
  ASSERT_TRUE(broker.start());
  startDevice(kType4ch10A);
  startDevice(kType2ch6A, 0, "COM2");
  launch({"status", "--port", "COM1", "--port", "COM2", "--device-id", "old", "--device-id", "keep",
          "--mqtt", broker.url(), "--ha-discovery"});
  const auto of = [](const Messages& m, const QString& id) {
    return std::count_if(m.begin(), m.end(), [&](const auto& x) {
      return x.retained &&
             (x.topic.contains("/" + id + "/") || x.topic.contains("zfuse_" + id + "/"));
    });
  };
  {
    MqttSubscriber before(broker.port(), "#");
    ASSERT_TRUE(before.waitSubscribed());
    ASSERT_TRUE(before.waitFor(
        [&](const Messages&) {
          return !before.on("old/info").empty() && !before.on("keep/info").empty();
        },
        10000));
  }
  EXPECT_EQ(terminate(), 0) << err.data();
  MqttSubscriber retained(broker.port(), "#");
  ASSERT_TRUE(retained.waitFor(
      [&](const Messages& m) { return of(m, "old") >= 4 && of(m, "keep") >= 4; }, 5000));

  const auto r = run({"mqtt-clean", "--mqtt", broker.url(), "--device-id", "old"});
  EXPECT_EQ(r.exit, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains(QRegularExpression("^old: \\d+ retained topics cleared")))
      << r.out.toStdString();
  MqttSubscriber after(broker.port(), "#");
  ASSERT_TRUE(after.waitFor([&](const Messages& m) { return of(m, "keep") >= 4; }, 5000));
  EXPECT_EQ(of(after.messages(), "old"), 0);

  // A broker that is not there: the broker's exit code; a command without an id: usage.
  MqttBroker away;
  EXPECT_EQ(run({"mqtt-clean", "--mqtt", away.url(), "--device-id", "old"}).exit, 7);
  EXPECT_EQ(run({"mqtt-clean", "--mqtt", broker.url()}).exit, 2);
  EXPECT_EQ(run({"mqtt-clean", "--mqtt", broker.url(), "--device-id", "x", "--port", "COM1"}).exit,
            2);
}

}  // namespace
}  // namespace zfuse
