#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zfuse::sim {

// Faults the simulated fuse can show on its service port; any combination.
enum Fault : unsigned {
  kSilence = 1u << 0,      // no status telegrams
  kNoise = 1u << 1,        // random bytes between the status telegrams
  kBadChecksum = 1u << 2,  // wrong check byte in status telegrams and configuration replies
  kShortReply = 1u << 3,   // configuration reply cut off after 20 bytes
  kReplyGap = 1u << 4,     // a 120 ms pause after the first 10 bytes of a reply
  kBadAck = 1u << 5,       // a write is acknowledged with a wrong byte
  kLongReply = 1u << 6,    // replies run on past 50 bytes
  kNoAnswer = 1u << 7,     // requests go unanswered
  kKeepsOld = 1u << 8,     // a write is acknowledged, but the old configuration stays
  kStoresOther = 1u << 9,  // a write is stored with a bit of its first event byte flipped
};
std::optional<Fault> faultByName(const std::string& name);
std::string faultNames(unsigned faults);
const std::vector<std::pair<std::string, Fault>>& allFaults();

// Model type bytes by name ("2ch6a", "2ch10a", "standard", "4ch10a", "4ch6a") or hex.
std::optional<uint8_t> modelByName(const std::string& name);
std::string modelName(uint8_t type);

// The configuration a device of `model` leaves the factory with: bytes 2 ... 10 of a
// standard-model write telegram, or bytes 2 ... 8 of a fuse-variant one.
std::vector<uint8_t> factoryConfiguration(uint8_t model);

// Telegrams as the fuse sends them.
std::vector<uint8_t> configurationReply(uint8_t model, const std::vector<uint8_t>& config,
                                        const std::string& version);

// One moment of the simulated fuse's measurements.
struct Measurements {
  std::array<uint16_t, 4> present{};  // hundredths of an ampere
  std::array<uint16_t, 4> highest{};
  uint16_t uin = 2400;  // hundredths of a volt
  uint16_t uinMin = 2400;
  uint8_t channelBits = 0;
  uint8_t supplyBits = 0;
  std::array<uint8_t, 4> rated{};  // whole amperes
  uint16_t counter = 0;
};
// A status telegram of `model` carrying `m`, framed with 0xE4 ... 0xE4 0x16. The
// uninterpreted counter bytes are chosen so that no end pair appears inside the payload.
std::vector<uint8_t> statusTelegram(uint8_t model, const Measurements& m);

// A simulated "Zokara Electronic Fuse" on a pseudo-terminal. It sends status telegrams
// at the pace of a 9600-baud line, answers the read request 0xFF 0xFC with its
// configuration reply and a write telegram 0xFF 0xF3 ... with its acknowledgement, and
// keeps what was written. Runs on a thread of its own.
class DeviceSimulator {
 public:
  struct Options {
    uint8_t model = 0x17;
    bool paced = true;  // 9600-baud pacing; off delivers each telegram at once
    int telegramIntervalMs = 100;
    unsigned faults = 0;
    uint32_t seed = 1;
    std::string version = "1.07";
  };

  explicit DeviceSimulator(Options options);
  DeviceSimulator() : DeviceSimulator(Options{}) {}
  ~DeviceSimulator();
  DeviceSimulator(const DeviceSimulator&) = delete;
  DeviceSimulator& operator=(const DeviceSimulator&) = delete;

  bool start();
  void stop();
  // The pseudo-terminal's device path, the end the tool opens.
  std::string slavePath() const { return slavePath_; }

  void setFaults(unsigned faults) { faults_ = faults; }
  void setFault(Fault fault, bool on);
  unsigned faults() const { return faults_; }

  // Switches the simulated model; the configuration goes back to its factory state.
  void setModel(uint8_t type);
  uint8_t model() const;
  std::vector<uint8_t> configuration() const;
  void setConfiguration(const std::vector<uint8_t>& config);

  // Every complete request the device received, in order.
  std::vector<std::vector<uint8_t>> requests() const;
  void clearRequests();
  // Queues bytes for the line as they are, behind what is already queued.
  void sendRaw(const std::vector<uint8_t>& bytes);
  uint64_t telegramsSent() const { return telegramsSent_; }

 private:
  using Clock = std::chrono::steady_clock;
  struct OutByte {
    uint8_t value;
    bool status;  // part of a status telegram (dropped when a port opens)
    std::chrono::microseconds pauseBefore{0};
  };

  void run();
  void onInput(const uint8_t* data, std::size_t n, Clock::time_point now);
  void onPortFlushed(Clock::time_point now);
  void handleRequests(Clock::time_point now);
  void answer(std::vector<uint8_t> reply, Clock::time_point now);
  bool flushOutput(Clock::time_point now);
  Measurements measure(Clock::time_point now);
  bool pollInput(int timeoutMs);

  Options options_;
  std::atomic<unsigned> faults_;
  int master_ = -1;
  int slaveKeepAlive_ = -1;
  std::string slavePath_;
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<uint64_t> telegramsSent_{0};

  mutable std::mutex mutex_;  // guards the fields below
  uint8_t model_;
  std::vector<uint8_t> config_;
  std::vector<std::vector<uint8_t>> requests_;
  std::vector<uint8_t> injected_;

  // Thread-only state.
  std::vector<OutByte> out_;
  std::size_t outPos_ = 0;
  std::vector<uint8_t> rx_;
  Clock::time_point rxSince_;
  Clock::time_point nextByteDue_;
  Clock::time_point nextTelegramDue_;
  Clock::time_point quietUntil_;
  Clock::time_point started_;
  Measurements tracked_;
  uint32_t rng_;
};

}  // namespace zfuse::sim
