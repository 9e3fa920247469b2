#pragma once

#include <QColor>

namespace zfuse {

// The colour of each channel wherever the windows draw its values (trend, markers on the
// trip characteristic), and of the input voltage.
inline QColor channelColour(int channel) {
  static const QColor colours[4] = {QColor(0x1f, 0x5f, 0xbf), QColor(0x1a, 0x8c, 0x2e),
                                    QColor(0x8e, 0x3c, 0xb0), QColor(0xb0, 0x5a, 0x10)};
  return colours[channel & 3];
}
inline QColor voltageColour() {
  return QColor(0x40, 0x40, 0x40);
}

}  // namespace zfuse
