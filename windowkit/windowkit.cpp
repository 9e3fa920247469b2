#include "windowkit/windowkit.h"

#include <QIcon>
#include <QLabel>
#include <QMainWindow>
#include <QMenuBar>
#include <QShortcut>
#include <QSvgRenderer>
#include <QTimer>

#include "windowkit/desktop.h"

namespace zfuse {

namespace {
constexpr int kCentreDialogsBelowHeight = 910;
}

QTimer* namedTimer(QObject* owner, const char* name, int intervalMs) {
  auto* timer = new QTimer(owner);
  timer->setObjectName(QString::fromLatin1(name));
  timer->setInterval(intervalMs);
  return timer;
}

void fixClientArea(QMainWindow* window, QSize client) {
  window->centralWidget()->setFixedSize(client);
  window->setFixedSize(client.width(), client.height() + window->menuBar()->sizeHint().height());
}

void placeConfigDialog(QWidget* dialog, QPoint designPosition) {
  if (desktopWorkArea().height() < kCentreDialogsBelowHeight) {
    centreInWorkArea(dialog);
  } else {
    dialog->move(designPosition);
  }
}

void sharpenPictures(QWidget* window) {
  for (QLabel* label : window->findChildren<QLabel*>()) {
    const QString svg = label->property("svg").toString();
    if (svg.isEmpty()) continue;
    const QSize size = label->hasScaledContents() ? label->size() : QSvgRenderer(svg).defaultSize();
    label->setPixmap(QIcon(svg).pixmap(size, label->devicePixelRatioF()));
  }
}

void showOnTop(QWidget* window) {
  // Changing a shown window's flags would hide it: set the style once.
  if (!window->windowFlags().testFlag(Qt::WindowStaysOnTopHint)) {
    window->setWindowFlag(Qt::WindowStaysOnTopHint, true);
  }
  window->show();
  window->raise();
  window->activateWindow();
}

void closeOnEscape(QWidget* window) {
  auto* escape = new QShortcut(QKeySequence(Qt::Key_Escape), window);
  escape->setContext(Qt::WindowShortcut);
  QObject::connect(escape, &QShortcut::activated, window, &QWidget::close);
}

}  // namespace zfuse
