// zfusectl: the fuse on the command line, for production lines, scripts and loggers.
// Built on the widget-free core only.

#include <QCoreApplication>
#include <QDateTime>
#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <memory>
#include <vector>

#include "config/exchange.h"
#include "ctl/commission.h"
#include "ctl/configcommands.h"
#include "ctl/discovery.h"
#include "ctl/metrics.h"
#include "ctl/metricsserver.h"
#include "ctl/mqttpublisher.h"
#include "ctl/options.h"
#include "ctl/output.h"
#include "link/connection.h"
#include "link/endsignals.h"
#include "link/localnames.h"
#include "link/portnames.h"
#include "monitor/eventlog.h"
#include "monitor/portdoctor.h"
#include "monitor/statusmonitor.h"
#include "monitor/statusoutput.h"
#include "zfuse_version.h"

namespace zfuse::ctl {
namespace {

// One line on standard output; false when it did not go out.
bool print(const QString& line) {
  return writeOut(line.toUtf8() + '\n');
}

// How long an ordinary end waits for the broker to take the events not yet delivered.
constexpr int kFinishMs = 3000;
// How long mqtt-clean waits for the broker to take a device's empty messages.
constexpr int kCleanTimeoutMs = 10000;

// With --ha-discovery: each device's configuration goes out once its first telegram
// names the model (and again should another model answer on the port, or its version
// become known); Home Assistant's announcement is listened for, and removed devices are
// cleared. Returns what announces a device: its index, model and version.
std::function<void(int, uint8_t, const QString&)> announceToHomeAssistant(
    const Invocation& o, MqttPublisher& publisher) {
  DiscoverySettings settings;
  settings.discoveryPrefix = o.discoveryPrefix;
  settings.topicPrefix = o.mqtt->topicPrefix;
  settings.perEntity = o.discoveryPerEntity;
  settings.german = o.german;
  publisher.setAnnounceTopic(discoveryStatusTopic(settings));
  std::vector<QByteArray> clear;
  for (const QString& id : o.haRemove) {
    for (QByteArray& topic : discoveryTopics(settings, id)) clear.push_back(std::move(topic));
  }
  publisher.setTopicsToClear(std::move(clear));
  // What each device was last announced as.
  auto announced = std::make_shared<std::vector<std::pair<int, QString>>>(
      static_cast<std::size_t>(o.deviceIds.size()), std::pair<int, QString>{-1, QString()});
  return [settings, ids = o.deviceIds, mqtt = &publisher, announced](int i, uint8_t type,
                                                                     const QString& version) {
    auto& last = (*announced)[static_cast<std::size_t>(i)];
    if (last.first == type && last.second == version) return;
    last = {type, version};
    std::vector<std::pair<QByteArray, QByteArray>> messages;
    for (RetainedMessage& m : discoveryMessages(settings, ids.at(i), type, version)) {
      messages.emplace_back(std::move(m.topic), std::move(m.payload));
    }
    mqtt->setConfigurations(i, std::move(messages));
  };
}

// The retained description of a device: what it is, what holds it, and its
// configuration as the dialogs show it.
QByteArray infoJson(const QString& port, const DeviceConfiguration& c) {
  QJsonObject configuration;
  for (const auto& [field, text] : settingTexts(c)) {
    configuration.insert(QString::fromStdString(field), QString::fromStdString(text));
  }
  const QJsonObject o{{QStringLiteral("time"), isoTime(QDateTime::currentDateTime())},
                      {QStringLiteral("port"), port},
                      {QStringLiteral("model"), QString::fromLatin1(modelName(c.model))},
                      {QStringLiteral("type"), c.model},
                      {QStringLiteral("device_version"), QString::fromStdString(c.version)},
                      {QStringLiteral("tool_version"), QString::fromLatin1(kVersion)},
                      {QStringLiteral("configuration"), configuration}};
  return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

// One line on standard error.
void say(const QString& line) {
  std::fprintf(stderr, "zfusectl: %s\n", line.toUtf8().constData());
}

// A telegram older than this makes a gap, and the device counts as lost.
constexpr int kGapAfterMs = 1000;
// After the monitor has had the port back from a configuration read, silence is not
// taken for a lost device for this long: the telegrams need a moment to come again.
constexpr int kSettleAfterReadMs = 1500;

// Watches every port until each has given `count` telegrams (or is given up after
// `timeout` without one), the time is up or a signal ends the run; with --mqtt,
// publishes what it sees, and the device's configuration once it is heard.
int runStatus(const Invocation& o) {
  struct Watched {
    QString port;
    std::unique_ptr<StatusMonitor> monitor;
    qint64 printed = 0;
    std::unique_ptr<EventDetector> events;
    // Silence: times on the run's clock.
    bool heard = false;
    QDateTime lastTelegram;
    qint64 lastTelegramMs = 0;
    bool inGap = false;
    bool givenUp = false;  // --count: --timeout passed without a telegram
    bool everOpen = false;
    bool wasOpen = false;
    // The configuration read for the info topic, on a thread of its own while the
    // monitor lets go of the port.
    bool infoWanted = false;
    bool reading = false;
    qint64 quietUntilMs = 0;
    std::unique_ptr<QThread> reader;
  };
  std::vector<Watched> watched(static_cast<std::size_t>(o.ports.size()));
  QElapsedTimer clock;
  clock.start();
  // The metrics address is taken before any port is opened: a port in use ends the run
  // without touching a device.
  std::shared_ptr<MetricsStore> metrics;
  std::unique_ptr<MetricsServer> metricsServer;
  if (o.metrics) {
    metrics = std::make_shared<MetricsStore>(o.deviceIds, o.ports);
    metricsServer = std::make_unique<MetricsServer>(metrics);
    QString error;
    if (!metricsServer->listen(o.metrics->address, o.metrics->port, &error)) {
      std::fprintf(stderr, "zfusectl: --metrics %s port %u cannot be listened on: %s\n",
                   o.metrics->address.toString().toUtf8().constData(), o.metrics->port,
                   error.toUtf8().constData());
      return kMetricsUnavailable;
    }
  }
  // A port that cannot be opened yet is tried again every half second, as one lost
  // later; only with --require-all does it end the run.
  for (int i = 0; i < o.ports.size(); ++i) {
    Watched& w = watched[static_cast<std::size_t>(i)];
    w.port = o.ports.at(i);
    w.monitor = std::make_unique<StatusMonitor>();
    w.everOpen = w.wasOpen = w.monitor->connection().open(w.port);
    if (w.everOpen) continue;
    const PortDiagnosis d = diagnosePort(w.port);
    if (o.requireAll) {
      std::fprintf(stderr, "zfusectl: %s cannot be opened: %s\n", w.port.toUtf8().constData(),
                   d.verdict.toUtf8().constData());
      return kPortUnavailable;
    }
    say(QStringLiteral("%1 cannot be opened yet, tried again every half second: %2")
            .arg(w.port, d.verdict));
  }
  // Standard output that cannot be written ends the run as a signal would: the ports
  // close and their locks go.
  const auto printed = [](const QString& line) {
    if (print(line) && flushOut()) return true;
    QCoreApplication::exit(outputExit());
    return false;
  };
  if (o.print && o.format == Format::Csv && !printed(csvHeader(o.csvDialect))) return outputExit();
  std::unique_ptr<MqttPublisher> publisher;
  std::function<void(int, uint8_t, const QString&)> announce;
  std::vector<QString> versions(watched.size());
  if (o.mqtt) {
    publisher = std::make_unique<MqttPublisher>(*o.mqtt, o.deviceIds, o.ports);
    if (o.haDiscovery) announce = announceToHomeAssistant(o, *publisher);
    if (o.mqttRequired) {
      QObject::connect(publisher.get(), &MqttPublisher::firstAttemptFailed,
                       [](const QString& reason) {
                         std::fprintf(stderr, "zfusectl: %s\n", reason.toUtf8().constData());
                         QCoreApplication::exit(kBrokerUnavailable);
                       });
    }
    publisher->start();
  }
  // Lamp changes and lost or returning telegrams of each port: events at the broker, and
  // the loss and the return of a device said on standard error. A silence while the
  // port is lent to a configuration read is none.
  for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
    Watched& w = watched[static_cast<std::size_t>(i)];
    w.events = std::make_unique<EventDetector>();
    QObject::connect(w.monitor.get(), &StatusMonitor::statusDecoded, w.events.get(),
                     &EventDetector::reading);
    QObject::connect(w.monitor.get(), &StatusMonitor::silent, [&w, &clock] {
      if (!w.reading && clock.elapsed() >= w.quietUntilMs) w.events->silence();
    });
    // A port opened again may lead to another device: it is described afresh.
    QObject::connect(w.monitor.get(), &StatusMonitor::reopened, [&w] { w.infoWanted = true; });
    QObject::connect(
        w.events.get(), &EventDetector::occurred,
        [i, &w, mqtt = publisher.get()](const DeviceEvent& e) {
          if (e.kind == DeviceEvent::Kind::ConnectionLost) {
            say(QStringLiteral("%1: device lost, nothing received for a second").arg(w.port));
            // Read again once it is back: it may be another device now.
            w.infoWanted = true;
          } else if (e.kind == DeviceEvent::Kind::ConnectionBack) {
            say(QStringLiteral("%1: device back, telegrams again").arg(w.port));
          }
          if (mqtt == nullptr) return;
          mqtt->publishEvent(i, eventJson(e, w.port));
          if (e.kind == DeviceEvent::Kind::ConnectionLost) mqtt->setOnline(i, false);
        });
  }
  if (metrics) {
    for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
      Watched& w = watched[static_cast<std::size_t>(i)];
      const StatusMonitor* m = w.monitor.get();
      MetricsStore* store = metrics.get();
      QObject::connect(m, &StatusMonitor::statusDecoded,
                       [store, i](const StatusReading& r) { store->telegram(i, r); });
      QObject::connect(m, &StatusMonitor::badTelegram, [store, i] { store->badTelegram(i); });
      QObject::connect(m, &StatusMonitor::silent, [store, i, &w, &clock] {
        if (!w.reading && clock.elapsed() >= w.quietUntilMs) store->silent(i);
      });
      QObject::connect(m, &StatusMonitor::reopened, [store, i] { store->reopened(i); });
    }
  }
  const auto allDone = [&] {
    for (const Watched& w : watched) {
      if (w.printed < o.count && !w.givenUp) return false;
    }
    return true;
  };
  // The configuration read: the monitor closes the port, a thread reads the configuration
  // over the port held for it (which changes nothing on the device), and the monitor
  // takes the port back. A few quick attempts only: the monitor waits meanwhile.
  std::atomic<bool> stopReads{false};
  const RetryPolicy infoRetry{2, 200};
  const auto readInfo = [&](int i) {
    Watched& w = watched[static_cast<std::size_t>(i)];
    w.infoWanted = false;
    w.reading = true;
    w.monitor->connection().close();
    if (w.reader) w.reader->wait();  // the last read's thread, at its very end
    w.reader.reset(QThread::create([i, port = w.port, infoRetry, &stopReads, &w, &clock,
                                    mqtt = publisher.get(), metricsStore = metrics.get(), &announce,
                                    &versions] {
      std::optional<DeviceConfiguration> c;
      {
        HeldLine line(makeSystemSerialLine());
        if (line.open(port)) {
          ConfigExchange exchange(line, infoRetry, &stopReads);
          c = exchange.read();
          line.close();
        }
      }
      QMetaObject::invokeMethod(
          QCoreApplication::instance(),
          [i, c, port, &w, &clock, mqtt, metricsStore, &announce, &versions] {
            w.reading = false;
            w.quietUntilMs = clock.elapsed() + kSettleAfterReadMs;
            w.monitor->connection().open(port);
            if (!c) {
              say(QStringLiteral("%1: no configuration reply for the info topic; read again "
                                 "when the device is back")
                      .arg(port));
              return;
            }
            const QString version = QString::fromStdString(c->version);
            versions[static_cast<std::size_t>(i)] = version;
            if (mqtt != nullptr) mqtt->setInfo(i, infoJson(port, *c));
            if (announce) announce(i, c->model, version);
            if (metricsStore != nullptr) metricsStore->setVersion(i, version);
          },
          Qt::QueuedConnection);
    }));
    w.reader->start();
  };
  for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
    Watched& w = watched[static_cast<std::size_t>(i)];
    QObject::connect(
        w.monitor.get(), &StatusMonitor::statusDecoded,
        [i, &w, &o, &allDone, &printed, &clock, &readInfo, &announce, &versions,
         mqtt = publisher.get(), describe = o.mqtt || o.metrics](const StatusReading& r) {
          const QDateTime now = QDateTime::currentDateTime();
          if (!w.heard) w.infoWanted = true;
          if (w.inGap && !w.heard) say(QStringLiteral("%1: device heard").arg(w.port));
          w.heard = true;
          w.inGap = false;
          w.lastTelegram = now;
          w.lastTelegramMs = clock.elapsed();
          if (announce) announce(i, r.type, versions[static_cast<std::size_t>(i)]);
          if ((o.count > 0 && (w.printed >= o.count || w.givenUp)) || outputFailed()) return;
          if (mqtt != nullptr) {
            mqtt->publishStatus(i, jsonLine(now, w.port, r));
            mqtt->setOnline(i, true);
          }
          if (describe && w.infoWanted && !w.reading) readInfo(i);
          if (!o.print) {
            ++w.printed;
            if (o.count > 0 && allDone()) QCoreApplication::quit();
            return;
          }
          const QString line = o.format == Format::Json  ? jsonLine(now, w.port, r)
                               : o.format == Format::Csv ? csvLine(now, w.port, r, o.csvDialect)
                                                         : textLine(now, w.port, r);
          if (!printed(line)) return;
          ++w.printed;
          if (o.count > 0 && allDone()) QCoreApplication::quit();
        });
    // A pulled adapter, or a port not there at the start, is tried again by name every
    // half second.
    w.monitor->runOnOwnTimers();
  }
  if (o.seconds > 0) {
    QTimer::singleShot(static_cast<int>(o.seconds * 1000), [] { QCoreApplication::quit(); });
  }
  // Every half second: a port that closes (an adapter pulled, its link removed) is said
  // on standard error with the doctor's reason, and so is its return; a port without a
  // telegram for a second gets a gap row (CSV) or object (JSON); with --count, a port
  // without one for --timeout is given up.
  QTimer portWatch;
  QObject::connect(&portWatch, &QTimer::timeout, [&] {
    const qint64 now = clock.elapsed();
    for (Watched& w : watched) {
      if (w.reading || now < w.quietUntilMs) continue;
      const bool open = w.monitor->connection().isOpen();
      const QByteArray port = w.port.toUtf8();
      if (open != w.wasOpen) {
        w.wasOpen = open;
        if (open) {
          std::fprintf(stderr, "zfusectl: %s is open%s\n", port.constData(),
                       w.everOpen ? " again" : " now");
          w.everOpen = true;
        } else {
          std::fprintf(stderr, "zfusectl: %s closed, tried again every half second: %s\n",
                       port.constData(), diagnosePort(w.port).verdict.toUtf8().constData());
        }
      }
      const qint64 silentMs = now - w.lastTelegramMs;
      const bool counting = o.count > 0 && w.printed < o.count && !w.givenUp;
      if (silentMs >= kGapAfterMs && !w.inGap) {
        w.inGap = true;
        if (!w.heard) say(QStringLiteral("%1: no telegram yet").arg(w.port));
        if (o.print && (counting || o.count == 0) && !outputFailed()) {
          const QDateTime t = QDateTime::currentDateTime();
          if (o.format == Format::Csv) {
            if (!printed(csvGapLine(t, w.port, o.csvDialect))) return;
          } else if (o.format == Format::Json) {
            if (!printed(jsonGapLine(t, w.port, w.lastTelegram, open))) return;
          }
        }
      }
      if (counting && silentMs >= static_cast<qint64>(o.timeout * 1000)) {
        w.givenUp = true;
        say(QStringLiteral("%1: no telegram for %2 s, given up after %3 of %4")
                .arg(w.port, QString::number(o.timeout))
                .arg(w.printed)
                .arg(o.count));
        if (allDone()) QCoreApplication::quit();
      }
    }
  });
  portWatch.start(kReopenPeriodMs);
  const auto endSignals = quitOnEndSignals();
  int exitCode = QCoreApplication::exec();
  portWatch.stop();
  // A configuration read still running ends at its next attempt.
  stopReads = true;
  for (Watched& w : watched) {
    if (w.reader) w.reader->wait();
  }
  // The devices go offline at the broker before their ports close.
  if (publisher) publisher->finish(exitCode == kBrokerUnavailable ? 0 : kFinishMs);

  // A port that gave fewer telegrams than asked, or none at all, is not hidden by an
  // ordinary end.
  if (exitCode == kSuccess) {
    for (const Watched& w : watched) {
      if (w.givenUp || w.printed == 0) exitCode = kNoTelegrams;
    }
  }
  QJsonArray ports;
  for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
    const Watched& w = watched[static_cast<std::size_t>(i)];
    std::fprintf(stderr, "%s: %lld telegrams %s, %llu with a wrong check byte%s\n",
                 w.port.toUtf8().constData(), static_cast<long long>(w.printed),
                 o.print ? "printed" : "read",
                 static_cast<unsigned long long>(w.monitor->badTelegrams()),
                 w.printed == 0 ? "; no telegram came"
                 : w.givenUp    ? "; given up after --timeout"
                                : "");
    QJsonObject port{
        {QStringLiteral("port"), w.port},
        {QStringLiteral("telegrams"), w.printed},
        {QStringLiteral("bad_check_byte"), static_cast<qint64>(w.monitor->badTelegrams())}};
    port.insert(QStringLiteral("given_up"), w.givenUp);
    if (publisher) {
      const MqttPublisher::Counters c = publisher->counters(i);
      std::fprintf(stderr,
                   "%s: MQTT %llu status messages sent, %llu dropped; %llu events sent, %llu "
                   "dropped, %llu undelivered\n",
                   w.port.toUtf8().constData(), static_cast<unsigned long long>(c.statusSent),
                   static_cast<unsigned long long>(c.statusDropped),
                   static_cast<unsigned long long>(c.eventsSent),
                   static_cast<unsigned long long>(c.eventsDropped),
                   static_cast<unsigned long long>(c.eventsUnsent));
      port.insert(
          QStringLiteral("mqtt"),
          QJsonObject{{QStringLiteral("device_id"), o.deviceIds.at(i)},
                      {QStringLiteral("status_sent"), static_cast<qint64>(c.statusSent)},
                      {QStringLiteral("status_dropped"), static_cast<qint64>(c.statusDropped)},
                      {QStringLiteral("events_sent"), static_cast<qint64>(c.eventsSent)},
                      {QStringLiteral("events_dropped"), static_cast<qint64>(c.eventsDropped)},
                      {QStringLiteral("events_undelivered"), static_cast<qint64>(c.eventsUnsent)}});
    }
    ports.append(port);
  }
  if (o.summary && o.format == Format::Json) {
    print(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("summary"), ports}})
                                .toJson(QJsonDocument::Compact)));
  }
  // The monitors close their ports, and so remove the lock files, as they go.
  return exitCode;
}

// Clears the retained topics of devices no longer served: their state, online, info,
// status and events, and their Home Assistant discovery configurations in both forms.
int runMqttClean(const Invocation& o) {
  DiscoverySettings settings;
  settings.discoveryPrefix = o.discoveryPrefix;
  settings.topicPrefix = o.mqtt->topicPrefix;
  int exit = kSuccess;
  for (const QString& id : o.deviceIds) {
    std::vector<QByteArray> topics;
    for (const char* leaf : {"state", "online", "info", "status", "events"}) {
      topics.push_back(
          (o.mqtt->topicPrefix + QLatin1Char('/') + id + QLatin1Char('/') + QLatin1String(leaf))
              .toUtf8());
    }
    for (QByteArray& t : discoveryTopics(settings, id)) topics.push_back(std::move(t));
    QString error;
    if (!clearRetained(*o.mqtt, topics, kCleanTimeoutMs, &error)) {
      std::fprintf(stderr, "zfusectl: %s: %s\n", id.toUtf8().constData(),
                   error.toUtf8().constData());
      exit = std::max(exit, static_cast<int>(kBrokerUnavailable));
      continue;
    }
    if (!print(QStringLiteral("%1: %2 retained topics cleared under %3/%1/ and %4/")
                   .arg(id)
                   .arg(topics.size())
                   .arg(o.mqtt->topicPrefix, o.discoveryPrefix))) {
      return outputExit();
    }
  }
  return exit;
}

int run(int argc, char** argv) {
  // The arguments are checked before the application starts: help, version and usage
  // errors cost no more than that.
  // File names are taken as the bytes given, whatever their encoding.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << nameFromBytes(QByteArray(argv[i]));
  const Parsed parsed = parseArguments(arguments);
  writeOut(parsed.out.toUtf8());
  std::fputs(parsed.err.toUtf8().constData(), stderr);
  if (!parsed.invocation) return finishOutput(parsed.exit);

  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zfusectl"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
  const Invocation& o = *parsed.invocation;
  int exit = kUsage;
  switch (o.command) {
    case Command::Ports:
      exit = zfuse::reportPorts([](const QString& line) { print(line); });
      if (endSignalArrived()) exit = kInterrupted;
      break;
    case Command::Status:
      exit = runStatus(o);
      break;
    case Command::Read:
    case Command::Write:
    case Command::Verify:
      exit = runConfigCommand(o);
      break;
    case Command::Commission:
      exit = runCommission(o);
      break;
    case Command::Backup:
      exit = runBackup(o);
      break;
    case Command::MqttClean:
      exit = runMqttClean(o);
      break;
  }
  return finishOutput(exit);
}

}  // namespace
}  // namespace zfuse::ctl

int main(int argc, char** argv) {
  // A signal in the first moments ends the run like a later one, never half-way.
  zfuse::catchEndSignals();
  // A closed standard output (a pipe into head) shows as a failed write, which ends the
  // run in order, instead of killing the program with its ports open.
  std::signal(SIGPIPE, SIG_IGN);
  return zfuse::ctl::run(argc, argv);
}
