#include "processing/channelpoints.h"

#include "common/geodesy.h"
#include "common/sidebyside.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace qgrad {

namespace {

// Bit k: channel k has both readings in the row.
using RowChannels = std::uint16_t;
static_assert(kChannels <= 16);

// The channels of data rows [from, to) into `present`, and how many rows
// each channel has there. Column by column: each pass reads one column's
// cell ends in order.
std::array<std::size_t, kChannels> FindPresentChannels(const SurveyTable& arranged, std::size_t from, std::size_t to,
                                                       std::vector<RowChannels>& present) {
    std::array<std::size_t, kChannels> count{};
    for (int k = 0; k < kChannels; ++k) {
        const TextColumn& field = arranged.column(FieldColumn(k));
        const TextColumn& gradient = arranged.column(GradientColumn(k));
        const RowChannels bit = static_cast<RowChannels>(1u << k);
        for (std::size_t r = from; r < to; ++r)
            if (!field[r + kFirstDataRow].empty() && !gradient[r + kFirstDataRow].empty()) {
                present[r] |= bit;
                ++count[k];
            }
    }
    return count;
}

// Numbers the points of data rows [from, to) from `p`, rows first, channels
// second, as the arrangement does, up to point `made`; `next` is where each
// channel's next reading goes, and is left past its last one.
void NumberPoints(const std::vector<RowChannels>& present, std::size_t from, std::size_t to, std::size_t p,
                  std::size_t made, std::array<std::size_t, kChannels>& next, ChannelPoints& index) {
    for (std::size_t r = from; r < to; ++r)
        for (unsigned m = present[r]; m != 0 && p < made; m &= m - 1, ++p) {
            const int k = std::countr_zero(m);
            index.point[k][next[k]] = static_cast<std::uint32_t>(p);
            index.row[k][next[k]++] = static_cast<std::uint32_t>(r);
            index.channel[p] = static_cast<std::uint8_t>(k);
        }
}

}  // namespace

ChannelPoints IndexChannelPoints(const SurveyTable& arranged, std::size_t pointCount) {
    if (pointCount > std::numeric_limits<std::uint32_t>::max() ||
        arranged.dataRowCount() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too many points to process");
    const std::size_t rows = arranged.dataRowCount();
    const std::size_t half = rows / 2;
    std::vector<RowChannels> present(rows, 0);
    std::array<std::size_t, kChannels> before{}, after{};
    RunSideBySide([&] { after = FindPresentChannels(arranged, half, rows, present); },
                  [&] { before = FindPresentChannels(arranged, 0, half, present); });
    std::size_t firstHalf = 0;
    std::size_t total = 0;
    ChannelPoints index;
    for (int k = 0; k < kChannels; ++k) {
        firstHalf += before[k];
        total += before[k] + after[k];
        index.point[k].resize(before[k] + after[k]);
        index.row[k].resize(before[k] + after[k]);
    }
    // Only the points the arrangement made before it stopped, if it did.
    index.complete = total <= pointCount;
    const std::size_t made = std::min(total, pointCount);
    index.channel.resize(made);
    std::array<std::size_t, kChannels> next{};
    if (index.complete) {
        // The second half's readings follow the first half's.
        std::array<std::size_t, kChannels> nextAfter = before;
        RunSideBySide([&] { NumberPoints(present, half, rows, firstHalf, made, nextAfter, index); },
                      [&] { NumberPoints(present, 0, half, 0, made, next, index); });
        return index;
    }
    NumberPoints(present, 0, rows, 0, made, next, index);
    for (int k = 0; k < kChannels; ++k) {
        index.point[k].resize(next[k]);
        index.row[k].resize(next[k]);
    }
    return index;
}

std::array<std::size_t, kChannels> FirstReadingsFrom(const ChannelPoints& index, std::size_t point) {
    std::array<std::size_t, kChannels> first;
    for (int k = 0; k < kChannels; ++k) {
        const std::vector<std::uint32_t>& ps = index.point[k];
        first[k] = static_cast<std::size_t>(std::lower_bound(ps.begin(), ps.end(), point) - ps.begin());
    }
    return first;
}

void ScatterByChannel(const ChannelPoints& index, const PerChannel& values, PointTable table, ArrangedPoints& points) {
    auto scatter = [&](std::size_t from, std::size_t to) {
        const std::array<std::size_t, kChannels> first = FirstReadingsFrom(index, from);
        std::array<const double*, kChannels> next;
        for (int k = 0; k < kChannels; ++k) next[k] = values[k].data() + first[k];
        for (std::size_t p = from; p < to; ++p) points.setValue(table, p, *next[index.channel[p]]++);
    };
    const std::size_t half = index.channel.size() / 2;
    RunSideBySide([&] { scatter(half, index.channel.size()); }, [&] { scatter(0, half); });
}

LocalFrame::LocalFrame(double originLon, double originLat) : lon0_(originLon), lat0_(originLat) {
    metresPerLatDegree_ = kMetresPerDegree;
    metresPerLonDegree_ = metresPerLatDegree_ * std::cos(originLat * std::numbers::pi / 180);
}

}  // namespace qgrad
