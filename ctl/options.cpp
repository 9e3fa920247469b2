#include "ctl/options.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QCommandLineParser>
#include <QFile>
#include <QSysInfo>
#include <algorithm>

#include "link/localnames.h"
#include "link/portaddress.h"
#include "link/portnames.h"
#include "zfuse_version.h"

namespace zfuse::ctl {
namespace {

const char* const kDescription =
    "The Zokara Electronic Fuse on the command line.\n"
    "\n"
    "Commands:\n"
    "  status   decoded status telegrams, one line each\n"
    "  ports    for COM1 ... COM11, the device each name leads to and whether it can be\n"
    "           opened now (the port doctor)\n"
    "  read     the device's configuration, as a configuration file (or JSON)\n"
    "  write    a configuration file to the device, then read back and compared\n"
    "  verify   compares the device's configuration with a configuration file\n"
    "  commission PLAN  configures, verifies and records every device of a plan (CSV)\n"
    "  backup PLAN      reads every device of a plan into --output DIR, with a plan\n"
    "           that restores them through commission\n"
    "  mqtt-clean       clears the retained MQTT topics of --device-id ID (repeatable)\n"
    "\n"
    "Examples:\n"
    "  zfusectl status --port COM1 --format json\n"
    "  zfusectl read --port COM1 -o before.txt\n"
    "  zfusectl write --port COM1 --port COM2 line7.txt\n"
    "  zfusectl verify --port COM1 line7.txt\n"
    "  zfusectl commission cabinet-3.csv --operator 'A. Weber' --language de\n"
    "  zfusectl backup cabinet-3.csv -o backup-3\n"
    "\n"
    "Exit codes: 0 success, 2 usage, 3 file rejected (its check number is shown),\n"
    "4 the device did not answer or acknowledge, 5 the read-back differs, 6 the file or a\n"
    "setting does not fit the device's model, 7 a port cannot be opened (the reason is\n"
    "shown) or, with status --mqtt-required, the first connection to the MQTT broker\n"
    "failed, 8 interrupted (after an interrupted write the device's configuration is\n"
    "unknown: run verify), 9 standard output cannot be written (the reason is shown),\n"
    "10 standard output's reader went away (a pipe into head; the run ended in order),\n"
    "11 the --metrics address cannot be listened on (the port is in use; nothing is\n"
    "opened then), 12 a file cannot be saved (read --output, backup, the commissioning\n"
    "record; the system's reason is shown). With several ports the highest code of any\n"
    "port; read, write, verify and backup end with a summary line counting each result.\n"
    "ports: 0 when at least one port can be opened, 1 otherwise.\n"
    "Status ends after --count telegrams of every port, after --seconds, or on Ctrl-C.\n"
    "With --count, a port without a telegram for --timeout seconds (default 5) is given\n"
    "up. Exit code 13: a port gave fewer telegrams than --count asked, or none at all by\n"
    "the end. A port that cannot be opened at the start is tried again every half\n"
    "second, as one lost later (with --require-all: exit code 7).\n"
    "Telegrams with a wrong check byte are counted, not printed; the counts go to\n"
    "standard error at the end (and, with --summary, as a last JSON object).\n"
    "\n"
    "status --mqtt mqtt://host[:port] publishes every port's telegrams to an MQTT broker\n"
    "under <prefix>/<device id>/: status (each telegram, JSON), state (the latest, retained,\n"
    "once a second), events (lamp changes, connection lost and back; QoS 1) and online\n"
    "(retained true or false, false also as the last will). Lines go to standard output\n"
    "only when --format is given. A broker that is away is tried again after 1, 2, 4 ...\n"
    "30 s; the serial side goes on meanwhile. --ha-discovery adds a retained discovery\n"
    "configuration per device for Home Assistant.\n"
    "\n"
    "status --metrics [ADDRESS:]PORT serves the devices' values as Prometheus metrics on\n"
    "http://ADDRESS:PORT/metrics (127.0.0.1 unless an address is given; an address that is\n"
    "not loopback needs --metrics-public).";

Parsed usage(const QString& message) {
  return {std::nullopt,
          kUsage,
          {},
          QStringLiteral("zfusectl: %1\nTry 'zfusectl --help'.\n").arg(message)};
}

// A whole number in [low, high], or nullopt.
std::optional<int> wholeNumber(const QString& text, int low, int high) {
  bool ok = false;
  const int n = text.toInt(&ok);
  if (!ok || n < low || n > high) return std::nullopt;
  return n;
}

bool readableRegularFile(const QString& path) {
  const QByteArray name = localName(path);
  struct stat st {};
  return ::stat(name.constData(), &st) == 0 && S_ISREG(st.st_mode) &&
         ::access(name.constData(), R_OK) == 0;
}

// The first line of a password file. The path may name anything: only a regular file
// (also through a link) is opened, and without waiting.
std::optional<QByteArray> readPasswordFile(const QString& path, QString* error) {
  const QByteArray name = localName(path);
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

// The options of commission and backup, in the order parsePlanCommand takes them.
struct PlanOptions {
  const QCommandLineOption& port;
  const QCommandLineOption& jobs;
  const QCommandLineOption& dryRun;
  const QCommandLineOption& operatorName;
  const QCommandLineOption& title;
  const QCommandLineOption& report;
  const QCommandLineOption& only;
  const QCommandLineOption& tag;
  const QCommandLineOption& output;
  const QCommandLineOption& retries;
  const QCommandLineOption& interval;
  const QCommandLineOption& language;
};

// commission PLAN and backup PLAN (or backup --port ... --tag ...): every other option
// is refused rather than ignored.
Parsed parsePlanCommand(const QCommandLineParser& parser, Invocation o, const QStringList& args,
                        const PlanOptions& p) {
  const bool backup = o.command == Command::Backup;
  const QString name = backup ? QStringLiteral("backup") : QStringLiteral("commission");
  const QList<const QCommandLineOption*> allowed =
      backup ? QList<const QCommandLineOption*>{&p.port,   &p.jobs,    &p.only,     &p.tag,
                                                &p.output, &p.retries, &p.interval, &p.language}
             : QList<const QCommandLineOption*>{&p.jobs,    &p.dryRun,   &p.operatorName,
                                                &p.title,   &p.report,   &p.only,
                                                &p.retries, &p.interval, &p.language};
  for (const QString& option : parser.optionNames()) {
    bool known = false;
    for (const auto* a : allowed) known |= a->names().contains(option);
    if (!known) return usage(QStringLiteral("--%1 does not go with %2").arg(option, name));
  }
  if (args.size() > 2) return usage(QStringLiteral("%1 takes one plan").arg(name));
  if (args.size() == 2) {
    o.plan = args[1];
    if (o.plan.isEmpty()) return usage(QStringLiteral("the plan's name is empty"));
  }
  QList<PortAddress> addresses;
  for (const QString& text : parser.values(p.port)) {
    QString error;
    const auto address = portAddressOf(text, &error);
    if (!address) return usage(error);
    addresses << *address;
    o.ports << text;
  }
  if (const auto twice = samePortTwice(addresses)) return usage(*twice);
  o.tags = parser.values(p.tag);
  if (backup && o.plan.isEmpty() == o.ports.isEmpty()) {
    return usage(QStringLiteral("backup needs a plan or --port with --tag, not both"));
  }
  if (!backup && o.plan.isEmpty()) return usage(QStringLiteral("commission needs a plan"));
  if (o.tags.size() != o.ports.size()) {
    return usage(QStringLiteral("give one --tag for every --port, in their order"));
  }
  for (const QString& t : o.tags) {
    if (t.isEmpty()) return usage(QStringLiteral("a tag is empty"));
    if (o.tags.count(t) > 1) return usage(QStringLiteral("tag %1 named twice").arg(t));
  }
  o.only = parser.values(p.only);
  if (!o.ports.isEmpty() && !o.only.isEmpty()) {
    return usage(QStringLiteral("--only goes with a plan"));
  }
  if (parser.isSet(p.jobs)) {
    const auto n = wholeNumber(parser.value(p.jobs), 1, 1000);
    if (!n) return usage(QStringLiteral("--jobs needs a whole number from 1 to 1000"));
    o.jobs = *n;
  }
  o.dryRun = parser.isSet(p.dryRun);
  o.operatorName = parser.value(p.operatorName);
  o.title = parser.value(p.title);
  o.reportDir = parser.value(p.report);
  if (parser.isSet(p.report) && o.reportDir.isEmpty()) {
    return usage(QStringLiteral("--report needs a folder"));
  }
  if (backup) {
    o.output = parser.value(p.output);
    if (o.output.isEmpty()) return usage(QStringLiteral("backup needs --output DIR"));
  }
  if (parser.isSet(p.retries)) {
    const auto n = wholeNumber(parser.value(p.retries), 0, 1000);
    if (!n) return usage(QStringLiteral("--retries needs a whole number from 0 to 1000"));
    o.retry.retries = *n;
  }
  if (parser.isSet(p.interval)) {
    const auto n = wholeNumber(parser.value(p.interval), 0, 60000);
    if (!n) return usage(QStringLiteral("--interval needs milliseconds from 0 to 60000"));
    o.retry.intervalMs = *n;
  }
  if (parser.isSet(p.language)) {
    const QString l = parser.value(p.language);
    if (l != QLatin1String("en") && l != QLatin1String("de")) {
      return usage(QStringLiteral("unknown language '%1'; languages: en, de").arg(l));
    }
    o.german = l == QLatin1String("de");
  }
  return {o, kSuccess, {}, {}};
}

}  // namespace

std::optional<MetricsAddress> parseMetricsAddress(const QString& text, QString* error) {
  const auto fail = [&](const QString& why) {
    *error = QStringLiteral("--metrics '%1': %2").arg(text, why);
    return std::nullopt;
  };
  MetricsAddress m;
  QString port = text;
  const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
  if (colon >= 0) {
    QString host = text.left(colon);
    port = text.mid(colon + 1);
    if (host.startsWith(QLatin1Char('[')) && host.endsWith(QLatin1Char(']'))) {
      host = host.mid(1, host.size() - 2);
    } else if (host.contains(QLatin1Char(':'))) {
      return fail(QStringLiteral("an IPv6 address goes in brackets: [::1]:PORT"));
    }
    if (host == QLatin1String("localhost")) {
      m.address = QHostAddress(QHostAddress::LocalHost);
    } else if (!m.address.setAddress(host)) {
      return fail(QStringLiteral("give [ADDRESS:]PORT with a numeric address"));
    }
  }
  const auto number = wholeNumber(port, 1, 65535);
  if (!number) return fail(QStringLiteral("the port is a number from 1 to 65535"));
  m.port = static_cast<quint16>(*number);
  return m;
}

Parsed parseArguments(const QStringList& arguments) {
  QCommandLineParser parser;
  parser.setApplicationDescription(QString::fromLatin1(kDescription));
  parser.addPositionalArgument(
      QStringLiteral("command"),
      QStringLiteral("status, ports, read, write, verify, commission, backup or mqtt-clean"));
  parser.addPositionalArgument(QStringLiteral("file"),
                               QStringLiteral("write, verify: the configuration file"),
                               QStringLiteral("[file]"));
  const QCommandLineOption port(QStringLiteral("port"),
                                QStringLiteral("A port, COM1 ... COM11 or a device path such "
                                               "as /dev/ttyUSB0; may be repeated: the "
                                               "devices are served in parallel."),
                                QStringLiteral("port"));
  const QCommandLineOption count(QStringLiteral("count"),
                                 QStringLiteral("status: end after N telegrams of every port."),
                                 QStringLiteral("N"));
  const QCommandLineOption seconds(QStringLiteral("seconds"),
                                   QStringLiteral("status: end after S seconds."),
                                   QStringLiteral("S"));
  const QCommandLineOption format(
      QStringLiteral("format"),
      QStringLiteral("status: text (default), json or csv; read: file (default), json or "
                     "json-array; write, verify: text (default), json or json-array. json is "
                     "JSON Lines (an object a line); json-array one JSON document."),
      QStringLiteral("format"));
  const QCommandLineOption csvDialect(
      QStringLiteral("csv-dialect"),
      QStringLiteral("status --format csv: comma (default; comma-separated, decimal point) or "
                     "semicolon (for spreadsheets: semicolon-separated, decimal comma)."),
      QStringLiteral("dialect"));
  const QCommandLineOption summary(
      QStringLiteral("summary"),
      QStringLiteral("status --format json: end with a {\"summary\": ...} object."));
  const QCommandLineOption output(
      {QStringLiteral("o"), QStringLiteral("output")},
      QStringLiteral("read: write to FILE instead of standard output; %p in the name stands "
                     "for the port (needed with several ports)."),
      QStringLiteral("FILE"));
  const QCommandLineOption retries(
      QStringLiteral("retries"),
      QStringLiteral("read, write, verify: attempts after a failed one (default 12)."),
      QStringLiteral("N"));
  const QCommandLineOption interval(
      QStringLiteral("interval"),
      QStringLiteral("read, write, verify: milliseconds between attempts (default 500)."),
      QStringLiteral("MS"));
  const QCommandLineOption noVerify(QStringLiteral("no-verify"),
                                    QStringLiteral("write: do not read back and compare."));
  const QCommandLineOption language(
      QStringLiteral("language"),
      QStringLiteral("read, write, verify: messages in English (en, default) or German (de)."),
      QStringLiteral("en|de"));
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
                     "order (default: host name and port, e.g. gw1-COM1, gw1-ttyUSB0)."),
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
  const QCommandLineOption haDiscovery(
      QStringLiteral("ha-discovery"),
      QStringLiteral("status --mqtt: publish a retained Home Assistant discovery configuration "
                     "per device, again whenever Home Assistant announces itself."));
  const QCommandLineOption discoveryPrefix(
      QStringLiteral("ha-discovery-prefix"),
      QStringLiteral("status --ha-discovery: the discovery prefix (default homeassistant)."),
      QStringLiteral("PREFIX"));
  const QCommandLineOption perEntity(
      QStringLiteral("ha-discovery-per-entity"),
      QStringLiteral("status --ha-discovery: one configuration per entity instead of one per "
                     "device (older Home Assistant)."));
  const QCommandLineOption haRemove(
      QStringLiteral("ha-remove"),
      QStringLiteral("status --ha-discovery: clear the retained configurations of device ID, "
                     "which is no longer served; may be repeated."),
      QStringLiteral("ID"));
  const QCommandLineOption metrics(
      QStringLiteral("metrics"),
      QStringLiteral("status: serve Prometheus metrics on http://ADDRESS:PORT/metrics "
                     "(address 127.0.0.1 unless given)."),
      QStringLiteral("[ADDRESS:]PORT"));
  const QCommandLineOption metricsPublic(
      QStringLiteral("metrics-public"),
      QStringLiteral("status --metrics: allow an address that is not loopback."));
  const QCommandLineOption timeout(
      QStringLiteral("timeout"),
      QStringLiteral("status --count: give a port up after S seconds without a telegram "
                     "(default 5)."),
      QStringLiteral("S"));
  const QCommandLineOption requireAll(
      QStringLiteral("require-all"),
      QStringLiteral("status: end with exit code 7 when a port cannot be opened at the start, "
                     "instead of trying it again every half second."));
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("This text."));
  const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The version."));
  parser.addOption(csvDialect);
  parser.addOptions({port,     count,        seconds,  format, summary,      output,      retries,
                     interval, noVerify,     language, mqtt,   mqttRequired, topicPrefix, deviceId,
                     username, passwordFile, caFile,   cert,   key,          help,        version});
  const QCommandLineOption jobs(
      QStringLiteral("jobs"),
      QStringLiteral("commission, backup: devices served at once (default: all)."),
      QStringLiteral("N"));
  const QCommandLineOption dryRun(
      QStringLiteral("dry-run"),
      QStringLiteral("commission: read and compare every device, write nothing."));
  const QCommandLineOption operatorName(QStringLiteral("operator"),
                                        QStringLiteral("commission: who commissions, for the "
                                                       "record."),
                                        QStringLiteral("NAME"));
  const QCommandLineOption title(QStringLiteral("title"),
                                 QStringLiteral("commission: the record's title."),
                                 QStringLiteral("TEXT"));
  const QCommandLineOption report(
      QStringLiteral("report"),
      QStringLiteral("commission: the folder for the record (default: the plan's folder)."),
      QStringLiteral("DIR"));
  const QCommandLineOption only(
      QStringLiteral("only"),
      QStringLiteral("commission, backup: serve only the device with this tag; may be "
                     "repeated."),
      QStringLiteral("TAG"));
  const QCommandLineOption tag(
      QStringLiteral("tag"),
      QStringLiteral("backup without a plan: the tag of a --port, one per --port in order."),
      QStringLiteral("TAG"));
  parser.addOptions({jobs, dryRun, operatorName, title, report, only, tag});
  const QList<const QCommandLineOption*> planOnly = {&jobs,   &dryRun, &operatorName, &title,
                                                     &report, &only,   &tag};
  parser.addOptions({haDiscovery, discoveryPrefix, perEntity, haRemove, metrics, metricsPublic});
  parser.addOptions({timeout, requireAll});
  const QList<const QCommandLineOption*> mqttOnly = {
      &mqttRequired, &topicPrefix, &username, &passwordFile, &caFile, &cert, &key, &haDiscovery};
  if (!parser.parse(arguments)) return usage(parser.errorText());
  // Only --port, --device-id, --only, --tag and --ha-remove may be repeated; any other
  // option given twice is refused rather than the last one silently winning.
  for (const QCommandLineOption* option :
       {&count,        &seconds,     &format,        &summary,      &output,
        &retries,      &interval,    &noVerify,      &language,     &mqtt,
        &mqttRequired, &topicPrefix, &username,      &passwordFile, &caFile,
        &cert,         &key,         &csvDialect,    &jobs,         &dryRun,
        &operatorName, &title,       &report,        &haDiscovery,  &discoveryPrefix,
        &perEntity,    &metrics,     &metricsPublic, &timeout,      &requireAll}) {
    qsizetype given = 0;
    for (const QString& n : parser.optionNames()) given += option->names().contains(n);
    if (given > 1) {
      return usage(QStringLiteral("--%1 given %2 times; it is given once")
                       .arg(option->names().constLast())
                       .arg(given));
    }
  }
  if (parser.isSet(help)) {
    // Parsed before the application starts, so the parser does not know the name.
    QString text = parser.helpText();
    text.replace(QLatin1String("<executable_name>"), QLatin1String("zfusectl"));
    return {std::nullopt, kSuccess, text, {}};
  }
  if (parser.isSet(version)) {
    return {
        std::nullopt, kSuccess, QStringLiteral("zfusectl %1\n").arg(QLatin1String(kVersion)), {}};
  }
  const QStringList args = parser.positionalArguments();
  if (args.isEmpty())
    return usage(QStringLiteral(
        "name one command: status, ports, read, write, verify, commission or backup"));
  const QString name = args.constFirst();

  Invocation o;
  if (name == QLatin1String("status")) {
    o.command = Command::Status;
  } else if (name == QLatin1String("ports")) {
    o.command = Command::Ports;
  } else if (name == QLatin1String("read")) {
    o.command = Command::Read;
  } else if (name == QLatin1String("write")) {
    o.command = Command::Write;
  } else if (name == QLatin1String("verify")) {
    o.command = Command::Verify;
  } else if (name == QLatin1String("mqtt-clean")) {
    o.command = Command::MqttClean;
  } else if (name == QLatin1String("commission") || name == QLatin1String("backup")) {
    o.command = name == QLatin1String("backup") ? Command::Backup : Command::Commission;
    return parsePlanCommand(parser, o, args,
                            {port, jobs, dryRun, operatorName, title, report, only, tag, output,
                             retries, interval, language});
  } else {
    return usage(QStringLiteral("unknown command '%1'; commands: status, ports, read, write, "
                                "verify, commission, backup, mqtt-clean")
                     .arg(name));
  }
  const bool exchange =
      o.command == Command::Read || o.command == Command::Write || o.command == Command::Verify;
  for (const auto* option : planOnly) {
    if (parser.isSet(*option)) {
      return usage(
          QStringLiteral("--%1 goes with commission and backup").arg(option->names().constLast()));
    }
  }
  const bool needsFile = o.command == Command::Write || o.command == Command::Verify;

  if (o.command == Command::Ports) {
    if (args.size() > 1 || !parser.optionNames().isEmpty()) {
      return usage(QStringLiteral("ports takes no options"));
    }
    return {o, kSuccess, {}, {}};
  }
  if (needsFile) {
    if (args.size() != 2) return usage(QStringLiteral("%1 needs one configuration file").arg(name));
    o.file = args[1];
    if (o.file.isEmpty()) return usage(QStringLiteral("the file name is empty"));
  } else if (args.size() > 1) {
    return usage(QStringLiteral("%1 takes no file: '%2'").arg(name, args[1]));
  }

  QList<PortAddress> addresses;
  for (const QString& p : parser.values(port)) {
    QString error;
    const auto address = portAddressOf(p, &error);
    if (!address) return usage(error);
    addresses << *address;
    o.ports << p;
  }
  if (const auto twice = samePortTwice(addresses)) return usage(*twice);
  // mqtt-clean serves no port: it names the devices by their ids.
  const bool clean = o.command == Command::MqttClean;
  if (clean && !o.ports.isEmpty()) return usage(QStringLiteral("mqtt-clean takes no --port"));
  if (clean && !parser.isSet(mqtt)) return usage(QStringLiteral("mqtt-clean needs --mqtt URL"));
  if (clean && !parser.isSet(deviceId)) {
    return usage(QStringLiteral("mqtt-clean needs --device-id ID, one for each device to clear"));
  }
  if (o.ports.isEmpty() && !clean) return usage(QStringLiteral("%1 needs --port COMn").arg(name));

  // Options that belong to other commands are refused rather than ignored.
  const auto onlyFor = [&](const QCommandLineOption& option, bool allowed) {
    return !allowed && parser.isSet(option);
  };
  const bool status = o.command == Command::Status;
  for (const auto* option : {&count, &seconds, &summary, &mqtt, &metrics, &requireAll}) {
    if (onlyFor(*option, status || (option == &mqtt && clean))) {
      return usage(QStringLiteral("--%1 goes with status").arg(option->names().constLast()));
    }
  }
  for (const auto* option : {&retries, &interval, &language}) {
    // The discovery configurations name the entities in the chosen language.
    if (onlyFor(*option, exchange || (option == &language && parser.isSet(haDiscovery)))) {
      return usage(
          QStringLiteral("--%1 goes with read, write and verify").arg(option->names().constLast()));
    }
  }
  for (const auto* option : mqttOnly) {
    if (onlyFor(*option, parser.isSet(mqtt))) {
      return usage(QStringLiteral("--%1 goes with --mqtt").arg(option->names().constLast()));
    }
  }
  for (const auto* option : {&discoveryPrefix, &perEntity, &haRemove}) {
    if (onlyFor(*option, parser.isSet(haDiscovery) || (option == &discoveryPrefix && clean))) {
      return usage(
          QStringLiteral("--%1 goes with --ha-discovery").arg(option->names().constLast()));
    }
  }
  if (onlyFor(metricsPublic, parser.isSet(metrics)))
    return usage(QStringLiteral("--metrics-public goes with --metrics"));
  if (onlyFor(deviceId, parser.isSet(mqtt) || parser.isSet(metrics)))
    return usage(QStringLiteral("--device-id goes with --mqtt or --metrics"));
  if (onlyFor(output, o.command == Command::Read))
    return usage(QStringLiteral("--output goes with read"));
  if (onlyFor(noVerify, o.command == Command::Write))
    return usage(QStringLiteral("--no-verify goes with write"));

  if (parser.isSet(count)) {
    bool ok = false;
    o.count = parser.value(count).toLongLong(&ok);
    if (!ok || o.count < 1) return usage(QStringLiteral("--count needs a whole number >= 1"));
  }
  if (parser.isSet(timeout)) {
    bool ok = false;
    o.timeout = parser.value(timeout).toDouble(&ok);
    if (!parser.isSet(count)) return usage(QStringLiteral("--timeout goes with status --count"));
    if (!ok || !(o.timeout > 0) || o.timeout > 365.0 * 24 * 3600) {
      return usage(QStringLiteral("--timeout needs a number of seconds > 0"));
    }
  }
  o.requireAll = parser.isSet(requireAll);
  if (parser.isSet(seconds)) {
    bool ok = false;
    o.seconds = parser.value(seconds).toDouble(&ok);
    if (!ok || !(o.seconds > 0) || o.seconds > 365.0 * 24 * 3600) {
      return usage(QStringLiteral("--seconds needs a number of seconds > 0"));
    }
  }
  o.format = o.command == Command::Read ? Format::File : Format::Text;
  if (parser.isSet(format)) {
    const QString f = parser.value(format);
    const bool isText = f == QLatin1String("text");
    const bool isJson = f == QLatin1String("json");
    const bool isCsv = f == QLatin1String("csv");
    const bool isFile = f == QLatin1String("file");
    const bool isArray = f == QLatin1String("json-array");
    if (status && (isText || isJson || isCsv)) {
      o.format = isText ? Format::Text : isJson ? Format::Json : Format::Csv;
    } else if (o.command == Command::Read && (isFile || isJson || isArray)) {
      o.format = isFile ? Format::File : isJson ? Format::Json : Format::JsonArray;
    } else if (needsFile && (isText || isJson || isArray)) {
      o.format = isText ? Format::Text : isJson ? Format::Json : Format::JsonArray;
    } else {
      return usage(QStringLiteral("unknown format '%1' for %2; formats: %3")
                       .arg(f, name,
                            status ? QStringLiteral("text, json, csv")
                            : o.command == Command::Read
                                ? QStringLiteral("file, json, json-array")
                                : QStringLiteral("text, json, json-array")));
    }
  }
  if (parser.isSet(csvDialect)) {
    const QString d = parser.value(csvDialect);
    if (!status || o.format != Format::Csv) {
      return usage(QStringLiteral("--csv-dialect goes with status --format csv"));
    }
    if (d == QLatin1String("semicolon")) {
      o.csvDialect = CsvDialect::Semicolon;
    } else if (d != QLatin1String("comma")) {
      return usage(QStringLiteral("unknown CSV dialect '%1'; dialects: comma, semicolon").arg(d));
    }
  }
  o.summary = parser.isSet(summary);
  if (o.summary && o.format != Format::Json) {
    return usage(QStringLiteral("--summary goes with --format json"));
  }
  if (parser.isSet(retries)) {
    const auto n = wholeNumber(parser.value(retries), 0, 1000);
    if (!n) return usage(QStringLiteral("--retries needs a whole number from 0 to 1000"));
    o.retry.retries = *n;
  }
  if (parser.isSet(interval)) {
    const auto n = wholeNumber(parser.value(interval), 0, 60000);
    if (!n) return usage(QStringLiteral("--interval needs milliseconds from 0 to 60000"));
    o.retry.intervalMs = *n;
  }
  if (parser.isSet(language)) {
    const QString l = parser.value(language);
    if (l != QLatin1String("en") && l != QLatin1String("de")) {
      return usage(QStringLiteral("unknown language '%1'; languages: en, de").arg(l));
    }
    o.german = l == QLatin1String("de");
  }
  o.verify = !parser.isSet(noVerify);
  if (parser.isSet(output)) {
    o.output = parser.value(output);
    if (o.output.isEmpty()) return usage(QStringLiteral("--output needs a file name"));
    if (o.ports.size() > 1 && !o.output.contains(QLatin1String("%p"))) {
      return usage(QStringLiteral("with several ports, --output needs %p for the port"));
    }
  } else if (o.command == Command::Read && o.format == Format::File && o.ports.size() > 1) {
    return usage(QStringLiteral("with several ports, read needs --output with %p for the port"));
  }
  if (parser.isSet(mqtt)) {
    QString error;
    o.mqtt = parseBrokerUrl(parser.value(mqtt), &error);
    if (!o.mqtt) return usage(error);
    o.print = parser.isSet(format);
    o.mqttRequired = parser.isSet(mqttRequired);
    if (parser.isSet(topicPrefix)) {
      o.mqtt->topicPrefix = parser.value(topicPrefix);
      const QString problem = topicPrefixProblem(o.mqtt->topicPrefix);
      if (!problem.isEmpty()) {
        return usage(QStringLiteral("--topic-prefix '%1': %2")
                         .arg(quotedForMessage(o.mqtt->topicPrefix), problem));
      }
    }
  }
  if (parser.isSet(mqtt) || parser.isSet(metrics)) {
    o.deviceIds = parser.values(deviceId);
    if (o.deviceIds.isEmpty()) {
      // A device path names the device by its last part (gw1-ttyUSB0): a '/' would split
      // the id over topic levels that a subscriber's "+" does not match.
      for (const QString& p : o.ports) {
        o.deviceIds << QSysInfo::machineHostName() + '-' + p.section(QLatin1Char('/'), -1);
      }
    } else if (o.deviceIds.size() != o.ports.size() && !clean) {
      return usage(QStringLiteral("give one --device-id for every --port, in their order"));
    }
    for (const QString& id : o.deviceIds) {
      const QString problem = deviceIdProblem(id);
      if (!problem.isEmpty()) {
        return usage(QStringLiteral("--device-id '%1': %2").arg(quotedForMessage(id), problem));
      }
      if (o.deviceIds.count(id) > 1)
        return usage(QStringLiteral("device id %1 named twice").arg(id));
      // The longest topic of a device, and its client id "zfusectl-<id>".
      const QString prefix = o.mqtt ? o.mqtt->topicPrefix : QString();
      const qsizetype longest =
          std::max((prefix + QStringLiteral("/%1/status").arg(id)).toUtf8().size(),
                   (QStringLiteral("zfusectl-") + id).toUtf8().size());
      if (longest > kMaxTopicBytes) {
        return usage(QStringLiteral("--topic-prefix and --device-id '%1': a topic is at most "
                                    "%2 bytes")
                         .arg(quotedForMessage(id))
                         .arg(kMaxTopicBytes));
      }
    }
  }
  if (parser.isSet(mqtt)) {
    QString error;
    if (parser.isSet(passwordFile) && !parser.isSet(username)) {
      return usage(QStringLiteral("--password-file goes with --username"));
    }
    o.mqtt->username = parser.value(username);
    if (parser.isSet(passwordFile)) {
      const auto password = readPasswordFile(parser.value(passwordFile), &error);
      if (!password) return usage(error);
      o.mqtt->password = *password;
    }
    if (!o.mqtt->tls && (parser.isSet(caFile) || parser.isSet(cert) || parser.isSet(key))) {
      return usage(QStringLiteral("--cafile, --cert and --key go with mqtts://"));
    }
    if (parser.isSet(cert) != parser.isSet(key)) {
      return usage(QStringLiteral("--cert and --key go together"));
    }
    for (const auto* option : {&caFile, &cert, &key}) {
      if (parser.isSet(*option) && !readableRegularFile(parser.value(*option))) {
        return usage(QStringLiteral("--%1 %2 is not a readable regular file")
                         .arg(option->names().constLast(), parser.value(*option)));
      }
    }
    o.mqtt->caFile = parser.value(caFile);
    o.mqtt->certFile = parser.value(cert);
    o.mqtt->keyFile = parser.value(key);
  }
  if (parser.isSet(haDiscovery) || clean) {
    o.haDiscovery = !clean;
    o.discoveryPerEntity = parser.isSet(perEntity);
    if (parser.isSet(discoveryPrefix)) o.discoveryPrefix = parser.value(discoveryPrefix);
    const QString problem = discoveryPrefixProblem(o.discoveryPrefix);
    if (!problem.isEmpty()) {
      return usage(QStringLiteral("--ha-discovery-prefix '%1': %2")
                       .arg(quotedForMessage(o.discoveryPrefix), problem));
    }
    for (const QString& id : parser.values(haRemove)) {
      const QString idProblem = deviceIdProblem(id);
      if (!idProblem.isEmpty()) {
        return usage(QStringLiteral("--ha-remove '%1': %2").arg(quotedForMessage(id), idProblem));
      }
      if (o.deviceIds.contains(id)) {
        return usage(QStringLiteral("--ha-remove %1: that device is served").arg(id));
      }
      o.haRemove << id;
    }
  }
  if (parser.isSet(metrics)) {
    QString error;
    o.metrics = parseMetricsAddress(parser.value(metrics), &error);
    if (!o.metrics) return usage(error);
    if (!o.metrics->address.isLoopback() && !parser.isSet(metricsPublic)) {
      return usage(QStringLiteral("--metrics %1: not a loopback address; the metrics are the "
                                  "plant's data: add --metrics-public to serve them there")
                       .arg(parser.value(metrics)));
    }
  }
  return {o, kSuccess, {}, {}};
}

}  // namespace zfuse::ctl
