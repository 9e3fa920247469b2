#pragma once

#include <QAbstractTableModel>
#include <QSortFilterProxyModel>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <span>

#include "monitor/eventlog.h"
#include "windowkit/captions.h"

class QComboBox;
class QLabel;
class QPushButton;
class QTableView;

namespace zfuse {

// The event log as a table, newest first: time, what happened (in the words of the main
// window's lamps), on or off. It reads the log it is given and never copies it.
class EventTableModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit EventTableModel(const EventLog* log, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = {}) const override;
  int columnCount(const QModelIndex& parent = {}) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The log changed: the view reads it afresh.
  void refresh();
  void setEnglish(bool english);

  // What an entry says, in the chosen language: "Überstrom Kanal 1", "an".
  static QString eventText(const DeviceEvent& event, bool english);
  static QString stateText(const DeviceEvent& event, bool english);
  // The values of the telegram behind an entry, one line each ("Kanal 1: 1,23 A",
  // "Uin: 24,00 V"); empty for an entry without.
  static QString valuesText(const DeviceEvent& event, bool english);

  // The entry behind a row of the model (0 the newest).
  const DeviceEvent& event(int row) const { return log_->at(row); }

 private:
  const EventLog* log_;
  bool english_ = false;
};

// The entries the filters of the event window let through: one channel's (or all), one
// group's (or all).
class EventFilter : public QSortFilterProxyModel {
  Q_OBJECT

 public:
  using QSortFilterProxyModel::QSortFilterProxyModel;
  // -1: every channel; 0 to 3: only that channel's entries.
  void setChannel(int channel);
  // nullopt: every group.
  void setGroup(std::optional<DeviceEvent::Group> group);

 protected:
  bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

 private:
  int channel_ = -1;
  std::optional<DeviceEvent::Group> group_;
};

// The event log window ("Ereignisse"). The log fills while the window is hidden; the
// table follows it at most every quarter second, and only while it is shown, so a burst
// of lamp changes costs the event loop one table refresh per quarter second. Filters by
// channel and by kind; a double-click or Enter on an entry asks for the trend at its
// moment.
class EventWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRefreshPeriodMs = 250;

  EventWindow(const EventLog* log, std::function<QString()> portName, QWidget* parent = nullptr);

  // The log has new entries.
  void logChanged();
  void applyLanguage(bool english);
  // Writes the log as CSV to a file the operator names.
  void exportClick();

  QTableView* table() const { return table_; }
  EventTableModel* model() const { return model_; }
  EventFilter* filter() const { return filter_; }
  // The filter lists' entry `index`: channel 0 all, 1 to 4; kind 0 all, then trip,
  // warning, voltage, device fault, connection, configuration.
  void chooseChannel(int index);
  void chooseKind(int index);
  // The entry in the table's row `row` (as filtered) asks for the trend.
  void openInTrend(int row);

 signals:
  // The operator wants to see the trend at the moment of an entry.
  void trendRequested(const QDateTime& time);

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void refreshNow();
  void fillFilterLists();

  const EventLog* log_;
  std::function<QString()> portName_;
  EventTableModel* model_;
  EventFilter* filter_;
  QLabel* channelCaption_;
  QComboBox* channels_;
  QLabel* kindCaption_;
  QComboBox* kinds_;
  QTableView* table_;
  QLabel* count_;
  QPushButton* export_;
  QTimer refresh_;
  bool dirty_ = false;
  bool english_ = false;
};

// The fixed texts of the event log window, German and English.
std::span<const Caption> eventWindowCaptions();

}  // namespace zfuse
