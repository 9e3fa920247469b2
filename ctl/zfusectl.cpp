// zfusectl: the fuse on the command line, for production lines, scripts and loggers.
// Built on the widget-free core only.

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

#include "link/connection.h"
#include "link/endsignals.h"
#include "link/portdoctor.h"
#include "link/portnames.h"
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
};

const char* const kDescription =
    "The Zokara Electronic Fuse on the command line.\n"
    "\n"
    "Commands:\n"
    "  status   decoded status telegrams, one line each\n"
    "  ports    for COM1 ... COM11, the device each name leads to and whether it can be\n"
    "           opened now (the port doctor)\n"
    "\n"
    "Exit codes: 0 success, 2 usage, 7 a port cannot be opened (the reason is shown);\n"
    "ports: 0 when at least one port can be opened, 1 otherwise.\n"
    "Status ends after --count telegrams of every port, after --seconds, or on Ctrl-C.\n"
    "Telegrams with a wrong check byte are counted, not printed; the counts go to\n"
    "standard error at the end (and, with --summary, as a last JSON object).";

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
  bool summary = false;
};

// Watches every port until each has given `count` telegrams, the time is up or a
// signal ends the run.
int runStatus(const StatusOptions& o) {
  struct Watched {
    QString port;
    std::unique_ptr<StatusMonitor> monitor;
    qint64 printed = 0;
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
    watched.push_back({port, std::move(monitor), 0});
  }
  if (o.format == Format::Csv) print(csvHeader());
  const auto allDone = [&] {
    for (const Watched& w : watched) {
      if (w.printed < o.count) return false;
    }
    return true;
  };
  for (Watched& w : watched) {
    QObject::connect(w.monitor.get(), &StatusMonitor::statusDecoded,
                     [&w, &o, &allDone](const StatusReading& r) {
                       if (o.count > 0 && w.printed >= o.count) return;
                       const QDateTime now = QDateTime::currentDateTime();
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
  QCoreApplication::exec();

  QJsonArray ports;
  for (const Watched& w : watched) {
    std::fprintf(stderr, "%s: %lld telegrams printed, %llu with a wrong check byte\n",
                 w.port.toUtf8().constData(), static_cast<long long>(w.printed),
                 static_cast<unsigned long long>(w.monitor->badTelegrams()));
    ports.append(QJsonObject{
        {QStringLiteral("port"), w.port},
        {QStringLiteral("telegrams"), w.printed},
        {QStringLiteral("badCheckByte"), static_cast<qint64>(w.monitor->badTelegrams())}});
  }
  if (o.summary && o.format == Format::Json) {
    print(QString::fromUtf8(QJsonDocument(QJsonObject{{QStringLiteral("summary"), ports}})
                                .toJson(QJsonDocument::Compact)));
  }
  // The monitors close their ports, and so remove the lock files, as they go.
  return kSuccess;
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
  const QCommandLineOption help({QStringLiteral("h"), QStringLiteral("help")},
                                QStringLiteral("This text."));
  const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("The version."));
  parser.addOptions({port, count, seconds, format, summary, help, version});
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
        parser.isSet(format) || parser.isSet(summary)) {
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
  return runStatus(o);
}

}  // namespace
}  // namespace zfuse::ctl

int main(int argc, char** argv) {
  return zfuse::ctl::run(argc, argv);
}
