#include "link/frameassembler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zfuse {
namespace {

// The frames the assembler hands out, in order.
struct Assembly {
  std::vector<std::vector<uint8_t>> frames;
  FrameAssembler assembler{[this](const std::vector<uint8_t>& f) { frames.push_back(f); }};
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
  ASSERT_EQ(a.frames.size(), 1u);
  EXPECT_EQ(a.frames[0], (std::vector<uint8_t>{0xE4, 0x11, 0xE4, 0x16}));
  EXPECT_EQ(a.assembler.position(), 0);
}

TEST(FrameAssembler, EndPairWith0x18AlsoEndsAFrame) {
  Assembly a;
  a.feed({0xE4, 0x15, 0x01, 0xE4, 0x18});
  ASSERT_EQ(a.frames.size(), 1u);
  EXPECT_EQ(a.frames[0].size(), 5u);
}

TEST(FrameAssembler, SecondStartByteIsNotATypeAndStartsNothing) {
  Assembly a;
  a.feed({0xE4, 0xE4, 0x11, 0x00, 0xE4, 0x16});
  EXPECT_TRUE(a.frames.empty());
  EXPECT_EQ(a.assembler.position(), 0);
  a.feed({0xE4, 0x11, 0xE4, 0x16});
  EXPECT_EQ(a.frames.size(), 1u);
}

TEST(FrameAssembler, FrameOfFiftyBytesIsComplete) {
  Assembly a;
  a.feed(frameOfLength(50));
  ASSERT_EQ(a.frames.size(), 1u);
  EXPECT_EQ(a.frames[0], frameOfLength(50));
}

TEST(FrameAssembler, FiftyFirstByteDiscardsTheFrameAndIsDroppedEvenIfStartByte) {
  Assembly a;
  std::vector<uint8_t> bytes = {0xE4, 0x17};
  while (bytes.size() < 50) bytes.push_back(0x00);
  a.feed(bytes);
  EXPECT_EQ(a.assembler.position(), 50);
  a.feed({0xE4});  // 51st byte: dropped, not a new start
  EXPECT_EQ(a.assembler.position(), 0);
  a.feed({0x11, 0xE4, 0x16});
  EXPECT_TRUE(a.frames.empty());
}

TEST(FrameAssembler, EndByteRightAfterTypeByteDoesNotEndTheFrame) {
  for (uint8_t end : {uint8_t{0x16}, uint8_t{0x18}}) {
    Assembly a;
    a.feed({0xE4, 0x13, end});
    EXPECT_TRUE(a.frames.empty());
    EXPECT_EQ(a.assembler.position(), 3);
  }
}

TEST(FrameAssembler, WrongTypeByteIsDroppedWithoutLookingForAStart) {
  Assembly a;
  a.feed({0xE4, 0x12, 0xE4, 0x11, 0xE4, 0x16});
  ASSERT_EQ(a.frames.size(), 1u);
  EXPECT_EQ(a.frames[0], (std::vector<uint8_t>{0xE4, 0x11, 0xE4, 0x16}));
}

TEST(FrameAssembler, PayloadEndPairCutsTheFrameShort) {
  Assembly a;
  a.feed({0xE4, 0x17, 0x01, 0xE4, 0x16, 0x02, 0x03, 0xE4, 0x16});
  ASSERT_EQ(a.frames.size(), 1u);
  EXPECT_EQ(a.frames[0].size(), 5u);
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
    EXPECT_EQ(split.frames, whole.frames) << "cut at " << cut;
  }
  EXPECT_EQ(whole.frames.size(), 2u);
}

TEST(FrameAssembler, EveryByteSetsRxActivityAlsoDroppedOnes) {
  for (uint8_t b : std::vector<uint8_t>{0x00, 0xE4, 0x16, 0xFF}) {
    Assembly a;
    a.feed({b});
    EXPECT_TRUE(a.assembler.takeActivity());
    EXPECT_FALSE(a.assembler.takeActivity());
  }
  Assembly a;
  a.feed({0xE4, 0x12});  // second byte dropped as a wrong type
  a.assembler.takeActivity();
  a.feed({0x99});
  EXPECT_TRUE(a.assembler.takeActivity());
}

}  // namespace
}  // namespace zfuse
