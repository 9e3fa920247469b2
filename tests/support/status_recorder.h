#pragma once

#include <QByteArray>
#include <vector>

#include "monitor/statusmonitor.h"

namespace zfuse::test {

// A status monitor, fed by hand or by the port it opens, with everything it reports kept
// in order.
struct StatusRecorder {
  StatusMonitor monitor;
  int frames = 0;
  std::vector<uint8_t> seen;  // type bytes of telegrams of a known model
  std::vector<StatusReading> readings;
  int bad = 0;
  int silences = 0;

  explicit StatusRecorder(SerialLineFactory lines = makeSystemSerialLine)
      : monitor(std::move(lines)) {
    QObject::connect(&monitor, &StatusMonitor::frameCompleted, [this] { ++frames; });
    QObject::connect(&monitor, &StatusMonitor::telegramSeen,
                     [this](quint8 type) { seen.push_back(type); });
    QObject::connect(&monitor, &StatusMonitor::statusDecoded,
                     [this](const StatusReading& r) { readings.push_back(r); });
    QObject::connect(&monitor, &StatusMonitor::badTelegram, [this] { ++bad; });
    QObject::connect(&monitor, &StatusMonitor::silent, [this] { ++silences; });
  }
  void feed(const std::vector<uint8_t>& bytes) { monitor.feed(bytes.data(), bytes.size()); }
  void feed(const QByteArray& bytes) { monitor.feed(bytes); }
};

}  // namespace zfuse::test
