#include "monitor/statusmonitor.h"

namespace zfuse {

StatusMonitor::StatusMonitor(SerialLineFactory factory, QObject* parent)
    : QObject(parent),
      assembler_([this](const std::vector<uint8_t>& frame) { onFrame(frame); }),
      connection_([this](const QByteArray& bytes) { feed(bytes); }, std::move(factory)) {
  watchdog_.setInterval(kWatchdogPeriodMs);
  reopen_.setInterval(kReopenPeriodMs);
  connect(&watchdog_, &QTimer::timeout, this, &StatusMonitor::watchdogTick);
  connect(&reopen_, &QTimer::timeout, this, &StatusMonitor::reopenTick);
}

void StatusMonitor::feed(const QByteArray& bytes) {
  feed(reinterpret_cast<const uint8_t*>(bytes.constData()), static_cast<std::size_t>(bytes.size()));
}

void StatusMonitor::feed(const uint8_t* data, std::size_t size) {
  assembler_.feed(data, size);
}

void StatusMonitor::onFrame(const std::vector<uint8_t>& frame) {
  emit frameCompleted();
  const StatusCheck check = checkStatusTelegram(frame);
  if (check == StatusCheck::TooShort || check == StatusCheck::ForeignType) return;
  emit telegramSeen(frame[1]);
  if (check == StatusCheck::BadChecksum) {
    ++badTelegrams_;
    emit badTelegram(frame[1]);
    return;
  }
  emit statusDecoded(decodeStatusReading(frame));
}

void StatusMonitor::watchdogTick() {
  if (!assembler_.takeActivity()) emit silent();
}

void StatusMonitor::reopenTick() {
  if (connection_.keepOpen()) emit reopened();
}

void StatusMonitor::runOnOwnTimers() {
  watchdog_.start();
  reopen_.start();
}

}  // namespace zfuse
