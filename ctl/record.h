#pragma once

#include <QDateTime>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

#include "config/deviceconfig.h"
#include "monitor/statustelegram.h"

namespace zfuse::ctl {

// What commissioning found at one device.
struct DeviceRecord {
  QString tag;
  QString port;       // as the plan gives it
  QString device;     // the device it led to
  QString file;       // as the plan gives it; empty: read and recorded only
  uint8_t model = 0;  // heard in the read reply; 0 when none came
  QString version;
  // verified, differs, refused, unreachable, unknown (a write whose outcome is not
  // known), interrupted (before anything was written), read (no file: recorded only)
  QString result;
  int exit = 0;
  QString message;
  QStringList details;
  std::optional<DeviceConfiguration> before;
  std::optional<DeviceConfiguration> after;
  std::optional<StatusReading> state;  // the first status telegram after the write
  QDateTime started;
  qint64 durationMs = 0;
  QStringList extra;
};

// The run as a whole.
struct RecordHeader {
  QString title;
  QString plan;  // the plan's file name
  QString planSha256;
  QString operatorName;
  QString toolVersion;
  QString host;
  QDateTime started;
  QDateTime ended;
  bool interrupted = false;
  bool dryRun = false;
  bool german = false;
  QStringList extraColumns;
};

struct RecordCounts {
  int verified = 0;
  int differs = 0;
  int refused = 0;
  int unreachable = 0;
  int unknown = 0;  // unknown and interrupted
  int read = 0;
};
RecordCounts countResults(const std::vector<DeviceRecord>& devices);

// The three forms of the commissioning record.
QByteArray recordCsv(const RecordHeader& header, const std::vector<DeviceRecord>& devices);
QByteArray recordJson(const RecordHeader& header, const std::vector<DeviceRecord>& devices);
// A printable page for A4 portrait: no scripts, nothing fetched, styles in the page; a
// device's block is never split across pages.
QByteArray recordHtml(const RecordHeader& header, const std::vector<DeviceRecord>& devices);

// Writes the record into `folder` as <stem>-<yyyyMMdd-HHmmss>.csv, .json and .html; a
// name taken by an earlier record gets "-2", "-3", ... Each file is written whole or not
// at all. Returns the paths written; on failure `error` says which file stopped and why,
// and the files written before it are named there too.
QStringList writeRecord(const QString& folder, const QString& stem, const RecordHeader& header,
                        const std::vector<DeviceRecord>& devices, QString* error);

}  // namespace zfuse::ctl
