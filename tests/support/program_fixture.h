#pragma once

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTest>
#include <QWidget>
#include <memory>

#include "app/program.h"
#include "link/portnames.h"
#include "tests/support/pty.h"
#include "tools/devicesim.h"
#include "windowkit/desktop.h"

namespace zfuse::test {

// The whole program started in-process against a simulated fuse on COM1.
class ProgramFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    setWorkAreaOverride(QRect(0, 0, 1920, 1040));
    sim::DeviceSimulator::Options options;
    options.model = simModel;
    options.faults = simFaults;
    options.telegramIntervalMs = 100;
    device = std::make_unique<sim::DeviceSimulator>(options);
    ASSERT_TRUE(device->start());
    QDir().mkpath(portLinkFolder());
    QFile::link(QString::fromStdString(device->slavePath()), portLinkFolder() + "/COM1");
    startProgram();
  }

  void TearDown() override {
    endProgram();
    device.reset();
    removePortLinks();
    setWorkAreaOverride(std::nullopt);
  }

  template <class T>
  static T* control(QWidget* window, const char* name) {
    T* c = window->findChild<T*>(QString::fromLatin1(name));
    if (!c) ADD_FAILURE() << "no control " << name;
    return c;
  }

  // Processes events until `done` holds or `ms` have passed.
  template <class F>
  static bool waitFor(F done, int ms = 3000) {
    return QTest::qWaitFor(done, ms);
  }

  uint8_t simModel = 0x17;
  unsigned simFaults = sim::kSilence;
  std::unique_ptr<sim::DeviceSimulator> device;
};

}  // namespace zfuse::test
