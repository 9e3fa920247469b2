#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>

namespace zfuse {

constexpr uint8_t kType2ch6A = 0x11;
constexpr uint8_t kType2ch10A = 0x13;
constexpr uint8_t kTypeStandard = 0x15;
constexpr uint8_t kType4ch10A = 0x17;
constexpr uint8_t kType4ch6A = 0x19;

// What one fuse model is. Every part of the program that needs a fact about a model
// (its name, its channels, its currents, its telegrams) takes it from here.
struct ModelFacts {
  uint8_t type;       // the type byte of its status telegrams and configuration replies
  const char* name;   // short name on the command line, in files and in outputs
  const char* title;  // as the port doctor names it to the operator
  int channels;       // outputs the device has
  // The highest rated current of each channel's list in the configuration dialog (the
  // lists run from "OFF" through 1 A). The two-channel models keep lists for channels 3
  // and 4, up to 6 A, though the device has no such outputs.
  std::array<int, 4> currentListMax;
  bool fuseVariant;              // configured with the fuse-variant telegrams
  std::size_t replyLength;       // bytes of a complete configuration reply
  int factoryAmps;               // the rated current of every channel as delivered
  bool windowShowsBackChannels;  // the main window shows channels 3 and 4
};

// The standard model's current list ends at 8 A; it has four outputs, though the main
// window shows two of them.
inline constexpr std::array<ModelFacts, 5> kModels{{
    {kType4ch10A, "4ch10a", "4-channel 10 A", 4, {10, 10, 10, 10}, true, 27, 10, true},
    {kType4ch6A, "4ch6a", "4-channel 6 A", 4, {6, 6, 6, 6}, true, 27, 6, true},
    {kType2ch10A, "2ch10a", "2-channel 10 A", 2, {10, 10, 6, 6}, true, 27, 6, false},
    {kType2ch6A, "2ch6a", "2-channel 6 A", 2, {6, 6, 6, 6}, true, 27, 6, false},
    {kTypeStandard, "standard", "standard", 4, {8, 8, 8, 8}, false, 30, 8, false},
}};

// The facts of the model of that type byte; nullptr for a byte that names no model.
constexpr const ModelFacts* modelFacts(uint8_t type) {
  for (const ModelFacts& m : kModels) {
    if (m.type == type) return &m;
  }
  return nullptr;
}

constexpr bool isModelType(uint8_t type) {
  return modelFacts(type) != nullptr;
}
// Short name of a model: "4ch10a", "4ch6a", "2ch10a", "2ch6a", "standard"; "" for others.
constexpr const char* modelName(uint8_t type) {
  const ModelFacts* m = modelFacts(type);
  return m ? m->name : "";
}
// The type byte of a short model name; nullopt for an unknown name.
std::optional<uint8_t> modelOfName(const char* name);
// Channels the model has: 2 or 4 (the standard model has four); 0 for no model.
constexpr int channelCount(uint8_t type) {
  const ModelFacts* m = modelFacts(type);
  return m ? m->channels : 0;
}
// Whether the model is configured with the fuse-variant telegrams.
constexpr bool isFuseVariant(uint8_t type) {
  const ModelFacts* m = modelFacts(type);
  return m && m->fuseVariant;
}

}  // namespace zfuse
