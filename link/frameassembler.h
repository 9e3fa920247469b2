#pragma once

#include <cstdint>
#include <vector>

namespace zfuse {

// What the assembler needs from its window: the port selector gives way to the
// activity indicator on every complete frame, and the frame goes to the decoder.
class FrameAssemblerHost {
 public:
  virtual ~FrameAssemblerHost() = default;
  // Hides the port selector `comport` and shows the activity indicator `a`.
  virtual void showActivityIndicator() = 0;
  // Decodes the frame waiting in the assembler's `frame_buffer`.
  virtual void ausfuehren() = 0;
};

// Cuts the status telegrams out of the byte stream of the service port:
// start byte 0xE4, a type byte of one of the five models, payload, end pair
// 0xE4 0x16 or 0xE4 0x18; at most 50 bytes. No escaping, no time-out inside a frame.
class FrameAssembler {
 public:
  static constexpr uint8_t kStartByte = 0xE4;
  static constexpr uint8_t kEndByteA = 0x16;
  static constexpr uint8_t kEndByteB = 0x18;
  static constexpr uint8_t kMaxFrame = 50;

  explicit FrameAssembler(FrameAssemblerHost& host) : host_(host) {}

  // Takes one received byte.
  void baue_string(uint8_t b);

  static bool isTypeByte(uint8_t b) {
    return b == 0x11 || b == 0x13 || b == 0x15 || b == 0x17 || b == 0x19;
  }

  std::vector<uint8_t> frame_buffer;  // the frame being assembled, start byte first
  uint8_t frame_pos = 0;              // bytes stored so far, also the assembler's state
  bool rx_activity = false;           // a byte arrived since the watchdog last looked

 private:
  FrameAssemblerHost& host_;
};

}  // namespace zfuse
