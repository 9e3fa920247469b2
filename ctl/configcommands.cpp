#include "ctl/configcommands.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMetaObject>
#include <QThread>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "config/configfile.h"
#include "config/deviceconfig.h"
#include "config/exchange.h"
#include "config/messages.h"
#include "ctl/output.h"
#include "ctl/results.h"
#include "link/endsignals.h"
#include "link/localnames.h"
#include "link/portaddress.h"
#include "link/safefile.h"
#include "monitor/portdoctor.h"
#include "monitor/statustelegram.h"

namespace zfuse::ctl {
namespace {

QString fromStd(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The texts of the results, in English or German.
struct Texts {
  bool german;
  QString pick(const char* en, const char* de) const { return QString::fromUtf8(german ? de : en); }
  QString field(const std::string& english) const { return fieldText(english, german); }
};

QString commandName(Command c) {
  switch (c) {
    case Command::Read:
      return QStringLiteral("read");
    case Command::Write:
      return QStringLiteral("write");
    default:
      return QStringLiteral("verify");
  }
}

// Each difference as a detail line and as a JSON object.
void describeDifferences(const std::vector<Difference>& diffs, const Texts& t, PortOutcome& r) {
  for (const Difference& d : diffs) {
    r.details << t.field(d.field) + QStringLiteral(": ") + t.pick("file", "Datei") +
                     QLatin1Char(' ') + t.field(d.wanted) + QStringLiteral(", ") +
                     t.pick("device", "Gerät") + QLatin1Char(' ') + t.field(d.found);
    r.differences.append(QJsonObject{{QStringLiteral("field"), fromStd(d.field)},
                                     {QStringLiteral("file"), fromStd(d.wanted)},
                                     {QStringLiteral("device"), fromStd(d.found)}});
  }
}

// What one port came to, and for read the configuration.
struct Served {
  PortOutcome out;
  std::optional<DeviceConfiguration> configuration;
  bool openFailed = false;
};

// A write whose acknowledgement failed: what the read-back after it shows.
void reportFailedAcknowledgement(const WriteOutcome& written, const DeviceConfiguration& wanted,
                                 const DeviceConfiguration& before, const Texts& t,
                                 PortOutcome& r) {
  const QString how = written.acknowledgementWrong
                          ? t.pick("acknowledgement wrong", "Bestätigung falsch")
                          : t.pick("no acknowledgement", "keine Bestätigung");
  if (!written.readBack) {
    r.exit = kNoAnswer;
    r.result = QStringLiteral("not_acknowledged");
    r.message = how +
                t.pick(" after %1 attempts", " nach %1 Versuchen").arg(written.writeAttempts) +
                (written.looked ? t.pick(", and no answer to the read-back",
                                         ", und keine Antwort beim "
                                         "Zurücklesen")
                                : QString()) +
                t.pick(": the device's configuration is unknown; run zfusectl verify",
                       ": die Konfiguration des Geräts ist unbekannt; zfusectl verify ausführen");
    return;
  }
  const DeviceConfiguration& found = *written.readBack;
  const std::vector<Difference> diffs = differences(wanted, found);
  if (diffs.empty()) {
    r.result = QStringLiteral("ack_failed_new");
    r.message = how + t.pick("; the device holds the new configuration (%1)",
                             "; das Gerät hat die neue Konfiguration (%1)")
                          .arg(QLatin1String(modelName(found.model)));
    return;
  }
  describeDifferences(diffs, t, r);
  if (differences(before, found).empty()) {
    r.exit = kNoAnswer;
    r.result = QStringLiteral("ack_failed_old");
    r.message = how + t.pick("; the device holds the old configuration:",
                             "; das Gerät hat die alte Konfiguration:");
  } else {
    r.exit = kDiffers;
    r.result = QStringLiteral("ack_failed_other");
    r.message = how + t.pick(
                          "; the device holds another configuration, neither the old nor "
                          "the new:",
                          "; das Gerät hat eine andere Konfiguration, weder die alte noch "
                          "die neue:");
  }
}

// The whole exchange with one device. Runs on a thread of its own; the line is opened,
// used and closed (its lock removed) on that thread.
Served serve(const Invocation& o, const QString& port, const FileLines& lines,
             const std::atomic<bool>& stop) {
  const Texts t{o.german};
  Served s;
  PortOutcome& r = s.out;
  r.port = port;
  const auto finish = [&]() -> Served& {
    r.time = QDateTime::currentDateTime();
    return s;
  };
  HeldLine line(makeSystemSerialLine());
  if (!line.open(port)) {
    s.openFailed = true;
    r.portLeads = true;
    r.exit = kPortUnavailable;
    r.result = QStringLiteral("port_unavailable");
    return finish();
  }
  ConfigExchange exchange(line, o.retry, &stop);
  const auto interrupted = [&](bool duringWrite) -> Served& {
    r.exit = kInterrupted;
    r.result = QStringLiteral("interrupted");
    r.message = duringWrite ? t.pick(
                                  "interrupted during the write: the device's configuration "
                                  "is unknown; run zfusectl verify",
                                  "beim Schreiben unterbrochen: die Konfiguration des Geräts "
                                  "ist unbekannt; zfusectl verify ausführen")
                            : t.pick("interrupted", "unterbrochen");
    return finish();
  };
  const auto noAnswer = [&](const char* en, const char* de, int attempts) -> Served& {
    r.exit = kNoAnswer;
    r.result = QStringLiteral("no_answer");
    r.extra[QStringLiteral("attempts")] = attempts;
    r.message = t.pick(en, de).arg(attempts);
    return finish();
  };

  // The read changes nothing on the device: it tells the model (so that a file that does
  // not fit is refused before anything is sent) and, for a write, is the "before".
  const FirstLook look = firstLook(exchange, o.command == Command::Read ? nullptr : &lines,
                                   printableName(o.file), o.german);
  // A read that came is reported; a write or verify stopped here has sent nothing.
  if (exchange.stopped() && (!look.before || o.command != Command::Read)) {
    return interrupted(false);
  }
  if (!look.before) {
    return noAnswer("no answer after %1 attempts", "keine Antwort nach %1 Versuchen",
                    exchange.attempts());
  }
  const DeviceConfiguration& before = *look.before;
  r.model = before.model;
  r.version = fromStd(before.version);
  const QString name = QLatin1String(modelName(before.model));

  if (o.command == Command::Read) {
    s.configuration = before;
    r.result = QStringLiteral("read");
    r.message = t.pick("read (%1, version %2)", "gelesen (%1, Version %2)").arg(name, r.version);
    return finish();
  }
  if (look.refusal) {
    r.exit = look.refusal->exit;
    r.result = look.refusal->result;
    r.message = look.refusal->message;
    r.details = look.refusal->details;
    if (look.refusal->check) r.extra[QStringLiteral("check")] = look.refusal->check;
    if (look.refusal->result == QLatin1String("not_offered")) {
      r.extra[QStringLiteral("reasons")] = QJsonArray::fromStringList(r.details);
    }
    return finish();
  }

  const DeviceConfiguration& wanted = look.verdict.config;
  std::optional<DeviceConfiguration> device = before;
  if (o.command == Command::Write) {
    const WriteOutcome written = writeAndReadBack(exchange, wanted, o.verify, true);
    if (written.attempts) r.extra[QStringLiteral("attempts")] = written.attempts;
    switch (written.step) {
      case WriteOutcome::Interrupted:
        // A write cut short may or may not have reached the device.
        return interrupted(true);
      case WriteOutcome::NotAcknowledged:
        reportFailedAcknowledgement(written, wanted, before, t, r);
        return finish();
      case WriteOutcome::Written:
        r.result = QStringLiteral("written");
        r.message = t.pick("written, not read back (%1)", "geschrieben, nicht zurückgelesen (%1)")
                        .arg(name);
        return finish();
      case WriteOutcome::NoReadBack:
        return noAnswer("written, but no answer to the read-back after %1 attempts",
                        "geschrieben, aber keine Antwort beim Zurücklesen nach %1 Versuchen",
                        written.attempts);
      case WriteOutcome::ReadBack:
        device = written.readBack;
        break;
    }
  }

  const std::vector<Difference> diffs = differences(wanted, *device);
  if (!diffs.empty()) {
    r.exit = kDiffers;
    r.result = QStringLiteral("differs");
    r.message =
        o.command == Command::Write
            ? t.pick("written, but the read-back differs from the file:",
                     "geschrieben, aber das Zurückgelesene weicht von der Datei ab:")
            : t.pick("the device differs from the file:", "das Gerät weicht von der Datei ab:");
    describeDifferences(diffs, t, r);
    return finish();
  }
  if (o.command == Command::Write) {
    r.result = QStringLiteral("verified");
    r.message = t.pick("written and verified (%1)", "geschrieben und geprüft (%1)").arg(name);
  } else {
    r.result = QStringLiteral("same");
    r.message = t.pick("the device holds the file's configuration (%1)",
                       "das Gerät hat die Konfiguration der Datei (%1)")
                    .arg(name);
  }
  return finish();
}

// A configuration file must be a regular file (links followed); anything else, a
// folder, a FIFO or a device, is refused before it is opened.
std::optional<QString> fileProblem(const QString& path, const Texts& t) {
  struct stat st {};
  if (::stat(localName(path).constData(), &st) != 0) {
    return errno == ENOENT ? t.pick("no such file", "keine solche Datei")
                           : QString::fromLocal8Bit(std::strerror(errno));
  }
  if (S_ISDIR(st.st_mode)) return t.pick("is a folder, not a file", "ist ein Ordner, keine Datei");
  if (!S_ISREG(st.st_mode)) return t.pick("is not a regular file", "ist keine gewöhnliche Datei");
  return std::nullopt;
}

}  // namespace

int runConfigCommand(const Invocation& o) {
  const Texts t{o.german};
  FileLines lines;
  QString sha256;
  if (o.command != Command::Read) {
    if (const auto problem = fileProblem(o.file, t)) {
      writeText(stderr, QStringLiteral("zfusectl: %1: %2\n").arg(printableName(o.file), *problem));
      return kFileRejected;
    }
    lines = readFileLines(localName(o.file).toStdString());
    sha256 = fileSha256(localName(o.file));
  }

  // A signal that came before the start ends every exchange before it begins.
  std::atomic<bool> stop{endSignalArrived()};
  std::vector<Served> served(static_cast<std::size_t>(o.ports.size()));
  std::atomic<int> running{static_cast<int>(o.ports.size())};
  // Qt threads: a serial port's notifiers need one.
  std::vector<std::unique_ptr<QThread>> workers;
  QCoreApplication* app = QCoreApplication::instance();
  for (qsizetype i = 0; i < o.ports.size(); ++i) {
    workers.emplace_back(QThread::create([&, i] {
      served[static_cast<std::size_t>(i)] = serve(o, o.ports[i], lines, stop);
      if (--running == 0) {
        QMetaObject::invokeMethod(app, &QCoreApplication::quit, Qt::QueuedConnection);
      }
    }));
    workers.back()->start();
  }
  {
    // Ctrl-C or SIGTERM: every worker ends after its present exchange; the ports close.
    const auto endSignals = quitOnEndSignals();
    if (running > 0) QCoreApplication::exec();
  }
  stop = true;
  for (const auto& w : workers) w->wait();

  const bool json = o.format == Format::Json || o.format == Format::JsonArray;
  std::vector<PortOutcome> results;
  int exit = kSuccess;
  for (Served& s : served) {
    PortOutcome& r = s.out;
    r.command = commandName(o.command);
    QString error;
    if (const auto address = portAddressOf(r.port, &error)) r.device = address->device;
    if (o.command != Command::Read) {
      r.file = printableName(o.file);
      r.fileSha256 = sha256;
    }
    if (s.openFailed) {
      r.message = t.pick("cannot be opened: ", "kann nicht geöffnet werden: ") +
                  diagnosePort(r.port).verdict;
    }
    // A read's configuration: JSON goes into the port's result object, a file to
    // standard output or to --output.
    if (o.command == Command::Read && s.configuration) {
      const QByteArray bytes =
          json ? QJsonDocument(configurationJson(*s.configuration)).toJson(QJsonDocument::Compact) +
                     '\n'
               : QByteArray::fromStdString(fileTextOf(*s.configuration));
      if (!o.output.isEmpty()) {
        QString path = o.output;
        path.replace(QLatin1String("%p"), r.port);
        r.file = printableName(path);
        QString reason;
        if (!saveFileWhole(path, bytes, &reason)) {
          r.exit = kSaveFailed;
          r.result = QStringLiteral("save_failed");
          r.message =
              t.pick("cannot be saved as %1: %2", "kann nicht als %1 gespeichert werden: %2")
                  .arg(printableName(path), reason);
        }
      } else if (json) {
        r.extra[QStringLiteral("configuration")] = configurationJson(*s.configuration);
      } else {
        writeOut(bytes);
      }
    }
    exit = std::max(exit, r.exit);
    results.push_back(r);
  }
  // A read's file on standard output leaves the results to standard error.
  FILE* textStream = o.command == Command::Read && o.output.isEmpty() && !json ? stderr : stdout;
  printOutcomes(commandName(o.command), results, exit, o.format, o.german, textStream);
  return exit;
}

QString fieldText(const std::string& english, bool german) {
  QString f = fromStd(english);
  if (!german) return f;
  static const std::pair<const char*, const char*> kWords[] = {
      {"channel", "Kanal"},
      {"current", "Strom"},
      {"trip time", "Auslösezeit"},
      {"power-good threshold", "Power-Good-Schwelle"},
      {"switch-off time", "Abschaltzeit"},
      {"events, byte", "Ereignisse, Byte"},
      {"model", "Modell"},
      {"not a setting the list offers", "keine Einstellung der Liste"},
      {"offers up to", "bietet bis"},
      {"the ", "das "},
      {"none", "keine"},
  };
  for (const auto& [en, de] : kWords) f.replace(QLatin1String(en), QString::fromUtf8(de));
  return f;
}

QJsonObject configurationJson(const DeviceConfiguration& c) {
  QJsonArray channels;
  const auto amps = [](int index) { return index < 0 ? QJsonValue() : QJsonValue(index); };
  for (std::size_t ch = 0; ch < 4; ++ch) {
    QJsonObject o{{QStringLiteral("channel"), static_cast<int>(ch) + 1}};
    if (c.isStandard()) {
      o[QStringLiteral("rated")] = amps(c.standard.current_index[ch]);
      const std::string time =
          tripTimeText(c.standard.current_index[ch], c.standard.time_index[ch]);
      o[QStringLiteral("trip_time")] = time == "none" ? QJsonValue() : QJsonValue(fromStd(time));
    } else {
      o[QStringLiteral("rated")] = amps(c.zokx.current_index[ch]);
    }
    channels.append(o);
  }
  const int pgood = c.isStandard() ? c.standard.pgood_index : c.zokx.pgood_index;
  QJsonObject o{{QStringLiteral("model"), QString::fromLatin1(modelName(c.model))},
                {QStringLiteral("type"), c.model},
                {QStringLiteral("version"), fromStd(c.version)},
                {QStringLiteral("channels"), channels},
                {QStringLiteral("power_good_threshold"),
                 pgood < 0 ? QJsonValue() : QJsonValue(thresholdTenthsAt(pgood) / 10.0)}};
  if (c.isStandard()) {
    o[QStringLiteral("events")] =
        QJsonArray{c.standard.port1_byte1, c.standard.port1_byte2 & ~kReleaseAllBit,
                   c.standard.port2_byte1, c.standard.port2_byte2};
  } else {
    const std::string off = switchOffText(c.zokx.switch_off_index);
    o[QStringLiteral("switch_off_time")] = off == "none" ? QJsonValue() : QJsonValue(fromStd(off));
    o[QStringLiteral("events")] = QJsonArray{c.zokx.port1_byte1, c.zokx.port1_byte2};
  }
  o[QStringLiteral("file_text")] = fromStd(fileTextOf(c));
  return o;
}

std::optional<Refusal> fileRefusal(const FileVerdict& verdict, uint8_t model, const QString& file,
                                   bool german) {
  const Texts t{german};
  Refusal r;
  switch (verdict.result) {
    case FileVerdict::Good:
      return std::nullopt;
    case FileVerdict::Rejected:
      r.exit = kFileRejected;
      r.result = QStringLiteral("file_rejected");
      r.check = verdict.check;
      if (verdict.badNumber) {
        r.message = (german ? QString::fromUtf8(kBadIntegerDe)
                            : QStringLiteral("'%1' is not a valid integer"))
                        .arg(fromStd(*verdict.badNumber)) +
                    QStringLiteral(": ") + file;
      } else {
        r.message = t.pick(kFileErrorEn, kFileErrorDe) + QString::number(verdict.check) +
                    QStringLiteral(": ") + file;
      }
      return r;
    case FileVerdict::OtherVariant:
      r.exit = kModelMismatch;
      r.result = QStringLiteral("other_variant");
      // The standard model's text names no model: it takes the file's name alone.
      r.message = model == kTypeStandard
                      ? t.pick(
                             "%1 is a file of the fuse-variant models; the device is the "
                             "standard model",
                             "%1 ist eine Datei der Sicherungsvarianten; das Gerät ist das "
                             "Standardmodell")
                            .arg(file)
                      : t.pick("%1 is a file of the standard model; the device is the %2 model",
                               "%1 ist eine Datei des Standardmodells; das Gerät ist das Modell %2")
                            .arg(file, QLatin1String(modelName(model)));
      return r;
    case FileVerdict::NotOffered:
      r.exit = kModelMismatch;
      r.result = QStringLiteral("not_offered");
      r.message = t.pick("%1 does not fit the %2 model:", "%1 passt nicht zum Modell %2:")
                      .arg(file, QLatin1String(modelName(model)));
      for (const std::string& reason : verdict.reasons) r.details << t.field(reason);
      return r;
  }
  return std::nullopt;
}

WriteOutcome writeAndReadBack(ConfigExchange& exchange, const DeviceConfiguration& wanted,
                              bool readBack, bool lookAfterFailedAck) {
  WriteOutcome w;
  const bool acknowledged = exchange.write(writeTelegramOf(wanted));
  w.attempts = exchange.attempts();
  w.writeAttempts = w.attempts;
  if (exchange.stopped()) {
    w.step = WriteOutcome::Interrupted;
    return w;
  }
  if (!acknowledged) {
    w.step = WriteOutcome::NotAcknowledged;
    // A byte that came but was not the telegram's check byte: the device heard something,
    // and may have stored the configuration.
    w.acknowledgementWrong = !exchange.lastReply().isEmpty();
    if (readBack && lookAfterFailedAck) {
      w.looked = true;
      w.readBack = exchange.read();
      if (!w.readBack && exchange.stopped()) w.step = WriteOutcome::Interrupted;
    }
    return w;
  }
  if (!readBack) {
    w.step = WriteOutcome::Written;
    return w;
  }
  w.readBack = exchange.read();
  w.attempts = exchange.attempts();
  // A read-back that came is the device's state, even when a stop came meanwhile.
  if (w.readBack) {
    w.step = WriteOutcome::ReadBack;
  } else {
    w.step = exchange.stopped() ? WriteOutcome::Interrupted : WriteOutcome::NoReadBack;
  }
  return w;
}

FirstLook firstLook(ConfigExchange& exchange, const FileLines* lines, const QString& file,
                    bool german) {
  FirstLook look;
  look.before = exchange.read();
  if (!look.before || lines == nullptr) return look;
  look.verdict = examineFileFor(*lines, look.before->model);
  look.refusal = fileRefusal(look.verdict, look.before->model, file, german);
  return look;
}

}  // namespace zfuse::ctl
