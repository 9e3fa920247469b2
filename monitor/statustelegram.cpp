#include "monitor/statustelegram.h"

#include "link/frameassembler.h"

namespace zfuse {

bool model_2ch_6a = false;
bool model_2ch_10a = false;
bool model_standard = false;
bool model_4ch_10a = false;
bool model_4ch_6a = false;

void resetModelFlags() {
  model_2ch_6a = false;
  model_2ch_10a = false;
  model_standard = false;
  model_4ch_10a = true;
  model_4ch_6a = false;
}

void setModelFlags(uint8_t type) {
  if (!FrameAssembler::isTypeByte(type)) return;
  model_2ch_6a = type == kType2ch6A;
  model_2ch_10a = type == kType2ch10A;
  model_standard = type == kTypeStandard;
  model_4ch_10a = type == kType4ch10A;
  model_4ch_6a = type == kType4ch6A;
}

bool fourChannelModel() {
  return model_4ch_10a || model_4ch_6a;
}

uint8_t xorBytes(const uint8_t* data, std::size_t first, std::size_t last) {
  uint8_t x = 0;
  for (std::size_t i = first; i <= last; ++i) x = static_cast<uint8_t>(x ^ data[i]);
  return x;
}

std::string measurementText(uint16_t raw, const char* unit) {
  const unsigned whole = raw / 100u;
  const unsigned hundredths = raw % 100u;
  if (whole >= 100) {
    // The three-digit rule has no room for a fourth digit: show the whole part.
    return std::to_string(whole) + unit;
  }
  // Shortest decimal form with a decimal comma: "0", "0,5", "1,23", "12", "12,34".
  std::string base = std::to_string(whole);
  if (hundredths != 0) {
    base += ',';
    base += static_cast<char>('0' + hundredths / 10);
    if (hundredths % 10 != 0) base += static_cast<char>('0' + hundredths % 10);
  }
  switch (base.size()) {
    case 1:
      return base + ",00" + unit;
    case 2:
      return base + ",0" + unit;
    case 3:
      return base + "0" + unit;
    case 4:
      return base + unit;
    default:  // "12,34": the last digit is cut off, not rounded
      return base.substr(0, 4) + unit;
  }
}

std::string ratedCurrentText(uint8_t nibble) {
  if (nibble == 0) return "Off";
  return std::to_string(nibble) + kUnitAmps;
}

StatusCheck checkStatusTelegram(const std::vector<uint8_t>& frame) {
  if (frame.size() < kStatusMinLength) return StatusCheck::TooShort;
  if (frame[0] != FrameAssembler::kStartByte || !FrameAssembler::isTypeByte(frame[1])) {
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

StatusValues decodeStatusValues(const std::vector<uint8_t>& frame) {
  StatusValues v;
  v.channelBits = frame[2];
  v.supplyBits = frame[3];
  for (std::size_t ch = 0; ch < 4; ++ch) {
    v.present[ch] = measurementText(word(frame, 4 + 2 * ch), kUnitAmps);
    v.highest[ch] = measurementText(word(frame, 12 + 2 * ch), kUnitAmps);
  }
  v.uin = measurementText(word(frame, 20), kUnitVolts);
  v.uinMin = measurementText(word(frame, 22), kUnitVolts);
  v.rated[0] = ratedCurrentText(frame[24] & 0x0F);
  v.rated[1] = ratedCurrentText(frame[24] >> 4);
  v.rated[2] = ratedCurrentText(frame[25] & 0x0F);
  v.rated[3] = ratedCurrentText(frame[25] >> 4);
  return v;
}

StatusCheck decodeStatusFrame(const std::vector<uint8_t>& frame, StatusDisplay& display) {
  const StatusCheck check = checkStatusTelegram(frame);
  if (check == StatusCheck::TooShort || check == StatusCheck::ForeignType) return check;
  // The flags and the blink follow every telegram of a known model, good checksum or not.
  setModelFlags(frame[1]);
  display.startActivityBlink();
  if (check == StatusCheck::Good) display.showStatus(decodeStatusValues(frame));
  return check;
}

}  // namespace zfuse
