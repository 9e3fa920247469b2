// svg2png: renders a vector picture into a PNG of the given size, for the installed
// application icon.
// usage: svg2png INPUT.svg OUTPUT.png SIZE

#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: svg2png INPUT.svg OUTPUT.png SIZE\n");
    return 2;
  }
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  QSvgRenderer renderer(QString::fromLocal8Bit(argv[1]));
  const int size = std::atoi(argv[3]);
  if (!renderer.isValid() || size <= 0) {
    std::fprintf(stderr, "svg2png: cannot render %s\n", argv[1]);
    return 1;
  }
  QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer.render(&painter);
  painter.end();
  return image.save(QString::fromLocal8Bit(argv[2])) ? 0 : 1;
}
