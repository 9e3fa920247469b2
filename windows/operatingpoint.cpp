#include "windows/operatingpoint.h"

#include <algorithm>
#include <cmath>

namespace zfuse {

namespace characteristic {

double loadX(double load) {
  return std::clamp(kAxisStartX + (load - 1.0) * kUnitsPerMultiple, kAxisStartX, kAxisEndX);
}

double timeY(double seconds) {
  return kHundredSecondsY + (2.0 - std::log10(seconds)) * kUnitsPerDecade;
}

std::optional<double> tripTime(double load) {
  // The levels halfway between two decades on the logarithmic scale.
  struct Step {
    double upTo;
    double seconds;
  };
  static const Step steps[] = {{1.5, std::sqrt(10.0)}, {1.8, std::sqrt(0.1)}, {2.5, 0.1}};
  if (!(load > 1.2)) return std::nullopt;
  for (const Step& s : steps) {
    if (load <= s.upTo) return s.seconds;
  }
  return 0.01;
}

}  // namespace characteristic

std::vector<OperatingPoint> operatingPoints(const StatusReading& r) {
  std::vector<OperatingPoint> points;
  for (int ch = 0; ch < r.channels(); ++ch) {
    if (!r.channelOn(ch)) continue;
    OperatingPoint p;
    p.channel = ch;
    // Hundredths of an ampere over whole amperes.
    p.load = double(r.present[ch]) / (100.0 * r.rated[ch]);
    const double unclipped =
        characteristic::kAxisStartX + (p.load - 1.0) * characteristic::kUnitsPerMultiple;
    p.x = characteristic::loadX(p.load);
    p.clipped = p.x != unclipped;
    if (isFuseVariant(r.type)) p.tripSeconds = characteristic::tripTime(p.load);
    points.push_back(p);
  }
  return points;
}

}  // namespace zfuse
