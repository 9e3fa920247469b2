// zfuse-shot: starts the program, lets it monitor for a while and saves a picture of one
// of its windows. Used for the pictures in docs/.
// usage: zfuse-shot OUTPUT.png [MILLISECONDS]
//          [main|standard|variant|info|characteristic|events|trend|loads|overload|recording]
//          [en]
//   standard, variant: the configuration dialog, opened and read from the device.
//   events, trend: the event log and the trend window, open from the start.
//   loads: the trip characteristic opened from the menu, marking the live loads.
//   overload: the same, with status telegrams fed into the status path at the end:
//   loads of 0,55 / 1,1 / 2,8 / 1,62 × I_N, then channel 4 tripped.
//   trend: the cursor stands 15 s before the end.
//   recording: the main window while it records into a file in the temporary folder.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "app/program.h"
#include "app/zokm32.h"
#include "dialogs/parameter.h"
#include "dialogs/parameter2.h"
#include "tools/devicesim.h"
#include "windowkit/modal.h"
#include "windows/eventwindow.h"
#include "windows/grafik.h"
#include "windows/information.h"
#include "windows/trendwindow.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr,
                 "usage: zfuse-shot OUTPUT.png [MILLISECONDS] "
                 "[main|standard|variant|info|characteristic|events|trend|loads|overload|"
                 "recording] "
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
    } else if (window == "recording") {
      Modal::fileAnswer = [](const FileQuestion&) {
        return QDir::temp().filePath(QStringLiteral("zfuse-COM1-recording.csv"));
      };
      Form1->Aufzeichnungstarten1Click();
      Modal::fileAnswer = nullptr;
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
      // Telegrams as the fuse sends them: rated 10 A, loads 0,55 / 1,1 / 2,8 / 1,62 × I_N;
      // then channel 4 has tripped and carries no current.
      sim::Measurements m;
      m.rated = {10, 10, 10, 10};
      m.present = {550, 1100, 2800, 1620};
      m.highest = m.present;
      std::vector<uint8_t> t = sim::statusTelegram(kType4ch10A, m);
      Form1->monitor().feed(t.data(), t.size());
      m.present[3] = 0;
      m.channelBits = 0x80;
      t = sim::statusTelegram(kType4ch10A, m);
      Form1->monitor().feed(t.data(), t.size());
    }
    if (window == "trend") Trend->plot()->setCursorAt(Trend->plot()->viewEnd() - 15'000);
    if (window == "recording") {
      shown->grab().save(output);
      Form1->Aufzeichnungbeenden1Click();
      QFile::remove(QDir::temp().filePath(QStringLiteral("zfuse-COM1-recording.csv")));
      saved = true;
      QApplication::quit();
      return;
    }
    saved = shown->grab().save(output);
    QApplication::quit();
  });
  app.exec();
  zfuse::endProgram();
  return saved ? 0 : 1;
}
