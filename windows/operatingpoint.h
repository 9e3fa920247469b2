#pragma once

#include <array>
#include <optional>
#include <vector>

#include "monitor/statustelegram.h"

namespace zfuse {

// Where a channel's load stands on the trip characteristic, in the units of the
// characteristic drawing (903 × 573): its current axis runs from 1 × I_N at x = 110,
// 350 units per multiple of the rated current, to its end at x = 870; its time axis has
// 100 s at y = 110 and 85 units per decade downwards.
namespace characteristic {
inline constexpr double kAxisStartX = 110;
inline constexpr double kAxisEndX = 870;
inline constexpr double kUnitsPerMultiple = 350;
inline constexpr double kAxisY = 470;  // the current axis
inline constexpr double kTopY = 40;    // where the time axis ends
inline constexpr double kHundredSecondsY = 110;
inline constexpr double kUnitsPerDecade = 85;

// The x of a load (multiples of the rated current), held at the axis ends.
double loadX(double load);
// The y of a trip time in seconds.
double timeY(double seconds);
// The trip time the staircase gives for a load above 1.2 × I_N: 3.16 s up to 1.5, 0.316 s
// up to 1.8, 0.1 s up to 2.5, 0.01 s beyond. A step belongs to the level left of it (a
// load of exactly 1.5 trips after 3.16 s). Nothing at 1.2 and below, where the drawing
// stays at 100 s or does not trip.
std::optional<double> tripTime(double load);
}  // namespace characteristic

struct OperatingPoint {
  int channel = 0;
  double load = 0;  // present current / rated current
  double x = 0;     // drawing units, within the axis
  bool clipped = false;
  std::optional<double> tripSeconds;  // the fuse variants' staircase; never for the standard model
  // The channel has tripped: the load is that of the last telegram before the trip
  // (nullopt when none came before it).
  bool tripped = false;
  bool loadKnown = true;
  // Below 1 × I_N, left of the current axis: listed beside the drawing, not on it.
  bool belowAxis() const { return load < 1.0 || !loadKnown; }
};

// One point per switched-on channel of the reading. `beforeTrip` holds each channel's
// load of the last telegram before it tripped (nullopt: none seen); a tripped channel's
// point stands at that load.
std::vector<OperatingPoint> operatingPoints(
    const StatusReading& reading, const std::array<std::optional<double>, 4>& beforeTrip = {});
// Each switched-on channel's load in a reading, nullopt for the others.
std::array<std::optional<double>, 4> channelLoads(const StatusReading& reading);

}  // namespace zfuse
