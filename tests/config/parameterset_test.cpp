#include "config/parameterset.h"

#include <gtest/gtest.h>

#include "monitor/statustelegram.h"

namespace zfuse {
namespace {

TEST(StandardWriteTelegram, EncodesByteForByte) {
  const ParameterSet defaults = standardFactorySet();

  ParameterSet mixed;  // 1 A / 1,5 s, OFF, 8 A / 0,1 s twice, 20,0 V, no events
  mixed.current_index = {1, 0, 8, 8};
  mixed.time_index = {4, -1, 0, 0};
  mixed.pgood_index = 0;

  const struct {
    const ParameterSet& set;
    uint8_t tenths;
    std::vector<uint8_t> telegram;
  } cases[] = {
      {defaults,
       214,
       {0xFF, 0xF3, 0x88, 0x88, 0xD6, 0x02, 0x80, 0x08, 0xC0, 0x00, 0x00, 0xDD, 0xEE, 0xAF}},
      {mixed,
       200,
       {0xFF, 0xF3, 0x01, 0x88, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00, 0xDD, 0xEE, 0x76}},
  };
  for (const auto& c : cases) EXPECT_EQ(encodeStandardWrite(c.set, c.tenths), c.telegram);
}

std::vector<uint8_t> reply(std::vector<uint8_t> head) {
  head.resize(30, 0x00);
  head[28] = xorBytes(head.data(), 2, 27);
  return head;
}

TEST(StandardReply, DecodesFieldsOfAGoodReply) {
  const auto r = decodeStandardReply(
      reply({0xE4, 0x15, 0x21, 0x05, 214, 0x5A, 0xC3, 0xA5, 0x41, 0x24, 0x30, '1', '.', '0', '7'}));
  ASSERT_TRUE(r.has_value());
  EXPECT_EQ(r->current, (std::array<int, 4>{1, 2, 5, 0}));
  EXPECT_EQ(r->time, (std::array<int, 4>{4, 2, 0, 3}));
  EXPECT_EQ(r->pgood_index, 14);
  EXPECT_EQ(r->port1_byte1, 0x5A);
  EXPECT_EQ(r->port1_byte2, 0xC3);
  EXPECT_EQ(r->port2_byte1, 0xA5);
  EXPECT_EQ(r->port2_byte2, 0x41);
  EXPECT_EQ(r->version, "1.07");
  EXPECT_EQ(decodeStandardReply(reply({0xE4, 0x15, 0, 0, 250}))->pgood_index, 50);
}

TEST(StandardReply, RejectsShortForeignAndCorruptReplies) {
  const auto good = reply({0xE4, 0x15, 0x88, 0x88, 214});
  auto shortReply = good;
  shortReply.resize(29);  // check byte right, byte 29 missing
  auto wrongStart = good;
  wrongStart[0] = 0xE5;
  auto variantType = good;
  variantType[1] = 0x17;
  auto wrongCheck = good;
  wrongCheck[28] ^= 0x01;
  auto longer = good;
  longer.resize(50, 0x16);
  EXPECT_TRUE(decodeStandardReply(good).has_value());
  EXPECT_TRUE(decodeStandardReply(longer).has_value());
  for (const auto& bad : {shortReply, wrongStart, variantType, wrongCheck}) {
    EXPECT_FALSE(decodeStandardReply(bad).has_value());
  }
}

TEST(TripTimeList, EntriesAndDefaultFollowTheCurrent) {
  const struct {
    int current;
    std::vector<std::string> entries;
    int selected;
  } cases[] = {{-1, {}, -1},
               {0, {}, -1},
               {1, {"0,1", "0,2", "0,5", "1,0", "1,5"}, 4},
               {2, {"0,1", "0,2", "0,5"}, 2},
               {3, {"0,1", "0,2"}, 1},
               {4, {"0,1", "0,2"}, 1},
               {5, {"0,1"}, 0},
               {8, {"0,1"}, 0},
               {15, {"0,1"}, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(tripTimeEntries(c.current), c.entries) << c.current;
    EXPECT_EQ(defaultTripTimeEntry(c.current), c.selected) << c.current;
  }
}

}  // namespace
}  // namespace zfuse

namespace zfuse {
namespace {

TEST(ZokxWriteTelegram, EncodesTheWorkedTelegrams) {
  const ZokxParameterSet defaults10a = zokxFactorySet(kType4ch10A);
  const ZokxParameterSet defaults6a = zokxFactorySet(kType4ch6A);
  ZokxParameterSet mixed;  // 1 A, 2 A, OFF, OFF, 20,0 V, 0,1 s
  mixed.current_index = {1, 2, 0, 0};
  mixed.pgood_index = 0;
  mixed.switch_off_index = 0;
  mixed.port1_byte1 = 0x03;
  mixed.port1_byte2 = 0x01;

  const struct {
    const ZokxParameterSet& set;
    uint8_t tenths;
    std::vector<uint8_t> telegram;
  } cases[] = {
      {defaults10a, 214, {0xFF, 0xF3, 0xAA, 0xAA, 0xD6, 0xAA, 0xC0, 0x0F, 0x9F, 0xDD, 0xEE, 0x1F}},
      {defaults6a, 214, {0xFF, 0xF3, 0x66, 0x66, 0xD6, 0xAA, 0xC0, 0x0F, 0x9F, 0xDD, 0xEE, 0x1F}},
      {mixed, 200, {0xFF, 0xF3, 0x21, 0x00, 0xC8, 0x03, 0x01, 0x00, 0x03, 0xDD, 0xEE, 0xDB}},
  };
  for (const auto& c : cases) EXPECT_EQ(encodeZokxWrite(c.set, c.tenths), c.telegram);
}

TEST(ZokxSwitchOffCode, EveryEntryAndTheFallback) {
  for (std::size_t i = 0; i < kSwitchOffCount; ++i) {
    EXPECT_EQ(switchOffIndexOfCode(kSwitchOffCodes[i]), static_cast<int>(i)) << i;
  }
  const std::pair<uint16_t, const char*> cases[] = {{0x0F9F, "100,0"}, {0x0013, "0,5"},
                                                    {0x0014, "100,0"}, {0x0000, "100,0"},
                                                    {0xFFFF, "100,0"}, {0x5DBF, "600,0"}};
  for (const auto& [code, entry] : cases) {
    EXPECT_STREQ(kSwitchOffEntries[static_cast<std::size_t>(switchOffIndexOfCode(code))], entry)
        << code;
  }
}

std::vector<uint8_t> zokxReply(uint8_t model, std::vector<uint8_t> config,
                               std::size_t length = 27) {
  std::vector<uint8_t> r = {0xE4, model};
  for (uint8_t b : config) r.push_back(b);
  for (char c : std::string("2.05")) r.push_back(static_cast<uint8_t>(c));
  while (r.size() < 26) r.push_back(static_cast<uint8_t>(r.size() * 7));
  r.push_back(xorBytes(r.data(), 2, 25));
  while (r.size() < length) r.push_back(0x55);
  r.resize(length);
  return r;
}

TEST(ZokxReply, DecodesEveryField) {
  const auto r = decodeZokxReply(zokxReply(0x13, {0xA1, 0x5F, 250, 0x81, 0xC3, 0x00, 0x13}));
  ASSERT_TRUE(r);
  EXPECT_EQ(r->model, 0x13);
  EXPECT_EQ(r->current, (std::array<int, 4>{1, 10, 15, 5}));
  EXPECT_EQ(r->pgood_index, 50);  // beyond the list: the dialog selects nothing
  EXPECT_EQ(r->port1_byte1, 0x81);
  EXPECT_EQ(r->port1_byte2, 0xC3);
  EXPECT_EQ(r->switch_off_index, 1);
  EXPECT_EQ(r->version, "2.05");
  EXPECT_EQ(decodeZokxReply(zokxReply(0x17, {0, 0, 214, 0, 0, 0x0F, 0x9F}, 50))->pgood_index, 14);
}

TEST(ZokxReply, RejectsWhatIsNoFuseVariantReply) {
  const std::vector<uint8_t> config = {0xAA, 0xAA, 0xD6, 0xAA, 0xC0, 0x0F, 0x9F};
  auto wrongStart = zokxReply(0x17, config);
  wrongStart[0] = 0xE5;
  auto wrongCheck = zokxReply(0x17, config);
  wrongCheck[26] ^= 0x01;
  const struct {
    const char* name;
    std::vector<uint8_t> bytes;
    bool modelKnown;
  } cases[] = {
      {"26 bytes, check byte right", zokxReply(0x17, config, 26), false},
      {"standard type 0x15", zokxReply(0x15, config), false},
      {"status-like type 0x18", zokxReply(0x18, config), false},
      {"wrong start byte", wrongStart, false},
      {"wrong check byte", wrongCheck, true},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(decodeZokxReply(c.bytes)) << c.name;
    EXPECT_EQ(zokxReplyModel(c.bytes).has_value(), c.modelKnown) << c.name;
  }
  for (const uint8_t model : {kType2ch6A, kType2ch10A, kType4ch10A, kType4ch6A}) {
    EXPECT_EQ(zokxReplyModel(zokxReply(model, config)), model);
  }
}

}  // namespace
}  // namespace zfuse
