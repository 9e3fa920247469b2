#include "config/configfile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace zfuse {

namespace {

std::string hexByte(int value) {
  char text[3];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(value) & 0xFFu);
  return text;
}

std::string fileOf(const std::string& settings, const std::string& events) {
  const char* eol = "\r\n";
  return std::string(kFileHeader) + eol + settings + eol + events + eol + kFileIdentification + eol;
}

int timePosition(int t) {
  return t > 0 ? t : 0;
}

// Converts hex text the way the number conversion of the original program does; a
// character that is no hex digit makes the whole field fail.
struct HexReader {
  const std::string& line;
  std::optional<std::string>& badNumber;

  // Characters are counted from 1.
  std::optional<int> digit(std::size_t at) { return convert(at, 1); }
  std::optional<int> byte(std::size_t at) { return convert(at, 2); }
  bool charIs(std::size_t at, char c) const { return line.size() >= at && line[at - 1] == c; }

 private:
  std::optional<int> convert(std::size_t at, std::size_t count) {
    int value = 0;
    for (std::size_t i = 0; i < count; ++i) {
      const char c = at + i <= line.size() ? line[at + i - 1] : '\0';
      int d = -1;
      if (c >= '0' && c <= '9') d = c - '0';
      if (c >= 'A' && c <= 'F') d = c - 'A' + 10;
      if (c >= 'a' && c <= 'f') d = c - 'a' + 10;
      if (d < 0) {
        badNumber = "$" + line.substr(at - 1, count);
        return std::nullopt;
      }
      value = value * 16 + d;
    }
    return value;
  }
};

// The fields both variants open their settings line with: channels 1 and 2 (separator at
// 3), channels 3 and 4 (at 6), the power-good byte (at 9), which selects its position
// modulo 100. False when a character stopped the examination.
bool examineCurrentsAndThreshold(HexReader& s, std::array<std::optional<int>, 4>& current,
                                 std::optional<int>& pgood, int& check) {
  for (std::size_t pair = 0; pair < 2; ++pair) {
    const std::size_t separator = 3 * pair + 3;
    if (!s.charIs(separator, ',')) {
      check = static_cast<int>(pair + 1);
      continue;
    }
    // Low digit (channel 1 or 3) first, then the high digit.
    const auto low = s.digit(separator - 1);
    if (!low) return false;
    current[2 * pair] = *low;
    const auto high = s.digit(separator - 2);
    if (!high) return false;
    current[2 * pair + 1] = *high;
  }
  if (s.charIs(9, ',')) {
    const auto pg = s.byte(7);
    if (!pg) return false;
    pgood = *pg % 100;
  } else {
    check = 3;
  }
  return true;
}

// The event line: one byte a field, each closed by "," and the last by ";". A field
// whose separator is wrong sets check `firstCheck` + its index; a line of the wrong
// length sets the number after those and is not examined.
template <class Exam>
void examineEventLine(const std::string& line,
                      std::initializer_list<std::optional<uint8_t>*> fields, int firstCheck,
                      Exam& r) {
  const std::size_t count = fields.size();
  if (line.size() != 3 * count) {
    r.check = firstCheck + static_cast<int>(count);
    return;
  }
  HexReader e{line, r.badNumber};
  std::size_t i = 0;
  for (std::optional<uint8_t>* field : fields) {
    if (e.charIs(3 * i + 3, i + 1 < count ? ',' : ';')) {
      const auto b = e.byte(3 * i + 1);
      if (!b) return;
      *field = static_cast<uint8_t>(*b);
    } else {
      r.check = firstCheck + static_cast<int>(i);
    }
    ++i;
  }
}

// The header and identification lines: their lengths first, then their texts.
int headerCheck(const FileLines& l, int lengthCheck, int textCheck) {
  if (l[0].size() != 6 || l[3].size() != 14) return lengthCheck;
  if (l[0] != kFileHeader || l[3] != kFileIdentification) return textCheck;
  return 0;
}

}  // namespace

std::string standardFileText(const ParameterSet& p, uint8_t thresholdTenths) {
  const std::string settings =
      hexByte(packPositions(p.current_index[0], p.current_index[1])) + "," +
      hexByte(packPositions(p.current_index[2], p.current_index[3])) + "," +
      hexByte(thresholdTenths) + "," +
      hexByte(packPositions(timePosition(p.time_index[0]), timePosition(p.time_index[1]))) + "," +
      hexByte(packPositions(timePosition(p.time_index[2]), timePosition(p.time_index[3]))) + ";";
  const std::string events = hexByte(p.port1_byte1) + "," + hexByte(p.port1_byte2) + "," +
                             hexByte(p.port2_byte1) + "," + hexByte(p.port2_byte2) + ";";
  return fileOf(settings, events);
}

std::string zokxFileText(const ZokxParameterSet& p, uint8_t thresholdTenths) {
  const std::string settings =
      hexByte(packPositions(p.current_index[0], p.current_index[1])) + "," +
      hexByte(packPositions(p.current_index[2], p.current_index[3])) + "," +
      hexByte(thresholdTenths) + "," + hexByte(timePosition(p.switch_off_index)) + ";";
  const std::string events = hexByte(p.port1_byte1) + "," + hexByte(p.port1_byte2) + ";";
  return fileOf(settings, events);
}

FileLines readFileLines(const std::string& path) {
  FileLines lines;
  // Non-blocking, so that a FIFO neither waits for a writer nor for its next bytes.
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return lines;
  std::size_t line = 0;
  std::size_t budget = kFileReadBudget;
  char chunk[4096];
  while (line < lines.size() && budget > 0) {
    const ssize_t n = ::read(fd, chunk, std::min(sizeof chunk, budget));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // end of file, nothing more to be had now, or an error
    budget -= static_cast<std::size_t>(n);
    for (ssize_t i = 0; i < n && line < lines.size(); ++i) {
      const char c = chunk[i];
      std::string& text = lines[line];
      if (c == '\n') {
        if (!text.empty() && text.back() == '\r' && text.size() <= kFileLineCap) text.pop_back();
        ++line;
      } else if (text.size() <= kFileLineCap) {
        text.push_back(c);
      }
    }
  }
  ::close(fd);
  return lines;
}

FileExamination<StandardFields> examineStandardFile(const FileLines& l) {
  FileExamination<StandardFields> r;
  StandardFields& f = r.fields;
  r.check = headerCheck(l, 13, 12);
  if (r.check) return r;

  HexReader s{l[1], r.badNumber};
  if (l[1].size() == 15) {
    if (!examineCurrentsAndThreshold(s, f.current, f.pgood_index, r.check)) return r;
    // The time lists follow whatever the current lists now show.
    f.rebuildTimeLists = true;
    // A time digit of 5 or more is not applied; what the rebuild selected stays.
    const auto time = [&](std::size_t at, int channel) {
      const auto t = s.digit(at);
      if (!t) return false;
      if (*t < 5) f.time[channel] = *t;
      return true;
    };
    if (s.charIs(12, ',')) {
      if (!time(11, 0) || !time(10, 1)) return r;
    } else {
      r.check = 4;
    }
    if (s.charIs(15, ';')) {
      if (!time(14, 2) || !time(13, 3)) return r;
    } else {
      r.check = 5;
    }
  } else {
    r.check = 6;
  }

  examineEventLine(l[2], {&f.port1_byte1, &f.port1_byte2, &f.port2_byte1, &f.port2_byte2}, 7, r);
  return r;
}

FileExamination<ZokxFields> examineZokxFile(const FileLines& l) {
  FileExamination<ZokxFields> r;
  ZokxFields& f = r.fields;
  r.check = headerCheck(l, 14, 13);
  if (r.check) return r;

  HexReader s{l[1], r.badNumber};
  if (l[1].size() == 12) {
    if (!examineCurrentsAndThreshold(s, f.current, f.pgood_index, r.check)) return r;
    if (s.charIs(12, ';')) {
      const auto off = s.byte(10);
      if (!off) return r;
      f.switch_off_index = *off;
    } else {
      r.check = 4;
    }
  } else {
    r.check = 5;
  }

  examineEventLine(l[2], {&f.port1_byte1, &f.port1_byte2}, 10, r);
  return r;
}

}  // namespace zfuse
