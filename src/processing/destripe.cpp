#include "processing/destripe.h"

#include "processing/robust.h"
#include "processing/sidebyside.h"
#include "processing/traverses.h"

#include <algorithm>
#include <cmath>
#include <numeric>

namespace qgrad {
namespace {

// The value at `percentile` of the readings (linear between ranks); moves
// that rank into place.
double Percentile(std::vector<double>& v, double percentile) {
    const double rank = percentile / 100 * static_cast<double>(v.size() - 1);
    const std::size_t lower = static_cast<std::size_t>(std::floor(rank));
    std::nth_element(v.begin(), v.begin() + static_cast<std::ptrdiff_t>(lower), v.end());
    const double low = v[lower];
    if (lower + 1 >= v.size()) return low;
    const double high = *std::min_element(v.begin() + static_cast<std::ptrdiff_t>(lower) + 1, v.end());
    return low + (rank - static_cast<double>(lower)) * (high - low);
}

// The traverses of the channel's track.
std::vector<Traverse> ChannelTraverses(const ArrangedPoints& points, const std::vector<std::uint32_t>& ps,
                                   const DestripeSettings& settings, TrackXY& track) {
    const LocalFrame frame(points.lon(ps.front()), points.lat(ps.front()));
    track.x.resize(ps.size());
    track.y.resize(ps.size());
    for (std::size_t i = 0; i < ps.size(); ++i) {
        track.x[i] = frame.East(points.lon(ps[i]));
        track.y[i] = frame.North(points.lat(ps[i]));
    }
    return SplitTraverses(track, settings.turns);
}

void DestripeChannel(ArrangedPoints& points, const ChannelPoints& index, int k, const DestripeSettings& settings,
                     std::vector<TraverseLevel>& out) {
    const std::vector<std::uint32_t>& ps = index.point[k];
    if (ps.empty()) return;
    TrackXY track;
    const std::vector<Traverse> spans = ChannelTraverses(points, ps, settings, track);

    // The main direction: that of the longest traverse.
    std::size_t longest = 0;
    auto length = [&](const Traverse& s) {
        return std::hypot(track.x[s.end - 1] - track.x[s.begin], track.y[s.end - 1] - track.y[s.begin]);
    };
    for (std::size_t t = 1; t < spans.size(); ++t)
        if (length(spans[t]) > length(spans[longest])) longest = t;
    const double mainX = track.x[spans[longest].end - 1] - track.x[spans[longest].begin];
    const double mainY = track.y[spans[longest].end - 1] - track.y[spans[longest].begin];

    const std::size_t first = out.size();
    for (std::size_t t = 0; t < spans.size(); ++t) {
        const Traverse& s = spans[t];
        TraverseLevel level;
        level.channel = k;
        level.traverse = static_cast<int>(t + 1);
        level.firstRow = index.row[k][s.begin];
        level.lastRow = index.row[k][s.end - 1];
        level.readings = s.end - s.begin;
        level.bearing = Bearing(track, s.begin, s.end - 1);
        level.forward = (track.x[s.end - 1] - track.x[s.begin]) * mainX +
                            (track.y[s.end - 1] - track.y[s.begin]) * mainY >=
                        0;
        out.push_back(level);
    }

    // Which spans share a level: each its own, or all of one direction.
    std::vector<std::vector<std::size_t>> groups;
    if (settings.grouping == LevelGrouping::Traverse) {
        for (std::size_t t = 0; t < spans.size(); ++t) groups.push_back({t});
    } else {
        groups.resize(2);
        for (std::size_t t = 0; t < spans.size(); ++t) groups[out[first + t].forward ? 0 : 1].push_back(t);
    }
    std::vector<double> values;
    for (const PointTable table : {PointTable::Absolute, PointTable::Gradient}) {
        for (const auto& group : groups) {
            values.clear();
            for (const std::size_t t : group)
                for (std::size_t i = spans[t].begin; i < spans[t].end; ++i) values.push_back(points.value(table, ps[i]));
            const double level = RobustLevel(values, settings.level, settings.lowPercentile, settings.highPercentile);
            for (const std::size_t t : group) {
                (table == PointTable::Absolute ? out[first + t].field : out[first + t].gradient) = level;
                for (std::size_t i = spans[t].begin; i < spans[t].end; ++i)
                    points.setValue(table, ps[i], points.value(table, ps[i]) - level);
            }
        }
    }
}

}  // namespace

double RobustLevel(std::vector<double>& values, LevelEstimate estimate, double lowPercentile, double highPercentile) {
    if (values.empty()) return 0;
    const double low = Percentile(values, lowPercentile);
    const double high = Percentile(values, highPercentile);
    const auto kept = std::partition(values.begin(), values.end(), [&](double v) { return v >= low && v <= high; });
    // Two readings straddle both bounds; then both count.
    if (kept != values.begin()) values.erase(kept, values.end());
    if (estimate == LevelEstimate::Mean)
        return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
    return MedianOf(values);
}

DestripeReport Destripe(ArrangedPoints& points, const ChannelPoints& index, const DestripeSettings& settings) {
    DestripeReport report;
    report.settings = settings;
    if (settings.level == LevelEstimate::Off) return report;
    // Channels are independent: the two cores take half each.
    std::array<std::vector<TraverseLevel>, kChannels> levels;
    auto run = [&](int from, int to) {
        for (int k = from; k < to; ++k) DestripeChannel(points, index, k, settings, levels[k]);
    };
    RunSideBySide([&] { run(kChannels / 2, kChannels); }, [&] { run(0, kChannels / 2); });
    for (const auto& channel : levels) report.levels.insert(report.levels.end(), channel.begin(), channel.end());
    return report;
}

}  // namespace qgrad
