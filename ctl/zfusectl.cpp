// zfusectl: the fuse on the command line, for production lines, scripts and loggers.
// Built on the widget-free core only.

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <memory>
#include <vector>

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

// With --ha-discovery: each device's configuration goes out once its first telegram
// names the model (and again should another model answer on the port); Home
// Assistant's announcement is listened for, and removed devices are cleared.
template <typename Watched>
void announceToHomeAssistant(const Invocation& o, MqttPublisher& publisher,
                             const std::vector<Watched>& watched) {
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
  for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
    QObject::connect(watched[static_cast<std::size_t>(i)].monitor.get(),
                     &StatusMonitor::statusDecoded,
                     [i, settings, id = o.deviceIds.at(i), mqtt = &publisher,
                      announced = std::make_shared<int>(-1)](const StatusReading& r) {
                       if (*announced == r.type) return;
                       *announced = r.type;
                       std::vector<std::pair<QByteArray, QByteArray>> messages;
                       for (RetainedMessage& m : discoveryMessages(settings, id, r.type)) {
                         messages.emplace_back(std::move(m.topic), std::move(m.payload));
                       }
                       mqtt->setConfigurations(i, std::move(messages));
                     });
  }
}

// Watches every port until each has given `count` telegrams, the time is up or a
// signal ends the run; with --mqtt, publishes what it sees.
int runStatus(const Invocation& o) {
  struct Watched {
    QString port;
    std::unique_ptr<StatusMonitor> monitor;
    qint64 printed = 0;
    std::unique_ptr<EventDetector> events;
  };
  std::vector<Watched> watched;
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
  for (const QString& port : o.ports) {
    auto monitor = std::make_unique<StatusMonitor>();
    if (!monitor->connection().open(port)) {
      const PortDiagnosis d = diagnosePort(port);
      std::fprintf(stderr, "zfusectl: %s cannot be opened: %s\n", port.toUtf8().constData(),
                   d.verdict.toUtf8().constData());
      return kPortUnavailable;
    }
    watched.push_back({port, std::move(monitor), 0, nullptr});
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
  if (o.mqtt) {
    publisher = std::make_unique<MqttPublisher>(*o.mqtt, o.deviceIds, o.ports);
    if (o.haDiscovery) announceToHomeAssistant(o, *publisher, watched);
    if (o.mqttRequired) {
      QObject::connect(publisher.get(), &MqttPublisher::firstAttemptFailed,
                       [](const QString& reason) {
                         std::fprintf(stderr, "zfusectl: %s\n", reason.toUtf8().constData());
                         QCoreApplication::exit(kBrokerUnavailable);
                       });
    }
    publisher->start();
    // Lamp changes and lost or returning telegrams of each port go out as events.
    for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
      Watched& w = watched[static_cast<std::size_t>(i)];
      w.events = std::make_unique<EventDetector>();
      w.events->watch(w.monitor.get());
      QObject::connect(w.events.get(), &EventDetector::occurred,
                       [i, port = w.port, mqtt = publisher.get()](const DeviceEvent& e) {
                         mqtt->publishEvent(i, eventJson(e, port));
                         if (e.kind == DeviceEvent::Kind::ConnectionLost) mqtt->setOnline(i, false);
                       });
    }
  }
  if (metrics) {
    for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
      const StatusMonitor* m = watched[static_cast<std::size_t>(i)].monitor.get();
      MetricsStore* store = metrics.get();
      QObject::connect(m, &StatusMonitor::statusDecoded,
                       [store, i](const StatusReading& r) { store->telegram(i, r); });
      QObject::connect(m, &StatusMonitor::badTelegram, [store, i] { store->badTelegram(i); });
      QObject::connect(m, &StatusMonitor::silent, [store, i] { store->silent(i); });
      QObject::connect(m, &StatusMonitor::reopened, [store, i] { store->reopened(i); });
    }
  }
  const auto allDone = [&] {
    for (const Watched& w : watched) {
      if (w.printed < o.count) return false;
    }
    return true;
  };
  for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
    Watched& w = watched[static_cast<std::size_t>(i)];
    QObject::connect(
        w.monitor.get(), &StatusMonitor::statusDecoded,
        [i, &w, &o, &allDone, &printed, mqtt = publisher.get()](const StatusReading& r) {
          if ((o.count > 0 && w.printed >= o.count) || outputFailed()) return;
          const QDateTime now = QDateTime::currentDateTime();
          if (mqtt != nullptr) {
            mqtt->publishStatus(i, jsonLine(now, w.port, r));
            mqtt->setOnline(i, true);
          }
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
    // A pulled adapter is tried again by name every half second.
    w.monitor->runOnOwnTimers();
  }
  if (o.seconds > 0) {
    QTimer::singleShot(static_cast<int>(o.seconds * 1000), [] { QCoreApplication::quit(); });
  }
  // A port that closes (an adapter pulled, its link removed) is said on standard error
  // with the doctor's reason, and so is its return.
  QTimer portWatch;
  std::vector<bool> wasOpen(watched.size(), true);
  QObject::connect(&portWatch, &QTimer::timeout, [&] {
    for (std::size_t i = 0; i < watched.size(); ++i) {
      const bool open = watched[i].monitor->connection().isOpen();
      if (open == wasOpen[i]) continue;
      wasOpen[i] = open;
      const QByteArray port = watched[i].port.toUtf8();
      if (open) {
        std::fprintf(stderr, "zfusectl: %s is open again\n", port.constData());
      } else {
        std::fprintf(stderr, "zfusectl: %s closed, tried again every half second: %s\n",
                     port.constData(), diagnosePort(watched[i].port).verdict.toUtf8().constData());
      }
    }
  });
  portWatch.start(kReopenPeriodMs);
  const auto endSignals = quitOnEndSignals();
  const int exitCode = QCoreApplication::exec();
  // The devices go offline at the broker before their ports close.
  if (publisher) publisher->finish(exitCode == kSuccess ? kFinishMs : 0);

  QJsonArray ports;
  for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
    const Watched& w = watched[static_cast<std::size_t>(i)];
    std::fprintf(stderr, "%s: %lld telegrams %s, %llu with a wrong check byte\n",
                 w.port.toUtf8().constData(), static_cast<long long>(w.printed),
                 o.print ? "printed" : "published",
                 static_cast<unsigned long long>(w.monitor->badTelegrams()));
    QJsonObject port{
        {QStringLiteral("port"), w.port},
        {QStringLiteral("telegrams"), w.printed},
        {QStringLiteral("bad_check_byte"), static_cast<qint64>(w.monitor->badTelegrams())}};
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
