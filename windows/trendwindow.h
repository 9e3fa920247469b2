#pragma once

#include <QTimer>
#include <QWidget>
#include <functional>
#include <optional>
#include <span>

#include "monitor/eventlog.h"
#include "monitor/trendhistory.h"
#include "windowkit/captions.h"

class QComboBox;
class QLabel;
class QPushButton;

namespace zfuse {

// The trend plot, drawn with QPainter: the present current of each channel in percent of
// its rated current, and below it on a strip of its own with its own axis the input
// voltage, over the chosen span, one min/max range per pixel column. Warnings and trips
// are marked between the two, each with its channel's number, their lines behind the
// data. A cursor (the mouse, or the arrow keys) shows every series' value at its moment.
class TrendPlot : public QWidget {
  Q_OBJECT

 public:
  explicit TrendPlot(const TrendHistory* history, QWidget* parent = nullptr);

  void setSpan(qint64 ms);
  qint64 span() const { return span_; }
  // A paused plot keeps the time its view ends at; new points are kept but not shown.
  void setPaused(bool paused);
  // Paused with the view ending at `end`.
  void pauseAt(qint64 end);
  bool paused() const { return pausedAt_.has_value(); }
  // The end of the time shown: now, or the moment of the pause.
  qint64 viewEnd() const;
  void setEnglish(bool english);
  // The clock the view follows; tests and measurements set their own.
  void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

  // Where the currents go, in widget coordinates; the voltage's strip below them; the
  // band between the two where the marks stand.
  QRect plotArea() const;
  QRect voltageArea() const;
  QRect markBand() const;

  // The cursor: a moment the plot shows every series' value at; nullopt: none.
  void setCursorAt(std::optional<qint64> ms);
  std::optional<qint64> cursorAt() const { return cursor_; }
  // The values at the cursor: the newest point at or before it, when it lies close
  // enough (two columns, at least two seconds) to stand for that moment.
  std::optional<TrendPoint> cursorPoint() const;
  // The x of a moment in the plot, and the moment of an x.
  double xOf(qint64 ms) const;
  qint64 timeAt(double x) const;

  // A mark as drawn: where, which, and the rectangle of its channel number (empty where
  // a neighbour left no room for it).
  struct DrawnMark {
    double x;
    TrendMark mark;
    QRect label;
  };
  std::vector<DrawnMark> drawnMarks() const;
  // The time axis' labels as drawn: the time, and the date on a second line where the
  // span crosses midnight (at the first label and the first of each new day).
  struct TimeLabel {
    double x;
    QString time;
    QString date;
  };
  std::vector<TimeLabel> timeLabels() const;
  // What the plot shows of a series now, one range per pixel column.
  std::vector<ColumnRange> shownColumns(int series) const;
  // The newest values as text, for the tooltip's neighbours and assistive technology.
  QString valuesText(const TrendPoint& point) const;
  // Renews the description assistive technology reads and repaints.
  void refresh();

  QSize minimumSizeHint() const override { return {480, 240}; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  bool event(QEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  QString legendText(int series) const;
  void drawCursor(QPainter& painter) const;
  // The legend's entries and where they stand: sample 1 a line, 2 a triangle, 0 none.
  struct LegendEntry {
    QString text;
    QColor colour;
    int sample;
    QRect box;
  };
  std::vector<LegendEntry> legend() const;
  int leftMargin() const;

  const TrendHistory* history_;
  qint64 span_ = 600'000;
  std::optional<qint64> pausedAt_;
  std::optional<qint64> cursor_;
  std::function<qint64()> clock_;
  bool english_ = false;
};

// The trend window ("Verlauf"): the span (1 min, 10 min, 1 h, 24 h), a pause, and the
// plot. It keeps the history whether shown or not; shown and live, it redraws twice a
// second while telegrams come and once a second without them.
class TrendWindow : public QWidget {
  Q_OBJECT

 public:
  static constexpr int kRedrawPeriodMs = 500;
  static constexpr qint64 kSpans[] = {60'000, 600'000, 3'600'000, 86'400'000};

  explicit TrendWindow(QWidget* parent = nullptr);

  void addReading(const StatusReading& reading);
  void addEvent(const DeviceEvent& event);
  void applyLanguage(bool english);
  // The span list's entry `index` (0: 1 min ... 3: 24 h).
  void chooseSpan(int index);
  void setPaused(bool paused);
  // Shown, paused at `time` (the view's span kept, the moment at its middle or as near
  // the end as the present allows), the cursor on it; for an entry of the event log.
  void showMoment(qint64 ms);

  TrendHistory& history() { return history_; }
  TrendPlot* plot() const { return plot_; }
  // The clock that stamps the points and that the view follows.
  void setClock(std::function<qint64()> clock);

 private:
  TrendHistory history_;
  std::function<qint64()> clock_;
  QLabel* spanCaption_;
  QComboBox* spans_;
  QPushButton* pause_;
  TrendPlot* plot_;
  QTimer redraw_;
  bool dirty_ = false;
  int quietTicks_ = 0;
};

// The fixed texts of the trend window, German and English.
std::span<const Caption> trendWindowCaptions();

}  // namespace zfuse
