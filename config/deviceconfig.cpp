#include "config/deviceconfig.h"

#include <cstdio>

#include "monitor/statustelegram.h"

namespace zfuse {

bool DeviceConfiguration::isStandard() const {
  return model == kTypeStandard;
}

namespace {
ParameterSet comparable(ParameterSet p) {
  p.port1_byte2 &= static_cast<uint8_t>(~kReleaseAllBit);
  return p;
}

std::string hex(uint8_t b) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", b);
  return text;
}

std::string channelField(std::size_t ch, const char* what) {
  return "channel " + std::to_string(ch + 1) + " " + what;
}
}  // namespace

bool DeviceConfiguration::sameSettings(const DeviceConfiguration& o) const {
  if (model != o.model) return false;
  return isStandard() ? comparable(standard) == comparable(o.standard) : zokx == o.zokx;
}

std::optional<DeviceConfiguration> configurationOfReply(const std::vector<uint8_t>& reply) {
  DeviceConfiguration c;
  if (const auto s = decodeStandardReply(reply)) {
    c.model = kTypeStandard;
    c.standard = applyFields(ParameterSet{}, fieldsOf(*s));
    c.version = s->version;
    return c;
  }
  if (const auto z = decodeZokxReply(reply)) {
    c.model = z->model;
    c.zokx = applyFields(ZokxParameterSet{}, fieldsOf(*z), z->model);
    c.version = z->version;
    return c;
  }
  return std::nullopt;
}

std::vector<uint8_t> writeTelegramOf(const DeviceConfiguration& c) {
  return c.isStandard() ? encodeStandardWrite(c.standard, thresholdTenthsAt(c.standard.pgood_index))
                        : encodeZokxWrite(c.zokx, thresholdTenthsAt(c.zokx.pgood_index));
}

std::string fileTextOf(const DeviceConfiguration& c) {
  return c.isStandard() ? standardFileText(c.standard, thresholdTenthsAt(c.standard.pgood_index))
                        : zokxFileText(c.zokx, thresholdTenthsAt(c.zokx.pgood_index));
}

std::vector<std::string> unsetFields(const DeviceConfiguration& c) {
  std::vector<std::string> unset;
  const std::array<int, 4>& current =
      c.isStandard() ? c.standard.current_index : c.zokx.current_index;
  for (std::size_t ch = 0; ch < 4; ++ch) {
    if (current[ch] < 0) unset.push_back(channelField(ch, "current"));
  }
  if (c.isStandard()) {
    // A time list that has entries needs one chosen; the dialog sends none as 0,1 s.
    for (std::size_t ch = 0; ch < 4; ++ch) {
      if (c.standard.time_index[ch] < 0 && !tripTimeEntries(current[ch]).empty()) {
        unset.push_back(channelField(ch, "trip time"));
      }
    }
  } else if (c.zokx.switch_off_index < 0) {
    unset.push_back("switch-off time");
  }
  if ((c.isStandard() ? c.standard.pgood_index : c.zokx.pgood_index) < 0) {
    unset.push_back("power-good threshold");
  }
  return unset;
}

FileVerdict examineFileFor(const FileLines& lines, uint8_t model) {
  FileVerdict v;
  v.config.model = model;
  const bool standard = model == kTypeStandard;
  // The examiner of the device's own dialog decides; the other one only tells a file of
  // the other variant from a broken one.
  const auto otherPasses = [&] {
    return standard
               ? examineZokxFile(lines).check == 0 && !examineZokxFile(lines).badNumber
               : examineStandardFile(lines).check == 0 && !examineStandardFile(lines).badNumber;
  };
  std::array<std::optional<int>, 4> currents;
  if (standard) {
    const auto e = examineStandardFile(lines);
    v.check = e.check;
    v.badNumber = e.badNumber;
    currents = e.fields.current;
    v.config.standard = applyFields(ParameterSet{}, e.fields);
  } else {
    const auto e = examineZokxFile(lines);
    v.check = e.check;
    v.badNumber = e.badNumber;
    currents = e.fields.current;
    v.config.zokx = applyFields(ZokxParameterSet{}, e.fields, model);
  }
  if (v.check != 0 || v.badNumber) {
    v.result = otherPasses() ? FileVerdict::OtherVariant : FileVerdict::Rejected;
    return v;
  }
  for (std::size_t ch = 0; ch < 4; ++ch) {
    const int highest = currentListMax(model, static_cast<int>(ch));
    if (currents[ch] && *currents[ch] > highest) {
      v.reasons.push_back(channelField(ch, "current") + " " + std::to_string(*currents[ch]) +
                          " A: the " + modelName(model) + " model offers up to " +
                          std::to_string(highest) + " A");
    }
  }
  for (const std::string& field : unsetFields(v.config)) {
    // Currents beyond the list were named above already.
    bool named = false;
    for (const std::string& r : v.reasons) named |= r.rfind(field, 0) == 0;
    if (!named) v.reasons.push_back(field + ": not a setting the list offers");
  }
  v.result = v.reasons.empty() ? FileVerdict::Good : FileVerdict::NotOffered;
  return v;
}

std::string currentText(int index) {
  if (index < 0) return "none";
  return index == 0 ? "OFF" : std::to_string(index) + " A";
}

std::string thresholdText(int index) {
  if (index < 0 || index >= kThresholdCount) return "none";
  return thresholdEntries()[static_cast<std::size_t>(index)].text + " V";
}

std::string tripTimeText(int currentIndex, int timeIndex) {
  const auto entries = tripTimeEntries(currentIndex);
  if (timeIndex < 0 || timeIndex >= static_cast<int>(entries.size())) return "none";
  return entries[static_cast<std::size_t>(timeIndex)] + " s";
}

std::string switchOffText(int index) {
  if (index < 0 || index >= static_cast<int>(kSwitchOffCount)) return "none";
  return std::string(kSwitchOffEntries[static_cast<std::size_t>(index)]) + " s";
}

std::vector<std::pair<std::string, std::string>> settingTexts(const DeviceConfiguration& c) {
  std::vector<std::pair<std::string, std::string>> s;
  if (c.isStandard()) {
    const ParameterSet a = comparable(c.standard);
    for (std::size_t ch = 0; ch < 4; ++ch) {
      s.emplace_back(channelField(ch, "current"), currentText(a.current_index[ch]));
      s.emplace_back(channelField(ch, "trip time"),
                     tripTimeText(a.current_index[ch], a.time_index[ch]));
    }
    s.emplace_back("power-good threshold", thresholdText(a.pgood_index));
    s.emplace_back("port 1 events, byte 1", hex(a.port1_byte1));
    s.emplace_back("port 1 events, byte 2", hex(a.port1_byte2));
    s.emplace_back("port 2 events, byte 1", hex(a.port2_byte1));
    s.emplace_back("port 2 events, byte 2", hex(a.port2_byte2));
  } else {
    const ZokxParameterSet& a = c.zokx;
    for (std::size_t ch = 0; ch < 4; ++ch) {
      s.emplace_back(channelField(ch, "current"), currentText(a.current_index[ch]));
    }
    s.emplace_back("power-good threshold", thresholdText(a.pgood_index));
    s.emplace_back("switch-off time", switchOffText(a.switch_off_index));
    s.emplace_back("events, byte 1", hex(a.port1_byte1));
    s.emplace_back("events, byte 2", hex(a.port1_byte2));
  }
  return s;
}

std::vector<Difference> differences(const DeviceConfiguration& w, const DeviceConfiguration& f) {
  std::vector<Difference> d;
  if (w.model != f.model) {
    d.push_back({"model", modelName(w.model), modelName(f.model)});
    return d;
  }
  const auto wanted = settingTexts(w);
  const auto found = settingTexts(f);
  for (std::size_t i = 0; i < wanted.size(); ++i) {
    if (wanted[i].second != found[i].second) {
      d.push_back({wanted[i].first, wanted[i].second, found[i].second});
    }
  }
  return d;
}

}  // namespace zfuse
