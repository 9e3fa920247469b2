#include "ctl/metricsserver.h"

#include <QHttpServer>
#include <QHttpServerResponse>
#include <QTcpServer>

#include "ctl/metrics.h"

namespace zfuse::ctl {

MetricsServer::MetricsServer(std::shared_ptr<const MetricsStore> store) : store_(std::move(store)) {
  thread_.setObjectName(QStringLiteral("metrics"));
  thread_.start();
  context_ = new QObject;
  context_->moveToThread(&thread_);
}

MetricsServer::~MetricsServer() {
  QMetaObject::invokeMethod(
      context_,
      [this] {
        delete server_;
        delete context_;
      },
      Qt::BlockingQueuedConnection);
  thread_.quit();
  thread_.wait();
}

bool MetricsServer::listen(const QHostAddress& address, quint16 port, QString* error) {
  bool listening = false;
  QMetaObject::invokeMethod(
      context_,
      [&] {
        auto tcp = std::make_unique<QTcpServer>();
        if (!tcp->listen(address, port)) {
          *error = tcp->errorString();
          return;
        }
        if (server_ == nullptr) {
          server_ = new QHttpServer;
          server_->route(QStringLiteral("/metrics"), [store = store_] {
            return QHttpServerResponse(
                QByteArrayLiteral("text/plain; version=0.0.4; charset=utf-8"),
                renderMetrics(store->snapshot()));
          });
        }
        tcp->setParent(server_);
        server_->bind(tcp.release());
        listening = true;
      },
      Qt::BlockingQueuedConnection);
  return listening;
}

}  // namespace zfuse::ctl
