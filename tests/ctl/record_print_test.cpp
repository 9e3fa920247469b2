// The commissioning record proven by printing it: Debian's chromium prints the page to a
// PDF, pdftotext reads it back. Every device is there, every device that did not verify
// is on the first page, and no device's block runs over a page break.

#include <gtest/gtest.h>

#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "ctl/record.h"
#include "tests/support/record_samples.h"

namespace zfuse {
namespace {

QString run(const QString& program, const QStringList& args, int ms) {
  QProcess p;
  p.start(program, args);
  if (!p.waitForFinished(ms) || p.exitCode() != 0) {
    ADD_FAILURE() << program.toStdString()
                  << " failed: " << p.readAllStandardError().right(2000).toStdString();
    return {};
  }
  return QString::fromUtf8(p.readAllStandardOutput());
}

TEST(RecordPrint, EveryBlockStaysOnOnePageAndTheFailuresLeadThePrint) {
  for (const char* program : {"chromium", "pdftotext"}) {
    ASSERT_FALSE(QStandardPaths::findExecutable(program).isEmpty())
        << program << " is missing: tools/setup.sh installs it with the test packages";
  }
  QTemporaryDir dir;
  const QDateTime start(QDate(2026, 12, 11), QTime(9, 14, 3));
  const auto devices = test::sampleRecords(40, start);
  {
    QFile page(dir.filePath("record.html"));
    ASSERT_TRUE(page.open(QIODevice::WriteOnly));
    const QByteArray html = ctl::recordHtml(test::sampleHeader(start, false), devices);
    ASSERT_EQ(page.write(html), html.size());
  }
  // As root chromium needs --no-sandbox; a fresh profile, and nothing fetched.
  run("chromium",
      {"--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
       "--disable-background-networking", "--disable-component-update", "--disable-sync",
       "--no-pdf-header-footer", "--user-data-dir=" + dir.filePath("profile"),
       "--print-to-pdf=" + dir.filePath("record.pdf"), "file://" + dir.filePath("record.html")},
      60000);
  const QString text = run("pdftotext", {"-layout", dir.filePath("record.pdf"), "-"}, 30000);
  const QStringList pages = text.split(QLatin1Char('\f'));
  ASSERT_GE(pages.size(), 3) << text.left(3000).toStdString();

  // The page of the first match of `pattern` at or after page `from`; -1 for none.
  const auto pageOf = [&](const QString& pattern, int from) {
    const QRegularExpression re(pattern);
    for (int p = from; p < pages.size(); ++p) {
      if (re.match(pages[p]).hasMatch()) return p;
    }
    return -1;
  };
  for (const ctl::DeviceRecord& d : devices) {
    const QString tag = QRegularExpression::escape(d.tag.mid(1)) + "(?!\\d)";
    const int first = pageOf("usb-zokara-" + tag, 0);
    ASSERT_GE(first, 0) << d.tag.toStdString() << " is not printed";
    // The block starts with its port and ends with its result; the summary lists the
    // failures with their messages before any block.
    const int blockStart = pageOf("Port: /dev/serial/by-id/usb-zokara-" + tag, 0);
    const int blockEnd = pageOf("Result: .*end of -" + tag, blockStart);
    EXPECT_GE(blockStart, 0) << d.tag.toStdString();
    EXPECT_EQ(blockStart, blockEnd) << d.tag.toStdString() << "'s block is split";
    if (d.result != QLatin1String("verified")) {
      EXPECT_TRUE(QRegularExpression("-" + tag + ".*end of -" + tag).match(pages[0]).hasMatch())
          << d.tag.toStdString() << " did not verify but is not on the first page";
    }
  }
  EXPECT_TRUE(pages[0].contains("A. Weber"));
  EXPECT_TRUE(pages.join("").contains("Signature"));
}

}  // namespace
}  // namespace zfuse
