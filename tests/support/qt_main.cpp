// Test entry point: a Qt application (without windows for the core's tests, headless
// with them for the windows' tests) and a private folder
// for the COMn port links, so that the tests never touch the user's own links.

#include <gtest/gtest.h>

#include <QTemporaryDir>
#ifdef ZFUSE_TEST_CORE
#include <QCoreApplication>
using TestApplication = QCoreApplication;
#else
#include <QApplication>
using TestApplication = QApplication;
#endif

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QTemporaryDir config;
  qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
  TestApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
