#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "link/models.h"

namespace zfuse {

// A view of the model on the line as five flags, one per status type byte. The main
// window keeps one from the telegrams it is shown; its dialogs read it, and the
// fuse-variant dialog's read sets it from the reply. It starts at the four-channel 10 A
// model, as the program does.
struct ModelFlags {
  bool model_2ch_6a = false;    // 0x11
  bool model_2ch_10a = false;   // 0x13
  bool model_standard = false;  // 0x15
  bool model_4ch_10a = true;    // 0x17
  bool model_4ch_6a = false;    // 0x19

  // Makes the flag of `type` true and the other four false; other bytes change nothing.
  void set(uint8_t type);
  // Channels 3 and 4 are shown only for the four-channel fuse variants.
  bool fourChannelModel() const { return model_4ch_10a || model_4ch_6a; }
};

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
