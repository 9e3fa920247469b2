#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "link/models.h"

namespace zfuse {

// Cuts the status telegrams out of the byte stream of the service port:
// start byte 0xE4, a type byte of one of the five models, payload, end pair
// 0xE4 0x16 or 0xE4 0x18; at most 50 bytes. No escaping, no time-out inside a frame.
// Each finished frame is handed to the frame handler; the assembler keeps its buffer,
// position and activity flag to itself.
class FrameAssembler {
 public:
  static constexpr uint8_t kStartByte = 0xE4;
  static constexpr uint8_t kEndByteA = 0x16;
  static constexpr uint8_t kEndByteB = 0x18;
  static constexpr uint8_t kMaxFrame = 50;

  using FrameHandler = std::function<void(const std::vector<uint8_t>& frame)>;

  explicit FrameAssembler(FrameHandler onFrame) : onFrame_(std::move(onFrame)) {}

  // Takes one received byte.
  void baue_string(uint8_t b);
  void feed(const uint8_t* data, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) baue_string(data[i]);
  }

  static bool isTypeByte(uint8_t b) { return isModelType(b); }

  // Bytes of the frame being assembled so far, also the assembler's state: 0 idle,
  // 1 start byte seen, 2 ... 50 collecting.
  uint8_t position() const { return frame_pos; }
  // Whether any byte, kept or dropped, arrived since the last call; clears the flag.
  bool takeActivity() {
    const bool seen = rx_activity;
    rx_activity = false;
    return seen;
  }

 private:
  FrameHandler onFrame_;
  std::vector<uint8_t> frame_buffer;  // the frame being assembled, start byte first
  uint8_t frame_pos = 0;
  bool rx_activity = false;  // a byte arrived since the watchdog last looked
};

}  // namespace zfuse
