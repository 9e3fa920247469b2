// zfuse-shot: starts the program, lets it monitor for a while and saves a picture of the
// main window. Used for the pictures in docs/.
// usage: zfuse-shot OUTPUT.png [MILLISECONDS]

#include <QApplication>
#include <QTimer>
#include <cstdio>

#include "app/program.h"
#include "app/zokm32.h"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: zfuse-shot OUTPUT.png [MILLISECONDS]\n");
    return 2;
  }
  QApplication app(argc, argv);
  const QString output = QString::fromLocal8Bit(argv[1]);
  const int wait = argc > 2 ? std::atoi(argv[2]) : 3000;
  zfuse::startProgram();
  bool saved = false;
  QTimer::singleShot(wait, [&] {
    saved = zfuse::Form1->grab().save(output);
    QApplication::quit();
  });
  app.exec();
  zfuse::endProgram();
  return saved ? 0 : 1;
}
