// The retry cycle of both configuration dialogs: every way an attempt can fail gives
// twelve more attempts on the 500 ms tick, then the failure message in red.

#include <gtest/gtest.h>

#include <ostream>

#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "monitor/statustelegram.h"
#include "tests/support/dialog_fixture.h"

namespace zfuse {
namespace {

struct RetryCase {
  const char* name;
  uint8_t dialogModel;  // the model the main window names: which dialog opens
  unsigned faults;
  bool write;
  uint8_t deviceModel;  // the model on the line
};
void PrintTo(const RetryCase& c, std::ostream* os) {
  *os << c.name;
}

class DialogRetry : public test::DialogFixture, public ::testing::WithParamInterface<RetryCase> {
 protected:
  DialogRetry() { simModel = GetParam().dialogModel; }
  ConfigDialog* dialog() override {
    return GetParam().dialogModel == kTypeStandard ? static_cast<ConfigDialog*>(para)
                                                   : parameter_zokx;
  }
};

TEST_P(DialogRetry, FailedAttemptsRetryTwelveTimesThenGiveUpInRed) {
  const RetryCase& c = GetParam();
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  Form1->modelFlags().set(c.dialogModel);
  Form1->Button1Click();
  ASSERT_TRUE(dialog()->isVisible());
  device->setModel(c.deviceModel);
  device->setFaults(sim::kSilence | c.faults);
  device->clearRequests();
  click("Button3");
  click(c.write ? "Button2" : "Button1");
  EXPECT_TRUE(dialog()->Timer1->isActive());
  EXPECT_EQ(dialog()->Timer1->interval(), 500);
  EXPECT_FALSE(label("status")->isVisible());
  runRetryTicks(11);
  EXPECT_TRUE(dialog()->Timer1->isActive());
  EXPECT_EQ(dialog()->retry_count, 11);
  runRetryTicks(1);
  EXPECT_FALSE(dialog()->Timer1->isActive());
  EXPECT_FALSE(dialog()->Timer3->isActive());
  EXPECT_EQ(dialog()->retry_count, 0);
  EXPECT_EQ(status(), "Kommunikation fehlgeschlagen!");
  EXPECT_EQ(statusColour(), QColor(Qt::red));
  EXPECT_TRUE(label("status")->isVisible());
  EXPECT_EQ(device->requests().size(), 13u);
  // A failed write leaves the dialog as it was, a failed read leaves it cleared.
  const int factoryCurrent = c.dialogModel == kTypeStandard ? 8 : 10;
  EXPECT_EQ(list("k1_sel")->currentIndex(), c.write ? factoryCurrent : -1);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, DialogRetry,
    ::testing::Values(RetryCase{"StandardWrongAcknowledgement", 0x15, sim::kBadAck, true, 0x15},
                      RetryCase{"StandardSilentOnWrite", 0x15, sim::kNoAnswer, true, 0x15},
                      RetryCase{"StandardSilentOnRead", 0x15, sim::kNoAnswer, false, 0x15},
                      RetryCase{"StandardShortReply", 0x15, sim::kShortReply, false, 0x15},
                      RetryCase{"StandardWrongChecksum", 0x15, sim::kBadChecksum, false, 0x15},
                      RetryCase{"StandardGapInsideTheReply", 0x15, sim::kReplyGap, false, 0x15},
                      RetryCase{"StandardGetsFuseVariantReply", 0x15, 0, false, 0x17},
                      RetryCase{"ZokxWrongAcknowledgement", 0x17, sim::kBadAck, true, 0x17},
                      RetryCase{"ZokxSilentOnWrite", 0x17, sim::kNoAnswer, true, 0x17},
                      RetryCase{"ZokxSilentOnRead", 0x17, sim::kNoAnswer, false, 0x17},
                      RetryCase{"ZokxShortReply", 0x17, sim::kShortReply, false, 0x17},
                      RetryCase{"ZokxGapInsideTheReply", 0x17, sim::kReplyGap, false, 0x17},
                      RetryCase{"ZokxWrongChecksum", 0x17, sim::kBadChecksum, false, 0x17},
                      RetryCase{"ZokxGetsStandardReply", 0x17, 0, false, 0x15}),
    [](const auto& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace zfuse
