// The status path as a whole: bytes in, numbers and flags out.

#include "monitor/statustelegram.h"

#include <gtest/gtest.h>

#include "tests/support/status_recorder.h"
#include "tests/support/telegrams.h"

namespace zfuse {
namespace {

const std::vector<uint8_t>& kExample = test::kExampleTelegram;

std::vector<uint8_t> withEndPair(std::vector<uint8_t> frame) {
  frame.insert(frame.end(), {0xE4, 0x16});
  return frame;
}

TEST(StatusPath, ExampleTelegramGivesEveryNumber) {
  test::StatusRecorder path;
  path.feed(kExample);
  ASSERT_EQ(path.readings.size(), 1u);
  const StatusReading& r = path.readings[0];
  EXPECT_EQ(r.type, 0x17);
  EXPECT_EQ(r.present, (std::array<uint16_t, 4>{123, 50, 0, 1000}));
  EXPECT_EQ(r.highest, (std::array<uint16_t, 4>{200, 50, 0, 1050}));
  EXPECT_EQ(r.uin, 2400);
  EXPECT_EQ(r.uinMin, 2350);
  EXPECT_EQ(r.rated, (std::array<uint8_t, 4>{6, 10, 10, 2}));
  EXPECT_TRUE(r.warning(0));
  for (int ch = 0; ch < 4; ++ch) EXPECT_FALSE(r.tripped(ch));
  for (int ch = 1; ch < 4; ++ch) EXPECT_FALSE(r.warning(ch));
  EXPECT_FALSE(r.powerGoodLow());
  EXPECT_FALSE(r.hardwareFault());
  EXPECT_EQ(path.frames, 1);
  EXPECT_EQ(path.seen, std::vector<uint8_t>{0x17});
}

// Each case changes the example frame and says what the path makes of it.
TEST(StatusPath, FramesTheDecoderRejectsOrAccepts) {
  struct Case {
    const char* name;
    std::vector<uint8_t> frame;
    int frames;    // cut out of the stream
    int seen;      // telegrams of a known model (model flags, activity blink)
    int readings;  // decoded (good check byte)
    int bad;       // known model, wrong check byte
  };
  auto badCheck = kExample;
  badCheck[1] = 0x11;
  badCheck[28] ^= 0xFF;
  std::vector<uint8_t> short28(kExample.begin(), kExample.begin() + 26);  // 28 with the pair
  short28 = withEndPair(short28);
  std::vector<uint8_t> exactly29(kExample.begin(), kExample.begin() + 29);
  auto trailing = exactly29;
  trailing.insert(trailing.end(), {0x01, 0x02, 0x03});
  auto uninterpreted = kExample;
  uninterpreted[26] = 0x5A;  // covered by the check byte only
  auto uninterpretedFixed = kExample;
  uninterpretedFixed[3] |= 0xFC;
  uninterpretedFixed[27] = 0xA5;
  uninterpretedFixed[28] = xorBytes(uninterpretedFixed.data(), 2, 27);
  const Case cases[] = {
      {"good example", kExample, 1, 1, 1, 0},
      {"wrong check byte", badCheck, 1, 1, 0, 1},
      {"28 bytes before the end pair", short28, 1, 0, 0, 0},
      {"29 bytes and the end pair", withEndPair(exactly29), 1, 1, 1, 0},
      {"trailing bytes before the end pair", withEndPair(trailing), 1, 1, 1, 0},
      {"uninterpreted byte changed alone", uninterpreted, 1, 1, 0, 1},
      {"uninterpreted bits with their check byte", uninterpretedFixed, 1, 1, 1, 0},
      {"shortest frame", {0xE4, 0x11, 0xE4, 0x16}, 1, 0, 0, 0},
      {"noise only", {0x00, 0x16, 0xE4, 0xE4, 0x11, 0x42}, 0, 0, 0, 0},
  };
  for (const Case& c : cases) {
    test::StatusRecorder path;
    path.feed(c.frame);
    EXPECT_EQ(path.frames, c.frames) << c.name;
    EXPECT_EQ(static_cast<int>(path.seen.size()), c.seen) << c.name;
    EXPECT_EQ(static_cast<int>(path.readings.size()), c.readings) << c.name;
    EXPECT_EQ(path.bad, c.bad) << c.name;
    EXPECT_EQ(path.monitor.badTelegrams(), static_cast<quint64>(c.bad)) << c.name;
  }
  test::StatusRecorder path;
  path.feed(uninterpretedFixed);
  ASSERT_EQ(path.readings.size(), 1u);
  EXPECT_FALSE(path.readings[0].powerGoodLow());
  EXPECT_FALSE(path.readings[0].hardwareFault());
  EXPECT_EQ(path.readings[0].present[0], 123);
}

TEST(StatusPath, WatchdogReportsASilentSecondOnly) {
  test::StatusRecorder path;
  path.monitor.watchdogTick();
  EXPECT_EQ(path.silences, 1);
  path.feed(std::vector<uint8_t>{0x00});  // any byte, even one that is dropped
  path.monitor.watchdogTick();
  EXPECT_EQ(path.silences, 1);
  path.monitor.watchdogTick();
  EXPECT_EQ(path.silences, 2);
}

TEST(StatusPath, LampBitsPerChannelAndSupply) {
  auto frame = kExample;
  frame[2] = 0b10'01'00'10;  // channel 1 tripped, channel 3 warning, channel 4 tripped
  frame[3] = 0x03;
  frame[28] = xorBytes(frame.data(), 2, 27);
  test::StatusRecorder path;
  path.feed(frame);
  ASSERT_EQ(path.readings.size(), 1u);
  const StatusReading& r = path.readings[0];
  const bool warnings[] = {false, false, true, false};
  const bool trips[] = {true, false, false, true};
  for (int ch = 0; ch < 4; ++ch) {
    EXPECT_EQ(r.warning(ch), warnings[ch]) << ch;
    EXPECT_EQ(r.tripped(ch), trips[ch]) << ch;
  }
  EXPECT_TRUE(r.powerGoodLow());
  EXPECT_TRUE(r.hardwareFault());
}

TEST(ModelFlags, EachTypeByteSetsExactlyItsFlag) {
  const struct {
    uint8_t type;
    bool ModelFlags::*flag;
    bool fourChannels;
  } cases[] = {{0x11, &ModelFlags::model_2ch_6a, false},
               {0x13, &ModelFlags::model_2ch_10a, false},
               {0x15, &ModelFlags::model_standard, false},
               {0x17, &ModelFlags::model_4ch_10a, true},
               {0x19, &ModelFlags::model_4ch_6a, true}};
  ModelFlags flags;
  EXPECT_TRUE(flags.model_4ch_10a);  // the view starts at the four-channel 10 A model
  for (const auto& c : cases) {
    flags.set(c.type);
    EXPECT_TRUE(flags.*c.flag);
    EXPECT_EQ(flags.model_2ch_6a + flags.model_2ch_10a + flags.model_standard +
                  flags.model_4ch_10a + flags.model_4ch_6a,
              1);
    EXPECT_EQ(flags.fourChannelModel(), c.fourChannels);
    // The window takes the same answer from the model table.
    EXPECT_EQ(modelFacts(c.type)->windowShowsBackChannels, c.fourChannels);
  }
  flags.set(0x12);  // not a model: nothing changes
  EXPECT_TRUE(flags.model_4ch_6a);
}

}  // namespace
}  // namespace zfuse
