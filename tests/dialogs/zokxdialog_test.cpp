// The fuse-variant configuration dialog in-process: the real command transaction on the
// simulated fuse's pseudo-terminal, timers driven by their handlers.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/zokm32.h"
#include "dialogs/parameter2.h"
#include "monitor/statustelegram.h"
#include "tests/support/dialog_fixture.h"
#include "windowkit/svgpicture.h"
#include "windows/grafik.h"

namespace zfuse {
namespace {

using Bytes = std::vector<uint8_t>;

const char* const kBoxes[] = {"port1_byte1_01", "port1_byte1_02", "port1_byte1_04",
                              "port1_byte1_08", "port1_byte1_10", "port1_byte1_20",
                              "port1_byte1_40", "port1_byte1_80", "port1_byte2_01",
                              "port1_byte2_02", "port1_byte2_40", "programmieren"};
const char* const kMarkers[] = {"error_k1", "error_k2", "error_k3",
                                "error_k4", "error_pg", "ab_error"};
const char* const kBackChannel[] = {
    "k3_sel",         "k4_sel",         "Label13",        "Label14",       "f3", "f4", "f7", "f8",
    "port1_byte1_10", "port1_byte1_20", "port1_byte1_40", "port1_byte1_80"};

class ZokxDialog : public test::DialogFixture {
 protected:
  // Opens the dialog the way the operator does, once the main window knows the model.
  void open(uint8_t model) {
    device->setModel(model);
    ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
    Form1->modelFlags().set(model);
    Form1->Button1Click();
    ASSERT_TRUE(dialog()->isVisible());
    device->clearRequests();
  }
  ConfigDialog* dialog() override { return parameter_zokx; }
  QWidget* widget(const char* name) { return control<QWidget>(parameter_zokx, name); }
};

class ZokxDialogByModel : public ZokxDialog, public ::testing::WithParamInterface<uint8_t> {};

TEST_P(ZokxDialogByModel, ReadFillsEveryControlAsTheReplySays) {
  const uint8_t model = GetParam();
  const bool twoChannels = model == 0x11 || model == 0x13;
  const bool tenAmps = model == 0x13 || model == 0x17;
  // Currents 1 / 6 on channels 1 / 2 and 5 / OFF on 3 / 4; 21,4 V; events; 0,5 s.
  open(model);
  device->setConfiguration({0x61, 0x05, 214, 0x5A, 0xC3, 0x00, 0x13});
  click("Button1");
  EXPECT_EQ(lastRequest(), (Bytes{0xFF, 0xFC}));
  EXPECT_EQ(status(), "Übertragung erfolgreich!");
  EXPECT_EQ(statusColour(), QColor(Qt::black));
  EXPECT_EQ(list("k1_sel")->currentText(), "1");
  EXPECT_EQ(list("k2_sel")->currentText(), "6");
  EXPECT_EQ(list("k3_sel")->currentText(), "5");
  EXPECT_EQ(list("k4_sel")->currentText(), "OFF");
  EXPECT_EQ(list("k1_sel")->count(), tenAmps ? 11 : 7);
  EXPECT_EQ(list("pgood_sel_")->currentText(), "21,4");
  EXPECT_EQ(list("abschaltzeit")->currentText(), "0,5");
  const ZokxParameterSet p = parameter_zokx->parameterSet();
  EXPECT_EQ(p.port1_byte1, 0x5A);
  EXPECT_EQ(p.port1_byte2, 0xC3);
  EXPECT_TRUE(box("programmieren")->isChecked());
  EXPECT_TRUE(box("port1_byte2_40")->isChecked());
  for (const char* name : kBackChannel) {
    EXPECT_EQ(widget(name)->isVisible(), !twoChannels) << name;
  }

  // The model flags follow the reply; the standard flag is left alone.
  EXPECT_EQ(Form1->modelFlags().model_2ch_6a, model == 0x11);
  EXPECT_EQ(Form1->modelFlags().model_2ch_10a, model == 0x13);
  EXPECT_EQ(Form1->modelFlags().model_4ch_10a, model == 0x17);
  EXPECT_EQ(Form1->modelFlags().model_4ch_6a, model == 0x19);

  // The version shows only once the hidden area is clicked, and goes with the clean-up.
  EXPECT_FALSE(label("sw")->isVisible());
  EXPECT_EQ(label("sw")->text(), "Softwareversion: 1.07");
  QTest::mouseClick(label("Label3"), Qt::LeftButton);
  EXPECT_TRUE(label("sw")->isVisible());
  ASSERT_TRUE(dialog()->Timer3->isActive());
  dialog()->Timer3Timer();
  EXPECT_EQ(label("sw")->text(), "");
  EXPECT_TRUE(label("Label3")->isVisible());
  EXPECT_FALSE(label("status")->isVisible());
}

TEST_P(ZokxDialogByModel, DefaultsAreWrittenAsTheWorkedTelegram) {
  const uint8_t model = GetParam();
  open(model);
  click("Button3");
  click("Button2");
  const uint8_t amps = model == 0x17 ? 0xAA : 0x66;
  EXPECT_EQ(lastRequest(),
            (Bytes{0xFF, 0xF3, amps, amps, 0xD6, 0xAA, 0xC0, 0x0F, 0x9F, 0xDD, 0xEE, 0x1F}));
  EXPECT_EQ(status(), "Übertragung erfolgreich!");
  EXPECT_FALSE(dialog()->Timer1->isActive());
  EXPECT_TRUE(dialog()->Timer3->isActive());
  EXPECT_EQ(device->configuration(), (Bytes{amps, amps, 0xD6, 0xAA, 0xC0, 0x0F, 0x9F}));
}

INSTANTIATE_TEST_SUITE_P(Models, ZokxDialogByModel, ::testing::Values(0x11, 0x13, 0x17, 0x19),
                         [](const auto& param) { return "Type" + std::to_string(param.param); });

TEST_F(ZokxDialog, ReplyPositionsBeyondTheListsSelectNothing) {
  open(0x19);  // lists up to 6 A
  click("Button1");
  EXPECT_EQ(list("k1_sel")->currentIndex(), 6);
  // Current nibbles 7 and 9, 25,0 V, a code of 525 ms.
  device->setConfiguration({0x97, 0x66, 250, 0, 0, 0x00, 0x14});
  click("Button1");
  ASSERT_EQ(status(), "Übertragung erfolgreich!");
  EXPECT_EQ(list("k1_sel")->currentIndex(), -1);
  EXPECT_EQ(list("k2_sel")->currentIndex(), -1);
  EXPECT_EQ(list("pgood_sel_")->currentIndex(), -1);
  EXPECT_EQ(list("abschaltzeit")->currentText(), "100,0");  // no such time: 100 s
  device->setConfiguration({0x66, 0x66, 200, 0, 0, 0x5D, 0xBF});
  click("Button1");
  EXPECT_EQ(list("pgood_sel_")->currentText(), "20,0");
  EXPECT_EQ(list("abschaltzeit")->currentText(), "600,0");
}

TEST_F(ZokxDialog, OperatorsChoiceIsWrittenByteForByte) {
  open(0x17);
  choose("k1_sel", 1);
  choose("k2_sel", 2);
  choose("k3_sel", 0);
  choose("k4_sel", 0);
  choose("pgood_sel_", 0);
  choose("abschaltzeit", 0);
  for (const char* name : {"port1_byte1_01", "port1_byte1_02", "port1_byte2_01"}) {
    QTest::mouseClick(box(name), Qt::LeftButton);
  }
  click("Button2");
  EXPECT_EQ(lastRequest(),
            (Bytes{0xFF, 0xF3, 0x21, 0x00, 0xC8, 0x03, 0x01, 0x00, 0x03, 0xDD, 0xEE, 0xDB}));
  EXPECT_EQ(status(), "Übertragung erfolgreich!");
}

TEST_F(ZokxDialog, TwoChannelWriteNeedsTheHiddenChannelsToo) {
  open(0x13);
  choose("k1_sel", 3);
  choose("k2_sel", 4);
  choose("pgood_sel_", 10);
  choose("abschaltzeit", 2);
  click("Button2");
  EXPECT_TRUE(device->requests().empty());
  EXPECT_TRUE(widget("k3_sel")->isHidden());
  EXPECT_TRUE(label("error_k3")->isVisible());  // beside the hidden list
  EXPECT_TRUE(label("error_k4")->isVisible());
  EXPECT_TRUE(label("error_k1")->isHidden());
  EXPECT_TRUE(label("ab_error")->isHidden());
  EXPECT_EQ(status(), "Bitte alle Felder korrekt ausfüllen");
  EXPECT_EQ(statusColour(), QColor(Qt::red));
  EXPECT_FALSE(dialog()->Timer1->isActive());

  // After the defaults all four channels hold values and the write goes through.
  click("Button3");
  for (const char* marker : kMarkers) EXPECT_TRUE(label(marker)->isHidden()) << marker;
  click("Button2");
  EXPECT_EQ(lastRequest().size(), 12u);
  EXPECT_EQ(status(), "Übertragung erfolgreich!");
}

TEST_F(ZokxDialog, EveryUnsetListIsMarkedAtOnce) {
  open(0x17);
  click("Button2");
  for (const char* marker : kMarkers) EXPECT_TRUE(label(marker)->isVisible()) << marker;
  EXPECT_TRUE(device->requests().empty());
  // No change handlers: choosing a list leaves its marker until the next attempt.
  choose("k1_sel", 2);
  EXPECT_TRUE(label("error_k1")->isVisible());
}

TEST_F(ZokxDialog, DefaultsAfterAModelChangeLeaveShortListsWithoutSelection) {
  open(0x19);  // lists up to 6 A
  device->setModel(0x17);
  click("Button1");  // the device now says four channels, 10 A
  ASSERT_TRUE(Form1->modelFlags().model_4ch_10a);
  click("Button3");
  for (const char* name : {"k1_sel", "k2_sel", "k3_sel", "k4_sel"}) {
    EXPECT_EQ(list(name)->currentIndex(), -1) << name;
  }
}

TEST_F(ZokxDialog, TwoChannelReplyHidesChannelsAtOnceEvenWithAWrongCheckByte) {
  open(0x17);
  device->setModel(0x11);
  device->setFaults(sim::kSilence | sim::kBadChecksum);
  click("Button1");
  EXPECT_TRUE(dialog()->Timer1->isActive());
  EXPECT_TRUE(Form1->modelFlags().model_2ch_6a);
  for (const char* name : kBackChannel) EXPECT_TRUE(widget(name)->isHidden()) << name;
  // A later four-channel reply does not bring them back.
  device->setModel(0x17);
  device->setFaults(sim::kSilence);
  runRetryTicks(1);
  EXPECT_EQ(status(), "Übertragung erfolgreich!");
  EXPECT_TRUE(Form1->modelFlags().model_4ch_10a);
  for (const char* name : kBackChannel) EXPECT_TRUE(widget(name)->isHidden()) << name;
}

TEST_F(ZokxDialog, ClosingHandsThePortBackAndEmptiesTheDialog) {
  open(0x17);
  click("Button1");
  ASSERT_EQ(list("k1_sel")->currentText(), "10");
  click("Button2");
  for (const char* name : {"k1_sel", "pgood_sel_"}) list(name)->setCurrentIndex(-1);
  click("Button2");  // markers up
  dialog()->schliessenClick();
  EXPECT_FALSE(dialog()->isVisible());
  EXPECT_TRUE(Form1->isEnabled());
  EXPECT_TRUE(Form1->Timer1->isActive());
  EXPECT_TRUE(Form1->portOpen());

  Form1->Button1Click();
  for (const char* name : {"k1_sel", "k2_sel", "k3_sel", "k4_sel", "pgood_sel_", "abschaltzeit"}) {
    EXPECT_EQ(list(name)->currentIndex(), -1) << name;
  }
  for (const char* name : kBoxes) EXPECT_FALSE(box(name)->isChecked()) << name;
  for (const char* name : kMarkers) EXPECT_FALSE(label(name)->isVisible()) << name;
  EXPECT_FALSE(label("status")->isVisible());
  EXPECT_EQ(label("sw")->text(), "");

  // The main window monitors again once the dialog is closed.
  dialog()->close();
  device->setFaults(0);
  EXPECT_TRUE(waitFor([] { return !Form1->findChild<QLabel*>("uin")->text().isEmpty(); }));
}

TEST_F(ZokxDialog, ThumbnailOpensTheCharacteristicOnTop) {
  open(0x17);
  auto* thumbnail = control<SvgPicture>(dialog(), "Image2");
  EXPECT_EQ(thumbnail->geometry(), QRect(328, 232, 313, 193));
  EXPECT_EQ(thumbnail->toolTip(), "Vergrößern");
  EXPECT_EQ(thumbnail->cursor().shape(), Qt::PointingHandCursor);
  EXPECT_TRUE(thumbnail->isValid());
  QTest::mouseClick(thumbnail, Qt::LeftButton);
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_TRUE(Form2->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  const QPoint where = Form2->pos();
  QTest::mouseClick(thumbnail, Qt::LeftButton);
  EXPECT_TRUE(Form2->isVisible());
  EXPECT_EQ(Form2->pos(), where);
  EXPECT_EQ(QApplication::topLevelWidgets().count(Form2), 1);
  EXPECT_TRUE(dialog()->isVisible());
}

TEST_F(ZokxDialog, WindowAsDesigned) {
  EXPECT_EQ(dialog()->windowTitle(), "Konfiguration");  // the German title from start on
  EXPECT_EQ(dialog()->centralWidget()->size(), QSize(964, 462));
  EXPECT_EQ(list("abschaltzeit")->count(), 9);
  EXPECT_TRUE(list("pgood_sel_")->isEditable());
  EXPECT_FALSE(list("k1_sel")->isEditable());
  EXPECT_TRUE(label("f11")->font().bold());
  EXPECT_FALSE(dialog()->Timer1->isActive());
  EXPECT_EQ(dialog()->Timer1->interval(), 500);
  EXPECT_EQ(dialog()->Timer3->interval(), 5000);
}

}  // namespace
}  // namespace zfuse
