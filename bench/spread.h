#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <vector>

namespace zfuse::bench {

inline double ms(std::chrono::steady_clock::duration d) {
  return std::chrono::duration<double, std::milli>(d).count();
}

// One line: how many samples (milliseconds), their median, 99th percentile, least and most.
inline void printSpread(const char* what, std::vector<double> v) {
  if (v.empty()) {
    std::printf("%s: no samples\n", what);
    return;
  }
  std::sort(v.begin(), v.end());
  auto at = [&](double q) { return v[static_cast<std::size_t>(q * double(v.size() - 1))]; };
  std::printf("%s: n=%zu median %.2f ms, p99 %.2f ms, min %.2f ms, max %.2f ms\n", what, v.size(),
              at(0.5), at(0.99), v.front(), v.back());
}

}  // namespace zfuse::bench
