// The arranged points seen channel by channel: which points a sensor laid
// down, in the order of its readings, and where they lie in metres.
#pragma once

#include "arrange/arrangedpoints.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

#include <array>
#include <cstdint>
#include <vector>

namespace qgrad {

struct ChannelPoints {
    // Per channel: the index of each of its points, in row order, and the
    // data row (0 for the first sample row) it came from.
    std::array<std::vector<std::uint32_t>, kChannels> point;
    std::array<std::vector<std::uint32_t>, kChannels> row;
    // Every row and channel with both readings has its point: the
    // arrangement ran to the end.
    bool complete = true;
};

// The points of an arranged table, of which `pointCount` were made: one for
// each row and channel with both readings present, rows first.
ChannelPoints IndexChannelPoints(const SurveyTable& arranged, std::size_t pointCount);

// A plane around one position: metres east and north on the sphere of the
// track distances. Enough for the few kilometres of a survey or a folder.
class LocalFrame {
public:
    LocalFrame(double originLon, double originLat);
    double East(double lon) const { return (lon - lon0_) * metresPerLonDegree_; }
    double North(double lat) const { return (lat - lat0_) * metresPerLatDegree_; }

private:
    double lon0_, lat0_;
    double metresPerLonDegree_, metresPerLatDegree_;
};

}  // namespace qgrad
