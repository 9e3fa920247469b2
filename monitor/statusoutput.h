#pragma once

#include <QDateTime>
#include <QString>

#include "monitor/statustelegram.h"

namespace zfuse {

// One decoded status telegram as a line of output, without its line end. Numbers in
// amperes and volts with a decimal point; a channel that is switched off or that the
// model lacks has no current values (empty in text and CSV, null in JSON).
QString textLine(const QDateTime& time, const QString& port, const StatusReading& reading);
QString jsonLine(const QDateTime& time, const QString& port, const StatusReading& reading);

// The two ways of writing CSV: comma-separated with decimal points, for scripts; and
// semicolon-separated with decimal commas, which a German spreadsheet splits as it opens
// the file. Both have the same columns, the same header (units in the names: `i1_A`,
// `uin_V`) and the same times.
enum class CsvDialect { Comma, Semicolon };
// The cell separator and the decimal separator of a dialect.
QChar csvSeparator(CsvDialect dialect);
QChar csvDecimal(CsvDialect dialect);
// A cell as it goes into a row: quoted (quotes doubled) when it holds the separator, a
// quote or a line break.
QString csvCell(const QString& text, CsvDialect dialect);

QString csvHeader(CsvDialect dialect = CsvDialect::Comma);
QString csvLine(const QDateTime& time, const QString& port, const StatusReading& reading,
                CsvDialect dialect = CsvDialect::Comma);
// A row of the same columns that marks a gap in the telegrams (none for a second, the
// port lost or held by a dialog): the time, the port, "gap" in the model column and
// every other cell empty.
QString csvGapLine(const QDateTime& time, const QString& port,
                   CsvDialect dialect = CsvDialect::Comma);
// The same gap as one JSON object, for lines of JSON among the telegrams:
// {"gap": {"time": ..., "port": ..., "last_telegram": time or null, "port_open": bool}},
// `lastTelegram` invalid when the port has given none yet; `portOpen` false when the port
// itself is lost or not there, true when it is open and silent.
QString jsonGapLine(const QDateTime& time, const QString& port, const QDateTime& lastTelegram,
                    bool portOpen);
// Hundredths (of an ampere, of a volt) as a number with two decimals in a dialect.
QString csvHundredths(int raw, CsvDialect dialect);

// The local time with milliseconds and its offset, ISO 8601: "2026-12-10T14:03:07.025+01:00",
// "+00:00" where the local time is UTC.
QString isoTime(const QDateTime& time);

}  // namespace zfuse
