#include "monitor/statustelegram.h"

#include "link/frameassembler.h"

namespace zfuse {

void ModelFlags::set(uint8_t type) {
  if (!isModelType(type)) return;
  model_2ch_6a = type == kType2ch6A;
  model_2ch_10a = type == kType2ch10A;
  model_standard = type == kTypeStandard;
  model_4ch_10a = type == kType4ch10A;
  model_4ch_6a = type == kType4ch6A;
}

uint8_t xorBytes(const uint8_t* data, std::size_t first, std::size_t last) {
  uint8_t x = 0;
  for (std::size_t i = first; i <= last; ++i) x = static_cast<uint8_t>(x ^ data[i]);
  return x;
}

StatusCheck checkStatusTelegram(const std::vector<uint8_t>& frame) {
  if (frame.size() < kStatusMinLength) return StatusCheck::TooShort;
  if (frame[0] != FrameAssembler::kStartByte || !isModelType(frame[1])) {
    return StatusCheck::ForeignType;
  }
  if (xorBytes(frame.data(), 2, 27) != frame[28]) return StatusCheck::BadChecksum;
  return StatusCheck::Good;
}

namespace {
uint16_t word(const std::vector<uint8_t>& f, std::size_t hi) {
  return static_cast<uint16_t>(f[hi] << 8 | f[hi + 1]);
}
}  // namespace

StatusReading decodeStatusReading(const std::vector<uint8_t>& frame) {
  StatusReading r;
  r.type = frame[1];
  r.channelBits = frame[2];
  r.supplyBits = frame[3];
  for (std::size_t ch = 0; ch < 4; ++ch) {
    r.present[ch] = word(frame, 4 + 2 * ch);
    r.highest[ch] = word(frame, 12 + 2 * ch);
  }
  r.uin = word(frame, 20);
  r.uinMin = word(frame, 22);
  r.rated = {static_cast<uint8_t>(frame[24] & 0x0F), static_cast<uint8_t>(frame[24] >> 4),
             static_cast<uint8_t>(frame[25] & 0x0F), static_cast<uint8_t>(frame[25] >> 4)};
  return r;
}

}  // namespace zfuse
