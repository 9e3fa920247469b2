#include "link/connection.h"

#include <QDeadlineTimer>

namespace zfuse {

QString com_name;
uint8_t com_number = 0;
bool com_opened_once = false;

namespace {
int startPortNumber = 1;
}

void setStartPort(int number) {
  startPortNumber = number >= 1 && number <= kPortCount ? number : 1;
}

int startPort() {
  return startPortNumber;
}

void resetPortSelection() {
  startPortNumber = 1;
  com_name.clear();
  com_number = 0;
  com_opened_once = false;
}

namespace {
void selectPort(int selectorIndex) {
  com_number = static_cast<uint8_t>(selectorIndex + 1);
  com_name = QStringLiteral("COM%1").arg(com_number);
}
qint64 steadyMilliseconds() {
  return QDeadlineTimer::current().deadline();
}
}  // namespace

PortConnection::PortConnection(std::function<void(const QByteArray&)> onBytes,
                               SerialLineFactory factory)
    : onBytes_(std::move(onBytes)), factory_(std::move(factory)), clock_(steadyMilliseconds) {}

bool PortConnection::open(const QString& comName) {
  if (isOpen()) com_handle->close();
  wanted_ = comName;
  return tryOpen();
}

bool PortConnection::tryOpen() {
  lastTry_ = clock_();
  if (!com_handle) com_handle = factory_();
  if (!com_handle->open(wanted_, kMonitorQueues)) return false;
  com_handle->setTimeouts(kMonitorTimeouts);
  com_handle->watch(onBytes_);
  return true;
}

void PortConnection::close() {
  wanted_.clear();
  if (com_handle) com_handle->close();
}

bool PortConnection::keepOpen() {
  if (wanted_.isEmpty()) return false;
  if (isOpen()) {
    // An open port is kept only while its name still leads to it: a link removed or
    // moved to another device closes it, and the name is resolved afresh.
    if (clock_() - lastLook_ < kReopenPeriodMs) return false;
    lastLook_ = clock_();
    if (!com_handle->nameMoved()) return false;
    com_handle->close();
  }
  if (clock_() - lastTry_ < kReopenPeriodMs) return false;
  return tryOpen();
}

void PortConnection::oeffnecom() {
  if (!com_opened_once) selectPort(startPortNumber - 1);
  open(com_name);
}

void PortConnection::schliessecom() {
  close();
}

void PortConnection::pollTick(int selectorIndex) {
  if (selectorIndex < 0 || selectorIndex >= kPortCount) selectorIndex = startPortNumber - 1;
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
  keepOpen();
}

}  // namespace zfuse
