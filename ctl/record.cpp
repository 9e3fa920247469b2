#include "ctl/record.h"

#include <sys/stat.h>

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <cerrno>
#include <cstring>

#include "ctl/configcommands.h"
#include "ctl/plan.h"
#include "link/localnames.h"
#include "link/safefile.h"
#include "monitor/statusoutput.h"

namespace zfuse::ctl {

namespace {

QString fromStd(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

QString pick(bool german, const char* en, const char* de) {
  return QString::fromUtf8(german ? de : en);
}

QString isoSeconds(const QDateTime& t) {
  return t.toOffsetFromUtc(t.offsetFromUtc()).toString(Qt::ISODate);
}

// The field names of both model families, in the dialogs' order: the columns of the CSV.
QStringList allFields() {
  QStringList fields;
  DeviceConfiguration standard;
  standard.model = kTypeStandard;
  DeviceConfiguration variant;
  variant.model = kType4ch10A;
  for (const auto* c : {&standard, &variant}) {
    for (const auto& [field, text] : settingTexts(*c)) {
      if (!fields.contains(fromStd(field))) fields << fromStd(field);
    }
  }
  return fields;
}

QString settingOf(const std::optional<DeviceConfiguration>& c, const QString& field) {
  if (!c) return {};
  for (const auto& [f, text] : settingTexts(*c)) {
    if (fromStd(f) == field) return fromStd(text);
  }
  return {};
}

QString amps(uint16_t hundredths) {
  return QString::number(hundredths / 100.0, 'f', 2);
}

// The lamps lit in a status telegram, in words; "none" when none is.
QString lampsText(const StatusReading& s, bool german) {
  QStringList lit;
  for (int ch = 0; ch < s.channels(); ++ch) {
    if (s.warning(ch)) lit << pick(german, "warning %1", "Warnung %1").arg(ch + 1);
    if (s.tripped(ch)) lit << pick(german, "tripped %1", "ausgelöst %1").arg(ch + 1);
  }
  if (s.powerGoodLow()) lit << pick(german, "power-good low", "Power-Good niedrig");
  if (s.hardwareFault()) lit << pick(german, "hardware fault", "Gerätefehler");
  return lit.isEmpty() ? pick(german, "none", "keine") : lit.join(QStringLiteral(", "));
}

QString resultWords(const QString& result, bool german) {
  static const struct {
    const char* key;
    const char* en;
    const char* de;
  } kWords[] = {
      {"verified", "verified", "geprüft"},
      {"differs", "differs", "weicht ab"},
      {"refused", "refused", "abgelehnt"},
      {"unreachable", "unreachable", "nicht erreichbar"},
      {"unknown", "unknown — run verify", "unbekannt — verify ausführen"},
      {"interrupted", "interrupted", "unterbrochen"},
      {"read", "read and recorded", "gelesen und aufgezeichnet"},
  };
  for (const auto& w : kWords) {
    if (result == QLatin1String(w.key)) return pick(german, w.en, w.de);
  }
  return result;
}

QString modelText(uint8_t model) {
  return model == 0 ? QString() : QString::fromLatin1(modelName(model));
}

}  // namespace

RecordCounts countResults(const std::vector<DeviceRecord>& devices) {
  RecordCounts c;
  for (const DeviceRecord& d : devices) {
    if (d.result == QLatin1String("verified")) {
      ++c.verified;
    } else if (d.result == QLatin1String("differs")) {
      ++c.differs;
    } else if (d.result == QLatin1String("refused")) {
      ++c.refused;
    } else if (d.result == QLatin1String("unreachable")) {
      ++c.unreachable;
    } else if (d.result == QLatin1String("read")) {
      ++c.read;
    } else {
      ++c.unknown;
    }
  }
  return c;
}

QByteArray recordCsv(const RecordHeader& header, const std::vector<DeviceRecord>& devices) {
  const QStringList fields = allFields();
  QStringList columns{QStringLiteral("tag"),    QStringLiteral("port"),   QStringLiteral("device"),
                      QStringLiteral("file"),   QStringLiteral("model"),  QStringLiteral("version"),
                      QStringLiteral("result"), QStringLiteral("message")};
  for (const QString& f : fields) columns << QStringLiteral("before ") + f;
  for (const QString& f : fields) columns << QStringLiteral("after ") + f;
  columns << QStringLiteral("after uin") << QStringLiteral("after current 1")
          << QStringLiteral("after current 2") << QStringLiteral("after current 3")
          << QStringLiteral("after current 4") << QStringLiteral("after lamps")
          << QStringLiteral("started") << QStringLiteral("duration s");
  columns << header.extraColumns;
  QString out;
  const auto line = [&out](const QStringList& cells) {
    QStringList quoted;
    for (const QString& c : cells) quoted << csvField(c);
    out += quoted.join(QLatin1Char(',')) + QStringLiteral("\r\n");
  };
  line(columns);
  for (const DeviceRecord& d : devices) {
    QString message = d.message;
    for (const QString& detail : d.details) message += QLatin1Char('\n') + detail;
    QStringList cells{d.tag,     d.port,   d.device, d.file, modelText(d.model),
                      d.version, d.result, message};
    for (const QString& f : fields) cells << settingOf(d.before, f);
    for (const QString& f : fields) cells << settingOf(d.after, f);
    if (d.state) {
      cells << QString::number(d.state->uin / 100.0, 'f', 2);
      for (int ch = 0; ch < 4; ++ch) {
        cells << (d.state->channelOn(ch) ? amps(d.state->present[ch]) : QString());
      }
      cells << lampsText(*d.state, false);
    } else {
      for (int i = 0; i < 6; ++i) cells << QString();
    }
    cells << isoSeconds(d.started)
          << QString::number(static_cast<double>(d.durationMs) / 1000.0, 'f', 3);
    cells << d.extra;
    line(cells);
  }
  return out.toUtf8();
}

QByteArray recordJson(const RecordHeader& header, const std::vector<DeviceRecord>& devices) {
  QJsonArray list;
  for (const DeviceRecord& d : devices) {
    const auto settings = [](const std::optional<DeviceConfiguration>& c) {
      if (!c) return QJsonValue();
      QJsonObject o;
      for (const auto& [field, text] : settingTexts(*c)) o[fromStd(field)] = fromStd(text);
      return QJsonValue(o);
    };
    QJsonObject o{
        {QStringLiteral("tag"), d.tag},
        {QStringLiteral("port"), d.port},
        {QStringLiteral("device"), d.device},
        {QStringLiteral("file"), d.file},
        {QStringLiteral("model"), d.model ? QJsonValue(modelText(d.model)) : QJsonValue()},
        {QStringLiteral("version"), d.version},
        {QStringLiteral("result"), d.result},
        {QStringLiteral("exit"), d.exit},
        {QStringLiteral("message"), d.message},
        {QStringLiteral("details"), QJsonArray::fromStringList(d.details)},
        {QStringLiteral("before"), settings(d.before)},
        {QStringLiteral("after"), settings(d.after)},
        {QStringLiteral("started"), isoSeconds(d.started)},
        {QStringLiteral("duration_seconds"), static_cast<double>(d.durationMs) / 1000.0}};
    if (d.state) {
      o[QStringLiteral("state")] =
          QJsonDocument::fromJson(jsonLine(d.started, d.port, *d.state).toUtf8()).object();
    } else {
      o[QStringLiteral("state")] = QJsonValue();
    }
    QJsonObject extra;
    for (qsizetype i = 0; i < header.extraColumns.size() && i < d.extra.size(); ++i) {
      extra[header.extraColumns[i]] = d.extra[i];
    }
    o[QStringLiteral("extra")] = extra;
    list.append(o);
  }
  const RecordCounts c = countResults(devices);
  const QJsonObject root{{QStringLiteral("title"), header.title},
                         {QStringLiteral("plan"), header.plan},
                         {QStringLiteral("plan_sha256"), header.planSha256},
                         {QStringLiteral("operator"), header.operatorName},
                         {QStringLiteral("tool"), QStringLiteral("zfusectl ") + header.toolVersion},
                         {QStringLiteral("host"), header.host},
                         {QStringLiteral("started"), isoSeconds(header.started)},
                         {QStringLiteral("ended"), isoSeconds(header.ended)},
                         {QStringLiteral("interrupted"), header.interrupted},
                         {QStringLiteral("dry_run"), header.dryRun},
                         {QStringLiteral("summary"),
                          QJsonObject{{QStringLiteral("devices"), static_cast<int>(devices.size())},
                                      {QStringLiteral("verified"), c.verified},
                                      {QStringLiteral("differs"), c.differs},
                                      {QStringLiteral("refused"), c.refused},
                                      {QStringLiteral("unreachable"), c.unreachable},
                                      {QStringLiteral("unknown"), c.unknown},
                                      {QStringLiteral("read"), c.read}}},
                         {QStringLiteral("devices"), list}};
  return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

QByteArray recordHtml(const RecordHeader& h, const std::vector<DeviceRecord>& devices) {
  const bool de = h.german;
  const auto e = [](const QString& s) { return s.toHtmlEscaped(); };
  const auto w = [de](const char* en, const char* german) { return pick(de, en, german); };
  const RecordCounts c = countResults(devices);
  QString out;
  out += QStringLiteral("<!DOCTYPE html>\n<html lang=\"%1\">\n<head>\n<meta charset=\"utf-8\">\n")
             .arg(de ? QStringLiteral("de") : QStringLiteral("en"));
  out += QStringLiteral("<title>%1</title>\n").arg(e(h.title));
  out += QStringLiteral(
      "<style>\n"
      "@page { size: A4 portrait; margin: 14mm 13mm; }\n"
      "* { box-sizing: border-box; }\n"
      "body { font: 9.5pt/1.35 'DejaVu Sans', sans-serif; color: #000; margin: 0; }\n"
      "h1 { font-size: 15pt; margin: 0 0 2mm; }\n"
      "h2 { font-size: 11.5pt; margin: 5mm 0 2mm; }\n"
      "table { border-collapse: collapse; width: 100%; }\n"
      "th, td { text-align: left; vertical-align: top; padding: 0.6mm 1.5mm; }\n"
      ".head th { width: 32mm; font-weight: normal; color: #444; }\n"
      ".list th, .list td, .settings th, .settings td { border: 0.2mm solid #999; }\n"
      ".list th, .settings th { background: #eee; }\n"
      ".device { break-inside: avoid; page-break-inside: avoid; border: 0.3mm solid #555;"
      " padding: 2mm 3mm; margin: 0 0 3mm; }\n"
      ".device h3 { font-size: 10.5pt; margin: 0 0 1mm; }\n"
      ".meta { margin: 0 0 1.5mm; color: #333; }\n"
      ".changed td { font-weight: bold; }\n"
      ".bad { color: #a00000; font-weight: bold; }\n"
      ".good { color: #006000; font-weight: bold; }\n"
      ".sign { break-inside: avoid; page-break-inside: avoid; margin-top: 10mm; }\n"
      ".sign td { padding-top: 14mm; border-bottom: 0.3mm solid #000; width: 45%; }\n"
      ".sign td.gap { border: none; width: 10%; }\n"
      ".sign .label td { padding-top: 1mm; border: none; color: #444; }\n"
      "</style>\n</head>\n<body>\n");
  out += QStringLiteral("<h1>%1</h1>\n")
             .arg(e(h.title.isEmpty() ? w("Commissioning record", "Inbetriebnahmeprotokoll")
                                      : h.title));
  const auto headRow = [&](const QString& label, const QString& value) {
    out += QStringLiteral("<tr><th>%1</th><td>%2</td></tr>\n").arg(e(label), e(value));
  };
  out += QStringLiteral("<table class=\"head\">\n");
  headRow(w("Plan", "Anlagenliste"), h.plan);
  headRow(w("SHA-256 of the plan", "SHA-256 der Liste"), h.planSha256);
  headRow(w("Operator", "Bearbeiter"), h.operatorName);
  headRow(w("Date", "Datum"), h.started.toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")) +
                                  QStringLiteral(" – ") +
                                  h.ended.toString(QStringLiteral("HH:mm:ss")));
  headRow(w("Tool", "Programm"), QStringLiteral("zfusectl ") + h.toolVersion);
  headRow(w("Host", "Rechner"), h.host);
  if (h.dryRun) {
    headRow(w("Run", "Lauf"), w("dry run: read and compared, nothing written",
                                "Probelauf: gelesen und verglichen, nichts geschrieben"));
  }
  if (h.interrupted) {
    headRow(w("Run", "Lauf"), w("interrupted", "unterbrochen"));
  }
  out += QStringLiteral("</table>\n");

  out += QStringLiteral("<h2>%1</h2>\n<p>").arg(w("Summary", "Zusammenfassung"));
  out += w("%1 devices: %2 verified, %3 differ, %4 refused, %5 unreachable, %6 unknown or "
           "interrupted, %7 only read.",
           "%1 Geräte: %2 geprüft, %3 abweichend, %4 abgelehnt, %5 nicht erreichbar, %6 "
           "unbekannt oder unterbrochen, %7 nur gelesen.")
             .arg(devices.size())
             .arg(c.verified)
             .arg(c.differs)
             .arg(c.refused)
             .arg(c.unreachable)
             .arg(c.unknown)
             .arg(c.read);
  out += QStringLiteral("</p>\n");
  std::vector<const DeviceRecord*> failed;
  for (const DeviceRecord& d : devices) {
    if (d.result != QLatin1String("verified") && d.result != QLatin1String("read")) {
      failed.push_back(&d);
    }
  }
  if (!failed.empty()) {
    out += QStringLiteral(
               "<table class=\"list\">\n<tr><th>%1</th><th>%2</th><th>%3</th>"
               "<th>%4</th></tr>\n")
               .arg(w("Tag", "Kennzeichen"), w("Port", "Anschluss"), w("Result", "Ergebnis"),
                    w("Message", "Meldung"));
    for (const DeviceRecord* d : failed) {
      out += QStringLiteral("<tr><td>%1</td><td>%2</td><td class=\"bad\">%3</td><td>%4</td></tr>\n")
                 .arg(e(d->tag), e(d->port), e(resultWords(d->result, de)), e(d->message));
    }
    out += QStringLiteral("</table>\n");
  }

  out += QStringLiteral("<h2>%1</h2>\n").arg(w("Devices", "Geräte"));
  for (const DeviceRecord& d : devices) {
    out += QStringLiteral("<div class=\"device\">\n<h3>%1</h3>\n").arg(e(d.tag));
    QStringList meta;
    meta << w("Port", "Anschluss") + QStringLiteral(": ") + d.port +
                (d.device != d.port && !d.device.isEmpty()
                     ? QStringLiteral(" (") + d.device + QLatin1Char(')')
                     : QString());
    if (d.model) meta << w("model", "Modell") + QStringLiteral(": ") + modelText(d.model);
    if (!d.version.isEmpty()) meta << w("version", "Version") + QStringLiteral(": ") + d.version;
    meta << w("file", "Datei") + QStringLiteral(": ") +
                (d.file.isEmpty() ? w("none (read only)", "keine (nur gelesen)") : d.file);
    for (qsizetype i = 0; i < h.extraColumns.size() && i < d.extra.size(); ++i) {
      if (!d.extra[i].isEmpty()) meta << h.extraColumns[i] + QStringLiteral(": ") + d.extra[i];
    }
    meta << d.started.toString(QStringLiteral("HH:mm:ss")) + QStringLiteral(", ") +
                QString::number(static_cast<double>(d.durationMs) / 1000.0, 'f', 1) +
                QStringLiteral(" s");
    QStringList escaped;
    for (const QString& m : meta) escaped << e(m);
    out += QStringLiteral("<p class=\"meta\">%1</p>\n").arg(escaped.join(QStringLiteral(" · ")));
    if (d.before || d.after) {
      out += QStringLiteral(
                 "<table class=\"settings\">\n<tr><th>%1</th><th>%2</th><th>%3</th>"
                 "</tr>\n")
                 .arg(w("Setting", "Einstellung"), w("Before", "Vorher"), w("After", "Nachher"));
      const auto rows = settingTexts(d.before ? *d.before : *d.after);
      for (const auto& [field, text] : rows) {
        const QString name = fromStd(field);
        const QString before = d.before ? settingOf(d.before, name) : QString();
        const QString after = d.after ? settingOf(d.after, name) : QString();
        const bool changed = d.before && d.after && before != after;
        out += QStringLiteral("<tr%1><td>%2</td><td>%3</td><td>%4</td></tr>\n")
                   .arg(changed ? QStringLiteral(" class=\"changed\"") : QString(),
                        e(fieldText(field, de)), e(fieldText(before.toStdString(), de)),
                        e(fieldText(after.toStdString(), de)));
      }
      out += QStringLiteral("</table>\n");
    }
    if (d.state) {
      QStringList currents;
      for (int ch = 0; ch < d.state->channels(); ++ch) {
        currents << (d.state->channelOn(ch) ? amps(d.state->present[ch]) + QStringLiteral(" A")
                                            : QStringLiteral("–"));
      }
      out += QStringLiteral("<p class=\"meta\">%1</p>\n")
                 .arg(e(w("After: input %1 V; currents %2; lamps: %3",
                          "Danach: Eingang %1 V; Ströme %2; Lampen: %3")
                            .arg(QString::number(d.state->uin / 100.0, 'f', 2),
                                 currents.join(QStringLiteral(", ")), lampsText(*d.state, de))));
    }
    QString message = d.message;
    for (const QString& detail : d.details) message += QStringLiteral("; ") + detail;
    const bool good = d.result == QLatin1String("verified") || d.result == QLatin1String("read");
    out += QStringLiteral("<p>%1: <span class=\"%2\">%3</span> — %4</p>\n</div>\n")
               .arg(w("Result", "Ergebnis"), good ? QStringLiteral("good") : QStringLiteral("bad"),
                    e(resultWords(d.result, de)), e(message));
  }
  out += QStringLiteral(
             "<table class=\"sign\">\n<tr><td></td><td class=\"gap\"></td><td></td></tr>\n"
             "<tr class=\"label\"><td>%1</td><td class=\"gap\"></td><td>%2</td></tr>\n"
             "</table>\n</body>\n</html>\n")
             .arg(w("Place, date", "Ort, Datum"), w("Signature", "Unterschrift"));
  return out.toUtf8();
}

QStringList writeRecord(const QString& folder, const QString& stem, const RecordHeader& header,
                        const std::vector<DeviceRecord>& devices, QString* error) {
  const QDir dir(folder);
  const QString base =
      stem + QLatin1Char('-') + header.started.toString(QStringLiteral("yyyyMMdd-HHmmss"));
  const QStringList suffixes{QStringLiteral(".csv"), QStringLiteral(".json"),
                             QStringLiteral(".html")};
  QString name = base;
  for (int n = 2;; ++n) {
    bool taken = false;
    for (const QString& s : suffixes) {
      struct stat st {};
      taken |= ::lstat(localName(dir.filePath(name + s)).constData(), &st) == 0;
    }
    if (!taken) break;
    name = base + QStringLiteral("-%1").arg(n);
  }
  const QByteArray contents[] = {recordCsv(header, devices), recordJson(header, devices),
                                 recordHtml(header, devices)};
  QStringList written;
  for (int i = 0; i < 3; ++i) {
    const QString path = dir.filePath(name + suffixes[i]);
    // Unbuffered, so that a short write on a full disk shows in the count: a buffered
    // one can be lost in the commit without a word.
    // A folder named by bytes that are no UTF-8 is beyond the toolkit's file classes: the
    // whole-file save writes under a stand-in name there and renames it.
    QSaveFile file(path);
    const bool ok = toolkitSpellsName(path)
                        ? file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                              file.write(contents[i]) == contents[i].size() && file.commit()
                        : saveFileWhole(path, contents[i]);
    if (!ok) {
      const QString reason = toolkitSpellsName(path) ? file.errorString()
                                                     : QString::fromLocal8Bit(std::strerror(errno));
      *error = QStringLiteral("the record stopped at %1: %2").arg(printableName(path), reason);
      if (!written.isEmpty()) {
        *error += QStringLiteral("; written before it: ") + written.join(QStringLiteral(", "));
      }
      return written;
    }
    written << path;
  }
  return written;
}

}  // namespace zfuse::ctl
