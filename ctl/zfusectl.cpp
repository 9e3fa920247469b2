// zfusectl: the fuse on the command line, for production lines, scripts and loggers.
// Built on the widget-free core only.

#include <QCoreApplication>
#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTimer>
#include <cstdio>
#include <memory>
#include <vector>

#include "ctl/configcommands.h"
#include "ctl/options.h"
#include "link/connection.h"
#include "link/endsignals.h"
#include "link/portnames.h"
#include "monitor/portdoctor.h"
#include "monitor/statusmonitor.h"
#include "monitor/statusoutput.h"
#include "zfuse_version.h"

namespace zfuse::ctl {
namespace {

void print(const QString& line) {
  const QByteArray bytes = line.toUtf8();
  std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stdout);
  std::fputc('\n', stdout);
}

// Watches every port until each has given `count` telegrams, the time is up or a
// signal ends the run.
int runStatus(const Invocation& o) {
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
                       if (o.format == Format::Json) {
                         print(jsonLine(now, w.port, r));
                       } else if (o.format == Format::Csv) {
                         print(csvLine(now, w.port, r));
                       } else {
                         print(textLine(now, w.port, r));
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
  // The arguments are checked before the application starts: help, version and usage
  // errors cost no more than that.
  QStringList arguments;
  for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
  const Parsed parsed = parseArguments(arguments);
  std::fputs(parsed.out.toUtf8().constData(), stdout);
  std::fputs(parsed.err.toUtf8().constData(), stderr);
  if (!parsed.invocation) return parsed.exit;

  QCoreApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("zfusectl"));
  QCoreApplication::setApplicationVersion(QString::fromLatin1(kVersion));
  const Invocation& o = *parsed.invocation;
  switch (o.command) {
    case Command::Ports:
      return zfuse::reportPorts(print);
    case Command::Status:
      return runStatus(o);
    case Command::Read:
    case Command::Write:
    case Command::Verify:
      return runConfigCommand(o);
  }
  return kUsage;
}

}  // namespace
}  // namespace zfuse::ctl

int main(int argc, char** argv) {
  return zfuse::ctl::run(argc, argv);
}
