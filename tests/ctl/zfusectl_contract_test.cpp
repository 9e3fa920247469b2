// zfusectl's output contract for read, write and verify against simulated fuses with
// their faults: every port's result on standard output in the order the ports were named,
// whatever the result; text, JSON Lines and one JSON document; each result's word and
// exit code; the summary that counts them; the highest code as the program's.

#include <gtest/gtest.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <vector>

#include "config/deviceconfig.h"
#include "monitor/statustelegram.h"
#include "tests/support/configurations.h"
#include "tests/support/zfusectl_fixture.h"

namespace zfuse {
namespace {

// A 10 A configuration unlike the factory's.
DeviceConfiguration tenAmps() {
  return test::unusual(kType4ch10A);
}
using test::settingsOf;

constexpr uint8_t kUnplugged = 0;  // a link to an adapter that is not there

struct Port {
  uint8_t model;
  unsigned faults;
  const char* result;
  int exit;
  const char* says;  // in the port's text line
  bool holdsFile = false;
};

struct Case {
  const char* name;
  QStringList args;  // before the ports; the file follows them for write and verify
  std::vector<Port> ports;
  int exit;
};

const Case kCases[] = {
    {"write",
     {"write"},
     {{kType4ch10A, 0, "verified", 0, "written and verified (4ch10a)"},
      {kType4ch10A, sim::kNoAnswer, "no_answer", 4, "no answer after 4 attempts"},
      {kType4ch6A, 0, "not_offered", 6, "does not fit the 4ch6a model:"},
      {kType4ch10A, sim::kBadAck, "ack_failed_new", 0,
       "acknowledgement wrong; the device holds the new configuration (4ch10a)"},
      {kType4ch10A, sim::kBadAck | sim::kKeepsOld, "ack_failed_old", 4,
       "acknowledgement wrong; the device holds the old configuration:"},
      {kType4ch10A, sim::kBadAck | sim::kStoresOther, "ack_failed_other", 5,
       "acknowledgement wrong; the device holds another configuration, neither the old nor "
       "the new:"},
      {kUnplugged, 0, "port_unavailable", 7, "cannot be opened: "}},
     7},
    {"write without read-back",
     {"write", "--no-verify"},
     {{kType4ch10A, 0, "written", 0, "written, not read back (4ch10a)"},
      {kType4ch10A, sim::kBadAck, "not_acknowledged", 4,
       "acknowledgement wrong after 4 attempts: the device's configuration is unknown; run "
       "zfusectl verify"}},
     4},
    {"verify",
     {"verify"},
     {{kType4ch10A, 0, "same", 0, "the device holds the file's configuration (4ch10a)", true},
      {kType4ch10A, 0, "differs", 5, "the device differs from the file:"},
      {kType4ch10A, sim::kBadChecksum, "no_answer", 4, "no answer after 4 attempts"},
      {kTypeStandard, 0, "other_variant", 6,
       "is a file of the fuse-variant models; the device is the standard model"}},
     6},
    {"read into files",
     {"read"},
     {{kType4ch10A, 0, "read", 0, "read (4ch10a, version 1.07)"},
      {kType4ch10A, sim::kNoAnswer, "no_answer", 4, "no answer after 4 attempts"},
      {kType4ch6A, 0, "save_failed", 12, "No such file or directory"}},
     12},
};

class ZfusectlContract : public test::ZfusectlFixture {
 protected:
  // The case's fuses on COM1, COM2, ...; the arguments that run it in `format`.
  QStringList prepare(const Case& c, const QString& format) {
    QStringList args = c.args;
    args << "--retries"
         << "3"
         << "--interval"
         << "20"
         << "--format" << format;
    for (std::size_t i = 0; i < c.ports.size(); ++i) {
      const Port& p = c.ports[i];
      const QString com = QStringLiteral("COM%1").arg(i + 1);
      args << "--port" << com;
      if (p.model == kUnplugged) {
        QFile::remove(portLinkFolder() + "/" + com);
        QFile::link("/dev/ttyUSB-unplugged", portLinkFolder() + "/" + com);
        continue;
      }
      startDevice(p.model, p.faults, com);
      if (p.holdsFile) fuse(com).setConfiguration(settingsOf(tenAmps()));
    }
    if (c.args[0] == QLatin1String("read")) {
      // Each port's file in a folder of its own; the third port's folder is not there.
      QDir(dir.path()).mkdir("COM1");
      QDir(dir.path()).mkdir("COM2");
      args << "-o" << dir.filePath("%p/device.txt");
      if (format == QLatin1String("text")) args.replace(args.indexOf("text"), "file");
    } else {
      QFile f(file());
      EXPECT_TRUE(f.open(QIODevice::WriteOnly));
      f.write(QByteArray::fromStdString(fileTextOf(tenAmps())));
    }
    return args;
  }
  sim::DeviceSimulator& fuse(const QString& com) {
    return com == QLatin1String("COM1") ? *device : *others.at(com);
  }
  QString file() const { return dir.filePath("line7.txt"); }
  QTemporaryDir dir;
};

void expectResultObject(const QJsonObject& o, const Case& c, std::size_t i, const QString& file) {
  const Port& p = c.ports[i];
  SCOPED_TRACE(QJsonDocument(o).toJson().toStdString());
  const QString command = c.args[0];
  EXPECT_EQ(o["port"].toString(), QStringLiteral("COM%1").arg(i + 1));
  EXPECT_EQ(o["command"].toString(), command);
  EXPECT_EQ(o["result"].toString(), p.result);
  EXPECT_EQ(o["exit"].toInt(-1), p.exit);
  EXPECT_TRUE(o["message"].toString().contains(QString::fromUtf8(p.says)));
  EXPECT_TRUE(QRegularExpression(R"(^\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d\.\d{3}[+-]\d\d:\d\d$)")
                  .match(o["time"].toString())
                  .hasMatch());
  EXPECT_TRUE(o["device"].isString());
  EXPECT_TRUE(o["differences"].isArray());
  // The model and version come with the first read; null when it got no answer.
  const bool heard =
      p.result != QLatin1String("no_answer") && p.result != QLatin1String("port_unavailable");
  if (heard) {
    EXPECT_EQ(o["model"].toString(), modelName(p.model));
    EXPECT_EQ(o["version"].toString(), "1.07");
  } else {
    EXPECT_TRUE(o["model"].isNull());
    EXPECT_TRUE(o["version"].isNull());
  }
  if (command == QLatin1String("read")) {
    EXPECT_FALSE(o.contains("file_sha256"));
    // The file the configuration went to, or was meant to go to; none without an answer.
    if (heard) {
      EXPECT_EQ(o["file"].toString(), QStringLiteral("%1/COM%2/device.txt").arg(file).arg(i + 1));
    } else {
      EXPECT_TRUE(o["file"].isNull());
    }
  } else {
    EXPECT_EQ(o["file"].toString(), file);
    EXPECT_EQ(o["file_sha256"].toString().size(), 64);
  }
  const bool differs = p.result == QLatin1String("differs") ||
                       p.result == QLatin1String("ack_failed_old") ||
                       p.result == QLatin1String("ack_failed_other");
  EXPECT_EQ(o["differences"].toArray().isEmpty(), !differs);
}

// The counts of the case's results.
QJsonObject countsOf(const Case& c) {
  QJsonObject counts;
  for (const Port& p : c.ports) counts[p.result] = counts[p.result].toInt() + 1;
  return counts;
}

TEST_F(ZfusectlContract, EveryPortHasItsResultInOrderInEveryForm) {
  for (const Case& c : kCases) {
    for (const QString format : {"text", "json", "json-array"}) {
      SCOPED_TRACE(std::string(c.name) + ", " + format.toStdString());
      QStringList args = prepare(c, format);
      if (c.args[0] != QLatin1String("read")) args << file();
      const Result r = run(args, 30000);
      EXPECT_EQ(r.exit, c.exit) << r.out.toStdString() << r.err.toStdString();
      // Results and the summary go to standard output only.
      EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();
      const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
      ASSERT_FALSE(lines.isEmpty());
      const QString readFolder = dir.path();
      if (format == QLatin1String("text")) {
        QStringList portLines;
        for (const QString& l : lines) {
          if (!l.startsWith(QLatin1String("  "))) portLines << l;
        }
        ASSERT_EQ(portLines.size(), static_cast<qsizetype>(c.ports.size()) + 1)
            << r.out.toStdString();
        for (std::size_t i = 0; i < c.ports.size(); ++i) {
          EXPECT_TRUE(
              portLines[static_cast<qsizetype>(i)].startsWith(QStringLiteral("COM%1").arg(i + 1)))
              << portLines[static_cast<qsizetype>(i)].toStdString();
          EXPECT_TRUE(portLines[static_cast<qsizetype>(i)].contains(c.ports[i].says))
              << portLines[static_cast<qsizetype>(i)].toStdString();
        }
        const QString summary = portLines.constLast();
        EXPECT_TRUE(summary.startsWith(QStringLiteral("%1 ports: ").arg(c.ports.size())));
        EXPECT_TRUE(summary.endsWith(QStringLiteral("; exit code %1").arg(c.exit)));
        const QJsonObject counts = countsOf(c);
        for (const QString& word : counts.keys()) {
          EXPECT_TRUE(summary.contains(QStringLiteral("%1 %2").arg(counts[word].toInt()).arg(word)))
              << summary.toStdString();
        }
        continue;
      }
      QJsonArray results;
      QJsonObject summary;
      if (format == QLatin1String("json")) {
        // JSON Lines: an object a line, the summary last.
        ASSERT_EQ(lines.size(), static_cast<qsizetype>(c.ports.size()) + 1);
        for (const QString& l : lines) {
          QJsonParseError error{};
          const QJsonDocument d = QJsonDocument::fromJson(l.toUtf8(), &error);
          ASSERT_EQ(error.error, QJsonParseError::NoError) << l.toStdString();
          if (d.object().contains("summary")) {
            summary = d.object()["summary"].toObject();
          } else {
            results.append(d.object());
          }
        }
      } else {
        // One document, for a JSON parser that takes the whole output.
        QJsonParseError error{};
        const QJsonDocument d = QJsonDocument::fromJson(r.out.toUtf8(), &error);
        ASSERT_EQ(error.error, QJsonParseError::NoError) << r.out.toStdString();
        results = d.object()["results"].toArray();
        summary = d.object()["summary"].toObject();
      }
      ASSERT_EQ(results.size(), static_cast<qsizetype>(c.ports.size()));
      for (std::size_t i = 0; i < c.ports.size(); ++i) {
        expectResultObject(results[static_cast<qsizetype>(i)].toObject(), c, i,
                           c.args[0] == QLatin1String("read") ? readFolder : file());
      }
      EXPECT_EQ(summary["command"].toString(), c.args[0]);
      EXPECT_EQ(summary["ports"].toInt(), static_cast<int>(c.ports.size()));
      EXPECT_EQ(summary["exit"].toInt(), c.exit);
      EXPECT_EQ(summary["counts"].toObject(), countsOf(c));
    }
  }
}

// A read's configuration file on standard output stays a clean file: its result and the
// summary go to standard error.
TEST_F(ZfusectlContract, AReadToStandardOutputKeepsItsResultOffTheFile) {
  startDevice(kType4ch10A);
  const Result r = run({"read", "--port", "COM1"});
  EXPECT_EQ(r.exit, 0);
  EXPECT_EQ(r.out.toStdString(), fileTextOf({kType4ch10A, {}, zokxFactorySet(kType4ch10A), {}}));
  EXPECT_EQ(r.err, "COM1: read (4ch10a, version 1.07)\n1 port: 1 read; exit code 0\n");
}

}  // namespace
}  // namespace zfuse
