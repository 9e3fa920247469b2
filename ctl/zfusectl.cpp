// zfusectl: the fuse on the command line, for production lines, scripts and loggers.
// Built on the widget-free core only.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSysInfo>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <vector>

#include "ctl/mqttpublisher.h"
#include "link/connection.h"
#include "link/endsignals.h"
#include "link/portdoctor.h"
#include "link/portnames.h"
#include "monitor/eventlog.h"
#include "monitor/statusmonitor.h"
#include "monitor/statusoutput.h"
#include "zfuse_version.h"

namespace zfuse::ctl {
namespace {

enum class Format { Text, Json, Csv };

// Exit codes, as documented in --help and the README.
enum Exit : int {
  kSuccess = 0,
  kUsage = 2,
  kPortUnavailable = 7,
  kBrokerUnavailable = 7,  // --mqtt-required and the broker was never reached
};

const char* const kDescription =
    "The Zokara Electronic Fuse on the command line.\n"
    "\n"
    "Commands:\n"
    "  status   decoded status telegrams, one line each\n"
    "  ports    for COM1 ... COM11, the device each name leads to and whether it can be\n"
    "           opened now (the port doctor)\n"
    "\n"
    "Exit codes: 0 success, 2 usage, 7 a port cannot be opened (the reason is shown) or,\n"
    "with --mqtt-required, the MQTT broker could not be reached at the start;\n"
    "ports: 0 when at least one port can be opened, 1 otherwise.\n"
    "Status ends after --count telegrams of every port, after --seconds, or on Ctrl-C.\n"
    "Telegrams with a wrong check byte are counted, not printed; the counts go to\n"
    "standard error at the end (and, with --summary, as a last JSON object).\n"
    "\n"
    "status --mqtt mqtt://host[:port] publishes every port's telegrams to an MQTT broker\n"
    "under <prefix>/<device id>/: status (each telegram, JSON), state (the latest, retained,\n"
    "once a second), events (lamp changes, connection lost and back; QoS 1) and online\n"
    "(retained true or false, false also as the last will). Lines go to standard output\n"
    "only when --format is given. A broker that is away is tried again after 1, 2, 4 ...\n"
    "30 s; the serial side goes on meanwhile.";

void print(const QString& line) {
  const QByteArray bytes = line.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
  std::fputc('\n', stdout);
}

int usageError(const QString& message) {
  std::fprintf(stderr, "zfusectl: %s\nTry 'zfusectl --help'.\n", message.toUtf8().constData());
  return kUsage;
}

struct StatusOptions {
  QStringList ports;
  qint64 count = 0;    // telegrams per port; 0 = no limit
  double seconds = 0;  // 0 = no limit
  Format format = Format::Text;
  bool print = true;  // lines on standard output (with --mqtt only when --format is given)
  bool summary = false;
  std::optional<BrokerSettings> mqtt;
  QStringList deviceIds;  // one per port, for the topics
  bool mqttRequired = false;
};

// How long an ordinary end waits for the broker to take the events not yet delivered.
constexpr int kFinishMs = 3000;

bool readableRegularFile(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  struct stat st {};
  return ::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(name.constData(), R_OK) == 0;
}

// The first line of a password file. The path may name anything: only a regular file
// (also through a link) is opened, and without waiting.
std::optional<QByteArray> readPasswordFile(const QString& path, QString* error) {
  const QByteArray name = QFile::encodeName(path);
  struct stat st {};
  if (::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = QStringLiteral("--password-file %1 is not a readable regular file").arg(path);
    return std::nullopt;
  }
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0 || ::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > 4096) {
    if (fd >= 0) ::close(fd);
    *error = QStringLiteral(
                 "--password-file %1 cannot be read (a regular file of at most "
                 "4096 bytes)")
                 .arg(path);
    return std::nullopt;
  }
  QByteArray text(static_cast<qsizetype>(st.st_size), '\0');
  const ssize_t n = ::read(fd, text.data(), static_cast<std::size_t>(text.size()));
  ::close(fd);
  if (n < 0) {
    *error = QStringLiteral("--password-file %1 cannot be read").arg(path);
    return std::nullopt;
  }
  text.truncate(n);
  const qsizetype end = text.indexOf('\n');
  if (end >= 0) text.truncate(end);
  if (text.endsWith('\r')) text.chop(1);
  return text;
}

// Watches every port until each has given `count` telegrams, the time is up or a
// signal ends the run.
int runStatus(const StatusOptions& o) {
  struct Watched {
    QString port;
    std::unique_ptr<StatusMonitor> monitor;
    qint64 printed = 0;
    std::unique_ptr<EventDetector> events;
  };
  std::vector<Watched> watched;
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
  std::unique_ptr<MqttPublisher> publisher;
  if (o.mqtt) {
    publisher = std::make_unique<MqttPublisher>(*o.mqtt, o.deviceIds, o.ports);
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
      QObject::connect(w.events.get(), &EventDetector::event,
                       [i, port = w.port, mqtt = publisher.get()](const DeviceEvent& e) {
                         mqtt->publishEvent(i, eventJson(e, port));
                         if (e.kind == DeviceEvent::Kind::ConnectionLost) mqtt->setOnline(i, false);
                       });
    }
  }
  if (o.print && o.format == Format::Csv) print(csvHeader());
  const auto allDone = [&] {
    for (const Watched& w : watched) {
      if (w.printed < o.count) return false;
    }
    return true;
  };
  for (int i = 0; i < static_cast<int>(watched.size()); ++i) {
    Watched& w = watched[static_cast<std::size_t>(i)];
    QObject::connect(w.monitor.get(), &StatusMonitor::statusDecoded,
                     [i, &w, &o, &allDone, mqtt = publisher.get()](const StatusReading& r) {
                       if (o.count > 0 && w.printed >= o.count) return;
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
                       switch (o.format) {
                         case Format::Text:
                           print(textLine(now, w.port, r));
                           break;
                         case Format::Json:
                           print(jsonLine(now, w.port, r));
                           break;
                         case Format::Csv:
                           print(csvLine(now, w.port, r));
                           break;
                       }
                       std::fflush(stdout);
                       ++w.printed;
                       if (o.count > 0 && allDone()) QCoreApplication::quit();
                     });
    // A pulled adapter is tried again by name every half second.
    w.monitor->runOnOwnTimers();
  }
  if (o.seconds > 0) {
    QTimer::singleShot(static_cast<int>(o.seconds * 1000), [] { QCoreApplication::quit(); });
  }
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
        {QStringLiteral("badCheckByte"), static_cast<qint64>(w.monitor->badTelegrams())}};
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
          QJsonObject{{QStringLiteral("deviceId"), o.deviceIds.at(i)},
                      {QStringLiteral("statusSent"), static_cast<qint64>(c.statusSent)},
                      {QStringLiteral("statusDropped"), static_cast<qint64>(c.statusDropped)},
                      {QStringLiteral("eventsSent"), static_cast<qint64>(c.eventsSent)},
                      {QStringLiteral("eventsDropped"), static_cast<qint64>(c.eventsDropped)},
                      {QStringLiteral("eventsUndelivered"), static_cast<qint64>(c.eventsUnsent)}});
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
  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zfusectl"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));

  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromLatin1(kDescription));
  parser.addPositionalArgument(QStringLiteral("command"), QStringLiteral("status or ports"));
  const QCommandLineOption port(QStringLiteral("port"),
                                QStringLiteral("A port, COM1 ... COM11; may be repeated."),
                                QStringLiteral("COMn"));
  const QCommandLineOption count(QStringLiteral("count"),
                                 QStringLiteral("status: end after N telegrams of every port."),
                                 QStringLiteral("N"));
  const QCommandLineOption seconds(QStringLiteral("seconds"),
                                   QStringLiteral("status: end after S seconds."),
                                   QStringLiteral("S"));
  const QCommandLineOption format(QStringLiteral("format"),
                                  QStringLiteral("status: text (default), json or csv."),
                                  QStringLiteral("text|json|csv"));
  const QCommandLineOption summary(
      QStringLiteral("summary"),
      QStringLiteral("status --format json: end with a {\"summary\": ...} object."));
  const QCommandLineOption mqtt(
      QStringLiteral("mqtt"),
      QStringLiteral("status: publish to the MQTT broker at mqtt://host[:port] (1883) or "
                     "mqtts://host[:port] (8883, TLS)."),
      QStringLiteral("URL"));
  const QCommandLineOption mqttRequired(
      QStringLiteral("mqtt-required"),
      QStringLiteral("status --mqtt: end with exit code 7 when the first connection to the "
                     "broker fails, instead of trying on."));
  const QCommandLineOption topicPrefix(
      QStringLiteral("topic-prefix"),
      QStringLiteral("status --mqtt: the first topic levels (default zfuse)."),
      QStringLiteral("PREFIX"));
  const QCommandLineOption deviceId(
      QStringLiteral("device-id"),
      QStringLiteral("status --mqtt: the topic level of a device, one per --port in the same "
                     "order (default: host name and port, e.g. gw1-COM1)."),
      QStringLiteral("ID"));
  const QCommandLineOption username(QStringLiteral("username"),
                                    QStringLiteral("status --mqtt: the user at the broker."),
                                    QStringLiteral("NAME"));
  const QCommandLineOption passwordFile(
      QStringLiteral("password-file"),
      QStringLiteral("status --mqtt: the file whose first line is the user's password."),
      QStringLiteral("FILE"));
  const QCommandLineOption caFile(
      QStringLiteral("cafile"),
      QStringLiteral("status --mqtt mqtts://...: the certificate authority to trust (default: "
                     "the system's)."),
      QStringLiteral("FILE"));
  const QCommandLineOption cert(
      QStringLiteral("cert"),
      QStringLiteral("status --mqtt mqtts://...: client certificate (with --key)."),
      QStringLiteral("FILE"));
  const QCommandLineOption key(QStringLiteral("key"),
                               QStringLiteral("status --mqtt mqtts://...: client key (with "
                                              "--cert)."),
                               QStringLiteral("FILE"));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("This text."));
  const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The version."));
  parser.addOptions({port, count, seconds, format, summary, mqtt, mqttRequired, topicPrefix,
                     deviceId, username, passwordFile, caFile, cert, key, help, version});
  const QList<QCommandLineOption> mqttOnly = {mqttRequired, topicPrefix, deviceId, username,
                                              passwordFile, caFile,      cert,     key};
  if (!parser.parse(QCoreApplication::arguments())) return usageError(parser.errorText());
  if (parser.isSet(help)) {
    std::printf("%s", parser.helpText().toUtf8().constData());
    return kSuccess;
  }
  if (parser.isSet(version)) {
    std::printf("zfusectl %s\n", kVersion);
    return kSuccess;
  }
  const QStringList args = parser.positionalArguments();
  if (args.size() != 1) return usageError(QStringLiteral("name one command: status or ports"));
  const QString command = args.constFirst();

  if (command == QLatin1String("ports")) {
    if (parser.isSet(port) || parser.isSet(count) || parser.isSet(seconds) ||
        parser.isSet(format) || parser.isSet(summary) || parser.isSet(mqtt) ||
        std::any_of(mqttOnly.begin(), mqttOnly.end(),
                    [&](const QCommandLineOption& x) { return parser.isSet(x); })) {
      return usageError(QStringLiteral("ports takes no options"));
    }
    return zfuse::reportPorts(print);
  }
  if (command != QLatin1String("status")) {
    return usageError(QStringLiteral("unknown command '%1'; commands: status, ports").arg(command));
  }

  StatusOptions o;
  for (const QString& p : parser.values(port)) {
    if (comPortNumber(p) == 0) {
      return usageError(QStringLiteral("unknown port '%1'; ports: COM1 ... COM11").arg(p));
    }
    if (o.ports.contains(p)) return usageError(QStringLiteral("port %1 named twice").arg(p));
    o.ports << p;
  }
  if (o.ports.isEmpty()) return usageError(QStringLiteral("status needs --port COMn"));
  if (parser.isSet(count)) {
    bool ok = false;
    o.count = parser.value(count).toLongLong(&ok);
    if (!ok || o.count < 1) return usageError(QStringLiteral("--count needs a whole number >= 1"));
  }
  if (parser.isSet(seconds)) {
    bool ok = false;
    o.seconds = parser.value(seconds).toDouble(&ok);
    if (!ok || !(o.seconds > 0) || o.seconds > 365.0 * 24 * 3600) {
      return usageError(QStringLiteral("--seconds needs a number of seconds > 0"));
    }
  }
  if (parser.isSet(format)) {
    const QString f = parser.value(format);
    if (f == QLatin1String("text")) {
      o.format = Format::Text;
    } else if (f == QLatin1String("json")) {
      o.format = Format::Json;
    } else if (f == QLatin1String("csv")) {
      o.format = Format::Csv;
    } else {
      return usageError(QStringLiteral("unknown format '%1'; formats: text, json, csv").arg(f));
    }
  }
  o.summary = parser.isSet(summary);
  if (o.summary && o.format != Format::Json) {
    return usageError(QStringLiteral("--summary goes with --format json"));
  }
  if (!parser.isSet(mqtt)) {
    for (const QCommandLineOption& x : mqttOnly) {
      if (parser.isSet(x)) {
        return usageError(QStringLiteral("--%1 goes with --mqtt").arg(x.names().constFirst()));
      }
    }
    return runStatus(o);
  }

  QString error;
  o.mqtt = parseBrokerUrl(parser.value(mqtt), &error);
  if (!o.mqtt) return usageError(error);
  o.print = parser.isSet(format);
  o.mqttRequired = parser.isSet(mqttRequired);
  if (parser.isSet(topicPrefix)) {
    o.mqtt->topicPrefix = parser.value(topicPrefix);
    if (!validTopicPrefix(o.mqtt->topicPrefix)) {
      return usageError(QStringLiteral("--topic-prefix '%1': topic levels separated by '/', "
                                       "none empty, no '+' or '#'")
                            .arg(o.mqtt->topicPrefix));
    }
  }
  o.deviceIds = parser.values(deviceId);
  if (o.deviceIds.isEmpty()) {
    for (const QString& p : o.ports) o.deviceIds << QSysInfo::machineHostName() + '-' + p;
  } else if (o.deviceIds.size() != o.ports.size()) {
    return usageError(QStringLiteral("give one --device-id for every --port, in their order"));
  }
  for (const QString& id : o.deviceIds) {
    if (!validDeviceId(id)) {
      return usageError(
          QStringLiteral("--device-id '%1': one topic level, no '/', '+' or '#'").arg(id));
    }
    if (o.deviceIds.count(id) > 1) {
      return usageError(QStringLiteral("device id %1 named twice").arg(id));
    }
  }
  if (parser.isSet(passwordFile) && !parser.isSet(username)) {
    return usageError(QStringLiteral("--password-file goes with --username"));
  }
  o.mqtt->username = parser.value(username);
  if (parser.isSet(passwordFile)) {
    const auto password = readPasswordFile(parser.value(passwordFile), &error);
    if (!password) return usageError(error);
    o.mqtt->password = *password;
  }
  if (!o.mqtt->tls && (parser.isSet(caFile) || parser.isSet(cert) || parser.isSet(key))) {
    return usageError(QStringLiteral("--cafile, --cert and --key go with mqtts://"));
  }
  if (parser.isSet(cert) != parser.isSet(key)) {
    return usageError(QStringLiteral("--cert and --key go together"));
  }
  for (const QCommandLineOption* x : {&caFile, &cert, &key}) {
    if (parser.isSet(*x) && !readableRegularFile(parser.value(*x))) {
      return usageError(QStringLiteral("--%1 %2 is not a readable regular file")
                            .arg(x->names().constFirst(), parser.value(*x)));
    }
  }
  o.mqtt->caFile = parser.value(caFile);
  o.mqtt->certFile = parser.value(cert);
  o.mqtt->keyFile = parser.value(key);
  return runStatus(o);
}

}  // namespace
}  // namespace zfuse::ctl

int main(int argc, char** argv) {
  return zfuse::ctl::run(argc, argv);
}
