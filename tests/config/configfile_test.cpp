#include "config/configfile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>

#include "monitor/statustelegram.h"

namespace zfuse {
namespace {

FileLines lines(const std::string& settings, const std::string& events,
                const std::string& header = "config", const std::string& id = "AE081DDD12F256") {
  return {header, settings, events, id};
}

TEST(ConfigFileWriter, FactorySettingsOfEachDialogByteForByte) {
  EXPECT_EQ(standardFileText(standardFactorySet(), 214),
            "config\r\n88,88,D6,00,00;\r\n02,80,08,C0;\r\nAE081DDD12F256\r\n");

  EXPECT_EQ(zokxFileText(zokxFactorySet(kType4ch10A), 214),
            "config\r\nAA,AA,D6,07;\r\nAA,C0;\r\nAE081DDD12F256\r\n");
}

TEST(ConfigFileWriter, TimesWithoutSelectionArePositionZero) {
  ParameterSet p;
  p.current_index = {0, 1, 5, 0};  // channel 1 OFF
  p.time_index = {-1, 2, 0, -1};   // no time where OFF; channel 2 at position 2
  p.pgood_index = 40;
  EXPECT_EQ(standardFileText(p, 240),
            "config\r\n10,05,F0,20,00;\r\n00,00,00,00;\r\nAE081DDD12F256\r\n");
}

// Each variant's examination: a file that fails one check alone, and what it sets.
struct ExamCase {
  const char* name;
  FileLines file;
  int check;
};

TEST(StandardFileExamination, EachCheckNumberAlone) {
  const ExamCase cases[] = {
      {"good", lines("88,88,D6,00,00;", "02,80,08,C0;"), 0},
      {"separator 3", lines("88;88,D6,00,00;", "02,80,08,C0;"), 1},
      {"separator 6", lines("88,88;D6,00,00;", "02,80,08,C0;"), 2},
      {"separator 9", lines("88,88,D6;00,00;", "02,80,08,C0;"), 3},
      {"separator 12", lines("88,88,D6,00;00;", "02,80,08,C0;"), 4},
      {"separator 15", lines("88,88,D6,00,00,", "02,80,08,C0;"), 5},
      {"settings length", lines("88,88,D6,00,00", "02,80,08,C0;"), 6},
      {"event separator 3", lines("88,88,D6,00,00;", "02;80,08,C0;"), 7},
      {"event separator 6", lines("88,88,D6,00,00;", "02,80;08,C0;"), 8},
      {"event separator 9", lines("88,88,D6,00,00;", "02,80,08;C0;"), 9},
      {"event separator 12", lines("88,88,D6,00,00;", "02,80,08,C0,"), 10},
      {"event length", lines("88,88,D6,00,00;", "02,80,08,C0;;"), 11},
      {"Config", lines("88,88,D6,00,00;", "02,80,08,C0;", "Config"), 12},
      {"identification", lines("88,88,D6,00,00;", "02,80,08,C0;", "config", "AE081DDD12F257"), 12},
      {"trailing space", lines("88,88,D6,00,00;", "02,80,08,C0;", "config", "AE081DDD12F256 "), 13},
      {"empty", FileLines{}, 13},
      {"several: the last one wins", lines("88;88,D6,00,00,", "02,80,08;C0;"), 9},
      {"fuse-variant file", lines("AA,AA,D6,07;", "AA,C0;"), 11},
  };
  for (const auto& c : cases) {
    const auto r = examineStandardFile(c.file);
    EXPECT_EQ(r.check, c.check) << c.name;
    EXPECT_FALSE(r.badNumber) << c.name;
  }
}

TEST(ZokxFileExamination, EachCheckNumberAlone) {
  const ExamCase cases[] = {
      {"good", lines("AA,AA,D6,07;", "AA,C0;"), 0},
      {"separator 3", lines("AA;AA,D6,07;", "AA,C0;"), 1},
      {"separator 6", lines("AA,AA;D6,07;", "AA,C0;"), 2},
      {"separator 9", lines("AA,AA,D6;07;", "AA,C0;"), 3},
      {"separator 12", lines("AA,AA,D6,07,", "AA,C0;"), 4},
      {"settings length", lines("AA,AA,D6,07", "AA,C0;"), 5},
      {"event separator 3", lines("AA,AA,D6,07;", "AA;C0;"), 10},
      {"event separator 6", lines("AA,AA,D6,07;", "AA,C0,"), 11},
      {"event length", lines("AA,AA,D6,07;", "AA,C0"), 12},
      {"Config", lines("AA,AA,D6,07;", "AA,C0;", "Config"), 13},
      {"trailing space", lines("AA,AA,D6,07;", "AA,C0;", "config", "AE081DDD12F256 "), 14},
      {"empty", FileLines{}, 14},
      {"several: the last one wins", lines("AA;AA,D6,07,", "AA;C0;"), 10},
      {"standard file", lines("88,88,D6,00,00;", "02,80,08,C0;"), 12},
  };
  for (const auto& c : cases) {
    const auto r = examineZokxFile(c.file);
    EXPECT_EQ(r.check, c.check) << c.name;
    EXPECT_FALSE(r.badNumber) << c.name;
  }
}

TEST(StandardFileExamination, FieldsFoundRightAreApplied) {
  // First separator wrong: channels 1 and 2 are not taken, the rest is.
  const auto r = examineStandardFile(lines("a1;5b,64,41,23;", "ff,c3,0a,41;"));
  EXPECT_EQ(r.check, 1);
  EXPECT_FALSE(r.fields.current[0]);
  EXPECT_FALSE(r.fields.current[1]);
  EXPECT_EQ(r.fields.current[2], 0x0B);  // lower-case hex loads
  EXPECT_EQ(r.fields.current[3], 0x05);
  EXPECT_EQ(r.fields.pgood_index, 0);  // 0x64 = 100, modulo 100
  EXPECT_TRUE(r.fields.rebuildTimeLists);
  EXPECT_FALSE(r.fields.timeListCurrent[0]);  // rebuilt from what the lists show
  EXPECT_EQ(r.fields.time[0], 1);
  EXPECT_EQ(r.fields.time[1], 4);
  EXPECT_EQ(r.fields.time[2], 3);
  EXPECT_EQ(r.fields.time[3], 2);
  EXPECT_EQ(r.fields.port1_byte1, 0xFF);
  EXPECT_EQ(r.fields.port1_byte2, 0xC3);
  EXPECT_EQ(r.fields.port2_byte1, 0x0A);
  EXPECT_EQ(r.fields.port2_byte2, 0x41);

  // Time digits of 5 and more select nothing new.
  const auto high = examineStandardFile(lines("88,88,D6,5F,90;", "00,00,00,00;"));
  EXPECT_EQ(high.check, 0);
  EXPECT_FALSE(high.fields.time[0]);
  EXPECT_FALSE(high.fields.time[1]);
  EXPECT_EQ(high.fields.time[2], 0);
  EXPECT_FALSE(high.fields.time[3]);
  // The other variant's file changes nothing.
  const auto foreign = examineStandardFile(lines("AA,AA,D6,07;", "AA,C0;"));
  EXPECT_FALSE(foreign.fields.rebuildTimeLists);
  EXPECT_FALSE(foreign.fields.current[0] || foreign.fields.pgood_index ||
               foreign.fields.port1_byte1);
}

TEST(ZokxFileExamination, FieldsFoundRightAreApplied) {
  const auto r = examineZokxFile(lines("b6,2f,F0,0A;", "81,7e;"));
  EXPECT_EQ(r.check, 0);
  EXPECT_EQ(r.fields.current, (std::array<std::optional<int>, 4>{6, 0xB, 0xF, 2}));
  EXPECT_EQ(r.fields.pgood_index, 40);
  EXPECT_EQ(r.fields.switch_off_index, 10);  // beyond the list: the dialog selects nothing
  EXPECT_EQ(r.fields.port1_byte1, 0x81);
  EXPECT_EQ(r.fields.port1_byte2, 0x7E);
}

TEST(ConfigFileExamination, NonHexCharacterStopsAtThatField) {
  // Standard: currents and threshold are set, the time of channel 2 stops the load.
  const auto s = examineStandardFile(lines("21,34,D6,G0,00;", "02,80,08,C0;"));
  ASSERT_EQ(s.badNumber, "$G");
  EXPECT_EQ(s.fields.current[1], 2);
  EXPECT_EQ(s.fields.pgood_index, 14);
  EXPECT_TRUE(s.fields.rebuildTimeLists);
  EXPECT_EQ(s.fields.time[0], 0);  // low digit first
  EXPECT_FALSE(s.fields.time[1]);
  EXPECT_FALSE(s.fields.port1_byte1);
  // A byte names both its characters.
  EXPECT_EQ(examineStandardFile(lines("88,88,X6,00,00;", "02,80,08,C0;")).badNumber, "$X6");
  // Fuse variant: the event byte stops it; the settings stay.
  const auto z = examineZokxFile(lines("AA,AA,D6,07;", "A ,C0;"));
  ASSERT_EQ(z.badNumber, "$A ");
  EXPECT_EQ(z.fields.switch_off_index, 7);
  EXPECT_FALSE(z.fields.port1_byte1);
  EXPECT_FALSE(z.fields.port1_byte2);
}

class FileReading : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zfuse-file-XXXXXX";
    ASSERT_TRUE(mkdtemp(pattern));
    dir = pattern;
  }
  void TearDown() override { std::system(("rm -rf " + dir).c_str()); }
  std::string write(const std::string& name, const std::string& content) {
    const std::string path = dir + "/" + name;
    std::ofstream(path, std::ios::binary) << content;
    return path;
  }
  std::string dir;
};

TEST_F(FileReading, LineEndsAndMissingLines) {
  const FileLines crlf = readFileLines(write("a.txt", "config\r\nB\r\nC\r\nD\r\nrest\r\n"));
  EXPECT_EQ(crlf, (FileLines{"config", "B", "C", "D"}));
  EXPECT_EQ(readFileLines(write("b.txt", "config\nB\nC\nD")), (FileLines{"config", "B", "C", "D"}));
  EXPECT_EQ(readFileLines(write("c.txt", "config\r\nB\r\n")), (FileLines{"config", "B", "", ""}));
  EXPECT_EQ(readFileLines(write("d.txt", "")), FileLines{});
  EXPECT_EQ(readFileLines(dir + "/missing.txt"), FileLines{});
  EXPECT_EQ(readFileLines(dir), FileLines{});  // a folder reads as nothing
}

TEST_F(FileReading, HugeEndlessAndWaitingFilesCostNeitherMemoryNorTime) {
  // An overlong second line still leaves the lines after it readable.
  const std::string longLine(3 * kFileLineCap, 'A');
  const FileLines l = readFileLines(
      write("long.txt", "config\r\n" + longLine + "\r\nAA,C0;\r\nAE081DDD12F256\r\n"));
  EXPECT_EQ(l[1].size(), kFileLineCap + 1);
  EXPECT_EQ(examineZokxFile(l).check, 5);

  const std::string huge(8 << 20, 'x');
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(examineZokxFile(readFileLines(write("huge.txt", huge))).check, 14);
  EXPECT_EQ(examineStandardFile(readFileLines("/dev/zero")).check, 13);
  const std::string fifo = dir + "/fifo";
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(readFileLines(fifo), FileLines{});  // no writer: nothing to wait for
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
}

}  // namespace
}  // namespace zfuse
