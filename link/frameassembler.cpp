#include "link/frameassembler.h"

namespace zfuse {

void FrameAssembler::baue_string(uint8_t b) {
  rx_activity = true;

  if (frame_pos == 0) {
    frame_buffer.clear();
    if (b == kStartByte) {
      frame_buffer.push_back(b);
      frame_pos = 1;
    }
    return;
  }

  if (frame_pos == 1) {
    if (isTypeByte(b)) {
      frame_buffer.push_back(b);
      frame_pos = 2;
    } else {
      // Not examined as a new start byte: 0xE4 0xE4 0x11 starts no frame.
      frame_buffer.clear();
      frame_pos = 0;
    }
    return;
  }

  if (frame_pos >= kMaxFrame) {
    // Fifty bytes without an end pair: the frame and this byte are dropped.
    frame_buffer.clear();
    frame_pos = 0;
    return;
  }

  const bool endPair = (b == kEndByteA || b == kEndByteB) && frame_buffer.back() == kStartByte;
  frame_buffer.push_back(b);
  ++frame_pos;
  if (endPair) {
    // The state is idle again before the handler runs, so a handler that feeds more
    // bytes starts a fresh frame.
    std::vector<uint8_t> frame;
    frame.swap(frame_buffer);
    frame_pos = 0;
    onFrame_(frame);
  }
}

}  // namespace zfuse
