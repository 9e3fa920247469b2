#pragma once

#include <QByteArray>

#include "link/serialline.h"

namespace zfuse {

// Line settings of a configuration exchange: the reply ends 80 ms after its last byte,
// at 50 bytes, or 260 ms after the read began; a write may take 30 ms.
constexpr LineTimeouts kCommandTimeouts{80, 0, 260, 0, 30};
constexpr int kCommandReplyMax = 50;

// One request/reply exchange with the device on the port named `port`: opens the
// port, writes the request (nothing for an empty one), reads one reply of at most
// 50 bytes and closes the port. The reply is exactly the bytes that one read returned;
// an empty or short reply is the only sign of a failure.
QByteArray command(const QString& port, const QByteArray& request,
                   const SerialLineFactory& lines = makeSystemSerialLine);

}  // namespace zfuse
