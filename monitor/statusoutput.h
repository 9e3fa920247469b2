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
QString csvHeader();
QString csvLine(const QDateTime& time, const QString& port, const StatusReading& reading);
// A row of the same columns that marks a gap in the telegrams (none for a second, the
// port lost or held by a dialog): the time, the port, "gap" in the model column and
// every other cell empty.
QString csvGapLine(const QDateTime& time, const QString& port);

// The local time with milliseconds and its offset, ISO 8601.
QString isoTime(const QDateTime& time);

}  // namespace zfuse
