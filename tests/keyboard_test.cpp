// Every window can be closed from the keyboard, also where no window manager draws a
// close box.

#include <QSignalSpy>

#include "app/zokm32.h"
#include "config/parameter.h"
#include "config/parameter2.h"
#include "tests/support/program_fixture.h"
#include "windows/grafik.h"
#include "windows/information.h"

namespace zfuse {
namespace {

class Keyboard : public test::ProgramFixture {
 protected:
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

}  // namespace
}  // namespace zfuse
