// Every window can be closed from the keyboard, also where no window manager draws a
// close box.

#include <QPushButton>
#include <QSignalSpy>

#include "app/zokm32.h"
#include "config/parameter.h"
#include "config/parameter2.h"
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
  static void pressEscape(QWidget* window) {
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window));
    QTest::keyClick(window, Qt::Key_Escape);
  }
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
    setModelFlags(dialog == para ? kTypeStandard : kType4ch10A);
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
    setModelFlags(dialog == para ? kTypeStandard : kType4ch10A);
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

}  // namespace
}  // namespace zfuse
