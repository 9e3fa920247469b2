#include "link/connection.h"

namespace zfuse {

QString com_name;
uint8_t com_number = 0;
bool com_opened_once = false;

void resetPortSelection() {
  com_name.clear();
  com_number = 0;
  com_opened_once = false;
}

namespace {
void selectPort(int selectorIndex) {
  com_number = static_cast<uint8_t>(selectorIndex + 1);
  com_name = QStringLiteral("COM%1").arg(com_number);
}
}  // namespace

PortConnection::PortConnection(SerialLineFactory factory) : factory_(std::move(factory)) {}

void PortConnection::oeffnecom() {
  if (!com_opened_once) selectPort(0);
  if (!com_handle) com_handle = factory_();
  if (com_handle->open(com_name, kMonitorQueues)) com_handle->setTimeouts(kMonitorTimeouts);
}

void PortConnection::schliessecom() {
  if (com_handle) com_handle->close();
}

void PortConnection::pollTick(int selectorIndex, const std::function<void(uint8_t)>& onByte) {
  if (selectorIndex < 0 || selectorIndex >= kPortCount) selectorIndex = 0;
  if (!com_opened_once) {
    selectPort(selectorIndex);
    oeffnecom();
    com_opened_once = true;
  }
  if (selectorIndex + 1 != com_number) {
    selectPort(selectorIndex);
    schliessecom();
    oeffnecom();
  }
  if (!com_handle) return;
  const QByteArray bytes = com_handle->read(kMonitorReadBytes);
  for (char c : bytes) onByte(static_cast<uint8_t>(c));
}

}  // namespace zfuse
