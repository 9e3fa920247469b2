#include "link/connection.h"

#include <QDeadlineTimer>

namespace zfuse {

namespace {
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
  if (!com_handle->open(wanted_)) return false;
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

PortChoice::PortChoice(PortConnection& connection, int startPort) : connection_(connection) {
  setStartPort(startPort);
}

void PortChoice::setStartPort(int number) {
  startPort_ = number >= 1 && number <= kPortCount ? number : 1;
}

void PortChoice::select(int selectorIndex) {
  com_number = static_cast<uint8_t>(selectorIndex + 1);
  com_name = QStringLiteral("COM%1").arg(com_number);
}

void PortChoice::oeffnecom() {
  if (!com_opened_once) select(startPort_ - 1);
  connection_.open(com_name);
}

void PortChoice::schliessecom() {
  connection_.close();
}

void PortChoice::pollTick(int selectorIndex) {
  if (selectorIndex < 0 || selectorIndex >= kPortCount) selectorIndex = startPort_ - 1;
  if (!com_opened_once) {
    select(selectorIndex);
    oeffnecom();
    com_opened_once = true;
  }
  if (selectorIndex + 1 != com_number) {
    select(selectorIndex);
    schliessecom();
    oeffnecom();
  }
  connection_.keepOpen();
}

}  // namespace zfuse
