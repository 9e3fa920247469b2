// zfusectl status when a port says nothing: --count with --timeout, gap rows and objects,
// the lines on standard error, and the exit code of an end with a silent port.

#include <signal.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTest>

#include "monitor/statusoutput.h"
#include "tests/support/zfusectl_fixture.h"

namespace zfuse {
namespace {

using ZfusectlSilence = test::ZfusectlFixture;

QStringList lines(const QString& out) {
  return out.split('\n', Qt::SkipEmptyParts);
}

QJsonObject gapOf(const QString& line) {
  return QJsonDocument::fromJson(line.toUtf8()).object()["gap"].toObject();
}

// A program that runs on while the test watches what it says.
struct Running {
  QProcess p;
  QByteArray out, err;
  explicit Running(const QStringList& args) { p.start(QStringLiteral(ZFUSECTL_BINARY), args); }
  ~Running() {
    if (p.state() != QProcess::NotRunning) {
      p.kill();
      p.waitForFinished();
    }
  }
  bool waitFor(const std::function<bool()>& done, int ms = 8000) {
    return QTest::qWaitFor(
        [&] {
          out += p.readAllStandardOutput();
          err += p.readAllStandardError();
          return done();
        },
        ms);
  }
  int end(int signal) {
    ::kill(static_cast<pid_t>(p.processId()), signal);
    if (!p.waitForFinished(10000)) return -1;
    out += p.readAllStandardOutput();
    err += p.readAllStandardError();
    return p.exitCode();
  }
};

// --count ends at --timeout for a port that gives nothing: its gap shows in the output,
// standard error says it was given up, and the exit code tells.
TEST_F(ZfusectlSilence, CountEndsAtTheTimeoutAndTheSilentPortShows) {
  startDevice(kType4ch10A);
  startDevice(kType4ch10A, sim::kSilence, "COM2");
  const struct {
    const char* format;
    const char* port;  // COM2: a silent device; COM3: no port at all
  } cases[] = {{"csv", "COM2"}, {"json", "COM2"}, {"json", "COM3"}, {"text", "COM2"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.format) + " " + c.port);
    const auto r = run({"status", "--port", "COM1", "--port", c.port, "--count", "3", "--timeout",
                        "1.5", "--format", c.format});
    EXPECT_EQ(r.exit, 13) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains(
        QStringLiteral("%1: no telegram for 1.5 s, given up after 0 of 3").arg(c.port)))
        << r.err.toStdString();
    const QStringList out = lines(r.out);
    const QStringList ofCom1 = out.filter(QStringLiteral("COM1"));
    EXPECT_EQ(ofCom1.size(), 3);
    const QStringList ofSilent = out.filter(c.port);
    if (QLatin1String(c.format) == QLatin1String("text")) {
      EXPECT_TRUE(ofSilent.isEmpty());
    } else if (QLatin1String(c.format) == QLatin1String("csv")) {
      ASSERT_EQ(ofSilent.size(), 1);
      EXPECT_EQ(ofSilent[0].section(',', 1), QStringLiteral("COM2,gap") + QString(24, ','));
      EXPECT_EQ(out.size(), 5);  // the header, three telegrams, one gap
    } else {
      ASSERT_EQ(ofSilent.size(), 1);
      const QJsonObject gap = gapOf(ofSilent[0]);
      EXPECT_EQ(gap["port"].toString(), c.port);
      EXPECT_TRUE(gap["last_telegram"].isNull());
      EXPECT_EQ(gap["port_open"].toBool(), QLatin1String(c.port) == QLatin1String("COM2"));
      EXPECT_FALSE(gap["time"].toString().isEmpty());
    }
  }
  // Every port delivering: no timeout, no gap.
  const auto good = run({"status", "--port", "COM1", "--count", "3", "--timeout", "1"});
  EXPECT_EQ(good.exit, 0) << good.err.toStdString();
  EXPECT_EQ(lines(good.out).size(), 3);
}

// A device that falls silent and comes back: one gap row (CSV) or object (JSON) between
// the telegrams, and a line on standard error for the loss and one for the return.
TEST_F(ZfusectlSilence, AGapBetweenTheTelegramsIsWrittenOnce) {
  for (const char* format : {"csv", "json"}) {
    SCOPED_TRACE(format);
    startDevice(kType4ch10A);
    Running z({"status", "--port", "COM1", "--format", format});
    ASSERT_TRUE(z.waitFor([&] { return lines(QString::fromUtf8(z.out)).size() >= 4; }));
    device->setFault(sim::kSilence, true);
    ASSERT_TRUE(z.waitFor([&] { return z.err.contains("COM1: device lost"); }));
    device->setFault(sim::kSilence, false);
    ASSERT_TRUE(z.waitFor([&] { return z.err.contains("COM1: device back"); }));
    ASSERT_TRUE(z.waitFor([&] {
      const QStringList l = lines(QString::fromUtf8(z.out));
      const qsizetype gap = l.indexOf(l.filter(QStringLiteral("gap")).value(0));
      return gap >= 0 && l.size() > gap + 2;
    }));
    EXPECT_EQ(z.end(SIGTERM), 0) << z.err.data();
    const QStringList l = lines(QString::fromUtf8(z.out));
    const QStringList gaps = l.filter(QStringLiteral("gap"));
    ASSERT_EQ(gaps.size(), 1) << z.out.data();
    const qsizetype at = l.indexOf(gaps[0]);
    ASSERT_GE(at, 2);
    if (QLatin1String(format) == QLatin1String("json")) {
      const QJsonObject gap = gapOf(gaps[0]);
      // The gap names the time of the telegram before it.
      EXPECT_EQ(gap["last_telegram"].toString(),
                QJsonDocument::fromJson(l[at - 1].toUtf8())["time"].toString());
      EXPECT_TRUE(gap["port_open"].toBool());
    } else {
      EXPECT_TRUE(gaps[0].section(',', 1).startsWith(QStringLiteral("COM1,gap,")));
    }
    EXPECT_EQ(z.err.count("device lost"), 1);
    EXPECT_EQ(z.err.count("device back"), 1);
    device.reset();
  }
}

// Ctrl-C and SIGTERM end status in order; the exit code says whether a port gave nothing.
TEST_F(ZfusectlSilence, AnEndSignalTellsOfAPortThatGaveNothing) {
  startDevice(kType4ch10A);
  startDevice(kType4ch10A, sim::kSilence, "COM2");
  startDevice(kType2ch6A, 0, "COM3");
  const struct {
    const char* second;
    int signal;
    int exit;
  } cases[] = {
      {"COM2", SIGINT, 13}, {"COM2", SIGTERM, 13}, {"COM3", SIGINT, 0}, {"COM3", SIGTERM, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.second) + " " + std::to_string(c.signal));
    Running z({"status", "--port", "COM1", "--port", c.second});
    ASSERT_TRUE(z.waitFor(
        [&] { return z.out.count("COM1") >= 3 && (c.exit == 13 || z.out.contains(c.second)); }));
    EXPECT_EQ(z.end(c.signal), c.exit) << z.err.data();
    if (c.exit == 13) {
      EXPECT_TRUE(z.err.contains(QByteArray(c.second) + ": 0 telegrams printed")) << z.err.data();
      EXPECT_TRUE(z.err.contains("no telegram came")) << z.err.data();
    }
  }
}

}  // namespace
}  // namespace zfuse
