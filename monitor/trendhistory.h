#pragma once

#include <QtGlobal>
#include <array>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <vector>

#include "monitor/statustelegram.h"

namespace zfuse {

// The series of the trend: the present current of channels 1 to 4 as a percentage of
// the channel's rated current, and the input voltage in volts.
constexpr int kTrendSeries = 5;
constexpr int kTrendVoltage = 4;

// One telegram's values. A channel that is switched off or that the model lacks has no
// value (NaN). The rated currents come along for the amperes behind a percentage.
struct TrendPoint {
  qint64 ms = 0;  // milliseconds since the epoch
  std::array<float, kTrendSeries> value{};
  std::array<uint8_t, 4> rated{};
  // The channel's current in amperes at this point; NaN without a value.
  float amperes(int channel) const { return value[channel] * float(rated[channel]) / 100.0F; }
};

// A warning or trip lamp that lit, for the marks on the time axis.
struct TrendMark {
  qint64 ms = 0;
  bool trip = false;  // a trip; otherwise a warning
  int channel = 0;
};

// What one pixel column of the plot shows of a series: the lowest and highest value
// that fell into it, or nothing.
struct ColumnRange {
  float min = std::numeric_limits<float>::infinity();
  float max = -std::numeric_limits<float>::infinity();
  bool empty() const { return min > max; }
  void add(float v) {
    if (std::isnan(v)) return;
    if (v < min) min = v;
    if (v > max) max = v;
  }
  bool operator==(const ColumnRange&) const = default;
};

// A ring of fixed capacity: beyond it the oldest entry goes. Its memory is reserved at
// once and touched only as entries come, and never grows past the capacity.
template <class T>
class Ring {
 public:
  explicit Ring(std::size_t capacity) : capacity_(capacity) { items_.reserve(capacity); }
  void push(const T& item) {
    if (items_.size() < capacity_) {
      items_.push_back(item);
    } else {
      items_[head_] = item;
      head_ = (head_ + 1) % capacity_;
      wrapped_ = true;
    }
  }
  std::size_t size() const { return items_.size(); }
  std::size_t capacity() const { return capacity_; }
  bool empty() const { return items_.empty(); }
  // Entries have been pushed out.
  bool wrapped() const { return wrapped_; }
  // 0 is the oldest entry.
  const T& at(std::size_t i) const { return items_[(head_ + i) % items_.size()]; }
  T& back() { return items_[(head_ + items_.size() - 1) % items_.size()]; }
  const T& back() const { return items_[(head_ + items_.size() - 1) % items_.size()]; }
  void clear() {
    items_.clear();
    head_ = 0;
    wrapped_ = false;
  }

 private:
  std::vector<T> items_;
  std::size_t capacity_;
  std::size_t head_ = 0;
  bool wrapped_ = false;
};

// The history the trend window draws, bounded whatever the telegram rate: every
// telegram of the last two hours at 10 telegrams a second (less at a faster rate), and
// the lowest and highest value of every second of the last day, which the 24 h span
// draws from. The plot asks for one range per pixel column (min/max decimation), so a
// redraw costs one pass over the span's points and draws a line per column.
class TrendHistory {
 public:
  static constexpr std::size_t kFineCapacity = 72000;
  static constexpr std::size_t kSecondsCapacity = 86400 + 3600;
  static constexpr std::size_t kMarkCapacity = 10000;

  // A second's lowest and highest value of each series.
  struct Second {
    qint64 second = 0;  // ms / 1000
    std::array<ColumnRange, kTrendSeries> range{};
    std::array<uint8_t, 4> rated{};
  };

  TrendHistory();

  void add(qint64 ms, const StatusReading& reading);
  void add(const TrendPoint& point);
  void addMark(const TrendMark& mark);
  void clear();

  // The time of the newest point; nullopt while empty.
  std::optional<qint64> newest() const;
  // One range per column for the span [t0, t1) cut into `columns` equal columns; from
  // every telegram while they reach back to t0, else from the seconds.
  std::vector<ColumnRange> columns(int series, qint64 t0, qint64 t1, int columns) const;
  // The newest point at or before `ms` within the telegrams kept, or a second's highest
  // values beyond them; nullopt when there is none.
  std::optional<TrendPoint> pointAt(qint64 ms) const;
  // The marks in [t0, t1), oldest first.
  std::vector<TrendMark> marks(qint64 t0, qint64 t1) const;

  const Ring<TrendPoint>& fine() const { return fine_; }
  const Ring<Second>& seconds() const { return seconds_; }
  // Whether the span from t0 on is drawn from every telegram.
  bool fineCovers(qint64 t0) const;

  static TrendPoint pointOf(qint64 ms, const StatusReading& reading);

 private:
  Ring<TrendPoint> fine_;
  Ring<Second> seconds_;
  Ring<TrendMark> marks_;
};

// The column of `ms` in [t0, t1) cut into `columns`; -1 outside.
inline int columnOf(qint64 ms, qint64 t0, qint64 t1, int columns) {
  if (ms < t0 || ms >= t1 || columns <= 0) return -1;
  return static_cast<int>((ms - t0) * columns / (t1 - t0));
}

}  // namespace zfuse
