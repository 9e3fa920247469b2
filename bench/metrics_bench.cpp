// zfusectl_metrics_bench: the metrics page of 64 four-channel fuses, rendered, and
// scraped over HTTP from the metrics server's own thread while a flood thread stores
// telegrams of all 64 as fast as it can (far beyond the 20 telegrams/s a fuse sends).
//   build/bench/zfusectl_metrics_bench --benchmark_repetitions=5
//     --benchmark_report_aggregates_only=true   (one command line)

#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QTcpServer>
#include <atomic>
#include <cctype>
#include <string>
#include <thread>

#include "ctl/metrics.h"
#include "ctl/metricsserver.h"

using namespace zfuse;
using namespace zfuse::ctl;

namespace {

constexpr int kDevices = 64;

StatusReading reading(int n) {
  StatusReading r;
  r.type = kType4ch10A;
  r.rated = {10, 10, 6, 4};
  for (int ch = 0; ch < 4; ++ch) {
    r.present[static_cast<std::size_t>(ch)] = static_cast<uint16_t>((n * 7 + ch * 131) % 1000);
    r.highest[static_cast<std::size_t>(ch)] = 1000;
  }
  r.channelBits = static_cast<uint8_t>(n & 0xff);
  r.uin = static_cast<uint16_t>(2300 + n % 200);
  r.uinMin = 2200;
  return r;
}

std::shared_ptr<MetricsStore> filledStore() {
  QStringList ids, ports;
  for (int i = 0; i < kDevices; ++i) {
    ids << QStringLiteral("hall-2-line-%1").arg(i);
    ports << QStringLiteral("COM%1").arg(i % 11 + 1);
  }
  auto store = std::make_shared<MetricsStore>(ids, ports);
  for (int i = 0; i < kDevices; ++i) store->telegram(i, reading(i));
  return store;
}

void BM_Render64(benchmark::State& state) {
  const auto store = filledStore();
  std::size_t bytes = 0;
  for (auto _ : state) {
    const QByteArray page = renderMetrics(store->snapshot());
    bytes = static_cast<std::size_t>(page.size());
    benchmark::DoNotOptimize(page.constData());
  }
  state.counters["page_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_Render64)->Unit(benchmark::kMicrosecond);

// One GET /metrics on a new connection, read to the end.
std::size_t scrape(quint16 port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return 0;
  }
  const char request[] = "GET /metrics HTTP/1.1\r\nHost: 127.0.0.1\r\nConnection: close\r\n\r\n";
  if (::write(fd, request, sizeof request - 1) != static_cast<ssize_t>(sizeof request - 1)) {
    ::close(fd);
    return 0;
  }
  // The server may keep the connection open: read the head, then Content-Length bytes.
  std::string response;
  char buffer[65536];
  std::size_t wanted = std::string::npos;
  for (ssize_t n; response.size() < wanted && (n = ::read(fd, buffer, sizeof buffer)) > 0;) {
    response.append(buffer, static_cast<std::size_t>(n));
    const std::size_t head = response.find("\r\n\r\n");
    if (wanted == std::string::npos && head != std::string::npos) {
      std::string lower = response.substr(0, head);
      for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      const std::size_t at = lower.find("content-length:");
      if (at == std::string::npos) break;
      wanted = head + 4 + std::stoul(lower.substr(at + 15));
    }
  }
  ::close(fd);
  return response.size() == wanted ? response.size() : 0;
}

void BM_Scrape64WhileFlooded(benchmark::State& state) {
  const auto store = filledStore();
  MetricsServer server(store);
  quint16 port = 0;
  {
    QTcpServer probe;
    probe.listen(QHostAddress::LocalHost, 0);
    port = probe.serverPort();
  }
  QString error;
  if (!server.listen(QHostAddress(QHostAddress::LocalHost), port, &error)) {
    state.SkipWithError(error.toUtf8().constData());
    return;
  }
  std::atomic<bool> flooding{true};
  std::atomic<long long> stored{0};
  std::thread flood([&] {
    for (int n = 0; flooding; ++n) {
      store->telegram(n % kDevices, reading(n));
      ++stored;
    }
  });
  std::size_t bytes = 0;
  for (auto _ : state) {
    bytes = scrape(port);
    if (bytes == 0) state.SkipWithError("no answer");
  }
  flooding = false;
  flood.join();
  state.counters["response_bytes"] = static_cast<double>(bytes);
  state.counters["telegrams_stored_per_s"] =
      benchmark::Counter(static_cast<double>(stored), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_Scrape64WhileFlooded)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);  // the metrics server's thread runs Qt's event loop
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
