// zfusectl commission of many simulated fuses at 9600-baud pacing (mixed models, each
// given a configuration of its own model, by device path): the whole run against the
// slowest device commissioned alone.
//
// Run: build/bench/zfuse-commission-measure [DEVICES] (default 32; 3 runs each).

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "config/deviceconfig.h"
#include "monitor/statustelegram.h"
#include "tools/devicesim.h"

namespace {

using namespace zfuse;

DeviceConfiguration configurationFor(uint8_t model, int n) {
  DeviceConfiguration c;
  c.model = model;
  if (model == kTypeStandard) {
    c.standard.current_index = {1, 2, 0, 5};
    c.standard.time_index = {3, 1, -1, 0};
    c.standard.pgood_index = n % 20;
  } else {
    c.zokx.current_index = {n % 6 + 1, 3, 0, 1};
    c.zokx.pgood_index = 40;
    c.zokx.switch_off_index = 2;
  }
  return c;
}

// Runs zfusectl commission on `plan`; milliseconds, or -1 when it did not verify all.
double commission(const QString& plan, const QString& reports) {
  QProcess p;
  QElapsedTimer clock;
  clock.start();
  p.start(QStringLiteral(ZFUSECTL_BINARY), {"commission", plan, "--report", reports});
  if (!p.waitForFinished(120000) || p.exitCode() != 0) {
    std::fprintf(stderr, "%s", p.readAllStandardError().constData());
    return -1;
  }
  return static_cast<double>(clock.nsecsElapsed()) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const int count = argc > 1 ? std::atoi(argv[1]) : 32;
  static const uint8_t kModels[] = {kType4ch10A, kTypeStandard, kType4ch6A, kType2ch10A,
                                    kType2ch6A};
  QTemporaryDir dir;
  std::vector<std::unique_ptr<sim::DeviceSimulator>> fuses;
  QByteArray all = "tag,port,model,file\n";
  for (int i = 0; i < count; ++i) {
    sim::DeviceSimulator::Options o;
    o.model = kModels[i % 5];
    fuses.push_back(std::make_unique<sim::DeviceSimulator>(o));
    if (!fuses.back()->start()) return 1;
    const QString file = QStringLiteral("F%1.txt").arg(i + 1);
    QFile f(dir.filePath(file));
    const std::string text = fileTextOf(configurationFor(o.model, i));
    if (!f.open(QIODevice::WriteOnly) ||
        f.write(text.data(), static_cast<qint64>(text.size())) != static_cast<qint64>(text.size()))
      return 1;
    const QByteArray row = QStringLiteral("-F%1,%2,%3,%4\n")
                               .arg(i + 1)
                               .arg(QString::fromStdString(fuses.back()->slavePath()),
                                    QLatin1String(modelName(o.model)), file)
                               .toUtf8();
    all += row;
    QFile single(dir.filePath(QStringLiteral("single-%1.csv").arg(i + 1)));
    if (!single.open(QIODevice::WriteOnly) || single.write("tag,port,model,file\n" + row) < 0)
      return 1;
  }
  QFile plan(dir.filePath("all.csv"));
  if (!plan.open(QIODevice::WriteOnly) || plan.write(all) != all.size()) return 1;
  plan.close();

  double slowest = 0;
  for (int i = 0; i < count; ++i) {
    double best = 1e9;  // the least of 3 runs: the device's own time, not the machine's
    for (int run = 0; run < 3; ++run) {
      best = std::min(
          best, commission(dir.filePath(QStringLiteral("single-%1.csv").arg(i + 1)), dir.path()));
    }
    if (best < 0) return 1;
    slowest = std::max(slowest, best);
  }
  std::vector<double> together;
  for (int run = 0; run < 3; ++run)
    together.push_back(commission(dir.filePath("all.csv"), dir.path()));
  if (*std::min_element(together.begin(), together.end()) < 0) return 1;
  std::sort(together.begin(), together.end());
  std::printf("slowest single device alone (best of 3): %.0f ms\n", slowest);
  std::printf(
      "%d devices in one run: median %.0f ms (min %.0f, max %.0f) = %.2f x the slowest "
      "alone\n",
      count, together[1], together[0], together[2], together[1] / slowest);
  return 0;
}
