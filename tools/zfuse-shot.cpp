// zfuse-shot: starts the program, lets it monitor for a while and saves a picture of one
// of its windows. Used for the pictures in docs/.
// usage: zfuse-shot OUTPUT.png [MILLISECONDS] [main|standard|variant|info|characteristic] [en]
//   standard, variant: the configuration dialog, opened and read from the device.

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/program.h"
#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "windows/grafik.h"
#include "windows/information.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: zfuse-shot OUTPUT.png [MILLISECONDS] "
                 "[main|standard|variant|info|characteristic] [en]\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString output = QString::fromLocal8Bit(argv[1]);
  const int wait = argc > 2 ? std::atoi(argv[2]) : 3000;
  const std::string window = argc > 3 ? argv[3] : "main";
  const bool english = argc > 4 && std::strcmp(argv[4], "en") == 0;
  zfuse::startProgram();
  if (english) zfuse::Form1->englischClick();
  bool saved = false;
  // Half-way the main window knows the model from the telegrams and hands the device
  // over to the dialog that fits it.
  QTimer::singleShot(wait / 2, [&] {
    using namespace zfuse;
    if (window == "standard" || window == "variant") {
      Form1->Button1Click();
      if (window == "standard") {
        para->laden();
      } else {
        parameter_zokx->Button1Click();
      }
    } else if (window == "info") {
      Form1->info1Click();
    } else if (window == "characteristic") {
      Form2->show();
    }
  });
  QTimer::singleShot(wait, [&] {
    using namespace zfuse;
    QWidget* shown = Form1;
    if (window == "standard") shown = para;
    if (window == "variant") shown = parameter_zokx;
    if (window == "info") shown = Info;
    if (window == "characteristic") shown = Form2;
    saved = shown->grab().save(output);
    QApplication::quit();
  });
  app.exec();
  zfuse::endProgram();
  return saved ? 0 : 1;
}
