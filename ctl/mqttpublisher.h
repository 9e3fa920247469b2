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
//            telegram after a second has passed, so that it is as new as it can be; when
//            the device goes offline (its telegrams stop, an ordinary end) its values
//            stay, marked "stale": true, so that no one takes them for present ones
//   events   lamp changes and connection lost/back, QoS 1, in order
//   online   retained true while the device talks; false before its first telegram,
//            when its telegrams stop, on an ordinary end and, as the last will, when
//            the program dies
//   info     retained: what the device is and holds (model, version, configuration),
//            as set by the serial side
// The broker is served by a thread of its own: the calls below only queue and return,
// so the serial side never waits for the broker. While the broker is away or slow,
// status messages beyond kStatusQueue per device are dropped oldest first, and events
// are kept up to kEventQueue per device (newer ones dropped beyond) and sent in order
// when it is back; both are counted. A lost or refused connection is tried again after
// 1 s, then 2, 4, 8, 16 and 30 s; each round of attempts is reported on standard error
// in one line that names the devices it concerns.
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
  // The device's retained description, replacing the one set before; it goes out again
  // on every new connection.
  void setInfo(int device, const QByteArray& json);
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
    QByteArray info;
    bool infoDirty = false;
    Counters counters;
  };

  void run();
  void wake();
  void pump(Link& link);
  void attempt(Link& link);
  void failed(Link& link, const QString& reason, bool wasConnected);
  // A line for standard error about a device, said at the end of the round together with
  // the other devices of which the round says the same.
  void say(const Link& link, const QString& text);
  // Writes the lines gathered once their time has come, or `now`.
  void flushLog(bool now);
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
  // The thread's own: the time of the loop's present round, on which the retries of the
  // devices that fail together are set, and what the round has to say on standard error.
  long long roundMs_ = 0;
  struct LogLine {
    QString text;  // after "MQTT <the devices it concerns>: "
    QStringList labels;
  };
  std::vector<LogLine> log_;
  long long logDueMs_ = 0;  // when the lines gathered go out
};

// Clears what the broker retains on `topics` (an empty retained message on each, QoS 1)
// over a connection of its own, and waits up to `timeoutMs` for the broker to take every
// one. False, with the reason in `error`, when the broker cannot be reached or does not
// take them in time.
bool clearRetained(const BrokerSettings& settings, const std::vector<QByteArray>& topics,
                   int timeoutMs, QString* error);

}  // namespace zfuse::ctl
