// The main window gets its data back by itself when the device goes and comes again:
// an adapter pulled and plugged in, plugged in only after the start, a link whose
// device appears later; a start port and language chosen on the command line.

#include <QComboBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>

#include "app/zokm32.h"
#include "dialogs/configdialog.h"
#include "link/connection.h"
#include "tests/support/program_fixture.h"

namespace zfuse {
namespace {

class Replug : public test::ProgramFixture {
 protected:
  Replug() { simFaults = 0; }  // the fuse talks on its own
  QString value() { return control<QLabel>(Form1, "uin")->text(); }
  // A new simulated fuse, as a replugged adapter brings one.
  std::unique_ptr<sim::DeviceSimulator> plugIn() {
    sim::DeviceSimulator::Options o;
    o.telegramIntervalMs = 100;
    auto d = std::make_unique<sim::DeviceSimulator>(o);
    EXPECT_TRUE(d->start());
    return d;
  }
  static void linkCom1To(const QString& target) {
    QFile::remove(portLinkFolder() + "/COM1");
    QFile::link(target, portLinkFolder() + "/COM1");
  }
};

TEST_F(Replug, DisplayComesBackWithinASecondAfterEveryReplug) {
  ASSERT_TRUE(waitFor([&] { return !value().isEmpty(); }));
  for (int cycle = 0; cycle < 5; ++cycle) {
    device.reset();  // the adapter is pulled: the line hangs up
    ASSERT_TRUE(waitFor([&] { return !Form1->portOpen(); }, 2000)) << cycle;
    device = plugIn();
    QElapsedTimer clock;
    clock.start();
    linkCom1To(QString::fromStdString(device->slavePath()));
    control<QLabel>(Form1, "uin")->clear();
    ASSERT_TRUE(waitFor([&] { return !value().isEmpty(); }, 3000)) << cycle;
    EXPECT_LE(clock.elapsed(), 1000) << cycle;
  }
}

TEST_F(Replug, DeviceThatAppearsOnlyLaterIsFoundThroughItsLink) {
  QTemporaryDir later;
  const QString adapter = later.path() + "/ttyUSB-later";
  device.reset();
  linkCom1To(adapter);  // the link is there, its device not yet
  ASSERT_TRUE(waitFor([&] { return value().isEmpty(); }, 2500));
  QTest::qWait(700);
  EXPECT_FALSE(Form1->portOpen());
  device = plugIn();
  QElapsedTimer clock;
  clock.start();
  ASSERT_TRUE(QFile::link(QString::fromStdString(device->slavePath()), adapter));
  ASSERT_TRUE(waitFor([&] { return !value().isEmpty(); }, 3000));
  EXPECT_LE(clock.elapsed(), 1000);
}

TEST_F(Replug, PortListReturnsWhenTheDisplayEmpties) {
  ASSERT_TRUE(waitFor([&] { return !value().isEmpty(); }));
  EXPECT_FALSE(control<QComboBox>(Form1, "comport")->isVisible());
  device->setFault(sim::kSilence, true);
  ASSERT_TRUE(waitFor([&] { return value().isEmpty(); }, 2500));
  EXPECT_TRUE(control<QComboBox>(Form1, "comport")->isVisible());
  device->setFault(sim::kSilence, false);
  ASSERT_TRUE(waitFor([&] { return !value().isEmpty(); }));
  EXPECT_FALSE(control<QComboBox>(Form1, "comport")->isVisible());
}

TEST_F(Replug, StartOptionsChooseTheFirstPortAndTheLanguage) {
  endProgram();
  // COM1 leads nowhere now; the fuse is on COM5.
  linkCom1To(QStringLiteral("/nonexistent/ttyUSB9"));
  QFile::link(QString::fromStdString(device->slavePath()), portLinkFolder() + "/COM5");
  startProgram({5, true});
  EXPECT_EQ(control<QComboBox>(Form1, "comport")->currentText(), "COM5");
  EXPECT_TRUE(sprache_englisch);
  EXPECT_FALSE(sprache_deutsch);
  ASSERT_TRUE(waitFor([&] { return !value().isEmpty(); }));
  EXPECT_EQ(Form1->portChoice().com_name, "COM5");
}

}  // namespace
}  // namespace zfuse
