#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string>

#include "config/parameterset.h"

namespace zfuse {

// The configuration file: four lines of ASCII text, each ended with CR LF by the writer.
//   config
//   <settings line>   packed currents, power-good byte, times (standard) or switch-off
//   <event line>      event bytes of the signalling port(s)
//   AE081DDD12F256
// Fields are two upper-case hex digits separated by ",", the line closed by ";". The
// standard dialog writes the standard variant, the fuse-variant dialog the fuse variant;
// only the line lengths tell them apart.

inline constexpr const char* kFileHeader = "config";
inline constexpr const char* kFileIdentification = "AE081DDD12F256";

using FileLines = std::array<std::string, 4>;

// The whole file of each variant. `thresholdTenths` is the selected threshold in tenths
// of a volt; a time list without a selection is written as position 0.
std::string standardFileText(const ParameterSet& p, uint8_t thresholdTenths);
std::string zokxFileText(const ZokxParameterSet& p, uint8_t thresholdTenths);

// Longest line kept: enough to fail every length check, however long the line is.
constexpr std::size_t kFileLineCap = 4096;
// Bytes read at the most before the rest of the file is given up on.
constexpr std::size_t kFileReadBudget = 1 << 20;

// The first four lines of a file; a line ends at LF, a CR before it is dropped. A file
// that cannot be opened, or has fewer lines, gives empty strings for the missing ones.
// Reading is bounded: a longer line keeps only its first kFileLineCap + 1 characters,
// and after kFileReadBudget bytes (a huge or endless file) the lines not reached stay
// empty. A FIFO without a writer reads as empty; nothing waits.
FileLines readFileLines(const std::string& path);

// What examining a file yields: the fields it sets, in the order the examination found
// them right, and the number of the last check that failed (0 = none). A character that
// is no hexadecimal digit stops the examination at that field: `badNumber` then holds
// "$" and the character or characters that would not convert, and the fields found so
// far are still to be applied.
template <class Fields>
struct FileExamination {
  Fields fields;
  int check = 0;
  std::optional<std::string> badNumber;
};

FileExamination<StandardFields> examineStandardFile(const FileLines& lines);
FileExamination<ZokxFields> examineZokxFile(const FileLines& lines);

}  // namespace zfuse
