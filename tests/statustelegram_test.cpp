#include "monitor/statustelegram.h"

#include <gtest/gtest.h>

#include "tests/support/telegrams.h"

namespace zfuse {
namespace {

const std::vector<uint8_t>& kExample = test::kExampleTelegram;

struct RecordingDisplay : StatusDisplay {
  int blinks = 0;
  std::vector<StatusValues> shown;
  void startActivityBlink() override { ++blinks; }
  void showStatus(const StatusValues& v) override { shown.push_back(v); }
};

class StatusTelegram : public ::testing::Test {
 protected:
  void SetUp() override { resetModelFlags(); }
  RecordingDisplay display;
};

TEST_F(StatusTelegram, ExampleTelegramShowsEveryValue) {
  EXPECT_EQ(decodeStatusFrame(kExample, display), StatusCheck::Good);
  ASSERT_EQ(display.shown.size(), 1u);
  const StatusValues& v = display.shown[0];
  EXPECT_EQ(v.channelBits, 0x01);
  EXPECT_EQ(v.supplyBits, 0x00);
  EXPECT_EQ(v.present,
            (std::array<std::string, 4>{"1,23 Adc", "0,50 Adc", "0,00 Adc", "10,0 Adc"}));
  EXPECT_EQ(v.highest,
            (std::array<std::string, 4>{"2,00 Adc", "0,50 Adc", "0,00 Adc", "10,5 Adc"}));
  EXPECT_EQ(v.uin, "24,0 Vdc");
  EXPECT_EQ(v.uinMin, "23,5 Vdc");
  EXPECT_EQ(v.rated, (std::array<std::string, 4>{"6 Adc", "10 Adc", "10 Adc", "2 Adc"}));
  EXPECT_EQ(display.blinks, 1);
  EXPECT_TRUE(model_4ch_10a);
}

TEST(MeasurementText, ThreeSignificantDigitsTruncatedNotRounded) {
  const struct {
    uint16_t raw;
    const char* unit;
    const char* text;
  } cases[] = {
      {0, kUnitAmps, "0,00 Adc"},
      {5, kUnitAmps, "0,05 Adc"},
      {50, kUnitAmps, "0,50 Adc"},
      {123, kUnitAmps, "1,23 Adc"},
      {500, kUnitAmps, "5,00 Adc"},
      {1000, kUnitAmps, "10,0 Adc"},
      {1234, kUnitAmps, "12,3 Adc"},
      {1239, kUnitAmps, "12,3 Adc"},
      {1200, kUnitAmps, "12,0 Adc"},
      {2400, kUnitVolts, "24,0 Vdc"},
      {2456, kUnitVolts, "24,5 Vdc"},
      {9999, kUnitVolts, "99,9 Vdc"},
      // From 100 on the whole part is shown.
      {10000, kUnitAmps, "100 Adc"},
      {10099, kUnitAmps, "100 Adc"},
      {65535, kUnitVolts, "655 Vdc"},
  };
  for (const auto& c : cases) EXPECT_EQ(measurementText(c.raw, c.unit), c.text) << c.raw;
}

TEST(RatedCurrentText, NibbleOrOff) {
  EXPECT_EQ(ratedCurrentText(0), "Off");
  EXPECT_EQ(ratedCurrentText(6), "6 Adc");
  EXPECT_EQ(ratedCurrentText(10), "10 Adc");
  EXPECT_EQ(ratedCurrentText(15), "15 Adc");
}

TEST_F(StatusTelegram, WrongChecksumStillSetsModelAndBlinksButShowsNothing) {
  auto frame = kExample;
  frame[1] = 0x11;
  frame[28] ^= 0xFF;
  EXPECT_EQ(decodeStatusFrame(frame, display), StatusCheck::BadChecksum);
  EXPECT_TRUE(model_2ch_6a);
  EXPECT_FALSE(model_4ch_10a);
  EXPECT_EQ(display.blinks, 1);
  EXPECT_TRUE(display.shown.empty());
}

TEST_F(StatusTelegram, TwentyEightBytesChangeNothing) {
  std::vector<uint8_t> frame(kExample.begin(), kExample.begin() + 28);
  frame[1] = 0x13;
  EXPECT_EQ(decodeStatusFrame(frame, display), StatusCheck::TooShort);
  EXPECT_TRUE(model_4ch_10a);
  EXPECT_FALSE(model_2ch_10a);
  EXPECT_EQ(display.blinks, 0);
}

TEST_F(StatusTelegram, EndPairIsNotNeededAndTrailingBytesAreIgnored) {
  std::vector<uint8_t> frame(kExample.begin(), kExample.begin() + 29);
  EXPECT_EQ(decodeStatusFrame(frame, display), StatusCheck::Good);
  frame.insert(frame.end(), {0x01, 0x02, 0x03});
  EXPECT_EQ(decodeStatusFrame(frame, display), StatusCheck::Good);
}

TEST_F(StatusTelegram, EachTypeByteSetsExactlyItsFlag) {
  const struct {
    uint8_t type;
    bool* flag;
    bool fourChannels;
  } cases[] = {{0x11, &model_2ch_6a, false},
               {0x13, &model_2ch_10a, false},
               {0x15, &model_standard, false},
               {0x17, &model_4ch_10a, true},
               {0x19, &model_4ch_6a, true}};
  for (const auto& c : cases) {
    auto frame = kExample;
    frame[1] = c.type;
    decodeStatusFrame(frame, display);
    EXPECT_TRUE(*c.flag);
    EXPECT_EQ(model_2ch_6a + model_2ch_10a + model_standard + model_4ch_10a + model_4ch_6a, 1);
    EXPECT_EQ(fourChannelModel(), c.fourChannels);
  }
}

TEST_F(StatusTelegram, ForeignFrameIsIgnored) {
  auto frame = kExample;
  frame[1] = 0x12;
  EXPECT_EQ(decodeStatusFrame(frame, display), StatusCheck::ForeignType);
  EXPECT_EQ(display.blinks, 0);
}

TEST_F(StatusTelegram, UninterpretedBitsEnterOnlyTheChecksum) {
  auto frame = kExample;
  frame[26] = 0x5A;
  EXPECT_EQ(decodeStatusFrame(frame, display), StatusCheck::BadChecksum);
  frame[3] |= 0xFC;
  frame[27] = 0xA5;
  frame[28] = xorBytes(frame.data(), 2, 27);
  decodeStatusFrame(frame, display);
  ASSERT_EQ(display.shown.size(), 1u);
  EXPECT_EQ(display.shown[0].supplyBits & 0x03, 0x00);
  EXPECT_EQ(display.shown[0].present[0], "1,23 Adc");
}

}  // namespace
}  // namespace zfuse
