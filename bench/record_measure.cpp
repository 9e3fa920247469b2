// The commissioning record of many devices, fed from a recorded result set (no devices):
// the time to make and write all three forms, CSV, JSON and the printable page.
//
// Run: build/bench/zfuse-record-measure [DEVICES] (default 500; 20 runs, the spread
// printed). With --html FILE [--de] it only writes the page of 40 devices, for the
// picture in docs/.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>
#include <vector>

#include "bench/spread.h"
#include "ctl/record.h"
#include "tests/support/record_samples.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = QCoreApplication::arguments().mid(1);
  const QDateTime start(QDate(2026, 12, 11), QTime(9, 14, 3));
  if (args.size() >= 2 && args[0] == QLatin1String("--html")) {
    const bool german = args.contains(QStringLiteral("--de"));
    QFile page(args[1]);
    const QByteArray html = zfuse::ctl::recordHtml(zfuse::test::sampleHeader(start, german),
                                                   zfuse::test::sampleRecords(40, start));
    if (!page.open(QIODevice::WriteOnly) || page.write(html) != html.size()) {
      std::fprintf(stderr, "cannot write %s\n", qPrintable(args[1]));
      return 1;
    }
    return 0;
  }
  const int devices = args.isEmpty() ? 500 : args[0].toInt();
  if (devices < 1) {
    std::fprintf(stderr, "usage: zfuse-record-measure [DEVICES] | --html FILE [--de]\n");
    return 2;
  }
  const auto records = zfuse::test::sampleRecords(devices, start);
  std::vector<double> times;
  qint64 bytes = 0;
  for (int run = 0; run < 20; ++run) {
    QTemporaryDir dir;
    zfuse::ctl::RecordHeader header = zfuse::test::sampleHeader(start, run % 2 == 1);
    const auto t0 = std::chrono::steady_clock::now();
    QString error;
    const QStringList written =
        zfuse::ctl::writeRecord(dir.path(), "cabinet", header, records, &error);
    times.push_back(zfuse::bench::ms(std::chrono::steady_clock::now() - t0));
    if (written.size() != 3) {
      std::fprintf(stderr, "%s\n", qPrintable(error));
      return 1;
    }
    bytes = 0;
    for (const QString& f : written) bytes += QFileInfo(f).size();
  }
  std::printf("record of %d devices, three files, %lld bytes\n", devices,
              static_cast<long long>(bytes));
  zfuse::bench::printSpread("made and written (CSV, JSON, HTML)", times);
  return 0;
}
