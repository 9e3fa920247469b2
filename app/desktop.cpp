#include "app/desktop.h"

#include <QGuiApplication>
#include <QScreen>

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

void setWorkAreaOverride(std::optional<QRect> area) { workAreaOverride() = area; }

}  // namespace zfuse
