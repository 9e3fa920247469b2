#include "windows/trendwindow.h"

#include <QComboBox>
#include <QDateTime>
#include <QHBoxLayout>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <QSignalBlocker>
#include <QToolTip>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

#include "windowkit/desktop.h"
#include "windowkit/keyboard.h"
#include "windowkit/windowkit.h"
#include "windows/channelcolours.h"

namespace zfuse {

namespace {

const Caption kCaptions[] = {
    {"", "Verlauf", "trend"},
    {"Label1", "&Zeitraum:", "&span:"},
    {"anhalten", "&Anhalten", "&pause"},
};

// A line is broken where no value came for this long.
constexpr qint64 kGapMs = 1000;

const char* const kSpanNames[] = {"1 min", "10 min", "1 h", "24 h"};

// Steps of the time axis: the first that gives at most about seven labels is used.
constexpr qint64 kTimeSteps[] = {5'000,     10'000,    15'000,     30'000,    60'000,
                                 120'000,   300'000,   600'000,    900'000,   1'800'000,
                                 3'600'000, 7'200'000, 10'800'000, 21'600'000};

QString number(double value, int decimals, bool english) {
  QString text = QString::number(value, 'f', decimals);
  if (!english) text.replace(QLatin1Char('.'), QLatin1Char(','));
  return text;
}

QColor seriesColour(int series) {
  return series == kTrendVoltage ? voltageColour() : channelColour(series);
}

QString spanName(qint64 span) {
  for (std::size_t i = 0; i < std::size(TrendWindow::kSpans); ++i) {
    if (TrendWindow::kSpans[i] == span) return QString::fromLatin1(kSpanNames[i]);
  }
  return QStringLiteral("%1 s").arg(span / 1000);
}

qint64 systemClock() {
  return QDateTime::currentMSecsSinceEpoch();
}

// A range a little wider than [lo, hi], on whole steps.
std::pair<double, double> niceRange(double lo, double hi, double step, double minimum) {
  lo = std::floor(lo / step) * step;
  hi = std::ceil(hi / step) * step;
  if (hi - lo < minimum) {
    const double mid = (hi + lo) / 2;
    lo = std::floor((mid - minimum / 2) / step) * step;
    hi = lo + minimum;
  }
  return {lo, hi};
}

}  // namespace

std::span<const Caption> trendWindowCaptions() {
  return kCaptions;
}

TrendPlot::TrendPlot(const TrendHistory* history, QWidget* parent)
    : QWidget(parent), history_(history), clock_(systemClock) {
  setObjectName(QStringLiteral("verlauf"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  // Reachable with Tab, so that a screen reader reads the values it shows.
  setFocusPolicy(Qt::TabFocus);
  setMouseTracking(true);
  refresh();
}

void TrendPlot::setSpan(qint64 ms) {
  span_ = ms;
  refresh();
}

void TrendPlot::pauseAt(qint64 end) {
  pausedAt_ = end;
  refresh();
}

void TrendPlot::setPaused(bool paused) {
  if (paused == this->paused()) return;
  if (paused) {
    pausedAt_ = clock_();
  } else {
    pausedAt_.reset();
  }
  refresh();
}

qint64 TrendPlot::viewEnd() const {
  return pausedAt_ ? *pausedAt_ : clock_();
}

void TrendPlot::setEnglish(bool english) {
  english_ = english;
  refresh();
}

std::vector<TrendPlot::LegendEntry> TrendPlot::legend() const {
  std::vector<LegendEntry> entries;
  for (int s = 0; s < kTrendSeries; ++s) entries.push_back({legendText(s), seriesColour(s), 1, {}});
  entries.push_back({english_ ? QStringLiteral("warning") : QStringLiteral("Warnung"),
                     QColor(0xe0, 0xa0, 0),
                     2,
                     {}});
  entries.push_back(
      {english_ ? QStringLiteral("trip") : QStringLiteral("Auslösung"), QColor(0xd0, 0, 0), 2, {}});
  if (paused()) {
    entries.push_back(
        {english_ ? QStringLiteral("paused") : QStringLiteral("angehalten"), Qt::black, 0, {}});
  }
  // Flowed into as many rows as the width needs, so nothing is cut at a narrow window.
  const QFontMetrics fm = fontMetrics();
  const int left = leftMargin(), right = std::max(left + 1, width() - 8);
  int x = left, y = 4;
  for (LegendEntry& e : entries) {
    const int w = (e.sample ? 22 : 0) + fm.horizontalAdvance(e.text);
    if (x > left && x + w > right) {
      x = left;
      y += fm.height() + 2;
    }
    e.box = QRect(x, y, w, fm.height());
    x += w + 14;
  }
  return entries;
}

int TrendPlot::leftMargin() const {
  return fontMetrics().horizontalAdvance(QStringLiteral("1000 %")) + 14;
}

namespace {
// The rows of the plot below the legend: the currents, the band of the marks, the
// voltage's strip and the time axis with a line for the dates.
struct Rows {
  QRect currents, marks, voltage;
};
Rows rowsOf(const QWidget* plot, int left, int top) {
  const QFontMetrics fm = plot->fontMetrics();
  const int right = 12;
  const int bottom = 2 * fm.height() + 14;
  const int width = std::max(1, plot->width() - left - right);
  const int available = std::max(3, plot->height() - top - bottom);
  const int band = fm.height() + 10;
  const int strip = std::max(fm.height() * 2 + 8, available * 22 / 100);
  const int currents = std::max(1, available - band - strip);
  Rows rows;
  rows.currents = QRect(left, top, width, currents);
  rows.marks = QRect(left, rows.currents.bottom() + 1, width, band);
  rows.voltage = QRect(left, rows.marks.bottom() + 1, width, std::max(1, strip));
  return rows;
}
}  // namespace

QRect TrendPlot::plotArea() const {
  return rowsOf(this, leftMargin(), legend().back().box.bottom() + 10).currents;
}

QRect TrendPlot::voltageArea() const {
  return rowsOf(this, leftMargin(), legend().back().box.bottom() + 10).voltage;
}

QRect TrendPlot::markBand() const {
  return rowsOf(this, leftMargin(), legend().back().box.bottom() + 10).marks;
}

std::vector<ColumnRange> TrendPlot::shownColumns(int series) const {
  const qint64 t1 = viewEnd() + 1;
  return history_->columns(series, t1 - span_, t1, plotArea().width());
}

double TrendPlot::xOf(qint64 ms) const {
  const QRect area = plotArea();
  const qint64 t0 = viewEnd() + 1 - span_;
  return area.left() + double(ms - t0) * area.width() / double(span_);
}

qint64 TrendPlot::timeAt(double x) const {
  const QRect area = plotArea();
  const qint64 t0 = viewEnd() + 1 - span_;
  return t0 + static_cast<qint64>(std::floor((x - area.left()) * double(span_) / area.width()));
}

void TrendPlot::setCursorAt(std::optional<qint64> ms) {
  cursor_ = ms;
  refresh();
}

std::optional<TrendPoint> TrendPlot::cursorPoint() const {
  if (!cursor_) return std::nullopt;
  const std::optional<TrendPoint> p = history_->pointAt(*cursor_);
  const qint64 near = std::max<qint64>(2000, span_ / std::max(1, plotArea().width()) * 2);
  if (!p || *cursor_ - p->ms >= near) return std::nullopt;
  return p;
}

std::vector<TrendPlot::DrawnMark> TrendPlot::drawnMarks() const {
  const QRect band = markBand();
  const QFontMetrics fm = fontMetrics();
  const qint64 t1 = viewEnd() + 1, t0 = t1 - span_;
  std::vector<DrawnMark> drawn;
  int free = band.left() - 1;  // the first x a channel number may take
  for (const TrendMark& m : history_->marks(t0, t1)) {
    const double x = band.left() + double(m.ms - t0) * band.width() / double(span_);
    const QString number = QString::number(m.channel + 1);
    QRect label(static_cast<int>(x) + 5, band.top() + 1, fm.horizontalAdvance(number) + 2,
                fm.height());
    // A number only where the one before it leaves room; the triangle stands anyway.
    if (label.left() <= free || label.right() > band.right() + 10) {
      label = QRect();
    } else {
      free = label.right() + 3;
    }
    drawn.push_back({x, m, label});
  }
  return drawn;
}

std::vector<TrendPlot::TimeLabel> TrendPlot::timeLabels() const {
  const qint64 t1 = viewEnd() + 1, t0 = t1 - span_;
  qint64 step = kTimeSteps[std::size(kTimeSteps) - 1];
  for (const qint64 s : kTimeSteps) {
    if (span_ / s <= 7) {
      step = s;
      break;
    }
  }
  const QString timeFormat = step < 60'000 ? QStringLiteral("hh:mm:ss") : QStringLiteral("hh:mm");
  const auto dayOf = [](qint64 ms) { return QDateTime::fromMSecsSinceEpoch(ms).date(); };
  const bool crossesMidnight = dayOf(t0) != dayOf(t1 - 1);
  const QLocale locale(english_ ? QLocale::English : QLocale::German);
  const QString dateFormat = english_ ? QStringLiteral("d MMM") : QStringLiteral("dd.MM.");
  std::vector<TimeLabel> labels;
  const QRect area = plotArea();
  const auto xOfTime = [&](qint64 ms) {
    return area.left() + double(ms - t0) * area.width() / double(span_);
  };
  QDate previous;
  const qint64 offset = QDateTime::fromMSecsSinceEpoch(t1).offsetFromUtc() * 1000LL;
  for (qint64 t = ((t0 + offset) / step + 1) * step - offset; t < t1; t += step) {
    const QDateTime at = QDateTime::fromMSecsSinceEpoch(t);
    TimeLabel label{xOfTime(t), at.toString(timeFormat), QString()};
    if (crossesMidnight && at.date() != previous)
      label.date = locale.toString(at.date(), dateFormat);
    previous = at.date();
    labels.push_back(label);
  }
  return labels;
}

QString TrendPlot::legendText(int series) const {
  if (series == kTrendVoltage) return QStringLiteral("Uin [V]");
  return (english_ ? QStringLiteral("channel %1 [% I_N]") : QStringLiteral("Kanal %1 [% I_N]"))
      .arg(series + 1);
}

QString TrendPlot::valuesText(const TrendPoint& p) const {
  QStringList lines{QDateTime::fromMSecsSinceEpoch(p.ms).toString(QStringLiteral("hh:mm:ss"))};
  for (int ch = 0; ch < 4; ++ch) {
    if (std::isnan(p.value[ch])) continue;
    lines << (english_ ? QStringLiteral("channel %1: %2 A (%3 %)")
                       : QStringLiteral("Kanal %1: %2 A (%3 %)"))
                 .arg(ch + 1)
                 .arg(number(p.amperes(ch), 2, english_), number(p.value[ch], 0, english_));
  }
  lines << QStringLiteral("Uin: %1 V").arg(number(p.value[kTrendVoltage], 2, english_));
  return lines.join(QLatin1Char('\n'));
}

void TrendPlot::refresh() {
  setAccessibleName(english_ ? QStringLiteral("trend") : QStringLiteral("Verlauf"));
  const qint64 end = viewEnd();
  const std::optional<TrendPoint> p = history_->pointAt(end);
  QString description =
      (english_ ? QStringLiteral("last %1") : QStringLiteral("letzte %1")).arg(spanName(span_));
  if (paused())
    description += english_ ? QStringLiteral(", paused") : QStringLiteral(", angehalten");
  if (p)
    description +=
        QStringLiteral(": ") + valuesText(*p).replace(QLatin1Char('\n'), QStringLiteral("; "));
  if (const std::optional<TrendPoint> c = cursorPoint()) {
    description += (english_ ? QStringLiteral("; cursor ") : QStringLiteral("; Cursor ")) +
                   valuesText(*c).replace(QLatin1Char('\n'), QStringLiteral("; "));
  }
  if (accessibleDescription() != description) setAccessibleDescription(description);
  update();
}

void TrendPlot::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const QRect area = plotArea();
  const QRect strip = voltageArea();
  const QRect band = markBand();
  const QFontMetrics fm = fontMetrics();
  const qint64 t1 = viewEnd() + 1, t0 = t1 - span_;
  const int columns = area.width();

  std::array<std::vector<ColumnRange>, kTrendSeries> shown;
  double pctMax = 0, vMin = 1e9, vMax = -1e9;
  for (int s = 0; s < kTrendSeries; ++s) {
    shown[s] = history_->columns(s, t0, t1, columns);
    for (const ColumnRange& c : shown[s]) {
      if (c.empty()) continue;
      if (s == kTrendVoltage) {
        vMin = std::min(vMin, double(c.min));
        vMax = std::max(vMax, double(c.max));
      } else {
        pctMax = std::max(pctMax, double(c.max));
      }
    }
  }
  // Percent from 0 to at least 120 (the first step of the characteristic); volts around
  // what the span holds, at least 4 V, on their own strip.
  const double pctTop = std::max(125.0, std::ceil(pctMax / 25.0) * 25.0);
  const auto [vLo, vHi] = vMin <= vMax ? niceRange(vMin, vMax, 1.0, 4.0) : std::pair{20.0, 28.0};
  const auto yPct = [&](double v) { return area.bottom() - v / pctTop * area.height(); };
  const auto yVolt = [&](double v) {
    return strip.bottom() - (v - vLo) / (vHi - vLo) * strip.height();
  };
  const QColor grid(0xe0, 0xe0, 0xe0);

  // Grid and axes: percent for the currents, volts for the strip, both on the left.
  const double pctStep = pctTop > 300 ? 100 : (pctTop > 150 ? 50 : 25);
  for (double v = 0; v <= pctTop + 0.1; v += pctStep) {
    const double y = yPct(v);
    painter.setPen(grid);
    painter.drawLine(QPointF(area.left(), y), QPointF(area.right(), y));
    painter.setPen(Qt::black);
    painter.drawText(QRectF(0, y - fm.height() / 2.0, area.left() - 6, fm.height()),
                     Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("%1 %").arg(v));
  }
  // As many volt steps as the strip's height has room for.
  const double range = vHi - vLo;
  const int fit = std::max(1, strip.height() / (fm.height() + 2));
  double vStep = 1;
  for (const double s : {1.0, 2.0, 5.0, 10.0, 20.0, 50.0}) {
    vStep = s;
    if (range / s <= fit) break;
  }
  for (double v = std::ceil(vLo / vStep) * vStep; v <= vHi + 0.01; v += vStep) {
    const double y = yVolt(v);
    painter.setPen(grid);
    painter.drawLine(QPointF(strip.left(), y), QPointF(strip.right(), y));
    painter.setPen(voltageColour());
    painter.drawText(QRectF(0, y - fm.height() / 2.0, strip.left() - 6, fm.height()),
                     Qt::AlignRight | Qt::AlignVCenter,
                     QStringLiteral("%1 V").arg(number(v, 0, english_)));
  }
  for (const TimeLabel& label : timeLabels()) {
    painter.setPen(grid);
    painter.drawLine(QPointF(label.x, area.top()), QPointF(label.x, area.bottom()));
    painter.drawLine(QPointF(label.x, strip.top()), QPointF(label.x, strip.bottom()));
    painter.setPen(Qt::black);
    const double w = std::max(fm.horizontalAdvance(label.time), fm.horizontalAdvance(label.date));
    painter.drawText(QRectF(label.x - w / 2 - 2, strip.bottom() + 6, w + 4, fm.height()),
                     Qt::AlignCenter, label.time);
    if (!label.date.isEmpty()) {
      painter.drawText(
          QRectF(label.x - w / 2 - 2, strip.bottom() + 6 + fm.height(), w + 4, fm.height()),
          Qt::AlignCenter, label.date);
    }
  }

  // Warnings and trips: a triangle in the band under the currents with the channel's
  // number in its colour; a trip also a faint dashed line through the currents, drawn
  // before the data so that it never hides them.
  const std::vector<DrawnMark> marks = drawnMarks();
  const QColor tripColour(0xd0, 0, 0), warningColour(0xe0, 0xa0, 0);
  // A pale red, opaque: blending a line costs the raster engine far more.
  painter.setPen(QPen(QColor(0xf0, 0xa8, 0xa8), 1, Qt::DashLine));
  for (const DrawnMark& m : marks) {
    if (m.mark.trip) painter.drawLine(QPointF(m.x, area.top()), QPointF(m.x, area.bottom()));
  }
  painter.setPen(Qt::NoPen);
  for (const DrawnMark& m : marks) {
    QPolygonF triangle;
    triangle << QPointF(m.x, band.top() + 1) << QPointF(m.x - 4, band.top() + 8)
             << QPointF(m.x + 4, band.top() + 8);
    painter.setBrush(m.mark.trip ? tripColour : warningColour);
    painter.drawPolygon(triangle);
  }
  QFont bold = font();
  bold.setBold(true);
  painter.setFont(bold);
  for (const DrawnMark& m : marks) {
    if (m.label.isEmpty()) continue;
    painter.setPen(channelColour(m.mark.channel));
    painter.drawText(m.label, Qt::AlignLeft | Qt::AlignVCenter,
                     QString::number(m.mark.channel + 1));
  }
  painter.setFont(font());
  painter.setBrush(Qt::NoBrush);
  painter.setPen(Qt::black);
  painter.drawRect(area.adjusted(0, 0, -1, -1));
  painter.drawRect(strip.adjusted(0, 0, -1, -1));

  // The series, one vertical stroke per pixel column from its lowest to its highest
  // value, joined from column to column; a second or more without a value (silence, a
  // switched-off channel) breaks the line, the columns between two telegrams do not.
  const int gapColumns = std::max<int>(1, static_cast<int>(kGapMs * columns / span_));
  for (int s = kTrendSeries - 1; s >= 0; --s) {
    const bool volts = s == kTrendVoltage;
    painter.save();
    painter.setClipRect(volts ? strip : area);
    painter.setPen(QPen(seriesColour(s), volts ? 1.0 : 1.5));
    // Separate segments, not one long self-overlapping polyline, which the stroker
    // would have to fill as a whole.
    std::vector<QLineF> lines;
    lines.reserve(static_cast<std::size_t>(columns) * 2);
    std::optional<QPointF> previous;
    int empty = 0;
    for (int c = 0; c < columns; ++c) {
      const ColumnRange& r = shown[s][static_cast<std::size_t>(c)];
      if (r.empty()) {
        if (++empty == gapColumns) previous.reset();
        continue;
      }
      empty = 0;
      const double x = area.left() + c + 0.5;
      const double yMin = volts ? yVolt(r.min) : yPct(r.min);
      const double yMax = volts ? yVolt(r.max) : yPct(r.max);
      // From where the last column ended to the nearer end of this one's range.
      const QPointF from(x, previous && previous->y() < yMax ? yMax : yMin);
      const QPointF to(x, from.y() == yMax ? yMin : yMax);
      lines.emplace_back(previous ? *previous : from, from);
      if (from != to) lines.emplace_back(from, to);
      previous = to;
    }
    painter.drawLines(lines.data(), static_cast<int>(lines.size()));
    painter.restore();
  }

  // The legend above the plot: a line of each series' colour, a triangle of each mark's.
  for (const LegendEntry& e : legend()) {
    const double mid = e.box.center().y() + 0.5;
    if (e.sample == 1) {
      painter.setPen(QPen(e.colour, 3));
      painter.drawLine(QPointF(e.box.left(), mid), QPointF(e.box.left() + 16, mid));
    } else if (e.sample == 2) {
      QPolygonF triangle;
      const double cx = e.box.left() + 8;
      triangle << QPointF(cx, mid - 5) << QPointF(cx - 5, mid + 4) << QPointF(cx + 5, mid + 4);
      painter.setPen(Qt::NoPen);
      painter.setBrush(e.colour);
      painter.drawPolygon(triangle);
      painter.setBrush(Qt::NoBrush);
    }
    painter.setPen(e.sample == 2 ? e.colour : QColor(Qt::black));
    painter.drawText(e.box.adjusted(e.sample ? 22 : 0, 0, 0, 0), Qt::AlignLeft | Qt::AlignVCenter,
                     e.text);
  }
  drawCursor(painter);
  painter.end();
  if (hasFocus()) drawFocusFrame(this);
}

void TrendPlot::drawCursor(QPainter& painter) const {
  if (!cursor_) return;
  const QRect area = plotArea();
  const QRect strip = voltageArea();
  const double x = xOf(*cursor_);
  if (x < area.left() || x > area.right()) return;
  painter.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
  painter.drawLine(QPointF(x, area.top()), QPointF(x, strip.bottom()));
  // The values beside the line, on the side that has room.
  const std::optional<TrendPoint> p = cursorPoint();
  const QString text =
      p ? valuesText(*p)
        : QDateTime::fromMSecsSinceEpoch(*cursor_).toString(QStringLiteral("hh:mm:ss")) +
              (english_ ? QStringLiteral("\nno values") : QStringLiteral("\nkeine Werte"));
  const QFontMetrics fm = fontMetrics();
  const QStringList lines = text.split(QLatin1Char('\n'));
  int w = 0;
  for (const QString& line : lines) w = std::max(w, fm.horizontalAdvance(line));
  QRect box(0, area.top() + 4, w + 12, int(lines.size()) * fm.height() + 8);
  box.moveLeft(x + 8 + box.width() <= area.right() ? int(x) + 8 : int(x) - 8 - box.width());
  painter.setPen(QColor(0x80, 0x80, 0x80));
  painter.setBrush(QColor(255, 255, 255, 230));
  painter.drawRect(box);
  painter.setBrush(Qt::NoBrush);
  for (int i = 0; i < lines.size(); ++i) {
    // Each channel's line in its colour, the voltage's in the voltage's.
    QColor colour = Qt::black;
    if (p && i > 0) {
      int seen = 0;
      for (int ch = 0; ch < 4; ++ch) {
        if (std::isnan(p->value[ch])) continue;
        if (++seen == i) colour = channelColour(ch);
      }
      if (i == lines.size() - 1) colour = voltageColour();
    }
    painter.setPen(colour);
    painter.drawText(QRect(box.left() + 6, box.top() + 4 + i * fm.height(), w, fm.height()),
                     Qt::AlignLeft | Qt::AlignVCenter, lines[i]);
  }
}

void TrendPlot::mouseMoveEvent(QMouseEvent* event) {
  const QRect area = plotArea();
  const QRect strip = voltageArea();
  const QPointF at = event->position();
  if (at.x() >= area.left() && at.x() <= area.right() && at.y() >= area.top() &&
      at.y() <= strip.bottom()) {
    setCursorAt(timeAt(at.x()));
  }
  QWidget::mouseMoveEvent(event);
}

void TrendPlot::keyPressEvent(QKeyEvent* event) {
  const qint64 t1 = viewEnd() + 1, t0 = t1 - span_;
  const qint64 column = std::max<qint64>(1, span_ / std::max(1, plotArea().width()));
  const qint64 step = event->modifiers() & Qt::ShiftModifier ? 10 * column : column;
  const qint64 from = cursor_ ? std::clamp(*cursor_, t0, t1 - 1) : t1 - 1;
  switch (event->key()) {
    case Qt::Key_Left:
      setCursorAt(std::max(t0, from - (cursor_ ? step : 0)));
      return;
    case Qt::Key_Right:
      setCursorAt(std::min(t1 - 1, from + (cursor_ ? step : 0)));
      return;
    case Qt::Key_Home:
      setCursorAt(t0);
      return;
    case Qt::Key_End:
      setCursorAt(t1 - 1);
      return;
    default:
      QWidget::keyPressEvent(event);
  }
}

bool TrendPlot::event(QEvent* e) {
  if (e->type() == QEvent::ToolTip) {
    const auto* help = static_cast<QHelpEvent*>(e);
    const QRect area = plotArea().united(voltageArea());
    if (area.contains(help->pos())) {
      const qint64 t1 = viewEnd() + 1;
      const qint64 at = t1 - span_ + qint64(help->pos().x() - area.left()) * span_ / area.width();
      const std::optional<TrendPoint> p = history_->pointAt(at);
      if (p && at - p->ms < std::max<qint64>(2000, span_ / area.width() * 2)) {
        QToolTip::showText(help->globalPos(), valuesText(*p), this);
        return true;
      }
    }
    QToolTip::hideText();
    e->ignore();
    return true;
  }
  return QWidget::event(e);
}

TrendWindow::TrendWindow(QWidget* parent)
    : QWidget(parent),
      clock_(systemClock),
      spanCaption_(new QLabel(this)),
      spans_(new QComboBox(this)),
      pause_(new QPushButton(this)),
      plot_(new TrendPlot(&history_, this)) {
  setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                 Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(QIcon(QStringLiteral(":/icons/zfuse.svg")));
  setObjectName(QStringLiteral("Verlauf"));
  spanCaption_->setObjectName(QStringLiteral("Label1"));
  spans_->setObjectName(QStringLiteral("zeitraum"));
  pause_->setObjectName(QStringLiteral("anhalten"));
  for (std::size_t i = 0; i < std::size(kSpans); ++i) {
    spans_->addItem(QString::fromLatin1(kSpanNames[i]), kSpans[i]);
  }
  spans_->setCurrentIndex(1);
  spanCaption_->setBuddy(spans_);
  pause_->setCheckable(true);
  pause_->setAutoDefault(true);
  spans_->setFocusPolicy(Qt::StrongFocus);
  pause_->setFocusPolicy(Qt::StrongFocus);

  auto* top = new QHBoxLayout;
  top->addWidget(spanCaption_);
  top->addWidget(spans_);
  top->addSpacing(12);
  top->addWidget(pause_);
  top->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(plot_, 1);
  setTabOrder(spans_, pause_);
  setTabOrder(pause_, plot_);

  setMinimumSize(560, 320);
  resize(900, 440);
  closeOnEscape(this);
  useFromKeyboard(this);
  fitInWorkArea(this);

  connect(spans_, &QComboBox::activated, this, &TrendWindow::chooseSpan);
  connect(pause_, &QPushButton::toggled, this, [this](bool on) { plot_->setPaused(on); });
  redraw_.setInterval(kRedrawPeriodMs);
  connect(&redraw_, &QTimer::timeout, this, [this] {
    if (!isVisible() || plot_->paused()) return;
    // New points at once; without any the time axis still moves on every second.
    if (dirty_ || ++quietTicks_ >= 2) {
      dirty_ = false;
      quietTicks_ = 0;
      plot_->refresh();
    }
  });
  redraw_.start();
  applyLanguage(false);
}

void TrendWindow::setClock(std::function<qint64()> clock) {
  clock_ = clock;
  plot_->setClock(std::move(clock));
}

void TrendWindow::addReading(const StatusReading& reading) {
  history_.add(clock_(), reading);
  dirty_ = true;
}

void TrendWindow::addEvent(const DeviceEvent& event) {
  const bool warning = event.kind == DeviceEvent::Kind::Warning;
  if (!event.on || (!warning && event.kind != DeviceEvent::Kind::Trip)) return;
  history_.addMark({clock_(), !warning, event.channel});
  dirty_ = true;
}

void TrendWindow::applyLanguage(bool english) {
  applyCaptions(this, kCaptions, english);
  spans_->setAccessibleName(english ? QStringLiteral("span") : QStringLiteral("Zeitraum"));
  plot_->setEnglish(english);
}

void TrendWindow::chooseSpan(int index) {
  if (index < 0 || index >= int(std::size(kSpans))) return;
  if (spans_->currentIndex() != index) spans_->setCurrentIndex(index);
  plot_->setSpan(spans_->itemData(index).toLongLong());
}

void TrendWindow::setPaused(bool paused) {
  pause_->setChecked(paused);
}

void TrendWindow::showMoment(qint64 ms) {
  const qint64 span = plot_->span();
  const qint64 end = std::min(clock_(), ms + span / 2);
  {
    const QSignalBlocker quiet(pause_);
    pause_->setChecked(true);
  }
  plot_->pauseAt(std::max(end, ms));
  plot_->setCursorAt(ms);
  show();
  raise();
  activateWindow();
  plot_->setFocus(Qt::OtherFocusReason);
}

}  // namespace zfuse
