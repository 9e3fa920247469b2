#pragma once
// Configurations for the command-line tests: one per model that differs from the
// factory's in every field, and the settings bytes a simulated fuse holds for it.

#include <cstdint>
#include <vector>

#include "config/deviceconfig.h"
#include "monitor/statustelegram.h"

namespace zfuse::test {

inline DeviceConfiguration unusual(uint8_t model) {
  DeviceConfiguration c;
  c.model = model;
  if (model == kTypeStandard) {
    c.standard.current_index = {1, 2, 0, 5};
    c.standard.time_index = {3, 1, -1, 0};
    c.standard.pgood_index = 5;
    c.standard.port1_byte1 = 0x5A;
    c.standard.port1_byte2 = 0x83;
    c.standard.port2_byte1 = 0xA5;
    c.standard.port2_byte2 = 0x41;
  } else {
    c.zokx.current_index = {model == kType4ch10A || model == kType2ch10A ? 9 : 6, 3, 0, 1};
    c.zokx.pgood_index = 40;
    c.zokx.switch_off_index = 2;
    c.zokx.port1_byte1 = 0x55;
    c.zokx.port1_byte2 = 0x41;
  }
  return c;
}

// The settings as a simulated fuse keeps them: the write telegram without its frame.
inline std::vector<uint8_t> settingsOf(const DeviceConfiguration& c) {
  const auto telegram = writeTelegramOf(c);
  return {telegram.begin() + 2, telegram.end() - 3};
}

}  // namespace zfuse::test
