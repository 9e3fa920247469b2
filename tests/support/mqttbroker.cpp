#include "tests/support/mqttbroker.h"

#include <mosquitto.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QThread>
#include <csignal>

namespace zfuse::test {
namespace {

// A port on the loopback address that nothing listens on now.
quint16 freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  ::close(fd);
  return ntohs(a.sin_port);
}

bool listening(quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

struct LibraryUse {
  LibraryUse() { mosquitto_lib_init(); }
};

}  // namespace

MqttBroker::MqttBroker(const QString& extraConfig) {
  port_ = freePort();
  QString config = QStringLiteral("listener %1 127.0.0.1\n").arg(port_);
  if (!extraConfig.contains(QLatin1String("allow_anonymous"))) {
    config += QLatin1String("allow_anonymous true\n");
  }
  // Run as root, the broker would switch to its own user, which cannot read this folder.
  if (const passwd* me = ::getpwuid(::getuid())) {
    config += QStringLiteral("user %1\n").arg(QString::fromLocal8Bit(me->pw_name));
  }
  config += QLatin1String("log_type error\nlog_type warning\n");
  config += QString(extraConfig).replace(QLatin1String("%DIR%"), dir_.path()) + '\n';
  QFile file(dir_.filePath(QStringLiteral("mosquitto.conf")));
  if (file.open(QIODevice::WriteOnly)) file.write(config.toUtf8());
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.setStandardOutputFile(QProcess::nullDevice());
}

MqttBroker::~MqttBroker() {
  resume();
  kill();
}

bool MqttBroker::start() {
  if (process_.state() != QProcess::NotRunning) return true;
  process_.start(QStringLiteral("mosquitto"),
                 {QStringLiteral("-c"), dir_.filePath(QStringLiteral("mosquitto.conf"))});
  if (!process_.waitForStarted(5000)) return false;
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < 5000) {
    if (listening(port_)) return true;
    if (process_.state() == QProcess::NotRunning) return false;
    QThread::msleep(10);
  }
  return false;
}

void MqttBroker::kill() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.kill();
  process_.waitForFinished(5000);
}

void MqttBroker::pause() {
  if (process_.state() != QProcess::NotRunning)
    ::kill(static_cast<pid_t>(process_.processId()), SIGSTOP);
}

void MqttBroker::resume() {
  if (process_.state() != QProcess::NotRunning)
    ::kill(static_cast<pid_t>(process_.processId()), SIGCONT);
}

MqttSubscriber::MqttSubscriber(quint16 port, const QString& filter) : filter_(filter.toUtf8()) {
  static LibraryUse library;
  client_ = mosquitto_new(nullptr, true, this);
  mosquitto_connect_callback_set(client_, &MqttSubscriber::onConnect);
  mosquitto_subscribe_callback_set(client_, &MqttSubscriber::onSubscribe);
  mosquitto_message_callback_set(client_, &MqttSubscriber::onMessage);
  mosquitto_int_option(client_, MOSQ_OPT_TCP_NODELAY, 1);
  mosquitto_reconnect_delay_set(client_, 1, 1, false);
  mosquitto_connect(client_, "127.0.0.1", port, 30);
  mosquitto_loop_start(client_);
}

MqttSubscriber::~MqttSubscriber() {
  mosquitto_disconnect(client_);
  mosquitto_loop_stop(client_, true);
  mosquitto_destroy(client_);
}

void MqttSubscriber::onConnect(mosquitto* client, void* self, int code) {
  auto* me = static_cast<MqttSubscriber*>(self);
  if (code == 0) mosquitto_subscribe(client, nullptr, me->filter_.constData(), 1);
}

void MqttSubscriber::onSubscribe(mosquitto*, void* self, int, int, const int*) {
  auto* me = static_cast<MqttSubscriber*>(self);
  const std::lock_guard lock(me->mutex_);
  me->subscribed_ = true;
}

void MqttSubscriber::onMessage(mosquitto*, void* self, const mosquitto_message* m) {
  auto* me = static_cast<MqttSubscriber*>(self);
  Message message{QString::fromUtf8(m->topic),
                  QByteArray(static_cast<const char*>(m->payload), m->payloadlen), m->retain,
                  Clock::now()};
  const std::lock_guard lock(me->mutex_);
  if (me->listener_) me->listener_(message);
  me->messages_.push_back(std::move(message));
}

void MqttSubscriber::setListener(std::function<void(const Message&)> listener) {
  const std::lock_guard lock(mutex_);
  listener_ = std::move(listener);
}

bool MqttSubscriber::waitSubscribed(int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    {
      const std::lock_guard lock(mutex_);
      if (subscribed_) return true;
    }
    QThread::msleep(5);
  }
  return false;
}

std::vector<MqttSubscriber::Message> MqttSubscriber::messages() const {
  const std::lock_guard lock(mutex_);
  return messages_;
}

std::vector<MqttSubscriber::Message> MqttSubscriber::on(const QString& leaf) const {
  std::vector<Message> matching;
  for (const Message& m : messages()) {
    if (m.topic.endsWith(QLatin1Char('/') + leaf)) matching.push_back(m);
  }
  return matching;
}

bool MqttSubscriber::waitFor(const std::function<bool(const std::vector<Message>&)>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (t.elapsed() < ms) {
    if (done(messages())) return true;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(10);
  }
  return done(messages());
}

}  // namespace zfuse::test
