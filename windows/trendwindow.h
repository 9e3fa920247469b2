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
// its rated current (left axis) and the input voltage (right axis) over the chosen span,
// one min/max range per pixel column, warnings and trips marked on the time axis. The
// tooltip gives the amperes and volts under the mouse.
class TrendPlot : public QWidget {
  Q_OBJECT

 public:
  explicit TrendPlot(const TrendHistory* history, QWidget* parent = nullptr);

  void setSpan(qint64 ms);
  qint64 span() const { return span_; }
  // A paused plot keeps the time its view ends at; new points are kept but not shown.
  void setPaused(bool paused);
  bool paused() const { return pausedAt_.has_value(); }
  // The end of the time shown: now, or the moment of the pause.
  qint64 viewEnd() const;
  void setEnglish(bool english);
  // The clock the view follows; tests and measurements set their own.
  void setClock(std::function<qint64()> clock) { clock_ = std::move(clock); }

  // Where the curves go, in widget coordinates.
  QRect plotArea() const;
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

 private:
  QString legendText(int series) const;
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
