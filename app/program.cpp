#include "app/program.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <memory>

#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "link/endsignals.h"
#include "windowkit/keyboard.h"
#include "windowkit/qttranslations.h"
#include "windowkit/windowkit.h"
#include "windows/eventwindow.h"
#include "windows/grafik.h"
#include "windows/information.h"
#include "windows/trendwindow.h"

namespace zfuse {

TForm1* Form1 = nullptr;
Tpara* para = nullptr;
TInfo* Info = nullptr;
Tparameter_zokx* parameter_zokx = nullptr;
TForm2* Form2 = nullptr;
EventWindow* Events = nullptr;
TrendWindow* Trend = nullptr;

void followLanguage(bool english) {
  useQtTranslations(!english);
  if (para) para->describeControls();
  if (parameter_zokx) parameter_zokx->describeControls();
}

void startProgram(const StartOptions& options) {
  QApplication::setApplicationName(QStringLiteral("Electronic fuse"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/icons/zfuse.svg")));
  // The windows are drawn for Tahoma; where it is missing a similar face stands in.
  QFont::insertSubstitutions(QStringLiteral("Tahoma"),
                             {QStringLiteral("DejaVu Sans Condensed"),
                              QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")});
  Form1 = new TForm1(options.port);
  useFromKeyboard(Form1);
  // The dialogs exchange with the port the main window has chosen when they try.
  const auto chosenPort = [choice = &Form1->portChoice()] { return choice->com_name; };
  para = new Tpara(chosenPort);
  Info = new TInfo;
  parameter_zokx = new Tparameter_zokx(Form1->modelFlags(), chosenPort);
  Form2 = new TForm2;
  // The dialogs hand the device back to the main window when they close.
  QObject::connect(para, &ConfigDialog::deviceHandedBack, Form1, &TForm1::configurationClosed);
  QObject::connect(parameter_zokx, &ConfigDialog::deviceHandedBack, Form1,
                   &TForm1::configurationClosed);
  // The fuse-variant dialog's thumbnail opens the trip characteristic on top.
  // There the dialog holds the port: the picture as it is, without operating points.
  QObject::connect(parameter_zokx, &Tparameter_zokx::characteristicRequested, Form2, [] {
    Form2->setLive(false);
    showOnTop(Form2);
  });

  // The diagnosis: events, trend and operating points follow the main window's status
  // monitor, shown or hidden.
  Events = new EventWindow(&Form1->eventLog(), [] { return Form1->portName(); });
  Trend = new TrendWindow;
  StatusMonitor* monitor = &Form1->monitor();
  EventDetector* detector = &Form1->eventDetector();
  QObject::connect(detector, &EventDetector::occurred, Events, &EventWindow::logChanged);
  QObject::connect(detector, &EventDetector::occurred, Trend, &TrendWindow::addEvent);
  QObject::connect(monitor, &StatusMonitor::statusDecoded, Trend, &TrendWindow::addReading);
  // An entry of the event log opens the trend at its moment.
  QObject::connect(Events, &EventWindow::trendRequested, Trend,
                   [](const QDateTime& time) { Trend->showMoment(time.toMSecsSinceEpoch()); });
  QObject::connect(monitor, &StatusMonitor::statusDecoded, Form2, &TForm2::showLoads);
  QObject::connect(monitor, &StatusMonitor::silent, Form2, &TForm2::clearLoads);
  for (ConfigDialog* dialog :
       {static_cast<ConfigDialog*>(para), static_cast<ConfigDialog*>(parameter_zokx)}) {
    QObject::connect(dialog, &ConfigDialog::configurationWritten, detector,
                     &EventDetector::configurationWritten);
  }

  // German first, as at every start; English on request.
  Form1->deutschClick();
  if (options.english) Form1->englischClick();
  Form1->show();
}

void endProgram() {
  delete Trend;
  delete Events;
  Trend = nullptr;
  Events = nullptr;
  delete Form2;
  delete parameter_zokx;
  delete Info;
  delete para;
  delete Form1;
  Form1 = nullptr;
  para = nullptr;
  Info = nullptr;
  parameter_zokx = nullptr;
  Form2 = nullptr;
  sprache_deutsch = false;
  sprache_englisch = false;
  useQtTranslations(false);
}

int runEventLoop() {
  // A signal only writes a byte; the event loop sees it and quits in its own time.
  const auto notifier = quitOnEndSignals();
  const int result = QCoreApplication::exec();
  endProgram();
  return result;
}

int runProgram(int argc, char** argv, const StartOptions& options) {
  QApplication app(argc, argv);
  startProgram(options);
  return runEventLoop();
}

}  // namespace zfuse
