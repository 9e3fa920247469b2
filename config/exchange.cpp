#include "config/exchange.h"

#include <QElapsedTimer>
#include <QThread>

#include "link/command.h"
#include "link/frameassembler.h"
#include "monitor/statustelegram.h"

namespace zfuse {

QByteArray readRequest() {
  return QByteArray::fromRawData("\xFF\xFC", 2);
}

bool acknowledges(const QByteArray& reply, const std::vector<uint8_t>& telegram) {
  return !reply.isEmpty() && !telegram.empty() && static_cast<uint8_t>(reply[0]) == telegram.back();
}

QByteArray TransactionLine::exchange(const QByteArray& request, ReplyKind) {
  return command(port_, request);
}

namespace {
// The reply's first byte must come within 260 ms of the request; inside a reply no
// pause is longer than 80 ms. A write takes 30 ms at the most.
constexpr LineTimeouts kReplyTimeouts{80, 0, 260, 0, 30};
// After a complete reply: a byte that follows within this pause belongs to it.
constexpr LineTimeouts kRunOnTimeouts{0, 0, 5, 0, 30};
}  // namespace

std::size_t configurationReplyLength(uint8_t type) {
  const ModelFacts* m = modelFacts(type);
  return m ? m->replyLength : 0;
}

bool HeldLine::open(const QString& port) {
  if (!line_->open(port)) return false;
  line_->setTimeouts(kReplyTimeouts);
  return true;
}

void HeldLine::close() {
  line_->close();
}

QByteArray HeldLine::readToGap(QByteArray reply) {
  line_->setTimeouts(kReplyTimeouts);
  while (reply.size() <= kCommandReplyMax) {
    const QByteArray more = line_->read(kCommandReplyMax + 1 - static_cast<int>(reply.size()));
    if (more.isEmpty()) break;
    reply += more;
  }
  return reply;
}

QByteArray HeldLine::exchange(const QByteArray& request, ReplyKind kind) {
  if (!line_->isOpen()) return {};
  // Status telegram bytes that came in since the last exchange must not pass for a reply.
  line_->clearInput();
  line_->setTimeouts(kReplyTimeouts);
  if (!request.isEmpty() && line_->write(request) != request.size()) return {};
  if (kind == ReplyKind::Acknowledgement) return line_->read(1);

  QByteArray reply = line_->read(2);
  if (reply.size() < 2) return reply;
  const std::size_t length = configurationReplyLength(static_cast<uint8_t>(reply[1]));
  if (length == 0 || static_cast<uint8_t>(reply[0]) != 0xE4) return readToGap(reply);
  reply += line_->read(static_cast<int>(length) - 2);
  if (reply.size() < static_cast<qsizetype>(length)) return reply;  // short or gapped
  // The end pair and anything else directly behind the reply; more than the 50 bytes a
  // reply has at most means a device that runs on, and the reply is not taken.
  line_->setTimeouts(kRunOnTimeouts);
  for (;;) {
    const QByteArray more = line_->read(kCommandReplyMax + 1 - static_cast<int>(reply.size()));
    if (more.isEmpty()) break;
    reply += more;
    if (reply.size() > kCommandReplyMax) return readToGap(reply);
  }
  return reply;
}

std::optional<std::vector<uint8_t>> HeldLine::hearStatus(int milliseconds) {
  std::optional<std::vector<uint8_t>> status;
  FrameAssembler assembler([&status](const std::vector<uint8_t>& frame) {
    if (!status && checkStatusTelegram(frame) == StatusCheck::Good) status = frame;
  });
  QElapsedTimer clock;
  clock.start();
  while (!status && line_->isOpen() && clock.elapsed() < milliseconds) {
    const auto left = static_cast<uint32_t>(milliseconds - clock.elapsed());
    line_->setTimeouts({0, 0, std::min<uint32_t>(left, 50), 0, 30});
    const QByteArray bytes = line_->read(64);
    assembler.feed(reinterpret_cast<const uint8_t*>(bytes.constData()),
                   static_cast<std::size_t>(bytes.size()));
  }
  line_->setTimeouts(kReplyTimeouts);
  return status;
}

ConfigExchange::ConfigExchange(ExchangeLine& line, RetryPolicy policy,
                               const std::atomic<bool>* stop)
    : line_(line), policy_(policy), stop_(stop) {}

std::optional<DeviceConfiguration> ConfigExchange::readOnce() {
  lastReply_ = line_.exchange(readRequest(), ReplyKind::Configuration);
  if (lastReply_.size() > kCommandReplyMax) return std::nullopt;
  return configurationOfReply({lastReply_.begin(), lastReply_.end()});
}

bool ConfigExchange::writeOnce(const std::vector<uint8_t>& telegram) {
  lastReply_ = line_.exchange(QByteArray(reinterpret_cast<const char*>(telegram.data()),
                                         static_cast<qsizetype>(telegram.size())),
                              ReplyKind::Acknowledgement);
  return acknowledges(lastReply_, telegram);
}

template <class Attempt>
bool ConfigExchange::withRetries(Attempt attempt) {
  attempts_ = 0;
  for (;;) {
    if (stopped()) return false;
    ++attempts_;
    if (attempt()) return true;
    if (attempts_ > policy_.retries) return false;
    // Waits in short steps so that a stop is seen at once.
    for (int waited = 0; waited < policy_.intervalMs && !stopped(); waited += 10) {
      QThread::msleep(static_cast<unsigned long>(std::min(10, policy_.intervalMs - waited)));
    }
  }
}

std::optional<DeviceConfiguration> ConfigExchange::read() {
  std::optional<DeviceConfiguration> config;
  withRetries([&] { return (config = readOnce()).has_value(); });
  return config;
}

bool ConfigExchange::write(const std::vector<uint8_t>& telegram) {
  return withRetries([&] { return writeOnce(telegram); });
}

}  // namespace zfuse
