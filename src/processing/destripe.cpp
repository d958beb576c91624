#include "processing/destripe.h"

#include "common/robuststats.h"
#include "common/sidebyside.h"
#include "processing/traverses.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
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
    bool forward;            // walked like the longest traverse
};

// The channel's readings on each traverse of the cart it has readings on.
void ChannelTraverses(const ChannelPoints& index, int k, const CartTraverses& cart, std::vector<Span>& spans) {
    const std::vector<std::uint32_t>& rows = index.row[k];
    auto readingAt = [&](std::size_t row) {
        return static_cast<std::size_t>(std::lower_bound(rows.begin(), rows.end(), row) - rows.begin());
    };
    spans.clear();
    for (std::size_t t = 0; t + 1 < cart.firstRow.size(); ++t) {
        const Span span{readingAt(cart.firstRow[t]), readingAt(cart.firstRow[t + 1]), cart.forward[t]};
        if (span.begin != span.end) spans.push_back(span);
    }
}

// The median of the readings between two percentiles, from the sorted
// readings: what RobustLevel finds by selection, at less cost for a few
// hundred readings.
double SortedTrimmedMedian(std::vector<double>& v, double lowPercentile, double highPercentile) {
    std::sort(v.begin(), v.end());
    auto percentile = [&v](double percentile) {
        const double rank = percentile / 100 * static_cast<double>(v.size() - 1);
        const std::size_t lower = static_cast<std::size_t>(std::floor(rank));
        if (lower + 1 >= v.size()) return v[lower];
        return v[lower] + (rank - static_cast<double>(lower)) * (v[lower + 1] - v[lower]);
    };
    const double low = percentile(lowPercentile);
    const double high = percentile(highPercentile);
    auto first = std::lower_bound(v.begin(), v.end(), low);
    auto last = std::upper_bound(first, v.end(), high);
    // Two readings straddle both bounds; then both count.
    if (first == last) {
        first = v.begin();
        last = v.end();
    }
    const auto mid = first + (last - first) / 2;
    return (last - first) % 2 == 1 ? *mid : (*(mid - 1) + *mid) / 2;
}

// The rank of a percentile among n readings: the reading below it, and how
// far towards the next one it lies.
struct PercentileRank {
    std::size_t lower;
    double fraction;
};

PercentileRank RankOf(double percentile, std::size_t n) {
    const double rank = percentile / 100 * static_cast<double>(n - 1);
    const std::size_t lower = static_cast<std::size_t>(std::floor(rank));
    return {lower, rank - static_cast<double>(lower)};
}

// The readings of `values` between two bounds, and how many lie below them:
// the readings of ranks [below, below + size()) in sorted order.
struct Bracket {
    double low = 0, high = 0;
    std::size_t below = 0;
    // Room for every reading, filled up to `size`.
    std::unique_ptr<double[]> inside;
    std::size_t size = 0;

    bool Holds(std::size_t rank) const { return rank >= below && rank - below < size; }
    // The reading of that rank; moves it into place among those inside.
    double At(std::size_t rank) {
        double* const at = inside.get() + (rank - below);
        std::nth_element(inside.get(), at, inside.get() + size);
        return *at;
    }
    // The least reading above the one At() placed last.
    double After(std::size_t rank) const {
        return *std::min_element(inside.get() + (rank - below) + 1, inside.get() + size);
    }
    // The greatest reading below it.
    double Before(std::size_t rank) const { return *std::max_element(inside.get(), inside.get() + (rank - below)); }
    // Counts the readings below the bracket and keeps those inside. Each
    // reading is written in any case and kept by moving on, which costs no
    // branch; the bounds and counts stay in locals, where writes through
    // `inside` cannot change them.
    void Take(const std::vector<double>& values) {
        const double from = low, to = high;
        double* const out = inside.get();
        std::size_t n = 0, under = 0;
        for (const double v : values) {
            under += v < from;
            out[n] = v;
            n += (v >= from) & (v <= to);
        }
        below = under;
        size = n;
    }
};

// The trimmed median that RobustLevel finds, from one pass over a long run of
// readings: bounds taken from an even sample of them bracket the ranks of
// both percentiles and of the median, and only the few readings within the
// brackets are selected among. False, with nothing found, in the rare case
// a bracket misses its ranks.
bool SampledTrimmedMedian(const std::vector<double>& values, double lowPercentile, double highPercentile,
                          double& median) {
    const std::size_t n = values.size();
    constexpr std::size_t kMaxSample = 16384;
    const std::size_t m = std::min(kMaxSample, n / 16);
    const std::size_t stride = n / m;
    std::vector<double> sample(m);
    for (std::size_t i = 0; i < m; ++i) sample[i] = values[i * stride];
    std::sort(sample.begin(), sample.end());
    // The bounds of the readings of ranks [first, last]: a share q of the
    // readings lies below a rank, of the sample about m q of them, give or
    // take the square root of m q (1 - q); four times that keeps a bracket
    // from missing but for a very uneven run.
    auto bracket = [&](std::size_t first, std::size_t last) {
        const double q = (static_cast<double>(first) + 0.5) / static_cast<double>(n);
        const std::size_t margin = static_cast<std::size_t>(4 * std::sqrt(static_cast<double>(m) * q * (1 - q))) + 2;
        const std::size_t from = first * m / n;
        const std::size_t to = std::min(m - 1, last * m / n + 1 + margin);
        // A bracket that reaches an end of the sample takes in every
        // reading beyond it.
        Bracket b;
        b.low = from > margin ? sample[from - margin] : -std::numeric_limits<double>::infinity();
        b.high = to < m - 1 ? sample[to] : std::numeric_limits<double>::infinity();
        b.inside.reset(new double[n]);
        return b;
    };
    const PercentileRank lowRank = RankOf(lowPercentile, n);
    const PercentileRank highRank = RankOf(highPercentile, n);
    const std::size_t lowLast = std::min(lowRank.lower + 1, n - 1);
    const std::size_t highLast = std::min(highRank.lower + 1, n - 1);
    // The median of the readings kept lies about halfway between the
    // percentiles, or of all readings when none is kept.
    const std::size_t middle = (lowRank.lower + highLast) / 2;
    Bracket lowB = bracket(lowRank.lower, lowLast);
    Bracket mid = bracket(std::min(middle, (n - 1) / 2), std::max(middle, n / 2) + 1);
    Bracket highB = bracket(highRank.lower, highLast);
    for (Bracket* b : {&lowB, &mid, &highB}) b->Take(values);
    if (!lowB.Holds(lowRank.lower) || !lowB.Holds(lowLast) || !highB.Holds(highRank.lower) || !highB.Holds(highLast))
        return false;
    auto percentile = [](Bracket& b, const PercentileRank& r, std::size_t last) {
        const double at = b.At(r.lower);
        return last == r.lower ? at : at + r.fraction * (b.After(r.lower) - at);
    };
    const double low = percentile(lowB, lowRank, lowLast);
    const double high = percentile(highB, highRank, highLast);
    // The readings kept: ranks [first, last) in sorted order. Those below a
    // bracket lie below its bound, those above it above.
    std::size_t first = lowB.below;
    for (std::size_t i = 0; i < lowB.size; ++i) first += lowB.inside[i] < low;
    std::size_t last = highB.below;
    for (std::size_t i = 0; i < highB.size; ++i) last += highB.inside[i] <= high;
    // Two readings straddle both bounds; then both count.
    if (last <= first) {
        first = 0;
        last = n;
    }
    const std::size_t upperMiddle = first + (last - first) / 2;
    const bool odd = (last - first) % 2 == 1;
    if (!mid.Holds(upperMiddle) || (!odd && !mid.Holds(upperMiddle - 1))) return false;
    const double upper = mid.At(upperMiddle);
    median = odd ? upper : (mid.Before(upperMiddle) + upper) / 2;
    return true;
}

}  // namespace

double RobustLevel(std::vector<double>& values, LevelEstimate estimate, double lowPercentile, double highPercentile) {
    if (values.empty()) return 0;
    // A median is the same whichever way the readings are ordered; a mean's
    // sum is kept in the order the selection leaves.
    constexpr std::size_t kSortedUpTo = 512;
    if (estimate == LevelEstimate::Median && values.size() <= kSortedUpTo)
        return SortedTrimmedMedian(values, lowPercentile, highPercentile);
    constexpr std::size_t kSampledFrom = 2048;
    double median = 0;
    if (estimate == LevelEstimate::Median && values.size() >= kSampledFrom &&
        SampledTrimmedMedian(values, lowPercentile, highPercentile, median))
        return median;
    const double low = Percentile(values, lowPercentile);
    const double high = Percentile(values, highPercentile);
    const auto kept = std::partition(values.begin(), values.end(), [&](double v) { return v >= low && v <= high; });
    // Two readings straddle both bounds; then both count.
    if (kept != values.begin()) values.erase(kept, values.end());
    if (estimate == LevelEstimate::Mean)
        return std::accumulate(values.begin(), values.end(), 0.0) / static_cast<double>(values.size());
    return MedianOf(values);
}

double BackgroundLevel(std::vector<double>& values, LevelEstimate estimate, double lowPercentile,
                       double highPercentile) {
    if (values.size() < 3) return RobustLevel(values, estimate, lowPercentile, highPercentile);
    // The densest half of a long run is found well enough on an even sample
    // of it, at a small part of the cost of sorting the run.
    constexpr std::size_t kDensestFrom = 1024;
    const std::size_t stride = std::max<std::size_t>(1, values.size() / kDensestFrom);
    std::vector<double> sorted;
    sorted.reserve(values.size() / stride + 1);
    for (std::size_t i = 0; i < values.size(); i += stride) sorted.push_back(values[i]);
    std::sort(sorted.begin(), sorted.end());
    const std::size_t half = (sorted.size() + 1) / 2;
    std::size_t shortest = 0;
    for (std::size_t i = 1; i + half <= sorted.size(); ++i)
        if (sorted[i + half - 1] - sorted[i] < sorted[shortest + half - 1] - sorted[shortest]) shortest = i;
    const double middle = (sorted[shortest] + sorted[shortest + half - 1]) / 2;
    const double reach = kBackgroundWidths * (sorted[shortest + half - 1] - sorted[shortest]) / 2;
    values.erase(std::partition(values.begin(), values.end(), [&](double v) { return std::abs(v - middle) <= reach; }),
                 values.end());
    return RobustLevel(values, estimate, lowPercentile, highPercentile);
}

CartTraverses FindTraverses(const ArrangedPoints& points, const ChannelPoints& index, const SurveyGeometry& geometry,
                            const TurnSettings& turns) {
    std::size_t most = 0;
    for (int k = 0; k < kChannels; ++k) most = std::max(most, index.point[k].size());
    // A channel that lost a tenth of its readings may have lost a traverse.
    int followed = 0;
    double nearest = std::numeric_limits<double>::infinity();
    for (int k = 0; k < kChannels; ++k) {
        const double distance = std::hypot(geometry.offsetX[k], geometry.offsetY[k]);
        if (10 * index.point[k].size() < 9 * most || distance >= nearest) continue;
        followed = k;
        nearest = distance;
    }
    const std::vector<std::uint32_t>& ps = index.point[followed];
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
        cart.firstRow.push_back(index.row[followed][t.begin]);
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
        std::vector<std::size_t> group;  // spans that share a level
        std::vector<double> scratch;
        for (int k = from; k < to; ++k) {
            ChannelTraverses(index, k, cart, spans);
            auto level = [&] {
                scratch.clear();
                for (const std::size_t i : group)
                    scratch.insert(scratch.end(), readings[k].begin() + static_cast<std::ptrdiff_t>(spans[i].begin),
                                   readings[k].begin() + static_cast<std::ptrdiff_t>(spans[i].end));
                if (scratch.empty()) return;
                const double taken =
                    BackgroundLevel(scratch, settings.level, settings.lowPercentile, settings.highPercentile);
                for (const std::size_t i : group) {
                    TraverseLevel& recorded = report.levels[firstLevel[k] + i];
                    (table == PointTable::Absolute ? recorded.field : recorded.gradient) = taken;
                    for (std::size_t r = spans[i].begin; r < spans[i].end; ++r) readings[k][r] -= taken;
                }
            };
            // Each traverse its own level, or one for all walked one way.
            if (settings.grouping == LevelGrouping::Traverse) {
                for (std::size_t i = 0; i < spans.size(); ++i) {
                    group.assign(1, i);
                    level();
                }
            } else {
                for (const bool forward : {true, false}) {
                    group.clear();
                    for (std::size_t i = 0; i < spans.size(); ++i)
                        if (spans[i].forward == forward) group.push_back(i);
                    level();
                }
            }
        }
    };
    RunSideBySide([&] { run(kChannels / 2, kChannels); }, [&] { run(0, kChannels / 2); });
}

}  // namespace qgrad
