#include "monitor/statusoutput.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QStringList>

namespace zfuse {

namespace {
// Hundredths as a number with two decimals.
QString hundredths(uint16_t raw) {
  return QStringLiteral("%1.%2").arg(raw / 100).arg(raw % 100, 2, 10, QLatin1Char('0'));
}
double value(uint16_t raw) {
  return raw / 100.0;
}
}  // namespace

QString isoTime(const QDateTime& time) {
  // The offset always as +hh:mm, also where the clock runs on UTC (never "Z"), so that
  // every row reads the same way.
  const int offset = time.offsetFromUtc();
  const int minutes = (offset < 0 ? -offset : offset) / 60;
  return time.toOffsetFromUtc(offset).toString(QStringLiteral("yyyy-MM-ddTHH:mm:ss.zzz")) +
         QStringLiteral("%1%2:%3")
             .arg(offset < 0 ? QLatin1Char('-') : QLatin1Char('+'))
             .arg(minutes / 60, 2, 10, QLatin1Char('0'))
             .arg(minutes % 60, 2, 10, QLatin1Char('0'));
}

QString textLine(const QDateTime& time, const QString& port, const StatusReading& r) {
  QStringList parts{isoTime(time), port, QString::fromLatin1(modelName(r.type))};
  for (int ch = 0; ch < r.channels(); ++ch) {
    QString channel = QStringLiteral("ch%1 ").arg(ch + 1);
    if (!r.channelOn(ch)) {
      channel += QStringLiteral("off");
    } else {
      channel += QStringLiteral("%1 A (max %2 A, rated %3 A)")
                     .arg(hundredths(r.present[ch]), hundredths(r.highest[ch]))
                     .arg(r.rated[ch]);
    }
    if (r.warning(ch)) channel += QStringLiteral(" WARNING");
    if (r.tripped(ch)) channel += QStringLiteral(" TRIPPED");
    parts << channel;
  }
  parts << QStringLiteral("Uin %1 V (min %2 V)").arg(hundredths(r.uin), hundredths(r.uinMin));
  if (r.powerGoodLow()) parts << QStringLiteral("POWER-GOOD-LOW");
  if (r.hardwareFault()) parts << QStringLiteral("HARDWARE-FAULT");
  return parts.join(QStringLiteral("  "));
}

QString jsonLine(const QDateTime& time, const QString& port, const StatusReading& r) {
  QJsonArray channels;
  for (int ch = 0; ch < 4; ++ch) {
    QJsonObject c{{QStringLiteral("channel"), ch + 1}};
    const bool exists = ch < r.channels();
    const bool on = r.channelOn(ch);
    c[QStringLiteral("present")] = on ? QJsonValue(value(r.present[ch])) : QJsonValue();
    c[QStringLiteral("maximum")] = on ? QJsonValue(value(r.highest[ch])) : QJsonValue();
    c[QStringLiteral("rated")] = on ? QJsonValue(r.rated[ch]) : QJsonValue();
    c[QStringLiteral("warning")] = exists ? QJsonValue(r.warning(ch)) : QJsonValue();
    c[QStringLiteral("tripped")] = exists ? QJsonValue(r.tripped(ch)) : QJsonValue();
    channels.append(c);
  }
  const QJsonObject o{{QStringLiteral("time"), isoTime(time)},
                      {QStringLiteral("port"), port},
                      {QStringLiteral("model"), QString::fromLatin1(modelName(r.type))},
                      {QStringLiteral("type"), r.type},
                      {QStringLiteral("channels"), channels},
                      {QStringLiteral("uin"), value(r.uin)},
                      {QStringLiteral("uin_min"), value(r.uinMin)},
                      {QStringLiteral("power_good_low"), r.powerGoodLow()},
                      {QStringLiteral("hardware_fault"), r.hardwareFault()}};
  return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

namespace {
constexpr int kCsvColumns = 3 + 4 * 3 + 2 + 4 * 2 + 2;
}  // namespace

QChar csvSeparator(CsvDialect dialect) {
  return dialect == CsvDialect::Semicolon ? QLatin1Char(';') : QLatin1Char(',');
}

QChar csvDecimal(CsvDialect dialect) {
  return dialect == CsvDialect::Semicolon ? QLatin1Char(',') : QLatin1Char('.');
}

QString csvCell(const QString& text, CsvDialect dialect) {
  const bool quoted = text.contains(csvSeparator(dialect)) || text.contains(QLatin1Char('"')) ||
                      text.contains(QLatin1Char('\n')) || text.contains(QLatin1Char('\r'));
  if (!quoted) return text;
  QString inner = text;
  inner.replace(QLatin1Char('"'), QStringLiteral("\"\""));
  return QLatin1Char('"') + inner + QLatin1Char('"');
}

QString csvHundredths(int raw, CsvDialect dialect) {
  const int magnitude = raw < 0 ? -raw : raw;
  return QStringLiteral("%1%2%3%4")
      .arg(raw < 0 ? QStringLiteral("-") : QString())
      .arg(magnitude / 100)
      .arg(csvDecimal(dialect))
      .arg(magnitude % 100, 2, 10, QLatin1Char('0'));
}

QString csvHeader(CsvDialect dialect) {
  QStringList columns{QStringLiteral("time"), QStringLiteral("port"), QStringLiteral("model")};
  for (int ch = 1; ch <= 4; ++ch) {
    columns << QStringLiteral("i%1_A").arg(ch) << QStringLiteral("i%1_max_A").arg(ch)
            << QStringLiteral("i%1_rated_A").arg(ch);
  }
  columns << QStringLiteral("uin_V") << QStringLiteral("uin_min_V");
  for (int ch = 1; ch <= 4; ++ch) {
    columns << QStringLiteral("warning%1").arg(ch) << QStringLiteral("tripped%1").arg(ch);
  }
  columns << QStringLiteral("power_good_low") << QStringLiteral("hardware_fault");
  return columns.join(csvSeparator(dialect));
}

QString csvLine(const QDateTime& time, const QString& port, const StatusReading& r,
                CsvDialect dialect) {
  // Only the port, a name from outside, can hold a separator or a quote.
  QStringList cells{isoTime(time), csvCell(port, dialect), QString::fromLatin1(modelName(r.type))};
  for (int ch = 0; ch < 4; ++ch) {
    if (r.channelOn(ch)) {
      cells << csvHundredths(r.present[ch], dialect) << csvHundredths(r.highest[ch], dialect)
            << QString::number(r.rated[ch]);
    } else {
      cells << QString() << QString() << QString();
    }
  }
  cells << csvHundredths(r.uin, dialect) << csvHundredths(r.uinMin, dialect);
  const auto bit = [](bool b) { return b ? QStringLiteral("1") : QStringLiteral("0"); };
  for (int ch = 0; ch < 4; ++ch) {
    const bool exists = ch < r.channels();
    cells << (exists ? bit(r.warning(ch)) : QString()) << (exists ? bit(r.tripped(ch)) : QString());
  }
  cells << bit(r.powerGoodLow()) << bit(r.hardwareFault());
  return cells.join(csvSeparator(dialect));
}

QString csvGapLine(const QDateTime& time, const QString& port, CsvDialect dialect) {
  QStringList cells{isoTime(time), csvCell(port, dialect), QStringLiteral("gap")};
  while (cells.size() < kCsvColumns) cells << QString();
  return cells.join(csvSeparator(dialect));
}

QString jsonGapLine(const QDateTime& time, const QString& port, const QDateTime& lastTelegram,
                    bool portOpen) {
  const QJsonObject gap{{QStringLiteral("time"), isoTime(time)},
                        {QStringLiteral("port"), port},
                        {QStringLiteral("last_telegram"),
                         lastTelegram.isValid() ? QJsonValue(isoTime(lastTelegram)) : QJsonValue()},
                        {QStringLiteral("port_open"), portOpen}};
  return QString::fromUtf8(
      QJsonDocument(QJsonObject{{QStringLiteral("gap"), gap}}).toJson(QJsonDocument::Compact));
}

}  // namespace zfuse
