#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace zfuse {

// Device-model flags: which fuse is on the line, one per status type byte.
// Exactly one is true; the program starts with the four-channel 10 A model. The main
// window keeps them from the telegrams it is shown; the dialogs read them.
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

// What a model is, by its type byte.
bool isModelType(uint8_t type);
// Short name of a model: "4ch10a", "4ch6a", "2ch10a", "2ch6a", "standard"; "" for others.
const char* modelName(uint8_t type);
// The type byte of a short model name; nullopt for an unknown name.
std::optional<uint8_t> modelOfName(const char* name);
// Channels the model has: 2 or 4 (the standard model has four).
int channelCount(uint8_t type);
// Whether the model is configured with the fuse-variant telegrams.
inline bool isFuseVariant(uint8_t type) {
  return isModelType(type) && type != kTypeStandard;
}

// Exclusive-or of bytes first..last (inclusive).
uint8_t xorBytes(const uint8_t* data, std::size_t first, std::size_t last);

constexpr std::size_t kStatusMinLength = 29;

// A status telegram with a good checksum, as numbers: currents in hundredths of an
// ampere, voltages in hundredths of a volt, rated currents in whole amperes (0: the
// channel is switched off). Which channels exist follows from the model.
struct StatusReading {
  uint8_t type = 0;
  uint8_t channelBits = 0;  // byte 2: warning/tripped bits of channels 1 to 4
  uint8_t supplyBits = 0;   // byte 3: bit 0 below power-good, bit 1 hardware fault
  std::array<uint16_t, 4> present{};
  std::array<uint16_t, 4> highest{};
  uint16_t uin = 0;
  uint16_t uinMin = 0;
  std::array<uint8_t, 4> rated{};

  bool warning(int channel) const { return channelBits & (1u << (2 * channel)); }
  bool tripped(int channel) const { return channelBits & (2u << (2 * channel)); }
  bool powerGoodLow() const { return supplyBits & 0x01; }
  bool hardwareFault() const { return supplyBits & 0x02; }
  int channels() const { return channelCount(type); }
  // The channel exists on this model and is switched on.
  bool channelOn(int channel) const { return channel < channels() && rated[channel] != 0; }

  bool operator==(const StatusReading&) const = default;
};

enum class StatusCheck { TooShort, ForeignType, BadChecksum, Good };

// Length, start and type byte, check byte (XOR of bytes 2 to 27 in byte 28).
StatusCheck checkStatusTelegram(const std::vector<uint8_t>& frame);
// The numbers of a telegram of at least 29 bytes (the check byte is not examined).
StatusReading decodeStatusReading(const std::vector<uint8_t>& frame);

}  // namespace zfuse
