#pragma once

#include <QDateTime>
#include <QObject>
#include <QString>
#include <array>
#include <deque>
#include <functional>
#include <optional>

#include "monitor/statusoutput.h"
#include "monitor/statustelegram.h"

namespace zfuse {

class StatusMonitor;

// Something that happened on one device: a lamp lit or went out, the telegrams stopped
// or came back, a configuration was written to it.
struct DeviceEvent {
  enum class Kind {
    Warning,
    Trip,
    PowerGoodLow,
    HardwareFault,
    ConnectionLost,
    ConnectionBack,
    ConfigurationWritten,
  };
  QDateTime time;
  Kind kind = Kind::Warning;
  int channel = -1;  // 0 to 3 for warning and trip, -1 for the whole device
  bool on = true;    // the lamp lit (true) or went out (false); true for the other kinds
  // The values of the telegram that raised the event: each channel's present current in
  // hundredths of an ampere (-1 for a channel switched off or missing) and the input
  // voltage in hundredths of a volt; all -1 for an event no telegram raised (the
  // connection lost, a configuration written).
  std::array<int, 4> present{-1, -1, -1, -1};
  int uin = -1;

  bool hasValues() const { return uin >= 0; }
  // Which of the filters of the event log the kind belongs to.
  enum class Group { Trip, Warning, Voltage, DeviceFault, Connection, Configuration };
  Group group() const;

  bool operator==(const DeviceEvent&) const = default;
};

// The kind as a fixed key for machine-readable output: "warning", "trip",
// "power_good_low", "hardware_fault", "connection_lost", "connection_back",
// "configuration_written".
const char* eventKindKey(DeviceEvent::Kind kind);
// One event as a compact JSON object: time (ISO 8601 with milliseconds), port, event
// (the kind's key), channel (1 to 4, null for the whole device), on.
QString eventJson(const DeviceEvent& event, const QString& port);
// The same as a CSV row (time, port, event, channel, on as 0/1; the channel empty for
// the whole device; then the present currents i1_A to i4_A and uin_V of the telegram,
// empty where it had none), and the header row of those columns.
QString eventCsvHeader(CsvDialect dialect = CsvDialect::Comma);
QString eventCsvLine(const DeviceEvent& event, const QString& port,
                     CsvDialect dialect = CsvDialect::Comma);

// Turns successive status readings of one device into events. The first reading is
// compared with all lamps out, so lamps already lit when monitoring starts are logged;
// after a silence the telegrams that come back are compared with the last one before it.
class EventDetector : public QObject {
  Q_OBJECT

 public:
  explicit EventDetector(QObject* parent = nullptr);

  // Follows a status monitor: its readings and its silences.
  void watch(StatusMonitor* monitor);

  void reading(const StatusReading& reading);
  // No byte for a second: one "connection lost" per silence, and only after a reading.
  void silence();
  void configurationWritten();

  // The clock that stamps events; tests set a fixed one.
  void setClock(std::function<QDateTime()> clock) { clock_ = std::move(clock); }

 signals:
  void occurred(const zfuse::DeviceEvent& event);

 private:
  void emitEvent(DeviceEvent::Kind kind, int channel, bool on,
                 const StatusReading* raisedBy = nullptr);

  std::optional<StatusReading> last_;
  bool connected_ = false;
  bool lostBefore_ = false;
  std::function<QDateTime()> clock_ = [] { return QDateTime::currentDateTime(); };
};

// The events of one device, newest first, bounded: beyond kMaxEntries the oldest go.
class EventLog {
 public:
  static constexpr int kMaxEntries = 10000;

  void append(const DeviceEvent& event);
  int size() const { return static_cast<int>(entries_.size()); }
  // 0 is the newest entry.
  const DeviceEvent& at(int newestFirst) const;
  // Entries pushed out by the bound since the start or the last clear.
  quint64 dropped() const { return dropped_; }
  void clear();
  // The whole log as a CSV file, oldest entry first, rows ended with CR LF (RFC 4180).
  QByteArray toCsv(const QString& port, CsvDialect dialect = CsvDialect::Comma) const;

 private:
  std::deque<DeviceEvent> entries_;  // oldest at the front
  quint64 dropped_ = 0;
};

}  // namespace zfuse
Q_DECLARE_METATYPE(zfuse::DeviceEvent)
