#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QStringList>
#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "ctl/mqttsettings.h"

struct mosquitto;
struct mosquitto_message;

namespace zfuse::ctl {

// Publishes what the fuses report to an MQTT broker, one connection per device so that
// each has its own last will. Per device, under <prefix>/<id>/:
//   status   every decoded telegram, QoS 0, not retained
//   state    the latest telegram, retained, at most once a second: with the first
//            telegram after a second has passed, so that it is as new as it can be
//   events   lamp changes and connection lost/back, QoS 1, in order
//   online   retained true while the device talks; false before its first telegram,
//            when its telegrams stop, on an ordinary end and, as the last will, when
//            the program dies
// The broker is served by a thread of its own: the calls below only queue and return,
// so the serial side never waits for the broker. While the broker is away or slow,
// status messages beyond kStatusQueue per device are dropped oldest first, and events
// are kept up to kEventQueue per device (newer ones dropped beyond) and sent in order
// when it is back; both are counted. A lost or refused connection is tried again after
// 1 s, then 2, 4, 8, 16 and 30 s, each attempt reported on standard error.
// Retained configuration messages (the home automation's discovery) go out, QoS 1,
// when they are set, on every new connection, and whenever an "online" arrives on the
// announce topic; topics to clear get an empty retained message on every connection.
class MqttPublisher : public QObject {
  Q_OBJECT

 public:
  static constexpr int kStatusQueue = 16;
  static constexpr int kEventQueue = 10000;
  static constexpr int kFirstRetryMs = 1000;
  static constexpr int kLastRetryMs = 30000;
  static constexpr int kStateIntervalMs = 1000;
  // A state that is due goes out with the next telegram; when none comes within this
  // time after it was due, the latest one goes out without it.
  static constexpr int kStateGraceMs = 250;

  struct Counters {
    quint64 statusSent = 0;
    quint64 statusDropped = 0;
    quint64 eventsSent = 0;
    quint64 eventsDropped = 0;
    quint64 eventsUnsent = 0;  // still queued (at the end: not delivered)
  };

  // `labels` name the devices in messages on standard error (the port names).
  MqttPublisher(BrokerSettings settings, QStringList deviceIds, QStringList labels,
                QObject* parent = nullptr);
  ~MqttPublisher() override;

  void start();
  // Publishes the offline state of every device, waits up to `ms` for the events not
  // yet delivered, and disconnects. Does nothing before start() or a second time.
  void finish(int ms);

  // For the serial side; each returns at once.
  void publishStatus(int device, const QString& json);
  void publishEvent(int device, const QString& json);
  void setOnline(int device, bool online);
  // The device's configuration messages, replacing those set before.
  void setConfigurations(int device, std::vector<std::pair<QByteArray, QByteArray>> messages);
  // Before start(): the topic on which the consumer of the configurations announces
  // itself, and retained topics to clear (sent on the first device's connection).
  void setAnnounceTopic(const QByteArray& topic) { announceTopic_ = topic; }
  void setTopicsToClear(std::vector<QByteArray> topics) { toClear_ = std::move(topics); }

  Counters counters(int device) const;
  QString topic(int device, const QString& leaf) const;

 signals:
  // A device's first connection attempt failed: the broker was never reached.
  void firstAttemptFailed(const QString& reason);

 private:
  struct Link;
  struct Shared {  // per device, guarded by mutex_
    std::deque<QByteArray> status;
    std::deque<QByteArray> events;
    QByteArray state;
    long long stateAtMs = 0;  // when the telegram of `state` was published
    bool stateDirty = false;
    bool online = false;
    std::vector<std::pair<QByteArray, QByteArray>> configurations;
    bool configurationsDirty = false;
    Counters counters;
  };

  void run();
  void wake();
  void pump(Link& link);
  void attempt(Link& link);
  void failed(Link& link, const QString& reason, bool wasConnected);
  void acknowledged(Link& link, int mid);
  void drop(Link& link);
  static void onConnect(mosquitto* client, void* link, int code);
  static void onDisconnect(mosquitto* client, void* link, int code);
  static void onPublish(mosquitto* client, void* link, int mid);
  static void onMessage(mosquitto* client, void* link, const mosquitto_message* message);

  BrokerSettings settings_;
  QStringList ids_;
  QStringList labels_;
  mutable std::mutex mutex_;
  std::vector<Shared> shared_;
  std::vector<std::unique_ptr<Link>> links_;     // the thread's own
  std::vector<std::atomic<int>> pendingEvents_;  // queued and not yet acknowledged
  std::atomic<bool> finishing_{false};
  std::atomic<long long> finishDeadlineMs_{0};
  QByteArray announceTopic_;
  std::vector<QByteArray> toClear_;
  int wakeFd_ = -1;
  std::thread thread_;
};

}  // namespace zfuse::ctl
