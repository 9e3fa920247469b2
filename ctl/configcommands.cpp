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
#include "link/endsignals.h"
#include "link/localnames.h"
#include "link/safefile.h"
#include "monitor/portdoctor.h"
#include "monitor/statustelegram.h"

namespace zfuse::ctl {
namespace {

// How long a write listens for a status telegram to learn the model before it sends
// anything: the device sends one at least once a second.
constexpr int kHearModelMs = 1500;

QString fromStd(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The texts of the results, in English or German.
struct Texts {
  bool german;
  QString pick(const char* en, const char* de) const { return QString::fromUtf8(german ? de : en); }
  QString field(const std::string& english) const { return fieldText(english, german); }
};

// What one port came to.
struct PortResult {
  QString port;
  int exit = kSuccess;
  QString result;       // the key in JSON
  QString message;      // the human-readable line, without the port
  QStringList details;  // indented lines below it
  uint8_t model = 0;
  int attempts = 0;
  int check = 0;
  QJsonArray differences;
  std::optional<DeviceConfiguration> configuration;  // read
  bool openFailed = false;
};

// The whole exchange with one device. Runs on a thread of its own; the line is opened,
// used and closed (its lock removed) on that thread.
PortResult serve(const Invocation& o, const QString& port, const FileLines& lines,
                 const std::atomic<bool>& stop) {
  const Texts t{o.german};
  PortResult r;
  r.port = port;
  HeldLine line(makeSystemSerialLine());
  if (!line.open(port)) {
    r.openFailed = true;
    r.exit = kPortUnavailable;
    r.result = QStringLiteral("port_unavailable");
    return r;
  }
  ConfigExchange exchange(line, o.retry, &stop);
  const auto interrupted = [&](bool duringWrite) {
    r.exit = kInterrupted;
    r.result = QStringLiteral("interrupted");
    r.message = duringWrite ? t.pick(
                                  "interrupted during the write: the device's configuration "
                                  "is unknown; run zfusectl verify",
                                  "beim Schreiben unterbrochen: die Konfiguration des Geräts "
                                  "ist unbekannt; zfusectl verify ausführen")
                            : t.pick("interrupted", "unterbrochen");
    return r;
  };
  const auto noAnswer = [&](const char* en, const char* de) {
    r.exit = kNoAnswer;
    r.attempts = exchange.attempts();
    r.message =
        t.pick(kFailedEn, kFailedDe) + QLatin1Char(' ') + t.pick(en, de).arg(exchange.attempts());
    return r;
  };

  if (o.command == Command::Read) {
    r.configuration = exchange.read();
    r.attempts = exchange.attempts();
    if (exchange.stopped()) return interrupted(false);
    if (!r.configuration) {
      r.result = QStringLiteral("no_answer");
      return noAnswer("no configuration reply after %1 attempts",
                      "keine Konfigurationsantwort nach %1 Versuchen");
    }
    r.model = r.configuration->model;
    r.result = QStringLiteral("read");
    r.message = t.pick("read (%1, version %2)", "gelesen (%1, Version %2)")
                    .arg(QLatin1String(modelName(r.model)), fromStd(r.configuration->version));
    return r;
  }

  // The model decides which examiner and which telegram: from the status telegrams when
  // writing, so that a file that does not fit is refused before anything is sent.
  std::optional<uint8_t> model;
  std::optional<DeviceConfiguration> device;
  if (o.command == Command::Write) model = line.hearModel(kHearModelMs);
  if (stop) return interrupted(false);
  if (!model) {
    device = exchange.read();
    if (exchange.stopped()) return interrupted(false);
    if (!device) {
      r.result = QStringLiteral("no_answer");
      return noAnswer("no configuration reply after %1 attempts",
                      "keine Konfigurationsantwort nach %1 Versuchen");
    }
    model = device->model;
  }
  r.model = *model;

  const FileVerdict verdict = examineFileFor(lines, *model);
  if (const auto refusal = fileRefusal(verdict, *model, printableName(o.file), o.german)) {
    r.exit = refusal->exit;
    r.result = refusal->result;
    r.message = refusal->message;
    r.details = refusal->details;
    r.check = refusal->check;
    return r;
  }

  if (o.command == Command::Write) {
    const WriteOutcome written = writeAndReadBack(exchange, verdict.config, o.verify);
    r.attempts = written.attempts;
    switch (written.step) {
      case WriteOutcome::Interrupted:
        // A write cut short may or may not have reached the device.
        return interrupted(true);
      case WriteOutcome::NotAcknowledged:
        r.result = QStringLiteral("not_acknowledged");
        return noAnswer("the write was not acknowledged after %1 attempts",
                        "das Schreiben wurde nach %1 Versuchen nicht bestätigt");
      case WriteOutcome::Written:
        r.result = QStringLiteral("written");
        r.message = t.pick("written, not read back (%1)", "geschrieben, nicht zurückgelesen (%1)")
                        .arg(QLatin1String(modelName(*model)));
        return r;
      case WriteOutcome::NoReadBack:
        r.result = QStringLiteral("no_answer");
        return noAnswer("written, but no configuration reply to the read-back after %1 attempts",
                        "geschrieben, aber keine Antwort beim Zurücklesen nach %1 Versuchen");
      case WriteOutcome::ReadBack:
        device = written.readBack;
        break;
    }
  }

  const std::vector<Difference> diffs = differences(verdict.config, *device);
  if (!diffs.empty()) {
    r.exit = kDiffers;
    r.result = QStringLiteral("differs");
    r.message = t.pick("the device differs from the file:", "das Gerät weicht von der Datei ab:");
    for (const Difference& d : diffs) {
      r.details << t.field(d.field) + QStringLiteral(": ") + t.pick("file", "Datei") +
                       QLatin1Char(' ') + t.field(d.wanted) + QStringLiteral(", ") +
                       t.pick("device", "Gerät") + QLatin1Char(' ') + t.field(d.found);
      r.differences.append(QJsonObject{{QStringLiteral("field"), fromStd(d.field)},
                                       {QStringLiteral("file"), fromStd(d.wanted)},
                                       {QStringLiteral("device"), fromStd(d.found)}});
    }
    return r;
  }
  const QString name = QLatin1String(modelName(*model));
  if (o.command == Command::Write) {
    r.result = QStringLiteral("verified");
    r.message = t.pick("written and verified (%1)", "geschrieben und geprüft (%1)").arg(name);
  } else {
    r.result = QStringLiteral("same");
    r.message = t.pick("the device holds the file's configuration (%1)",
                       "das Gerät hat die Konfiguration der Datei (%1)")
                    .arg(name);
  }
  return r;
}

void write(FILE* stream, const QString& text) {
  const QByteArray bytes = text.toUtf8();
  if (stream == stdout) {
    writeOut(bytes);
  } else {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
  }
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
  if (o.command != Command::Read) {
    if (const auto problem = fileProblem(o.file, t)) {
      write(stderr, QStringLiteral("zfusectl: %1: %2\n").arg(printableName(o.file), *problem));
      return kFileRejected;
    }
    lines = readFileLines(localName(o.file).toStdString());
  }

  // A signal that came before the start ends every exchange before it begins.
  std::atomic<bool> stop{endSignalArrived()};
  std::vector<PortResult> results(static_cast<std::size_t>(o.ports.size()));
  std::atomic<int> running{static_cast<int>(o.ports.size())};
  // Qt threads: a serial port's notifiers need one.
  std::vector<std::unique_ptr<QThread>> workers;
  QCoreApplication* app = QCoreApplication::instance();
  for (qsizetype i = 0; i < o.ports.size(); ++i) {
    workers.emplace_back(QThread::create([&, i] {
      results[static_cast<std::size_t>(i)] = serve(o, o.ports[i], lines, stop);
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

  int exit = kSuccess;
  for (PortResult& r : results) {
    if (r.openFailed) {
      r.message = t.pick("cannot be opened: ", "kann nicht geöffnet werden: ") +
                  diagnosePort(r.port).verdict;
    }
    // A read's configuration: JSON goes into the port's result object, a file to
    // standard output or to --output.
    QJsonObject j;
    if (o.command == Command::Read && r.configuration) {
      if (o.format == Format::Json) j = configurationJson(*r.configuration);
      const QByteArray bytes = o.format == Format::Json
                                   ? QJsonDocument(j).toJson(QJsonDocument::Compact) + '\n'
                                   : QByteArray::fromStdString(fileTextOf(*r.configuration));
      if (!o.output.isEmpty()) {
        QString path = o.output;
        path.replace(QLatin1String("%p"), r.port);
        if (!saveFileWhole(path, bytes)) {
          r.exit = kFileRejected;
          r.result = QStringLiteral("not_saved");
          r.message =
              t.pick(kFileNotSavedEn, kFileNotSavedDe) + QStringLiteral(": ") + printableName(path);
        }
        j = QJsonObject();
      } else if (o.format == Format::File) {
        writeOut(bytes);
      }
    }
    exit = std::max(exit, r.exit);
    // A read's file goes to standard output, so its result line goes to standard error.
    FILE* lineStream = o.command == Command::Read && o.output.isEmpty() ? stderr : stdout;
    if (o.format == Format::Json) lineStream = stdout;
    if (o.format == Format::Json) {
      j[QStringLiteral("port")] = r.port;
      j[QStringLiteral("result")] = r.result;
      j[QStringLiteral("exit")] = r.exit;
      j[QStringLiteral("message")] = r.message;
      if (r.model) j[QStringLiteral("model")] = QString::fromLatin1(modelName(r.model));
      if (r.attempts) j[QStringLiteral("attempts")] = r.attempts;
      if (r.check) j[QStringLiteral("check")] = r.check;
      if (!r.differences.isEmpty()) j[QStringLiteral("differences")] = r.differences;
      if (!r.details.isEmpty() && r.differences.isEmpty()) {
        j[QStringLiteral("reasons")] = QJsonArray::fromStringList(r.details);
      }
      writeOut(QJsonDocument(j).toJson(QJsonDocument::Compact) + '\n');
    } else {
      QString text = r.port + (r.openFailed ? QStringLiteral(" ") : QStringLiteral(": ")) +
                     r.message + QLatin1Char('\n');
      for (const QString& d : r.details) text += QStringLiteral("  ") + d + QLatin1Char('\n');
      write(r.exit == kSuccess ? lineStream : stderr, text);
    }
  }
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
      o[QStringLiteral("tripTime")] = time == "none" ? QJsonValue() : QJsonValue(fromStd(time));
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
                {QStringLiteral("powerGoodThreshold"),
                 pgood < 0 ? QJsonValue() : QJsonValue(thresholdTenthsAt(pgood) / 10.0)}};
  if (c.isStandard()) {
    o[QStringLiteral("events")] =
        QJsonArray{c.standard.port1_byte1, c.standard.port1_byte2 & ~kReleaseAllBit,
                   c.standard.port2_byte1, c.standard.port2_byte2};
  } else {
    const std::string off = switchOffText(c.zokx.switch_off_index);
    o[QStringLiteral("switchOffTime")] = off == "none" ? QJsonValue() : QJsonValue(fromStd(off));
    o[QStringLiteral("events")] = QJsonArray{c.zokx.port1_byte1, c.zokx.port1_byte2};
  }
  o[QStringLiteral("file")] = fromStd(fileTextOf(c));
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
                              bool readBack) {
  WriteOutcome w;
  const bool acknowledged = exchange.write(writeTelegramOf(wanted));
  w.attempts = exchange.attempts();
  if (exchange.stopped()) {
    w.step = WriteOutcome::Interrupted;
    return w;
  }
  if (!acknowledged) {
    w.step = WriteOutcome::NotAcknowledged;
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

}  // namespace zfuse::ctl
