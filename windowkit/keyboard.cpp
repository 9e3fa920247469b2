#include "windowkit/keyboard.h"

#include <QKeyEvent>
#include <QPushButton>
#include <QStyleOptionFocusRect>
#include <QStylePainter>

#include "windowkit/clickablelabel.h"

namespace zfuse {

namespace {

bool isReturn(const QKeyEvent* event) {
  return (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
         (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier;
}

// Watches the push buttons of one window for Return and Enter.
class ReturnPresses : public QObject {
 public:
  using QObject::QObject;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() != QEvent::KeyPress) return false;
    auto* key = static_cast<QKeyEvent*>(event);
    auto* button = qobject_cast<QPushButton*>(watched);
    if (!button || !isReturn(key)) return false;
    if (!key->isAutoRepeat()) button->click();
    return true;
  }
};

}  // namespace

void useFromKeyboard(QWidget* window) {
  auto* filter = new ReturnPresses(window);
  for (QPushButton* button : window->findChildren<QPushButton*>()) {
    button->installEventFilter(filter);
  }
  // The window opens with the focus on its first control, in the Tab order, that is
  // not a click area.
  for (QWidget* w = window->nextInFocusChain(); w != window; w = w->nextInFocusChain()) {
    if ((w->focusPolicy() & Qt::TabFocus) && !qobject_cast<ClickableLabel*>(w) && !w->isHidden() &&
        w->isEnabled()) {
      w->setFocus(Qt::OtherFocusReason);
      break;
    }
  }
}

bool isClickKey(const QKeyEvent* event) {
  if (event->isAutoRepeat()) return false;
  if (isReturn(event)) return true;
  return event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier;
}

void drawFocusFrame(QWidget* widget) {
  QStylePainter painter(widget);
  QStyleOptionFocusRect option;
  option.initFrom(widget);
  option.backgroundColor = widget->palette().color(widget->backgroundRole());
  painter.drawPrimitive(QStyle::PE_FrameFocusRect, option);
}

}  // namespace zfuse
