#pragma once

#include <QString>

namespace zfuse {

// The device behind a port name "COM1" ... "COM11". On Windows the name itself. Elsewhere
// a link named like the port in $XDG_CONFIG_HOME/zfuse/ports/ (default
// ~/.config/zfuse/ports/) when it exists, resolved to the device it points at (a link
// to a device that is gone gives that missing device, which cannot be opened), else the
// n-th standard serial port /dev/ttyS<n-1>. Empty when the ports folder cannot be
// examined (no permission): then no port can be told, and none is opened.
// A name that was a link once in this run keeps meaning that link's device: while the
// link is missing, the result is the missing link's own path, which no open gets
// through, and the standard port applies only to a name that never was a link.
QString systemPortPath(const QString& comName);

// Whether the name was a link when it was last resolved, or at any time before in this
// run (in the present links folder).
bool wasPortLink(const QString& comName);
// Forgets which names were links (for tests that reuse a name).
void forgetPortLinks();

// The number 1 ... 11 of a port name "COM1" ... "COM11"; 0 for anything else.
int comPortNumber(const QString& comName);

// The folder that holds the COMn links.
QString portLinkFolder();

}  // namespace zfuse
