#include "tools/devicesim.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>

#include "config/parameterset.h"
#include "link/frameassembler.h"
#include "monitor/statustelegram.h"

namespace zfuse::sim {

namespace {
using namespace std::chrono_literals;

// 10 bits a byte (start, 8 data, stop) at 9600 baud.
constexpr auto kByteTime = std::chrono::microseconds(1042);
// A port that was opened and flushed waits for a request: no status for a while.
constexpr auto kQuietAfterFlush = 300ms;
// After a reply the line stays quiet well past the tool's 80 ms end-of-reply gap.
constexpr auto kQuietAfterReply = 200ms;
constexpr auto kReplyDelay = 2ms;
constexpr auto kGapFaultPause = 120ms;
constexpr auto kRequestTimeout = 100ms;

bool isStandard(uint8_t model) {
  return model == kTypeStandard;
}

std::size_t writeLength(uint8_t model) {
  return isStandard(model) ? kStandardWriteLength : kZokxWriteLength;
}

uint8_t maxCurrent(uint8_t model) {
  switch (model) {
    case kType2ch6A:
    case kType4ch6A:
      return 6;
    case kTypeStandard:
      return 8;
    default:
      return 10;
  }
}

int channelsOf(uint8_t model) {
  return model == kType4ch10A || model == kType4ch6A ? 4 : 2;
}

uint8_t nextRandom(uint32_t& state) {
  state = state * 1664525u + 1013904223u;
  return static_cast<uint8_t>(state >> 24);
}
}  // namespace

const std::vector<std::pair<std::string, Fault>>& allFaults() {
  static const std::vector<std::pair<std::string, Fault>> faults = {
      {"silence", kSilence},        {"noise", kNoise},       {"checksum", kBadChecksum},
      {"short", kShortReply},       {"gap", kReplyGap},      {"ack", kBadAck},
      {"long", kLongReply},         {"noanswer", kNoAnswer}, {"keepsold", kKeepsOld},
      {"storesother", kStoresOther}};
  return faults;
}

std::optional<Fault> faultByName(const std::string& name) {
  for (const auto& [n, f] : allFaults()) {
    if (n == name) return f;
  }
  return std::nullopt;
}

std::string faultNames(unsigned faults) {
  std::string s;
  for (const auto& [n, f] : allFaults()) {
    if (faults & f) s += (s.empty() ? "" : " ") + n;
  }
  return s.empty() ? "none" : s;
}

std::optional<uint8_t> modelByName(const std::string& name) {
  if (const auto type = zfuse::modelOfName(name.c_str())) return type;
  try {
    std::size_t used = 0;
    const int value = std::stoi(name, &used, 0);
    if (used == name.size() && value >= 0 && value < 256 &&
        isModelType(static_cast<uint8_t>(value))) {
      return static_cast<uint8_t>(value);
    }
  } catch (...) {
  }
  return std::nullopt;
}

std::string modelName(uint8_t type) {
  const std::string name = zfuse::modelName(type);
  return name.empty() ? "unknown" : name;
}

std::vector<uint8_t> factoryConfiguration(uint8_t model) {
  // The configuration bytes of the write telegram the dialog's default button builds.
  const uint8_t threshold = thresholdTenthsAt(kFactoryThresholdIndex);
  const std::vector<uint8_t> t = isStandard(model)
                                     ? encodeStandardWrite(standardFactorySet(), threshold)
                                     : encodeZokxWrite(zokxFactorySet(model), threshold);
  return std::vector<uint8_t>(t.begin() + 2, t.end() - 3);
}

std::vector<uint8_t> configurationReply(uint8_t model, const std::vector<uint8_t>& config,
                                        const std::string& version) {
  std::vector<uint8_t> r = {0xE4, model};
  r.insert(r.end(), config.begin(), config.end());
  for (std::size_t i = 0; i < 4; ++i) {
    r.push_back(static_cast<uint8_t>(i < version.size() ? version[i] : ' '));
  }
  // Bytes the tool does not interpret, up to the check byte (28 standard, 26 variant).
  const std::size_t checkAt = isStandard(model) ? 28 : 26;
  while (r.size() < checkAt) r.push_back(static_cast<uint8_t>(r.size()));
  r.push_back(xorBytes(r.data(), 2, checkAt - 1));
  r.push_back(0xE4);
  r.push_back(0x16);
  return r;
}

std::vector<uint8_t> statusTelegram(uint8_t model, const Measurements& m) {
  std::vector<uint8_t> t(31);
  t[0] = 0xE4;
  t[1] = model;
  t[2] = m.channelBits;
  t[3] = m.supplyBits;
  auto put = [&](std::size_t at, uint16_t v) {
    t[at] = static_cast<uint8_t>(v >> 8);
    t[at + 1] = static_cast<uint8_t>(v);
  };
  for (std::size_t ch = 0; ch < 4; ++ch) {
    put(4 + 2 * ch, m.present[ch]);
    put(12 + 2 * ch, m.highest[ch]);
  }
  put(20, m.uin);
  put(22, m.uinMin);
  t[24] = packPositions(m.rated[0], m.rated[1]);
  t[25] = packPositions(m.rated[2], m.rated[3]);
  uint16_t counter = m.counter;
  for (int attempt = 0; attempt < 0x10000; ++attempt) {
    put(26, counter);
    t[28] = xorBytes(t.data(), 2, 27);
    bool endPairInside = false;
    for (std::size_t i = 2; i + 1 <= 28; ++i) {
      if (t[i] == 0xE4 && (t[i + 1] == 0x16 || t[i + 1] == 0x18)) endPairInside = true;
    }
    if (!endPairInside) break;
    ++counter;
  }
  t[29] = 0xE4;
  t[30] = 0x16;
  return t;
}

DeviceSimulator::DeviceSimulator(Options options)
    : options_(std::move(options)),
      faults_(options_.faults),
      model_(options_.model),
      config_(factoryConfiguration(options_.model)),
      rng_(options_.seed) {}

DeviceSimulator::~DeviceSimulator() {
  stop();
}

bool DeviceSimulator::start() {
  if (running_) return true;
  termios raw{};
  cfmakeraw(&raw);
  cfsetispeed(&raw, B9600);
  cfsetospeed(&raw, B9600);
  char name[256] = {};
  if (openpty(&master_, &slaveKeepAlive_, name, &raw, nullptr) != 0) return false;
  slavePath_ = name;
  // Packet mode tells the device when the tool flushes its receive queue, that is when
  // a port has just been opened and waits for an answer.
  int on = 1;
  ioctl(master_, TIOCPKT, &on);
  fcntl(master_, F_SETFL, fcntl(master_, F_GETFL) | O_NONBLOCK);
  started_ = Clock::now();
  nextTelegramDue_ = started_;
  quietUntil_ = started_;
  nextByteDue_ = started_;
  running_ = true;
  thread_ = std::thread([this] { run(); });
  return true;
}

void DeviceSimulator::stop() {
  if (!running_.exchange(false)) return;
  if (thread_.joinable()) thread_.join();
  ::close(master_);
  ::close(slaveKeepAlive_);
  master_ = slaveKeepAlive_ = -1;
}

void DeviceSimulator::setFault(Fault fault, bool on) {
  if (on) {
    faults_ |= fault;
  } else {
    faults_ &= ~static_cast<unsigned>(fault);
  }
}

void DeviceSimulator::setModel(uint8_t type) {
  std::lock_guard lock(mutex_);
  model_ = type;
  config_ = factoryConfiguration(type);
}

uint8_t DeviceSimulator::model() const {
  std::lock_guard lock(mutex_);
  return model_;
}

std::vector<uint8_t> DeviceSimulator::configuration() const {
  std::lock_guard lock(mutex_);
  return config_;
}

void DeviceSimulator::setConfiguration(const std::vector<uint8_t>& config) {
  std::lock_guard lock(mutex_);
  config_ = config;
}

std::vector<std::vector<uint8_t>> DeviceSimulator::requests() const {
  std::lock_guard lock(mutex_);
  return requests_;
}

void DeviceSimulator::clearRequests() {
  std::lock_guard lock(mutex_);
  requests_.clear();
}

void DeviceSimulator::sendRaw(const std::vector<uint8_t>& bytes) {
  std::lock_guard lock(mutex_);
  injected_.insert(injected_.end(), bytes.begin(), bytes.end());
}

Measurements DeviceSimulator::measure(Clock::time_point now) {
  const double t = std::chrono::duration<double>(now - started_).count();
  uint8_t model;
  std::vector<uint8_t> config;
  {
    std::lock_guard lock(mutex_);
    model = model_;
    config = config_;
  }
  Measurements& m = tracked_;
  m.rated = {static_cast<uint8_t>(config[0] & 0x0F), static_cast<uint8_t>(config[0] >> 4),
             static_cast<uint8_t>(config[1] & 0x0F), static_cast<uint8_t>(config[1] >> 4)};
  m.channelBits = 0;
  const int channels = channelsOf(model);
  for (int ch = 0; ch < 4; ++ch) {
    const double rated = std::min<int>(m.rated[ch], maxCurrent(model));
    if (ch >= channels || rated <= 0) {
      m.present[ch] = 0;
      continue;
    }
    // Each channel's load swells towards its rated current and back; every second
    // swell of a channel overshoots, and the channel trips for three seconds.
    const double period = 12.0 + 4.0 * ch;
    const double phase = std::fmod(t + 3.5 * ch, 2 * period);
    const bool overshoot = phase >= period;
    const double swell = 0.5 - 0.5 * std::cos(2 * M_PI * std::fmod(phase, period) / period);
    const double load = 0.30 + (overshoot ? 0.80 : 0.62) * swell;
    const bool tripped = overshoot && std::fmod(phase, period) > period / 2 &&
                         std::fmod(phase, period) < period / 2 + 3.0;
    const auto bit = static_cast<uint8_t>(1u << (2 * ch));
    if (tripped) {
      m.present[ch] = 0;
      m.channelBits |= static_cast<uint8_t>(bit << 1);
    } else {
      m.present[ch] = static_cast<uint16_t>(std::lround(load * rated * 100.0));
      if (load >= 0.9) m.channelBits |= bit;
    }
    m.highest[ch] = std::max(m.highest[ch], m.present[ch]);
  }
  // The input sags below the power-good threshold for two seconds every fifteen, and
  // reports a hardware fault for one second a minute.
  const double cycle = std::fmod(t, 15.0);
  const double threshold = config[2];  // byte 4 of either layout, tenths of a volt
  const double ripple = 3.0 * std::sin(t * 7.0);
  m.uin = static_cast<uint16_t>(std::lround(
      cycle > 10.0 && cycle < 12.0 ? threshold * 10.0 - 90.0 + ripple : 2400.0 + ripple));
  m.uinMin = (m.counter == 0) ? m.uin : std::min(m.uinMin, m.uin);
  m.supplyBits =
      static_cast<uint8_t>((m.uin < threshold * 10.0 ? 0x01 : 0x00) |
                           (std::fmod(t, 60.0) > 40.0 && std::fmod(t, 60.0) < 41.0 ? 0x02 : 0x00));
  ++m.counter;
  return m;
}

bool DeviceSimulator::pollInput(int timeoutMs) {
  pollfd p{master_, POLLIN | POLLPRI, 0};
  if (::poll(&p, 1, timeoutMs) <= 0) return false;
  uint8_t buffer[512];
  const ssize_t n = ::read(master_, buffer, sizeof buffer);
  if (n <= 0) return false;
  const auto now = Clock::now();
  if (buffer[0] == TIOCPKT_DATA) {
    onInput(buffer + 1, static_cast<std::size_t>(n - 1), now);
  } else if (buffer[0] & TIOCPKT_FLUSHREAD) {
    onPortFlushed(now);
  }
  return true;
}

void DeviceSimulator::onPortFlushed(Clock::time_point now) {
  // Whatever is left of a status telegram would land in front of the reply.
  std::vector<OutByte> keep;
  for (std::size_t i = outPos_; i < out_.size(); ++i) {
    if (!out_[i].status) keep.push_back(out_[i]);
  }
  out_ = std::move(keep);
  outPos_ = 0;
  quietUntil_ = std::max(quietUntil_, now + kQuietAfterFlush);
}

void DeviceSimulator::onInput(const uint8_t* data, std::size_t n, Clock::time_point now) {
  if (rx_.empty()) rxSince_ = now;
  rx_.insert(rx_.end(), data, data + n);
  handleRequests(now);
}

void DeviceSimulator::handleRequests(Clock::time_point now) {
  for (;;) {
    while (!rx_.empty() && rx_[0] != kRequestLead) rx_.erase(rx_.begin());
    if (rx_.size() < 2) return;
    const uint8_t model = this->model();
    if (rx_[1] == kRequestRead) {
      {
        std::lock_guard lock(mutex_);
        requests_.push_back({rx_[0], rx_[1]});
      }
      rx_.erase(rx_.begin(), rx_.begin() + 2);
      std::vector<uint8_t> reply = configurationReply(model, configuration(), options_.version);
      const unsigned faults = faults_;
      if (faults & kBadChecksum) reply[isStandard(model) ? 28 : 26] ^= 0x5A;
      if (faults & kShortReply) reply.resize(20);
      answer(std::move(reply), now);
    } else if (rx_[1] == kRequestWrite) {
      const std::size_t length = writeLength(model);
      if (rx_.size() < length) return;
      std::vector<uint8_t> telegram(rx_.begin(), rx_.begin() + static_cast<long>(length));
      rx_.erase(rx_.begin(), rx_.begin() + static_cast<long>(length));
      {
        std::lock_guard lock(mutex_);
        requests_.push_back(telegram);
      }
      const uint8_t check = telegram[length - 1];
      const bool good = xorBytes(telegram.data(), 2, length - 2) == check &&
                        telegram[length - 3] == kWriteTrailerA &&
                        telegram[length - 2] == kWriteTrailerB;
      if (good && !(faults_ & kKeepsOld)) {
        std::vector<uint8_t> stored(telegram.begin() + 2, telegram.end() - 3);
        // The first event byte follows the two current bytes and the threshold.
        if (faults_ & kStoresOther) stored[3] ^= 0x01;
        setConfiguration(std::move(stored));
      }
      const bool ack = good && !(faults_ & kBadAck);
      answer({static_cast<uint8_t>(ack ? check : check ^ 0xFF)}, now);
    } else {
      rx_.erase(rx_.begin());
    }
  }
}

void DeviceSimulator::answer(std::vector<uint8_t> reply, Clock::time_point now) {
  const unsigned faults = faults_;
  if (faults & kNoAnswer) return;
  if (faults & kLongReply) {
    while (reply.size() < 60) reply.push_back(static_cast<uint8_t>(0xA0 + reply.size() % 16));
  }
  onPortFlushed(now);  // no status telegram in the middle of an answer
  bool first = true;
  for (std::size_t i = 0; i < reply.size(); ++i) {
    OutByte b{reply[i], false, std::chrono::microseconds(0)};
    if (first) b.pauseBefore = kReplyDelay;
    if ((faults & kReplyGap) && i == 10) b.pauseBefore = kGapFaultPause;
    out_.push_back(b);
    first = false;
  }
  const auto length =
      options_.paced ? kByteTime * static_cast<long>(reply.size()) : std::chrono::microseconds(0);
  quietUntil_ =
      now + kReplyDelay + length + ((faults & kReplyGap) ? kGapFaultPause : 0ms) + kQuietAfterReply;
}

bool DeviceSimulator::flushOutput(Clock::time_point now) {
  bool wrote = false;
  while (outPos_ < out_.size()) {
    OutByte& b = out_[outPos_];
    if (b.pauseBefore.count() > 0) {
      nextByteDue_ = std::max(nextByteDue_, now) + b.pauseBefore;
      b.pauseBefore = std::chrono::microseconds(0);
    }
    if (now < nextByteDue_) break;
    if (b.status && pollInput(0)) return true;  // a port may just have been flushed
    if (::write(master_, &b.value, 1) == 1 || errno == EAGAIN) ++outPos_;
    wrote = true;
    if (options_.paced) {
      // Catch up after a late wake-up, but never send faster than the line allows.
      nextByteDue_ = std::max(nextByteDue_ + kByteTime, now);
      break;
    }
  }
  if (outPos_ >= out_.size()) {
    out_.clear();
    outPos_ = 0;
  }
  return wrote;
}

void DeviceSimulator::run() {
  while (running_) {
    auto now = Clock::now();
    {
      std::lock_guard lock(mutex_);
      for (uint8_t b : injected_) out_.push_back({b, false, std::chrono::microseconds(0)});
      injected_.clear();
    }
    if (!rx_.empty() && now - rxSince_ > kRequestTimeout) rx_.clear();  // broken request
    if (out_.empty() && now >= nextTelegramDue_ && now >= quietUntil_) {
      nextTelegramDue_ = now + std::chrono::milliseconds(options_.telegramIntervalMs);
      const unsigned faults = faults_;
      const Measurements m = measure(now);
      if (!(faults & kSilence)) {
        std::vector<uint8_t> t = statusTelegram(model(), m);
        if (faults & kBadChecksum) t[28] ^= 0x5A;
        for (uint8_t b : t) out_.push_back({b, true, std::chrono::microseconds(0)});
        ++telegramsSent_;
      }
      if (faults & kNoise) {
        const int count = 3 + nextRandom(rng_) % 8;
        for (int i = 0; i < count; ++i) {
          uint8_t b = nextRandom(rng_);
          if (b == 0xE4) b = 0x00;  // noise never looks like a start byte
          out_.push_back({b, true, std::chrono::microseconds(0)});
        }
      }
    }
    if (flushOutput(now)) continue;
    // Sleep until the next byte is due, a request arrives, or the next telegram.
    auto wake = now + 20ms;
    if (!out_.empty()) wake = std::min(wake, nextByteDue_);
    wake = std::min(wake, std::max(nextTelegramDue_, quietUntil_));
    const auto wait = std::chrono::duration_cast<std::chrono::microseconds>(wake - Clock::now());
    if (wait.count() <= 0) continue;
    if (wait < 2ms) {
      // poll() sleeps in whole milliseconds; short waits are slept precisely.
      if (!pollInput(0)) std::this_thread::sleep_for(wait);
    } else {
      pollInput(static_cast<int>(wait.count() / 1000));
    }
  }
}

}  // namespace zfuse::sim
