#include "monitor/trendhistory.h"

#include <algorithm>

namespace zfuse {

namespace {
// The first index of a time-ordered ring whose time is at least `ms`.
template <class T, class Time>
std::size_t lowerBound(const Ring<T>& ring, qint64 ms, Time timeOf) {
  std::size_t lo = 0, hi = ring.size();
  while (lo < hi) {
    const std::size_t mid = lo + (hi - lo) / 2;
    if (timeOf(ring.at(mid)) < ms) {
      lo = mid + 1;
    } else {
      hi = mid;
    }
  }
  return lo;
}
}  // namespace

TrendHistory::TrendHistory()
    : fine_(kFineCapacity), seconds_(kSecondsCapacity), marks_(kMarkCapacity) {}

TrendPoint TrendHistory::pointOf(qint64 ms, const StatusReading& r) {
  TrendPoint p;
  p.ms = ms;
  for (int ch = 0; ch < 4; ++ch) {
    // Hundredths of an ampere over whole amperes is the percentage.
    p.value[ch] = r.channelOn(ch) ? float(r.present[ch]) / float(r.rated[ch])
                                  : std::numeric_limits<float>::quiet_NaN();
    p.rated[ch] = r.channelOn(ch) ? r.rated[ch] : 0;
  }
  p.value[kTrendVoltage] = float(r.uin) / 100.0F;
  return p;
}

void TrendHistory::add(qint64 ms, const StatusReading& reading) {
  add(pointOf(ms, reading));
}

void TrendHistory::add(const TrendPoint& given) {
  TrendPoint p = given;
  // The rings stay ordered in time even when the clock is set back.
  if (!fine_.empty() && p.ms < fine_.back().ms) p.ms = fine_.back().ms;
  fine_.push(p);
  const qint64 second = p.ms / 1000;
  if (seconds_.empty() || seconds_.back().second != second) seconds_.push(Second{second, {}, {}});
  Second& s = seconds_.back();
  for (int i = 0; i < kTrendSeries; ++i) s.range[i].add(p.value[i]);
  s.rated = p.rated;
}

void TrendHistory::addMark(const TrendMark& mark) {
  marks_.push(mark);
}

void TrendHistory::clear() {
  fine_.clear();
  seconds_.clear();
  marks_.clear();
}

std::optional<qint64> TrendHistory::newest() const {
  if (fine_.empty()) return std::nullopt;
  return fine_.back().ms;
}

bool TrendHistory::fineCovers(qint64 t0) const {
  return !fine_.wrapped() || (!fine_.empty() && fine_.at(0).ms <= t0);
}

std::vector<ColumnRange> TrendHistory::columns(int series, qint64 t0, qint64 t1, int count) const {
  std::vector<ColumnRange> out(static_cast<std::size_t>(std::max(count, 0)));
  if (count <= 0 || t1 <= t0) return out;
  const qint64 span = t1 - t0;
  if (fineCovers(t0)) {
    const auto time = [](const TrendPoint& p) { return p.ms; };
    for (std::size_t i = lowerBound(fine_, t0, time); i < fine_.size(); ++i) {
      const TrendPoint& p = fine_.at(i);
      if (p.ms >= t1) break;
      out[static_cast<std::size_t>((p.ms - t0) * count / span)].add(p.value[series]);
    }
    return out;
  }
  // A second counts in the column where it starts.
  const auto time = [](const Second& s) { return s.second * 1000; };
  std::size_t i = lowerBound(seconds_, t0, time);
  for (; i < seconds_.size(); ++i) {
    const Second& s = seconds_.at(i);
    if (s.second * 1000 >= t1) break;
    ColumnRange& c = out[static_cast<std::size_t>((s.second * 1000 - t0) * count / span)];
    if (s.range[series].empty()) continue;
    c.add(s.range[series].min);
    c.add(s.range[series].max);
  }
  return out;
}

std::optional<TrendPoint> TrendHistory::pointAt(qint64 ms) const {
  const auto pointTime = [](const TrendPoint& p) { return p.ms; };
  if (!fine_.empty() && fine_.at(0).ms <= ms) {
    const std::size_t i = lowerBound(fine_, ms + 1, pointTime);
    return fine_.at(i - 1);
  }
  const auto secondTime = [](const Second& s) { return s.second * 1000; };
  const std::size_t i = lowerBound(seconds_, ms + 1, secondTime);
  if (i == 0) return std::nullopt;
  const Second& s = seconds_.at(i - 1);
  TrendPoint p;
  p.ms = s.second * 1000;
  for (int k = 0; k < kTrendSeries; ++k) {
    p.value[k] = s.range[k].empty() ? std::numeric_limits<float>::quiet_NaN() : s.range[k].max;
  }
  p.rated = s.rated;
  return p;
}

std::vector<TrendMark> TrendHistory::marks(qint64 t0, qint64 t1) const {
  std::vector<TrendMark> out;
  const auto time = [](const TrendMark& m) { return m.ms; };
  for (std::size_t i = lowerBound(marks_, t0, time); i < marks_.size(); ++i) {
    if (marks_.at(i).ms >= t1) break;
    out.push_back(marks_.at(i));
  }
  return out;
}

}  // namespace zfuse
