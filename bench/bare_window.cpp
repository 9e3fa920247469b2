// zfuse-bare-window: the least a Qt Widgets program does to show a window, built with the
// same compiler and flags as zfuse. zfuse-measure's "launch" figure compares zfuse's
// start-up to this one.

#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QWidget window;
  window.setWindowTitle(QStringLiteral("bare window"));
  window.resize(640, 480);
  window.show();
  return app.exec();
}
