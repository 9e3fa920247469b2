// zfusectl read, write and verify against simulated fuses: round trips, every exit code,
// the simulator's faults, parallel ports, refusals that send nothing, interruption.

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "config/deviceconfig.h"
#include "monitor/statustelegram.h"
#include "tests/support/configurations.h"
#include "tests/support/zfusectl_fixture.h"

namespace zfuse {
namespace {

class ZfusectlConfig : public test::ZfusectlFixture {
 protected:
  QString path(const QString& name) const { return dir.filePath(name); }
  QString writeFile(const QString& name, const QByteArray& bytes) const {
    QFile f(path(name));
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path(name);
  }
  static QByteArray fileOf(const DeviceConfiguration& c) {
    return QByteArray::fromStdString(fileTextOf(c));
  }
  static QByteArray readAll(const QString& file) {
    QFile f(file);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  QTemporaryDir dir;
};

// A configuration unlike the factory's, for each model.
using test::unusual;

TEST_F(ZfusectlConfig, FileWriteReadGivesTheSameBytesForEveryModel) {
  for (uint8_t model : {kTypeStandard, kType4ch10A, kType4ch6A, kType2ch10A, kType2ch6A}) {
    SCOPED_TRACE(modelName(model));
    startDevice(model);
    const QString file = writeFile("in.txt", fileOf(unusual(model)));
    Result r = run({"write", "--port", "COM1", file});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QStringLiteral("COM1: written and verified (%1)\n"
                                    "1 port: 1 verified; exit code 0\n")
                         .arg(modelName(model)));
    // The device holds exactly what the write telegram carried.
    const auto telegram = writeTelegramOf(unusual(model));
    EXPECT_EQ(device->configuration(),
              std::vector<uint8_t>(telegram.begin() + 2, telegram.end() - 3));
    r = run({"read", "--port", "COM1"});
    ASSERT_EQ(r.exit, 0) << r.err.toStdString();
    EXPECT_EQ(r.out.toLatin1(), readAll(file));
    EXPECT_TRUE(r.err.contains("read (")) << r.err.toStdString();
    r = run({"verify", "--port", "COM1", file});
    EXPECT_EQ(r.exit, 0) << r.err.toStdString();
    // A write telegram is sent once and read back once; nothing else but the listening.
    device.reset();
  }
}

TEST_F(ZfusectlConfig, ReadAsJsonAndToAFilePerPort) {
  startDevice(kType4ch6A);
  startDevice(kTypeStandard, 0, "COM2");
  Result r = run({"read", "--port", "COM1", "--port", "COM2", "-o", path("dev-%p.txt")});
  ASSERT_EQ(r.exit, 0) << r.err.toStdString();
  EXPECT_EQ(r.out,
            "COM1: read (4ch6a, version 1.07)\nCOM2: read (standard, version 1.07)\n"
            "2 ports: 2 read; exit code 0\n");
  DeviceConfiguration factory6a{kType4ch6A, {}, zokxFactorySet(kType4ch6A), {}};
  DeviceConfiguration factoryStd{kTypeStandard, standardFactorySet(), {}, {}};
  EXPECT_EQ(readAll(path("dev-COM1.txt")), fileOf(factory6a));
  EXPECT_EQ(readAll(path("dev-COM2.txt")), fileOf(factoryStd));

  r = run({"read", "--port", "COM2", "--format", "json"});
  ASSERT_EQ(r.exit, 0) << r.err.toStdString();
  const QJsonObject line = QJsonDocument::fromJson(r.out.section('\n', 0, 0).toUtf8()).object();
  EXPECT_EQ(line["port"].toString(), "COM2");
  EXPECT_EQ(line["result"].toString(), "read");
  const QJsonObject o = line["configuration"].toObject();
  EXPECT_EQ(o["model"].toString(), "standard");
  EXPECT_DOUBLE_EQ(o["power_good_threshold"].toDouble(), 21.4);
  EXPECT_EQ(o["channels"][0]["rated"].toInt(), 8);
  EXPECT_EQ(o["channels"][0]["trip_time"].toString(), "0,1 s");
  EXPECT_EQ(o["events"].toArray(), (QJsonArray{0x02, 0x80, 0x08, 0xC0}));
  EXPECT_EQ(o["file_text"].toString().toLatin1(), fileOf(factoryStd));
}

TEST_F(ZfusectlConfig, FaultsEndInTheirExitCodes) {
  const QString tenAmps = writeFile("10a.txt", fileOf(unusual(kType4ch10A)));
  const struct {
    unsigned fault;
    const char* command;
    int exit;
    const char* says;
  } cases[] = {
      {sim::kNoAnswer, "read", 4, "COM1: no answer after 2 attempts"},
      {sim::kNoAnswer, "write", 4, "COM1: no answer after 2 attempts"},
      {sim::kBadAck, "write", 0, "acknowledgement wrong; the device holds the new"},
      {sim::kShortReply, "read", 4, "no answer"},
      {sim::kReplyGap, "read", 4, "no answer"},
      {sim::kLongReply, "read", 4, "no answer"},
      {sim::kBadChecksum, "read", 4, "no answer"},
      {sim::kBadChecksum, "verify", 4, "no answer"},
      {sim::kNoise, "write", 0, "written and verified"},
      {sim::kSilence, "write", 0, "written and verified"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.command) + " " + sim::faultNames(c.fault));
    startDevice(kType4ch10A, c.fault);
    // Few attempts where none can succeed; where they can, room for a loaded machine.
    QStringList args{c.command,    "--port", "COM1", "--retries", c.exit == 0 ? "5" : "1",
                     "--interval", "10"};
    if (std::string(c.command) != "read") args << tenAmps;
    const Result r = run(args);
    EXPECT_EQ(r.exit, c.exit);
    EXPECT_TRUE((r.out + r.err).contains(c.says)) << (r.out + r.err).toStdString();
    // The dialogs' own words stay in the dialogs.
    EXPECT_FALSE((r.out + r.err).contains("communikation")) << (r.out + r.err).toStdString();
  }
}

TEST_F(ZfusectlConfig, AFileThatDoesNotFitIsRefusedBeforeAnythingIsSent) {
  const QString tenAmps =
      writeFile("10a.txt", fileOf({kType4ch10A, {}, zokxFactorySet(kType4ch10A), {}}));
  const QString standard = writeFile("std.txt", fileOf(unusual(kTypeStandard)));
  const QString broken =
      writeFile("broken.txt", "config\r\n99,99,D6,0F,\r\nAA,C0;\r\nAE081DDD12F256\r\n");
  const QString binary = writeFile("binary.bin", QByteArray("\x00\xFF\x13\x10\r\n\x80", 7));
  const QString huge = writeFile("huge.txt", QByteArray(3 << 20, 'A'));
  const struct {
    uint8_t model;
    QString file;
    int exit;
    const char* says;
  } cases[] = {
      {kType4ch6A, tenAmps, 6, "does not fit the 4ch6a model"},
      {kType2ch10A, tenAmps, 6, "channel 3 current"},
      {kType4ch10A, standard, 6, "is a file of the standard model"},
      {kTypeStandard, tenAmps, 6,
       "10a.txt is a file of the fuse-variant models; the device is the standard model\n"},
      {kType4ch10A, broken, 3, "file error C"},
      {kType4ch10A, binary, 3, "file error C"},
      {kType4ch10A, huge, 3, "file error C"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.says);
    startDevice(c.model);
    const Result r = run({"write", "--port", "COM1", c.file});
    EXPECT_EQ(r.exit, c.exit);
    EXPECT_TRUE(r.out.contains(c.says)) << r.out.toStdString();
    // The model is learnt from one read, which changes nothing; no write is sent.
    ASSERT_EQ(device->requests().size(), 1u);
    EXPECT_EQ(device->requests()[0].size(), 2u) << "a write was sent";
  }
}

TEST_F(ZfusectlConfig, WhatIsNoFileIsRefusedBeforeThePortIsOpened) {
  ASSERT_EQ(::mkfifo(path("fifo").toLocal8Bit().constData(), 0600), 0);
  const struct {
    QString file;
    const char* says;
  } cases[] = {
      {path("missing.txt"), "no such file"},
      {dir.path(), "is a folder"},
      {path("fifo"), "not a regular file"},
      {"/dev/null", "not a regular file"},
  };
  startDevice(kType4ch10A);
  for (const auto& c : cases) {
    const Result r = run({"write", "--port", "COM1", c.file}, 3000);
    EXPECT_EQ(r.exit, 3) << c.says;
    EXPECT_TRUE(r.err.contains(c.says)) << r.err.toStdString();
  }
  EXPECT_TRUE(device->requests().empty());
}

TEST_F(ZfusectlConfig, VerifyNamesEveryDifferenceInEitherLanguage) {
  startDevice(kType4ch6A);
  const QString file = writeFile("mine.txt", fileOf(unusual(kType4ch6A)));
  Result r = run({"verify", "--port", "COM1", file});
  EXPECT_EQ(r.exit, 5);
  EXPECT_TRUE(
      r.out.startsWith("COM1: the device differs from the file:\n"
                       "  channel 2 current: file 3 A, device 6 A\n"))
      << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("  switch-off time: file 1,0 s, device 100,0 s\n"));
  EXPECT_TRUE(r.out.endsWith("\n1 port: 1 differs; exit code 5\n")) << r.out.toStdString();
  r = run({"verify", "--port", "COM1", file, "--language", "de"});
  EXPECT_EQ(r.exit, 5);
  EXPECT_TRUE(r.out.contains("das Gerät weicht von der Datei ab:")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("  Kanal 2 Strom: Datei 3 A, Gerät 6 A\n")) << r.out.toStdString();
  EXPECT_TRUE(r.out.endsWith("\n1 Anschluss: 1 differs; Exit-Code 5\n")) << r.out.toStdString();
  r = run({"verify", "--port", "COM1", file, "--format", "json"});
  const QJsonObject o = QJsonDocument::fromJson(r.out.section('\n', 0, 0).toUtf8()).object();
  EXPECT_EQ(o["result"].toString(), "differs");
  EXPECT_EQ(o["exit"].toInt(), 5);
  EXPECT_EQ(o["differences"][0]["field"].toString(), "channel 2 current");
  EXPECT_EQ(o["differences"][0]["file"].toString(), "3 A");
  EXPECT_EQ(o["differences"][0]["device"].toString(), "6 A");
  EXPECT_TRUE(device->requests().size() == 3u) << "verify only reads";
}

TEST_F(ZfusectlConfig, SeveralPortsAreServedInParallelWithALineEach) {
  const QString file = writeFile("line7.txt", fileOf(unusual(kType4ch10A)));
  startDevice(kType4ch10A, 0, "COM1");
  startDevice(kType4ch10A, 0, "COM2");
  startDevice(kType4ch6A, 0, "COM3");
  QFile::link("/dev/ttyUSB-unplugged", portLinkFolder() + "/COM4");
  const Result r =
      run({"write", "--port", "COM1", "--port", "COM2", "--port", "COM3", "--port", "COM4", file});
  EXPECT_EQ(r.exit, 7) << "the highest code of any port";
  // Every port's line on standard output, in the order the ports were named.
  EXPECT_TRUE(
      r.out.startsWith("COM1: written and verified (4ch10a)\n"
                       "COM2: written and verified (4ch10a)\n"
                       "COM3: " +
                       file + " does not fit the 4ch6a model:\n  "))
      << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("\nCOM4 cannot be opened: ")) << r.out.toStdString();
  EXPECT_TRUE(
      r.out.endsWith("\n4 ports: 2 verified, 1 not_offered, 1 port_unavailable; exit code 7\n"))
      << r.out.toStdString();
  EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
  EXPECT_EQ(others["COM3"]->requests().size(), 1u) << "the read alone";
}

TEST_F(ZfusectlConfig, ABusyPortIsRefusedWithItsHolderNamed) {
  startDevice(kType4ch10A);
  QProcess holder;
  holder.start(QStringLiteral(ZFUSECTL_BINARY), {"status", "--port", "COM1"});
  ASSERT_TRUE(holder.waitForReadyRead(3000));
  const Result r = run({"read", "--port", "COM1"});
  EXPECT_EQ(r.exit, 7);
  EXPECT_TRUE(r.err.contains("busy")) << r.err.toStdString();
  holder.terminate();
  ASSERT_TRUE(holder.waitForFinished(3000));
  EXPECT_TRUE(device->requests().empty());
}

TEST_F(ZfusectlConfig, CtrlCDuringAWriteClosesThePortAndSaysTheResultIsUnknown) {
  startDevice(kType4ch10A, sim::kBadAck);
  const QString file = writeFile("line.txt", fileOf(unusual(kType4ch10A)));
  QProcess p;
  p.start(QStringLiteral(ZFUSECTL_BINARY),
          {"write", "--port", "COM1", "--retries", "1000", "--interval", "20", file});
  ASSERT_TRUE(p.waitForStarted());
  // Wait until the writes are going out, then interrupt.
  for (int i = 0; i < 300 && device->requests().size() < 2; ++i) QThread::msleep(10);
  ASSERT_GE(device->requests().size(), 2u);
  ::kill(static_cast<pid_t>(p.processId()), SIGINT);
  ASSERT_TRUE(p.waitForFinished(3000));
  EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(p.exitCode(), 8);
  EXPECT_TRUE(p.readAllStandardOutput().contains("run zfusectl verify"));
  // The port and its lock went with it.
  device->setFaults(0);
  const Result r = run({"verify", "--port", "COM1", file});
  EXPECT_NE(r.exit, 7) << r.err.toStdString();
}

}  // namespace
}  // namespace zfuse
