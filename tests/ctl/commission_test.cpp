// zfusectl commission and backup against simulated fuses: one device of each fault in
// one run with all three record forms checked, the dry run, backup and restore, Ctrl-C
// in the middle, and a record that meets a full disk.

#include <gtest/gtest.h>
#include <signal.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include "config/deviceconfig.h"
#include "monitor/statustelegram.h"
#include "tests/support/configurations.h"
#include "tests/support/filesize_limit.h"
#include "tests/support/zfusectl_fixture.h"

namespace zfuse {
namespace {

using test::settingsOf;
using test::unusual;

class Commission : public test::ZfusectlFixture {
 protected:
  QString path(const QString& name) const { return dir.filePath(name); }
  QString writeFile(const QString& name, const QByteArray& bytes) const {
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    EXPECT_EQ(f.write(bytes), bytes.size());
    return path(name);
  }
  void writeConfigurations() const {
    for (uint8_t model : {kTypeStandard, kType4ch10A, kType4ch6A}) {
      writeFile(QString::fromLatin1(modelName(model)) + ".txt",
                QByteArray::fromStdString(fileTextOf(unusual(model))));
    }
  }
  sim::DeviceSimulator& at(const QString& com) { return com == "COM1" ? *device : *others.at(com); }
  // The record files a run left in `folder`, by suffix.
  static QStringList recordFiles(const QString& folder, const QString& suffix) {
    return QDir(folder).entryList({"*-20*" + suffix}, QDir::Files, QDir::Name);
  }
  static QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  static bool wroteAnything(const sim::DeviceSimulator& sim) {
    for (const auto& r : sim.requests()) {
      if (r.size() > 2) return true;
    }
    return false;
  }
  QTemporaryDir dir;
};

TEST_F(Commission, EachFaultEndsInItsResultInAllThreeRecords) {
  writeConfigurations();
  startDevice(kType4ch10A, 0, "COM1");
  startDevice(kTypeStandard, sim::kKeepsOld, "COM2");
  startDevice(kType4ch6A, 0, "COM3");
  startDevice(kType4ch10A, sim::kNoAnswer, "COM4");
  startDevice(kType4ch10A, sim::kBadAck, "COM6");
  startDevice(kType4ch10A, sim::kShortReply, "COM7");
  startDevice(kType4ch10A, sim::kReplyGap, "COM8");
  startDevice(kType4ch10A, sim::kLongReply, "COM9");
  startDevice(kType4ch10A, 0, "COM10");
  QFile::link(path("unplugged-adapter"), portLinkFolder() + "/COM5");
  const QByteArray before10 = QByteArray::fromStdString(fileTextOf(unusual(kType4ch10A)));
  writeFile("plan.csv",
            "tag,port,model,file,location\n"
            "-F1,COM1,4ch10a,4ch10a.txt,<b>left</b>\n"
            "-F2,COM2,standard,standard.txt,\n"
            "-F3,COM3,4ch10a,4ch10a.txt,\n"
            "-F4,COM4,,4ch10a.txt,\n"
            "-F5,COM5,,4ch10a.txt,\n"
            "-F6,COM6,,4ch10a.txt,\n"
            "-F7,COM7,,4ch10a.txt,\n"
            "-F8,COM8,,4ch10a.txt,\n"
            "-F9,COM9,,4ch10a.txt,\n"
            "-F10,COM10,4ch10a,,\"read, only\"\n");
  const auto r = run({"commission", path("plan.csv"), "--retries", "1", "--interval", "20",
                      "--operator", "A. Weber", "--title", "Cabinet 3"},
                     30000);
  EXPECT_EQ(r.exit, 7) << r.out.toStdString() << r.err.toStdString();
  // A reply that runs on is refused at the read or, where the line pauses inside it, at
  // the write that follows: unreachable or unknown, never verified.
  EXPECT_TRUE(QRegularExpression("10 devices: 1 verified, 1 differ, 1 refused, (5 unreachable, "
                                 "1 unknown|4 unreachable, 2 unknown)")
                  .match(r.out)
                  .hasMatch())
      << r.out.toStdString();
  EXPECT_EQ(device->configuration(), settingsOf(unusual(kType4ch10A)));
  EXPECT_NE(others.at("COM2")->configuration(), settingsOf(unusual(kTypeStandard)));
  EXPECT_FALSE(wroteAnything(at("COM3")));  // refused before anything is sent
  EXPECT_FALSE(wroteAnything(at("COM10")));

  const QMap<QString, QString> expected{
      {"-F1", "verified"},    {"-F2", "differs"},     {"-F3", "refused"},
      {"-F4", "unreachable"}, {"-F5", "unreachable"}, {"-F6", "unknown"},
      {"-F7", "unreachable"}, {"-F8", "unreachable"}, {"-F9", "unreachable|unknown"},
      {"-F10", "read"}};

  const QStringList json = recordFiles(dir.path(), ".json");
  ASSERT_EQ(json.size(), 1);
  const QJsonObject record = QJsonDocument::fromJson(readAll(path(json[0]))).object();
  EXPECT_EQ(record["operator"].toString(), "A. Weber");
  EXPECT_EQ(record["title"].toString(), "Cabinet 3");
  EXPECT_EQ(record["plan_sha256"].toString().size(), 64);
  EXPECT_FALSE(record["interrupted"].toBool());
  QMap<QString, QJsonObject> byTag;
  for (const auto& d : record["devices"].toArray())
    byTag[d.toObject()["tag"].toString()] = d.toObject();
  for (auto it = expected.begin(); it != expected.end(); ++it) {
    EXPECT_TRUE(QRegularExpression("^(" + it.value() + ")$")
                    .match(byTag[it.key()]["result"].toString())
                    .hasMatch())
        << it.key().toStdString();
  }
  const QJsonObject f1 = byTag["-F1"];
  EXPECT_EQ(f1["model"].toString(), "4ch10a");
  EXPECT_EQ(f1["before"]["channel 1 current"].toString(), "10 A");
  EXPECT_EQ(f1["after"]["channel 1 current"].toString(), "9 A");
  EXPECT_TRUE(f1["state"]["uin"].isDouble());
  EXPECT_EQ(f1["extra"]["location"].toString(), "<b>left</b>");
  // The read-back caught the device that kept its old settings.
  EXPECT_TRUE(byTag["-F2"]["details"].toArray().first().toString().startsWith(
      QLatin1String("channel 1 current")))
      << QJsonDocument(byTag["-F2"]).toJson().toStdString();
  EXPECT_EQ(byTag["-F3"]["exit"].toInt(), 6);
  EXPECT_EQ(byTag["-F5"]["exit"].toInt(), 7);
  EXPECT_TRUE(byTag["-F6"]["message"].toString().contains("run zfusectl verify"));

  const QStringList csv = recordFiles(dir.path(), ".csv");
  ASSERT_EQ(csv.size(), 1);
  const QStringList lines = QString::fromUtf8(readAll(path(csv[0]))).split("\r\n");
  EXPECT_TRUE(lines[0].startsWith("tag,port,device,file,model,version,result,message,"));
  EXPECT_TRUE(lines[0].endsWith(",started,duration s,location"));
  for (auto it = expected.begin(); it != expected.end(); ++it) {
    const QString row = lines.filter(QRegularExpression("^" + it.key() + ",")).value(0);
    EXPECT_TRUE(QRegularExpression(",(" + it.value() + "),").match(row).hasMatch())
        << row.toStdString();
  }
  EXPECT_TRUE(lines.filter(QRegularExpression("^-F10,")).value(0).endsWith(",\"read, only\""));

  const QStringList html = recordFiles(dir.path(), ".html");
  ASSERT_EQ(html.size(), 1);
  const QString page = QString::fromUtf8(readAll(path(html[0])));
  for (const QString& tag : expected.keys()) EXPECT_TRUE(page.contains(tag));
  EXPECT_TRUE(page.contains("&lt;b&gt;left&lt;/b&gt;"));
  EXPECT_FALSE(page.contains("<b>left"));
  EXPECT_FALSE(page.contains("<script", Qt::CaseInsensitive));
  EXPECT_FALSE(page.contains("http", Qt::CaseInsensitive));
  EXPECT_TRUE(page.contains("A. Weber"));
}

TEST_F(Commission, ADryRunWritesNothingAndNeverOverwritesARecord) {
  writeConfigurations();
  startDevice(kType4ch10A, 0, "COM1");
  startDevice(kTypeStandard, 0, "COM2");
  device->setConfiguration(settingsOf(unusual(kType4ch10A)));
  writeFile("plan.csv", "tag;port;file\n-F1;COM1;4ch10a.txt\n-F2;COM2;standard.txt\n");
  QTemporaryDir reports;
  for (int run = 0; run < 2; ++run) {
    const auto r = this->run({"commission", path("plan.csv"), "--dry-run", "--report",
                              reports.path(), "--language", "de"});
    EXPECT_EQ(r.exit, 5) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("2 Geräte: 1 geprüft, 1 abweichend")) << r.out.toStdString();
  }
  EXPECT_FALSE(wroteAnything(*device));
  EXPECT_FALSE(wroteAnything(*others.at("COM2")));
  EXPECT_EQ(recordFiles(reports.path(), ".csv").size(), 2u);
  EXPECT_EQ(recordFiles(reports.path(), ".html").size(), 2u);
  const QString page =
      QString::fromUtf8(readAll(reports.filePath(recordFiles(reports.path(), ".html")[0])));
  EXPECT_TRUE(page.contains("Probelauf")) << page.left(2000).toStdString();
  EXPECT_TRUE(page.contains("Kanal 1 Strom"));
}

TEST_F(Commission, ABackupRestoresAChangedDeviceAndRefusesAnotherModel) {
  startDevice(kType4ch10A, 0, "COM1");
  startDevice(kTypeStandard, 0, "COM2");
  device->setConfiguration(settingsOf(unusual(kType4ch10A)));
  others.at("COM2")->setConfiguration(settingsOf(unusual(kTypeStandard)));
  const auto saved = run({"backup", "--port", "COM1", "--tag", "-F1", "--port", "COM2", "--tag",
                          "-F2/x", "-o", path("backup")});
  ASSERT_EQ(saved.exit, 0) << saved.err.toStdString();
  EXPECT_TRUE(QFile::exists(path("backup/_F2_x.txt")));
  EXPECT_FALSE(wroteAnything(*device));

  // Someone changed -F1; the backup's plan restores it alone.
  device->setConfiguration(sim::factoryConfiguration(kType4ch10A));
  const auto restored = run({"commission", path("backup/plan.csv"), "--only", "-F1"});
  EXPECT_EQ(restored.exit, 0) << restored.err.toStdString();
  EXPECT_EQ(device->configuration(), settingsOf(unusual(kType4ch10A)));
  EXPECT_FALSE(wroteAnything(*others.at("COM2")));

  // A 6 A fuse where the 10 A one was: the plan's model refuses it, nothing is written.
  startDevice(kType4ch6A, 0, "COM1");
  const auto refused = run({"commission", path("backup/plan.csv"), "--only", "-F1"});
  EXPECT_EQ(refused.exit, 6);
  EXPECT_TRUE(refused.out.contains("the plan names the 4ch10a model; the device is the 4ch6a"))
      << refused.out.toStdString();
  EXPECT_FALSE(wroteAnything(*device));

  // A second backup into the same folder would overwrite the first.
  EXPECT_EQ(run({"backup", "--port", "COM2", "--tag", "-F2", "-o", path("backup")}).exit, 3);
}

TEST_F(Commission, CtrlCKeepsFinishedDevicesAndMarksTheWriteInFlightUnknown) {
  writeConfigurations();
  startDevice(kType4ch10A, 0, "COM1");
  startDevice(kType4ch10A, sim::kBadAck, "COM2");
  startDevice(kType4ch10A, sim::kNoAnswer, "COM3");
  writeFile("plan.csv",
            "tag,port,file\n-F1,COM1,4ch10a.txt\n-F2,COM2,4ch10a.txt\n-F3,COM3,4ch10a.txt\n");
  QProcess p;
  p.start(QStringLiteral(ZFUSECTL_BINARY),
          {"commission", path("plan.csv"), "--retries", "1000", "--interval", "50"});
  ASSERT_TRUE(p.waitForStarted());
  // Once -F2's write has gone out (and is being tried again), and -F1's read-back has.
  ASSERT_TRUE(QTest::qWaitFor(
      [&] { return wroteAnything(*others.at("COM2")) && device->requests().size() >= 3; }, 10000));
  ::kill(static_cast<pid_t>(p.processId()), SIGINT);
  ASSERT_TRUE(p.waitForFinished(10000));
  EXPECT_EQ(p.exitCode(), 8);
  const QStringList json = recordFiles(dir.path(), ".json");
  ASSERT_EQ(json.size(), 1) << p.readAllStandardError().toStdString();
  const QJsonObject record = QJsonDocument::fromJson(readAll(path(json[0]))).object();
  EXPECT_TRUE(record["interrupted"].toBool());
  const QJsonArray devices = record["devices"].toArray();
  EXPECT_EQ(devices[0]["result"].toString(), "verified");
  EXPECT_EQ(devices[1]["result"].toString(), "unknown");
  EXPECT_EQ(devices[2]["result"].toString(), "interrupted");
}

TEST_F(Commission, ARecordOnAFullDiskSaysWhereItStopped) {
  writeConfigurations();
  startDevice(kType4ch10A, 0, "COM1");
  writeFile("plan.csv", "tag,port,file\n-F1,COM1,4ch10a.txt\n");
  // A missing report folder stops before a device is touched.
  EXPECT_EQ(run({"commission", path("plan.csv"), "--report", path("absent")}).exit, 2);
  EXPECT_TRUE(device->requests().empty());

  Result r;
  {
    // The CSV fits; the JSON does not.
    const test::FileSizeLimit full(2000);
    r = run({"commission", path("plan.csv")});
  }
  EXPECT_EQ(r.exit, 12);
  EXPECT_TRUE(r.err.contains("the record stopped at ")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(".json: ")) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(".csv")) << r.err.toStdString();  // written before it
  EXPECT_EQ(recordFiles(dir.path(), ".csv").size(), 1u);
  EXPECT_TRUE(recordFiles(dir.path(), ".json").isEmpty());
  EXPECT_TRUE(recordFiles(dir.path(), ".html").isEmpty());
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).filter(".json").size(), 0);
  EXPECT_EQ(device->configuration(), settingsOf(unusual(kType4ch10A)));
}

}  // namespace
}  // namespace zfuse
