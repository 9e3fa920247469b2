#include "monitor/eventlog.h"

#include <QJsonDocument>
#include <QJsonObject>

#include "monitor/statusmonitor.h"
#include "monitor/statusoutput.h"

namespace zfuse {

const char* eventKindKey(DeviceEvent::Kind kind) {
  switch (kind) {
    case DeviceEvent::Kind::Warning:
      return "warning";
    case DeviceEvent::Kind::Trip:
      return "trip";
    case DeviceEvent::Kind::PowerGoodLow:
      return "power_good_low";
    case DeviceEvent::Kind::HardwareFault:
      return "hardware_fault";
    case DeviceEvent::Kind::ConnectionLost:
      return "connection_lost";
    case DeviceEvent::Kind::ConnectionBack:
      return "connection_back";
    case DeviceEvent::Kind::ConfigurationWritten:
      return "configuration_written";
  }
  return "";
}

QString eventJson(const DeviceEvent& e, const QString& port) {
  const QJsonObject o{{QStringLiteral("time"), isoTime(e.time)},
                      {QStringLiteral("port"), port},
                      {QStringLiteral("event"), QString::fromLatin1(eventKindKey(e.kind))},
                      {QStringLiteral("channel"), e.channel < 0 ? QJsonValue() : e.channel + 1},
                      {QStringLiteral("on"), e.on}};
  return QString::fromUtf8(QJsonDocument(o).toJson(QJsonDocument::Compact));
}

EventDetector::EventDetector(QObject* parent) : QObject(parent) {
  qRegisterMetaType<zfuse::DeviceEvent>();
}

void EventDetector::watch(StatusMonitor* monitor) {
  connect(monitor, &StatusMonitor::statusDecoded, this, &EventDetector::reading);
  connect(monitor, &StatusMonitor::silent, this, &EventDetector::silence);
}

void EventDetector::emitEvent(DeviceEvent::Kind kind, int channel, bool on) {
  emit occurred(DeviceEvent{clock_(), kind, channel, on});
}

void EventDetector::reading(const StatusReading& now) {
  if (!connected_) {
    connected_ = true;
    if (lostBefore_) emitEvent(DeviceEvent::Kind::ConnectionBack, -1, true);
  }
  const StatusReading before = last_.value_or(StatusReading{});
  for (int ch = 0; ch < now.channels(); ++ch) {
    if (now.warning(ch) != before.warning(ch)) {
      emitEvent(DeviceEvent::Kind::Warning, ch, now.warning(ch));
    }
    if (now.tripped(ch) != before.tripped(ch)) {
      emitEvent(DeviceEvent::Kind::Trip, ch, now.tripped(ch));
    }
  }
  if (now.powerGoodLow() != before.powerGoodLow()) {
    emitEvent(DeviceEvent::Kind::PowerGoodLow, -1, now.powerGoodLow());
  }
  if (now.hardwareFault() != before.hardwareFault()) {
    emitEvent(DeviceEvent::Kind::HardwareFault, -1, now.hardwareFault());
  }
  last_ = now;
}

void EventDetector::silence() {
  if (!connected_) return;
  connected_ = false;
  lostBefore_ = true;
  emitEvent(DeviceEvent::Kind::ConnectionLost, -1, true);
}

void EventDetector::configurationWritten() {
  emitEvent(DeviceEvent::Kind::ConfigurationWritten, -1, true);
}

void EventLog::append(const DeviceEvent& event) {
  if (entries_.size() >= static_cast<std::size_t>(kMaxEntries)) {
    entries_.pop_front();
    ++dropped_;
  }
  entries_.push_back(event);
}

const DeviceEvent& EventLog::at(int newestFirst) const {
  return entries_[entries_.size() - 1 - static_cast<std::size_t>(newestFirst)];
}

void EventLog::clear() {
  entries_.clear();
  dropped_ = 0;
}

}  // namespace zfuse
