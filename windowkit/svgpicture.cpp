#include "windowkit/svgpicture.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QSvgRenderer>

#include "windowkit/keyboard.h"

namespace zfuse {

SvgPicture::SvgPicture(QWidget* parent) : QWidget(parent), renderer_(new QSvgRenderer(this)) {}

void SvgPicture::setSource(const QString& resource) {
  source_ = resource;
  renderer_->load(resource);
  update();
}

bool SvgPicture::isValid() const {
  return renderer_->isValid();
}

QRectF SvgPicture::pictureRect() const {
  const QSizeF picture = renderer_->defaultSize();
  if (picture.isEmpty()) return {};
  const double scale = std::min(width() / picture.width(), height() / picture.height());
  return {0.0, 0.0, picture.width() * scale, picture.height() * scale};
}

void SvgPicture::paintEvent(QPaintEvent*) {
  if (!renderer_->isValid()) return;
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  renderer_->render(&painter, pictureRect());
  painter.end();
  if (hasFocus()) drawFocusFrame(this);
}

void SvgPicture::mouseReleaseEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint())) {
    emit clicked();
  }
  QWidget::mouseReleaseEvent(event);
}

void SvgPicture::keyPressEvent(QKeyEvent* event) {
  if (isClickKey(event)) {
    emit clicked();
    return;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace zfuse
