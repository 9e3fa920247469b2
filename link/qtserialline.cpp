#include <QElapsedTimer>
#include <QSerialPort>
#include <algorithm>
#include <limits>

#include "link/portlock.h"
#include "link/portnames.h"
#include "link/serialline.h"

namespace zfuse {
namespace {

constexpr qint32 kBaudRate = 9600;
constexpr qint64 kNoLimit = std::numeric_limits<qint64>::max();
constexpr qint64 kLongestWait = 30000;  // a read without any limit waits in such steps

class QtSerialLine final : public SerialLine {
 public:
  bool open(const QString& comName) override {
    // The queue sizes are a recommendation to the driver; the operating systems Qt
    // runs on size their serial queues themselves, so the request has no effect here.
    port_.close();
    const QString device = systemPortPath(comName);
    if (device.isEmpty()) return false;  // where the port leads cannot be told
    name_ = comName;
    device_ = device;
    port_.setPortName(device);
    port_.setBaudRate(kBaudRate);
    port_.setDataBits(QSerialPort::Data8);
    port_.setParity(QSerialPort::NoParity);
    port_.setStopBits(QSerialPort::OneStop);
    // Without this a Linux tty keeps XON/XOFF on and swallows the type bytes 0x11/0x13.
    port_.setFlowControl(QSerialPort::NoFlowControl);
    port_.setReadBufferSize(kReadBufferBytes);
    // The lock is looked at first: a lock of a running program means busy, whatever
    // program wrote it, and a planted file that is no lock must not be opened at all.
    // Only the lock of a program that is gone is taken over.
    const PortLock lock = examinePortLock(device);
    if (lock.state == PortLock::Live || lock.state == PortLock::Invalid) return false;
    removeStaleLock(lock);
    // Exclusive: Qt takes the port's lock file (which holds for root too) and TIOCEXCL.
    if (!port_.open(QIODevice::ReadWrite)) return false;
    // A port opened afresh starts empty, so a reply starts with the device's first byte.
    port_.clear(QSerialPort::Input);
    return true;
  }

  void setTimeouts(const LineTimeouts& timeouts) override { timeouts_ = timeouts; }

  qint64 write(const QByteArray& data) override {
    if (!port_.isOpen() || data.isEmpty()) return 0;
    const qint64 limit =
        qint64(timeouts_.writeTotalMultiplier) * data.size() + timeouts_.writeTotalConstant;
    const qint64 queued = port_.write(data);
    if (queued < 0) {
      fail();
      return 0;
    }
    QElapsedTimer clock;
    clock.start();
    while (port_.bytesToWrite() > 0) {
      const qint64 left = limit > 0 ? limit - clock.elapsed() : kLongestWait;
      if (left <= 0 || !port_.waitForBytesWritten(int(left))) break;
    }
    if (hungUp()) return 0;
    return queued - port_.bytesToWrite();
  }

  QByteArray read(int maxBytes) override {
    QByteArray out;
    if (!port_.isOpen() || maxBytes <= 0) return out;
    const qint64 total =
        qint64(timeouts_.readTotalMultiplier) * maxBytes + timeouts_.readTotalConstant;
    QElapsedTimer clock;
    clock.start();
    qint64 lastByteAt = -1;
    for (;;) {
      if (port_.bytesAvailable() > 0) {
        out += port_.read(maxBytes - out.size());
        lastByteAt = clock.elapsed();
        if (out.size() >= maxBytes) break;
      }
      const qint64 now = clock.elapsed();
      qint64 wait = kNoLimit;
      if (total > 0) wait = total - now;
      if (lastByteAt >= 0 && timeouts_.readInterval > 0) {
        wait = std::min(wait, lastByteAt + timeouts_.readInterval - now);
      }
      if (wait <= 0) break;
      if (!port_.waitForReadyRead(int(std::min(wait, kLongestWait))) && hungUp()) break;
    }
    return out;
  }

  void clearInput() override {
    if (port_.isOpen()) port_.clear(QSerialPort::Input);
  }

  void watch(std::function<void(const QByteArray&)> onBytes) override {
    QObject::disconnect(readyRead_);
    QObject::disconnect(error_);
    onBytes_ = std::move(onBytes);
    readyRead_ = QObject::connect(&port_, &QSerialPort::readyRead, [this] {
      const QByteArray bytes = port_.readAll();
      if (!bytes.isEmpty() && onBytes_) onBytes_(bytes);
    });
    // A hung-up line reports its error once and is closed, not polled in a loop.
    error_ = QObject::connect(&port_, &QSerialPort::errorOccurred, [this] { hungUp(); });
  }

  void close() override {
    QObject::disconnect(readyRead_);
    QObject::disconnect(error_);
    port_.close();
  }
  bool isOpen() const override { return port_.isOpen(); }
  bool nameMoved() const override { return port_.isOpen() && systemPortPath(name_) != device_; }

 private:
  // A port whose far end is gone (adapter unplugged, pseudo-terminal closed) reports a
  // read or resource error on every call; it is closed and from then on reads nothing.
  bool hungUp() {
    const auto error = port_.error();
    if (error == QSerialPort::NoError || error == QSerialPort::TimeoutError) return false;
    fail();
    return true;
  }
  void fail() {
    QObject::disconnect(readyRead_);
    QObject::disconnect(error_);
    port_.clearError();
    port_.close();
  }

  QSerialPort port_;
  QString name_;    // the port name of the last open
  QString device_;  // the device it led to then
  LineTimeouts timeouts_;
  std::function<void(const QByteArray&)> onBytes_;
  QMetaObject::Connection readyRead_, error_;
};

}  // namespace

std::unique_ptr<SerialLine> makeSystemSerialLine() {
  return std::make_unique<QtSerialLine>();
}

}  // namespace zfuse
