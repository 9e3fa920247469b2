#pragma once

#include <QRect>
#include <optional>

class QWidget;

namespace zfuse {

// The desktop's work area (the screen less the task bar) of the primary screen.
QRect desktopWorkArea();
// Lets tests stand in a work area of their own; nullopt gives the real one back.
void setWorkAreaOverride(std::optional<QRect> area);

// Where a window of `window` pixels starts when centred in `area` pixels: the division
// truncates toward zero, so a window wider than the work area gets a negative edge.
constexpr int centredEdge(int area, int window) {
  return (area - window) / 2;
}

// Moves a window to the middle of the work area, by its outer size.
void centreInWorkArea(QWidget* window);

// For a window the operator may resize: shrinks it to the work area where it is larger
// (never below its minimum size) and centres it there, its title bar never above or
// left of the work area.
void fitInWorkArea(QWidget* window);

}  // namespace zfuse
