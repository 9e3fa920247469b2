#pragma once

#include <QHostAddress>
#include <QString>
#include <QThread>
#include <memory>

class QHttpServer;

namespace zfuse::ctl {

class MetricsStore;

// Serves the store's metrics on GET /metrics (the Prometheus text format) from a thread
// of its own, so that a scrape, however slow the scraper, never holds up the serial side.
class MetricsServer {
 public:
  explicit MetricsServer(std::shared_ptr<const MetricsStore> store);
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens on `address`:`port`; false, with the system's reason in `error`, when that
  // address cannot be had (the port is in use, the address is not this machine's ...).
  bool listen(const QHostAddress& address, quint16 port, QString* error);

 private:
  std::shared_ptr<const MetricsStore> store_;
  QThread thread_;
  QObject* context_ = nullptr;  // lives on thread_
  QHttpServer* server_ = nullptr;
};

}  // namespace zfuse::ctl
