#include "windows/eventwindow.h"

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

namespace zfuse {

namespace {

const Caption kCaptions[] = {
    {"", "Ereignisse", "events"},
    {"exportieren", "&Exportieren…", "&export…"},
};

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

QVariant EventTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= log_->size()) return {};
  const DeviceEvent& e = log_->at(index.row());
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

  table_->setModel(model_);
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

  auto* bottom = new QHBoxLayout;
  bottom->addWidget(count_, 1);
  bottom->addWidget(export_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(table_, 1);
  layout->addLayout(bottom);

  setMinimumSize(520, 260);
  resize(620, 420);
  closeOnEscape(this);
  useFromKeyboard(this);
  setTabOrder(table_, export_);
  fitInWorkArea(this);

  connect(export_, &QPushButton::clicked, this, &EventWindow::exportClick);
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
  count_->setText(
      (english_ ? QStringLiteral("%1 entries") : QStringLiteral("%1 Einträge")).arg(log_->size()));
}

void EventWindow::applyLanguage(bool english) {
  english_ = english;
  applyCaptions(this, kCaptions, english);
  model_->setEnglish(english);
  table_->setAccessibleName(tr2(english, "Ereignisse", "events"));
  refreshNow();
}

void EventWindow::exportClick() {
  const QString path = Modal::askFileName(this, FileQuestion::csvSave(english_));
  if (path.isEmpty()) return;
  if (!saveFileWhole(path, log_->toCsv(portName_ ? portName_() : QString()))) {
    Modal::showError(this,
                     tr2(english_, "Datei konnte nicht gespeichert werden", "could not save file"));
  }
}

}  // namespace zfuse
