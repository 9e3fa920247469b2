#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "monitor/statustelegram.h"

namespace zfuse {

// Text of a 16-bit measurement in hundredths (amperes or volts), with a decimal comma
// and three significant digits, for example "1,23 Adc", "10,0 Adc", "24,0 Vdc".
// Values of 100 and above show their integer part ("100 Adc", "655 Vdc").
std::string measurementText(uint16_t raw, const char* unit);
// Rated current of a channel from its nibble: "6 Adc", or "Off" for 0.
std::string ratedCurrentText(uint8_t nibble);

constexpr const char* kUnitAmps = " Adc";
constexpr const char* kUnitVolts = " Vdc";

// A status reading as the main window shows it.
struct StatusTexts {
  std::array<std::string, 4> present;
  std::array<std::string, 4> highest;
  std::string uin;
  std::string uinMin;
  std::array<std::string, 4> rated;
};
StatusTexts statusTexts(const StatusReading& reading);

}  // namespace zfuse
