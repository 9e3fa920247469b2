#pragma once

#include <QString>
#include <QWidget>

class QSvgRenderer;

namespace zfuse {

// A vector picture in a box: scaled to fit with its aspect ratio kept and drawn from the
// box's top-left corner, sharp at any scale factor. Reports a click of the left button;
// one that takes the keyboard focus (focus policy Qt::TabFocus, for a picture that acts
// when clicked) also reports Space and Return, and shows a focus frame while focused.
class SvgPicture : public QWidget {
  Q_OBJECT
  Q_PROPERTY(QString source READ source WRITE setSource)

 public:
  explicit SvgPicture(QWidget* parent = nullptr);

  QString source() const { return source_; }
  void setSource(const QString& resource);
  bool isValid() const;
  // Where the picture lands inside the box.
  QRectF pictureRect() const;

 signals:
  void clicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString source_;
  QSvgRenderer* renderer_;
};

}  // namespace zfuse

using zfuse::SvgPicture;
