#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <map>
#include <memory>

#include "link/portnames.h"
#include "tests/support/pty.h"
#include "tools/devicesim.h"

namespace zfuse::test {

// zfusectl run as a program against simulated fuses on pseudo-terminals.
class ZfusectlFixture : public ::testing::Test {
 protected:
  void SetUp() override { QDir().mkpath(portLinkFolder()); }
  void TearDown() override {
    device.reset();
    others.clear();
    test::removePortLinks();
  }
  // A simulated fuse on `com` (a fresh one replaces what was there).
  void startDevice(uint8_t model, unsigned faults = 0, const QString& com = "COM1") {
    sim::DeviceSimulator::Options o;
    o.model = model;
    o.faults = faults;
    o.telegramIntervalMs = 50;
    auto& slot = com == QLatin1String("COM1") ? device : others[com];
    slot = std::make_unique<sim::DeviceSimulator>(o);
    ASSERT_TRUE(slot->start());
    QDir().mkpath(portLinkFolder());
    QFile::remove(portLinkFolder() + "/" + com);
    QFile::link(QString::fromStdString(slot->slavePath()), portLinkFolder() + "/" + com);
  }
  struct Result {
    int exit;
    QString out;
    QString err;
  };
  static Result run(const QStringList& args, int ms = 10000) {
    QProcess p;
    p.start(QStringLiteral(ZFUSECTL_BINARY), args);
    if (!p.waitForFinished(ms)) {
      p.kill();
      p.waitForFinished();
      return {-1, {}, {}};
    }
    Result r{p.exitCode(), QString::fromUtf8(p.readAllStandardOutput()),
             QString::fromUtf8(p.readAllStandardError())};
    // A text given more or fewer arguments than it has places shows as Qt's warning.
    EXPECT_FALSE(r.err.contains("QString::arg"))
        << args.join(' ').toStdString() << ": " << r.err.toStdString();
    return r;
  }
  std::unique_ptr<sim::DeviceSimulator> device;  // on COM1
  std::map<QString, std::unique_ptr<sim::DeviceSimulator>> others;
};

}  // namespace zfuse::test
