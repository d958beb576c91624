// Traverses: the straight stretches of a track between its turns.
#pragma once

#include "processing/settings.h"

#include <cstddef>
#include <vector>

namespace qgrad {

// A track in metres east (x) and north (y), one position per reading.
struct TrackXY {
    std::vector<double> x;
    std::vector<double> y;
};

// One traverse: readings [begin, end) of the track, of which [straightBegin,
// straightEnd) are not turning.
struct Traverse {
    std::size_t begin = 0, end = 0;
    std::size_t straightBegin = 0, straightEnd = 0;
};

// The traverses of `track`, in order, covering it. Each run of readings
// where the track turns is split in its middle between the traverses before
// and after it. Within the first and last smoothing length of the track no
// reading is turning, so a track without turns is one traverse.
std::vector<Traverse> SplitTraverses(const TrackXY& track, const TurnSettings& turns);

// The compass bearing, degrees clockwise from north in [0, 360), from
// reading `first` to reading `last` of the track; 0 when they coincide.
double Bearing(const TrackXY& track, std::size_t first, std::size_t last);

}  // namespace qgrad
