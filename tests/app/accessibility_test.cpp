// What the main window tells assistive technology, its keyboard reach, and pictures that
// stay sharp at any scale factor.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSet>
#include <map>

#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
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

QWidget* standardDialog() {
  return para;
}
QWidget* variantDialog() {
  return parameter_zokx;
}

// Every list and check box of both dialogs is named from its group heading and row
// caption, in the language chosen, and so are the click areas.
TEST_F(Accessibility, DialogControlsAreNamedFromTheirCaptionsInBothLanguages) {
  struct Named {
    QWidget* (*dialog)();
    const char* control;
    const char* german;
    const char* english;
  };
  const Named kNamed[] = {
      {standardDialog, "k1_sel", "konfigurierter Strom [A] Kanal 1",
       "configured current [A] channel 1"},
      {standardDialog, "k2_time", "Auslösezeit [s] Kanal 2", "fuse delay [s] channel 2"},
      {standardDialog, "pgood_sel_", "Power Good Schwellwert [V]", "power good threshold [V]"},
      {standardDialog, "port2_byte1_08", "Port 2 Kanal 2 ausgelöst",
       "port 2 channel 2 open circuit"},
      {standardDialog, "port1_byte2_01", "Port 1 Uin < Power Good", "port 1 Uin < power good"},
      {standardDialog, "programmieren", "Programmierung erlauben", "programming allowed"},
      {standardDialog, "Label5", "Softwareversion", "software version"},
      {variantDialog, "k4_sel", "konfigurierter Strom [A] Kanal 4",
       "configured current [A] channel 4"},
      {variantDialog, "abschaltzeit", "Auslösezeit [s]", "fuse delay [s]"},
      {variantDialog, "port1_byte2_40", "Port 1 Ausgang invertieren", "port 1 output inverted"},
      {variantDialog, "Image2", "Auslösecharakteristik", "trip characteristic"},
      {variantDialog, "Label3", "Softwareversion", "software version"},
  };
  std::map<QWidget*, QString> german;
  for (const bool english : {false, true}) {
    english ? Form1->englischClick() : Form1->deutschClick();
    for (QWidget* dialog : {standardDialog(), variantDialog()}) {
      QList<QWidget*> controls;
      for (QComboBox* c : dialog->findChildren<QComboBox*>()) controls << c;
      for (QCheckBox* c : dialog->findChildren<QCheckBox*>()) controls << c;
      EXPECT_EQ(controls.size(), dialog == para ? 33 : 18);
      QSet<QString> names;
      for (QWidget* c : controls) {
        const QString name = c->accessibleName();
        const std::string where = dialog->objectName().toStdString() + " " +
                                  c->objectName().toStdString() + (english ? " en" : " de");
        EXPECT_FALSE(name.isEmpty()) << where;
        EXPECT_FALSE(names.contains(name)) << where << ": " << name.toStdString();
        names.insert(name);
        if (english) {
          EXPECT_NE(name, german[c]) << where;  // renamed by the switch
        } else {
          german[c] = name;
        }
      }
    }
    for (const Named& n : kNamed) {
      EXPECT_EQ(control<QWidget>(n.dialog(), n.control)->accessibleName(),
                QString::fromUtf8(english ? n.english : n.german))
          << n.control;
    }
  }
}

// Row captions are the buddies of their controls; a click on the caption of a lone check
// box ticks it and a second click clears it; a caption of two boxes ticks neither.
TEST_F(Accessibility, RowCaptionsBelongToTheirControlsAndTickALoneBox) {
  struct Buddy {
    QWidget* (*dialog)();
    const char* caption;
    const char* control;
  };
  const Buddy kBuddies[] = {
      {standardDialog, "Label6", "k1_sel"},      {standardDialog, "Label14", "k4_sel"},
      {standardDialog, "Label15", "pgood_sel_"}, {standardDialog, "f1", "port1_byte1_01"},
      {standardDialog, "f12", "programmieren"},  {standardDialog, "StaticText10", "loeschen"},
      {variantDialog, "Label4", "abschaltzeit"}, {variantDialog, "f9", "port1_byte2_01"},
      {variantDialog, "f12", "programmieren"},
  };
  for (const Buddy& b : kBuddies) {
    EXPECT_EQ(control<QLabel>(b.dialog(), b.caption)->buddy(),
              control<QWidget>(b.dialog(), b.control))
        << b.caption;
  }

  struct CaptionClick {
    QWidget* (*dialog)();
    const char* caption;
    std::vector<const char*> ticked;
    std::vector<const char*> untouched;
  };
  const CaptionClick kClicks[] = {
      {variantDialog, "f1", {"port1_byte1_01"}, {"port1_byte1_02"}},
      {variantDialog, "f11", {"port1_byte2_40"}, {}},
      {variantDialog, "f12", {"programmieren"}, {}},
      {standardDialog, "f12", {"programmieren"}, {"port2_byte2_80"}},
      {standardDialog, "f1", {}, {"port1_byte1_01", "port2_byte1_01"}},
  };
  for (const CaptionClick& c : kClicks) {
    QWidget* dialog = c.dialog();
    dialog->show();
    auto* caption = control<QLabel>(dialog, c.caption);
    for (const bool expected : {true, false}) {
      QTest::mouseClick(caption, Qt::LeftButton);
      for (const char* box : c.ticked) {
        EXPECT_EQ(control<QCheckBox>(dialog, box)->isChecked(), expected) << c.caption;
      }
      for (const char* box : c.untouched) {
        EXPECT_FALSE(control<QCheckBox>(dialog, box)->isChecked()) << c.caption << " " << box;
      }
    }
    dialog->close();
  }
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
