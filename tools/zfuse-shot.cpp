// zfuse-shot: starts the program, lets it monitor for a while and saves a picture of one
// of its windows. Used for the pictures in docs/.
// usage: zfuse-shot OUTPUT.png [MILLISECONDS]
//          [main|standard|variant|info|characteristic|events|trend|loads|overload] [en]
//   standard, variant: the configuration dialog, opened and read from the device.
//   events, trend: the event log and the trend window, open from the start.
//   loads: the trip characteristic opened from the menu, marking the live loads.
//   overload: the same, with a status telegram of overloaded channels (0,6 / 1,1 / 1,6 /
//   2,8 × I_N) fed into the status path at the end.

#include <QApplication>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/program.h"
#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "tools/devicesim.h"
#include "windows/eventwindow.h"
#include "windows/grafik.h"
#include "windows/information.h"
#include "windows/trendwindow.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: zfuse-shot OUTPUT.png [MILLISECONDS] "
                 "[main|standard|variant|info|characteristic|events|trend|loads|overload] "
                 "[en]\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString output = QString::fromLocal8Bit(argv[1]);
  const int wait = argc > 2 ? std::atoi(argv[2]) : 3000;
  const std::string window = argc > 3 ? argv[3] : "main";
  const bool english = argc > 4 && std::strcmp(argv[4], "en") == 0;
  zfuse::startProgram();
  if (english) zfuse::Form1->englischClick();
  if (window == "events") zfuse::Form1->Ereignisse1Click();
  if (window == "trend") zfuse::Form1->Verlauf1Click();
  if (window == "trend") zfuse::Trend->chooseSpan(0);
  if (window == "loads" || window == "overload") zfuse::Form1->Kennlinie1Click();
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
    if (window == "characteristic" || window == "loads" || window == "overload") shown = Form2;
    if (window == "events") shown = Events;
    if (window == "trend") shown = Trend;
    if (window == "overload") {
      // A telegram as the fuse sends it: rated 10 A, loads 0,6 / 1,1 / 1,6 / 2,8 × I_N.
      sim::Measurements m;
      m.rated = {10, 10, 10, 10};
      m.present = {600, 1100, 1600, 2800};
      m.highest = m.present;
      const std::vector<uint8_t> t = sim::statusTelegram(kType4ch10A, m);
      Form1->monitor().feed(t.data(), t.size());
    }
    if (window == "trend") Trend->plot()->refresh();
    saved = shown->grab().save(output);
    QApplication::quit();
  });
  app.exec();
  zfuse::endProgram();
  return saved ? 0 : 1;
}
