// Port selection and polling of the monitoring connection, against a scripted line.

#include "link/connection.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace zfuse {
namespace {

struct Journal {
  std::vector<std::string> events;
  bool openSucceeds = true;
  std::function<void(const QByteArray&)> watcher;  // the line's way of handing on bytes
  bool* lineOpen = nullptr;                        // the line's own state, for a hang-up
};

class ScriptedLine : public SerialLine {
 public:
  explicit ScriptedLine(Journal& j) : j_(j) { j_.lineOpen = &open_; }
  bool open(const QString& name) override {
    j_.events.push_back("open " + name.toStdString());
    open_ = j_.openSucceeds;
    return open_;
  }
  void setTimeouts(const LineTimeouts& t) override {
    j_.events.push_back(
        "timeouts " + std::to_string(t.readInterval) + "/" + std::to_string(t.readTotalMultiplier) +
        "/" + std::to_string(t.readTotalConstant) + "/" + std::to_string(t.writeTotalMultiplier) +
        "/" + std::to_string(t.writeTotalConstant));
  }
  qint64 write(const QByteArray&) override {
    j_.events.push_back("write");
    return 0;
  }
  QByteArray read(int maxBytes) override {
    j_.events.push_back("read " + std::to_string(maxBytes));
    return {};
  }
  void clearInput() override { j_.events.push_back("clear"); }
  void watch(std::function<void(const QByteArray&)> onBytes) override {
    j_.events.push_back("watch");
    j_.watcher = std::move(onBytes);
  }
  void close() override {
    j_.events.push_back("close");
    open_ = false;
  }
  bool isOpen() const override { return open_; }

 private:
  Journal& j_;
  bool open_ = false;
};

class PortConnectionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    connection.setClock([this] { return now; });
  }
  Journal journal;
  std::vector<uint8_t> received;
  qint64 now = 100000;  // milliseconds
  PortConnection connection{
      [this](const QByteArray& b) { received.insert(received.end(), b.begin(), b.end()); },
      [this] { return std::make_unique<ScriptedLine>(journal); }};
  PortChoice choice{connection};
  void tick(int selector) { choice.pollTick(selector); }
  long opens(const char* what) {
    return std::count(journal.events.begin(), journal.events.end(), std::string(what));
  }
};

TEST_F(PortConnectionTest, FirstTickOpensCom1WithTheMonitorSettings) {
  tick(0);
  EXPECT_EQ(journal.events,
            (std::vector<std::string>{"open COM1", "timeouts 3/1/60/1/3", "watch"}));
  EXPECT_TRUE(choice.com_opened_once);
  EXPECT_EQ(choice.com_name, "COM1");
  EXPECT_EQ(choice.com_number, 1);
}

TEST_F(PortConnectionTest, FirstTickOpensCom1EvenWhenAnotherPortIsChosenThenSwitches) {
  tick(2);
  EXPECT_EQ(journal.events,
            (std::vector<std::string>{"open COM1", "timeouts 3/1/60/1/3", "watch", "close",
                                      "open COM3", "timeouts 3/1/60/1/3", "watch"}));
  EXPECT_EQ(choice.com_name, "COM3");
  EXPECT_EQ(choice.com_number, 3);
}

TEST_F(PortConnectionTest, SamePortIsNotReopenedAndAnotherOneIs) {
  tick(0);
  journal.events.clear();
  tick(0);
  EXPECT_TRUE(journal.events.empty());  // the tick never reads
  journal.events.clear();
  tick(10);
  EXPECT_EQ(journal.events,
            (std::vector<std::string>{"close", "open COM11", "timeouts 3/1/60/1/3", "watch"}));
  EXPECT_EQ(choice.com_name, "COM11");
}

TEST_F(PortConnectionTest, EveryByteIsHandedOnInOrderAsItArrives) {
  tick(0);
  ASSERT_TRUE(journal.watcher);
  journal.watcher(QByteArray("\xE4\x17\x00", 3));
  journal.watcher(QByteArray("\x16", 1));
  EXPECT_EQ(received, (std::vector<uint8_t>{0xE4, 0x17, 0x00, 0x16}));
  EXPECT_EQ(std::count(journal.events.begin(), journal.events.end(), "read 60"), 0);
}

TEST_F(PortConnectionTest, PortThatCannotOpenIsTriedAgainEveryHalfSecond) {
  journal.openSucceeds = false;
  tick(0);
  for (int t = 0; t < 9; ++t) {
    now += 50;
    tick(0);
  }
  EXPECT_EQ(opens("open COM1"), 1);  // 450 ms: not yet
  now += 50;
  tick(0);
  EXPECT_EQ(opens("open COM1"), 2);
  journal.openSucceeds = true;
  now += 500;
  tick(0);
  EXPECT_TRUE(connection.isOpen());
  EXPECT_EQ(opens("open COM1"), 3);
  now += 5000;
  tick(0);
  EXPECT_EQ(opens("open COM1"), 3);  // an open port is left alone
}

TEST_F(PortConnectionTest, LostPortIsReopenedByNameAndClosedOneIsNot) {
  tick(2);
  ASSERT_TRUE(connection.isOpen());
  journal.events.clear();
  *journal.lineOpen = false;  // a hang-up: the line closed itself
  now += 500;
  tick(2);
  EXPECT_EQ(journal.events,
            (std::vector<std::string>{"open COM3", "timeouts 3/1/60/1/3", "watch"}));
  EXPECT_TRUE(connection.isOpen());

  choice.schliessecom();  // a configuration dialog takes the device
  journal.events.clear();
  now += 5000;
  tick(2);
  EXPECT_TRUE(journal.events.empty());
  choice.oeffnecom();
  EXPECT_TRUE(connection.isOpen());
  EXPECT_EQ(connection.portName(), "COM3");
}

TEST_F(PortConnectionTest, StartPortOpensFirst) {
  choice.setStartPort(4);
  tick(3);
  EXPECT_EQ(journal.events.front(), "open COM4");
  EXPECT_EQ(opens("close"), 0);
  EXPECT_EQ(choice.com_name, "COM4");
}

TEST_F(PortConnectionTest, ReopenAfterADialogUsesThePortChosenBefore) {
  tick(4);
  choice.schliessecom();
  journal.events.clear();
  choice.oeffnecom();
  EXPECT_EQ(journal.events.front(), "open COM5");
}

}  // namespace
}  // namespace zfuse
