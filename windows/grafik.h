#pragma once

#include <QWidget>
#include <array>
#include <memory>
#include <optional>

#include "monitor/statustelegram.h"
#include "windows/operatingpoint.h"

namespace Ui {
class TForm2;
}

namespace zfuse {

// One channel's operating point on the trip characteristic: a vertical line in the
// channel's colour at its load, a label with the channel and I/I_N at the top, and for
// the fuse variants above 1.2 × I_N a dot on the staircase with the trip time. The
// widget covers just the line and its texts, which it also gives assistive technology.
class LoadMarker : public QWidget {
  Q_OBJECT

 public:
  explicit LoadMarker(int channel, QWidget* parent);

  // Places the marker for `point`; `picture` is where the drawing lands in the window.
  void place(const OperatingPoint& point, const QRectF& picture, bool english);

  // Where the line stands, in the window's coordinates.
  double lineX() const { return lineX_; }
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
  bool clippedLeft_ = false, clippedRight_ = false;
  bool labelLeft_ = false;  // the texts stand left of the line (near the right edge)
  QString label_, timeText_;
  QRect labelRect_, timeRect_;
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

 private:
  std::unique_ptr<Ui::TForm2> ui;
  std::array<LoadMarker*, 4> markers_{};
  std::optional<StatusReading> last_;
  bool live_ = false;
  bool english_ = false;
};

}  // namespace zfuse
