#pragma once

#include <span>

class QLabel;
class QWidget;

namespace zfuse {

// A control of a form and the labels that say what it is: the heading of its group and
// the caption of its row. Either label may be missing (nullptr).
struct RowCaption {
  QWidget* control;
  QLabel* group;
  QLabel* row;
};

// Makes every row caption the buddy of its control (of the first control that names
// it), so that assistive technology knows which label belongs to which control. A click
// on the caption of a check box that is the only box of its row ticks or clears that
// box, as a click on the box does; a row with a box in each of two columns leaves the
// choice to the boxes themselves.
void linkRowCaptions(std::span<const RowCaption> captions);

// Names every control for assistive technology from what its group heading and row
// caption show now: the heading, a space, the row caption without its colon, e.g.
// "konfigurierter Strom [A] Kanal 1" or "Port 1 Überstrom Kanal 1". Call it again when
// the captions have changed language.
void nameFromRowCaptions(std::span<const RowCaption> captions);

}  // namespace zfuse
