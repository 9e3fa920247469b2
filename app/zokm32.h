#pragma once

#include <QMainWindow>
#include <QTimer>
#include <array>
#include <memory>

#include "link/connection.h"
#include "link/frameassembler.h"
#include "monitor/statustelegram.h"

class QLabel;

namespace Ui {
class TForm1;
}

namespace zfuse {

// The main window: the device's live state, the port choice, the language flags and the
// way into the configuration dialogs. It owns the monitoring connection.
class TForm1 : public QMainWindow, public FrameAssemblerHost, public StatusDisplay {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Event handlers.
  void FormCreate();
  void Timer1Timer();
  void Timer2Timer();
  void Timer3Timer();
  void Button1Click();
  void info1Click();
  void Beenden1Click();
  void deutschClick();
  void englischClick();

  // Serial connection and status path.
  void oeffnecom();
  void schliessecom();
  void baue_string(uint8_t b) { assembler_.baue_string(b); }
  void ausfuehren() override;

  // A configuration dialog closed: the main window takes the device back.
  void configurationClosed();

  QTimer* Timer1;
  QTimer* Timer2;
  QTimer* Timer3;

  bool portOpen() const { return connection_.isOpen(); }

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
  void showActivityIndicator() override;
  void startActivityBlink() override;
  void showStatus(const StatusValues& values) override;
  static void setLamp(const Lamp& lamp, bool lit);
  // Tells assistive technology what each lamp shows ("Überstrom Kanal 1: an"), what
  // each value label stands for, and which language each flag chooses.
  void describeForAccessibility();
  static void describeLamp(const Lamp& lamp);
  static void hideLamp(const Lamp& lamp);

  std::unique_ptr<Ui::TForm1> ui;
  std::array<Lamp, 10> lamps_;  // warning 1, tripped 1, ... tripped 4, supply 1, supply 2
  FrameAssembler assembler_{*this};
  PortConnection connection_;  // after the assembler: it hands bytes to it
};

}  // namespace zfuse
