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

}  // namespace
}  // namespace zfuse
