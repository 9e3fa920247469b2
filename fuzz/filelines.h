#pragma once

#include <cstddef>
#include <cstdint>

#include "config/configfile.h"

namespace zfuse::fuzz {

// The file's first four lines, as the reader cuts them.
inline zfuse::FileLines linesOf(const uint8_t* data, std::size_t size) {
  zfuse::FileLines lines;
  std::size_t line = 0;
  for (std::size_t i = 0; i < size && line < lines.size(); ++i) {
    if (data[i] == '\n') {
      if (!lines[line].empty() && lines[line].back() == '\r') lines[line].pop_back();
      ++line;
    } else if (lines[line].size() <= zfuse::kFileLineCap) {
      lines[line].push_back(static_cast<char>(data[i]));
    }
  }
  return lines;
}

}  // namespace zfuse::fuzz
