// What the main window tells assistive technology, its keyboard reach, and pictures that
// stay sharp at any scale factor.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "app/zokm32.h"
#include "config/parameter2.h"
#include "tests/support/program_fixture.h"
#include "tests/support/telegrams.h"
#include "windowkit/svgpicture.h"

namespace zfuse {
namespace {

class Accessibility : public test::ProgramFixture {
 protected:
  QString nameOf(const char* control) { return control_(control)->accessibleName(); }
  QWidget* control_(const char* name) { return control<QWidget>(Form1, name); }
  void show(const std::vector<uint8_t>& telegram) {
    for (uint8_t b : telegram) Form1->baue_string(b);
  }
};

TEST_F(Accessibility, LampsSayWhatTheyShowInTheCurrentLanguage) {
  show(test::kExampleTelegram);  // warning of channel 1 only
  EXPECT_EQ(nameOf("mb1_1"), "Überstrom Kanal 1: an");
  EXPECT_EQ(nameOf("mb1_3"), "Überstrom Kanal 2: aus");
  EXPECT_EQ(nameOf("mb1_2"), "Kanal 1 ausgelöst: aus");
  EXPECT_EQ(nameOf("mb2_2"), "Gerätefehler: aus");
  Form1->englischClick();
  EXPECT_EQ(nameOf("mb1_1"), "overcurrent channel 1: on");
  EXPECT_EQ(nameOf("mb2"), "Uin < power good: off");
  Form1->Timer2Timer();  // a silent second blanks the lamps
  Form1->Timer2Timer();
  EXPECT_EQ(nameOf("mb1_1"), "overcurrent channel 1: off");
}

TEST_F(Accessibility, ValuesCarryTheirRowsAndFlagsTheirLanguage) {
  EXPECT_EQ(nameOf("i1"), "aktueller Strom Kanal 1");
  EXPECT_EQ(nameOf("i4_max"), "maximaler Strom Kanal 4");
  EXPECT_EQ(nameOf("i2_endwert"), "I Nenn Kanal 2");
  EXPECT_EQ(nameOf("uin_min"), "minimale Eingangsspannung");
  EXPECT_EQ(nameOf("deutsch"), "Deutsch");
  EXPECT_EQ(nameOf("englisch"), "English");
  Form1->englischClick();
  EXPECT_EQ(nameOf("i1"), "output current channel 1");
  EXPECT_EQ(nameOf("uin"), "input voltage");
}

TEST_F(Accessibility, PortChoiceAndConfigurationButtonByKeyboard) {
  QApplication::setActiveWindow(Form1);
  auto* ports = control<QComboBox>(Form1, "comport");
  auto* button = control<QPushButton>(Form1, "Button1");
  EXPECT_TRUE(ports->focusPolicy() & Qt::TabFocus);
  EXPECT_TRUE(button->focusPolicy() & Qt::TabFocus);
  ports->setFocus();
  ASSERT_TRUE(ports->hasFocus());
  QTest::keyClick(ports, Qt::Key_Down);  // the next port, chosen with the keyboard
  EXPECT_EQ(ports->currentText(), "COM2");
  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
  EXPECT_TRUE(button->hasFocus());
  QTest::keyClick(button, Qt::Key_Space);
  EXPECT_TRUE(parameter_zokx->isVisible());
}

// Run once at scale 1 and once more under QT_SCALE_FACTOR=2 (see CMakeLists).
TEST_F(Accessibility, PicturesAreDrawnForTheScreensPixelRatio) {
  int pictures = 0;
  for (const QLabel* label : Form1->findChildren<QLabel*>()) {
    if (label->property("svg").toString().isEmpty()) continue;
    ++pictures;
    const QPixmap pixmap = label->pixmap();
    const qreal ratio = label->devicePixelRatioF();
    EXPECT_EQ(pixmap.devicePixelRatio(), ratio) << label->objectName().toStdString();
    const QSize expected = label->hasScaledContents() ? label->size() : QSize(32, 32);
    EXPECT_EQ(pixmap.size(), expected * ratio) << label->objectName().toStdString();
  }
  EXPECT_EQ(pictures, 32);  // 10 lamps of three pictures, two flags
  // The thumbnail and the characteristic are vector pictures drawn at paint time.
  EXPECT_TRUE(control<SvgPicture>(parameter_zokx, "Image2")->isValid());
}

}  // namespace
}  // namespace zfuse
