#pragma once

#include <QLabel>
#include <QMouseEvent>

namespace zfuse {

// A picture or text label that reports a click of the left mouse button (pressed and
// released over it), like the flags of the main window and the dialogs' hidden
// version area.
class ClickableLabel : public QLabel {
  Q_OBJECT
 public:
  using QLabel::QLabel;

 signals:
  void clicked();

 protected:
  void mouseReleaseEvent(QMouseEvent* event) override {
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
      emit clicked();
    }
    QLabel::mouseReleaseEvent(event);
  }
};

}  // namespace zfuse

using zfuse::ClickableLabel;
