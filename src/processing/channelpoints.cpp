#include "processing/channelpoints.h"

#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace qgrad {

ChannelPoints IndexChannelPoints(const SurveyTable& arranged, std::size_t pointCount) {
    if (pointCount > std::numeric_limits<std::uint32_t>::max() ||
        arranged.dataRowCount() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("too many points to process");
    ChannelPoints index;
    std::uint32_t p = 0;
    for (int k = 0; k < kChannels; ++k) {
        // One pass over each channel's pair of columns; the point of a row
        // and channel is counted from the rows above and channels before it.
        const TextColumn& field = arranged.column(FieldColumn(k));
        const TextColumn& gradient = arranged.column(GradientColumn(k));
        for (std::size_t r = kFirstDataRow; r < arranged.rowCount(); ++r)
            if (!field[r].empty() && !gradient[r].empty())
                index.row[k].push_back(static_cast<std::uint32_t>(r - kFirstDataRow));
    }
    // Number the points rows first, channels second, as the arrangement does.
    std::array<std::size_t, kChannels> next{};
    for (int k = 0; k < kChannels; ++k) index.point[k].resize(index.row[k].size());
    index.channel.reserve(pointCount);
    const std::size_t rows = arranged.dataRowCount();
    for (std::size_t r = 0; r < rows; ++r)
        for (int k = 0; k < kChannels; ++k)
            if (next[k] < index.row[k].size() && index.row[k][next[k]] == r) {
                index.point[k][next[k]++] = p++;
                if (p <= pointCount) index.channel.push_back(static_cast<std::uint8_t>(k));
            }
    index.complete = p <= pointCount;
    if (!index.complete) {
        // Keep only the points the arrangement made before it stopped.
        for (int k = 0; k < kChannels; ++k) {
            std::size_t keep = 0;
            while (keep < index.point[k].size() && index.point[k][keep] < pointCount) ++keep;
            index.point[k].resize(keep);
            index.row[k].resize(keep);
        }
    }
    return index;
}

void ScatterByChannel(const ChannelPoints& index, const PerChannel& values, PointTable table, ArrangedPoints& points) {
    std::array<const double*, kChannels> next;
    for (int k = 0; k < kChannels; ++k) next[k] = values[k].data();
    for (std::size_t p = 0; p < index.channel.size(); ++p) points.setValue(table, p, *next[index.channel[p]]++);
}

LocalFrame::LocalFrame(double originLon, double originLat) : lon0_(originLon), lat0_(originLat) {
    constexpr double kRadius = 6378137.0;  // the sphere of the track distances
    metresPerLatDegree_ = kRadius * std::numbers::pi / 180;
    metresPerLonDegree_ = metresPerLatDegree_ * std::cos(originLat * std::numbers::pi / 180);
}

}  // namespace qgrad
