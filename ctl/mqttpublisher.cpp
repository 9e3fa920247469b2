#include "ctl/mqttpublisher.h"

#include <mosquitto.h>
#include <poll.h>
#include <pthread.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <unordered_map>
#include <unordered_set>

#include "link/localnames.h"

namespace zfuse::ctl {

using Clock = std::chrono::steady_clock;

namespace {

// Messages handed to the library and not yet written out (status, state, online), and
// events sent and not yet acknowledged: what a slow broker may hold back at most.
constexpr int kQos0InFlight = 16;
constexpr int kEventsInFlight = 100;
// A connection attempt that has no answer from the broker by then counts as failed.
constexpr int kConnectTimeoutMs = 10000;

long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
      .count();
}

void logLine(const QString& line) {
  std::fprintf(stderr, "zfusectl: %s\n", line.toUtf8().constData());
}

// The retained state of a device that went offline: its values, marked as no longer
// present.
QByteArray staleState(const QByteArray& state) {
  QJsonObject o = QJsonDocument::fromJson(state).object();
  if (o.isEmpty() || o.value(QStringLiteral("stale")).toBool()) return state;
  o.insert(QStringLiteral("stale"), true);
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

struct LibraryUse {  // the library is set up once per process
  LibraryUse() { mosquitto_lib_init(); }
  ~LibraryUse() { mosquitto_lib_cleanup(); }
};

}  // namespace

// One device's connection to the broker, owned by the publisher's thread.
struct MqttPublisher::Link {
  enum class Phase { Idle, Connecting, Connected };
  enum class Kind { Status, State, Online, Configuration };
  struct Event {
    QByteArray payload;
    int mid = 0;  // 0: not sent on this connection
    bool acknowledged = false;
  };

  MqttPublisher* owner = nullptr;
  int device = 0;
  QByteArray clientId, statusTopic, stateTopic, eventsTopic, onlineTopic, infoTopic;
  mosquitto* client = nullptr;
  Phase phase = Phase::Idle;
  long long nextAttemptMs = 0;
  long long connectDeadlineMs = 0;
  int retryMs = kFirstRetryMs;
  bool everConnected = false;
  bool firstFailureReported = false;
  // Set by the library's callbacks, acted on once the library call returns.
  bool connackArrived = false;
  int connackCode = 0;
  bool disconnected = false;
  // What this connection has to send.
  std::vector<std::pair<QByteArray, QByteArray>> configurations;
  bool sendConfigurations = false;
  QByteArray info;
  bool sendInfo = false;
  bool sendClears = false;
  bool sendOnline = false;
  bool onlineSent = false;  // the value last published on this connection
  bool offlineAcknowledged = false;
  int offlineMid = -1;
  long long stateDueMs = 0;
  bool stateWaiting = false;  // a state not sent yet, as of the last look
  long long miscDueMs = 0;
  std::deque<Event> events;  // oldest first; acknowledged ones leave from the front
  std::size_t eventsSent = 0;
  std::unordered_map<int, Kind> inFlight;  // messages of QoS 0 and the online state
  std::unordered_set<int> earlyAcks;       // acknowledged inside the publish call
};

namespace {

QString errorText(int code, int savedErrno) {
  if (code == MOSQ_ERR_ERRNO) return QString::fromLocal8Bit(std::strerror(savedErrno));
  return QString::fromUtf8(mosquitto_strerror(code));
}

// The user and the TLS settings of a client; false, with the reason, when TLS cannot be
// set up.
bool setUpClient(mosquitto* client, const BrokerSettings& settings, QString* error) {
  mosquitto_int_option(client, MOSQ_OPT_PROTOCOL_VERSION, MQTT_PROTOCOL_V311);
  mosquitto_int_option(client, MOSQ_OPT_TCP_NODELAY, 1);
  if (!settings.username.isEmpty()) {
    mosquitto_username_pw_set(client, settings.username.toUtf8().constData(),
                              settings.password.isNull() ? nullptr : settings.password.constData());
  }
  if (settings.tls) {
    const QByteArray ca = localName(settings.caFile);
    const QByteArray cert = localName(settings.certFile);
    const QByteArray key = localName(settings.keyFile);
    const int rc = mosquitto_tls_set(client, ca.isEmpty() ? nullptr : ca.constData(),
                                     ca.isEmpty() ? "/etc/ssl/certs" : nullptr,
                                     cert.isEmpty() ? nullptr : cert.constData(),
                                     key.isEmpty() ? nullptr : key.constData(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      *error = QStringLiteral("TLS set-up: %1").arg(errorText(rc, errno));
      return false;
    }
  }
  return true;
}

}  // namespace

MqttPublisher::MqttPublisher(BrokerSettings settings, QStringList deviceIds, QStringList labels,
                             QObject* parent)
    : QObject(parent),
      settings_(std::move(settings)),
      ids_(std::move(deviceIds)),
      labels_(std::move(labels)),
      shared_(static_cast<std::size_t>(ids_.size())),
      pendingEvents_(static_cast<std::size_t>(ids_.size())) {}

MqttPublisher::~MqttPublisher() {
  finish(0);
  if (wakeFd_ >= 0) ::close(wakeFd_);
}

QString MqttPublisher::topic(int device, const QString& leaf) const {
  return settings_.topicPrefix + QLatin1Char('/') + ids_.at(device) + QLatin1Char('/') + leaf;
}

void MqttPublisher::start() {
  static LibraryUse library;
  wakeFd_ = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  for (int d = 0; d < ids_.size(); ++d) {
    auto link = std::make_unique<Link>();
    link->device = d;
    link->owner = this;
    link->clientId = QStringLiteral("zfusectl-%1").arg(ids_.at(d)).toUtf8();
    link->statusTopic = topic(d, QStringLiteral("status")).toUtf8();
    link->stateTopic = topic(d, QStringLiteral("state")).toUtf8();
    link->eventsTopic = topic(d, QStringLiteral("events")).toUtf8();
    link->onlineTopic = topic(d, QStringLiteral("online")).toUtf8();
    link->infoTopic = topic(d, QStringLiteral("info")).toUtf8();
    links_.push_back(std::move(link));
  }
  thread_ = std::thread([this] { run(); });
}

void MqttPublisher::finish(int ms) {
  if (!thread_.joinable()) return;
  {
    // The devices go offline: their last states go out marked as such.
    const std::lock_guard lock(mutex_);
    for (Shared& s : shared_) {
      if (s.state.isEmpty()) continue;
      QByteArray marked = staleState(s.state);
      if (marked == s.state) continue;  // gone offline before: said already
      s.state = std::move(marked);
      s.stateDirty = true;
    }
  }
  finishDeadlineMs_ = nowMs() + ms;
  finishing_ = true;
  wake();
  thread_.join();
  // Status messages that never left the queue (the broker was not reached in time) are
  // dropped too, so that sent and dropped add up to what was published.
  const std::lock_guard lock(mutex_);
  for (Shared& s : shared_) {
    s.counters.statusDropped += static_cast<quint64>(s.status.size());
    s.status.clear();
  }
}

void MqttPublisher::wake() {
  const std::uint64_t one = 1;
  if (wakeFd_ < 0) return;
  [[maybe_unused]] const auto n = ::write(wakeFd_, &one, sizeof one);
}

void MqttPublisher::publishStatus(int device, const QString& json) {
  const QByteArray payload = json.toUtf8();
  {
    const std::lock_guard lock(mutex_);
    Shared& s = shared_[static_cast<std::size_t>(device)];
    if (s.status.size() >= static_cast<std::size_t>(kStatusQueue)) {
      s.status.pop_front();
      ++s.counters.statusDropped;
    }
    s.status.push_back(payload);
    s.state = payload;
    s.stateAtMs = nowMs();
    s.stateDirty = true;
  }
  wake();
}

void MqttPublisher::publishEvent(int device, const QString& json) {
  const QByteArray payload = json.toUtf8();
  {
    const std::lock_guard lock(mutex_);
    Shared& s = shared_[static_cast<std::size_t>(device)];
    if (pendingEvents_[static_cast<std::size_t>(device)] >= kEventQueue) {
      ++s.counters.eventsDropped;
      return;
    }
    ++pendingEvents_[static_cast<std::size_t>(device)];
    s.events.push_back(payload);
  }
  wake();
}

void MqttPublisher::setConfigurations(int device,
                                      std::vector<std::pair<QByteArray, QByteArray>> messages) {
  {
    const std::lock_guard lock(mutex_);
    Shared& s = shared_[static_cast<std::size_t>(device)];
    s.configurations = std::move(messages);
    s.configurationsDirty = true;
  }
  wake();
}

void MqttPublisher::setOnline(int device, bool online) {
  {
    const std::lock_guard lock(mutex_);
    Shared& s = shared_[static_cast<std::size_t>(device)];
    if (s.online == online) return;
    s.online = online;
    if (!online && !s.state.isEmpty()) {
      s.state = staleState(s.state);
      s.stateDirty = true;
    }
  }
  wake();
}

void MqttPublisher::setInfo(int device, const QByteArray& json) {
  {
    const std::lock_guard lock(mutex_);
    Shared& s = shared_[static_cast<std::size_t>(device)];
    s.info = json;
    s.infoDirty = true;
  }
  wake();
}

MqttPublisher::Counters MqttPublisher::counters(int device) const {
  const std::lock_guard lock(mutex_);
  Counters c = shared_[static_cast<std::size_t>(device)].counters;
  c.eventsUnsent = static_cast<quint64>(pendingEvents_[static_cast<std::size_t>(device)].load());
  return c;
}

void MqttPublisher::onConnect(mosquitto*, void* obj, int code) {
  auto* link = static_cast<Link*>(obj);
  link->connackArrived = true;
  link->connackCode = code;
}

void MqttPublisher::onDisconnect(mosquitto*, void* obj, int) {
  static_cast<Link*>(obj)->disconnected = true;
}

void MqttPublisher::onPublish(mosquitto*, void* obj, int mid) {
  auto* link = static_cast<Link*>(obj);
  link->owner->acknowledged(*link, mid);
}

void MqttPublisher::onMessage(mosquitto*, void* obj, const mosquitto_message* message) {
  auto* link = static_cast<Link*>(obj);
  // The consumer has (re)started and forgotten what it was told: tell it again.
  if (message->payloadlen == 6 && std::memcmp(message->payload, "online", 6) == 0) {
    link->sendConfigurations = true;
  }
}

void MqttPublisher::attempt(Link& l) {
  l.client = mosquitto_new(l.clientId.constData(), true, &l);
  if (l.client == nullptr) {
    failed(l, QStringLiteral("out of memory"), false);
    return;
  }
  mosquitto_will_set(l.client, l.onlineTopic.constData(), 5, "false", 1, true);
  QString setUpError;
  if (!setUpClient(l.client, settings_, &setUpError)) {
    failed(l, setUpError, false);
    return;
  }
  mosquitto_connect_callback_set(l.client, &MqttPublisher::onConnect);
  mosquitto_disconnect_callback_set(l.client, &MqttPublisher::onDisconnect);
  mosquitto_publish_callback_set(l.client, &MqttPublisher::onPublish);
  mosquitto_message_callback_set(l.client, &MqttPublisher::onMessage);
  const int rc = mosquitto_connect_async(l.client, settings_.host.toUtf8().constData(),
                                         settings_.port, settings_.keepAliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS) {
    failed(l, errorText(rc, errno), false);
    return;
  }
  l.phase = Link::Phase::Connecting;
  l.connectDeadlineMs = nowMs() + kConnectTimeoutMs;
}

void MqttPublisher::drop(Link& l) {
  if (l.client != nullptr) mosquitto_destroy(l.client);
  // Status messages the library had not written yet are gone with it.
  const auto unwritten = std::count_if(l.inFlight.begin(), l.inFlight.end(), [](const auto& m) {
    return m.second == Link::Kind::Status;
  });
  if (unwritten > 0) {
    const std::lock_guard lock(mutex_);
    shared_[static_cast<std::size_t>(l.device)].counters.statusDropped +=
        static_cast<quint64>(unwritten);
  }
  l.client = nullptr;
  l.phase = Link::Phase::Idle;
  l.connackArrived = false;
  l.disconnected = false;
  l.inFlight.clear();
  l.earlyAcks.clear();
  // Events not acknowledged go again, in order, on the next connection.
  for (Link::Event& e : l.events) e.mid = 0;
  l.eventsSent = 0;
  l.offlineMid = -1;
  l.offlineAcknowledged = false;
}

void MqttPublisher::failed(Link& l, const QString& reason, bool wasConnected) {
  drop(l);
  if (finishing_) return;
  const QString broker = QStringLiteral("%1:%2").arg(settings_.host).arg(settings_.port);
  if (wasConnected) l.retryMs = kFirstRetryMs;
  const int waitMs = l.retryMs;
  // Devices that fail in the same round try again together, and are said in one line.
  l.nextAttemptMs = roundMs_ + waitMs;
  l.retryMs = std::min(l.retryMs * 2, kLastRetryMs);
  say(l, QStringLiteral("%1 %2 (%3); next attempt in %4 s")
             .arg(wasConnected ? QStringLiteral("lost the connection to")
                               : QStringLiteral("cannot connect to"),
                  broker, reason, QString::number(waitMs / 1000)));
  if (!l.everConnected && !l.firstFailureReported) {
    l.firstFailureReported = true;
    const QString why =
        QStringLiteral("MQTT broker %1 (%2): %3").arg(broker, labels_.at(l.device), reason);
    QMetaObject::invokeMethod(
        this, [this, why] { emit firstAttemptFailed(why); }, Qt::QueuedConnection);
  }
}

// Lines for standard error gather this long, so that devices that fail or connect at
// nearly the same moment are said in one line.
constexpr long long kLogGatherMs = 200;

void MqttPublisher::say(const Link& l, const QString& text) {
  if (log_.empty()) logDueMs_ = nowMs() + kLogGatherMs;
  const auto same = std::find_if(log_.begin(), log_.end(),
                                 [&](const LogLine& line) { return line.text == text; });
  if (same != log_.end()) {
    same->labels << labels_.at(l.device);
  } else {
    log_.push_back({text, {labels_.at(l.device)}});
  }
}

void MqttPublisher::flushLog(bool now) {
  if (log_.empty() || (!now && nowMs() < logDueMs_)) return;
  for (const LogLine& line : log_) {
    logLine(QStringLiteral("MQTT ") + line.labels.join(QStringLiteral(", ")) +
            QStringLiteral(": ") + line.text);
  }
  log_.clear();
}

void MqttPublisher::acknowledged(Link& l, int mid) {
  const auto known = l.inFlight.find(mid);
  if (known != l.inFlight.end()) {
    if (known->second == Link::Kind::Status) {
      const std::lock_guard lock(mutex_);
      ++shared_[static_cast<std::size_t>(l.device)].counters.statusSent;
    }
    if (mid == l.offlineMid) l.offlineAcknowledged = true;
    l.inFlight.erase(known);
    return;
  }
  for (std::size_t i = 0; i < l.eventsSent && i < l.events.size(); ++i) {
    if (l.events[i].mid == mid) {
      l.events[i].acknowledged = true;
      int delivered = 0;
      while (!l.events.empty() && l.events.front().acknowledged) {
        l.events.pop_front();
        --l.eventsSent;
        ++delivered;
      }
      if (delivered > 0) {
        pendingEvents_[static_cast<std::size_t>(l.device)] -= delivered;
        const std::lock_guard lock(mutex_);
        shared_[static_cast<std::size_t>(l.device)].counters.eventsSent +=
            static_cast<quint64>(delivered);
      }
      return;
    }
  }
  // Written out before the publish call returned its message id.
  l.earlyAcks.insert(mid);
}

void MqttPublisher::pump(Link& l) {
  const long long now = nowMs();
  const bool finishing = finishing_;
  bool online = false;
  QByteArray state;
  std::vector<QByteArray> status;
  {
    const std::lock_guard lock(mutex_);
    Shared& s = shared_[static_cast<std::size_t>(l.device)];
    online = s.online && !finishing;
    // The events published until now, also those that came after this pass of the loop
    // took them: an ending device's last events go out before it says offline.
    for (QByteArray& payload : s.events) l.events.push_back({std::move(payload)});
    s.events.clear();
    int room = kQos0InFlight - static_cast<int>(l.inFlight.size());
    // A state goes out right after the telegram that came when it was due, not with a
    // telegram that came before and waited for the second to pass; only when no
    // telegram follows does the waiting one go out, a little later. The last state goes
    // out at the end whatever the rate, so that it stays retained; the stale state of a
    // device gone offline goes out at once, before the offline that follows it.
    const bool due =
        s.stateAtMs >= l.stateDueMs || now >= l.stateDueMs + kStateGraceMs || !s.online;
    if (s.stateDirty && (due || finishing) && room > 0) {
      state = s.state;
      s.stateDirty = false;
      --room;
    }
    if (s.configurationsDirty) {
      l.configurations = s.configurations;
      l.sendConfigurations = true;
      s.configurationsDirty = false;
    }
    if (s.infoDirty) {
      l.info = s.info;
      l.sendInfo = !l.info.isEmpty();
      s.infoDirty = false;
    }
    while (room-- > 0 && !s.status.empty()) {
      status.push_back(std::move(s.status.front()));
      s.status.pop_front();
    }
  }
  // Sends one message; false when the connection broke.
  const auto send = [&](const QByteArray& topicName, const QByteArray& payload, int qos,
                        bool retain, int* mid) {
    const int rc =
        mosquitto_publish(l.client, mid, topicName.constData(), static_cast<int>(payload.size()),
                          payload.constData(), qos, retain);
    if (rc != MOSQ_ERR_SUCCESS) l.disconnected = true;
    return rc == MOSQ_ERR_SUCCESS;
  };
  const auto sendTracked = [&](const QByteArray& topicName, const QByteArray& payload, int qos,
                               bool retain, Link::Kind kind) {
    int mid = 0;
    if (!send(topicName, payload, qos, retain, &mid)) return -1;
    l.inFlight.emplace(mid, kind);
    if (l.earlyAcks.erase(mid) > 0) acknowledged(l, mid);
    return mid;
  };

  // When the connection breaks before the state and status taken above went out, the
  // state is due again and the status messages count as dropped, so that sent and
  // dropped still add up to what was published.
  const auto giveBack = [&] {
    const std::lock_guard lock(mutex_);
    Shared& s = shared_[static_cast<std::size_t>(l.device)];
    if (!state.isEmpty()) s.stateDirty = true;
    s.counters.statusDropped += static_cast<quint64>(status.size());
  };
  if (l.sendClears && !finishing) {
    for (const QByteArray& t : toClear_) {
      if (sendTracked(t, QByteArray(), 1, true, Link::Kind::Configuration) < 0) {
        giveBack();
        return;
      }
    }
    l.sendClears = false;
  }
  if (l.sendConfigurations && !finishing) {
    for (const auto& [topicName, payload] : l.configurations) {
      if (sendTracked(topicName, payload, 1, true, Link::Kind::Configuration) < 0) {
        giveBack();
        return;
      }
    }
    l.sendConfigurations = false;
  }
  if (l.sendInfo && !finishing) {
    if (sendTracked(l.infoTopic, l.info, 1, true, Link::Kind::Configuration) < 0) {
      giveBack();
      return;
    }
    l.sendInfo = false;
  }
  if (!state.isEmpty()) {
    sendTracked(l.stateTopic, state, 0, true, Link::Kind::State);
    l.stateDueMs = now + kStateIntervalMs;
  }
  quint64 unsent = 0;
  for (const QByteArray& payload : status) {
    if (l.disconnected || sendTracked(l.statusTopic, payload, 0, false, Link::Kind::Status) < 0) {
      ++unsent;
    }
  }
  if (unsent > 0) {
    const std::lock_guard lock(mutex_);
    shared_[static_cast<std::size_t>(l.device)].counters.statusDropped += unsent;
  }
  while (!l.disconnected && l.eventsSent < l.events.size() &&
         l.eventsSent < static_cast<std::size_t>(kEventsInFlight)) {
    Link::Event& e = l.events[l.eventsSent];
    ++l.eventsSent;
    if (e.acknowledged) continue;
    int mid = 0;
    if (!send(l.eventsTopic, e.payload, 1, false, &mid)) break;
    e.mid = mid;
    if (l.earlyAcks.erase(mid) > 0) acknowledged(l, mid);
  }
  // The online state last, so that an ending device says offline after its last state.
  if (l.disconnected) return;
  if (l.sendOnline || online != l.onlineSent) {
    const int mid =
        sendTracked(l.onlineTopic, online ? "true" : "false", 1, true, Link::Kind::Online);
    l.sendOnline = false;
    l.onlineSent = online;
    if (finishing) l.offlineMid = mid;
  } else if (finishing && l.offlineMid < 0) {
    l.offlineAcknowledged = true;  // false was published already on this connection
  }
}

void MqttPublisher::run() {
  // A write to a broker that has gone must not end the program: the error comes back
  // from the library instead.
  sigset_t pipe;
  sigemptyset(&pipe);
  sigaddset(&pipe, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipe, nullptr);

  std::vector<pollfd> fds;
  std::vector<Link*> polled;
  for (;;) {
    flushLog(false);
    const bool finishing = finishing_;
    long long now = nowMs();
    roundMs_ = now;
    {
      const std::lock_guard lock(mutex_);
      for (auto& link : links_) {
        Shared& s = shared_[static_cast<std::size_t>(link->device)];
        for (QByteArray& payload : s.events) link->events.push_back({std::move(payload)});
        s.events.clear();
        link->stateWaiting = s.stateDirty;
      }
    }
    bool done = finishing;
    long long timeoutMs = 1000;
    for (auto& link : links_) {
      Link& l = *link;
      if (finishing) {
        if (l.phase != Link::Phase::Connected) {
          drop(l);
          continue;
        }
        if ((l.events.empty() && l.offlineAcknowledged) || now >= finishDeadlineMs_) {
          mosquitto_disconnect(l.client);
          drop(l);
          continue;
        }
        done = false;
        timeoutMs = std::min(timeoutMs, std::max(0LL, finishDeadlineMs_ - now));
        continue;
      }
      if (l.phase == Link::Phase::Idle && now >= l.nextAttemptMs) attempt(l);
      if (l.phase == Link::Phase::Connecting && now >= l.connectDeadlineMs) {
        failed(l, QStringLiteral("no answer from the broker"), false);
      }
      if (l.phase == Link::Phase::Idle) {
        timeoutMs = std::min(timeoutMs, std::max(0LL, l.nextAttemptMs - now));
      }
      // A waiting state whose telegram has no follower goes out once the grace is over
      // (past it, with the next pass through the loop).
      if (l.phase == Link::Phase::Connected && l.stateWaiting &&
          l.stateDueMs + kStateGraceMs > now) {
        timeoutMs = std::min(timeoutMs, l.stateDueMs + kStateGraceMs - now);
      }
    }
    if (done) break;
    if (!log_.empty()) timeoutMs = std::min(timeoutMs, std::max(0LL, logDueMs_ - now));

    fds.assign(1, pollfd{wakeFd_, POLLIN, 0});
    polled.clear();
    for (auto& link : links_) {
      if (link->client == nullptr || mosquitto_socket(link->client) < 0) continue;
      const short events =
          static_cast<short>(POLLIN | (mosquitto_want_write(link->client) ? POLLOUT : 0));
      fds.push_back(pollfd{mosquitto_socket(link->client), events, 0});
      polled.push_back(link.get());
    }
    ::poll(fds.data(), fds.size(), static_cast<int>(timeoutMs));
    if (fds[0].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const auto n = ::read(wakeFd_, &count, sizeof count);
    }
    now = nowMs();
    roundMs_ = now;
    for (std::size_t i = 0; i < polled.size(); ++i) {
      Link& l = *polled[i];
      const bool wasConnected = l.phase == Link::Phase::Connected;
      if (fds[i + 1].revents != 0 || now >= l.miscDueMs) {
        if (now >= l.miscDueMs) l.miscDueMs = now + 1000;
        const int rc = mosquitto_loop(l.client, 0, 1);
        const int savedErrno = errno;
        if (rc != MOSQ_ERR_SUCCESS && !(l.connackArrived && l.connackCode != 0)) {
          failed(l, errorText(rc, savedErrno), wasConnected);
          continue;
        }
      }
      if (l.connackArrived) {
        l.connackArrived = false;
        if (l.connackCode != 0) {
          failed(l,
                 QStringLiteral("the broker refused the connection: %1")
                     .arg(QString::fromUtf8(mosquitto_connack_string(l.connackCode))),
                 false);
          continue;
        }
        l.phase = Link::Phase::Connected;
        l.sendOnline = true;
        l.sendConfigurations = !l.configurations.empty();
        l.sendInfo = !l.info.isEmpty();
        l.sendClears = l.device == 0 && !toClear_.empty();
        if (!announceTopic_.isEmpty()) {
          mosquitto_subscribe(l.client, nullptr, announceTopic_.constData(), 1);
        }
        l.stateDueMs = 0;
        say(l, QStringLiteral("connected to %1:%2").arg(settings_.host).arg(settings_.port));
        l.everConnected = true;
        l.retryMs = kFirstRetryMs;
        const std::lock_guard lock(mutex_);
        Shared& s = shared_[static_cast<std::size_t>(l.device)];
        if (!s.state.isEmpty()) s.stateDirty = true;  // retained again on a new broker
      }
      if (l.disconnected) {
        failed(l, QStringLiteral("disconnected"), wasConnected);
        continue;
      }
    }
    for (auto& link : links_) {
      Link& l = *link;
      if (l.phase != Link::Phase::Connected) continue;
      pump(l);
      if (l.disconnected) failed(l, QStringLiteral("cannot send"), true);
    }
  }
  flushLog(true);
}

}  // namespace zfuse::ctl

namespace zfuse::ctl {

namespace {
struct Cleaning {
  std::unordered_set<int> pending;  // message ids not yet acknowledged
  bool connackArrived = false;
  int connackCode = 0;
};
}  // namespace

bool clearRetained(const BrokerSettings& settings, const std::vector<QByteArray>& topics,
                   int timeoutMs, QString* error) {
  static LibraryUse library;
  Cleaning cleaning;
  const QByteArray clientId = QStringLiteral("zfusectl-clean-%1").arg(::getpid()).toUtf8();
  mosquitto* client = mosquitto_new(clientId.constData(), true, &cleaning);
  if (client == nullptr) {
    *error = QStringLiteral("out of memory");
    return false;
  }
  const auto fail = [&](const QString& reason) {
    *error =
        QStringLiteral("MQTT broker %1:%2: %3").arg(settings.host).arg(settings.port).arg(reason);
    mosquitto_destroy(client);
    return false;
  };
  QString setUpError;
  if (!setUpClient(client, settings, &setUpError)) return fail(setUpError);
  mosquitto_connect_callback_set(client, [](mosquitto*, void* obj, int code) {
    auto* c = static_cast<Cleaning*>(obj);
    c->connackArrived = true;
    c->connackCode = code;
  });
  mosquitto_publish_callback_set(client, [](mosquitto*, void* obj, int mid) {
    static_cast<Cleaning*>(obj)->pending.erase(mid);
  });
  int rc = mosquitto_connect(client, settings.host.toUtf8().constData(), settings.port,
                             settings.keepAliveSeconds);
  if (rc != MOSQ_ERR_SUCCESS) return fail(errorText(rc, errno));
  const long long deadline = nowMs() + timeoutMs;
  // Runs the library until `done`; false, said in `error`, when the time is up or the
  // connection fails.
  const auto loopUntil = [&](auto done) {
    while (!done()) {
      if (cleaning.connackArrived && cleaning.connackCode != 0) {
        fail(QStringLiteral("the broker refused the connection: %1")
                 .arg(QString::fromUtf8(mosquitto_connack_string(cleaning.connackCode))));
        return false;
      }
      const long long left = deadline - nowMs();
      if (left <= 0) {
        fail(QStringLiteral("no answer from the broker"));
        return false;
      }
      const int looped = mosquitto_loop(client, static_cast<int>(std::min(left, 100LL)), 1);
      if (looped != MOSQ_ERR_SUCCESS) {
        fail(errorText(looped, errno));
        return false;
      }
    }
    return true;
  };
  if (!loopUntil([&] { return cleaning.connackArrived && cleaning.connackCode == 0; })) {
    return false;
  }
  // An empty retained message, QoS 1: the broker forgets what it kept on the topic.
  for (const QByteArray& t : topics) {
    int mid = 0;
    rc = mosquitto_publish(client, &mid, t.constData(), 0, nullptr, 1, true);
    if (rc != MOSQ_ERR_SUCCESS) return fail(errorText(rc, errno));
    cleaning.pending.insert(mid);
  }
  if (!loopUntil([&] { return cleaning.pending.empty(); })) return false;
  mosquitto_disconnect(client);
  mosquitto_destroy(client);
  return true;
}

}  // namespace zfuse::ctl
