#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <optional>
#include <vector>

#include "monitor/statustelegram.h"
#include "windows/operatingpoint.h"

namespace Ui {
class TForm2;
}

namespace zfuse {

// One channel's operating point on the trip characteristic: a vertical line in the
// channel's colour at its load, a label with the channel and I/I_N near the top, and for
// the fuse variants above 1.2 × I_N a dot on the staircase with the trip time. The
// window places the labels so that none covers another or a text of the drawing; the
// line runs from the label down to the axis. The widget covers just the line and its
// texts, which it also gives assistive technology.
class LoadMarker : public QWidget {
  Q_OBJECT

 public:
  explicit LoadMarker(int channel, QWidget* parent);

  // Takes the texts and the line's place for `point`; `picture` is where the drawing
  // lands in the window. The label stands where placeLabel() puts it.
  void place(const OperatingPoint& point, const QRectF& picture, bool english);
  // Puts the label (and the trip time) at these rectangles of the window and fits the
  // widget round line and texts.
  void placeLabel(const QRect& label, const QRect& time);

  // Where the line stands, in the window's coordinates.
  double lineX() const { return lineX_; }
  std::optional<double> dotY() const { return dotY_; }
  // The sizes the texts need, and where they stand in the window.
  QSize labelSize() const;
  QSize timeSize() const;
  QRect labelRect() const { return labelRect_; }
  QRect timeRect() const { return timeRect_; }
  // The label's texts as drawn.
  QString label() const { return label_; }
  QString timeText() const { return timeText_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int channel_;
  double lineX_ = 0;
  double axisY_ = 0;
  std::optional<double> dotY_;
  bool clippedRight_ = false;
  QString label_, timeText_;
  QRect labelRect_, timeRect_;  // in the window's coordinates
};

// The loads left of the current axis (below 1 × I_N, or a tripped channel whose load
// is not known), listed in a small box inside the drawing: the channel's colour and
// "2: 0,55 × I_N".
class LoadLegend : public QWidget {
  Q_OBJECT

 public:
  explicit LoadLegend(QWidget* parent);

  struct Entry {
    int channel;
    QString text;
  };
  // Shows the entries with their top right corner at `topRight`; hides for none.
  void showEntries(const std::vector<Entry>& entries, const QPoint& topRight, bool english);
  const std::vector<Entry>& entries() const { return entries_; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::vector<Entry> entries_;
  QString title_;
};

// The trip-characteristic window, centred in the work area when it is created. Opened
// from the main window's menu it marks each channel's present load while the fuse is
// monitored; opened from the configuration dialog's thumbnail it shows the picture alone.
class TForm2 : public QWidget {
  Q_OBJECT

 public:
  explicit TForm2(QWidget* parent = nullptr);
  ~TForm2() override;

  void FormCreate();

  // Live: the readings the window is given are marked. Not live: the markers go and
  // readings are ignored.
  void setLive(bool live);
  bool live() const { return live_; }
  void showLoads(const StatusReading& reading);
  void clearLoads();
  // The markers' texts and names; the window's own texts stay as they are.
  void applyLanguage(bool english);

  LoadMarker* marker(int channel) const { return markers_[channel]; }
  LoadLegend* legend() const { return legend_; }
  // The texts of the drawing that a label must leave free, in the window's coordinates.
  std::vector<QRect> drawingTexts() const;

 private:
  // Places the labels of the shown markers, from left to right, each in the first row
  // from the top where it covers nothing placed before it and no text of the drawing.
  void arrangeLabels(const std::vector<LoadMarker*>& shown);

  std::unique_ptr<Ui::TForm2> ui;
  std::array<LoadMarker*, 4> markers_{};
  LoadLegend* legend_ = nullptr;
  // Each channel's load in the last telegram before it tripped.
  std::array<std::optional<double>, 4> beforeTrip_{};
  std::optional<StatusReading> last_;
  bool live_ = false;
  bool english_ = false;
};

}  // namespace zfuse
