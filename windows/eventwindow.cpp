#include "windows/eventwindow.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

#include "link/safefile.h"
#include "windowkit/desktop.h"
#include "windowkit/keyboard.h"
#include "windowkit/modal.h"
#include "windowkit/windowkit.h"
#include "windows/csvquestion.h"

namespace zfuse {

namespace {

const Caption kCaptions[] = {
    {"", "Ereignisse", "events"},
    {"exportieren", "&Exportieren…", "&export…"},
    {"LabelKanal", "&Kanal:", "c&hannel:"},
    {"LabelArt", "&Art:", "&kind:"},
};

// The kind filter's entries after "alle" ("all"), in the order of the list.
struct GroupText {
  DeviceEvent::Group group;
  const char* german;
  const char* english;
};
const GroupText kGroups[] = {
    {DeviceEvent::Group::Trip, "Auslösung", "trip"},
    {DeviceEvent::Group::Warning, "Warnung", "warning"},
    {DeviceEvent::Group::Voltage, "Spannung", "voltage"},
    {DeviceEvent::Group::DeviceFault, "Gerätefehler", "hardware fault"},
    {DeviceEvent::Group::Connection, "Verbindung", "connection"},
    {DeviceEvent::Group::Configuration, "Konfiguration", "configuration"},
};

// Hundredths as a number with two decimals and the language's decimal separator.
QString hundredths(int raw, bool english) {
  return QStringLiteral("%1%2%3")
      .arg(raw / 100)
      .arg(english ? QLatin1Char('.') : QLatin1Char(','))
      .arg(raw % 100, 2, 10, QLatin1Char('0'));
}

enum Column { kTime, kEvent, kState, kColumns };

struct KindText {
  DeviceEvent::Kind kind;
  const char* german;
  const char* english;
};
// A channel's lamps in the words of the main window's lamp captions; %1 is the channel.
const KindText kKinds[] = {
    {DeviceEvent::Kind::Warning, "Überstrom Kanal %1", "overcurrent channel %1"},
    {DeviceEvent::Kind::Trip, "Kanal %1 ausgelöst", "channel %1 open circuit"},
    {DeviceEvent::Kind::PowerGoodLow, "Uin < Power Good", "Uin < power good"},
    {DeviceEvent::Kind::HardwareFault, "Gerätefehler", "hardware fault"},
    {DeviceEvent::Kind::ConnectionLost, "Verbindung unterbrochen", "connection lost"},
    {DeviceEvent::Kind::ConnectionBack, "Verbindung wieder da", "connection back"},
    {DeviceEvent::Kind::ConfigurationWritten, "Konfiguration geschrieben", "configuration written"},
};

QString tr2(bool english, const char* german, const char* en) {
  return QString::fromUtf8(english ? en : german);
}

// A kind's text with its channel filled in, where it names one.
QString channelText(const char* text, int channel) {
  const QString t = QString::fromUtf8(text);
  return t.contains(QLatin1String("%1")) ? t.arg(channel + 1) : t;
}

bool isLamp(DeviceEvent::Kind kind) {
  return kind == DeviceEvent::Kind::Warning || kind == DeviceEvent::Kind::Trip ||
         kind == DeviceEvent::Kind::PowerGoodLow || kind == DeviceEvent::Kind::HardwareFault;
}

}  // namespace

std::span<const Caption> eventWindowCaptions() {
  return kCaptions;
}

EventTableModel::EventTableModel(const EventLog* log, QObject* parent)
    : QAbstractTableModel(parent), log_(log) {}

int EventTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : log_->size();
}

int EventTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kColumns;
}

QString EventTableModel::eventText(const DeviceEvent& e, bool english) {
  for (const KindText& k : kKinds) {
    if (k.kind != e.kind) continue;
    return channelText(english ? k.english : k.german, e.channel);
  }
  return {};
}

QString EventTableModel::stateText(const DeviceEvent& e, bool english) {
  if (!isLamp(e.kind)) return {};
  return e.on ? tr2(english, "an", "on") : tr2(english, "aus", "off");
}

QString EventTableModel::valuesText(const DeviceEvent& e, bool english) {
  if (!e.hasValues()) return {};
  QStringList lines;
  for (int ch = 0; ch < 4; ++ch) {
    if (e.present[ch] < 0) continue;
    lines << (english ? QStringLiteral("channel %1: %2 A") : QStringLiteral("Kanal %1: %2 A"))
                 .arg(ch + 1)
                 .arg(hundredths(e.present[ch], english));
  }
  lines << QStringLiteral("Uin: %1 V").arg(hundredths(e.uin, english));
  return lines.join(QLatin1Char('\n'));
}

QVariant EventTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= log_->size()) return {};
  const DeviceEvent& e = log_->at(index.row());
  // The currents and the voltage of the telegram that raised the entry.
  if (role == Qt::ToolTipRole) {
    const QString values = valuesText(e, english_);
    return values.isEmpty() ? QVariant() : QVariant(values);
  }
  if (role == Qt::DisplayRole || role == Qt::AccessibleTextRole) {
    switch (index.column()) {
      case kTime:
        return e.time.toString(QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz"));
      case kEvent:
        return eventText(e, english_);
      case kState:
        return stateText(e, english_);
    }
  }
  // A lamp that lit stands out: trips in red, the other lamps in dark yellow.
  if (role == Qt::ForegroundRole && isLamp(e.kind) && e.on) {
    return e.kind == DeviceEvent::Kind::Trip ? QColor(Qt::red) : QColor(0x9a, 0x78, 0x00);
  }
  return {};
}

QVariant EventTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  switch (section) {
    case kTime:
      return tr2(english_, "Zeit", "time");
    case kEvent:
      return tr2(english_, "Ereignis", "event");
    case kState:
      return tr2(english_, "Zustand", "state");
  }
  return {};
}

void EventFilter::setChannel(int channel) {
  channel_ = channel;
  invalidateFilter();
}

void EventFilter::setGroup(std::optional<DeviceEvent::Group> group) {
  group_ = group;
  invalidateFilter();
}

bool EventFilter::filterAcceptsRow(int sourceRow, const QModelIndex&) const {
  if (channel_ < 0 && !group_) return true;
  const auto* events = static_cast<const EventTableModel*>(sourceModel());
  const DeviceEvent& e = events->event(sourceRow);
  if (channel_ >= 0 && e.channel != channel_) return false;
  return !group_ || e.group() == *group_;
}

void EventTableModel::refresh() {
  beginResetModel();
  endResetModel();
}

void EventTableModel::setEnglish(bool english) {
  english_ = english;
  refresh();
  emit headerDataChanged(Qt::Horizontal, 0, kColumns - 1);
}

EventWindow::EventWindow(const EventLog* log, std::function<QString()> portName, QWidget* parent)
    : QWidget(parent),
      log_(log),
      portName_(std::move(portName)),
      model_(new EventTableModel(log, this)),
      filter_(new EventFilter(this)),
      channelCaption_(new QLabel(this)),
      channels_(new QComboBox(this)),
      kindCaption_(new QLabel(this)),
      kinds_(new QComboBox(this)),
      table_(new QTableView(this)),
      count_(new QLabel(this)),
      export_(new QPushButton(this)) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/icons/zfuse.svg")));
  setObjectName(QStringLiteral("Ereignisse"));
  table_->setObjectName(QStringLiteral("liste"));
  count_->setObjectName(QStringLiteral("anzahl"));
  export_->setObjectName(QStringLiteral("exportieren"));
  channelCaption_->setObjectName(QStringLiteral("LabelKanal"));
  channels_->setObjectName(QStringLiteral("kanal"));
  kindCaption_->setObjectName(QStringLiteral("LabelArt"));
  kinds_->setObjectName(QStringLiteral("art"));
  channelCaption_->setBuddy(channels_);
  kindCaption_->setBuddy(kinds_);
  channels_->setFocusPolicy(Qt::StrongFocus);
  kinds_->setFocusPolicy(Qt::StrongFocus);

  filter_->setSourceModel(model_);
  table_->setModel(filter_);
  table_->setSelectionBehavior(QAbstractItemView::SelectRows);
  table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  table_->setTabKeyNavigation(false);  // Tab leaves the table for the button
  table_->verticalHeader()->hide();
  // Rows of one height: ten thousand entries cost no measuring.
  table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  table_->verticalHeader()->setDefaultSectionSize(table_->fontMetrics().height() + 6);
  table_->horizontalHeader()->setStretchLastSection(true);
  table_->setColumnWidth(
      kTime,
      table_->fontMetrics().horizontalAdvance(QStringLiteral("0000-00-00 00:00:00.000")) + 16);
  int eventWidth = 0;
  for (const KindText& k : kKinds) {
    for (const char* text : {k.german, k.english}) {
      eventWidth =
          std::max(eventWidth, table_->fontMetrics().horizontalAdvance(channelText(text, 3)));
    }
  }
  table_->setColumnWidth(kEvent, eventWidth + 24);
  export_->setFocusPolicy(Qt::StrongFocus);
  export_->setAutoDefault(true);

  auto* top = new QHBoxLayout;
  top->addWidget(channelCaption_);
  top->addWidget(channels_);
  top->addSpacing(12);
  top->addWidget(kindCaption_);
  top->addWidget(kinds_);
  top->addStretch(1);
  auto* bottom = new QHBoxLayout;
  bottom->addWidget(count_, 1);
  bottom->addWidget(export_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(table_, 1);
  layout->addLayout(bottom);

  setMinimumSize(520, 260);
  resize(620, 420);
  closeOnEscape(this);
  useFromKeyboard(this);
  setTabOrder(channels_, kinds_);
  setTabOrder(kinds_, table_);
  setTabOrder(table_, export_);
  fitInWorkArea(this);

  connect(export_, &QPushButton::clicked, this, &EventWindow::exportClick);
  connect(channels_, &QComboBox::activated, this, &EventWindow::chooseChannel);
  connect(kinds_, &QComboBox::activated, this, &EventWindow::chooseKind);
  // A double-click, or Enter on the current entry.
  connect(table_, &QTableView::activated, this,
          [this](const QModelIndex& index) { openInTrend(index.row()); });
  refresh_.setInterval(kRefreshPeriodMs);
  connect(&refresh_, &QTimer::timeout, this, [this] {
    if (dirty_ && isVisible()) refreshNow();
  });
  refresh_.start();
  applyLanguage(false);
}

void EventWindow::logChanged() {
  dirty_ = true;
}

void EventWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  refreshNow();
}

void EventWindow::refreshNow() {
  dirty_ = false;
  model_->refresh();
  const int shown = filter_->rowCount();
  if (shown == log_->size()) {
    count_->setText((english_ ? QStringLiteral("%1 entries") : QStringLiteral("%1 Einträge"))
                        .arg(log_->size()));
  } else {
    count_->setText(
        (english_ ? QStringLiteral("%1 of %2 entries") : QStringLiteral("%1 von %2 Einträgen"))
            .arg(shown)
            .arg(log_->size()));
  }
}

void EventWindow::fillFilterLists() {
  const int channel = std::max(0, channels_->currentIndex());
  const int kind = std::max(0, kinds_->currentIndex());
  channels_->clear();
  channels_->addItem(tr2(english_, "alle", "all"));
  for (int ch = 1; ch <= 4; ++ch) channels_->addItem(QString::number(ch));
  kinds_->clear();
  kinds_->addItem(tr2(english_, "alle", "all"));
  for (const GroupText& g : kGroups) kinds_->addItem(tr2(english_, g.german, g.english));
  channels_->setCurrentIndex(channel);
  kinds_->setCurrentIndex(kind);
  channels_->setAccessibleName(tr2(english_, "Kanal", "channel"));
  kinds_->setAccessibleName(tr2(english_, "Art", "kind"));
}

void EventWindow::chooseChannel(int index) {
  if (index < 0 || index > 4) return;
  if (channels_->currentIndex() != index) channels_->setCurrentIndex(index);
  filter_->setChannel(index - 1);
  refreshNow();
}

void EventWindow::chooseKind(int index) {
  if (index < 0 || index > int(std::size(kGroups))) return;
  if (kinds_->currentIndex() != index) kinds_->setCurrentIndex(index);
  filter_->setGroup(index == 0 ? std::nullopt
                               : std::optional(kGroups[static_cast<std::size_t>(index - 1)].group));
  refreshNow();
}

void EventWindow::openInTrend(int row) {
  const QModelIndex index = filter_->index(row, 0);
  if (!index.isValid()) return;
  emit trendRequested(model_->event(filter_->mapToSource(index).row()).time);
}

void EventWindow::applyLanguage(bool english) {
  english_ = english;
  applyCaptions(this, kCaptions, english);
  model_->setEnglish(english);
  fillFilterLists();
  table_->setAccessibleName(tr2(english, "Ereignisse", "events"));
  refreshNow();
}

void EventWindow::exportClick() {
  const QString port = portName_ ? portName_() : QString();
  const std::optional<CsvSaveAnswer> answer = askCsvSave(
      this, english_, csvFileName(port, QDateTime::currentDateTime(), QStringLiteral("events")));
  if (!answer) return;
  const QString path = answer->path;
  if (!saveFileWhole(path, log_->toCsv(port, answer->dialect))) {
    Modal::showError(this,
                     tr2(english_, "Datei konnte nicht gespeichert werden", "could not save file"));
  }
}

}  // namespace zfuse
