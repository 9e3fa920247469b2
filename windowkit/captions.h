#pragma once

#include <QStringList>
#include <span>

class QWidget;

namespace zfuse {

// One fixed text of a window in both languages. `control` is the component name of a
// label, button, menu or menu item; an empty name stands for the window's title.
struct Caption {
  const char* control;
  const char* german;
  const char* english;
};

// Gives every control the table names its text in the chosen language. A control the
// table does not name keeps its text.
void applyCaptions(QWidget* window, std::span<const Caption> table, bool english);

// The names in the table that no control of the window answers to, or that name a
// control without a caption of its own.
QStringList captionControlsMissing(const QWidget* window, std::span<const Caption> table);

}  // namespace zfuse
