#pragma once

#include <QByteArray>

#include "link/serialline.h"

namespace zfuse {

// Line settings of a configuration exchange: the reply ends 80 ms after its last byte,
// at 50 bytes, or 260 ms after the read began; a write may take 30 ms.
constexpr QueueSizes kCommandQueues{80, 80};
constexpr LineTimeouts kCommandTimeouts{80, 0, 260, 0, 30};
constexpr int kCommandReplyMax = 50;

// One request/reply exchange with the device on the port named `port`: opens the
// port, writes the request (nothing for an empty one), reads one reply of at most
// 50 bytes and closes the port. The reply is exactly the bytes that one read returned;
// an empty or short reply is the only sign of a failure.
QByteArray command(const QString& port, const QByteArray& request);
// The same on the port the windows have chosen, `com_name`.
QByteArray command(const QByteArray& request);

// Where `command` gets its serial lines from; tests may hand in another source.
void setCommandLineFactory(SerialLineFactory factory);

}  // namespace zfuse
