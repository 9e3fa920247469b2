// The main window in-process against the simulated fuse: real serial code, real timers.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTimer>

#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "link/command.h"
#include "link/connection.h"
#include "monitor/statustelegram.h"
#include "tests/support/program_fixture.h"
#include "tests/support/telegrams.h"
#include "windows/grafik.h"
#include "windows/information.h"

namespace zfuse {
namespace {

const std::vector<uint8_t>& kExample = test::kExampleTelegram;

std::vector<uint8_t> withType(uint8_t type) {
  auto t = kExample;
  t[1] = type;  // the type byte is outside the checksum
  return t;
}

const char* const kValueLabels[] = {
    "i1",     "i2",  "i3",      "i4",         "i1_max",     "i2_max",     "i3_max",
    "i4_max", "uin", "uin_min", "i1_endwert", "i2_endwert", "i3_endwert", "i4_endwert"};
const char* const kWhiteFills[] = {"mb1_1_w", "mb1_2_w", "mb1_3_w", "mb1_4_w", "mb1_5_w",
                                   "mb1_6_w", "mb1_7_w", "mb1_8_w", "mb2_1_w", "mb2_2_w"};
const char* const kLitFills[] = {"mb1_1_g", "mb1_2_r", "mb1_3_g", "mb1_4_r", "mb1_5_g",
                                 "mb1_6_r", "mb1_7_g", "mb1_8_r", "mb2_1_g", "mb2_2_g"};

class MainWindow : public test::ProgramFixture {
 protected:
  QString text(const char* name) { return control<QLabel>(Form1, name)->text(); }
  bool shown(const char* name) { return control<QWidget>(Form1, name)->isVisible(); }
  void send(const std::vector<uint8_t>& telegram) {
    ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
    device->sendRaw(telegram);
  }
};

TEST_F(MainWindow, ExampleTelegramShowsItsTextsAndLamps) {
  send(kExample);
  ASSERT_TRUE(waitFor([&] { return text("i1") == "1,23 Adc"; }));
  const std::pair<const char*, const char*> expected[] = {
      {"i1", "1,23 Adc"},       {"i2", "0,50 Adc"},      {"i3", "0,00 Adc"},
      {"i4", "10,0 Adc"},       {"i1_max", "2,00 Adc"},  {"i2_max", "0,50 Adc"},
      {"i3_max", "0,00 Adc"},   {"i4_max", "10,5 Adc"},  {"uin", "24,0 Vdc"},
      {"uin_min", "23,5 Vdc"},  {"i1_endwert", "6 Adc"}, {"i2_endwert", "10 Adc"},
      {"i3_endwert", "10 Adc"}, {"i4_endwert", "2 Adc"}};
  for (const auto& [name, value] : expected) EXPECT_EQ(text(name), value) << name;
  // Warning of channel 1 lit, everything else white.
  EXPECT_TRUE(shown("mb1_1_g"));
  EXPECT_FALSE(shown("mb1_1_w"));
  for (int lamp = 1; lamp < 10; ++lamp) {
    EXPECT_TRUE(shown(kWhiteFills[lamp])) << kWhiteFills[lamp];
    EXPECT_FALSE(shown(kLitFills[lamp])) << kLitFills[lamp];
  }
  EXPECT_FALSE(shown("comport"));
  EXPECT_TRUE(shown("a"));
  EXPECT_TRUE(Form1->modelFlags().model_4ch_10a);
}

TEST_F(MainWindow, LampBitsOfChannelAndSupplyBytes) {
  auto t = kExample;
  t[2] = 0x03;  // warning and trip of channel 1
  t[3] = 0x02;  // hardware fault
  t[28] = xorBytes(t.data(), 2, 27);
  send(t);
  ASSERT_TRUE(waitFor([&] { return shown("mb1_2_r"); }));
  EXPECT_TRUE(shown("mb1_1_g"));
  EXPECT_TRUE(shown("mb2_2_g"));
  EXPECT_TRUE(shown("mb2_1_w"));
  EXPECT_FALSE(shown("mb2_1_g"));
}

TEST_F(MainWindow, TwoChannelTelegramHidesChannelsThreeAndFourForGood) {
  send(kExample);
  ASSERT_TRUE(waitFor([&] { return text("i3") == "0,00 Adc"; }));
  device->sendRaw(withType(0x13));
  ASSERT_TRUE(waitFor([&] { return !shown("k3"); }));
  for (const char* name : {"i3", "i4", "i3_max", "i4_max", "i3_endwert", "i4_endwert"}) {
    EXPECT_EQ(text(name), "") << name;
  }
  for (const char* name :
       {"k3",      "k4",      "k1_3",       "k1_4",       "mb1_5",      "mb1_5_w",   "mb1_5_g",
        "mb1_6",   "mb1_6_w", "mb1_6_r",    "mb1_7",      "mb1_7_w",    "mb1_7_g",   "mb1_8",
        "mb1_8_w", "mb1_8_r", "Labelmb1_5", "Labelmb1_6", "Labelmb1_7", "Labelmb1_8"}) {
    EXPECT_FALSE(shown(name)) << name;
  }
  EXPECT_EQ(text("i1"), "1,23 Adc");
  EXPECT_TRUE(Form1->modelFlags().model_2ch_10a);

  // A four-channel telegram brings values and fills back, not outlines and captions.
  device->sendRaw(kExample);
  ASSERT_TRUE(waitFor([&] { return text("i3") == "0,00 Adc"; }));
  EXPECT_EQ(text("i4_endwert"), "2 Adc");
  for (const char* name : {"mb1_5_w", "mb1_6_w", "mb1_7_w", "mb1_8_w"}) {
    EXPECT_TRUE(shown(name)) << name;
  }
  for (const char* name :
       {"k3", "k4", "k1_3", "k1_4", "mb1_5", "mb1_8", "Labelmb1_5", "Labelmb1_8"}) {
    EXPECT_FALSE(shown(name)) << name;
  }
}

TEST_F(MainWindow, StandardModelShowsTwoChannels) {
  send(withType(0x15));
  ASSERT_TRUE(waitFor([&] { return !shown("k3"); }));
  EXPECT_TRUE(Form1->modelFlags().model_standard);
  EXPECT_EQ(text("i2"), "0,50 Adc");
  EXPECT_EQ(text("i3"), "");
}

TEST_F(MainWindow, WrongChecksumKeepsTheDisplayButSwitchesTheModel) {
  send(kExample);
  ASSERT_TRUE(waitFor([&] { return text("i1") == "1,23 Adc"; }));
  auto bad = withType(0x11);
  bad[5] = 0x7C;  // 1,24 A, but the check byte still says 1,23
  device->sendRaw(bad);
  ASSERT_TRUE(waitFor([] { return Form1->modelFlags().model_2ch_6a; }));
  EXPECT_EQ(text("i1"), "1,23 Adc");
  EXPECT_TRUE(shown("k3"));
}

TEST_F(MainWindow, SilentLineBlanksTheDisplayWithinTwoSeconds) {
  send(kExample);
  ASSERT_TRUE(waitFor([&] { return text("i1") == "1,23 Adc"; }));
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(waitFor([&] { return text("uin").isEmpty(); }, 3000));
  EXPECT_LE(clock.elapsed(), 2500);  // one to two watchdog periods, and some slack
  for (const char* name : kValueLabels) EXPECT_EQ(text(name), "") << name;
  for (const char* name : kWhiteFills) EXPECT_TRUE(shown(name)) << name;
  for (const char* name : kLitFills) EXPECT_FALSE(shown(name)) << name;
  // The port list is back, so that another port can be chosen; the next telegram
  // hides it again.
  EXPECT_FALSE(shown("a"));
  EXPECT_TRUE(shown("comport"));
  send(kExample);
  ASSERT_TRUE(waitFor([&] { return text("i1") == "1,23 Adc"; }));
  EXPECT_TRUE(shown("a"));
  EXPECT_FALSE(shown("comport"));
}

TEST_F(MainWindow, ActivityIndicatorBlinksWithTelegrams) {
  device->setFaults(0);  // telegrams every 100 ms
  ASSERT_TRUE(waitFor([&] { return shown("a"); }));
  auto* a = control<QRadioButton>(Form1, "a");
  // Every change of the mark, with the time it happened.
  QElapsedTimer clock;
  std::vector<std::pair<qint64, bool>> changes;
  QObject::connect(a, &QRadioButton::toggled,
                   [&](bool marked) { changes.emplace_back(clock.elapsed(), marked); });
  clock.start();
  const bool markedAtStart = a->isChecked();
  QTest::qWait(3000);
  QObject::disconnect(a, &QRadioButton::toggled, nullptr, nullptr);
  ASSERT_GE(changes.size(), 10u);  // about three blinks a second, each on and off
  qint64 markedTime = 0;
  qint64 since = 0;
  bool marked = markedAtStart;
  for (const auto& [at, nowMarked] : changes) {
    if (marked) markedTime += at - since;
    since = at;
    marked = nowMarked;
  }
  // Marked for about 250 ms of every 300 ms.
  EXPECT_GT(markedTime * 10, since * 6);
  EXPECT_LT(markedTime, since);
}

TEST_F(MainWindow, BlinkTimerIsNotRestartedByAFurtherTelegram) {
  Form1->Timer3->start();
  QTest::qWait(150);
  const int before = Form1->Timer3->remainingTime();
  for (uint8_t b : kExample) Form1->baue_string(b);
  EXPECT_TRUE(control<QRadioButton>(Form1, "a")->isChecked());
  EXPECT_LE(Form1->Timer3->remainingTime(), before);
  EXPECT_EQ(text("i1"), "1,23 Adc");
}

TEST_F(MainWindow, InfoWindowOpensWhileMonitoringGoesOn) {
  Form1->info1Click();
  EXPECT_TRUE(Info->isVisible());
  EXPECT_EQ(control<QLabel>(Info, "StaticText1")->text(), "Version 1.1.9");
  EXPECT_TRUE(Form1->isEnabled());
  send(kExample);
  EXPECT_TRUE(waitFor([&] { return text("i1") == "1,23 Adc"; }));
}

TEST_F(MainWindow, ProgramStartState) {
  EXPECT_EQ(QApplication::applicationName(), "Electronic fuse");
  EXPECT_EQ(Form1->windowTitle(), "Visualisierung");
  EXPECT_EQ(text("Label16"), "Zokara Electronic Fuse");
  EXPECT_TRUE(sprache_deutsch);
  EXPECT_FALSE(sprache_englisch);
  EXPECT_TRUE(Form1->modelFlags().model_4ch_10a);
  EXPECT_TRUE(shown("comport"));
  EXPECT_FALSE(shown("a"));
  auto* comport = control<QComboBox>(Form1, "comport");
  ASSERT_EQ(comport->count(), 11);
  EXPECT_EQ(comport->itemText(0), "COM1");
  EXPECT_EQ(comport->itemText(10), "COM11");
  EXPECT_EQ(comport->currentIndex(), 0);
  for (const char* name : kValueLabels) EXPECT_EQ(text(name), "") << name;
  EXPECT_EQ(Form1->centralWidget()->size(), QSize(1031, 317));
  EXPECT_TRUE(Form1->Timer1->isActive());
  EXPECT_TRUE(Form1->Timer2->isActive());
  EXPECT_EQ(Form1->Timer1->interval(), 50);
  EXPECT_EQ(Form1->Timer2->interval(), 1000);
  EXPECT_EQ(Form1->Timer3->interval(), 250);
  for (QWidget* w : {static_cast<QWidget*>(para), static_cast<QWidget*>(Info),
                     static_cast<QWidget*>(parameter_zokx), static_cast<QWidget*>(Form2)}) {
    EXPECT_FALSE(w->isVisible());
  }
}

TEST_F(MainWindow, ControlsStandWhereTheLayoutPutsThem) {
  const struct {
    const char* name;
    QPoint at;
    QSize size;  // empty: any size
  } cases[] = {
      {"Bevel6", {14, 16}, {235, 145}},
      {"l", {262, 16}, {235, 145}},
      {"Bevel5", {512, 16}, {73, 145}},
      {"Bevel1", {14, 184}, {235, 73}},
      {"Bevel3", {262, 184}, {235, 73}},
      {"Bevel4", {600, 16}, {417, 241}},
      {"Label1", {32, 24}, {}},
      {"Label2", {280, 24}, {}},
      {"Label3", {520, 24}, {}},
      {"Label15", {32, 192}, {}},
      {"Label7", {280, 192}, {}},
      {"Label9", {616, 24}, {}},
      {"Label10", {816, 24}, {}},
      {"k1", {32, 56}, {}},
      {"k4", {32, 128}, {}},
      {"i1", {120, 56}, {}},
      {"i4", {120, 128}, {}},
      {"k1_1", {280, 56}, {}},
      {"k1_4", {280, 128}, {}},
      {"i1_max", {368, 56}, {}},
      {"i4_max", {368, 128}, {}},
      {"i1_endwert", {522, 56}, {}},
      {"i4_endwert", {522, 128}, {}},
      {"uin", {32, 224}, {}},
      {"uin_min", {280, 224}, {}},
      {"Label16", {264, 270}, {}},
      {"deutsch", {720, 273}, {33, 33}},
      {"englisch", {760, 273}, {33, 33}},
      {"Button1", {872, 273}, {147, 33}},
      {"Labelmb2_1", {616, 192}, {}},
      {"Labelmb2_2", {616, 216}, {}},
  };
  for (const auto& c : cases) {
    const QWidget* w = control<QWidget>(Form1, c.name);
    EXPECT_EQ(w->pos(), c.at) << c.name;
    if (!c.size.isEmpty()) {
      EXPECT_EQ(w->size(), c.size) << c.name;
    }
  }
  // Every lamp: white fill, coloured fill and outline stacked on one 17 x 17 square.
  const struct {
    const char* fills[2];
    const char* outline;
    QPoint at;
  } lamps[] = {
      {{"mb1_1_w", "mb1_1_g"}, "mb1_1", {785, 58}},  {{"mb1_2_w", "mb1_2_r"}, "mb1_2", {983, 58}},
      {{"mb1_3_w", "mb1_3_g"}, "mb1_3", {785, 82}},  {{"mb1_4_w", "mb1_4_r"}, "mb1_4", {983, 82}},
      {{"mb1_5_w", "mb1_5_g"}, "mb1_5", {785, 106}}, {{"mb1_6_w", "mb1_6_r"}, "mb1_6", {983, 106}},
      {{"mb1_7_w", "mb1_7_g"}, "mb1_7", {785, 130}}, {{"mb1_8_w", "mb1_8_r"}, "mb1_8", {983, 130}},
      {{"mb2_1_w", "mb2_1_g"}, "mb2", {785, 194}},   {{"mb2_2_w", "mb2_2_g"}, "mb2_2", {785, 218}}};
  const QColor white(251, 249, 250), yellow(241, 220, 27), red(211, 47, 40);
  for (const auto& lamp : lamps) {
    for (const char* name : {lamp.fills[0], lamp.fills[1], lamp.outline}) {
      EXPECT_EQ(control<QWidget>(Form1, name)->geometry(), QRect(lamp.at, QSize(17, 17))) << name;
    }
    const QImage whiteFill = control<QLabel>(Form1, lamp.fills[0])->pixmap().toImage();
    const QImage litFill = control<QLabel>(Form1, lamp.fills[1])->pixmap().toImage();
    EXPECT_EQ(whiteFill.pixelColor(8, 8), white) << lamp.fills[0];
    const bool isRed = QByteArray(lamp.fills[1]).endsWith("_r");
    EXPECT_EQ(litFill.pixelColor(8, 8), isRed ? red : yellow) << lamp.fills[1];
    const QImage outline = control<QLabel>(Form1, lamp.outline)->pixmap().toImage();
    EXPECT_EQ(outline.pixelColor(0, 8), QColor(36, 39, 40)) << lamp.outline;
    EXPECT_EQ(outline.pixelColor(8, 8).alpha(), 0) << lamp.outline;
  }
}

TEST_F(MainWindow, PortChosenBeforeTheFirstFrameIsOpenedOnTheNextTick) {
  test::PtyPair other;
  other.linkAs("COM4");
  control<QComboBox>(Form1, "comport")->setCurrentIndex(3);
  ASSERT_TRUE(waitFor([] { return Form1->portChoice().com_name == "COM4"; }));
  other.send(kExample);
  EXPECT_TRUE(waitFor([&] { return text("i1") == "1,23 Adc"; }));
}

// Configuration launch by model.
struct LaunchCase {
  const char* name;
  std::optional<uint8_t> type;  // nullopt: no telegram since start
  int front;                    // entries of channels 1 and 2 ("OFF" and 1 ... n)
  int back;                     // entries of channels 3 and 4
  bool backHidden;
};

void PrintTo(const LaunchCase& c, std::ostream* os) {
  *os << c.name;
}

class ConfigurationLaunch : public test::ProgramFixture,
                            public ::testing::WithParamInterface<LaunchCase> {};

TEST_P(ConfigurationLaunch, PreparesTheFuseVariantListsByModel) {
  const LaunchCase& c = GetParam();
  if (c.type) Form1->modelFlags().set(*c.type);
  for (int opening = 0; opening < 2; ++opening) {
    Form1->Button1Click();
    ASSERT_TRUE(parameter_zokx->isVisible());
    EXPECT_TRUE(parameter_zokx->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(para->isVisible());
    const char* lists[] = {"k1_sel", "k2_sel", "k3_sel", "k4_sel"};
    for (int ch = 0; ch < 4; ++ch) {
      auto* list = control<QComboBox>(parameter_zokx, lists[ch]);
      const int last = ch < 2 ? c.front : c.back;
      ASSERT_EQ(list->count(), last + 1) << lists[ch];
      EXPECT_EQ(list->itemText(0), "OFF");
      EXPECT_EQ(list->itemText(last), QString::number(last));
      EXPECT_EQ(list->currentIndex(), -1);
    }
    for (const char* name :
         {"k3_sel", "k4_sel", "Label13", "Label14", "f3", "f4", "f7", "f8", "port1_byte1_10",
          "port1_byte1_20", "port1_byte1_40", "port1_byte1_80"}) {
      EXPECT_EQ(control<QWidget>(parameter_zokx, name)->isVisible(), !c.backHidden) << name;
    }
    EXPECT_FALSE(Form1->isEnabled());
    EXPECT_FALSE(Form1->Timer1->isActive());
    EXPECT_FALSE(Form1->portOpen());
    control<QComboBox>(parameter_zokx, "k1_sel")->setCurrentIndex(2);
    parameter_zokx->close();
    EXPECT_TRUE(Form1->isEnabled());
    EXPECT_TRUE(Form1->Timer1->isActive());
    EXPECT_TRUE(Form1->portOpen());
  }
}

INSTANTIATE_TEST_SUITE_P(ByModel, ConfigurationLaunch,
                         ::testing::Values(LaunchCase{"start", std::nullopt, 10, 10, false},
                                           LaunchCase{"4ch10a", 0x17, 10, 10, false},
                                           LaunchCase{"4ch6a", 0x19, 6, 6, false},
                                           LaunchCase{"2ch10a", 0x13, 10, 6, true},
                                           LaunchCase{"2ch6a", 0x11, 6, 6, true}),
                         [](const auto& param) { return std::string(param.param.name); });

using ConfigurationHandOver = test::ProgramFixture;

TEST_F(ConfigurationHandOver, StandardModelOpensTheStandardDialogAndFreesThePort) {
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  Form1->modelFlags().set(0x15);
  Form1->Button1Click();
  EXPECT_TRUE(para->isVisible());
  EXPECT_TRUE(para->windowFlags() & Qt::WindowStaysOnTopHint);
  EXPECT_FALSE(parameter_zokx->isVisible());
  EXPECT_EQ(control<QComboBox>(parameter_zokx, "k1_sel")->count(), 11);  // untouched
  EXPECT_FALSE(Form1->isEnabled());
  // The dialog's transaction can have the port now.
  device->setModel(0x15);
  EXPECT_FALSE(command(Form1->portChoice().com_name, QByteArray("\xFF\xFC", 2)).isEmpty());
  para->close();
  EXPECT_TRUE(Form1->isEnabled());
  EXPECT_TRUE(Form1->portOpen());
  // And the main window has it back: the transaction cannot open it any more.
  EXPECT_TRUE(command(Form1->portChoice().com_name, QByteArray("\xFF\xFC", 2)).isEmpty());
}

TEST_F(ConfigurationHandOver, DisplayEmptiesWhileADialogIsOpenAndRefillsAfter) {
  device->setFaults(0);
  ASSERT_TRUE(waitFor([this] { return !Form1->findChild<QLabel*>("uin")->text().isEmpty(); }));
  Form1->Button1Click();
  EXPECT_TRUE(waitFor([this] { return Form1->findChild<QLabel*>("uin")->text().isEmpty(); }));
  parameter_zokx->close();
  EXPECT_TRUE(waitFor([this] { return !Form1->findChild<QLabel*>("uin")->text().isEmpty(); }));
}

class Placement : public ::testing::TestWithParam<std::pair<int, int>> {
 protected:
  void TearDown() override {
    endProgram();
    setWorkAreaOverride(std::nullopt);
  }
};

TEST_P(Placement, CentredOnlyOnNarrowWorkAreas) {
  const auto [width, left] = GetParam();
  setWorkAreaOverride(QRect(0, 0, width, 768));
  startProgram();
  EXPECT_EQ(Form1->x(), left);
  EXPECT_EQ(Form1->y(), 0);
}

INSTANTIATE_TEST_SUITE_P(WorkArea, Placement,
                         ::testing::Values(std::pair{1024, (1024 - 1031) / 2},
                                           std::pair{1199, (1199 - 1031) / 2}, std::pair{1200, 0},
                                           std::pair{1280, 0}));

}  // namespace
}  // namespace zfuse
