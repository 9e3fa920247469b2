#pragma once

#include <QDateTime>
#include <vector>

#include "config/deviceconfig.h"
#include "ctl/record.h"
#include "monitor/statustelegram.h"

namespace zfuse::test {

// A recorded result set of `count` devices without any device: every model, and every
// seventh device not verified (differs, refused, unreachable, unknown in turn). Each
// device's block starts with its port (/dev/serial/by-id/usb-zokara-<tag>) and ends with
// the message "end of <tag>", so that a printed page tells where each block lies.
inline std::vector<ctl::DeviceRecord> sampleRecords(int count, const QDateTime& start) {
  static const uint8_t kModels[] = {kType4ch10A, kTypeStandard, kType4ch6A, kType2ch10A,
                                    kType2ch6A};
  static const char* const kFailures[] = {"differs", "refused", "unreachable", "unknown"};
  std::vector<ctl::DeviceRecord> records;
  for (int i = 0; i < count; ++i) {
    ctl::DeviceRecord d;
    d.tag = QStringLiteral("-F%1").arg(i + 1);
    d.port = QStringLiteral("/dev/serial/by-id/usb-zokara-F%1").arg(i + 1);
    d.device = QStringLiteral("/dev/ttyUSB%1").arg(i);
    d.file = QStringLiteral("cabinet/F%1.txt").arg(i + 1);
    d.model = kModels[i % 5];
    d.version = QStringLiteral("1.07");
    DeviceConfiguration c;
    c.model = d.model;
    if (c.isStandard()) {
      c.standard.current_index = {1, 2, 0, 5};
      c.standard.time_index = {3, 1, -1, 0};
      c.standard.pgood_index = 5;
    } else {
      c.zokx.current_index = {6, 3, 0, 1};
      c.zokx.pgood_index = 40;
      c.zokx.switch_off_index = 2;
    }
    d.before = c;
    if (c.isStandard()) {
      c.standard.pgood_index = 9;
    } else {
      c.zokx.current_index[0] = 4;
    }
    d.after = c;
    StatusReading s;
    s.type = d.model;
    s.uin = 2402;
    s.present = {445, 775, 0, 120};
    s.rated = {10, 10, 0, 6};
    s.channelBits = i % 11 == 0 ? 0x01 : 0;
    d.state = s;
    d.result =
        i % 7 == 6 ? QString::fromLatin1(kFailures[(i / 7) % 4]) : QStringLiteral("verified");
    d.exit = d.result == QLatin1String("verified") ? 0 : 5;
    d.message = QStringLiteral("end of %1").arg(d.tag);
    if (d.result == QLatin1String("differs"))
      d.details << QStringLiteral("channel 1 current: file 4 A, device 6 A");
    d.started = start.addMSecs(i * 40);
    d.durationMs = 900 + i % 13 * 17;
    d.extra = {QStringLiteral("Schrank %1").arg(i / 20 + 1), QStringLiteral("5SY%1").arg(4000 + i)};
    records.push_back(d);
  }
  return records;
}

inline ctl::RecordHeader sampleHeader(const QDateTime& start, bool german) {
  ctl::RecordHeader h;
  h.title = german ? QStringLiteral("Inbetriebnahme Schaltschrank 3")
                   : QStringLiteral("Commissioning cabinet 3");
  h.plan = QStringLiteral("cabinet-3.csv");
  h.planSha256 =
      QStringLiteral("9f2c4e0b7d1a3c5e8f6b2d4a1c3e5f7091b3d5f7a9c1e3f5071b3d5f7a9c1e3f5");
  h.operatorName = QStringLiteral("A. Weber");
  h.toolVersion = QStringLiteral("1.0.0");
  h.host = QStringLiteral("service-laptop");
  h.started = start;
  h.ended = start.addSecs(4);
  h.german = german;
  h.extraColumns = {QStringLiteral("cabinet"), QStringLiteral("order number")};
  return h;
}

}  // namespace zfuse::test
