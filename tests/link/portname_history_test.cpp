// A port name that was a link leads to that link's device or nowhere, for the whole run:
// histories of the link against the standard-port default, checked through the open
// files of this process.

#include <gtest/gtest.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <map>

#include "link/connection.h"
#include "link/portnames.h"
#include "monitor/portdoctor.h"
#include "tests/support/pty.h"

namespace zfuse {
namespace {

// Runs the event loop until `done` holds, for three seconds at the most.
template <class Done>
void processEventsUntil(Done done) {
  QElapsedTimer clock;
  clock.start();
  while (!done() && clock.elapsed() < 3000) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
  }
}

// How many open files of this process lead to `device`, and to any standard port.
int openFilesOf(const std::string& device) {
  int n = 0;
  for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System)) {
    if (fd.symLinkTarget().toStdString() == device) ++n;
  }
  return n;
}
int openStandardPorts() {
  int n = 0;
  for (const QFileInfo& fd : QDir(QStringLiteral("/proc/self/fd")).entryInfoList(QDir::System)) {
    if (fd.symLinkTarget().startsWith(QLatin1String("/dev/ttyS"))) ++n;
  }
  return n;
}

enum class Step { LinkToA, LinkToB, RemoveLink, HangUpA };
enum class Holds { A, B, Nothing };
struct History {
  const char* name;
  std::vector<std::pair<Step, Holds>> steps;
};

class PortNameHistory : public ::testing::TestWithParam<History> {
 protected:
  void TearDown() override { test::removePortLinks(); }
};

TEST_P(PortNameHistory, LeadsToTheLinksDeviceOrNowhere) {
  std::map<Holds, std::unique_ptr<test::PtyPair>> pty;
  pty[Holds::A] = std::make_unique<test::PtyPair>();
  pty[Holds::B] = std::make_unique<test::PtyPair>();
  const std::string a = pty[Holds::A]->slavePath(), b = pty[Holds::B]->slavePath();
  const QString link = portLinkFolder() + QStringLiteral("/COM1");
  qint64 now = 100000;
  QByteArray received;
  PortConnection connection([&](const QByteArray& bytes) { received += bytes; });
  connection.setClock([&] { return now; });

  pty[Holds::A]->linkAs("COM1");
  ASSERT_TRUE(connection.open(QStringLiteral("COM1")));
  int step = 0;
  bool aHungUp = false;
  for (const auto& [what, holds] : GetParam().steps) {
    SCOPED_TRACE(testing::Message() << "step " << ++step);
    switch (what) {
      case Step::LinkToA:
        pty[Holds::A]->linkAs("COM1");
        break;
      case Step::LinkToB:
        pty[Holds::B]->linkAs("COM1");
        break;
      case Step::RemoveLink:
        QFile::remove(link);
        break;
      case Step::HangUpA:
        pty[Holds::A]->hangUp();
        aHungUp = true;
        // The hang-up reaches the port through the event loop.
        processEventsUntil([&] { return !connection.isOpen(); });
        break;
    }
    // A few reopening periods: each try resolves the name afresh.
    for (int i = 0; i < 3; ++i) {
      now += kReopenPeriodMs;
      connection.keepOpen();
    }
    EXPECT_EQ(openStandardPorts(), 0);
    // Each pseudo-terminal pair keeps its own end open as well.
    EXPECT_EQ(openFilesOf(a), (aHungUp ? 0 : 1) + (holds == Holds::A ? 1 : 0));
    EXPECT_EQ(openFilesOf(b), 1 + (holds == Holds::B ? 1 : 0));
    EXPECT_EQ(connection.isOpen(), holds != Holds::Nothing);
    if (holds == Holds::Nothing) {
      // While the link is missing the doctor says so, and no standard port stands in.
      if (!QFileInfo(link).isSymLink()) {
        EXPECT_TRUE(
            diagnosePort(QStringLiteral("COM1")).verdict.contains(QStringLiteral("removed")));
      }
      continue;
    }
    // What the device sends arrives.
    received.clear();
    pty[holds]->send({0x55, 0xAA});
    processEventsUntil([&] { return received.size() >= 2; });
    EXPECT_EQ(received, QByteArray("\x55\xAA"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Histories, PortNameHistory,
    ::testing::Values(History{"LinkRemovedAndBack",
                              {{Step::RemoveLink, Holds::Nothing}, {Step::LinkToA, Holds::A}}},
                      History{"LinkMovedToAnotherTerminal", {{Step::LinkToB, Holds::B}}},
                      History{"DeviceHungUpThenLinkRemovedThenAnotherDevice",
                              {{Step::HangUpA, Holds::Nothing},
                               {Step::RemoveLink, Holds::Nothing},
                               {Step::LinkToB, Holds::B}}}),
    [](const ::testing::TestParamInfo<History>& p) { return std::string(p.param.name); });

TEST(PortNameDefault, OnlyANameThatNeverWasALinkLeadsToTheStandardPort) {
  test::removePortLinks();
  EXPECT_EQ(systemPortPath(QStringLiteral("COM3")), QStringLiteral("/dev/ttyS2"));
  test::PtyPair line;
  line.linkAs("COM3");
  EXPECT_EQ(systemPortPath(QStringLiteral("COM3")).toStdString(), line.slavePath());
  QFile::remove(portLinkFolder() + QStringLiteral("/COM3"));
  EXPECT_NE(systemPortPath(QStringLiteral("COM3")), QStringLiteral("/dev/ttyS2"));
  EXPECT_FALSE(makeSystemSerialLine()->open(QStringLiteral("COM3")));
  // A link into /dev/pts is called out, with the stable names to prefer.
  line.linkAs("COM3");
  EXPECT_TRUE(
      diagnosePort(QStringLiteral("COM3")).source.contains(QStringLiteral("/dev/serial/by-id")));
  test::removePortLinks();
}

}  // namespace
}  // namespace zfuse
