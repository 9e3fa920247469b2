#include "windowkit/desktop.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

namespace zfuse {
namespace {
std::optional<QRect>& workAreaOverride() {
  static std::optional<QRect> area;
  return area;
}
}  // namespace

QRect desktopWorkArea() {
  if (workAreaOverride()) return *workAreaOverride();
  if (const QScreen* screen = QGuiApplication::primaryScreen()) return screen->availableGeometry();
  return {};
}

void centreInWorkArea(QWidget* window) {
  const QRect area = desktopWorkArea();
  const QSize outer = window->frameGeometry().size();
  window->move(centredEdge(area.width(), outer.width()),
               centredEdge(area.height(), outer.height()));
}

void setWorkAreaOverride(std::optional<QRect> area) {
  workAreaOverride() = area;
}

}  // namespace zfuse
