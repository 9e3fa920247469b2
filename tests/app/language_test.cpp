// German and English texts of the main window and both configuration dialogs.

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <set>

#include "app/languages.h"
#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "monitor/statustelegram.h"
#include "tests/support/mnemonics.h"
#include "tests/support/program_fixture.h"
#include "windows/grafik.h"

namespace zfuse {
namespace {

struct Window {
  const char* name;
  QWidget* (*window)();
  std::span<const Caption> (*table)();
};
const Window kWindows[] = {
    {"main window", [] { return static_cast<QWidget*>(Form1); }, mainWindowCaptions},
    {"standard dialog", [] { return static_cast<QWidget*>(para); }, standardDialogCaptions},
    {"fuse-variant dialog", [] { return static_cast<QWidget*>(parameter_zokx); },
     variantDialogCaptions},
};

// What a control shows of its caption.
QString captionOf(QWidget* window, const char* control) {
  if (*control == '\0') return window->windowTitle();
  QObject* o = window->findChild<QObject*>(QString::fromLatin1(control));
  if (auto* l = qobject_cast<QLabel*>(o)) return l->text();
  if (auto* b = qobject_cast<QAbstractButton*>(o)) return b->text();
  if (auto* m = qobject_cast<QMenu*>(o)) return m->title();
  if (auto* a = qobject_cast<QAction*>(o)) return a->text();
  return QStringLiteral("<no such control>");
}

class Languages : public test::ProgramFixture {
 protected:
  void expectColumn(bool english) {
    for (const Window& w : kWindows) {
      for (const Caption& c : w.table()) {
        // Menu captions carry their mnemonic marker; what they show is compared.
        EXPECT_EQ(test::visibleText(captionOf(w.window(), c.control)),
                  test::visibleText(QString::fromUtf8(english ? c.english : c.german)))
            << w.name << " " << c.control;
      }
    }
    EXPECT_EQ(para->windowTitle(), "Parametrierung");
    EXPECT_EQ(sprache_deutsch, !english);
    EXPECT_EQ(sprache_englisch, english);
  }
};

TEST_F(Languages, EveryTableNamesRealControls) {
  for (const Window& w : kWindows) {
    EXPECT_EQ(captionControlsMissing(w.window(), w.table()), QStringList{}) << w.name;
  }
  // The check catches a misspelt name.
  const Caption typo[] = {{"Labell", "x", "y"}, {"f13", "x", "y"}};
  EXPECT_EQ(captionControlsMissing(para, typo), (QStringList{"Labell", "f13"}));
}

TEST_F(Languages, FlagsSwitchEveryWindowShownOrHidden) {
  expectColumn(false);  // German from the start
  EXPECT_EQ(Form1->windowTitle(), "Visualisierung");
  EXPECT_EQ(parameter_zokx->windowTitle(), "Konfiguration");
  QTest::mouseClick(Form1->findChild<QWidget*>("englisch"), Qt::LeftButton);
  expectColumn(true);
  EXPECT_EQ(parameter_zokx->windowTitle(), "configuration");
  EXPECT_EQ(control<QLabel>(parameter_zokx, "Label4")->text(), "fuse delay [s]");
  EXPECT_EQ(control<QWidget>(parameter_zokx, "Image2")->toolTip(), "Vergrößern");
  Form1->englischClick();  // the active flag again: the same texts
  expectColumn(true);
  QTest::mouseClick(Form1->findChild<QWidget*>("deutsch"), Qt::LeftButton);
  expectColumn(false);
}

// The menus show the same words as ever, each with a letter of its own for the keyboard.
TEST_F(Languages, MenusKeepTheirTextsAndHaveUniqueMnemonics) {
  struct MenuText {
    const char* control;
    const char* german;
    const char* english;
  };
  const MenuText mainMenu[] = {{"oeffnen1", "Datei", "file"},
                               {"info1", "Info...", "info..."},
                               {"Beenden1", "Schließen", "close"}};
  const MenuText dialogMenu[] = {{"oeffnen1", "Datei", "file"},
                                 {"oeffnen", "Öffnen", "open"},
                                 {"speichern", "Speichern", "save"},
                                 {"schliessen", "Schließen", "close"}};
  // Every caption in `captions` has a mnemonic letter, and no two the same.
  const auto expectUniqueLetters = [](const QStringList& captions, const std::string& where) {
    std::set<QChar> letters;
    for (const QString& caption : captions) {
      const QChar letter = test::mnemonicLetter(caption);
      EXPECT_FALSE(letter.isNull()) << where << ": " << caption.toStdString();
      EXPECT_TRUE(letters.insert(letter).second) << where << ": " << caption.toStdString();
    }
  };
  for (const bool english : {false, true}) {
    english ? Form1->englischClick() : Form1->deutschClick();
    for (const Window& w : kWindows) {
      const bool isMain = w.window() == Form1;
      for (const MenuText& m :
           isMain ? std::span<const MenuText>(mainMenu) : std::span<const MenuText>(dialogMenu)) {
        EXPECT_EQ(test::visibleText(captionOf(w.window(), m.control)),
                  QString::fromUtf8(english ? m.english : m.german))
            << w.name << " " << m.control;
      }
      for (const QMenuBar* bar : w.window()->findChildren<QMenuBar*>()) {
        QStringList titles;
        for (const QAction* a : bar->actions()) titles << a->text();
        expectUniqueLetters(titles, w.name);
      }
      for (const QMenu* menu : w.window()->findChildren<QMenu*>()) {
        QStringList items;
        for (const QAction* a : menu->actions()) items << a->text();
        expectUniqueLetters(items, w.name);
      }
    }
  }
}

// Qt's own texts (file dialogs, their questions, standard buttons) follow the flags.
TEST_F(Languages, QtsOwnTextsFollowTheLanguage) {
  const auto yes = [] {
    QDialogButtonBox box(QDialogButtonBox::Yes | QDialogButtonBox::No);
    return box.button(QDialogButtonBox::Yes)->text();
  };
  EXPECT_EQ(yes(), "&Ja");  // German from the start
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), "&Nein");
  Form1->englischClick();
  EXPECT_EQ(yes(), "&Yes");
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "&No"), "&No");
  Form1->englischClick();  // the active flag again changes nothing
  EXPECT_EQ(yes(), "&Yes");
  Form1->deutschClick();
  EXPECT_EQ(yes(), "&Ja");
  EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Save As"), "Speichern unter");
}

TEST_F(Languages, FlagsAsDesigned) {
  for (const auto& [name, x] : {std::pair{"deutsch", 720}, std::pair{"englisch", 760}}) {
    auto* flag = control<QLabel>(Form1, name);
    EXPECT_EQ(flag->geometry(), QRect(x, 273, 33, 33)) << name;
    EXPECT_EQ(flag->cursor().shape(), Qt::ArrowCursor) << name;
    EXPECT_TRUE(flag->toolTip().isEmpty()) << name;
  }
}

TEST_F(Languages, ControlsOutsideTheTablesKeepTheirTexts) {
  device->setFaults(0);
  ASSERT_TRUE(waitFor([] { return !Form1->findChild<QLabel*>("uin")->text().isEmpty(); }));
  QStringList before;
  const char* const kept[] = {"Label16", "uin", "i1_endwert", "comport"};
  for (const char* name : kept) before << captionOf(Form1, name);
  auto* status = control<QLabel>(parameter_zokx, "status");
  status->setText("Übertragung erfolgreich!");
  control<QLabel>(parameter_zokx, "sw")->setText("Softwareversion: 1.07");
  control<QComboBox>(para, "pgood_sel_")->setCurrentIndex(3);

  Form1->Timer1->stop();  // no telegram changes the values meanwhile
  Form1->englischClick();
  QStringList after;
  for (const char* name : kept) after << captionOf(Form1, name);
  EXPECT_EQ(after, before);
  EXPECT_EQ(control<QComboBox>(Form1, "comport")->itemText(10), "COM11");
  EXPECT_EQ(status->text(), "Übertragung erfolgreich!");
  EXPECT_EQ(control<QLabel>(parameter_zokx, "sw")->text(), "Softwareversion: 1.07");
  EXPECT_EQ(control<QLabel>(para, "error_k1")->text(), "!");
  EXPECT_EQ(control<QComboBox>(para, "pgood_sel_")->currentText(), "20,3");
  EXPECT_EQ(control<QComboBox>(parameter_zokx, "k1_sel")->itemText(0), "OFF");
  EXPECT_EQ(Form2->windowTitle(), "Auslösecharakteristik");
}

TEST_F(Languages, DialogOpenedAfterTheSwitchSpeaksEnglish) {
  Form1->englischClick();
  ASSERT_TRUE(waitFor([] { return Form1->portOpen(); }));
  Form1->Button1Click();  // the four-channel fuse: the fuse-variant dialog
  ASSERT_TRUE(parameter_zokx->isVisible());
  EXPECT_EQ(control<QPushButton>(parameter_zokx, "Button1")->text(), "load configuration");
  parameter_zokx->Button1Click();
  EXPECT_EQ(control<QLabel>(parameter_zokx, "status")->text(), "transmission successful!");
}

// Every table text fits its control in both languages, in the fonts the program uses.
TEST_F(Languages, NoTextIsClipped) {
  for (const bool english : {false, true}) {
    english ? Form1->englischClick() : Form1->deutschClick();
    for (const Window& w : kWindows) {
      w.window()->ensurePolished();
      for (const Caption& c : w.table()) {
        auto* control = w.window()->findChild<QWidget*>(QString::fromLatin1(c.control));
        if (!control || qobject_cast<QMenu*>(control)) continue;  // titles, menus: no box
        EXPECT_LE(control->sizeHint().width(), control->width())
            << w.name << " " << c.control << " " << captionOf(w.window(), c.control).toStdString();
      }
    }
  }
}

}  // namespace
}  // namespace zfuse
