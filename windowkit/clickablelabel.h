#pragma once

#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>

#include "windowkit/keyboard.h"

namespace zfuse {

// A picture or text label that reports a click of the left mouse button (pressed and
// released over it), like the flags of the main window and the dialogs' hidden
// version area. Tab reaches it, and Space or Return then clicks it; a thin focus frame
// shows where the keyboard is, and only then.
class ClickableLabel : public QLabel {
  Q_OBJECT
 public:
  explicit ClickableLabel(QWidget* parent = nullptr) : QLabel(parent) {
    setFocusPolicy(Qt::TabFocus);
  }

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
  }
  void keyPressEvent(QKeyEvent* event) override {
    if (isClickKey(event)) {
      emit clicked();
      return;
    }
    QLabel::keyPressEvent(event);
  }
  void paintEvent(QPaintEvent* event) override {
    QLabel::paintEvent(event);
    if (hasFocus()) drawFocusFrame(this);
  }
};

}  // namespace zfuse

using zfuse::ClickableLabel;
