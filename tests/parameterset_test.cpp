#include "config/parameterset.h"

#include <gtest/gtest.h>

#include "monitor/statustelegram.h"

namespace zfuse {
namespace {

TEST(StandardWriteTelegram, EncodesByteForByte) {
  ParameterSet defaults;
  defaults.current_index = {8, 8, 8, 8};
  defaults.time_index = {0, 0, 0, 0};
  defaults.pgood_index = 14;
  defaults.port1_byte1 = 0x02;
  defaults.port1_byte2 = 0x80;
  defaults.port2_byte1 = 0x08;
  defaults.port2_byte2 = 0xC0;

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
