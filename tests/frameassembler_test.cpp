#include "link/frameassembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zfuse {
namespace {

// Records what the assembler tells its window, in order.
struct RecordingHost : FrameAssemblerHost {
  FrameAssembler* assembler = nullptr;
  std::vector<std::vector<uint8_t>> frames;
  std::string calls;
  void showActivityIndicator() override { calls += "A"; }
  void ausfuehren() override {
    calls += "D";
    frames.push_back(assembler->frame_buffer);
  }
};

struct Assembly {
  RecordingHost host;
  FrameAssembler assembler{host};
  Assembly() { host.assembler = &assembler; }
  void feed(const std::vector<uint8_t>& bytes) {
    for (uint8_t b : bytes) assembler.baue_string(b);
  }
};

std::vector<uint8_t> frameOfLength(std::size_t n) {
  std::vector<uint8_t> f = {0xE4, 0x17};
  while (f.size() < n - 2) f.push_back(static_cast<uint8_t>(f.size()));
  f.push_back(0xE4);
  f.push_back(0x16);
  return f;
}

TEST(FrameAssembler, ShortestFrameIsHandedOverAndStateResets) {
  Assembly a;
  a.feed({0xE4, 0x11, 0xE4, 0x16});
  ASSERT_EQ(a.host.frames.size(), 1u);
  EXPECT_EQ(a.host.frames[0], (std::vector<uint8_t>{0xE4, 0x11, 0xE4, 0x16}));
  EXPECT_EQ(a.host.calls, "AD");  // selector swap first, then the decoder
  EXPECT_EQ(a.assembler.frame_pos, 0);
  EXPECT_TRUE(a.assembler.frame_buffer.empty());
}

TEST(FrameAssembler, EndPairWith0x18AlsoEndsAFrame) {
  Assembly a;
  a.feed({0xE4, 0x15, 0x01, 0xE4, 0x18});
  ASSERT_EQ(a.host.frames.size(), 1u);
  EXPECT_EQ(a.host.frames[0].size(), 5u);
}

TEST(FrameAssembler, SecondStartByteIsNotATypeAndStartsNothing) {
  Assembly a;
  a.feed({0xE4, 0xE4, 0x11, 0x00, 0xE4, 0x16});
  EXPECT_TRUE(a.host.frames.empty());
  EXPECT_EQ(a.assembler.frame_pos, 0);
  a.feed({0xE4, 0x11, 0xE4, 0x16});
  EXPECT_EQ(a.host.frames.size(), 1u);
}

TEST(FrameAssembler, FrameOfFiftyBytesIsComplete) {
  Assembly a;
  a.feed(frameOfLength(50));
  ASSERT_EQ(a.host.frames.size(), 1u);
  EXPECT_EQ(a.host.frames[0], frameOfLength(50));
}

TEST(FrameAssembler, FiftyFirstByteDiscardsTheFrameAndIsDroppedEvenIfStartByte) {
  Assembly a;
  std::vector<uint8_t> bytes = {0xE4, 0x17};
  while (bytes.size() < 50) bytes.push_back(0x00);
  a.feed(bytes);
  EXPECT_EQ(a.assembler.frame_pos, 50);
  a.feed({0xE4});  // 51st byte: dropped, not a new start
  EXPECT_EQ(a.assembler.frame_pos, 0);
  a.feed({0x11, 0xE4, 0x16});
  EXPECT_TRUE(a.host.frames.empty());
}

TEST(FrameAssembler, EndByteRightAfterTypeByteDoesNotEndTheFrame) {
  for (uint8_t end : {uint8_t{0x16}, uint8_t{0x18}}) {
    Assembly a;
    a.feed({0xE4, 0x13, end});
    EXPECT_TRUE(a.host.frames.empty());
    EXPECT_EQ(a.assembler.frame_pos, 3);
  }
}

TEST(FrameAssembler, WrongTypeByteIsDroppedWithoutLookingForAStart) {
  Assembly a;
  a.feed({0xE4, 0x12, 0xE4, 0x11, 0xE4, 0x16});
  ASSERT_EQ(a.host.frames.size(), 1u);
  EXPECT_EQ(a.host.frames[0], (std::vector<uint8_t>{0xE4, 0x11, 0xE4, 0x16}));
}

TEST(FrameAssembler, PayloadEndPairCutsTheFrameShort) {
  Assembly a;
  a.feed({0xE4, 0x17, 0x01, 0xE4, 0x16, 0x02, 0x03, 0xE4, 0x16});
  ASSERT_EQ(a.host.frames.size(), 1u);
  EXPECT_EQ(a.host.frames[0].size(), 5u);
}

TEST(FrameAssembler, SplitAcrossReadsAssemblesTheSame) {
  const std::vector<uint8_t> stream = {0x00, 0x42, 0xE4, 0x17, 1,    2,    3,   0xE4,
                                       0x16, 0xE4, 0x19, 9,    0xE4, 0x18, 0x55};
  Assembly whole;
  whole.feed(stream);
  for (std::size_t cut = 1; cut < stream.size(); ++cut) {
    Assembly split;
    split.feed({stream.begin(), stream.begin() + static_cast<long>(cut)});
    split.feed({stream.begin() + static_cast<long>(cut), stream.end()});
    EXPECT_EQ(split.host.frames, whole.host.frames) << "cut at " << cut;
  }
  EXPECT_EQ(whole.host.frames.size(), 2u);
}

TEST(FrameAssembler, EveryByteSetsRxActivityAlsoDroppedOnes) {
  for (uint8_t b : std::vector<uint8_t>{0x00, 0xE4, 0x16, 0xFF}) {
    Assembly a;
    a.feed({b});
    EXPECT_TRUE(a.assembler.rx_activity);
  }
  Assembly a;
  a.feed({0xE4, 0x12});  // second byte dropped as a wrong type
  a.assembler.rx_activity = false;
  a.feed({0x99});
  EXPECT_TRUE(a.assembler.rx_activity);
}

}  // namespace
}  // namespace zfuse
