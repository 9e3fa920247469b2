#pragma once

#include <QString>

namespace zfuse {

// The device behind a port name "COM1" ... "COM11". On Windows the name itself. Elsewhere
// a link named like the port in $XDG_CONFIG_HOME/zfuse/ports/ (default
// ~/.config/zfuse/ports/) when it exists, resolved to the device it points at (a link
// to a device that is gone gives that missing device, which cannot be opened), else the
// n-th standard serial port /dev/ttyS<n-1>. Empty when the ports folder cannot be
// examined (no permission): then no port can be told, and none is opened.
QString systemPortPath(const QString& comName);

// The number 1 ... 11 of a port name "COM1" ... "COM11"; 0 for anything else.
int comPortNumber(const QString& comName);

// The folder that holds the COMn links.
QString portLinkFolder();

}  // namespace zfuse
