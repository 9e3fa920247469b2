#pragma once

#include <QPoint>
#include <QSize>

class QMainWindow;
class QObject;
class QTimer;
class QWidget;

namespace zfuse {

// A window timer with the name the handlers know it by; not started.
QTimer* namedTimer(QObject* owner, const char* name, int intervalMs);

// Fixes a window with a menu bar to a client area of `client` pixels below the menu.
void fixClientArea(QMainWindow* window, QSize client);

// Places a configuration dialog: centred in a work area less than 910 pixels high,
// otherwise at its design position.
void placeConfigDialog(QWidget* dialog, QPoint designPosition);

// Draws every picture label of `window` that names its vector picture (property "svg")
// afresh for the screen's pixel ratio, so that lamps and flags stay sharp at any scale
// factor. A label that scales its contents fills its box; another one shows the picture
// at its own size.
void sharpenPictures(QWidget* window);

// Esc closes the window the ordinary way (its close handler runs), so that it can be
// closed from the keyboard and where no window manager draws a close box.
void closeOnEscape(QWidget* window);

// Shows a window above all other windows of the desktop.
void showOnTop(QWidget* window);

}  // namespace zfuse
