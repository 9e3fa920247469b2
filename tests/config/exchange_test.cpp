// The configuration exchange: attempts, acknowledgements and retries for both telegram
// families, and what the device configuration makes of replies and files.

#include "config/exchange.h"

#include <gtest/gtest.h>

#include <deque>

#include "monitor/statustelegram.h"
#include "tests/support/pty.h"
#include "tools/devicesim.h"

namespace zfuse {
namespace {

using test::arrayOf;

// A line that answers from a script, one reply per exchange, and keeps the requests.
class ScriptedExchange : public ExchangeLine {
 public:
  QByteArray exchange(const QByteArray& request, ReplyKind) override {
    requests.push_back(request);
    if (replies.empty()) return {};
    QByteArray r = replies.front();
    replies.pop_front();
    return r;
  }
  std::deque<QByteArray> replies;
  std::vector<QByteArray> requests;
};

const RetryPolicy kQuick{3, 0};

QByteArray goodReply(uint8_t model) {
  return arrayOf(sim::configurationReply(model, sim::factoryConfiguration(model), "1.07"));
}

QByteArray damaged(QByteArray reply, std::size_t at, uint8_t x) {
  reply[static_cast<qsizetype>(at)] = static_cast<char>(reply[static_cast<qsizetype>(at)] ^ x);
  return reply;
}

class ExchangeOfEveryModel : public ::testing::TestWithParam<uint8_t> {};

TEST_P(ExchangeOfEveryModel, ReadRetriesUntilAReplyIsCompleteAndChecked) {
  const uint8_t model = GetParam();
  const QByteArray good = goodReply(model);
  const std::size_t checkAt = model == kTypeStandard ? 28 : 26;
  const struct {
    const char* name;
    std::vector<QByteArray> replies;
    bool read;
    int attempts;
  } cases[] = {
      {"at once", {good}, true, 1},
      {"after silence", {{}, {}, good}, true, 3},
      {"short, then whole", {good.left(20), good}, true, 2},
      {"bad check byte, then good", {damaged(good, checkAt, 0x5A), good}, true, 2},
      {"foreign start byte", {damaged(good, 0, 0x01), good}, true, 2},
      {"never: first attempt and three retries", {{}, {}, {}, {}, good}, false, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedExchange line;
    line.replies.assign(c.replies.begin(), c.replies.end());
    ConfigExchange exchange(line, kQuick);
    const auto config = exchange.read();
    EXPECT_EQ(config.has_value(), c.read);
    EXPECT_EQ(exchange.attempts(), c.attempts);
    for (const QByteArray& r : line.requests) EXPECT_EQ(r, readRequest());
    if (config) {
      EXPECT_EQ(config->model, model);
      EXPECT_EQ(config->version, "1.07");
      // The reply is the factory state the dialogs' default button sets.
      if (model == kTypeStandard) {
        EXPECT_EQ(config->standard, standardFactorySet());
      } else {
        EXPECT_EQ(config->zokx, zokxFactorySet(model));
      }
    }
  }
}

TEST_P(ExchangeOfEveryModel, WriteNeedsTheCheckByteBack) {
  const uint8_t model = GetParam();
  DeviceConfiguration config;
  config.model = model;
  config.standard = standardFactorySet();
  config.zokx = zokxFactorySet(model);
  const std::vector<uint8_t> telegram = writeTelegramOf(config);
  ASSERT_EQ(telegram.size(), model == kTypeStandard ? kStandardWriteLength : kZokxWriteLength);
  const QByteArray ack(1, static_cast<char>(telegram.back()));
  const QByteArray wrong(1, static_cast<char>(telegram.back() ^ 0xFF));
  const struct {
    const char* name;
    std::vector<QByteArray> replies;
    bool acknowledged;
    int attempts;
  } cases[] = {
      {"acknowledged", {ack}, true, 1},
      {"wrong byte, then acknowledged", {wrong, ack}, true, 2},
      {"acknowledgement with more behind it", {ack + "xyz"}, true, 1},
      {"silent throughout", {}, false, 4},
      {"wrong throughout", {wrong, wrong, wrong, wrong}, false, 4},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedExchange line;
    line.replies.assign(c.replies.begin(), c.replies.end());
    ConfigExchange exchange(line, kQuick);
    EXPECT_EQ(exchange.write(telegram), c.acknowledged);
    EXPECT_EQ(exchange.attempts(), c.attempts);
    for (const QByteArray& r : line.requests) EXPECT_EQ(r, arrayOf(telegram));
  }
}

INSTANTIATE_TEST_SUITE_P(Models, ExchangeOfEveryModel,
                         ::testing::Values(kTypeStandard, kType4ch10A, kType4ch6A, kType2ch10A,
                                           kType2ch6A),
                         [](const auto& p) { return std::string(modelName(p.param)); });

TEST(ConfigExchange, AStopEndsTheRetriesAtOnce) {
  ScriptedExchange line;
  std::atomic<bool> stop{false};
  ConfigExchange exchange(line, {1000, 50}, &stop);
  stop = true;
  EXPECT_FALSE(exchange.read().has_value());
  EXPECT_TRUE(exchange.stopped());
  EXPECT_TRUE(line.requests.empty());
}

TEST(ConfigExchange, ReplyLengthFollowsTheTypeByte) {
  EXPECT_EQ(configurationReplyLength(kTypeStandard), 30u);
  for (uint8_t type : {kType2ch6A, kType2ch10A, kType4ch10A, kType4ch6A}) {
    EXPECT_EQ(configurationReplyLength(type), 27u);
  }
  EXPECT_EQ(configurationReplyLength(0x16), 0u);
}

// Files examined for the model of the device they are to go to.
TEST(DeviceConfiguration, FilesAreExaminedForTheDevicesModel) {
  const auto linesOf = [](const std::string& text) {
    FileLines l;
    std::size_t at = 0;
    for (std::string& line : l) {
      const std::size_t end = text.find("\r\n", at);
      if (end == std::string::npos) break;
      line = text.substr(at, end - at);
      at = end + 2;
    }
    return l;
  };
  DeviceConfiguration tenAmps{kType4ch10A, {}, zokxFactorySet(kType4ch10A), {}};
  DeviceConfiguration standard{kTypeStandard, standardFactorySet(), {}, {}};
  const FileLines tenAmpFile = linesOf(fileTextOf(tenAmps));
  const FileLines standardFile = linesOf(fileTextOf(standard));
  const struct {
    const char* name;
    FileLines lines;
    uint8_t model;
    FileVerdict::Result result;
    std::size_t reasons;
  } cases[] = {
      {"own model", tenAmpFile, kType4ch10A, FileVerdict::Good, 0},
      {"10 A on every channel of a 6 A model", tenAmpFile, kType4ch6A, FileVerdict::NotOffered, 4},
      {"10 A on a two-channel 10 A model: channels 3 and 4 go to 6 A", tenAmpFile, kType2ch10A,
       FileVerdict::NotOffered, 2},
      {"standard file on a fuse variant", standardFile, kType4ch10A, FileVerdict::OtherVariant, 0},
      {"fuse-variant file on the standard model", tenAmpFile, kTypeStandard,
       FileVerdict::OtherVariant, 0},
      {"standard file on the standard model", standardFile, kTypeStandard, FileVerdict::Good, 0},
      {"no file at all", FileLines{}, kTypeStandard, FileVerdict::Rejected, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const FileVerdict v = examineFileFor(c.lines, c.model);
    EXPECT_EQ(v.result, c.result);
    EXPECT_EQ(v.reasons.size(), c.reasons);
    if (c.result == FileVerdict::Rejected) {
      EXPECT_NE(v.check, 0);
    }
  }
  // A good file gives back the configuration it was made of.
  EXPECT_TRUE(examineFileFor(tenAmpFile, kType4ch10A).config.sameSettings(tenAmps));
  EXPECT_TRUE(examineFileFor(standardFile, kTypeStandard).config.sameSettings(standard));
}

TEST(DeviceConfiguration, DifferencesAreNamedFieldByFieldWithoutTheReleaseBit) {
  DeviceConfiguration a{kTypeStandard, standardFactorySet(), {}, "1.07"};
  DeviceConfiguration b = a;
  b.version = "2.00";
  b.standard.port1_byte2 |= kReleaseAllBit;
  EXPECT_TRUE(differences(a, b).empty());
  EXPECT_TRUE(a.sameSettings(b));
  b.standard.current_index[2] = 1;
  b.standard.time_index[2] = 4;
  b.standard.pgood_index = 0;
  EXPECT_EQ(differences(a, b),
            (std::vector<Difference>{{"channel 3 current", "8 A", "1 A"},
                                     {"channel 3 trip time", "0,1 s", "1,5 s"},
                                     {"power-good threshold", "21,4 V", "20,0 V"}}));
  DeviceConfiguration z{kType4ch6A, {}, zokxFactorySet(kType4ch6A), {}};
  DeviceConfiguration y = z;
  y.zokx.switch_off_index = 0;
  y.zokx.current_index[0] = 0;
  EXPECT_EQ(differences(z, y), (std::vector<Difference>{{"channel 1 current", "6 A", "OFF"},
                                                        {"switch-off time", "100,0 s", "0,1 s"}}));
  EXPECT_EQ(differences(z, a), (std::vector<Difference>{{"model", "4ch6a", "standard"}}));
}

}  // namespace
}  // namespace zfuse
