#pragma once

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <chrono>
#include <functional>
#include <mutex>
#include <vector>

struct mosquitto;
struct mosquitto_message;

namespace zfuse::test {

// A real MQTT broker (the mosquitto program) on a free port of the loopback address,
// with a configuration of its own in a temporary folder.
class MqttBroker {
 public:
  // `extraConfig`: further lines for the broker's configuration; "%DIR%" stands for the
  // temporary folder. Anonymous clients are allowed unless the lines say otherwise.
  explicit MqttBroker(const QString& extraConfig = {});
  ~MqttBroker();
  MqttBroker(const MqttBroker&) = delete;
  MqttBroker& operator=(const MqttBroker&) = delete;

  // Starts the broker (again, on the same port) and waits until it takes connections.
  bool start();
  void kill();  // SIGKILL: no goodbye to anyone
  void pause();
  void resume();

  quint16 port() const { return port_; }
  QString url() const { return QStringLiteral("mqtt://127.0.0.1:%1").arg(port_); }
  QString folder() const { return dir_.path(); }

 private:
  QTemporaryDir dir_;
  QProcess process_;
  quint16 port_ = 0;
};

// A client that subscribes to a topic filter and keeps every message it receives, with
// the time it arrived. Runs the library's own network thread.
class MqttSubscriber {
 public:
  using Clock = std::chrono::steady_clock;
  struct Message {
    QString topic;
    QByteArray payload;
    bool retained = false;
    Clock::time_point at;
  };

  MqttSubscriber(quint16 port, const QString& filter);
  ~MqttSubscriber();
  MqttSubscriber(const MqttSubscriber&) = delete;
  MqttSubscriber& operator=(const MqttSubscriber&) = delete;

  // Connected and subscribed, within `ms`.
  bool waitSubscribed(int ms = 5000);
  std::vector<Message> messages() const;
  // Messages whose topic ends with "/<leaf>".
  std::vector<Message> on(const QString& leaf) const;
  // Waits (running Qt's events) until `done` holds for the messages so far.
  bool waitFor(const std::function<bool(const std::vector<Message>&)>& done, int ms);
  // Sets the function called, on the library's thread, for every message as it arrives.
  void setListener(std::function<void(const Message&)> listener);

 private:
  static void onConnect(mosquitto* client, void* self, int code);
  static void onSubscribe(mosquitto* client, void* self, int mid, int count, const int* qos);
  static void onMessage(mosquitto* client, void* self, const mosquitto_message* m);

  mosquitto* client_ = nullptr;
  QByteArray filter_;
  mutable std::mutex mutex_;
  bool subscribed_ = false;
  std::vector<Message> messages_;
  std::function<void(const Message&)> listener_;
};

}  // namespace zfuse::test
