#include "link/portaddress.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "link/portnames.h"
#include "tests/support/pty.h"

namespace zfuse {
namespace {

class PortAddressTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    QDir().mkpath(portLinkFolder());
    pty.linkAs("COM1");
    device = QString::fromStdString(pty.slavePath());
    QFile::link(device, path("by-id-a"));
    QFile::link(device, path("by-id-b"));
    QFile::link(path("loop-b"), path("loop-a"));
    QFile::link(path("loop-a"), path("loop-b"));
    QFile plain(path("plain"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    ASSERT_EQ(::mkfifo(QFile::encodeName(path("fifo")).constData(), 0600), 0);
  }
  void TearDown() override { test::removePortLinks(); }
  QString path(const QString& name) const { return dir.path() + '/' + name; }

  QTemporaryDir dir;
  test::PtyPair pty;
  QString device;
};

TEST_F(PortAddressTest, EachNameIsTakenOrRefusedWithItsReason) {
  const struct {
    QString given;
    const char* refusal;  // nullptr: taken
  } cases[] = {
      {"COM1", nullptr},
      {"COM11", nullptr},  // no link: the standard port, absent or not
      {"/dev/null", nullptr},
      {"/dev/ttyUSB-unplugged-42", nullptr},  // opening fails later, as for a COM port
      {"", "the port is empty"},
      {"COM12", "unknown port 'COM12'"},
      {"ttyUSB0", "unknown port 'ttyUSB0'"},
      {"dev/ttyUSB0", "unknown port"},
      {"/tmp", "a folder"},
      {"plain", "unknown port"},  // relative, however it resolves
      {"@plain", "a regular file"},
      {"@fifo", "a FIFO"},
      {"@loop-a", "a loop of links"},
      {"@plain/x", "no folder"},
      {"/" + QString(5000, 'a'), "longer than the system takes"},
      {"/dev/" + QString(300, 'b'), "longer than the system takes"},
  };
  for (const auto& c : cases) {
    const QString given = c.given.startsWith('@') ? path(c.given.mid(1)) : c.given;
    QString error;
    const auto address = portAddressOf(given, &error);
    if (c.refusal == nullptr) {
      EXPECT_TRUE(address) << given.toStdString() << ": " << error.toStdString();
    } else {
      EXPECT_FALSE(address) << given.toStdString();
      EXPECT_TRUE(error.contains(QLatin1String(c.refusal)))
          << given.toStdString() << ": " << error.toStdString();
    }
  }
}

TEST_F(PortAddressTest, OneDeviceNamedTwiceIsFound) {
  const auto at = [](const QString& text) {
    QString error;
    const auto a = portAddressOf(text, &error);
    EXPECT_TRUE(a) << error.toStdString();
    return a.value_or(PortAddress{});
  };
  const struct {
    QStringList names;
    const char* found;  // nullptr: all differ
  } cases[] = {
      {{"COM1", "COM2"}, nullptr},
      {{"COM1", "/dev/null"}, nullptr},
      {{"COM1", "COM1"}, "port COM1 named twice"},
      {{"COM1", "@by-id-a"}, "are the same device"},
      {{"@by-id-a", "@by-id-b"}, "are the same device"},
      {{"COM2", "/dev/null", "@by-id-b", "COM1"}, "are the same device"},
  };
  for (const auto& c : cases) {
    QList<PortAddress> addresses;
    for (const QString& n : c.names) addresses << at(n.startsWith('@') ? path(n.mid(1)) : n);
    const auto twice = samePortTwice(addresses);
    if (c.found == nullptr) {
      EXPECT_FALSE(twice) << c.names.join(' ').toStdString();
    } else {
      ASSERT_TRUE(twice) << c.names.join(' ').toStdString();
      EXPECT_TRUE(twice->contains(QLatin1String(c.found))) << twice->toStdString();
    }
  }
}

}  // namespace
}  // namespace zfuse
