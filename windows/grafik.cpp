#include "windows/grafik.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>

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

// The load as the label says it: "0,55 × I_N", "ausgelöst bei 1,62 × I_N".
QString loadText(const OperatingPoint& p, bool english) {
  const QString load = decimal(p.load, 'f', 2, english);
  if (!p.tripped) return QStringLiteral("%1 × I_N").arg(load);
  if (!p.loadKnown) return english ? QStringLiteral("tripped") : QStringLiteral("ausgelöst");
  return (english ? QStringLiteral("tripped at %1 × I_N")
                  : QStringLiteral("ausgelöst bei %1 × I_N"))
      .arg(load);
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
  lineX_ = at(p.x, kTopY).x();
  axisY_ = at(p.x, kAxisY).y();
  clippedRight_ = p.clipped && p.load > 1.0;
  dotY_.reset();
  if (p.tripSeconds) dotY_ = at(p.x, timeY(*p.tripSeconds)).y();

  label_ = QStringLiteral("%1: %2").arg(p.channel + 1).arg(loadText(p, english));
  timeText_ =
      p.tripSeconds ? decimal(*p.tripSeconds, 'g', 3, english) + QStringLiteral(" s") : QString();
  QString name = (english ? QStringLiteral("channel %1: %2") : QStringLiteral("Kanal %1: %2"))
                     .arg(p.channel + 1)
                     .arg(loadText(p, english));
  if (p.clipped)
    name += english ? QStringLiteral(", beyond the axis") : QStringLiteral(", außerhalb der Achse");
  if (p.tripSeconds) {
    name += (english ? QStringLiteral(", trip time %1") : QStringLiteral(", Auslösezeit %1"))
                .arg(timeText_);
  }
  setAccessibleName(name);
}

QSize LoadMarker::labelSize() const {
  const QFontMetrics fm = fontMetrics();
  // Room for the arrow of a load beyond the axis' end.
  return {fm.horizontalAdvance(label_) + 2 * kPad + (clippedRight_ ? 10 : 0),
          fm.height() + 2 * kPad};
}

QSize LoadMarker::timeSize() const {
  const QFontMetrics fm = fontMetrics();
  return {fm.horizontalAdvance(timeText_) + 2 * kPad, fm.height() + 2 * kPad};
}

void LoadMarker::placeLabel(const QRect& label, const QRect& time) {
  labelRect_ = label;
  timeRect_ = time;
  const int line = static_cast<int>(lineX_);
  QRect covered(QPoint(line - 3, label.top()), QPoint(line + 3, static_cast<int>(axisY_)));
  covered = covered.united(label);
  if (!time.isEmpty()) covered = covered.united(time);
  if (dotY_) covered = covered.united(QRect(line - 6, int(*dotY_) - 6, 13, 13));
  setGeometry(covered);
  update();
}

void LoadMarker::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor colour = channelColour(channel_);
  const QPoint origin = geometry().topLeft();
  const QRect label = labelRect_.translated(-origin);
  const double x = lineX_ - origin.x();
  // The line from the label down to the axis; where the label had to move aside, a
  // short stroke joins it to the line.
  painter.setPen(QPen(colour, 2));
  painter.drawLine(QPointF(x, label.center().y()), QPointF(x, height() - 1));
  if (x < label.left() - 4 || x > label.right() + 4) {
    const double edge = x < label.left() ? label.left() : label.right();
    painter.drawLine(QPointF(x, label.center().y()), QPointF(edge, label.center().y()));
  }
  // The label on white, so that it reads over the drawing's lines.
  painter.setPen(QPen(colour, 1));
  painter.setBrush(Qt::white);
  painter.drawRect(label.adjusted(0, 0, -1, -1));
  painter.drawText(label.adjusted(kPad, 0, -kPad - (clippedRight_ ? 10 : 0), 0),
                   Qt::AlignVCenter | Qt::AlignLeft, label_);
  // A load beyond the axis' end: an arrow pointing where it lies.
  if (clippedRight_) {
    const double ax = label.right() - 9, ay = label.center().y();
    QPainterPath arrow;
    arrow.moveTo(ax, ay - 4);
    arrow.lineTo(ax + 6, ay);
    arrow.lineTo(ax, ay + 4);
    painter.fillPath(arrow, colour);
  }
  if (dotY_) {
    const double y = *dotY_ - origin.y();
    painter.setBrush(colour);
    painter.drawEllipse(QPointF(x, y), 5, 5);
    painter.setBrush(Qt::white);
    const QRect time = timeRect_.translated(-origin);
    painter.drawRect(time.adjusted(0, 0, -1, -1));
    painter.drawText(time, Qt::AlignCenter, timeText_);
  }
  painter.end();
  if (hasFocus()) drawFocusFrame(this);
}

LoadLegend::LoadLegend(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("lasten"));
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setFocusPolicy(Qt::TabFocus);
  QFont f = font();
  f.setBold(true);
  setFont(f);
  hide();
}

void LoadLegend::showEntries(const std::vector<Entry>& entries, const QPoint& topRight,
                             bool english) {
  entries_ = entries;
  if (entries_.empty()) {
    hide();
    return;
  }
  title_ = english ? QStringLiteral("below 1 × I_N:") : QStringLiteral("unter 1 × I_N:");
  const QFontMetrics fm = fontMetrics();
  int width = fm.horizontalAdvance(title_);
  QStringList names{title_};
  for (const Entry& e : entries_) {
    width = std::max(width, 16 + fm.horizontalAdvance(e.text));
    names << e.text;
  }
  const int rowHeight = fm.height() + 2;
  const QSize size(width + 4 * kPad, int(entries_.size() + 1) * rowHeight + 2 * kPad);
  setGeometry(QRect(QPoint(topRight.x() - size.width() + 1, topRight.y()), size));
  setAccessibleName(names.join(QLatin1Char(' ')));
  show();
  raise();
  update();
}

void LoadLegend::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  const QFontMetrics fm = fontMetrics();
  const int rowHeight = fm.height() + 2;
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.setBrush(Qt::white);
  painter.drawRect(rect().adjusted(0, 0, -1, -1));
  painter.setPen(Qt::black);
  painter.drawText(QRect(2 * kPad, kPad, width(), rowHeight), Qt::AlignVCenter | Qt::AlignLeft,
                   title_);
  for (std::size_t i = 0; i < entries_.size(); ++i) {
    const Entry& e = entries_[i];
    const int top = kPad + int(i + 1) * rowHeight;
    const QColor colour = channelColour(e.channel);
    painter.fillRect(QRect(2 * kPad, top + rowHeight / 2 - 5, 10, 10), colour);
    painter.setPen(colour);
    painter.drawText(QRect(2 * kPad + 16, top, width(), rowHeight),
                     Qt::AlignVCenter | Qt::AlignLeft, e.text);
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
  legend_ = new LoadLegend(this);
  FormCreate();
}

TForm2::~TForm2() = default;

void TForm2::FormCreate() {
  centreInWorkArea(this);
}

void TForm2::setLive(bool live) {
  live_ = live;
  if (!live) {
    clearLoads();
    beforeTrip_ = {};
  }
}

std::vector<QRect> TForm2::drawingTexts() const {
  // In drawing units: the time axis' arrow and "[s]", its numbers, the "A" of the
  // staircase and its circle, the "const 2,5 × I_N" note, the current axis' texts.
  static const QRectF texts[] = {{100, 18, 62, 30},
                                 {0, 20, 108, 460},
                                 {164, 74, 52, 52},
                                 {636, 266, 214, 34},
                                 {96, 476, 807, 60}};
  const QRectF picture = ui->Image2->pictureRect().translated(ui->Image2->pos());
  const double scale = picture.width() / kDrawingWidth;
  std::vector<QRect> rects;
  for (const QRectF& t : texts) {
    rects.push_back(QRectF(picture.left() + t.left() * scale, picture.top() + t.top() * scale,
                           t.width() * scale, t.height() * scale)
                        .toAlignedRect());
  }
  return rects;
}

void TForm2::arrangeLabels(const std::vector<LoadMarker*>& shown) {
  const QRectF picture = ui->Image2->pictureRect().translated(ui->Image2->pos());
  const double scale = picture.width() / kDrawingWidth;
  std::vector<QRect> taken = drawingTexts();
  if (legend_->isVisible()) taken.push_back(legend_->geometry().adjusted(-2, -2, 2, 2));
  const auto free = [&](const QRect& r) {
    if (!rect().contains(r)) return false;
    for (const QRect& t : taken) {
      if (t.intersects(r)) return false;
    }
    return true;
  };
  const int top = static_cast<int>(picture.top() + characteristic::kTopY * scale);
  std::vector<LoadMarker*> ordered = shown;
  std::sort(ordered.begin(), ordered.end(),
            [](const LoadMarker* a, const LoadMarker* b) { return a->lineX() < b->lineX(); });
  for (LoadMarker* m : ordered) {
    const QSize size = m->labelSize();
    const int line = static_cast<int>(m->lineX());
    // Right of the line, or left of it where the window ends.
    const int wanted = line + 4 + size.width() <= width() ? line + 4 : line - 4 - size.width();
    QRect label;
    for (int row = 0; row < 12 && label.isNull(); ++row) {
      const QRect r(QPoint(wanted, top + row * (size.height() + 2)), size);
      if (free(r)) label = r;
    }
    // Every row taken near the line: the first free place further right in the top rows,
    // joined to the line by a stroke.
    for (int shift = 8; label.isNull() && shift < width(); shift += 8) {
      for (int row = 0; row < 4 && label.isNull(); ++row) {
        const QRect r(QPoint(wanted + shift, top + row * (size.height() + 2)), size);
        if (free(r)) label = r;
      }
    }
    if (label.isNull()) label = QRect(QPoint(wanted, top), size);
    taken.push_back(label);
    QRect time;
    if (m->dotY()) {
      // Beside the dot, right or left, and else a row further up or down at a time.
      const QSize t = m->timeSize();
      const int y = static_cast<int>(*m->dotY()) - t.height();
      for (int step = 0; step < 16 && time.isNull(); ++step) {
        const int dy = (step % 2 == 0 ? -1 : 1) * ((step + 1) / 2) * (t.height() + 2);
        for (const int x : {line + 6, line - 6 - t.width()}) {
          const QRect r(QPoint(x, y + dy), t);
          if (free(r)) {
            time = r;
            break;
          }
        }
      }
      if (time.isNull()) time = QRect(QPoint(line - 6 - t.width(), y), t);
      taken.push_back(time);
    }
    m->placeLabel(label, time);
  }
}

void TForm2::showLoads(const StatusReading& reading) {
  if (!live_) return;
  last_ = reading;
  const QRectF picture = ui->Image2->pictureRect().translated(ui->Image2->pos());
  std::vector<LoadLegend::Entry> below;
  std::vector<LoadMarker*> shown;
  for (const OperatingPoint& p : operatingPoints(reading, beforeTrip_)) {
    LoadMarker* m = markers_[p.channel];
    m->place(p, picture, english_);
    if (p.belowAxis()) {
      below.push_back({p.channel, m->label()});
      m->hide();
    } else {
      shown.push_back(m);
    }
  }
  // Each channel's load is kept while it has not tripped, for the moment it does.
  const std::array<std::optional<double>, 4> loads = channelLoads(reading);
  for (int ch = 0; ch < 4; ++ch) {
    if (loads[ch] && !reading.tripped(ch)) beforeTrip_[ch] = loads[ch];
  }
  const double scale = picture.width() / kDrawingWidth;
  legend_->showEntries(below,
                       QPointF(picture.left() + 868 * scale, picture.top() + 120 * scale).toPoint(),
                       english_);
  arrangeLabels(shown);
  for (int ch = 0; ch < 4; ++ch) {
    const bool visible = std::find(shown.begin(), shown.end(), markers_[ch]) != shown.end();
    markers_[ch]->setVisible(visible);
  }
}

void TForm2::clearLoads() {
  last_.reset();
  for (LoadMarker* m : markers_) m->hide();
  legend_->showEntries({}, {}, english_);
}

void TForm2::applyLanguage(bool english) {
  english_ = english;
  if (last_) showLoads(*last_);
}

}  // namespace zfuse
