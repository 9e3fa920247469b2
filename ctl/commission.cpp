#include "ctl/commission.h"

#include <sys/resource.h>
#include <sys/stat.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QMetaObject>
#include <QSysInfo>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "config/exchange.h"
#include "ctl/configcommands.h"
#include "ctl/output.h"
#include "ctl/results.h"
#include "link/endsignals.h"
#include "link/localnames.h"
#include "link/safefile.h"
#include "monitor/portdoctor.h"
#include "zfuse_version.h"

namespace zfuse::ctl {

namespace {

// How long the "after" state is waited for: the device sends a status telegram at
// least once a second.
constexpr int kHearStatusMs = 1500;

QString pick(bool german, const char* en, const char* de) {
  return QString::fromUtf8(german ? de : en);
}

// Serves the rows on at most `jobs` threads at once (0: all at once) until every row is
// done or an end signal comes; rows not started by then are marked interrupted.
// Returns whether the run was interrupted.
template <class Serve>
bool serveAll(const std::vector<PlanRow>& rows, int jobs, std::vector<DeviceRecord>& records,
              Serve serve) {
  std::atomic<bool> stop{false};
  std::atomic<std::size_t> next{0};
  std::atomic<std::size_t> left{rows.size()};
  records.assign(rows.size(), DeviceRecord{});
  const std::size_t threads =
      jobs > 0 ? std::min<std::size_t>(static_cast<std::size_t>(jobs), rows.size()) : rows.size();
  // Each device served at once holds its port, its lock file and its thread's notifiers
  // open: a plan of some hundred devices needs more descriptors than the usual soft limit
  // of 1024, so the soft limit is raised to what the system allows this process.
  struct rlimit files {};
  if (::getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
    files.rlim_cur = files.rlim_max;
    ::setrlimit(RLIMIT_NOFILE, &files);
  }
  QCoreApplication* app = QCoreApplication::instance();
  std::vector<std::unique_ptr<QThread>> workers;
  // Qt threads: a serial port's notifiers need one.
  for (std::size_t t = 0; t < threads; ++t) {
    workers.emplace_back(QThread::create([&] {
      for (std::size_t i = next++; i < rows.size(); i = next++) {
        records[i] = serve(rows[i], stop);
        if (--left == 0) {
          QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
        }
      }
    }));
    workers.back()->start();
  }
  {
    // Ctrl-C or SIGTERM: every device ends after its present exchange; the ports close.
    const auto endSignals = quitOnEndSignals();
    if (left > 0) QCoreApplication::exec();
  }
  const bool interrupted = left > 0;
  stop = true;
  for (const auto& w : workers) w->wait();
  return interrupted;
}

// A device that could not be opened is told why, as the port doctor sees it.
void explainUnopened(std::vector<DeviceRecord>& records, bool german) {
  for (DeviceRecord& d : records) {
    if (d.result == QLatin1String("unreachable") && d.exit == kPortUnavailable) {
      d.message = pick(german, "cannot be opened: ", "kann nicht geöffnet werden: ") +
                  diagnosePort(d.port).verdict;
    }
  }
}

// Every device's line on standard output, in the plan's order, whatever its result.
void printDevice(const DeviceRecord& d) {
  QString text =
      d.tag + QStringLiteral(" (") + d.port + QStringLiteral("): ") + d.message + QLatin1Char('\n');
  for (const QString& detail : d.details) text += QStringLiteral("  ") + detail + QLatin1Char('\n');
  writeText(stdout, text);
}

// The plan at o.plan, with the --only rows, or the error printed and its exit code.
std::variant<Plan, int> planOf(const Invocation& o) {
  auto parsed = readPlan(o.plan);
  if (const auto* e = std::get_if<PlanError>(&parsed)) {
    writeText(stderr, QStringLiteral("zfusectl: %1\n").arg(e->text(o.plan)));
    return e->exit;
  }
  Plan plan = std::get<Plan>(std::move(parsed));
  if (!o.only.isEmpty()) {
    std::vector<PlanRow> kept;
    for (const QString& tag : o.only) {
      const auto it = std::find_if(plan.rows.begin(), plan.rows.end(),
                                   [&](const PlanRow& r) { return r.tag == tag; });
      if (it == plan.rows.end()) {
        writeText(stderr,
                  QStringLiteral("zfusectl: %1: no device with the tag %2\n").arg(o.plan, tag));
        return kUsage;
      }
      if (std::none_of(kept.begin(), kept.end(), [&](const PlanRow& r) { return r.tag == tag; })) {
        kept.push_back(*it);
      }
    }
    plan.rows = std::move(kept);
  }
  return plan;
}

int highestExit(const std::vector<DeviceRecord>& records, bool interrupted) {
  int exit = interrupted ? kInterrupted : kSuccess;
  for (const DeviceRecord& d : records) exit = std::max(exit, d.exit);
  return exit;
}

}  // namespace

DeviceRecord commissionDevice(const PlanRow& row, const Invocation& o, bool write,
                              const std::atomic<bool>& stop) {
  const bool de = o.german;
  DeviceRecord d;
  d.tag = row.tag;
  d.port = row.port.given;
  d.device = row.port.device;
  d.file = row.fileGiven;
  d.extra = row.extra;
  d.started = QDateTime::currentDateTime();
  QElapsedTimer clock;
  clock.start();
  const auto done = [&](const char* result, int exit, const QString& message) {
    d.result = QString::fromLatin1(result);
    d.exit = exit;
    d.message = message;
    d.durationMs = clock.elapsed();
    return d;
  };
  const auto interrupted = [&] {
    return done("interrupted", kInterrupted,
                pick(de, "interrupted, nothing written", "unterbrochen, nichts geschrieben"));
  };
  if (stop) return interrupted();

  HeldLine line(makeSystemSerialLine());
  if (!line.open(row.port.given)) return done("unreachable", kPortUnavailable, {});
  ConfigExchange exchange(line, o.retry, &stop);

  // The read changes nothing on the device: it tells the model and is the "before".
  const FirstLook look =
      firstLook(exchange, row.file.isEmpty() ? nullptr : &row.lines, row.fileGiven, de);
  d.before = look.before;
  if (exchange.stopped()) return interrupted();
  if (!d.before) {
    return done("unreachable", kNoAnswer,
                pick(de, "no answer after %1 attempts", "keine Antwort nach %1 Versuchen")
                    .arg(exchange.attempts()));
  }
  const uint8_t model = d.before->model;
  d.model = model;
  d.version = QString::fromStdString(d.before->version);
  const QString name = QLatin1String(modelName(model));
  const auto hearState = [&] {
    if (const auto frame = line.hearStatus(kHearStatusMs)) d.state = decodeStatusReading(*frame);
  };

  if (row.model && *row.model != model) {
    return done("refused", kModelMismatch,
                pick(de, "the plan names the %1 model; the device is the %2 model",
                     "die Liste nennt das Modell %1; das Gerät ist das Modell %2")
                    .arg(QLatin1String(modelName(*row.model)), name));
  }
  if (row.file.isEmpty()) {
    d.after = d.before;
    hearState();
    return done("read", kSuccess,
                pick(de, "read (%1, version %2), nothing to write",
                     "gelesen (%1, Version %2), nichts zu schreiben")
                    .arg(name, d.version));
  }
  const FileVerdict& verdict = look.verdict;
  if (const auto& refusal = look.refusal) {
    d.details = refusal->details;
    return done("refused", refusal->exit, refusal->message);
  }

  if (write) {
    const WriteOutcome written = writeAndReadBack(exchange, verdict.config, true);
    switch (written.step) {
      case WriteOutcome::Interrupted:
        return done("unknown", kInterrupted,
                    pick(de,
                         "interrupted during the write: the device's configuration is "
                         "unknown; run zfusectl verify",
                         "beim Schreiben unterbrochen: die Konfiguration des Geräts ist "
                         "unbekannt; zfusectl verify ausführen"));
      case WriteOutcome::NotAcknowledged:
        return done("unknown", kNoAnswer,
                    pick(de,
                         "the write was not acknowledged after %1 attempts: the device's "
                         "configuration is unknown; run zfusectl verify",
                         "das Schreiben wurde nach %1 Versuchen nicht bestätigt: die "
                         "Konfiguration des Geräts ist unbekannt; zfusectl verify ausführen")
                        .arg(written.attempts));
      case WriteOutcome::Written:
      case WriteOutcome::NoReadBack:
        return done("unknown", kNoAnswer,
                    pick(de,
                         "written, but no configuration reply to the read-back after %1 "
                         "attempts; run zfusectl verify",
                         "geschrieben, aber keine Antwort beim Zurücklesen nach %1 Versuchen; "
                         "zfusectl verify ausführen")
                        .arg(written.attempts));
      case WriteOutcome::ReadBack:
        d.after = written.readBack;
        break;
    }
  } else {
    d.after = d.before;
  }
  hearState();

  const std::vector<Difference> diffs = differences(verdict.config, *d.after);
  if (!diffs.empty()) {
    for (const Difference& diff : diffs) {
      d.details << fieldText(diff.field, de) + QStringLiteral(": ") + pick(de, "file", "Datei") +
                       QLatin1Char(' ') + fieldText(diff.wanted, de) + QStringLiteral(", ") +
                       pick(de, "device", "Gerät") + QLatin1Char(' ') + fieldText(diff.found, de);
    }
    return done(
        "differs", kDiffers,
        write
            ? pick(de, "written, but the read-back differs from the file:",
                   "geschrieben, aber das Zurückgelesene weicht von der Datei ab:")
            : pick(de, "the device differs from the file:", "das Gerät weicht von der Datei ab:"));
  }
  return done("verified", kSuccess,
              write
                  ? pick(de, "written and verified (%1)", "geschrieben und geprüft (%1)").arg(name)
                  : pick(de, "the device holds the file's configuration (%1), nothing written",
                         "das Gerät hat die Konfiguration der Datei (%1), nichts geschrieben")
                        .arg(name));
}

int runCommission(const Invocation& o) {
  auto loaded = planOf(o);
  if (const int* exit = std::get_if<int>(&loaded)) return *exit;
  Plan plan = std::get<Plan>(std::move(loaded));
  if (const auto e = examinePlanFiles(plan)) {
    writeText(stderr, QStringLiteral("zfusectl: %1\n").arg(e->text(o.plan)));
    return e->exit;
  }
  const QFileInfo planFile(o.plan);
  const QString folder = o.reportDir.isEmpty() ? planFile.absolutePath() : o.reportDir;
  if (!QFileInfo(folder).isDir()) {
    writeText(stderr, QStringLiteral("zfusectl: the report folder %1 is not there\n").arg(folder));
    return kUsage;
  }

  RecordHeader header;
  header.title = o.title;
  header.plan = planFile.fileName();
  header.planSha256 = QString::fromLatin1(plan.sha256);
  header.operatorName = o.operatorName;
  header.toolVersion = QString::fromLatin1(kVersion);
  header.host = QSysInfo::machineHostName();
  header.dryRun = o.dryRun;
  header.german = o.german;
  header.extraColumns = plan.extraColumns;
  header.started = QDateTime::currentDateTime();
  std::vector<DeviceRecord> records;
  header.interrupted =
      serveAll(plan.rows, o.jobs, records, [&](const PlanRow& row, const std::atomic<bool>& stop) {
        return commissionDevice(row, o, !o.dryRun, stop);
      });
  header.ended = QDateTime::currentDateTime();
  explainUnopened(records, o.german);
  for (const DeviceRecord& d : records) printDevice(d);

  const RecordCounts c = countResults(records);
  writeText(
      stdout,
      pick(o.german,
           "%1: %2 verified, %3 differ, %4 refused, %5 unreachable, %6 "
           "unknown%7\n",
           "%1: %2 geprüft, %3 abweichend, %4 abgelehnt, %5 nicht erreichbar, "
           "%6 unbekannt%7\n")
          .arg(records.size() == 1 ? pick(o.german, "1 device", "1 Gerät")
                                   : pick(o.german, "%1 devices", "%1 Geräte").arg(records.size()))
          .arg(c.verified)
          .arg(c.differs)
          .arg(c.refused)
          .arg(c.unreachable)
          .arg(c.unknown)
          .arg(header.interrupted ? pick(o.german, " (interrupted)", " (unterbrochen)")
                                  : QString()));
  QString error;
  const QStringList written =
      writeRecord(folder, planFile.completeBaseName(), header, records, &error);
  int exit = highestExit(records, header.interrupted);
  if (!error.isEmpty()) {
    writeText(stderr, QStringLiteral("zfusectl: %1\n").arg(error));
    exit = std::max(exit, static_cast<int>(kSaveFailed));
  } else {
    writeText(
        stdout,
        pick(o.german, "record: %1\n", "Protokoll: %1\n").arg(written.join(QStringLiteral(", "))));
  }
  flushOut();
  return exit;
}

namespace {
// A tag as a file name: characters that could leave the folder or trouble a shell are
// replaced.
QString fileNameOf(const QString& tag) {
  QString name;
  for (const QChar c : tag) {
    const bool plain = c.isLetterOrNumber() || c == QLatin1Char('-') || c == QLatin1Char('_') ||
                       c == QLatin1Char('+') || c == QLatin1Char('.');
    name += plain ? c : QLatin1Char('_');
  }
  // A leading '-' would pass for an option to the next command that is given the file.
  if (name.startsWith(QLatin1Char('.')) || name.startsWith(QLatin1Char('-'))) {
    name[0] = QLatin1Char('_');
  }
  return name;
}
}  // namespace

int runBackup(const Invocation& o) {
  Plan plan;
  if (!o.plan.isEmpty()) {
    auto loaded = planOf(o);
    if (const int* exit = std::get_if<int>(&loaded)) return *exit;
    plan = std::get<Plan>(std::move(loaded));
  } else {
    for (qsizetype i = 0; i < o.ports.size(); ++i) {
      PlanRow row;
      row.line = static_cast<int>(i) + 1;
      row.tag = o.tags[i];
      QString error;
      row.port = portAddressOf(o.ports[i], &error).value_or(PortAddress{o.ports[i], o.ports[i]});
      plan.rows.push_back(row);
    }
  }
  // Only read: the plan's files and models are not looked at.
  for (PlanRow& row : plan.rows) {
    row.file.clear();
    row.fileGiven.clear();
    row.model.reset();
  }
  const QDir dir(o.output);
  if (!QFileInfo(o.output).isDir() && ::mkdir(localName(o.output).constData(), 0777) != 0) {
    writeText(stderr, QStringLiteral("zfusectl: the folder %1 cannot be made: %2\n")
                          .arg(o.output, QString::fromLocal8Bit(std::strerror(errno))));
    return kSaveFailed;
  }
  const QString planPath = dir.filePath(QStringLiteral("plan.csv"));
  if (QFileInfo::exists(planPath) || QFileInfo(planPath).isSymLink()) {
    writeText(stderr, QStringLiteral("zfusectl: %1 is there already; a backup goes into a new "
                                     "folder\n")
                          .arg(planPath));
    return kFileRejected;
  }
  QStringList names;
  for (const PlanRow& row : plan.rows) {
    QString name = fileNameOf(row.tag);
    for (int n = 2; names.contains(name); ++n)
      name = fileNameOf(row.tag) + QStringLiteral("-%1").arg(n);
    names << name;
  }

  std::vector<DeviceRecord> records;
  const bool interrupted =
      serveAll(plan.rows, o.jobs, records, [&](const PlanRow& row, const std::atomic<bool>& stop) {
        return commissionDevice(row, o, false, stop);
      });
  explainUnopened(records, o.german);

  QString csv = QStringLiteral("tag,port,model,file");
  for (const QString& c : plan.extraColumns) csv += QLatin1Char(',') + csvField(c);
  csv += QStringLiteral("\r\n");
  int exit = highestExit(records, interrupted);
  int saved = 0;
  std::vector<PortOutcome> outcomes;
  for (std::size_t i = 0; i < records.size(); ++i) {
    DeviceRecord& d = records[i];
    if (d.before) {
      const QString file = names[static_cast<qsizetype>(i)] + QStringLiteral(".txt");
      QString reason;
      if (saveFileWhole(dir.filePath(file), QByteArray::fromStdString(fileTextOf(*d.before)),
                        &reason)) {
        ++saved;
        d.result = QStringLiteral("saved");
        d.message = pick(o.german, "saved as %1 (%2, version %3)",
                         "gespeichert als %1 (%2, "
                         "Version %3)")
                        .arg(dir.filePath(file), QLatin1String(modelName(d.model)), d.version);
        QStringList cells{d.tag, d.port, QLatin1String(modelName(d.model)), file};
        cells << d.extra;
        for (QString& cell : cells) cell = csvField(cell);
        csv += cells.join(QLatin1Char(',')) + QStringLiteral("\r\n");
      } else {
        d.exit = kSaveFailed;
        d.result = QStringLiteral("save_failed");
        d.message =
            pick(o.german, "cannot be saved as %1: %2", "kann nicht als %1 gespeichert werden: %2")
                .arg(dir.filePath(file), reason);
        exit = std::max(exit, static_cast<int>(kSaveFailed));
      }
    }
    printDevice(d);
    PortOutcome counted;
    counted.result = d.result;
    outcomes.push_back(counted);
  }
  QString planReason;
  if (saved > 0 && !saveFileWhole(planPath, csv.toUtf8(), &planReason)) {
    writeText(stderr, pick(o.german, "zfusectl: %1 cannot be saved: %2\n",
                           "zfusectl: %1 kann nicht gespeichert werden: %2\n")
                          .arg(planPath, planReason));
    exit = std::max(exit, static_cast<int>(kSaveFailed));
  } else if (saved > 0) {
    writeText(stdout,
              pick(o.german, "%1 of %2 devices saved; restore with: zfusectl commission %3\n",
                   "%1 von %2 Geräten gespeichert; wiederherstellen mit: zfusectl "
                   "commission %3\n")
                  .arg(saved)
                  .arg(records.size())
                  .arg(planPath));
  }
  writeText(stdout, summaryText(outcomes, exit, o.german));
  flushOut();
  return exit;
}

}  // namespace zfuse::ctl
