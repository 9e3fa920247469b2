// The MQTT publisher's queues while the broker is away: what it keeps, what it drops and
// counts, and the order in which the kept messages arrive once the broker is there.

#include "ctl/mqttpublisher.h"

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QThread>

#include "tests/support/mqttbroker.h"

namespace zfuse::ctl {
namespace {

using test::MqttBroker;
using test::MqttSubscriber;
using Messages = std::vector<MqttSubscriber::Message>;

BrokerSettings at(const MqttBroker& broker) {
  QString error;
  BrokerSettings s = *parseBrokerUrl(broker.url(), &error);
  s.topicPrefix = QStringLiteral("q");
  return s;
}

TEST(MqttPublisher, QueuesWhileTheBrokerIsAwayAreBoundedAndSentInOrder) {
  // Not started yet: connections are refused. It forwards all ten thousand events to the
  // subscriber however far behind that falls.
  MqttBroker broker("max_queued_messages 0");
  MqttPublisher publisher(at(broker), {"d"}, {"COM1"});
  publisher.start();
  const int events = MqttPublisher::kEventQueue + 50;
  for (int n = 0; n < events; ++n) publisher.publishEvent(0, QString::number(n));
  for (int n = 0; n < 100; ++n) publisher.publishStatus(0, QString::number(n));
  publisher.setOnline(0, true);
  MqttPublisher::Counters c = publisher.counters(0);
  EXPECT_EQ(c.eventsDropped, 50u);  // the newest beyond the bound
  EXPECT_EQ(c.eventsUnsent, static_cast<quint64>(MqttPublisher::kEventQueue));
  EXPECT_EQ(c.statusDropped, static_cast<quint64>(100 - MqttPublisher::kStatusQueue));

  // The broker comes before the second attempt, one second after the first.
  ASSERT_TRUE(broker.start());
  MqttSubscriber subscriber(broker.port(), "q/d/#");
  ASSERT_TRUE(subscriber.waitSubscribed());
  ASSERT_TRUE(subscriber.waitFor(
      [](const Messages& m) {
        return std::count_if(m.begin(), m.end(), [](const auto& x) {
                 return x.topic == "q/d/events";
               }) >= MqttPublisher::kEventQueue;
      },
      20000));
  const Messages received = subscriber.messages();
  int nextEvent = 0;
  int nextStatus = 100 - MqttPublisher::kStatusQueue;  // the oldest went
  for (const auto& m : received) {
    if (m.topic == "q/d/events") {
      EXPECT_EQ(m.payload.toInt(), nextEvent++);
    } else if (m.topic == "q/d/status") {
      EXPECT_EQ(m.payload.toInt(), nextStatus++);
    } else if (m.topic == "q/d/state") {
      EXPECT_EQ(m.payload, "99");  // the latest, whatever was dropped
    } else {
      EXPECT_EQ(m.topic, "q/d/online");
      EXPECT_EQ(m.payload, "true");
    }
  }
  EXPECT_EQ(nextEvent, MqttPublisher::kEventQueue);
  EXPECT_EQ(nextStatus, 100);

  publisher.finish(3000);
  c = publisher.counters(0);
  EXPECT_EQ(c.eventsSent, static_cast<quint64>(MqttPublisher::kEventQueue));
  EXPECT_EQ(c.eventsUnsent, 0u);
  EXPECT_EQ(c.statusSent, static_cast<quint64>(MqttPublisher::kStatusQueue));
  EXPECT_TRUE(subscriber.waitFor(
      [](const Messages& m) {
        return m.back().topic == "q/d/online" && m.back().payload == "false";
      },
      2000));
}

TEST(MqttPublisher, FirstFailureIsReportedOnceAndFinishDoesNotWaitForAnAbsentBroker) {
  MqttBroker nobody;
  MqttPublisher publisher(at(nobody), {"a", "b"}, {"COM1", "COM2"});
  QStringList reasons;
  QObject::connect(&publisher, &MqttPublisher::firstAttemptFailed,
                   [&](const QString& why) { reasons << why; });
  publisher.start();
  publisher.publishEvent(0, "kept");
  for (int n = 0; n < 79; ++n) publisher.publishStatus(1, QString::number(n));
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 1500) QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
  // One report per device, however often it tries again.
  ASSERT_EQ(reasons.size(), 2);
  EXPECT_TRUE(reasons[0].contains("Connection refused")) << reasons[0].toStdString();
  t.restart();
  publisher.finish(3000);
  EXPECT_LT(t.elapsed(), 500);
  EXPECT_EQ(publisher.counters(0).eventsUnsent, 1u);
  // Nothing reached the broker: every status message of the run counts as dropped.
  EXPECT_EQ(publisher.counters(1).statusSent, 0u);
  EXPECT_EQ(publisher.counters(1).statusDropped, 79u);
}

}  // namespace
}  // namespace zfuse::ctl
