#include "config/parameterset.h"

#include "link/frameassembler.h"
#include "monitor/statustelegram.h"

namespace zfuse {

std::vector<ListEntry> currentEntries(int maxAmps) {
  std::vector<ListEntry> entries{{"OFF", 0}};
  for (int amps = 1; amps <= maxAmps; ++amps) entries.push_back({std::to_string(amps), amps});
  return entries;
}

int currentListMax(uint8_t model, int channel) {
  const ModelFacts* m = modelFacts(model);
  // Bytes that name no model get the smallest list.
  if (!m || channel < 0 || channel > 3) return 6;
  return m->currentListMax[static_cast<std::size_t>(channel)];
}

std::vector<ListEntry> thresholdEntries() {
  std::vector<ListEntry> entries;
  for (int i = 0; i < kThresholdCount; ++i) {
    const int tenths = kThresholdLowestTenths + i;
    entries.push_back({std::to_string(tenths / 10) + "," + std::to_string(tenths % 10), tenths});
  }
  return entries;
}

uint8_t thresholdTenthsAt(int index) {
  if (index < 0 || index >= kThresholdCount) return 0;
  return static_cast<uint8_t>(kThresholdLowestTenths + index);
}

ParameterSet standardFactorySet() {
  ParameterSet p;
  const int amps = modelFacts(kTypeStandard)->factoryAmps;
  p.current_index = {amps, amps, amps, amps};
  p.time_index = {0, 0, 0, 0};
  p.pgood_index = kFactoryThresholdIndex;
  p.port1_byte1 = 0x02;
  p.port1_byte2 = 0x80;
  p.port2_byte1 = 0x08;
  p.port2_byte2 = 0xC0;
  return p;
}

ZokxParameterSet zokxFactorySet(uint8_t model) {
  const ModelFacts* m = modelFacts(model);
  const int amps = m && m->fuseVariant ? m->factoryAmps : 6;
  ZokxParameterSet p;
  p.current_index = {amps, amps, amps, amps};
  p.pgood_index = kFactoryThresholdIndex;
  p.switch_off_index = kSwitchOffFallback;
  p.port1_byte1 = 0xAA;
  p.port1_byte2 = 0xC0;
  return p;
}

namespace {
// The position when the list of `count` entries has it, else no selection.
int positionIn(int position, int count) {
  return position >= 0 && position < count ? position : -1;
}
}  // namespace

ParameterSet applyFields(ParameterSet p, const StandardFields& f) {
  const int currents = static_cast<int>(currentEntries(currentListMax(kTypeStandard, 0)).size());
  for (std::size_t ch = 0; ch < 4; ++ch) {
    if (f.current[ch]) p.current_index[ch] = positionIn(*f.current[ch], currents);
  }
  if (f.pgood_index) p.pgood_index = positionIn(*f.pgood_index, kThresholdCount);
  std::array<int, 4> timeCount{};
  for (std::size_t ch = 0; ch < 4; ++ch) {
    timeCount[ch] = static_cast<int>(
        tripTimeEntries(f.timeListCurrent[ch].value_or(p.current_index[ch])).size());
    if (f.rebuildTimeLists) p.time_index[ch] = timeCount[ch] == 1 ? 0 : -1;
  }
  for (std::size_t ch = 0; ch < 4; ++ch) {
    if (f.time[ch]) p.time_index[ch] = positionIn(*f.time[ch], timeCount[ch]);
  }
  if (f.port1_byte1) p.port1_byte1 = *f.port1_byte1;
  if (f.port1_byte2) {
    p.port1_byte2 =
        static_cast<uint8_t>((*f.port1_byte2 & ~kReleaseAllBit) | (p.port1_byte2 & kReleaseAllBit));
  }
  if (f.port2_byte1) p.port2_byte1 = *f.port2_byte1;
  if (f.port2_byte2) p.port2_byte2 = *f.port2_byte2;
  return p;
}

ZokxParameterSet applyFields(ZokxParameterSet p, const ZokxFields& f, uint8_t model) {
  for (std::size_t ch = 0; ch < 4; ++ch) {
    if (f.current[ch]) {
      p.current_index[ch] = positionIn(*f.current[ch], currentListMax(model, int(ch)) + 1);
    }
  }
  if (f.pgood_index) p.pgood_index = positionIn(*f.pgood_index, kThresholdCount);
  if (f.switch_off_index) {
    p.switch_off_index = positionIn(*f.switch_off_index, static_cast<int>(kSwitchOffCount));
  }
  if (f.port1_byte1) p.port1_byte1 = *f.port1_byte1;
  if (f.port1_byte2) p.port1_byte2 = *f.port1_byte2;
  return p;
}

std::vector<std::string> tripTimeEntries(int currentIndex) {
  if (currentIndex <= 0) return {};
  if (currentIndex == 1) return {"0,1", "0,2", "0,5", "1,0", "1,5"};
  if (currentIndex == 2) return {"0,1", "0,2", "0,5"};
  if (currentIndex <= 4) return {"0,1", "0,2"};
  return {"0,1"};
}

int defaultTripTimeEntry(int currentIndex) {
  return static_cast<int>(tripTimeEntries(currentIndex).size()) - 1;
}

namespace {
// Both write telegrams: request lead and code, the packed currents, the threshold and the
// model's own fields, then 0xDD 0xEE and the XOR of everything after the request code.
std::vector<uint8_t> writeTelegram(const std::array<int, 4>& current, uint8_t thresholdTenths,
                                   std::initializer_list<uint8_t> fields) {
  std::vector<uint8_t> t;
  t.reserve(7 + fields.size());
  for (uint8_t b : {kRequestLead, kRequestWrite, packPositions(current[0], current[1]),
                    packPositions(current[2], current[3]), thresholdTenths}) {
    t.push_back(b);
  }
  for (uint8_t b : fields) t.push_back(b);
  t.push_back(kWriteTrailerA);
  t.push_back(kWriteTrailerB);
  t.push_back(xorBytes(t.data(), 2, t.size() - 1));
  return t;
}
}  // namespace

std::vector<uint8_t> encodeStandardWrite(const ParameterSet& p, uint8_t thresholdTenths) {
  auto timeEntry = [](int t) { return t > 0 ? t : 0; };
  return writeTelegram(p.current_index, thresholdTenths,
                       {p.port1_byte1, p.port1_byte2, p.port2_byte1, p.port2_byte2,
                        packPositions(timeEntry(p.time_index[0]), timeEntry(p.time_index[1])),
                        packPositions(timeEntry(p.time_index[2]), timeEntry(p.time_index[3]))});
}

std::optional<StandardReply> decodeStandardReply(const std::vector<uint8_t>& r) {
  if (r.size() < kStandardReplyMinLength || r[0] != FrameAssembler::kStartByte ||
      r[1] != kTypeStandard || xorBytes(r.data(), 2, 27) != r[28]) {
    return std::nullopt;
  }
  StandardReply d{};
  d.current = {r[2] & 0x0F, r[2] >> 4, r[3] & 0x0F, r[3] >> 4};
  d.time = {r[9] & 0x0F, r[9] >> 4, r[10] & 0x0F, r[10] >> 4};
  d.pgood_index = r[4] % 200;
  d.port1_byte1 = r[5];
  d.port1_byte2 = r[6];
  d.port2_byte1 = r[7];
  d.port2_byte2 = r[8];
  d.version.assign(r.begin() + 11, r.begin() + 15);
  return d;
}

StandardFields fieldsOf(const StandardReply& r) {
  StandardFields f;
  f.rebuildTimeLists = true;
  for (int ch = 0; ch < 4; ++ch) {
    f.current[ch] = r.current[ch];
    f.timeListCurrent[ch] = r.current[ch];
    f.time[ch] = r.time[ch];
  }
  f.pgood_index = r.pgood_index;
  f.port1_byte1 = r.port1_byte1;
  f.port1_byte2 = r.port1_byte2;
  f.port2_byte1 = r.port2_byte1;
  f.port2_byte2 = r.port2_byte2;
  return f;
}

const std::array<const char*, kSwitchOffCount> kSwitchOffEntries = {
    "0,1", "0,5", "1,0", "2,0", "5,0", "10,0", "50,0", "100,0", "600,0"};
const std::array<uint16_t, kSwitchOffCount> kSwitchOffCodes = {3,   19,   39,   79,   199,
                                                               399, 1999, 3999, 23999};

int switchOffIndexOfCode(uint16_t code) {
  // Compared as times, (code + 1) x 25 ms, as the device means them.
  const uint32_t ms = (uint32_t{code} + 1) * 25;
  for (std::size_t i = 0; i < kSwitchOffCount; ++i) {
    if ((uint32_t{kSwitchOffCodes[i]} + 1) * 25 == ms) return static_cast<int>(i);
  }
  return kSwitchOffFallback;
}

std::vector<uint8_t> encodeZokxWrite(const ZokxParameterSet& p, uint8_t thresholdTenths) {
  const uint16_t code =
      p.switch_off_index >= 0 && p.switch_off_index < static_cast<int>(kSwitchOffCount)
          ? kSwitchOffCodes[static_cast<std::size_t>(p.switch_off_index)]
          : 0;
  return writeTelegram(p.current_index, thresholdTenths,
                       {p.port1_byte1, p.port1_byte2, static_cast<uint8_t>(code >> 8),
                        static_cast<uint8_t>(code & 0xFF)});
}

std::optional<uint8_t> zokxReplyModel(const std::vector<uint8_t>& r) {
  if (r.size() < kZokxReplyMinLength || r[0] != FrameAssembler::kStartByte ||
      !isFuseVariant(r[1])) {
    return std::nullopt;
  }
  return r[1];
}

std::optional<ZokxReply> decodeZokxReply(const std::vector<uint8_t>& r) {
  const auto model = zokxReplyModel(r);
  if (!model || xorBytes(r.data(), 2, 25) != r[26]) return std::nullopt;
  ZokxReply d{};
  d.model = *model;
  d.current = {r[2] & 0x0F, r[2] >> 4, r[3] & 0x0F, r[3] >> 4};
  d.pgood_index = r[4] % 200;
  d.port1_byte1 = r[5];
  d.port1_byte2 = r[6];
  d.switch_off_index = switchOffIndexOfCode(static_cast<uint16_t>(r[7] << 8 | r[8]));
  d.version.assign(r.begin() + 9, r.begin() + 13);
  return d;
}

ZokxFields fieldsOf(const ZokxReply& r) {
  ZokxFields f;
  for (int ch = 0; ch < 4; ++ch) f.current[ch] = r.current[ch];
  f.pgood_index = r.pgood_index;
  f.switch_off_index = r.switch_off_index;
  f.port1_byte1 = r.port1_byte1;
  f.port1_byte2 = r.port1_byte2;
  return f;
}

}  // namespace zfuse
