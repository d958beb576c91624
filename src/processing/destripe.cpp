#include "processing/destripe.h"

#include "processing/robust.h"
#include "common/sidebyside.h"
#include "processing/traverses.h"

#include <algorithm>
#include <cmath>
#include <limits>
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

struct Span {
    std::size_t begin, end;  // readings of the channel
};

// The channel's readings on each traverse of the cart, and which traverses
// share a level: each its own, or all walked one way.
void ChannelTraverses(const ChannelPoints& index, int k, const CartTraverses& cart, const DestripeSettings& settings,
                      std::vector<Span>& spans, std::vector<std::vector<std::size_t>>& groups) {
    const std::vector<std::uint32_t>& rows = index.row[k];
    auto readingAt = [&](std::size_t row) {
        return static_cast<std::size_t>(std::lower_bound(rows.begin(), rows.end(), row) - rows.begin());
    };
    spans.clear();
    groups.assign(settings.grouping == LevelGrouping::Traverse ? 0 : 2, {});
    for (std::size_t t = 0; t + 1 < cart.firstRow.size(); ++t) {
        const Span span{readingAt(cart.firstRow[t]), readingAt(cart.firstRow[t + 1])};
        if (span.begin == span.end) continue;
        if (settings.grouping == LevelGrouping::Traverse) groups.push_back({spans.size()});
        else groups[cart.forward[t] ? 0 : 1].push_back(spans.size());
        spans.push_back(span);
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

CartTraverses FindTraverses(const ArrangedPoints& points, const ChannelPoints& index, const TurnSettings& turns) {
    int widest = 0;
    for (int k = 1; k < kChannels; ++k)
        if (index.point[k].size() > index.point[widest].size()) widest = k;
    const std::vector<std::uint32_t>& ps = index.point[widest];
    CartTraverses cart;
    if (ps.empty()) return cart;
    const LocalFrame frame(points.lon(ps[0]), points.lat(ps[0]));
    TrackXY track;
    track.x.reserve(ps.size());
    track.y.reserve(ps.size());
    for (const std::uint32_t p : ps) {
        track.x.push_back(frame.East(points.lon(p)));
        track.y.push_back(frame.North(points.lat(p)));
    }
    const std::vector<Traverse> traverses = SplitTraverses(track, turns);
    auto dx = [&](const Traverse& s) { return track.x[s.end - 1] - track.x[s.begin]; };
    auto dy = [&](const Traverse& s) { return track.y[s.end - 1] - track.y[s.begin]; };
    std::size_t longest = 0;
    for (std::size_t t = 1; t < traverses.size(); ++t)
        if (std::hypot(dx(traverses[t]), dy(traverses[t])) > std::hypot(dx(traverses[longest]), dy(traverses[longest])))
            longest = t;
    for (const Traverse& t : traverses) {
        cart.firstRow.push_back(index.row[widest][t.begin]);
        cart.bearing.push_back(Bearing(track, t.begin, t.end - 1));
        cart.forward.push_back(dx(t) * dx(traverses[longest]) + dy(t) * dy(traverses[longest]) >= 0);
    }
    cart.firstRow.push_back(std::numeric_limits<std::size_t>::max());
    return cart;
}

DestripeReport StartDestripe(const ChannelPoints& index, const CartTraverses& cart, const DestripeSettings& settings) {
    DestripeReport report;
    report.settings = settings;
    for (int k = 0; k < kChannels; ++k) {
        const std::vector<std::uint32_t>& rows = index.row[k];
        std::size_t reading = 0;
        for (std::size_t t = 0; t + 1 < cart.firstRow.size(); ++t) {
            TraverseLevel level;
            level.channel = k;
            level.traverse = static_cast<int>(t + 1);
            level.bearing = cart.bearing[t];
            level.forward = cart.forward[t];
            const std::size_t first = reading;
            while (reading < rows.size() && rows[reading] < cart.firstRow[t + 1]) ++reading;
            if (reading == first) continue;
            level.firstRow = rows[first];
            level.lastRow = rows[reading - 1];
            level.readings = reading - first;
            report.levels.push_back(level);
        }
    }
    return report;
}

void DestripeReadings(PerChannel& readings, PointTable table, const ChannelPoints& index, const CartTraverses& cart,
                      DestripeReport& report) {
    const DestripeSettings& settings = report.settings;
    // Where each channel's levels begin in the report.
    std::array<std::size_t, kChannels + 1> firstLevel{};
    for (const TraverseLevel& level : report.levels) ++firstLevel[level.channel + 1];
    for (int k = 0; k < kChannels; ++k) firstLevel[k + 1] += firstLevel[k];
    // Channel by channel: the two cores take half the channels each.
    auto run = [&](int from, int to) {
        std::vector<Span> spans;
        std::vector<std::vector<std::size_t>> groups;
        std::vector<double> scratch;
        for (int k = from; k < to; ++k) {
            ChannelTraverses(index, k, cart, settings, spans, groups);
            for (const auto& group : groups) {
                scratch.clear();
                for (const std::size_t i : group)
                    scratch.insert(scratch.end(), readings[k].begin() + static_cast<std::ptrdiff_t>(spans[i].begin),
                                   readings[k].begin() + static_cast<std::ptrdiff_t>(spans[i].end));
                const double level =
                    RobustLevel(scratch, settings.level, settings.lowPercentile, settings.highPercentile);
                for (const std::size_t i : group) {
                    TraverseLevel& recorded = report.levels[firstLevel[k] + i];
                    (table == PointTable::Absolute ? recorded.field : recorded.gradient) = level;
                    for (std::size_t r = spans[i].begin; r < spans[i].end; ++r) readings[k][r] -= level;
                }
            }
        }
    };
    RunSideBySide([&] { run(kChannels / 2, kChannels); }, [&] { run(0, kChannels / 2); });
}

}  // namespace qgrad
