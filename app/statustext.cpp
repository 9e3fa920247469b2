#include "app/statustext.h"

namespace zfuse {

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

StatusTexts statusTexts(const StatusReading& r) {
  StatusTexts t;
  for (std::size_t ch = 0; ch < 4; ++ch) {
    t.present[ch] = measurementText(r.present[ch], kUnitAmps);
    t.highest[ch] = measurementText(r.highest[ch], kUnitAmps);
    t.rated[ch] = ratedCurrentText(r.rated[ch]);
  }
  t.uin = measurementText(r.uin, kUnitVolts);
  t.uinMin = measurementText(r.uinMin, kUnitVolts);
  return t;
}

}  // namespace zfuse
