#include "link/command.h"

namespace zfuse {

QByteArray command(const QString& port, const QByteArray& request, const SerialLineFactory& lines) {
  const auto line = lines();
  if (!line->open(port)) return {};
  line->setTimeouts(kCommandTimeouts);
  if (!request.isEmpty()) line->write(request);
  QByteArray reply = line->read(kCommandReplyMax);
  line->close();
  return reply;
}

}  // namespace zfuse
