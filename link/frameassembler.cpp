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
    host_.showActivityIndicator();
    host_.ausfuehren();
    frame_pos = 0;
    frame_buffer.clear();
  }
}

}  // namespace zfuse
