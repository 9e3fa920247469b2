// zfusectl status --metrics against the real Prometheus (Debian's prometheus and its
// promtool): Prometheus scrapes simulated fuses through zfusectl every half second and
// its query API shows each device's values as the fuse sent them; a trip appears in
// the next scrapes; promtool accepts the page and the documented alert rules. Also the
// address rules and a port in use.

#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QProcess>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTimer>
#include <QUrlQuery>
#include <functional>
#include <map>
#include <memory>

#include "monitor/statustelegram.h"
#include "tests/support/zfusectl_fixture.h"
#include "tools/devicesim.h"

namespace zfuse {
namespace {

// A port on the loopback address that nothing listens on now.
quint16 freePort() {
  QTcpServer s;
  s.listen(QHostAddress::LocalHost, 0);
  return s.serverPort();
}

// GET `url` (running Qt's events meanwhile); the body, or nothing on any failure.
std::optional<QByteArray> get(const QString& url) {
  QNetworkAccessManager net;
  QNetworkRequest request{QUrl(url)};
  request.setTransferTimeout(5000);
  std::unique_ptr<QNetworkReply> reply(net.get(request));
  QEventLoop loop;
  QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
  loop.exec();
  if (reply->error() != QNetworkReply::NoError) return std::nullopt;
  return reply->readAll();
}

// Runs Qt's events until `done` holds or `ms` have passed.
bool waitUntil(const std::function<bool()>& done, int ms) {
  QElapsedTimer t;
  t.start();
  while (!done()) {
    if (t.elapsed() > ms) return false;
    QEventLoop loop;
    QTimer::singleShot(100, &loop, &QEventLoop::quit);
    loop.exec();
  }
  return true;
}

// Prometheus on a free loopback port, with its storage in a temporary folder, scraping
// `target` every half second.
class Prometheus {
 public:
  explicit Prometheus(quint16 target) : port_(freePort()) {
    QFile config(dir_.filePath("prometheus.yml"));
    EXPECT_TRUE(config.open(QIODevice::WriteOnly));
    config.write(QStringLiteral("global:\n"
                                "  scrape_interval: 500ms\n"
                                "  scrape_timeout: 400ms\n"
                                "scrape_configs:\n"
                                "  - job_name: zfuse\n"
                                "    static_configs:\n"
                                "      - targets: ['127.0.0.1:%1']\n")
                     .arg(target)
                     .toUtf8());
    config.close();
    process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process_.start("prometheus", {"--config.file=" + dir_.filePath("prometheus.yml"),
                                  "--storage.tsdb.path=" + dir_.filePath("data"),
                                  QStringLiteral("--web.listen-address=127.0.0.1:%1").arg(port_),
                                  "--log.level=warn"});
  }
  ~Prometheus() {
    process_.terminate();
    if (!process_.waitForFinished(10000)) process_.kill();
    process_.waitForFinished();
  }
  bool ready() {
    return waitUntil([this] { return get(url("/-/ready")).has_value(); }, 30000);
  }
  // The instant query's samples as device/channel -> value ("a" or "a/2").
  std::map<QString, double> query(const QString& promql) {
    QUrlQuery q;
    q.addQueryItem("query", promql);
    std::map<QString, double> values;
    const auto body = get(url("/api/v1/query?" + q.toString(QUrl::FullyEncoded)));
    if (!body) return values;
    for (const QJsonValue& r :
         QJsonDocument::fromJson(*body)["data"].toObject()["result"].toArray()) {
      const QJsonObject metric = r["metric"].toObject();
      QString key = metric["device"].toString();
      if (metric.contains("channel")) key += '/' + metric["channel"].toString();
      values[key] = r["value"].toArray()[1].toString().toDouble();
    }
    return values;
  }

 private:
  QString url(const QString& path) const {
    return QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
  }
  QTemporaryDir dir_;
  quint16 port_;
  QProcess process_;
};

class ZfusectlMetrics : public test::ZfusectlFixture {
 protected:
  void TearDown() override {
    if (zfusectl) {
      zfusectl->terminate();
      zfusectl->waitForFinished(10000);
    }
    ZfusectlFixture::TearDown();
  }
  std::unique_ptr<QProcess> zfusectl;
};

// Known measurements, different for each device.
sim::Measurements measurements(int device) {
  sim::Measurements m;
  m.rated = {10, 6, 4, 0};  // channel 4 switched off
  m.present = {static_cast<uint16_t>(512 + device), 300, 0, 0};
  m.highest = {900, 310, 5, 0};
  m.uin = static_cast<uint16_t>(2398 + device);
  m.uinMin = 2210;
  return m;
}

TEST_F(ZfusectlMetrics, PrometheusScrapesWhatTheFusesSentAndSeesATrip) {
  // Silent fuses: the telegrams are only those the test sends, every 100 ms.
  const uint8_t models[] = {kType4ch10A, kType2ch10A};
  startDevice(models[0], sim::kSilence, "COM1");
  startDevice(models[1], sim::kSilence, "COM2");
  sim::DeviceSimulator* fuses[] = {device.get(), others["COM2"].get()};
  sim::Measurements sent[] = {measurements(0), measurements(1)};
  QTimer sender;
  QObject::connect(&sender, &QTimer::timeout, [&] {
    for (int i = 0; i < 2; ++i) fuses[i]->sendRaw(sim::statusTelegram(models[i], sent[i]));
  });
  sender.start(100);

  const quint16 port = freePort();
  zfusectl = std::make_unique<QProcess>();
  zfusectl->start(ZFUSECTL_BINARY,
                  {"status", "--port", "COM1", "--port", "COM2", "--device-id", "line7",
                   "--device-id", "line8", "--metrics", QString::number(port)});
  ASSERT_TRUE(zfusectl->waitForStarted());
  Prometheus prometheus(port);
  ASSERT_TRUE(prometheus.ready());

  // Every device's values, as Prometheus stored them, equal what its fuse sent.
  const std::map<QString, std::map<QString, double>> expected = {
      {"zfuse_up", {{"line7", 1}, {"line8", 1}}},
      {"zfuse_input_voltage_volts", {{"line7", 23.98}, {"line8", 23.99}}},
      {"zfuse_input_voltage_minimum_volts", {{"line7", 22.10}, {"line8", 22.10}}},
      {"zfuse_current_amperes",
       {{"line7/1", 5.12},
        {"line7/2", 3.00},
        {"line7/3", 0},
        {"line8/1", 5.13},
        {"line8/2", 3.00}}},
      {"zfuse_current_maximum_amperes",
       {{"line7/1", 9.00},
        {"line7/2", 3.10},
        {"line7/3", 0.05},
        {"line8/1", 9.00},
        {"line8/2", 3.10}}},
      {"zfuse_current_rated_amperes",
       {{"line7/1", 10}, {"line7/2", 6}, {"line7/3", 4}, {"line8/1", 10}, {"line8/2", 6}}},
      {"zfuse_channel_tripped",
       {{"line7/1", 0},
        {"line7/2", 0},
        {"line7/3", 0},
        {"line7/4", 0},
        {"line8/1", 0},
        {"line8/2", 0}}},
      {"zfuse_device_info{model=\"2ch10a\"}", {{"line8", 1}}},
  };
  for (const auto& [promql, values] : expected) {
    EXPECT_TRUE(waitUntil(
        [&, &promql = promql, &values = values] { return prometheus.query(promql) == values; },
        20000))
        << promql.toStdString();
  }

  // A trip of line8's channel 2 shows in the next scrapes, lamp and counter.
  sent[1].channelBits = 0x08;
  sent[1].present[1] = 0;
  EXPECT_TRUE(waitUntil(
      [&] {
        return prometheus.query("zfuse_channel_tripped{device=\"line8\",channel=\"2\"}") ==
                   std::map<QString, double>{{"line8/2", 1}} &&
               prometheus.query("zfuse_trips_total{device=\"line8\"}") ==
                   std::map<QString, double>{{"line8/1", 0}, {"line8/2", 1}};
      },
      5000));

  // promtool accepts the page as it is served.
  const auto page = get(QStringLiteral("http://127.0.0.1:%1/metrics").arg(port));
  ASSERT_TRUE(page.has_value());
  QProcess promtool;
  promtool.start("promtool", {"check", "metrics"});
  promtool.write(*page);
  promtool.closeWriteChannel();
  ASSERT_TRUE(promtool.waitForFinished(20000));
  EXPECT_EQ(promtool.exitCode(), 0) << promtool.readAllStandardOutput().toStdString()
                                    << promtool.readAllStandardError().toStdString();
}

TEST_F(ZfusectlMetrics, DocumentedAlertRulesPassPromtoolAndOneFiresInItsUnitTest) {
  const QString folder = QStringLiteral(ZFUSE_SOURCE_DIR "/resources/prometheus");
  const QStringList runs[] = {{"check", "rules", "zfuse-alerts.yml"},
                              {"test", "rules", "zfuse-alerts-test.yml"}};
  for (const QStringList& args : runs) {
    QProcess promtool;
    promtool.setWorkingDirectory(folder);
    promtool.start("promtool", args);
    ASSERT_TRUE(promtool.waitForFinished(30000));
    EXPECT_EQ(promtool.exitCode(), 0)
        << args.join(' ').toStdString() << promtool.readAllStandardOutput().toStdString();
  }
  // docs/plant.md shows the rules as they are tested.
  QFile rules(folder + "/zfuse-alerts.yml");
  QFile plant(QStringLiteral(ZFUSE_SOURCE_DIR "/docs/plant.md"));
  ASSERT_TRUE(rules.open(QIODevice::ReadOnly) && plant.open(QIODevice::ReadOnly));
  EXPECT_TRUE(plant.readAll().contains(rules.readAll()));
}

TEST_F(ZfusectlMetrics, AddressesThatAreNotLocalOrInUseAreRefusedBeforeAnyPortOpens) {
  const struct {
    QStringList args;
    int exit;
    const char* says;
  } cases[] = {
      {{"--metrics", "0.0.0.0:9100"}, 2, "not a loopback address"},
      {{"--metrics", "192.0.2.7:9100"}, 2, "--metrics-public"},
      {{"--metrics", "[::1]:0"}, 2, "from 1 to 65535"},
      {{"--metrics", "::1:9100"}, 2, "in brackets"},
      {{"--metrics", "gateway:9100"}, 2, "numeric address"},
      {{"--metrics", "70000"}, 2, "from 1 to 65535"},
      {{"--metrics-public"}, 2, "--metrics-public goes with --metrics"},
      {{"--device-id", "x"}, 2, "--device-id goes with --mqtt or --metrics"},
  };
  for (const auto& c : cases) {
    const Result r = run(QStringList{"status", "--port", "COM1"} + c.args);
    EXPECT_EQ(r.exit, c.exit) << c.args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(c.says)) << c.args.join(' ').toStdString() << r.err.toStdString();
  }
  // A port in use: exit 11 and the reason, and the fuse's port was never opened (a
  // missing port would otherwise end the run with 7).
  QTcpServer taken;
  ASSERT_TRUE(taken.listen(QHostAddress::LocalHost, 0));
  const Result r = run({"status", "--port", "COM5", "--metrics",
                        QStringLiteral("localhost:%1").arg(taken.serverPort())});
  EXPECT_EQ(r.exit, 11) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains("address is already in use")) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains("COM5")) << r.err.toStdString();
}

}  // namespace
}  // namespace zfuse
