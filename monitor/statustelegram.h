#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zfuse {

// Device-model flags: which fuse is on the line, one per status type byte.
// Exactly one is true; the program starts with the four-channel 10 A model.
extern bool model_2ch_6a;    // 0x11
extern bool model_2ch_10a;   // 0x13
extern bool model_standard;  // 0x15
extern bool model_4ch_10a;   // 0x17
extern bool model_4ch_6a;    // 0x19

constexpr uint8_t kType2ch6A = 0x11;
constexpr uint8_t kType2ch10A = 0x13;
constexpr uint8_t kTypeStandard = 0x15;
constexpr uint8_t kType4ch10A = 0x17;
constexpr uint8_t kType4ch6A = 0x19;

// The flags as the program sets them at start.
void resetModelFlags();
// Makes the flag of `type` true and the other four false; other bytes change nothing.
void setModelFlags(uint8_t type);
// Channels 3 and 4 are shown only for the four-channel fuse variants.
bool fourChannelModel();

// Exclusive-or of bytes first..last (inclusive).
uint8_t xorBytes(const uint8_t* data, std::size_t first, std::size_t last);

// Text of a 16-bit measurement in hundredths (amperes or volts), with a decimal comma
// and three significant digits, for example "1,23 Adc", "10,0 Adc", "24,0 Vdc".
// Values of 100 and above show their integer part ("100 Adc", "655 Vdc").
std::string measurementText(uint16_t raw, const char* unit);
// Rated current of a channel from its nibble: "6 Adc", or "Off" for 0.
std::string ratedCurrentText(uint8_t nibble);

constexpr const char* kUnitAmps = " Adc";
constexpr const char* kUnitVolts = " Vdc";
constexpr std::size_t kStatusMinLength = 29;

// The fields of a status telegram with a good checksum, as the main window shows them.
struct StatusValues {
  uint8_t channelBits = 0;  // byte 2: warning/tripped bits of channels 1 to 4
  uint8_t supplyBits = 0;   // byte 3: bit 0 below power-good, bit 1 hardware fault
  std::array<std::string, 4> present;
  std::array<std::string, 4> highest;
  std::string uin;
  std::string uinMin;
  std::array<std::string, 4> rated;
};

// What the decoder needs from the status display.
class StatusDisplay {
 public:
  virtual ~StatusDisplay() = default;
  // Marks the activity indicator for a telegram of a known model.
  virtual void startActivityBlink() = 0;
  // Shows the values of a telegram whose checksum is good.
  virtual void showStatus(const StatusValues& values) = 0;
};

enum class StatusCheck { TooShort, ForeignType, BadChecksum, Good };

StatusCheck checkStatusTelegram(const std::vector<uint8_t>& frame);
// Decodes a telegram of at least 29 bytes.
StatusValues decodeStatusValues(const std::vector<uint8_t>& frame);

// Decodes one frame: length and type tests, model flags, activity, checksum, display.
StatusCheck decodeStatusFrame(const std::vector<uint8_t>& frame, StatusDisplay& display);

}  // namespace zfuse
