// The device simulator on its pseudo-terminal, read through the tool's own serial code,
// frame assembler and decoder.

#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <thread>

#include "config/parameterset.h"
#include "link/command.h"
#include "link/connection.h"
#include "link/frameassembler.h"
#include "link/portnames.h"
#include "monitor/statustelegram.h"
#include "tests/support/pty.h"
#include "tests/support/status_recorder.h"
#include "tools/devicesim.h"

namespace zfuse {
namespace {

using namespace std::chrono_literals;
using sim::DeviceSimulator;

// The port the simulated fuse is linked as.
const QString kPort = QStringLiteral("COM1");
using test::arrayOf;
using test::bytesOf;

class SimulatorTest : public ::testing::Test {
 protected:
  void TearDown() override { test::removePortLinks(); }

  std::unique_ptr<DeviceSimulator> startSim(uint8_t model, unsigned faults = 0) {
    DeviceSimulator::Options o;
    o.model = model;
    o.faults = faults;
    o.telegramIntervalMs = 40;
    auto s = std::make_unique<DeviceSimulator>(o);
    EXPECT_TRUE(s->start());
    PtyLinker(s->slavePath());
    return s;
  }
  static void PtyLinker(const std::string& slave) {
    QDir().mkpath(portLinkFolder());
    const QString link = portLinkFolder() + QStringLiteral("/COM1");
    QFile::remove(link);
    QFile::link(QString::fromStdString(slave), link);
  }
  // Monitors COM1 for `duration` through the status monitor.
  std::unique_ptr<test::StatusRecorder> monitor(std::chrono::milliseconds duration) {
    auto c = std::make_unique<test::StatusRecorder>();
    c->monitor.connection().open(QStringLiteral("COM1"));
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < duration.count()) {
      QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 20);
    }
    return c;
  }
};

TEST_F(SimulatorTest, StatusTelegramsOfEveryModelPassAssemblerAndDecoder) {
  for (uint8_t model : std::vector<uint8_t>{0x11, 0x13, 0x15, 0x17, 0x19}) {
    auto s = startSim(model);
    const auto c = monitor(700ms);
    EXPECT_GE(c->readings.size(), 5u) << sim::modelName(model);
    EXPECT_EQ(c->bad, 0) << sim::modelName(model);
    ASSERT_FALSE(c->readings.empty());
    EXPECT_EQ(c->readings.back().type, model);
    // Rated currents follow the factory configuration.
    const int rated = model == 0x15 ? 8 : model == 0x17 ? 10 : 6;
    EXPECT_EQ(c->readings.back().rated[0], rated) << sim::modelName(model);
  }
}

TEST_F(SimulatorTest, StatusTelegramNeverCarriesAnEndPairInside) {
  // The uninterpreted counter bytes run through every value; the frame must stay whole.
  struct Host {
    std::vector<uint8_t> frame;
    FrameAssembler a{[this](const std::vector<uint8_t>& f) { frame = f; }};
  } host;
  sim::Measurements m;
  m.present = {0x00E4, 0x0016, 0x03E4, 0x0018};
  m.rated = {6, 10, 10, 2};
  for (unsigned counter = 0; counter <= 0xFFFF; ++counter) {
    m.counter = static_cast<uint16_t>(counter);
    const auto t = sim::statusTelegram(0x17, m);
    for (uint8_t b : t) host.a.baue_string(b);
    ASSERT_EQ(host.frame, t) << counter;
    ASSERT_EQ(checkStatusTelegram(host.frame), StatusCheck::Good);
  }
}

TEST_F(SimulatorTest, BadChecksumFaultIsRejectedButStillNamesTheModel) {
  auto s = startSim(0x13, sim::kBadChecksum);
  const auto c = monitor(600ms);
  EXPECT_TRUE(c->readings.empty());
  EXPECT_GE(c->bad, 3);
  ASSERT_FALSE(c->seen.empty());
  EXPECT_EQ(c->seen.back(), 0x13);
}

TEST_F(SimulatorTest, ReadsAndKeepsWhatWasWritten) {
  auto s = startSim(0x15, sim::kSilence);
  std::this_thread::sleep_for(50ms);
  auto reply = decodeStandardReply(bytesOf(command(kPort, QByteArray("\xFF\xFC", 2))));
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->current, (std::array<int, 4>{8, 8, 8, 8}));
  EXPECT_EQ(reply->version, "1.07");

  ParameterSet p;
  p.current_index = {1, 0, 8, 8};
  p.time_index = {4, -1, 0, 0};
  const auto telegram = encodeStandardWrite(p, 200);
  const auto ack = bytesOf(command(kPort, arrayOf(telegram)));
  ASSERT_FALSE(ack.empty());
  EXPECT_EQ(ack[0], telegram.back());
  reply = decodeStandardReply(bytesOf(command(kPort, QByteArray("\xFF\xFC", 2))));
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->current, (std::array<int, 4>{1, 0, 8, 8}));
  EXPECT_EQ(reply->time, (std::array<int, 4>{4, 0, 0, 0}));
  EXPECT_EQ(reply->pgood_index, 0);
  EXPECT_EQ(s->requests().size(), 3u);
}

TEST_F(SimulatorTest, FuseVariantReplyAndWrite) {
  auto s = startSim(0x19, sim::kSilence);
  const auto reply = bytesOf(command(kPort, QByteArray("\xFF\xFC", 2)));
  ASSERT_GE(reply.size(), 27u);
  EXPECT_EQ(reply[0], 0xE4);
  EXPECT_EQ(reply[1], 0x19);
  EXPECT_EQ(reply[26], xorBytes(reply.data(), 2, 25));
  std::vector<uint8_t> write = {0xFF, 0xF3, 0x21, 0x00, 0xC8, 0x03,
                                0x01, 0x00, 0x03, 0xDD, 0xEE, 0xDB};
  const auto ack = bytesOf(command(kPort, arrayOf(write)));
  ASSERT_EQ(ack.size(), 1u);
  EXPECT_EQ(ack[0], 0xDB);
  EXPECT_EQ(s->configuration(), (std::vector<uint8_t>{0x21, 0x00, 0xC8, 0x03, 0x01, 0x00, 0x03}));
}

TEST_F(SimulatorTest, ReplyFaults) {
  auto s = startSim(0x15, sim::kSilence);
  const QByteArray read("\xFF\xFC", 2);
  const struct {
    sim::Fault fault;
    std::size_t length;
  } cases[] = {
      {sim::kNoAnswer, 0}, {sim::kShortReply, 20}, {sim::kReplyGap, 10}, {sim::kLongReply, 50}};
  for (const auto& c : cases) {
    s->setFaults(sim::kSilence | c.fault);
    EXPECT_EQ(command(kPort, read).size(), static_cast<qsizetype>(c.length))
        << sim::faultNames(c.fault);
  }
  s->setFaults(sim::kSilence | sim::kBadAck);
  const auto telegram = encodeStandardWrite(ParameterSet{{8, 8, 8, 8}, {0, 0, 0, 0}}, 214);
  const auto ack = bytesOf(command(kPort, arrayOf(telegram)));
  ASSERT_FALSE(ack.empty());
  EXPECT_NE(ack[0], telegram.back());
}

TEST_F(SimulatorTest, RequestWhileStatusTelegramsFlowGetsACleanReply) {
  auto s = startSim(0x15);
  std::this_thread::sleep_for(100ms);
  int good = 0;
  for (int i = 0; i < 10; ++i) {
    good += decodeStandardReply(bytesOf(command(kPort, QByteArray("\xFF\xFC", 2)))).has_value();
    std::this_thread::sleep_for(std::chrono::milliseconds(13 * i));
  }
  EXPECT_GE(good, 9);  // a collision costs at most a retry in the dialogs
}

}  // namespace
}  // namespace zfuse
