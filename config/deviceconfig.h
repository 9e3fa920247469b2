#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "config/configfile.h"
#include "config/parameterset.h"

namespace zfuse {

// The configuration of one device, whatever its model: the parameter set of the
// standard model or of a fuse variant (the other stays empty), and the device's
// version characters where it came from a reply.
struct DeviceConfiguration {
  uint8_t model = 0;
  ParameterSet standard;
  ZokxParameterSet zokx;
  std::string version;

  bool isStandard() const;
  // Equal settings; the version and the release bit are not settings.
  bool sameSettings(const DeviceConfiguration& other) const;
};

// A complete configuration reply with every test passed, as the dialog of its model
// would show it; nullopt otherwise.
std::optional<DeviceConfiguration> configurationOfReply(const std::vector<uint8_t>& reply);

// The write telegram and the configuration file of what a configuration holds.
std::vector<uint8_t> writeTelegramOf(const DeviceConfiguration& config);
std::string fileTextOf(const DeviceConfiguration& config);

// A list of a model's dialog that the configuration leaves without a selection, by the
// field's name ("channel 3 current", "power-good threshold", ...); empty when every
// list has one. A write or a save needs every list set.
std::vector<std::string> unsetFields(const DeviceConfiguration& config);

// What a configuration file means for a device of a given model.
struct FileVerdict {
  enum Result {
    Good,
    Rejected,      // the examiner's check `check` failed, or a number would not convert
    OtherVariant,  // a file of the other dialog: standard against fuse variant
    NotOffered,    // a setting the model's lists do not offer, or a list left unset
  };
  Result result = Rejected;
  DeviceConfiguration config;
  int check = 0;
  std::optional<std::string> badNumber;
  std::vector<std::string> reasons;  // for NotOffered: each setting that does not fit
};
FileVerdict examineFileFor(const FileLines& lines, uint8_t model);

// Every setting of a configuration, field by field in the dialog's order, each as the
// dialog shows it ("channel 1 current" "8 A", ...); the release bit is left out.
std::vector<std::pair<std::string, std::string>> settingTexts(const DeviceConfiguration& config);

// A setting in which two configurations differ, each side as the dialog shows it.
struct Difference {
  std::string field;
  std::string wanted;
  std::string found;
  bool operator==(const Difference&) const = default;
};
// Field by field, in the dialog's order; the release bit is never compared.
std::vector<Difference> differences(const DeviceConfiguration& wanted,
                                    const DeviceConfiguration& found);

// Settings as the lists show them: "OFF" or "8 A", "21,4 V", "0,1 s", "100,0 s",
// event bytes as two hex digits; "none" for no selection.
std::string currentText(int index);
std::string thresholdText(int index);
std::string tripTimeText(int currentIndex, int timeIndex);
std::string switchOffText(int index);

}  // namespace zfuse
