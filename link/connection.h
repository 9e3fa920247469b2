#pragma once

#include <QString>
#include <cstdint>
#include <functional>
#include <memory>

#include "link/serialline.h"

namespace zfuse {

// The port the operator chose, "COM1" ... "COM11". The configuration dialogs'
// command transaction opens the port of this name too.
extern QString com_name;
// Number 1 ... 11 of the port `com_name` names.
extern uint8_t com_number;
// Becomes true with the first open of the run.
extern bool com_opened_once;

// Resets the three to their state at program load.
void resetPortSelection();

// Line settings of the monitoring connection: a 60-byte read would end 3 ms after the
// last byte or at the latest 60 x 1 + 60 = 120 ms after it began. The connection itself
// does not read that way: it takes the bytes as they arrive and never waits.
constexpr QueueSizes kMonitorQueues{40, 40};
constexpr LineTimeouts kMonitorTimeouts{3, 1, 60, 1, 3};
constexpr int kMonitorReadBytes = 60;
constexpr int kPortCount = 11;

// The main window's serial connection, over which the device's status telegrams arrive.
// It only ever reads, and never waits for the line: every byte goes to `onByte` in
// order as soon as it arrives.
class PortConnection {
 public:
  explicit PortConnection(std::function<void(uint8_t)> onByte,
                          SerialLineFactory factory = makeSystemSerialLine);

  // Opens the port named `com_name` ("COM1" before the first open of the run).
  void oeffnecom();
  // Closes the port; the handle object stays.
  void schliessecom();
  // One poll tick: first open, re-open on a changed selection (`selectorIndex` 0 ... 10
  // of the port list). The bytes themselves come as they arrive, not on the tick.
  void pollTick(int selectorIndex);

  bool isOpen() const { return com_handle && com_handle->isOpen(); }

 private:
  std::function<void(uint8_t)> onByte_;
  SerialLineFactory factory_;
  std::unique_ptr<SerialLine> com_handle;
};

}  // namespace zfuse
