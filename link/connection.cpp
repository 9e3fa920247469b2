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

PortConnection::PortConnection(std::function<void(uint8_t)> onByte, SerialLineFactory factory)
    : onByte_(std::move(onByte)), factory_(std::move(factory)) {}

void PortConnection::oeffnecom() {
  if (!com_opened_once) selectPort(0);
  if (!com_handle) com_handle = factory_();
  if (!com_handle->open(com_name, kMonitorQueues)) return;
  com_handle->setTimeouts(kMonitorTimeouts);
  com_handle->watch([this](const QByteArray& bytes) {
    for (char c : bytes) onByte_(static_cast<uint8_t>(c));
  });
}

void PortConnection::schliessecom() {
  if (com_handle) com_handle->close();
}

void PortConnection::pollTick(int selectorIndex) {
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
}

}  // namespace zfuse
