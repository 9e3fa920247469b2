#pragma once

#include <QAbstractTableModel>
#include <QTimer>
#include <QWidget>
#include <span>

#include "monitor/eventlog.h"
#include "windowkit/captions.h"

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

 private:
  const EventLog* log_;
  bool english_ = false;
};

// The event log window ("Ereignisse"). The log fills while the window is hidden; the
// table follows it at most every quarter second, and only while it is shown, so a burst
// of lamp changes costs the event loop one table refresh per quarter second.
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

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void refreshNow();

  const EventLog* log_;
  std::function<QString()> portName_;
  EventTableModel* model_;
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
