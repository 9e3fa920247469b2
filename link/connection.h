#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/serialline.h"

namespace zfuse {

// Line settings of the monitoring connection: a 60-byte read would end 3 ms after the
// last byte or at the latest 60 x 1 + 60 = 120 ms after it began. The connection itself
// does not read that way: it takes the bytes as they arrive and never waits.
constexpr LineTimeouts kMonitorTimeouts{3, 1, 60, 1, 3};
// The ports the main window offers: COM1 ... COM11.
constexpr int kPortCount = 11;

// How often a port that is closed, lost or not yet there is tried again while it is
// being monitored.
constexpr int kReopenPeriodMs = 500;

// A monitoring connection, over which the device's status telegrams arrive. It only
// ever reads, and never waits for the line: every chunk of bytes goes to `onBytes` in
// order as soon as it arrives. A port that cannot be opened, or is lost (an adapter
// pulled, a hang-up), is tried again by name every half second from `keepOpen`, so the
// data comes back by itself when the device does; a port name that is a link means
// that link's device or nothing.
class PortConnection {
 public:
  explicit PortConnection(std::function<void(const QByteArray&)> onBytes,
                          SerialLineFactory factory = makeSystemSerialLine);

  // Opens the port of that name and keeps it open from now on.
  bool open(const QString& comName);
  // Closes the port and stops trying it.
  void close();
  // Tries the wanted port again when it is closed and the last try is half a second
  // old; every half second, closes an open port whose name leads elsewhere now (its link
  // removed or moved) and tries the name afresh. Returns true when it opened the port now.
  bool keepOpen();

  bool isOpen() const { return com_handle && com_handle->isOpen(); }
  // The port it monitors or tries to, "" when none.
  const QString& portName() const { return wanted_; }

  // The clock of the reopening, in milliseconds; tests may hand in their own.
  void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

 private:
  bool tryOpen();

  std::function<void(const QByteArray&)> onBytes_;
  SerialLineFactory factory_;
  std::unique_ptr<SerialLine> com_handle;
  QString wanted_;
  qint64 lastTry_ = 0;
  qint64 lastLook_ = 0;  // when the open port's name was last looked at
  std::function<qint64()> clock_;
};

// The main window's port choice: which of COM1 ... COM11 its monitoring connection
// follows. The window's port list drives it on every poll tick; the configuration
// dialogs exchange with the port it names.
class PortChoice {
 public:
  // `startPort` 1 ... 11: the port of the first open (COM1 for anything else).
  explicit PortChoice(PortConnection& connection, int startPort = 1);

  // The port chosen, "COM1" ... "COM11"; empty before the first open.
  QString com_name;
  // Number 1 ... 11 of the port `com_name` names.
  uint8_t com_number = 0;
  // Becomes true with the first open.
  bool com_opened_once = false;

  int startPort() const { return startPort_; }
  void setStartPort(int number);

  // Opens the port named `com_name` (the start port before the first open).
  void oeffnecom();
  // Closes the port (and stops trying it); the handle object stays.
  void schliessecom();
  // One poll tick: first open, re-open on a changed selection (`selectorIndex` 0 ... 10
  // of the port list), and a new try of a closed port every half second. The bytes
  // themselves come as they arrive, not on the tick.
  void pollTick(int selectorIndex);

 private:
  void select(int selectorIndex);

  PortConnection& connection_;
  int startPort_ = 1;
};

}  // namespace zfuse
