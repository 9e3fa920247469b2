// The trend's history: min/max decimation against a brute-force reference, the spans'
// sources, the bound.

#include "monitor/trendhistory.h"

#include <gtest/gtest.h>

#include <random>

namespace zfuse {
namespace {

constexpr qint64 kStart = 1'800'000'000'000;  // a whole second

// Every column's range straight from the points, without search or rings.
std::vector<ColumnRange> bruteForce(const std::vector<TrendPoint>& points, int series, qint64 t0,
                                    qint64 t1, int columns) {
  std::vector<ColumnRange> out(static_cast<std::size_t>(columns));
  for (const TrendPoint& p : points) {
    const int c = columnOf(p.ms, t0, t1, columns);
    if (c >= 0) out[static_cast<std::size_t>(c)].add(p.value[series]);
  }
  return out;
}

// Random points from kStart on, `stepMs` apart on average, some channels without value.
std::vector<TrendPoint> randomPoints(std::size_t n, qint64 stepMs, std::mt19937& rng) {
  std::uniform_real_distribution<float> value(0, 150);
  std::uniform_int_distribution<qint64> jitter(0, stepMs);
  std::vector<TrendPoint> points;
  qint64 ms = kStart;
  for (std::size_t i = 0; i < n; ++i) {
    TrendPoint p;
    p.ms = ms;
    for (float& v : p.value) v = value(rng);
    if (rng() % 7 == 0) p.value[1] = std::numeric_limits<float>::quiet_NaN();
    points.push_back(p);
    ms += jitter(rng) + stepMs / 2;
  }
  return points;
}

TEST(TrendHistory, DecimationMatchesBruteForce) {
  std::mt19937 rng(7);
  struct Case {
    std::size_t points;
    qint64 stepMs;
  };
  // Fewer points than columns, many per column, and more than the ring keeps.
  for (const Case c :
       {Case{300, 100}, Case{36000, 100}, Case{TrendHistory::kFineCapacity + 5000, 50}}) {
    SCOPED_TRACE(c.points);
    const std::vector<TrendPoint> points = randomPoints(c.points, c.stepMs, rng);
    TrendHistory history;
    for (const TrendPoint& p : points) history.add(p);
    const std::vector<TrendPoint> kept(points.end() - qint64(history.fine().size()), points.end());
    const qint64 newest = points.back().ms;
    for (const qint64 span : {qint64(60'000), qint64(600'000), qint64(3'600'000)}) {
      for (const int columns : {1, 97, 1000}) {
        const qint64 t0 = newest - span, t1 = newest + 1;
        if (!history.fineCovers(t0)) continue;
        for (int series = 0; series < kTrendSeries; ++series) {
          EXPECT_EQ(history.columns(series, t0, t1, columns),
                    bruteForce(kept, series, t0, t1, columns))
              << "span " << span << " columns " << columns << " series " << series;
        }
      }
    }
  }
}

// Beyond the telegrams kept, the day is drawn from each second's lowest and highest
// value: the same as from every telegram where a column holds whole seconds.
TEST(TrendHistory, DaySpanFromSecondsMatchesEveryTelegram) {
  std::mt19937 rng(11);
  const std::vector<TrendPoint> points = randomPoints(TrendHistory::kFineCapacity * 2, 200, rng);
  TrendHistory history;
  for (const TrendPoint& p : points) history.add(p);
  const qint64 t1 = (points.back().ms / 1000 + 1) * 1000;
  for (const int columns : {480, 960}) {
    const qint64 t0 = t1 - qint64(columns) * 90'000;  // 90 whole seconds a column
    ASSERT_FALSE(history.fineCovers(t0));
    for (int series = 0; series < kTrendSeries; ++series) {
      EXPECT_EQ(history.columns(series, t0, t1, columns),
                bruteForce(points, series, t0, t1, columns))
          << columns << " " << series;
    }
  }
}

TEST(TrendHistory, BoundedWhateverTheRate) {
  TrendHistory history;
  StatusReading r;
  r.type = kType4ch10A;
  r.rated = {10, 10, 10, 0};
  r.present = {500, 1000, 1500, 0};
  r.uin = 2400;
  // A day at 10 telegrams a second and an hour unpaced (1000 a second) on top.
  qint64 ms = kStart;
  for (int i = 0; i < 864'000; ++i, ms += 100) history.add(ms, r);
  for (int i = 0; i < 3'600'000; ++i, ++ms) history.add(ms, r);
  EXPECT_EQ(history.fine().size(), TrendHistory::kFineCapacity);
  EXPECT_EQ(history.fine().capacity(), TrendHistory::kFineCapacity);
  EXPECT_EQ(history.seconds().size(), TrendHistory::kSecondsCapacity);
  for (int i = 0; i < 2 * int(TrendHistory::kMarkCapacity); ++i) history.addMark({ms + i, true, 0});
  EXPECT_EQ(history.marks(0, ms + 100'000).size(), TrendHistory::kMarkCapacity);

  // Percent of the rated current, amperes behind it; a switched-off channel has none.
  const std::optional<TrendPoint> p = history.pointAt(ms);
  ASSERT_TRUE(p);
  EXPECT_FLOAT_EQ(p->value[0], 50);
  EXPECT_FLOAT_EQ(p->value[2], 150);
  EXPECT_FLOAT_EQ(p->amperes(2), 15);
  EXPECT_TRUE(std::isnan(p->value[3]));
  EXPECT_FLOAT_EQ(p->value[kTrendVoltage], 24);
  // The oldest hours only as seconds: their highest values.
  const std::optional<TrendPoint> old = history.pointAt(kStart + 20 * 3'600'000 + 500);
  ASSERT_TRUE(old);
  EXPECT_EQ(old->ms, kStart + 20 * 3'600'000);
  EXPECT_FLOAT_EQ(old->value[1], 100);
}

TEST(TrendHistory, ClockSetBackKeepsTheOrder) {
  TrendHistory history;
  TrendPoint p;
  p.value.fill(1);
  for (const qint64 ms : {kStart + 5000, kStart + 1000, kStart + 6000}) {
    p.ms = ms;
    history.add(p);
  }
  EXPECT_EQ(history.fine().at(1).ms, kStart + 5000);
  EXPECT_EQ(history.columns(0, kStart, kStart + 10'000, 10)[5].max, 1.0F);
}

}  // namespace
}  // namespace zfuse
