#pragma once

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include "dialogs/configdialog.h"
#include "tests/support/program_fixture.h"

namespace zfuse::test {

// A configuration dialog of the program started in-process against the simulated fuse,
// worked the way the operator works it.
class DialogFixture : public ProgramFixture {
 protected:
  using Bytes = std::vector<uint8_t>;

  virtual ConfigDialog* dialog() = 0;

  QComboBox* list(const char* name) { return control<QComboBox>(dialog(), name); }
  QCheckBox* box(const char* name) { return control<QCheckBox>(dialog(), name); }
  QLabel* label(const char* name) { return control<QLabel>(dialog(), name); }
  QString status() { return label("status")->text(); }
  QColor statusColour() { return label("status")->palette().color(QPalette::WindowText); }
  QStringList items(const char* name) {
    QStringList l;
    for (int i = 0; i < list(name)->count(); ++i) l << list(name)->itemText(i);
    return l;
  }
  // Chooses an entry the way the operator does, with the keyboard.
  void choose(const char* name, int index) {
    QComboBox* l = list(name);
    l->setFocus();
    if (l->currentIndex() < 0) l->setCurrentIndex(0), QTest::keyClick(l, Qt::Key_Home);
    while (l->currentIndex() < index) QTest::keyClick(l, Qt::Key_Down);
    while (l->currentIndex() > index) QTest::keyClick(l, Qt::Key_Up);
  }
  void click(const char* button) {
    QTest::mouseClick(control<QPushButton>(dialog(), button), Qt::LeftButton);
  }
  Bytes lastRequest() {
    const auto r = device->requests();
    return r.empty() ? Bytes{} : r.back();
  }
  void runRetryTicks(int ticks) {
    for (int i = 0; i < ticks; ++i) dialog()->Timer1Timer();
  }
};

}  // namespace zfuse::test
