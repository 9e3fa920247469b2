// The trend window's redraw: a full 1 h span (36 000 telegrams of five series) and a
// 24 h span (864 000 telegrams, drawn from each second's range), each against an empty
// repaint of the same widget in the same run, and the decimation alone.
//   build/bench/zfuse_trend_bench   (offscreen; goal: a full redraw within 16 ms)

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <chrono>
#include <map>

#include "monitor/trendhistory.h"
#include "windows/trendwindow.h"

namespace {

using zfuse::TrendHistory;
using zfuse::TrendPlot;
constexpr qint64 kEnd = 1'800'000'000'000;
constexpr QSize kPlotSize(1000, 420);

// Ten telegrams a second over `seconds` up to kEnd, the loads swelling as the simulator's.
const TrendHistory& filledHistory(qint64 seconds) {
  static std::map<qint64, std::unique_ptr<TrendHistory>> histories;
  auto& h = histories[seconds];
  if (!h) {
    h = std::make_unique<TrendHistory>();
    zfuse::StatusReading r;
    r.type = zfuse::kType4ch10A;
    r.rated = {10, 6, 10, 2};
    const qint64 count = seconds * 10;
    for (qint64 i = 0; i < count; ++i) {
      const double t = double(i) / 10.0;
      for (int ch = 0; ch < 4; ++ch) {
        const double load = 0.3 + 0.6 * (0.5 - 0.5 * std::cos(t / (12.0 + 4 * ch)));
        r.present[ch] = static_cast<uint16_t>(load * r.rated[ch] * 100);
      }
      r.uin = static_cast<uint16_t>(2400 + 300 * std::sin(t * 7.0));
      h->add(kEnd - (count - 1 - i) * 100, r);
      if (i % 3000 == 0) h->addMark({kEnd - (count - 1 - i) * 100, i % 6000 == 0, 0});
    }
  }
  return *h;
}

double renderMs(TrendPlot& plot, QImage& image, int times) {
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < times; ++i) plot.render(&image);
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
             .count() /
         times;
}

void BM_TrendRedraw(benchmark::State& state) {
  const qint64 span = state.range(0);
  const TrendHistory& history = filledHistory(span);
  TrendPlot plot(&history);
  plot.resize(kPlotSize);
  plot.setSpan(span * 1000);
  qint64 now = kEnd + 30LL * 86'400'000;  // a month later: nothing in view
  plot.setClock([&] { return now; });
  QImage image(kPlotSize, QImage::Format_ARGB32_Premultiplied);
  const double empty = renderMs(plot, image, 50);
  now = kEnd;
  double total = 0;
  for (auto _ : state) {
    total += renderMs(plot, image, 1);
  }
  const double full = total / double(state.iterations());
  state.counters["full_ms"] = full;
  state.counters["empty_ms"] = empty;
  state.counters["ratio"] = full / empty;
}
BENCHMARK(BM_TrendRedraw)->Arg(3600)->Arg(86400)->ArgName("span_s")->Unit(benchmark::kMillisecond);

void BM_TrendColumns(benchmark::State& state) {
  const qint64 span = state.range(0);
  const TrendHistory& history = filledHistory(span);
  for (auto _ : state) {
    for (int s = 0; s < zfuse::kTrendSeries; ++s) {
      benchmark::DoNotOptimize(history.columns(s, kEnd + 1 - span * 1000, kEnd + 1, 900));
    }
  }
}
BENCHMARK(BM_TrendColumns)->Arg(3600)->Arg(86400)->ArgName("span_s")->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
