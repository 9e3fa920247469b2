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

std::array<std::optional<double>, 4> channelLoads(const StatusReading& r) {
  std::array<std::optional<double>, 4> loads;
  for (int ch = 0; ch < r.channels(); ++ch) {
    // Hundredths of an ampere over whole amperes.
    if (r.channelOn(ch)) loads[ch] = double(r.present[ch]) / (100.0 * r.rated[ch]);
  }
  return loads;
}

std::vector<OperatingPoint> operatingPoints(
    const StatusReading& r, const std::array<std::optional<double>, 4>& beforeTrip) {
  std::vector<OperatingPoint> points;
  const std::array<std::optional<double>, 4> loads = channelLoads(r);
  for (int ch = 0; ch < r.channels(); ++ch) {
    if (!loads[ch]) continue;
    OperatingPoint p;
    p.channel = ch;
    p.load = *loads[ch];
    if (r.tripped(ch)) {
      // The present current of a tripped channel is gone; what tripped it is the load
      // before.
      p.tripped = true;
      p.loadKnown = beforeTrip[ch].has_value();
      if (p.loadKnown) p.load = *beforeTrip[ch];
    }
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
