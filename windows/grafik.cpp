#include "windows/grafik.h"

#include <QPainter>
#include <QPainterPath>

#include "ui_grafik.h"
#include "windowkit/desktop.h"
#include "windowkit/keyboard.h"
#include "windowkit/windowkit.h"
#include "windows/channelcolours.h"

namespace zfuse {

namespace {
constexpr double kDrawingWidth = 903;
constexpr int kPad = 3;

QString decimal(double value, char format, int precision, bool english) {
  QString text = QString::number(value, format, precision);
  if (!english) text.replace(QLatin1Char('.'), QLatin1Char(','));
  return text;
}
}  // namespace

LoadMarker::LoadMarker(int channel, QWidget* parent) : QWidget(parent), channel_(channel) {
  setObjectName(QStringLiteral("marker%1").arg(channel + 1));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  // Reachable with Tab, so that a screen reader reads what it shows.
  setFocusPolicy(Qt::TabFocus);
  QFont f = font();
  f.setBold(true);
  setFont(f);
  hide();
}

void LoadMarker::place(const OperatingPoint& p, const QRectF& picture, bool english) {
  using namespace characteristic;
  const double scale = picture.width() / kDrawingWidth;
  const auto at = [&](double x, double y) {
    return QPointF(picture.left() + x * scale, picture.top() + y * scale);
  };
  const QPointF top = at(p.x, kTopY);
  lineX_ = top.x();
  axisY_ = at(p.x, kAxisY).y();
  clippedLeft_ = p.clipped && p.load < 1.0;
  clippedRight_ = p.clipped && p.load > 1.0;
  dotY_.reset();
  if (p.tripSeconds) dotY_ = at(p.x, timeY(*p.tripSeconds)).y();

  label_ = QStringLiteral("%1: %2 × I_N").arg(p.channel + 1).arg(decimal(p.load, 'f', 2, english));
  timeText_ =
      p.tripSeconds ? decimal(*p.tripSeconds, 'g', 3, english) + QStringLiteral(" s") : QString();
  QString name =
      (english ? QStringLiteral("channel %1: %2 × I_N") : QStringLiteral("Kanal %1: %2 × I_N"))
          .arg(p.channel + 1)
          .arg(decimal(p.load, 'f', 2, english));
  if (p.clipped)
    name += english ? QStringLiteral(", beyond the axis") : QStringLiteral(", außerhalb der Achse");
  if (p.tripSeconds) {
    name += (english ? QStringLiteral(", trip time %1") : QStringLiteral(", Auslösezeit %1"))
                .arg(timeText_);
  }
  setAccessibleName(name);

  // The labels of the four channels stand in rows of their own above the staircase.
  const QFontMetrics fm = fontMetrics();
  const int rowHeight = fm.height() + 2 * kPad;
  const QSize labelSize(fm.horizontalAdvance(label_) + 2 * kPad + 10, rowHeight);
  const QSize timeSize(fm.horizontalAdvance(timeText_) + 2 * kPad, rowHeight);
  const int labelTop = static_cast<int>(top.y()) + channel_ * rowHeight;
  const int width = std::max(labelSize.width(), timeSize.width()) + 8;
  const int parentWidth = parentWidget() ? parentWidget()->width() : 900;
  labelLeft_ = lineX_ + width > parentWidth;
  const int left = labelLeft_ ? static_cast<int>(lineX_) - width : static_cast<int>(lineX_) - 3;
  setGeometry(left, labelTop, width + 3, static_cast<int>(axisY_) - labelTop + 1);
  const int lineLocal = static_cast<int>(lineX_) - left;
  const int textX = labelLeft_ ? lineLocal - 4 - labelSize.width() : lineLocal + 4;
  labelRect_ = QRect(QPoint(textX, 0), labelSize);
  if (dotY_) {
    const int timeX = labelLeft_ ? lineLocal - 6 - timeSize.width() : lineLocal + 6;
    timeRect_ = QRect(QPoint(timeX, static_cast<int>(*dotY_ - labelTop) - rowHeight), timeSize);
  } else {
    timeRect_ = QRect();
  }
  update();
}

void LoadMarker::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor colour = channelColour(channel_);
  const double x = lineX_ - geometry().left();
  painter.setPen(QPen(colour, 2));
  painter.drawLine(QPointF(x, 0), QPointF(x, height() - 1));
  // The label on white, so that it reads over the drawing's lines.
  painter.setPen(QPen(colour, 1));
  painter.setBrush(Qt::white);
  painter.drawRect(labelRect_.adjusted(0, 0, -1, -1));
  painter.drawText(labelRect_.adjusted(kPad, 0, -kPad - 10, 0), Qt::AlignVCenter | Qt::AlignLeft,
                   label_);
  // A load beyond the axis: an arrow pointing where it lies.
  if (clippedLeft_ || clippedRight_) {
    const double ax = labelRect_.right() - 8, ay = labelRect_.center().y();
    QPainterPath arrow;
    if (clippedRight_) {
      arrow.moveTo(ax, ay - 4);
      arrow.lineTo(ax + 6, ay);
      arrow.lineTo(ax, ay + 4);
    } else {
      arrow.moveTo(ax + 6, ay - 4);
      arrow.lineTo(ax, ay);
      arrow.lineTo(ax + 6, ay + 4);
    }
    painter.fillPath(arrow, colour);
  }
  if (dotY_) {
    const double y = *dotY_ - geometry().top();
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(x, y), 5, 5);
    painter.setBrush(Qt::white);
    painter.drawRect(timeRect_.adjusted(0, 0, -1, -1));
    painter.drawText(timeRect_, Qt::AlignCenter, timeText_);
  }
  painter.end();
  if (hasFocus()) drawFocusFrame(this);
}

TForm2::TForm2(QWidget* parent) : QWidget(parent), ui(std::make_unique<Ui::TForm2>()) {
  ui->setupUi(this);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowCloseButtonHint);
  setFixedSize(900, 535);
  closeOnEscape(this);
  for (int ch = 0; ch < 4; ++ch) markers_[ch] = new LoadMarker(ch, this);
  FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::FormCreate() {
  centreInWorkArea(this);
}

void TForm2::setLive(bool live) {
  live_ = live;
  if (!live) clearLoads();
}

void TForm2::showLoads(const StatusReading& reading) {
  if (!live_) return;
  last_ = reading;
  const QRectF picture = ui->Image2->pictureRect().translated(ui->Image2->pos());
  std::array<bool, 4> shown{};
  for (const OperatingPoint& p : operatingPoints(reading)) {
    markers_[p.channel]->place(p, picture, english_);
    markers_[p.channel]->show();
    shown[p.channel] = true;
  }
  for (int ch = 0; ch < 4; ++ch) {
    if (!shown[ch]) markers_[ch]->hide();
  }
}

void TForm2::clearLoads() {
  last_.reset();
  for (LoadMarker* m : markers_) m->hide();
}

void TForm2::applyLanguage(bool english) {
  english_ = english;
  if (last_) showLoads(*last_);
}

}  // namespace zfuse
