#include "app/windowkit.h"

#include <QMainWindow>
#include <QMenuBar>
#include <QTimer>

#include "app/desktop.h"

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

}  // namespace zfuse
