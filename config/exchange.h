#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "config/deviceconfig.h"
#include "link/serialline.h"

namespace zfuse {

// The configuration exchange with a fuse: the read request and its configuration reply,
// the write telegram and its acknowledgement, and the retries of a failed attempt.

// A failed attempt is tried again every 500 ms, twelve times at the most.
constexpr int kRetryPeriodMs = 500;
constexpr int kRetryLimit = 12;

// The read request, the same for every model.
QByteArray readRequest();
// A write is acknowledged with the telegram's check byte as the reply's first byte.
bool acknowledges(const QByteArray& reply, const std::vector<uint8_t>& telegram);

// What a request is answered with.
enum class ReplyKind { Configuration, Acknowledgement };

// How the bytes of one exchange travel.
class ExchangeLine {
 public:
  virtual ~ExchangeLine() = default;
  // Sends `request` and returns the reply; empty or short when the device failed.
  virtual QByteArray exchange(const QByteArray& request, ReplyKind kind) = 0;
};

// The dialogs' way: every exchange is one command transaction on the named port (open,
// write, one read that ends 80 ms after the last byte, close).
class TransactionLine : public ExchangeLine {
 public:
  explicit TransactionLine(QString port) : port_(std::move(port)) {}
  QByteArray exchange(const QByteArray& request, ReplyKind kind) override;

 private:
  QString port_;
};

// The command line's way: the port stays open (and locked) for the whole run. Input
// left over is dropped before each request, and a reply ends as soon as it is complete:
// the acknowledgement after one byte, a configuration reply after the length its type
// byte gives. A reply that runs on past 50 bytes, or whose type byte gives no length,
// is read to its end (80 ms without a byte) and fails.
class HeldLine : public ExchangeLine {
 public:
  explicit HeldLine(std::unique_ptr<SerialLine> line) : line_(std::move(line)) {}
  bool open(const QString& port);
  void close();
  QByteArray exchange(const QByteArray& request, ReplyKind kind) override;
  // Listens for up to `milliseconds` and gives the first status telegram with a good
  // check byte, framed as it came; nothing is sent.
  std::optional<std::vector<uint8_t>> hearStatus(int milliseconds);

 private:
  QByteArray readToGap(QByteArray reply);

  std::unique_ptr<SerialLine> line_;
};

// The length a complete configuration reply of a type byte has: 30 for the standard
// model, 27 for the fuse variants, 0 for any other byte.
std::size_t configurationReplyLength(uint8_t type);

// How often and how far apart a command-line exchange is tried: the first attempt and
// `retries` more, `intervalMs` apart.
struct RetryPolicy {
  int retries = kRetryLimit;
  int intervalMs = kRetryPeriodMs;
};

// Read and write with retries, for programs without windows: each call blocks until it
// succeeds, the attempts run out, or `stop` is set (checked between attempts and while
// waiting). The dialogs make single attempts on their own timer's ticks instead.
class ConfigExchange {
 public:
  ConfigExchange(ExchangeLine& line, RetryPolicy policy, const std::atomic<bool>* stop = nullptr);

  // One attempt each.
  std::optional<DeviceConfiguration> readOnce();
  bool writeOnce(const std::vector<uint8_t>& telegram);

  std::optional<DeviceConfiguration> read();
  bool write(const std::vector<uint8_t>& telegram);

  // The reply of the last exchange, as it came.
  const QByteArray& lastReply() const { return lastReply_; }
  // Attempts made by the last read or write.
  int attempts() const { return attempts_; }
  bool stopped() const { return stop_ && stop_->load(); }

 private:
  template <class Attempt>
  bool withRetries(Attempt attempt);

  ExchangeLine& line_;
  RetryPolicy policy_;
  const std::atomic<bool>* stop_;
  QByteArray lastReply_;
  int attempts_ = 0;
};

}  // namespace zfuse
