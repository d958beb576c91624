// The arranged points seen channel by channel: which points a sensor laid
// down, in the order of its readings, and where they lie in metres.
#pragma once

#include "arrange/arrangedpoints.h"
#include "common/sidebyside.h"
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
    // The channel of each point.
    std::vector<std::uint8_t> channel;
    // Every row and channel with both readings has its point: the
    // arrangement ran to the end.
    bool complete = true;
};

// The points of an arranged table, of which `pointCount` were made: one for
// each row and channel with both readings present, rows first.
ChannelPoints IndexChannelPoints(const SurveyTable& arranged, std::size_t pointCount);

inline constexpr PointTable kPointTables[] = {PointTable::Absolute, PointTable::Gradient};

using PerChannel = std::array<std::vector<double>, kChannels>;

// Where each half of the points begins in each channel's readings: the two
// cores gather and scatter a half each.
std::array<std::size_t, kChannels> FirstReadingsFrom(const ChannelPoints& index, std::size_t point);

// `get(p)` of every point p into `out`, gathered by channel in each
// channel's row order, in one pass over the points: a channel's points lie a
// row apart, and going channel by channel would read the whole point table
// once per channel. `out` keeps its memory from one gathering to the next.
template <typename Get>
void GatherByChannel(const ChannelPoints& index, Get&& get, PerChannel& out) {
    for (int k = 0; k < kChannels; ++k) out[k].resize(index.point[k].size());
    const std::size_t half = index.channel.size() / 2;
    auto gather = [&](std::size_t from, std::size_t to) {
        const std::array<std::size_t, kChannels> first = FirstReadingsFrom(index, from);
        std::array<double*, kChannels> next;
        for (int k = 0; k < kChannels; ++k) next[k] = out[k].data() + first[k];
        for (std::size_t p = from; p < to; ++p) *next[index.channel[p]]++ = get(p);
    };
    RunSideBySide([&] { gather(half, index.channel.size()); }, [&] { gather(0, half); });
}

// Sets the values of one table from `values`, gathered as GatherByChannel does.
void ScatterByChannel(const ChannelPoints& index, const PerChannel& values, PointTable table, ArrangedPoints& points);

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
