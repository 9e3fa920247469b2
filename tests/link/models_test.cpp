#include "link/models.h"

#include <gtest/gtest.h>

#include <array>
#include <iterator>
#include <set>
#include <string>

namespace zfuse {
namespace {

// Every fact of every model in one place, as the device documentation states them.
TEST(ModelTable, FactsOfEachModel) {
  const struct {
    uint8_t type;
    const char* name;
    const char* title;
    int channels;
    std::array<int, 4> listMax;
    bool variant;
    std::size_t reply;
    int factoryAmps;
    bool backChannelsShown;
  } cases[] = {
      {0x11, "2ch6a", "2-channel 6 A", 2, {6, 6, 6, 6}, true, 27, 6, false},
      {0x13, "2ch10a", "2-channel 10 A", 2, {10, 10, 6, 6}, true, 27, 6, false},
      {0x15, "standard", "standard", 4, {8, 8, 8, 8}, false, 30, 8, false},
      {0x17, "4ch10a", "4-channel 10 A", 4, {10, 10, 10, 10}, true, 27, 10, true},
      {0x19, "4ch6a", "4-channel 6 A", 4, {6, 6, 6, 6}, true, 27, 6, true},
  };
  ASSERT_EQ(std::size(cases), kModels.size());
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ModelFacts* m = modelFacts(c.type);
    ASSERT_NE(m, nullptr);
    EXPECT_STREQ(m->name, c.name);
    EXPECT_STREQ(m->title, c.title);
    EXPECT_EQ(m->currentListMax, c.listMax);
    EXPECT_EQ(m->replyLength, c.reply);
    EXPECT_EQ(m->factoryAmps, c.factoryAmps);
    EXPECT_EQ(m->windowShowsBackChannels, c.backChannelsShown);
    EXPECT_TRUE(isModelType(c.type));
    EXPECT_EQ(isFuseVariant(c.type), c.variant);
    EXPECT_EQ(channelCount(c.type), c.channels);
    EXPECT_STREQ(modelName(c.type), c.name);
    EXPECT_EQ(modelOfName(c.name), c.type);
    // A model's factory current is on its own lists.
    for (int listMax : m->currentListMax) EXPECT_LE(m->factoryAmps, listMax);
  }
}

TEST(ModelTable, OtherBytesAndNamesAreNoModel) {
  std::set<std::string> names;
  for (int b = 0; b <= 0xFF; ++b) {
    const auto type = static_cast<uint8_t>(b);
    if (modelFacts(type)) {
      names.insert(modelName(type));
      continue;
    }
    EXPECT_FALSE(isModelType(type)) << b;
    EXPECT_FALSE(isFuseVariant(type)) << b;
    EXPECT_EQ(channelCount(type), 0) << b;
    EXPECT_STREQ(modelName(type), "") << b;
  }
  EXPECT_EQ(names.size(), kModels.size());  // every byte once, every name its own
  for (const char* name : {"", "4CH10A", "4ch10", "4ch10a ", "2ch"}) {
    EXPECT_EQ(modelOfName(name), std::nullopt) << name;
  }
}

}  // namespace
}  // namespace zfuse
