// Every window can be closed and used from the keyboard, also where no window manager
// draws a close box: Esc, the menus' mnemonic letters, Ctrl+O and Ctrl+S, Return on a
// button, Tab to the flags, the thumbnail and the version area.

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QSignalSpy>

#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "tests/support/program_fixture.h"
#include "windowkit/modal.h"
#include "windows/grafik.h"
#include "windows/information.h"

namespace zfuse {
namespace {

class Keyboard : public test::ProgramFixture {
 protected:
  static void click(QWidget* window, const char* button) {
    QTest::mouseClick(control<QPushButton>(window, button), Qt::LeftButton);
  }
  static void activate(QWidget* window) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
  }
  static void pressEscape(QWidget* window) {
    activate(window);
    QTest::keyClick(window, Qt::Key_Escape);
  }
  // Opens the dialog that fits `model`, active, once the main window has its port.
  static ConfigDialog* openDialog(uint8_t model) {
    EXPECT_TRUE(waitFor([] { return Form1->portOpen(); }));
    Form1->modelFlags().set(model);
    Form1->Button1Click();
    ConfigDialog* dialog = model == kTypeStandard ? static_cast<ConfigDialog*>(para)
                                                  : static_cast<ConfigDialog*>(parameter_zokx);
    activate(dialog);
    return dialog;
  }
  // Alt and the menu's letter, then the item's letter in the menu that opened.
  static void pickFromMenu(QWidget* window, Qt::Key menuKey, Qt::Key itemKey) {
    QTest::keyClick(window, menuKey, Qt::AltModifier);
    auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
    ASSERT_TRUE(menu) << "no menu opened";
    QTest::keyClick(menu, itemKey);
  }
  // Presses Tab until `target` has the focus; false when a whole round never reaches it.
  static bool tabTo(QWidget* window, QWidget* target) {
    for (int i = 0; i < 60 && !target->hasFocus(); ++i) {
      QWidget* focus = QApplication::focusWidget();
      QTest::keyClick(focus ? focus : window, Qt::Key_Tab);
    }
    return target->hasFocus();
  }
};

// The menu letters of both languages: Alt+D / Alt+F opens "Datei" / "file".
struct MenuKeys {
  const char* language;
  Qt::Key menu, open, save, close, info;
};
const MenuKeys kMenuKeys[] = {
    {"de", Qt::Key_D, Qt::Key_F, Qt::Key_S, Qt::Key_C, Qt::Key_I},
    {"en", Qt::Key_F, Qt::Key_O, Qt::Key_S, Qt::Key_C, Qt::Key_I},
};

TEST_F(Keyboard, EscapeClosesTheCharacteristicAndTheInfoWindow) {
  for (QWidget* window : {static_cast<QWidget*>(Form2), static_cast<QWidget*>(Info)}) {
    window->show();
    pressEscape(window);
    EXPECT_FALSE(window->isVisible()) << window->objectName().toStdString();
  }
  EXPECT_TRUE(Form1->isVisible());
}

TEST_F(Keyboard, EscapeClosesADialogTheOrdinaryWay) {
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  for (ConfigDialog* dialog :
       {static_cast<ConfigDialog*>(para), static_cast<ConfigDialog*>(parameter_zokx)}) {
    Form1->modelFlags().set(dialog == para ? kTypeStandard : kType4ch10A);
    Form1->Button1Click();
    ASSERT_TRUE(dialog->isVisible());
    QSignalSpy handedBack(dialog, &ConfigDialog::deviceHandedBack);
    pressEscape(dialog);
    EXPECT_FALSE(dialog->isVisible());
    EXPECT_EQ(handedBack.count(), 1);  // the device goes back to the main window
    EXPECT_TRUE(Form1->isEnabled());
    EXPECT_TRUE(waitFor([] { return Form1->portOpen(); }));
  }
}

TEST_F(Keyboard, ControlOAndControlSOpenAndSaveInTheDialogs) {
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  std::vector<FileQuestion::Kind> asked;
  Modal::fileAnswer = [&](const FileQuestion& q) {
    asked.push_back(q.kind);
    return QString();  // the operator cancels
  };
  for (ConfigDialog* dialog :
       {static_cast<ConfigDialog*>(para), static_cast<ConfigDialog*>(parameter_zokx)}) {
    Form1->modelFlags().set(dialog == para ? kTypeStandard : kType4ch10A);
    Form1->Button1Click();
    dialog->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(dialog));
    asked.clear();
    QTest::keyClick(dialog, Qt::Key_O, Qt::ControlModifier);
    click(dialog, "Button3");  // factory settings, so that a save is not refused
    QTest::keyClick(dialog, Qt::Key_S, Qt::ControlModifier);
    EXPECT_EQ(asked, (std::vector<FileQuestion::Kind>{FileQuestion::Open, FileQuestion::Save}));
    dialog->close();
  }
  Modal::fileAnswer = nullptr;
}

TEST_F(Keyboard, MnemonicLettersOpenSaveAndCloseInBothLanguages) {
  std::vector<FileQuestion::Kind> asked;
  Modal::fileAnswer = [&](const FileQuestion& q) {
    asked.push_back(q.kind);
    return QString();  // the operator cancels
  };
  for (const MenuKeys& keys : kMenuKeys) {
    keys.language == std::string("en") ? Form1->englischClick() : Form1->deutschClick();
    for (const uint8_t model : {kTypeStandard, kType4ch10A}) {
      ConfigDialog* dialog = openDialog(model);
      asked.clear();
      pickFromMenu(dialog, keys.menu, keys.open);
      QTest::mouseClick(control<QPushButton>(dialog, "Button3"), Qt::LeftButton);
      pickFromMenu(dialog, keys.menu, keys.save);
      EXPECT_EQ(asked, (std::vector<FileQuestion::Kind>{FileQuestion::Open, FileQuestion::Save}))
          << keys.language;
      QSignalSpy handedBack(dialog, &ConfigDialog::deviceHandedBack);
      pickFromMenu(dialog, keys.menu, keys.close);
      EXPECT_FALSE(dialog->isVisible()) << keys.language;
      EXPECT_EQ(handedBack.count(), 1) << keys.language;
    }
    // The main window's menu opens the info window.
    activate(Form1);
    pickFromMenu(Form1, keys.menu, keys.info);
    EXPECT_TRUE(Info->isVisible()) << keys.language;
    Info->close();
  }
  Modal::fileAnswer = nullptr;
}

TEST_F(Keyboard, TabReachesTheFlagsAndSpaceOrReturnSwitches) {
  activate(Form1);
  auto* german = control<QWidget>(Form1, "deutsch");
  auto* english = control<QWidget>(Form1, "englisch");
  control<QWidget>(Form1, "Button1")->setFocus(Qt::TabFocusReason);
  ASSERT_TRUE(tabTo(Form1, english));
  QTest::keyClick(english, Qt::Key_Space);
  EXPECT_TRUE(sprache_englisch);
  EXPECT_EQ(control<QPushButton>(Form1, "Button1")->text(), "configuration");
  ASSERT_TRUE(tabTo(Form1, german));
  QTest::keyClick(german, Qt::Key_Return);
  EXPECT_TRUE(sprache_deutsch);
  EXPECT_EQ(control<QPushButton>(Form1, "Button1")->text(), "Konfiguration");
  // A click with the mouse does not leave a focus behind on a flag.
  EXPECT_EQ(german->focusPolicy(), Qt::TabFocus);
}

// The click areas are reachable, but a window never opens with the focus on one, where
// Space or Return would click it unasked.
TEST_F(Keyboard, WindowsOpenWithTheFocusOnTheirFirstControl) {
  activate(Form1);
  EXPECT_EQ(QApplication::focusWidget(), control<QWidget>(Form1, "comport"));
  for (const uint8_t model : {kTypeStandard, kType4ch10A}) {
    ConfigDialog* dialog = openDialog(model);
    EXPECT_EQ(QApplication::focusWidget(), control<QWidget>(dialog, "k1_sel"));
    dialog->close();
  }
  Form1->info1Click();
  activate(Info);
  EXPECT_EQ(QApplication::focusWidget(), control<QWidget>(Info, "Button1"));  // "OK"
}

TEST_F(Keyboard, TabReachesTheThumbnailAndTheVersionArea) {
  ConfigDialog* dialog = openDialog(kType4ch10A);
  auto* thumbnail = control<QWidget>(dialog, "Image2");
  ASSERT_TRUE(tabTo(dialog, thumbnail));
  QTest::keyClick(thumbnail, Qt::Key_Space);
  EXPECT_TRUE(Form2->isVisible());  // the trip characteristic at full size
  Form2->close();
  dialog->close();

  // The version area of either dialog shows the version read from the device.
  for (const auto& [model, cover] : {std::pair{kType4ch10A, "Label3"}, {kTypeStandard, "Label5"}}) {
    device->setModel(model);
    dialog = openDialog(model);
    QTest::mouseClick(control<QPushButton>(dialog, "Button1"), Qt::LeftButton);  // read
    auto* area = control<QWidget>(dialog, cover);
    ASSERT_TRUE(tabTo(dialog, area)) << cover;
    QTest::keyClick(area, Qt::Key_Return);
    EXPECT_FALSE(area->isVisible()) << cover;
    EXPECT_TRUE(control<QLabel>(dialog, "sw")->isVisible()) << cover;
    EXPECT_TRUE(control<QLabel>(dialog, "sw")->text().startsWith("Softwareversion: ")) << cover;
    dialog->close();
  }
}

TEST_F(Keyboard, ReturnOnAFocusedButtonPressesIt) {
  activate(Form1);
  auto* configure = control<QPushButton>(Form1, "Button1");
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  configure->setFocus(Qt::TabFocusReason);
  QTest::keyClick(configure, Qt::Key_Return);
  EXPECT_TRUE(parameter_zokx->isVisible());

  activate(parameter_zokx);
  auto* factory = control<QPushButton>(parameter_zokx, "Button3");
  factory->setFocus(Qt::TabFocusReason);
  QTest::keyClick(factory, Qt::Key_Enter, Qt::KeypadModifier);
  EXPECT_EQ(control<QComboBox>(parameter_zokx, "abschaltzeit")->currentText(), "100,0");
  parameter_zokx->close();

  Form1->info1Click();
  activate(Info);
  auto* ok = control<QPushButton>(Info, "Button1");
  ok->setFocus(Qt::TabFocusReason);
  QTest::keyClick(ok, Qt::Key_Return);
  EXPECT_FALSE(Info->isVisible());
}

}  // namespace
}  // namespace zfuse
