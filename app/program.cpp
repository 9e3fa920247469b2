#include "app/program.h"

#include <QApplication>
#include <QFont>
#include <QIcon>
#include <memory>

#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "link/connection.h"
#include "link/endsignals.h"
#include "monitor/statustelegram.h"
#include "windowkit/keyboard.h"
#include "windowkit/qttranslations.h"
#include "windowkit/windowkit.h"
#include "windows/grafik.h"
#include "windows/information.h"

namespace zfuse {

TForm1* Form1 = nullptr;
Tpara* para = nullptr;
TInfo* Info = nullptr;
Tparameter_zokx* parameter_zokx = nullptr;
TForm2* Form2 = nullptr;

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
  resetModelFlags();
  resetPortSelection();
  setStartPort(options.port);

  Form1 = new TForm1;
  useFromKeyboard(Form1);
  para = new Tpara;
  Info = new TInfo;
  parameter_zokx = new Tparameter_zokx;
  Form2 = new TForm2;
  // The dialogs hand the device back to the main window when they close.
  QObject::connect(para, &ConfigDialog::deviceHandedBack, Form1, &TForm1::configurationClosed);
  QObject::connect(parameter_zokx, &ConfigDialog::deviceHandedBack, Form1,
                   &TForm1::configurationClosed);
  // The fuse-variant dialog's thumbnail opens the trip characteristic on top.
  QObject::connect(parameter_zokx, &Tparameter_zokx::characteristicRequested, Form2,
                   [] { showOnTop(Form2); });

  // German first, as at every start; English on request.
  Form1->deutschClick();
  if (options.english) Form1->englischClick();
  Form1->show();
}

void endProgram() {
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
  resetModelFlags();
  resetPortSelection();
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
