#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

namespace zfuse {

// The five time-outs of a serial port, in milliseconds. A read of N bytes ends when
// N bytes have arrived, when more than `readInterval` ms pass after a received byte
// without another one, or when `readTotalMultiplier` * N + `readTotalConstant` ms have
// passed since the read began, whichever comes first. A write gives up after
// `writeTotalMultiplier` * N + `writeTotalConstant` ms. Zero switches a limit off.
struct LineTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
};

// One serial port as the tool uses it: opened exclusively at 9600 baud, 8 data bits,
// no parity, one stop bit, raw bytes without flow control; synchronous reads and
// writes bounded by the time-outs. No call reports an error: a port that could not be
// opened reads nothing and writes nothing.
class SerialLine {
 public:
  virtual ~SerialLine() = default;
  virtual bool open(const QString& comName) = 0;
  virtual void setTimeouts(const LineTimeouts& timeouts) = 0;
  virtual qint64 write(const QByteArray& data) = 0;
  virtual QByteArray read(int maxBytes) = 0;
  // Drops whatever has arrived and not been read yet.
  virtual void clearInput() = 0;
  // Monitoring without waiting: from now until the port closes, every chunk of bytes
  // that arrives is handed to `onBytes` on the owning thread, in order, as soon as the
  // event loop sees it. The port never keeps more than kReadBufferBytes unread.
  virtual void watch(std::function<void(const QByteArray&)> onBytes) = 0;
  virtual void close() = 0;
  virtual bool isOpen() const = 0;
  // Whether the port name no longer leads to the device that is open: its link was
  // removed or points elsewhere now.
  virtual bool nameMoved() const { return false; }
};

// Bytes a port keeps unread at the most; a sender faster than the reader waits in the
// driver instead of filling memory.
constexpr qint64 kReadBufferBytes = 4096;

using SerialLineFactory = std::function<std::unique_ptr<SerialLine>()>;

// A serial line on the operating system's port of that name.
std::unique_ptr<SerialLine> makeSystemSerialLine();

}  // namespace zfuse
