// The CSV recording of status telegrams: rows per model, gap rows, a file readable while
// it grows, the stop on a failed write, and names that are no regular file.

#include "monitor/recording.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTimeZone>
#include <csignal>
#include <cstring>

#include "monitor/statusoutput.h"
#include "tests/support/filesize_limit.h"

namespace zfuse {
namespace {

const QDateTime kTime(QDate(2026, 12, 10), QTime(14, 3, 7, 25), QTimeZone(3600));

StatusReading reading(uint8_t type, std::array<uint8_t, 4> rated, uint8_t channelBits = 0,
                      uint8_t supplyBits = 0) {
  StatusReading r;
  r.type = type;
  r.channelBits = channelBits;
  r.supplyBits = supplyBits;
  r.present = {123, 50, 0, 1000};
  r.highest = {200, 50, 0, 1050};
  r.uin = 2400;
  r.uinMin = 2350;
  r.rated = rated;
  return r;
}

QByteArray contentOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

class Recording : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    recording.setPortName([] { return QStringLiteral("COM1"); });
  }
  QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
  QTemporaryDir dir;
  StatusRecording recording;
};

TEST_F(Recording, HeaderThenOneRowPerTelegramForEveryModel) {
  struct Case {
    StatusReading reading;
    const char* row;
  };
  const Case cases[] = {
      {reading(kType4ch10A, {6, 10, 10, 2}, 0x01),
       "4ch10a,1.23,2.00,6,0.50,0.50,10,0.00,0.00,10,10.00,10.50,2,24.00,23.50,"
       "1,0,0,0,0,0,0,0,0,0"},
      // Channel 2 switched off: no currents; its lamps are still there.
      {reading(kType4ch6A, {6, 0, 6, 2}, 0x88, 0x03),
       "4ch6a,1.23,2.00,6,,,,0.00,0.00,6,10.00,10.50,2,24.00,23.50,0,0,0,1,0,0,0,1,1,1"},
      // Two channels: channels 3 and 4 have no cells at all, lamps included.
      {reading(kType2ch10A, {10, 10, 10, 10}, 0x02),
       "2ch10a,1.23,2.00,10,0.50,0.50,10,,,,,,,24.00,23.50,0,1,0,0,,,,,0,0"},
      {reading(kType2ch6A, {6, 6, 0, 0}),
       "2ch6a,1.23,2.00,6,0.50,0.50,6,,,,,,,24.00,23.50,"
       "0,0,0,0,,,,,0,0"},
      {reading(kTypeStandard, {6, 10, 10, 2}, 0x40),
       "standard,1.23,2.00,6,0.50,0.50,10,0.00,0.00,10,10.00,10.50,2,24.00,23.50,"
       "0,0,0,0,0,0,1,0,0,0"},
  };
  ASSERT_TRUE(recording.start(path("rec.csv")));
  QByteArray expected = csvHeader().toUtf8() + "\r\n";
  for (const Case& c : cases) {
    recording.record(kTime, c.reading);
    expected += "2026-12-10T14:03:07.025+01:00,COM1," + QByteArray(c.row) + "\r\n";
  }
  // Written as the telegrams arrive: the file is read while the recording goes on.
  EXPECT_TRUE(recording.active());
  EXPECT_EQ(contentOf(path("rec.csv")).toStdString(), expected.toStdString());
  EXPECT_EQ(recording.telegramRows(), 5u);
  recording.stop();
  EXPECT_EQ(contentOf(path("rec.csv")).toStdString(), expected.toStdString());
  // Every row has the header's columns.
  for (const QByteArray& row : expected.split('\n')) {
    if (row.isEmpty()) continue;
    EXPECT_EQ(row.count(','), csvHeader().count(QLatin1Char(','))) << row.data();
  }
}

TEST_F(Recording, OneGapRowPerSecondWithoutTelegrams) {
  ASSERT_TRUE(recording.start(path("gap.csv")));
  const StatusReading r = reading(kType4ch10A, {6, 10, 10, 2});
  recording.tick(kTime);  // started during a silence: a gap at once
  recording.record(kTime.addMSecs(100), r);
  recording.tick(kTime.addMSecs(1000));  // 900 ms: no gap yet
  recording.tick(kTime.addMSecs(1100));  // a whole second
  recording.tick(kTime.addMSecs(2100));  // the same gap goes on
  recording.record(kTime.addMSecs(5000), r);
  recording.tick(kTime.addMSecs(5500));
  recording.tick(kTime.addMSecs(6000));
  const QList<QByteArray> rows = contentOf(path("gap.csv")).split('\n');
  QStringList kinds;
  for (const QByteArray& row : rows) {
    if (!row.isEmpty()) kinds << QString::fromUtf8(row.split(',').value(2));
  }
  EXPECT_EQ(kinds, (QStringList{"model", "gap", "4ch10a", "gap", "4ch10a", "gap"}));
  EXPECT_EQ(QString::fromUtf8(rows[3]).trimmed(),
            csvGapLine(kTime.addMSecs(1100), QStringLiteral("COM1")));
  EXPECT_EQ(recording.gapRows(), 3u);
  EXPECT_EQ(recording.telegramRows(), 2u);
}

TEST_F(Recording, FullDiskStopsTheRecordingAndKeepsWholeRows) {
  ASSERT_TRUE(recording.start(path("full.csv")));
  std::vector<StatusRecording::Error> failures;
  QObject::connect(&recording, &StatusRecording::failed,
                   [&](StatusRecording::Error e) { failures.push_back(e); });
  const StatusReading r = reading(kType4ch10A, {6, 10, 10, 2});
  // The file-size limit stands in for a full file system.
  {
    const test::FileSizeLimit full(1000);
    for (int i = 0; i < 20 && recording.active(); ++i) {
      recording.record(kTime.addMSecs(100 * i), r);
    }
  }

  EXPECT_FALSE(recording.active());
  EXPECT_EQ(failures, std::vector{StatusRecording::Error::WriteFailed});
  EXPECT_EQ(recording.error(), StatusRecording::Error::WriteFailed);
  const QByteArray kept = contentOf(path("full.csv"));
  EXPECT_GT(recording.telegramRows(), 0u);
  EXPECT_EQ(kept.count('\n'), int(recording.telegramRows()) + 1);
  EXPECT_TRUE(kept.endsWith("\r\n"));  // the row cut short was taken back
  recording.record(kTime, r);          // stopped: nothing more
  EXPECT_EQ(contentOf(path("full.csv")), kept);
}

TEST_F(Recording, NamesThatAreNoRegularFileAreRefusedUntouched) {
  const QByteArray fifo = QFile::encodeName(path("fifo"));
  ASSERT_EQ(::mkfifo(fifo.constData(), 0666), 0);
  QFile::link(path("fifo"), path("to-fifo"));
  QFile::link(path("loop-a"), path("loop-b"));
  QFile::link(path("loop-b"), path("loop-a"));
  QDir(dir.path()).mkdir("folder");
  bool haveNode = false;
  if (::geteuid() == 0) {
    // A character device of the test's own (the numbers of /dev/null), never one in /dev.
    const QByteArray node = QFile::encodeName(path("node"));
    haveNode = ::mknod(node.constData(), S_IFCHR | 0666, makedev(1, 3)) == 0;
  }
  const QByteArray socketName = QFile::encodeName(path("socket"));
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  ASSERT_LT(std::size_t(socketName.size()), sizeof address.sun_path);
  std::memcpy(address.sun_path, socketName.constData(), std::size_t(socketName.size()));
  const int listener = ::socket(AF_UNIX, SOCK_STREAM, 0);
  ASSERT_GE(listener, 0);
  ASSERT_EQ(::bind(listener, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(listener);

  for (const char* name :
       {"fifo", "to-fifo", "loop-a", "folder", "socket", "missing/rec.csv", "node"}) {
    if (std::strcmp(name, "node") == 0 && !haveNode) continue;
    EXPECT_FALSE(recording.start(path(name))) << name;  // and did not block on the FIFO
    EXPECT_EQ(recording.error(), StatusRecording::Error::NotAFile) << name;
    EXPECT_FALSE(recording.active()) << name;
  }
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.constData(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_FALSE(QFile::exists(path("missing")));

  // A link to a regular file records into that file and stays a link.
  QFile real(path("real.csv"));
  ASSERT_TRUE(real.open(QIODevice::WriteOnly));
  real.write("old contents that go\n");
  real.close();
  QFile::link("real.csv", path("to-real"));
  ASSERT_TRUE(recording.start(path("to-real")));
  recording.stop();
  EXPECT_EQ(contentOf(path("real.csv")), csvHeader().toUtf8() + "\r\n");
  EXPECT_TRUE(QFileInfo(path("to-real")).isSymLink());
}

// A CSV reader as a spreadsheet applies it: cells split at the separator outside quotes,
// numbers read in the locale of the dialect.
QList<QStringList> readCsv(const QByteArray& file, QChar separator) {
  QList<QStringList> rows;
  for (const QString& line : QString::fromUtf8(file).split(QStringLiteral("\r\n"))) {
    if (line.isEmpty()) continue;
    QStringList cells{QString()};
    bool quoted = false;
    for (qsizetype i = 0; i < line.size(); ++i) {
      const QChar c = line[i];
      if (c == QLatin1Char('"')) {
        if (quoted && i + 1 < line.size() && line[i + 1] == QLatin1Char('"')) {
          cells.back() += c;
          ++i;
        } else {
          quoted = !quoted;
        }
      } else if (c == separator && !quoted) {
        cells << QString();
      } else {
        cells.back() += c;
      }
    }
    rows << cells;
  }
  return rows;
}

// Both dialects read back in the locale that goes with them give the same numbers, under
// the same header with units; the time keeps the local offset.
TEST_F(Recording, BothDialectsReadBackInTheirLocale) {
  struct Case {
    CsvDialect dialect;
    QChar separator;
    QLocale locale;
  };
  const Case cases[] = {{CsvDialect::Comma, QLatin1Char(','), QLocale::c()},
                        {CsvDialect::Semicolon, QLatin1Char(';'), QLocale(QLocale::German)}};
  const QDateTime winter(QDate(2026, 12, 10), QTime(14, 3, 7, 25), QTimeZone(3600));
  const QDateTime summer(QDate(2026, 7, 1), QTime(9, 0, 0, 5), QTimeZone(7200));
  recording.setPortName([] { return QStringLiteral("COM;1,a"); });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.separator.toLatin1());
    const QString file = path(c.dialect == CsvDialect::Comma ? "comma.csv" : "semicolon.csv");
    ASSERT_TRUE(recording.start(file, c.dialect));
    recording.record(winter, reading(kType4ch10A, {6, 10, 10, 2}, 0x80));
    recording.record(summer, reading(kType2ch6A, {6, 6, 0, 0}));
    recording.stop();
    const QList<QStringList> rows = readCsv(contentOf(file), c.separator);
    ASSERT_EQ(rows.size(), 3);
    EXPECT_EQ(rows[0].join(QLatin1Char('|')),
              "time|port|model|i1_A|i1_max_A|i1_rated_A|i2_A|i2_max_A|i2_rated_A|i3_A|i3_max_A|"
              "i3_rated_A|i4_A|i4_max_A|i4_rated_A|uin_V|uin_min_V|warning1|tripped1|warning2|"
              "tripped2|warning3|tripped3|warning4|tripped4|power_good_low|hardware_fault");
    for (const QStringList& row : rows) EXPECT_EQ(row.size(), rows[0].size());
    EXPECT_EQ(rows[1][0], "2026-12-10T14:03:07.025+01:00");
    EXPECT_EQ(rows[2][0], "2026-07-01T09:00:00.005+02:00");
    EXPECT_EQ(rows[1][1], "COM;1,a");
    const auto number = [&](const QString& cell) {
      bool ok = false;
      const double v = c.locale.toDouble(cell, &ok);
      EXPECT_TRUE(ok) << cell.toStdString();
      return v;
    };
    EXPECT_DOUBLE_EQ(number(rows[1][3]), 1.23);   // i1_A
    EXPECT_DOUBLE_EQ(number(rows[1][4]), 2.00);   // i1_max_A
    EXPECT_DOUBLE_EQ(number(rows[1][12]), 10.0);  // i4_A
    EXPECT_DOUBLE_EQ(number(rows[1][15]), 24.0);  // uin_V
    EXPECT_DOUBLE_EQ(number(rows[1][16]), 23.5);  // uin_min_V
    EXPECT_EQ(rows[1][24], "1");                  // tripped4
    EXPECT_EQ(rows[2][9], "");                    // channel 3 of a two-channel fuse
  }
}

// A folder removed under a running recording (a stick's folder deleted, a cleanup job):
// the next look notices the file has no name any more and stops as a full disk does.
TEST_F(Recording, FileThatLostItsNameStopsTheRecording) {
  QDir(dir.path()).mkdir("day");
  const QString file = path("day/rec.csv");
  ASSERT_TRUE(recording.start(file));
  std::vector<StatusRecording::Error> failures;
  QObject::connect(&recording, &StatusRecording::failed,
                   [&](StatusRecording::Error e) { failures.push_back(e); });
  const StatusReading r = reading(kType4ch10A, {6, 10, 10, 2});
  recording.record(kTime, r);
  recording.tick(kTime.addMSecs(500));
  EXPECT_TRUE(recording.active());
  ASSERT_TRUE(QDir(path("day")).removeRecursively());
  recording.record(kTime.addMSecs(600), r);
  recording.tick(kTime.addMSecs(1000));
  EXPECT_FALSE(recording.active());
  EXPECT_EQ(failures, std::vector{StatusRecording::Error::FileLost});
  EXPECT_FALSE(QFile::exists(path("day")));  // nothing made anew

  // Another file put in its place is no longer the recording's file either.
  ASSERT_TRUE(recording.start(path("swap.csv")));
  ASSERT_TRUE(QFile::rename(path("swap.csv"), path("swap-old.csv")));
  QFile other(path("swap.csv"));
  ASSERT_TRUE(other.open(QIODevice::WriteOnly));
  other.close();
  recording.tick(kTime);
  EXPECT_FALSE(recording.active());
  EXPECT_EQ(recording.error(), StatusRecording::Error::FileLost);
  EXPECT_EQ(contentOf(path("swap.csv")), QByteArray());
}

}  // namespace
}  // namespace zfuse
