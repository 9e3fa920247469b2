#include "link/command.h"

#include "link/connection.h"

namespace zfuse {
namespace {
SerialLineFactory& lineFactory() {
  static SerialLineFactory factory = makeSystemSerialLine;
  return factory;
}
}  // namespace

void setCommandLineFactory(SerialLineFactory factory) {
  lineFactory() = factory ? std::move(factory) : SerialLineFactory(makeSystemSerialLine);
}

QByteArray command(const QByteArray& request) {
  return command(com_name, request);
}

QByteArray command(const QString& port, const QByteArray& request) {
  const auto line = lineFactory()();
  if (!line->open(port, kCommandQueues)) return {};
  line->setTimeouts(kCommandTimeouts);
  if (!request.isEmpty()) line->write(request);
  QByteArray reply = line->read(kCommandReplyMax);
  line->close();
  return reply;
}

}  // namespace zfuse
