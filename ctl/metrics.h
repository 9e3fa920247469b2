#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <array>
#include <mutex>
#include <optional>
#include <vector>

#include "monitor/statustelegram.h"

namespace zfuse::ctl {

// What the metrics page shows of one device.
struct DeviceMetrics {
  QString device;  // the device id
  QString port;
  std::optional<StatusReading> reading;  // the latest telegram; none before the first
  bool up = false;                       // telegrams come; false after a second of silence
  quint64 telegrams = 0;
  quint64 badTelegrams = 0;
  quint64 reopens = 0;
  std::array<quint64, 4> trips{};  // channel by channel: times its trip lamp lit
  QString version;                 // the device's own, once read; empty before
};

// The devices' metrics in the Prometheus text exposition format (version 0.0.4): base
// units (amperes, volts), 0/1 for lamps, labels device, port and channel. A channel that
// is switched off has no current samples, a channel the model lacks no samples at all,
// and a device before its first telegram only zfuse_up and its counters.
QByteArray renderMetrics(const std::vector<DeviceMetrics>& devices);

// The devices' metrics, kept up to date by the serial side and read by the metrics
// server's thread. Every call holds a lock for a copy's time only.
class MetricsStore {
 public:
  MetricsStore(const QStringList& deviceIds, const QStringList& ports);

  void telegram(int device, const StatusReading& reading);
  void badTelegram(int device);
  void silent(int device);
  void reopened(int device);
  void setVersion(int device, const QString& version);

  std::vector<DeviceMetrics> snapshot() const;

 private:
  mutable std::mutex mutex_;
  std::vector<DeviceMetrics> devices_;
};

}  // namespace zfuse::ctl
