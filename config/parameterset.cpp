#include "config/parameterset.h"

#include "monitor/statustelegram.h"

namespace zfuse {

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

std::vector<uint8_t> encodeStandardWrite(const ParameterSet& p, uint8_t thresholdTenths) {
  auto timeEntry = [](int t) { return t > 0 ? t : 0; };
  std::vector<uint8_t> t(kStandardWriteLength);
  t[0] = kRequestLead;
  t[1] = kRequestWrite;
  t[2] = packPositions(p.current_index[0], p.current_index[1]);
  t[3] = packPositions(p.current_index[2], p.current_index[3]);
  t[4] = thresholdTenths;
  t[5] = p.port1_byte1;
  t[6] = p.port1_byte2;
  t[7] = p.port2_byte1;
  t[8] = p.port2_byte2;
  t[9] = packPositions(timeEntry(p.time_index[0]), timeEntry(p.time_index[1]));
  t[10] = packPositions(timeEntry(p.time_index[2]), timeEntry(p.time_index[3]));
  t[11] = kWriteTrailerA;
  t[12] = kWriteTrailerB;
  t[13] = xorBytes(t.data(), 2, 12);
  return t;
}

std::optional<StandardReply> decodeStandardReply(const std::vector<uint8_t>& r) {
  if (r.size() < kStandardReplyMinLength || r[0] != 0xE4 || r[1] != kTypeStandard ||
      xorBytes(r.data(), 2, 27) != r[28]) {
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

}  // namespace zfuse
