#include "ctl/plan.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "config/deviceconfig.h"
#include "link/portnames.h"
#include "monitor/statustelegram.h"
#include "tests/support/pty.h"
#include "tools/devicesim.h"

namespace zfuse::ctl {
namespace {

// The configuration file a device of `model` holds when it leaves the factory.
QByteArray factoryFile(uint8_t model) {
  const auto reply = sim::configurationReply(model, sim::factoryConfiguration(model), "1.07");
  return QByteArray::fromStdString(fileTextOf(*configurationOfReply(reply)));
}

class PlanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    QDir().mkpath(portLinkFolder());
    pty.linkAs("COM1");
    write("standard.txt", factoryFile(kTypeStandard));
    write("4ch10a.txt", factoryFile(kType4ch10A));
    write("broken.txt", "config\r\nnot a configuration\r\n");
    QDir(dir.path()).mkdir("folder.txt");
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo.txt")).constData(), 0600), 0);
  }
  void TearDown() override { test::removePortLinks(); }
  QString path(const QString& name) const { return dir.path() + '/' + name; }
  void write(const QString& name, const QByteArray& bytes) const {
    QFile f(path(name));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    ASSERT_EQ(f.write(bytes), bytes.size());
  }

  QTemporaryDir dir;
  test::PtyPair pty;
};

struct Refusal {
  QByteArray plan;
  int line;
  int column;
  const char* message;
};

TEST_F(PlanTest, EveryRefusalNamesItsLineAndColumn) {
  const QByteArray pts = QByteArray::fromStdString(pty.slavePath());
  const Refusal cases[] = {
      {"", 0, 0, "the plan is empty"},
      {"# tag,port\r\n\r\n", 0, 0, "the plan is empty"},
      {QByteArray("tag,port\n-F1,COM1\0\1\2", 20), 0, 0, "binary"},
      {"tag,port\n-F\xff\xfe,COM1\n", 0, 0, "not UTF-8"},
      {QByteArray(kPlanReadBudget + 1, 'a'), 0, 0, "longer than"},
      {"port,file\nCOM1,a.txt\n", 1, 0, "no 'tag' column"},
      {"# plan\ntag;file\n-F1;a.txt\n", 2, 0, "no 'port' column"},
      {"tag,port\n", 0, 0, "names no device"},
      {"tag,port,Tag\n", 1, 3, "named twice"},
      {"tag,,port\n", 1, 2, "without a name"},
      {"tag,port\n-F1,COM1\n# -F2 spare\n-F1,COM2\n", 4, 1, "tag -F1 is on line 2"},
      {"tag,port\n,COM1\n", 2, 1, "the tag is empty"},
      {"tag,port\n-F1,COM1\n-F2,COM1\n", 3, 2, "device of line 2 (COM1)"},
      {"tag,port\n-F1,COM1\n-F2," + pts + "\n", 3, 2, "device of line 2 (COM1)"},
      {"tag,port\n-F1,ttyUSB0\n", 2, 2, "unknown port 'ttyUSB0'"},
      {"tag,port\n-F1,/tmp\n", 2, 2, "a folder"},
      {"tag,port\n-F1,\n", 2, 2, "the port is empty"},
      {"tag,port,model\n-F1,COM1,8ch99a\n", 2, 3, "unknown model '8ch99a'"},
      {"tag,port\n-F1,COM1,spare\n", 2, 3, "3 fields where the header has 2"},
      {"tag;port;file\r\n-F1;COM1\r\n", 2, 3, "2 fields where the header has 3"},
      {"tag,port\n\"-F1,COM1\n-F2,COM2\n", 2, 1, "a quote is left open"},
      {"tag,port\n\"-F1\"x,COM1\n", 2, 1, "text after the closing quote"},
      {"tag,port\n-F1,CO\"M1\n", 2, 2, "a quote inside an unquoted field"},
      {"tag,port\n\"line\nbreak\",COM2\n-F1,COM9,x\n", 4, 3, "3 fields"},
  };
  for (const Refusal& c : cases) {
    const auto parsed = parsePlan(c.plan, dir.path());
    const auto* e = std::get_if<PlanError>(&parsed);
    ASSERT_TRUE(e) << c.plan.left(80).toStdString();
    EXPECT_EQ(e->line, c.line) << c.plan.left(80).toStdString();
    EXPECT_EQ(e->column, c.column) << c.plan.left(80).toStdString();
    EXPECT_TRUE(e->message.contains(QLatin1String(c.message)))
        << c.plan.left(80).toStdString() << ": " << e->message.toStdString();
    EXPECT_EQ(e->exit, 2);
  }
}

TEST_F(PlanTest, ASpreadsheetsSemicolonsQuotesAndExtraColumnsAreTaken) {
  const QByteArray plan =
      "\xEF\xBB\xBF# Schaltschrank 3\r\n"
      "Ort;TAG;Model;Port;File;Bestellnummer\r\n"
      "\"Feld 1; links\";-F12;4CH10A;COM1;4ch10a.txt;\"12 \"\"A\"\"\"\r\n"
      "\r\n"
      "# -F13 kommt später\r\n"
      "\"Feld\r\n2\";-F14;;/dev/ttyUSB-absent;;\r\n";
  const auto parsed = parsePlan(plan, dir.path());
  ASSERT_TRUE(std::holds_alternative<Plan>(parsed))
      << std::get<PlanError>(parsed).message.toStdString();
  const Plan& p = std::get<Plan>(parsed);
  EXPECT_EQ(p.separator, QLatin1Char(';'));
  EXPECT_EQ(p.extraColumns, (QStringList{"Ort", "Bestellnummer"}));
  ASSERT_EQ(p.rows.size(), 2u);
  EXPECT_EQ(p.rows[0].line, 3);
  EXPECT_EQ(p.rows[0].tag, "-F12");
  EXPECT_EQ(p.rows[0].model, kType4ch10A);
  EXPECT_EQ(p.rows[0].file, path("4ch10a.txt"));
  EXPECT_EQ(p.rows[0].extra, (QStringList{"Feld 1; links", "12 \"A\""}));
  EXPECT_EQ(p.rows[1].line, 6);
  EXPECT_EQ(p.rows[1].port.given, "/dev/ttyUSB-absent");
  EXPECT_FALSE(p.rows[1].model);
  EXPECT_TRUE(p.rows[1].file.isEmpty());
  EXPECT_EQ(p.rows[1].extra, (QStringList{"Feld\r\n2", ""}));
  EXPECT_EQ(p.sha256.size(), 64);
}

TEST_F(PlanTest, APlanFileMustBeARegularFileOfBoundedSize) {
  write("huge.csv", "tag,port\n" + QByteArray(3 * kPlanReadBudget, '#'));
  const struct {
    QString path;
    const char* message;
  } cases[] = {
      {path("absent.csv"), "no such file"},     {dir.path(), "a folder"},
      {path("fifo.txt"), "not a regular file"}, {"/dev/zero", "not a regular file"},
      {path("huge.csv"), "longer than"},
  };
  for (const auto& c : cases) {
    const auto parsed = readPlan(c.path);
    const auto* e = std::get_if<PlanError>(&parsed);
    ASSERT_TRUE(e) << c.path.toStdString();
    EXPECT_TRUE(e->message.contains(QLatin1String(c.message)))
        << c.path.toStdString() << ": " << e->message.toStdString();
  }
}

TEST_F(PlanTest, EveryFileIsExaminedBeforeADeviceIsTouched) {
  const struct {
    QByteArray row;
    const char* message;  // nullptr: the file is taken
  } cases[] = {
      {"-F1,COM1,4ch10a,4ch10a.txt", nullptr},
      {"-F1,COM1,4ch6a,4ch10a.txt", "does not fit the 4ch6a model: channel 1 current 10 A"},
      {"-F1,COM1,,standard.txt", nullptr},
      {"-F1,COM1,,", nullptr},
      {"-F1,COM1,,absent.txt", "absent.txt: no such file"},
      {"-F1,COM1,,folder.txt", "a folder"},
      {"-F1,COM1,,fifo.txt", "not a regular file"},
      {"-F1,COM1,,broken.txt", "file error C"},
      {"-F1,COM1,4ch10a,standard.txt", "a file of the standard model"},
      {"-F1,COM1,standard,4ch10a.txt", "a file of the fuse-variant models"},
  };
  for (const auto& c : cases) {
    auto parsed = parsePlan("tag,port,model,file\n# devices\n" + c.row + "\n", dir.path());
    ASSERT_TRUE(std::holds_alternative<Plan>(parsed)) << c.row.toStdString();
    const auto e = examinePlanFiles(std::get<Plan>(parsed));
    if (c.message == nullptr) {
      EXPECT_FALSE(e) << c.row.toStdString() << ": " << e->message.toStdString();
    } else {
      ASSERT_TRUE(e) << c.row.toStdString();
      EXPECT_EQ(e->line, 3) << c.row.toStdString();
      EXPECT_EQ(e->exit, 3);
      EXPECT_TRUE(e->message.contains(QLatin1String(c.message)))
          << c.row.toStdString() << ": " << e->message.toStdString();
    }
  }
}

}  // namespace
}  // namespace zfuse::ctl
