// Throughput of the status path: frame assembler plus decoder, per received byte.
// The service line carries at most 960 bytes/s (9600 baud, 10 bits a byte).

#include <benchmark/benchmark.h>

#include "app/statustext.h"
#include "monitor/statusmonitor.h"
#include "tools/devicesim.h"

namespace {

std::vector<uint8_t> telegramStream(std::size_t telegrams, bool noise) {
  std::vector<uint8_t> stream;
  zfuse::sim::Measurements m;
  m.rated = {6, 10, 10, 2};
  for (std::size_t i = 0; i < telegrams; ++i) {
    m.present = {static_cast<uint16_t>(i * 7 % 1000), 50, 0, 1000};
    m.uin = static_cast<uint16_t>(2300 + i % 150);
    m.counter = static_cast<uint16_t>(i);
    const auto t = zfuse::sim::statusTelegram(0x17, m);
    stream.insert(stream.end(), t.begin(), t.end());
    if (noise) stream.insert(stream.end(), {0x00, 0x13, 0x55, 0xE4, 0x42});
  }
  return stream;
}

void BM_AssembleAndDecode(benchmark::State& state) {
  const auto stream = telegramStream(1000, state.range(0) != 0);
  // The status monitor as the windows and the command line subscribe to it.
  zfuse::StatusMonitor monitor;
  std::size_t shown = 0;
  QObject::connect(&monitor, &zfuse::StatusMonitor::statusDecoded,
                   [&](const zfuse::StatusReading& r) { shown += r.uin; });
  for (auto _ : state) {
    monitor.feed(stream.data(), stream.size());
    benchmark::DoNotOptimize(shown);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.size()));
}
BENCHMARK(BM_AssembleAndDecode)->Arg(0)->Arg(1)->ArgName("noise");

void BM_MeasurementText(benchmark::State& state) {
  uint16_t raw = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(zfuse::measurementText(raw, zfuse::kUnitAmps));
    raw = static_cast<uint16_t>(raw + 37);
  }
}
BENCHMARK(BM_MeasurementText);

}  // namespace

BENCHMARK_MAIN();
