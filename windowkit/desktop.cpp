#include "windowkit/desktop.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>

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

void fitInWorkArea(QWidget* window) {
  const QRect area = desktopWorkArea();
  const QSize frame = window->frameGeometry().size() - window->size();
  const QSize room = (area.size() - frame).expandedTo(window->minimumSize());
  window->resize(window->size().boundedTo(room));
  const QSize outer = window->size() + frame;
  window->move(area.left() + std::max(0, centredEdge(area.width(), outer.width())),
               area.top() + std::max(0, centredEdge(area.height(), outer.height())));
}

void setWorkAreaOverride(std::optional<QRect> area) {
  workAreaOverride() = area;
}

}  // namespace zfuse
