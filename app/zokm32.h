#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>

#include "monitor/eventlog.h"
#include "monitor/recording.h"
#include "monitor/statusmonitor.h"

class QLabel;

namespace Ui {
class TForm1;
}

namespace zfuse {

// The main window: the device's live state, the port choice, the language flags and the
// way into the configuration dialogs. It owns the status monitor of its port and shows
// what the monitor reports:
//
//   Timer1 (50 ms) -> port choice, first open, reopening -> StatusMonitor
//   StatusMonitor: frameCompleted -> port list gives way to the activity indicator
//                  telegramSeen   -> model flags, activity blink (Timer3 ends it)
//                  statusDecoded  -> lamps and value labels (statusTexts formats them)
//   Timer2 (1 s) -> StatusMonitor::watchdogTick -> silent -> display emptied, port list
//   StatusMonitor -> EventDetector -> EventLog (the event log window reads it)
//                 -> StatusRecording (menu: start/stop recording) -> CSV file
//   (program.cpp adds the trend window and the operating points of Form2)
class TForm1 : public QMainWindow {
  Q_OBJECT

 public:
  // `startPort` 1 ... 11: the port of the first open, also the list's first choice.
  explicit TForm1(int startPort = 1, QWidget* parent = nullptr);
  ~TForm1() override;

  // Event handlers.
  void FormCreate();
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void Button1Click();
  void info1Click();
  void Beenden1Click();
  void Aufzeichnungstarten1Click();
  void Aufzeichnungbeenden1Click();
  void Ereignisse1Click();
  void Verlauf1Click();
  void Kennlinie1Click();
  void deutschClick();
  void englischClick();

  // Serial connection and status path.
  void oeffnecom();
  void schliessecom();
  void baue_string(uint8_t b) { monitor_.feed(&b, 1); }

  // The status path of the window's port; outputs such as recordings subscribe to it.
  StatusMonitor& monitor() { return monitor_; }
  // The port the operator chose; the configuration dialogs exchange with it.
  PortChoice& portChoice() { return portChoice_; }
  // The model on the line as the window and its dialogs see it.
  ModelFlags& modelFlags() { return modelFlags_; }

  // A configuration dialog closed: the main window takes the device back.
  void configurationClosed();

  // What the diagnosis windows and the recording follow.
  EventDetector& eventDetector() { return detector_; }
  const EventLog& eventLog() const { return eventLog_; }
  StatusRecording& recording() { return recording_; }
  // The mark in the menu bar that shows a recording runs.
  QLabel* recordingMark() const { return recordingMark_; }
  // The name of the port chosen, "COM1" to "COM11".
  QString portName() const;

  QTimer* Timer1;
  QTimer* Timer2;
  QTimer* Timer3;

  bool portOpen() const { return monitor_.connection().isOpen(); }

 private:
  struct Lamp {
    QLabel* white;
    QLabel* lit;
    QLabel* outline;
    QLabel* caption;
  };

  void closeEvent(QCloseEvent* event) override;
  // Every text of the caption tables in the language the flags now say, in all three
  // windows.
  void applyLanguage();
  void showActivityIndicator();
  void startActivityBlink(quint8 type);
  void showStatus(const StatusReading& reading);
  // No byte for a second: every lamp white, every value empty, the port list back.
  void emptyDisplay();
  static void setLamp(const Lamp& lamp, bool lit);
  // Tells assistive technology what each lamp shows ("Überstrom Kanal 1: an"), what
  // each value label stands for, and which language each flag chooses.
  void describeForAccessibility();
  static void describeLamp(const Lamp& lamp);
  static void hideLamp(const Lamp& lamp);
  // The recording menu items and the mark in the menu bar follow whether a recording runs.
  void showRecordingState();
  void recordingFailed(StatusRecording::Error error);

  std::unique_ptr<Ui::TForm1> ui;
  // The value labels of a channel's row, and its row captions.
  struct ChannelRow {
    QLabel* present;
    QLabel* highest;
    QLabel* rated;
    QLabel* presentCaption;  // "Kanal 1:" of the present and rated groups
    QLabel* highestCaption;  // "Kanal 1:" of the highest-current group
  };

  std::array<Lamp, 10> lamps_;  // warning 1, tripped 1, ... tripped 4, supply 1, supply 2
  std::array<ChannelRow, 4> rows_;
  StatusMonitor monitor_;
  PortChoice portChoice_;
  ModelFlags modelFlags_;
  EventDetector detector_;
  EventLog eventLog_;
  StatusRecording recording_;
  QLabel* recordingMark_ = nullptr;
};

}  // namespace zfuse
