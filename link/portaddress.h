#pragma once

#include <QList>
#include <QString>
#include <optional>

namespace zfuse {

// A port as the operator names it: "COM1" ... "COM11" (led to its device as every port
// name is, see systemPortPath) or the absolute path of a serial device, such as
// /dev/ttyUSB3 or /dev/serial/by-id/usb-...-if00-port0.
struct PortAddress {
  QString given;   // as named; what the line is opened with and what results show
  QString device;  // the device it leads to, links resolved where the device is there
};

// Checks a named port without opening it. Refused, with the reason in `error`: an empty
// name, a relative path or a name that is neither a COM name nor a path, a path longer
// than the system takes, a folder, a regular file, a FIFO or socket, a link loop, or a
// COM name whose ports folder cannot be examined. A device path that is not there (an
// unplugged adapter) is taken: opening it fails later, as for a COM port.
std::optional<PortAddress> portAddressOf(const QString& text, QString* error);

// Two addresses that lead to one device ("COM1" and the device its link names, two
// links to one adapter): the message naming both, or nullopt when all differ.
std::optional<QString> samePortTwice(const QList<PortAddress>& addresses);

}  // namespace zfuse
