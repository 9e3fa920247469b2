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

DeviceEvent::Group DeviceEvent::group() const {
  switch (kind) {
    case Kind::Trip:
      return Group::Trip;
    case Kind::Warning:
      return Group::Warning;
    case Kind::PowerGoodLow:
      return Group::Voltage;
    case Kind::HardwareFault:
      return Group::DeviceFault;
    case Kind::ConnectionLost:
    case Kind::ConnectionBack:
      return Group::Connection;
    case Kind::ConfigurationWritten:
      return Group::Configuration;
  }
  return Group::Configuration;
}

QString eventCsvHeader(CsvDialect dialect) {
  return QStringList{QStringLiteral("time"),    QStringLiteral("port"), QStringLiteral("event"),
                     QStringLiteral("channel"), QStringLiteral("on"),   QStringLiteral("i1_A"),
                     QStringLiteral("i2_A"),    QStringLiteral("i3_A"), QStringLiteral("i4_A"),
                     QStringLiteral("uin_V")}
      .join(csvSeparator(dialect));
}

QString eventCsvLine(const DeviceEvent& e, const QString& port, CsvDialect dialect) {
  QStringList cells{isoTime(e.time), csvCell(port, dialect),
                    QString::fromLatin1(eventKindKey(e.kind)),
                    e.channel < 0 ? QString() : QString::number(e.channel + 1),
                    e.on ? QStringLiteral("1") : QStringLiteral("0")};
  for (const int present : e.present) {
    cells << (present < 0 ? QString() : csvHundredths(present, dialect));
  }
  cells << (e.uin < 0 ? QString() : csvHundredths(e.uin, dialect));
  return cells.join(csvSeparator(dialect));
}

EventDetector::EventDetector(QObject* parent) : QObject(parent) {
  qRegisterMetaType<zfuse::DeviceEvent>();
}

void EventDetector::watch(StatusMonitor* monitor) {
  connect(monitor, &StatusMonitor::statusDecoded, this, &EventDetector::reading);
  connect(monitor, &StatusMonitor::silent, this, &EventDetector::silence);
}

void EventDetector::emitEvent(DeviceEvent::Kind kind, int channel, bool on,
                              const StatusReading* raisedBy) {
  DeviceEvent event{clock_(), kind, channel, on};
  if (raisedBy != nullptr) {
    for (int ch = 0; ch < 4; ++ch) {
      if (raisedBy->channelOn(ch)) event.present[ch] = raisedBy->present[ch];
    }
    event.uin = raisedBy->uin;
  }
  emit occurred(event);
}

void EventDetector::reading(const StatusReading& now) {
  if (!connected_) {
    connected_ = true;
    if (lostBefore_) emitEvent(DeviceEvent::Kind::ConnectionBack, -1, true, &now);
  }
  const StatusReading before = last_.value_or(StatusReading{});
  for (int ch = 0; ch < now.channels(); ++ch) {
    if (now.warning(ch) != before.warning(ch)) {
      emitEvent(DeviceEvent::Kind::Warning, ch, now.warning(ch), &now);
    }
    if (now.tripped(ch) != before.tripped(ch)) {
      emitEvent(DeviceEvent::Kind::Trip, ch, now.tripped(ch), &now);
    }
  }
  if (now.powerGoodLow() != before.powerGoodLow()) {
    emitEvent(DeviceEvent::Kind::PowerGoodLow, -1, now.powerGoodLow(), &now);
  }
  if (now.hardwareFault() != before.hardwareFault()) {
    emitEvent(DeviceEvent::Kind::HardwareFault, -1, now.hardwareFault(), &now);
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

QByteArray EventLog::toCsv(const QString& port, CsvDialect dialect) const {
  QByteArray csv = eventCsvHeader(dialect).toUtf8() + "\r\n";
  for (const DeviceEvent& e : entries_) csv += eventCsvLine(e, port, dialect).toUtf8() + "\r\n";
  return csv;
}

void EventLog::clear() {
  entries_.clear();
  dropped_ = 0;
}

}  // namespace zfuse
