// The main window's texts of the numbers a status telegram carries.

#include "app/statustext.h"

#include <gtest/gtest.h>

#include "monitor/statustelegram.h"
#include "tests/support/telegrams.h"

namespace zfuse {
namespace {

TEST(StatusTexts, ExampleTelegram) {
  const StatusReading r = decodeStatusReading(test::kExampleTelegram);
  const StatusTexts t = statusTexts(r);
  EXPECT_EQ(t.present,
            (std::array<std::string, 4>{"1,23 Adc", "0,50 Adc", "0,00 Adc", "10,0 Adc"}));
  EXPECT_EQ(t.highest,
            (std::array<std::string, 4>{"2,00 Adc", "0,50 Adc", "0,00 Adc", "10,5 Adc"}));
  EXPECT_EQ(t.uin, "24,0 Vdc");
  EXPECT_EQ(t.uinMin, "23,5 Vdc");
  EXPECT_EQ(t.rated, (std::array<std::string, 4>{"6 Adc", "10 Adc", "10 Adc", "2 Adc"}));
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

}  // namespace
}  // namespace zfuse
