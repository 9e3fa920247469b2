#pragma once

#include <QObject>
#include <QTimer>

#include "link/connection.h"
#include "link/frameassembler.h"
#include "monitor/statustelegram.h"

namespace zfuse {

// The status path of one port: the monitoring connection hands the bytes to the frame
// assembler, each finished frame is checked and decoded, and what came of it goes out
// as signals to whoever shows, prints, records or publishes it. Nothing comes back.
//
//   serial line -> PortConnection -> FrameAssembler -> checkStatusTelegram /
//   decodeStatusReading -> frameCompleted, telegramSeen, statusDecoded, silent
class StatusMonitor : public QObject {
  Q_OBJECT

 public:
  static constexpr int kWatchdogPeriodMs = 1000;

  explicit StatusMonitor(SerialLineFactory factory = makeSystemSerialLine,
                         QObject* parent = nullptr);

  // The connection, for the port choice of its owner.
  PortConnection& connection() { return connection_; }
  const PortConnection& connection() const { return connection_; }

  // Received bytes, as the port hands them on; tests and measurements feed it directly.
  void feed(const QByteArray& bytes);
  void feed(const uint8_t* data, std::size_t size);

  // One look of the watchdog: `silent` when no byte at all arrived since the last look.
  void watchdogTick();
  // Runs the watchdog (every second) and the reopening of a lost port (every half
  // second) on timers of its own, for owners that have no ticks of their own.
  void runOnOwnTimers();

  // Telegrams of a known model whose check byte was wrong, since the start.
  quint64 badTelegrams() const { return badTelegrams_; }

 signals:
  // A frame was cut out of the stream, whatever the decoder makes of it.
  void frameCompleted();
  // A telegram of a known model arrived, good check byte or not.
  void telegramSeen(quint8 type);
  // A telegram with a good check byte, as numbers.
  void statusDecoded(const zfuse::StatusReading& reading);
  // A telegram of a known model with a wrong check byte.
  void badTelegram(quint8 type);
  // A whole second without a received byte.
  void silent();
  // The port was lost or not there, and has been opened again.
  void reopened();

 private:
  void onFrame(const std::vector<uint8_t>& frame);
  void reopenTick();

  FrameAssembler assembler_;
  PortConnection connection_;  // after the assembler: it hands bytes to it
  QTimer watchdog_;
  QTimer reopen_;
  quint64 badTelegrams_ = 0;
};

}  // namespace zfuse
Q_DECLARE_METATYPE(zfuse::StatusReading)
