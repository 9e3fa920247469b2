// zfusectl status: the output formats, and the program against the simulated fuse.

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTimeZone>

#include "link/portnames.h"
#include "monitor/statusoutput.h"
#include "tests/support/pty.h"
#include "tests/support/status_recorder.h"
#include "tests/support/telegrams.h"
#include "tests/support/zfusectl_fixture.h"
#include "tools/devicesim.h"

namespace zfuse {
namespace {

StatusReading exampleReading(uint8_t type = 0x17, uint8_t rated34 = 0x2A) {
  auto frame = test::kExampleTelegram;
  frame[1] = type;
  frame[25] = rated34;
  frame[28] = xorBytes(frame.data(), 2, 27);
  test::StatusRecorder path;
  path.feed(frame);
  EXPECT_EQ(path.readings.size(), 1u);
  return path.readings.empty() ? StatusReading{} : path.readings[0];
}

const QDateTime kTime(QDate(2026, 12, 10), QTime(14, 3, 7, 25), QTimeZone(3600));

TEST(ZfusectlOutput, EveryFormatCarriesTheNumbers) {
  const StatusReading r = exampleReading();
  EXPECT_EQ(isoTime(kTime), "2026-12-10T14:03:07.025+01:00");
  EXPECT_EQ(isoTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6), QTimeZone(0))),
            "2026-01-02T03:04:05.006+00:00");
  EXPECT_EQ(isoTime(QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6), QTimeZone(-12600))),
            "2026-01-02T03:04:05.006-03:30");
  EXPECT_EQ(textLine(kTime, "COM1", r),
            "2026-12-10T14:03:07.025+01:00  COM1  4ch10a  "
            "ch1 1.23 A (max 2.00 A, rated 6 A) WARNING  ch2 0.50 A (max 0.50 A, rated 10 A)  "
            "ch3 0.00 A (max 0.00 A, rated 10 A)  ch4 10.00 A (max 10.50 A, rated 2 A)  "
            "Uin 24.00 V (min 23.50 V)");
  EXPECT_EQ(csvLine(kTime, "COM1", r),
            "2026-12-10T14:03:07.025+01:00,COM1,4ch10a,1.23,2.00,6,0.50,0.50,10,0.00,0.00,10,"
            "10.00,10.50,2,24.00,23.50,1,0,0,0,0,0,0,0,0,0");
  EXPECT_EQ(csvHeader().count(','), csvLine(kTime, "COM1", r).count(','));

  const QJsonObject o = QJsonDocument::fromJson(jsonLine(kTime, "COM1", r).toUtf8()).object();
  EXPECT_EQ(o["model"].toString(), "4ch10a");
  EXPECT_EQ(o["type"].toInt(), 0x17);
  EXPECT_DOUBLE_EQ(o["uin"].toDouble(), 24.0);
  EXPECT_DOUBLE_EQ(o["uin_min"].toDouble(), 23.5);
  const QJsonArray ch = o["channels"].toArray();
  ASSERT_EQ(ch.size(), 4);
  EXPECT_DOUBLE_EQ(ch[0]["present"].toDouble(), 1.23);
  EXPECT_DOUBLE_EQ(ch[3]["maximum"].toDouble(), 10.5);
  EXPECT_EQ(ch[1]["rated"].toInt(), 10);
  EXPECT_TRUE(ch[0]["warning"].toBool());
  EXPECT_FALSE(ch[0]["tripped"].toBool());
  EXPECT_FALSE(o["power_good_low"].toBool());
  EXPECT_FALSE(o["hardware_fault"].toBool());
  // Every field name in one style, lower case with underscores, as in the CSV header and
  // the events: consumers address them by name.
  EXPECT_EQ(o.keys(), QStringList({"channels", "hardware_fault", "model", "port", "power_good_low",
                                   "time", "type", "uin", "uin_min"}));
  EXPECT_EQ(ch[0].toObject().keys(),
            QStringList({"channel", "maximum", "present", "rated", "tripped", "warning"}));
}

TEST(ZfusectlOutput, SwitchedOffAndMissingChannelsHaveNoValues) {
  // Channel 3 switched off (rated 0), channel 4 at 2 A; and a two-channel model.
  const StatusReading off = exampleReading(0x17, 0x20);
  const QJsonArray ch =
      QJsonDocument::fromJson(jsonLine(kTime, "COM1", off).toUtf8())["channels"].toArray();
  EXPECT_TRUE(ch[2]["present"].isNull());
  EXPECT_TRUE(ch[2]["rated"].isNull());
  EXPECT_FALSE(ch[2]["warning"].isNull());  // the channel exists: its lamps count
  EXPECT_EQ(ch[3]["rated"].toInt(), 2);
  EXPECT_TRUE(csvLine(kTime, "COM1", off).contains(",10,,,,10.00,"));
  EXPECT_TRUE(textLine(kTime, "COM1", off).contains("ch3 off"));

  const StatusReading two = exampleReading(0x11);
  const QJsonArray ch2 =
      QJsonDocument::fromJson(jsonLine(kTime, "COM2", two).toUtf8())["channels"].toArray();
  for (int c : {2, 3}) {
    for (const char* key : {"present", "maximum", "rated", "warning", "tripped"}) {
      EXPECT_TRUE(ch2[c][key].isNull()) << c << key;
    }
  }
  EXPECT_TRUE(csvLine(kTime, "COM2", two).endsWith(",24.00,23.50,1,0,0,0,,,,,0,0"));
  EXPECT_FALSE(textLine(kTime, "COM2", two).contains("ch3"));
}

using Zfusectl = test::ZfusectlFixture;

TEST_F(Zfusectl, StatusPrintsTheTelegramsOfEveryModel) {
  for (const char* model : {"4ch10a", "4ch6a", "2ch10a", "2ch6a", "standard"}) {
    startDevice(*sim::modelByName(model));
    const Result r =
        run({"status", "--port", "COM1", "--count", "3", "--format", "json", "--summary"});
    ASSERT_EQ(r.exit, 0) << model << r.err.toStdString();
    const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 4) << model;
    for (int i = 0; i < 3; ++i) {
      const QJsonObject o = QJsonDocument::fromJson(lines[i].toUtf8()).object();
      EXPECT_EQ(o["model"].toString(), model);
      EXPECT_EQ(o["port"].toString(), "COM1");
      EXPECT_GT(o["uin"].toDouble(), 0.0);
    }
    const QJsonArray summary = QJsonDocument::fromJson(lines[3].toUtf8())["summary"].toArray();
    EXPECT_EQ(summary[0]["telegrams"].toInt(), 3) << model;
    EXPECT_EQ(summary[0].toObject().keys(),
              QStringList({"bad_check_byte", "given_up", "port", "telegrams"}));
    device.reset();
    test::removePortLinks();
  }
}

TEST_F(Zfusectl, WrongCheckBytesAreCountedNotPrinted) {
  startDevice(0x17, sim::kBadChecksum);
  const Result r = run({"status", "--port", "COM1", "--seconds", "0.6", "--format", "csv"});
  EXPECT_EQ(r.exit, 13);  // no good telegram came
  EXPECT_EQ(r.out.split('\n', Qt::SkipEmptyParts), QStringList{csvHeader()});
  EXPECT_TRUE(
      r.err.contains(QRegularExpression("COM1: 0 telegrams printed, [1-9][0-9]* with a "
                                        "wrong check byte")))
      << r.err.toStdString();
}

// The spreadsheet dialect: the same header with units, semicolons, decimal commas.
TEST_F(Zfusectl, CsvDialectForSpreadsheets) {
  startDevice(0x17);
  const Result r = run({"status", "--port", "COM1", "--count", "2", "--format", "csv",
                        "--csv-dialect", "semicolon"});
  ASSERT_EQ(r.exit, 0) << r.err.toStdString();
  const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 3);
  EXPECT_EQ(lines[0], csvHeader(CsvDialect::Semicolon));
  EXPECT_TRUE(lines[0].startsWith("time;port;model;i1_A;i1_max_A;i1_rated_A;"));
  for (const QString& row : lines.mid(1)) {
    const QStringList cells = row.split(';');
    EXPECT_EQ(cells.size(), lines[0].count(';') + 1);
    EXPECT_TRUE(cells.value(15).contains(QRegularExpression("^[0-9]+,[0-9]{2}$")))
        << row.toStdString();  // uin_V
    EXPECT_FALSE(cells.mid(1).join(';').contains('.')) << row.toStdString();
  }
}

TEST_F(Zfusectl, ExitCodesOfBadUsageAndPorts) {
  const struct {
    QStringList args;
    int exit;
    const char* says;
  } cases[] = {
      {{}, 2, "name one command"},
      {{"bogus"}, 2, "unknown command"},
      {{"status"}, 2, "needs --port"},
      {{"status", "--port", "COM12"}, 2, "unknown port"},
      {{"status", "--port", "COM1", "--port", "COM1"}, 2, "named twice"},
      {{"status", "--port", "COM1", "--count", "0"}, 2, "--count"},
      {{"status", "--port", "COM1", "--seconds", "x"}, 2, "--seconds"},
      {{"status", "--port", "COM1", "--timeout", "3"}, 2, "--timeout goes with status --count"},
      {{"status", "--port", "COM1", "--count", "1", "--timeout", "0"}, 2, "--timeout needs"},
      {{"read", "--port", "COM1", "--require-all"}, 2, "--require-all goes with status"},
      {{"status", "--port", "COM1", "--format", "xml"}, 2, "unknown format"},
      {{"status", "--port", "COM1", "--summary"}, 2, "--summary"},
      {{"status", "--port", "COM1", "--csv-dialect", "semicolon"}, 2, "goes with status --format"},
      {{"status", "--port", "COM1", "--format", "csv", "--csv-dialect", "tab"}, 2, "unknown CSV"},
      {{"status", "--port", "COM1", "--bogus"}, 2, "Unknown option"},
      {{"ports", "--port", "COM1"}, 2, "no options"},
      {{"write", "--port", "COM1"}, 2, "needs one configuration file"},
      {{"verify", "--port", "COM1", "a", "b"}, 2, "needs one configuration file"},
      {{"read", "--port", "COM1", "stray"}, 2, "takes no file"},
      {{"read", "--port", "COM1", "--port", "COM2"}, 2, "%p"},
      {{"read", "--port", "COM1", "--retries", "-1"}, 2, "--retries"},
      {{"read", "--port", "COM1", "--interval", "soon"}, 2, "--interval"},
      {{"read", "--port", "COM1", "--language", "fr"}, 2, "unknown language"},
      {{"read", "--port", "COM1", "--format", "csv"}, 2, "unknown format"},
      {{"read", "--port", "COM1", "--count", "3"}, 2, "goes with status"},
      {{"status", "--port", "COM1", "--retries", "3"}, 2, "goes with read"},
      {{"verify", "--port", "COM1", "--no-verify", "f"}, 2, "goes with write"},
      {{"write", "--port", "COM1", "-o", "x", "f"}, 2, "goes with read"},
  };
  for (const auto& c : cases) {
    const Result r = run(c.args);
    EXPECT_EQ(r.exit, c.exit) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
  }
  // A link to an adapter that is not plugged in: with --require-all, the doctor's reason
  // and exit 7 (without, the port is waited for).
  QFile::link("/dev/ttyUSB-unplugged", portLinkFolder() + "/COM3");
  const Result r = run({"status", "--port", "COM3", "--count", "1", "--require-all"});
  EXPECT_EQ(r.exit, 7);
  EXPECT_TRUE(r.err.contains("COM3 cannot be opened")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("/dev/ttyUSB-unplugged")) << r.err.toStdString();
}

TEST_F(Zfusectl, SecondProgramOnAPortIsRefusedAndSignalEndsCleanly) {
  startDevice(0x17);
  QProcess first;
  first.start(QStringLiteral(ZFUSECTL_BINARY), {"status", "--port", "COM1"});
  ASSERT_TRUE(first.waitForReadyRead(3000));
  const Result second = run({"status", "--port", "COM1", "--count", "1", "--require-all"}, 3000);
  EXPECT_EQ(second.exit, 7);
  EXPECT_TRUE(second.err.contains("busy")) << second.err.toStdString();
  first.terminate();  // SIGTERM
  ASSERT_TRUE(first.waitForFinished(3000));
  EXPECT_EQ(first.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(first.exitCode(), 0);
  // The lock went with the first program: the port opens again.
  const Result again = run({"status", "--port", "COM1", "--count", "1"});
  EXPECT_EQ(again.exit, 0) << again.err.toStdString();
}

TEST_F(Zfusectl, PortsReportsEveryPortAndSaysWhetherAnyCanBeOpened) {
  // Every name leads to an adapter that is not plugged in: nothing to open.
  for (int n = 1; n <= 11; ++n) {
    QFile::link(QStringLiteral("/dev/ttyUSB-gone%1").arg(n),
                portLinkFolder() + QStringLiteral("/COM%1").arg(n));
  }
  Result r = run({"ports"});
  EXPECT_EQ(r.exit, 1);
  EXPECT_TRUE(r.out.contains("COM1 ")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("COM11 "));
  EXPECT_TRUE(r.out.contains("0 of 11 ports can be opened now."));
  // One fuse on COM1: that is enough.
  QFile::remove(portLinkFolder() + "/COM1");
  startDevice(0x17);
  r = run({"ports"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_TRUE(r.out.contains("1 of 11 ports can be opened now.")) << r.out.toStdString();
}

}  // namespace
}  // namespace zfuse
