#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "link/models.h"

namespace zfuse {

// Request lead byte and the two request codes of the configuration telegrams.
constexpr uint8_t kRequestLead = 0xFF;
constexpr uint8_t kRequestRead = 0xFC;
constexpr uint8_t kRequestWrite = 0xF3;
constexpr uint8_t kWriteTrailerA = 0xDD;
constexpr uint8_t kWriteTrailerB = 0xEE;

// One byte holding two list positions of 0 to 15: high nibble channel 2 (or 4),
// low nibble channel 1 (or 3).
inline uint8_t packPositions(int low, int high) {
  return static_cast<uint8_t>(((high & 0x0F) << 4) | (low & 0x0F));
}

// One entry of a selection list: the text it shows and the value it stands for.
struct ListEntry {
  std::string text;
  int value;
};

// The rated-current lists: "OFF" (0) and 1 to `maxAmps` amperes; the position of an
// entry is its value.
std::vector<ListEntry> currentEntries(int maxAmps);
// The highest rated current the dialog's list offers on `channel` (0 to 3) of `model`:
// 8 A on the standard model, 10 A or 6 A on the fuse variants; channels 3 and 4 of the
// two-channel models keep lists up to 6 A, though the device has no such outputs.
int currentListMax(uint8_t model, int channel);

// The power-good threshold list: "20,0" to "24,0" V in steps of 0,1 V, each valued in
// tenths of a volt.
constexpr int kThresholdCount = 41;
constexpr int kThresholdLowestTenths = 200;
std::vector<ListEntry> thresholdEntries();
// The threshold of list position `index` in tenths of a volt; 0 for no selection.
uint8_t thresholdTenthsAt(int index);

// Trip-time list of a standard-model channel, from its rated-current position:
// the smaller the current, the longer the times on offer.
std::vector<std::string> tripTimeEntries(int currentIndex);
// The entry selected when the operator changes the current; -1 for an empty list.
int defaultTripTimeEntry(int currentIndex);

// The configuration of a standard-model device as its dialog shows it: the selected
// positions of the lists (-1 = nothing selected) and the event bytes of both ports.
struct ParameterSet {
  std::array<int, 4> current_index{-1, -1, -1, -1};
  std::array<int, 4> time_index{-1, -1, -1, -1};
  int pgood_index = -1;
  uint8_t port1_byte1 = 0;
  uint8_t port1_byte2 = 0;
  uint8_t port2_byte1 = 0;
  uint8_t port2_byte2 = 0;

  bool operator==(const ParameterSet&) const = default;
};

// What a standard-model device leaves the factory with, and what the dialog's default
// button sets: 8 A and 0,1 s on every channel, 21,4 V, port 1 on channel 1 tripped and
// inverted, port 2 on channel 2 tripped, inverted, and programming allowed.
ParameterSet standardFactorySet();
constexpr int kFactoryThresholdIndex = 14;  // "21,4" V

constexpr std::size_t kStandardWriteLength = 14;
constexpr std::size_t kStandardReplyMinLength = modelFacts(kTypeStandard)->replyLength;

// The 14-byte write telegram. `thresholdTenths` is the selected threshold in tenths of
// a volt (200 ... 240). A time position of 0 or none is sent as 0.
std::vector<uint8_t> encodeStandardWrite(const ParameterSet& p, uint8_t thresholdTenths);

// A standard-model configuration reply, decoded. Positions are the raw nibbles and the
// threshold remainder; positions a list does not have are the caller's to reject.
struct StandardReply {
  std::array<int, 4> current;
  std::array<int, 4> time;
  int pgood_index;
  uint8_t port1_byte1, port1_byte2, port2_byte1, port2_byte2;
  std::string version;  // the four version bytes, one character each
};

// Checks length (30 bytes or more), start byte 0xE4, type 0x15 and the check byte
// (XOR of bytes 2 to 27 in byte 28); nullopt when any test fails.
std::optional<StandardReply> decodeStandardReply(const std::vector<uint8_t>& reply);

// What a configuration reply or a configuration file sets in the standard dialog. Each
// field is applied only when present; positions a list does not have leave it without
// a selection.
struct StandardFields {
  std::array<std::optional<int>, 4> current;
  std::optional<int> pgood_index;
  // The time lists are emptied and refilled, each for the current given here or, where
  // none is given, for the current its channel's list shows.
  bool rebuildTimeLists = false;
  std::array<std::optional<int>, 4> timeListCurrent;
  std::array<std::optional<int>, 4> time;
  std::optional<uint8_t> port1_byte1, port1_byte2, port2_byte1, port2_byte2;
};
StandardFields fieldsOf(const StandardReply& reply);
// Applies fields from a reply or a file to a set as the dialog applies them to its
// lists: a position the list lacks leaves no selection; the time lists are rebuilt for
// their currents, where a single time is the selection; "release all tripped channels"
// (0x40 of port 1's second event byte) is never taken over.
ParameterSet applyFields(ParameterSet set, const StandardFields& fields);

// ---- Fuse-variant models: one signalling output, one switch-off time per device. ----

// The configuration of a fuse-variant device as its dialog shows it.
struct ZokxParameterSet {
  std::array<int, 4> current_index{-1, -1, -1, -1};
  int pgood_index = -1;
  int switch_off_index = -1;
  uint8_t port1_byte1 = 0;
  uint8_t port1_byte2 = 0;  // 0x01, 0x02, 0x40 output inverted, 0x80 programming allowed

  bool operator==(const ZokxParameterSet&) const = default;
};

// The fuse variants' factory set: 10 A on every channel for the four-channel 10 A
// model and 6 A for the others, 21,4 V, every trip signalled, output inverted,
// programming allowed, switch-off after 100 s.
ZokxParameterSet zokxFactorySet(uint8_t model);

constexpr std::size_t kZokxWriteLength = 12;
constexpr std::size_t kZokxReplyMinLength = modelFacts(kType4ch10A)->replyLength;

// The switch-off times on offer ("0,1" ... "600,0" s) and the code the telegrams carry
// for each: the time in milliseconds divided by 25, less 1.
constexpr std::size_t kSwitchOffCount = 9;
extern const std::array<const char*, kSwitchOffCount> kSwitchOffEntries;
extern const std::array<uint16_t, kSwitchOffCount> kSwitchOffCodes;
// The entry whose time a code stands for; a time not on offer gives entry 7 ("100,0").
int switchOffIndexOfCode(uint16_t code);
constexpr int kSwitchOffFallback = 7;

// The 12-byte write telegram; `thresholdTenths` as for the standard model. A switch-off
// time without a selection is sent as code 0.
std::vector<uint8_t> encodeZokxWrite(const ZokxParameterSet& p, uint8_t thresholdTenths);

// The model a fuse-variant reply names: nullopt unless it has 27 bytes or more, start
// byte 0xE4 and one of the four fuse-variant type bytes. The check byte is not examined.
std::optional<uint8_t> zokxReplyModel(const std::vector<uint8_t>& reply);

struct ZokxReply {
  uint8_t model;
  std::array<int, 4> current;
  int pgood_index;
  uint8_t port1_byte1, port1_byte2;
  int switch_off_index;
  std::string version;
};
// A fuse-variant reply with every test passed, check byte (XOR of bytes 2 to 25 in
// byte 26) included; nullopt otherwise.
std::optional<ZokxReply> decodeZokxReply(const std::vector<uint8_t>& reply);

// What a configuration reply or a configuration file sets in the fuse-variant dialog.
struct ZokxFields {
  std::array<std::optional<int>, 4> current;
  std::optional<int> pgood_index;
  std::optional<int> switch_off_index;
  std::optional<uint8_t> port1_byte1, port1_byte2;
};
ZokxFields fieldsOf(const ZokxReply& reply);
// Applies fields to a set of `model` as the fuse-variant dialog applies them to its lists.
ZokxParameterSet applyFields(ZokxParameterSet set, const ZokxFields& fields, uint8_t model);

// The release bit of the standard model: part of a write, never of a comparison.
constexpr uint8_t kReleaseAllBit = 0x40;

}  // namespace zfuse
