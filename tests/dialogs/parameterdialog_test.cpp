// The standard configuration dialog in-process: the real command transaction on the
// simulated fuse's pseudo-terminal, timers driven by their handlers.

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "monitor/statustelegram.h"
#include "tests/support/dialog_fixture.h"

namespace zfuse {
namespace {

using Bytes = std::vector<uint8_t>;

const char* const kEventBoxes[] = {
    "port1_byte1_01", "port1_byte1_02", "port1_byte1_04", "port1_byte1_08", "port1_byte1_10",
    "port1_byte1_20", "port1_byte1_40", "port1_byte1_80", "port1_byte2_01", "port1_byte2_02",
    "port1_byte2_80", "port2_byte1_01", "port2_byte1_02", "port2_byte1_04", "port2_byte1_08",
    "port2_byte1_10", "port2_byte1_20", "port2_byte1_40", "port2_byte1_80", "port2_byte2_01",
    "port2_byte2_02", "port2_byte2_80", "programmieren",  "loeschen"};
const char* const kMarkers[] = {"error_k1", "error_k2", "error_k3", "error_k4", "error_pg"};

class StandardDialog : public test::DialogFixture {
 protected:
  StandardDialog() { simModel = 0x15; }
  ConfigDialog* dialog() override { return para; }

  void open() {
    // The main window has chosen its port on its first tick.
    ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
    Form1->modelFlags().set(0x15);
    Form1->Button1Click();
    ASSERT_TRUE(para->isVisible());
    device->clearRequests();
  }
};

TEST_F(StandardDialog, FactoryDefaultsAreWrittenByteForByte) {
  open();
  click("Button3");
  const ParameterSet p = para->parameterSet();
  EXPECT_EQ(p.current_index, (std::array<int, 4>{8, 8, 8, 8}));
  EXPECT_EQ(p.time_index, (std::array<int, 4>{0, 0, 0, 0}));
  EXPECT_EQ(list("pgood_sel_")->currentText(), "21,4");
  EXPECT_EQ(p.port1_byte1, 0x02);
  EXPECT_EQ(p.port1_byte2, 0x80);
  EXPECT_EQ(p.port2_byte1, 0x08);
  EXPECT_EQ(p.port2_byte2, 0xC0);
  EXPECT_EQ(items("k3_time"), QStringList{"0,1"});

  click("Button2");
  EXPECT_EQ(lastRequest(), (Bytes{0xFF, 0xF3, 0x88, 0x88, 0xD6, 0x02, 0x80, 0x08, 0xC0, 0x00, 0x00,
                                  0xDD, 0xEE, 0xAF}));
  EXPECT_EQ(status(), "Übertragung erfolgreich!");
  EXPECT_EQ(statusColour(), QColor(Qt::black));
  EXPECT_TRUE(label("status")->isVisible());
  EXPECT_FALSE(para->Timer1->isActive());
  EXPECT_TRUE(para->Timer3->isActive());
  EXPECT_EQ(para->Timer3->interval(), 5000);
}

TEST_F(StandardDialog, MixedConfigurationChosenByTheOperator) {
  open();
  choose("k1_sel", 1);
  choose("k1_time", 4);  // 1,5 s
  choose("k2_sel", 0);   // OFF: no time list
  choose("k3_sel", 8);
  choose("k4_sel", 8);
  choose("pgood_sel_", 0);
  EXPECT_TRUE(items("k2_time").isEmpty());
  click("Button2");
  EXPECT_EQ(lastRequest(), (Bytes{0xFF, 0xF3, 0x01, 0x88, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00,
                                  0xDD, 0xEE, 0x76}));
  EXPECT_EQ(device->configuration(), (Bytes{0x01, 0x88, 0xC8, 0x00, 0x00, 0x00, 0x00, 0x04, 0x00}));
}

TEST_F(StandardDialog, TimeListFollowsTheOperatorsCurrentChoice) {
  open();
  choose("k1_sel", 1);
  EXPECT_EQ(items("k1_time"), (QStringList{"0,1", "0,2", "0,5", "1,0", "1,5"}));
  EXPECT_EQ(list("k1_time")->currentText(), "1,5");
  choose("k1_time", 0);
  choose("k1_sel", 2);  // the chosen time is replaced by the table's default
  EXPECT_EQ(items("k1_time"), (QStringList{"0,1", "0,2", "0,5"}));
  EXPECT_EQ(list("k1_time")->currentText(), "0,5");
  for (int current : {5, 6, 7, 8}) {
    choose("k1_sel", current);
    EXPECT_EQ(items("k1_time"), QStringList{"0,1"});
    EXPECT_EQ(list("k1_time")->currentIndex(), 0);
  }
  choose("k1_sel", 0);
  EXPECT_TRUE(items("k1_time").isEmpty());
  EXPECT_EQ(list("k1_time")->currentIndex(), -1);

  // A selection made by code runs no handler.
  list("k2_sel")->setCurrentIndex(3);
  EXPECT_TRUE(items("k2_time").isEmpty());
}

TEST_F(StandardDialog, ListsHoldTheirEntries) {
  open();
  EXPECT_EQ(items("k1_sel"), (QStringList{"OFF", "1", "2", "3", "4", "5", "6", "7", "8"}));
  const QStringList thresholds = items("pgood_sel_");
  ASSERT_EQ(thresholds.size(), 41);
  EXPECT_EQ(thresholds.front(), "20,0");
  EXPECT_EQ(thresholds[14], "21,4");
  EXPECT_EQ(thresholds.back(), "24,0");
  EXPECT_EQ(para->windowTitle(), "Parametrierung");
  EXPECT_FALSE(box("loeschen")->isVisible());
  EXPECT_FALSE(box("loeschen")->isEnabled());
  EXPECT_FALSE(label("StaticText10")->isVisible());
}

TEST_F(StandardDialog, ReadFillsEveryControlAsTheReplySays) {
  // Currents 1, 2, 5, OFF; 21,4 V; event bytes with the bits the dialog must not take;
  // times 4 (1,5 s) and 2 (0,5 s), channel 3 time 1 which its single-entry list lacks.
  device->setConfiguration({0x21, 0x05, 214, 0x5A, 0xC3, 0xA5, 0x41, 0x24, 0x01});
  open();
  click("Button1");
  EXPECT_EQ(lastRequest(), (Bytes{0xFF, 0xFC}));
  EXPECT_EQ(status(), "Übertragung erfolgreich!");
  EXPECT_EQ(statusColour(), QColor(Qt::black));
  EXPECT_EQ(list("k1_sel")->currentText(), "1");
  EXPECT_EQ(list("k2_sel")->currentText(), "2");
  EXPECT_EQ(list("k3_sel")->currentText(), "5");
  EXPECT_EQ(list("k4_sel")->currentText(), "OFF");
  EXPECT_EQ(list("k1_time")->currentText(), "1,5");
  EXPECT_EQ(items("k2_time"), (QStringList{"0,1", "0,2", "0,5"}));
  EXPECT_EQ(list("k2_time")->currentText(), "0,5");
  EXPECT_EQ(items("k3_time"), QStringList{"0,1"});
  EXPECT_EQ(list("k3_time")->currentIndex(), -1);
  EXPECT_TRUE(items("k4_time").isEmpty());
  EXPECT_EQ(list("pgood_sel_")->currentText(), "21,4");
  const ParameterSet p = para->parameterSet();
  EXPECT_EQ(p.port1_byte1, 0x5A);
  EXPECT_EQ(p.port1_byte2, 0x83);  // 0x40 of byte 6 is not taken: "loeschen" stays clear
  EXPECT_FALSE(box("loeschen")->isChecked());
  EXPECT_EQ(p.port2_byte1, 0xA5);
  EXPECT_EQ(p.port2_byte2, 0x41);
  EXPECT_TRUE(box("programmieren")->isChecked());

  // The version shows only once the hidden area is clicked, and goes with the clean-up.
  EXPECT_FALSE(label("sw")->isVisible());
  EXPECT_EQ(label("sw")->text(), "Softwareversion: 1.07");
  QTest::mouseClick(label("Label5"), Qt::LeftButton);
  EXPECT_TRUE(label("sw")->isVisible());
  EXPECT_FALSE(label("Label5")->isVisible());
  ASSERT_TRUE(para->Timer3->isActive());
  para->Timer3Timer();
  EXPECT_EQ(label("sw")->text(), "");
  EXPECT_TRUE(label("Label5")->isVisible());
  EXPECT_FALSE(label("status")->isVisible());
  EXPECT_EQ(status(), "");
  EXPECT_FALSE(para->Timer3->isActive());
}

TEST_F(StandardDialog, ThresholdOfTheReplyIsTakenModulo200) {
  const std::pair<uint8_t, QString> cases[] = {
      {214, "21,4"}, {200, "20,0"}, {240, "24,0"}, {250, ""}};
  open();
  for (const auto& [byte, entry] : cases) {
    device->setConfiguration({0x88, 0x88, byte, 0, 0, 0, 0, 0, 0});
    click("Button1");
    ASSERT_EQ(status(), "Übertragung erfolgreich!");
    EXPECT_EQ(list("pgood_sel_")->currentText(), entry) << int(byte);
  }
}

TEST_F(StandardDialog, ButtonDuringACycleMakesOneMoreAttemptWithoutResettingIt) {
  device->setFaults(sim::kSilence | sim::kBadAck);
  open();
  click("Button3");
  click("Button2");
  runRetryTicks(5);
  click("Button2");
  EXPECT_EQ(para->retry_count, 5);
  EXPECT_TRUE(para->Timer1->isActive());
  // The device comes back: the next tick succeeds and ends the cycle.
  device->setFaults(sim::kSilence);
  runRetryTicks(1);
  EXPECT_FALSE(para->Timer1->isActive());
  EXPECT_EQ(status(), "Übertragung erfolgreich!");
  EXPECT_TRUE(para->Timer3->isActive());
}

TEST_F(StandardDialog, IncompleteDialogShowsEveryMarkerAndSendsNothing) {
  open();
  click("Button3");
  list("k3_sel")->setCurrentIndex(-1);
  list("pgood_sel_")->setCurrentIndex(-1);
  click("Button2");
  EXPECT_TRUE(device->requests().empty());
  EXPECT_TRUE(label("error_k3")->isVisible());
  EXPECT_TRUE(label("error_pg")->isVisible());
  for (const char* marker : {"error_k1", "error_k2", "error_k4"}) {
    EXPECT_FALSE(label(marker)->isVisible()) << marker;
  }
  EXPECT_EQ(status(), "Bitte alle Felder korrekt ausfüllen");
  EXPECT_EQ(statusColour(), QColor(Qt::red));
  EXPECT_FALSE(para->Timer1->isActive());

  // The operator's choice takes a marker away.
  choose("k3_sel", 2);
  EXPECT_FALSE(label("error_k3")->isVisible());
  choose("pgood_sel_", 3);
  EXPECT_FALSE(label("error_pg")->isVisible());
}

TEST_F(StandardDialog, MessagesFollowTheLanguageSetting) {
  sprache_deutsch = false;
  sprache_englisch = true;
  open();
  click("Button2");
  EXPECT_EQ(status(), "all labels fill correctly, please");
  click("Button3");
  click("Button2");
  EXPECT_EQ(status(), "transmission successful!");
  device->setFaults(sim::kSilence | sim::kBadAck);
  click("Button2");
  runRetryTicks(12);
  EXPECT_EQ(status(), "communikation error!");
}

TEST_F(StandardDialog, ClosingHandsThePortBackAndEmptiesTheDialog) {
  device->setConfiguration({0x21, 0x05, 214, 0x5A, 0xC3, 0xA5, 0x41, 0x24, 0x01});
  open();
  click("Button1");
  ASSERT_EQ(list("k1_sel")->currentText(), "1");
  click("Button2");  // nothing wrong with a write of what was read
  para->schliessenClick();
  EXPECT_FALSE(para->isVisible());
  EXPECT_TRUE(Form1->isEnabled());
  EXPECT_TRUE(Form1->Timer1->isActive());
  EXPECT_TRUE(Form1->portOpen());

  open();
  for (const char* name : {"k1_sel", "k2_sel", "k3_sel", "k4_sel", "pgood_sel_"}) {
    EXPECT_EQ(list(name)->currentIndex(), -1) << name;
  }
  for (const char* name : {"k1_time", "k2_time", "k3_time", "k4_time"}) {
    EXPECT_EQ(list(name)->count(), 0) << name;
  }
  for (const char* name : kEventBoxes) EXPECT_FALSE(box(name)->isChecked()) << name;
  for (const char* name : kMarkers) EXPECT_FALSE(label(name)->isVisible()) << name;
  EXPECT_FALSE(label("status")->isVisible());
  EXPECT_EQ(label("sw")->text(), "");

  // The main window monitors again once the dialog is closed.
  para->close();
  device->setFaults(0);
  EXPECT_TRUE(waitFor([] { return !Form1->findChild<QLabel*>("uin")->text().isEmpty(); }));
}

TEST_F(StandardDialog, RetryCycleGoesOnInTheHiddenDialog) {
  device->setFaults(sim::kSilence | sim::kNoAnswer);
  open();
  click("Button1");
  ASSERT_TRUE(para->Timer1->isActive());
  para->close();
  EXPECT_TRUE(para->Timer1->isActive());
  EXPECT_TRUE(para->read_mode);
}

class StandardDialogPlacement : public ::testing::TestWithParam<int> {
 protected:
  void TearDown() override {
    endProgram();
    setWorkAreaOverride(std::nullopt);
  }
};

TEST_P(StandardDialogPlacement, CentredOnlyOnLowWorkAreas) {
  const int height = GetParam();
  setWorkAreaOverride(QRect(0, 0, 1280, height));
  startProgram();
  const QSize outer = para->frameGeometry().size();
  if (height < 910) {
    EXPECT_EQ(para->pos(), QPoint((1280 - outer.width()) / 2, (height - outer.height()) / 2));
  } else {
    EXPECT_EQ(para->pos(), QPoint(0, 255));
  }
}

INSTANTIATE_TEST_SUITE_P(WorkAreaHeight, StandardDialogPlacement,
                         ::testing::Values(500, 900, 909, 910, 1040));

}  // namespace
}  // namespace zfuse
