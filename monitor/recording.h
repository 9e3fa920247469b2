#pragma once

#include <sys/types.h>

#include <QDateTime>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>

#include "monitor/statusoutput.h"
#include "monitor/statustelegram.h"

namespace zfuse {

class StatusMonitor;

// Records the status telegrams of one port into a CSV file as they arrive: a header row,
// then one row per telegram in the columns of `zfusectl status --format csv`, and a gap
// row where the telegrams stopped for a second. Rows go to the file at once (no buffer
// grows in memory); every second what was written is pushed to the disk, so the file can
// be read while it grows and a power cut loses at most that second. A failed write ends
// the recording and leaves the rows written before it; so does a file that lost its name
// (deleted, its folder removed, another file put in its place), which the one-second
// look notices: rows written on would be lost with the last descriptor.
//
//   StatusMonitor::statusDecoded -> record -> csvLine -> file
//   own 1 s timer -> tick: gap row after a second without a telegram, data to the disk,
//                    the file still under its name
class StatusRecording : public QObject {
  Q_OBJECT

 public:
  static constexpr int kTickPeriodMs = 1000;
  // A telegram older than this makes the next tick write a gap row.
  static constexpr int kGapAfterMs = 1000;

  enum class Error {
    None,
    NotAFile,     // the name is a device, FIFO, socket, folder, link loop or in no folder
    CannotOpen,   // the file system refused it (permission, read-only)
    WriteFailed,  // a write came back short: disk full, medium gone
    FileLost      // the file no longer has its name: deleted, or its folder removed
  };

  explicit StatusRecording(QObject* parent = nullptr);
  ~StatusRecording() override;

  // Records the readings of `monitor`.
  void watch(StatusMonitor* monitor);
  // The port name that goes into every row.
  void setPortName(std::function<QString()> portName) { portName_ = std::move(portName); }

  // Creates or empties the file at `path` (through links to a regular file, as a save
  // does) and writes the header row in `dialect`. False, with error() saying why, when
  // refused.
  bool start(const QString& path, CsvDialect dialect = CsvDialect::Comma);
  void stop();
  bool active() const { return fd_ >= 0; }
  Error error() const { return error_; }
  QString path() const { return path_; }
  CsvDialect dialect() const { return dialect_; }
  // Rows written since the start, header and gap rows not counted.
  quint64 telegramRows() const { return telegramRows_; }
  quint64 gapRows() const { return gapRows_; }

  // One telegram as a row, and the periodic look; public for tests and measurements.
  void record(const QDateTime& time, const StatusReading& reading);
  void tick(const QDateTime& now);

 signals:
  // The recording ended by itself after a failed write; the file keeps the rows before.
  void failed(zfuse::StatusRecording::Error error);
  // A recording started or ended (by stop() or by a failure).
  void activeChanged(bool active);

 private:
  bool writeRow(const QString& row);
  void fail(Error error);
  // The path still names the file the rows go to.
  bool stillNamed() const;

  int fd_ = -1;
  QString path_;
  CsvDialect dialect_ = CsvDialect::Comma;
  Error error_ = Error::None;
  QTimer ticker_;
  std::function<QString()> portName_;
  QDateTime lastTelegram_;
  bool inGap_ = false;
  bool unsynced_ = false;
  off_t size_ = 0;  // bytes of whole rows in the file
  quint64 telegramRows_ = 0;
  quint64 gapRows_ = 0;
};

}  // namespace zfuse
