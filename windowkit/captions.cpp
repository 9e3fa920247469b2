#include "windowkit/captions.h"

#include <QAbstractButton>
#include <QAction>
#include <QLabel>
#include <QMenu>

namespace zfuse {

namespace {
// Sets the caption of whatever kind of control carries the name; false when none does.
bool setCaption(QWidget* window, const char* control, const QString& text) {
  if (*control == '\0') {
    window->setWindowTitle(text);
    return true;
  }
  const QString name = QString::fromLatin1(control);
  QObject* object = window->findChild<QObject*>(name);
  if (auto* label = qobject_cast<QLabel*>(object)) {
    label->setText(text);
  } else if (auto* button = qobject_cast<QAbstractButton*>(object)) {
    button->setText(text);
  } else if (auto* menu = qobject_cast<QMenu*>(object)) {
    menu->setTitle(text);
  } else if (auto* action = qobject_cast<QAction*>(object)) {
    action->setText(text);
  } else {
    return false;
  }
  return true;
}
}  // namespace

void applyCaptions(QWidget* window, std::span<const Caption> table, bool english) {
  for (const Caption& c : table) {
    setCaption(window, c.control, QString::fromUtf8(english ? c.english : c.german));
  }
}

QStringList captionControlsMissing(const QWidget* window, std::span<const Caption> table) {
  QStringList missing;
  for (const Caption& c : table) {
    if (*c.control == '\0') continue;
    QObject* object = window->findChild<QObject*>(QString::fromLatin1(c.control));
    if (!qobject_cast<QLabel*>(object) && !qobject_cast<QAbstractButton*>(object) &&
        !qobject_cast<QMenu*>(object) && !qobject_cast<QAction*>(object)) {
      missing << QString::fromLatin1(c.control);
    }
  }
  return missing;
}

}  // namespace zfuse
