#pragma once

class QKeyEvent;
class QWidget;

namespace zfuse {

// Makes a window's controls work from the keyboard beyond what Qt does by itself: Return
// or Enter on a focused push button presses it, as Space does (Qt does so only in
// dialog windows; the program's dialogs are main windows), and the window opens with
// the focus on its first control rather than on a clickable label (flag, version area,
// link) that comes before it, so that Space or Return at once never clicks one by
// surprise. Call once the window's controls exist.
void useFromKeyboard(QWidget* window);

// True for a key that clicks a focused clickable label or picture: Space, Return or
// Enter, not repeated, without a modifier other than the keypad's.
bool isClickKey(const QKeyEvent* event);

// Draws the style's focus frame round the inside of `widget`; for clickable pictures
// and labels that have the keyboard focus.
void drawFocusFrame(QWidget* widget);

}  // namespace zfuse
