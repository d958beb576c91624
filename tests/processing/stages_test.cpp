// The stages' building blocks on small plain series and tracks.
#include "processing/despike.h"
#include "processing/destripe.h"
#include "processing/processing.h"
#include "processing/traverses.h"
#include "syntheticsurvey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

using namespace qgrad;

namespace {

std::vector<std::size_t> Indices(const std::vector<Replacement>& found) {
    std::vector<std::size_t> v;
    for (const Replacement& r : found) v.push_back(r.index);
    return v;
}

TEST(HampelTest, FindsTheReadingsFarFromTheirWindowsMedian) {
    const struct {
        const char* name;
        std::vector<double> values;
        double k;
        int halfWidth;
        std::vector<std::size_t> spikes;
        std::vector<double> medians;
    } cases[] = {
        {"smooth ramp", {1, 2, 3, 4, 5, 6, 7, 8}, 5, 2, {}, {}},
        {"one spike", {1, 1.2, 0.9, 1.1, 40, 1, 1.1, 0.9}, 5, 2, {4}, {1.1}},
        {"negative spike", {5, 5.3, 5.1, -30, 5.2, 5, 5.1}, 5, 2, {3}, {5.1}},
        {"two spikes side by side", {0, 0.2, 0.1, 9, 9, 0.2, 0.1, 0}, 5, 2, {3, 4}, {0.2, 0.2}},
        {"spike at the start", {25, 1, 1.1, 1, 1.2, 1}, 5, 2, {0}, {1.1}},
        {"spike at the end", {1, 1.1, 1, 1.2, 1, -25}, 5, 2, {5}, {1}},
        // A flat stretch has no spread: one tenth off is quantisation, not a spike.
        {"flat with one tenth off", {2, 2, 2, 2.1, 2, 2, 2}, 5, 2, {}, {}},
        {"flat with a spike", {2, 2, 2, 3, 2, 2, 2}, 5, 2, {3}, {2}},
        {"large K keeps it", {1, 1.2, 0.9, 1.1, 4, 1, 1.1, 0.9}, 30, 2, {}, {}},
        {"small K finds it", {1, 1.2, 0.9, 1.1, 4, 1, 1.1, 0.9}, 3, 2, {4}, {1.1}},
        {"a wide window sees past three", {0, 0.1, 0, 8, 8, 8, 0.1, 0, 0.1, 0}, 5, 3, {3, 4, 5}, {0.1, 0.1, 0.1}},
        {"a narrow one does not", {0, 0.1, 0, 8, 8, 8, 0.1, 0, 0.1, 0}, 5, 2, {}, {}},
        {"a step is no spike", {0, 0.1, 0, 0.1, 10, 10.1, 10, 10.1}, 5, 2, {}, {}},
        // Three readings of the window agree by chance; the series' noise
        // shows 0.55 is not far off.
        {"noise is not spikes", {0.3, -0.3, 0.25, 0, 0, 0.55, 0, -0.28, 0.29, -0.3, 0.31}, 5, 2, {}, {}},
        {"a spike in noise", {0.3, -0.3, 0.25, 0, 0, 5.5, 0, -0.28, 0.29, -0.3, 0.31}, 5, 2, {5}, {0}},
        // Two pairs of spike readings crowd the window of the clean reading
        // between them, whose median is then a spike: the reading stays.
        {"a clean reading between two pairs of spikes",
         {0.3, -0.3, 0.25, 0, 0.3, 125, 126, -1.2, 125.5, 125, 0.3, -0.3, 0.2, 0, -0.3, 0.3, 0.1, -0.2, 0.3, -0.1, 0.2},
         5, 2, {5, 9}, {0.3, 0.3}},
        // Where the window's median is a spike, a spike of the other sign
        // among them is replaced by the median of its surroundings (the
        // others spread that window too wide to stand out of it).
        {"a spike among three of the other sign",
         {0.3, -0.3, 0.25, 0, 0.3, 125, 126, -60, 125.5, 0.2, 0.3, -0.3, 0.2, 0, -0.3, 0.3, 0.1, -0.2, 0.3, -0.1, 0.2},
         5, 2, {7}, {0.2}},
    };
    for (const auto& c : cases) {
        const std::vector<Replacement> found = HampelOutliers(c.values, c.k, c.halfWidth);
        EXPECT_EQ(Indices(found), c.spikes) << c.name;
        for (std::size_t i = 0; i < found.size() && i < c.medians.size(); ++i)
            EXPECT_DOUBLE_EQ(found[i].median, c.medians[i]) << c.name;
    }
}

// Every reading judged in full: its window sorted for the median and again
// for the median absolute deviation, and where that median is far off the
// wider surroundings', judged among them.
std::vector<Replacement> HampelInFull(const std::vector<double>& v, double k, int halfWidth) {
    auto median = [](std::vector<double> w) {
        std::sort(w.begin(), w.end());
        const std::size_t m = w.size() / 2;
        return w.size() % 2 == 1 ? w[m] : (w[m - 1] + w[m]) / 2;
    };
    std::vector<double> steps;
    for (std::size_t i = 1; i < v.size(); ++i) steps.push_back(std::abs(v[i] - v[i - 1]));
    const double least = std::max(steps.empty() ? 0 : kMadToSigma * median(steps) / std::sqrt(2.0), kReadingResolution);
    // The median of the readings within `reach` of reading i, and k times their spread.
    auto around = [&](std::size_t i, std::size_t reach) {
        const std::vector<double> window(v.begin() + static_cast<std::ptrdiff_t>(i >= reach ? i - reach : 0),
                                         v.begin() + static_cast<std::ptrdiff_t>(std::min(v.size(), i + reach + 1)));
        const double m = median(window);
        std::vector<double> deviations;
        for (const double w : window) deviations.push_back(std::abs(w - m));
        return std::pair(m, k * std::max(kMadToSigma * median(deviations), least));
    };
    const std::size_t h = static_cast<std::size_t>(halfWidth);
    std::vector<Replacement> found;
    for (std::size_t i = 0; i < v.size(); ++i) {
        const auto [m, limit] = around(i, h);
        if (std::abs(v[i] - m) <= limit) continue;
        const auto [wide, wideLimit] = around(i, 3 * h);
        if (std::abs(m - wide) <= wideLimit) found.push_back({i, m});
        else if (std::abs(v[i] - wide) > wideLimit) found.push_back({i, wide});
    }
    return found;
}

using qgrad::synthetic::Uniform;

// at(0), ..., at(n - 1), in that order.
template <typename At>
std::vector<double> Series(std::size_t n, At&& at) {
    std::vector<double> v(n);
    for (std::size_t i = 0; i < n; ++i) v[i] = at(i);
    return v;
}

TEST(HampelTest, ScreeningFindsWhatJudgingEveryReadingFinds) {
    Uniform uniform(99);
    auto noise = [&uniform](double amplitude) { return amplitude * (uniform() - 0.5); };
    const struct {
        const char* name;
        std::vector<double> values;
        int halfWidth;
        bool clean;  // no reading is a spike
    } cases[] = {
        {"noise with spikes",
         Series(3000, [&](std::size_t i) { return noise(0.6) + (i % 97 == 5 ? 3.0 + i % 17 : 0); }), 2, false},
        {"a strong anomaly's flanks",
         Series(1000, [&](std::size_t i) { return 80 * std::exp(-std::pow((i - 500.0) / 6, 2)) + noise(0.4); }), 2,
         true},
        {"quantised flat stretches",
         Series(2000,
                [&](std::size_t i) {
                    return std::round(10 * ((i / 150 % 2) * 0.2 + noise(0.12))) / 10 + (i == 777 ? 1 : 0);
                }),
         2, false},
        {"spikes next to each other",
         Series(500, [&](std::size_t i) { return noise(0.2) + (i % 50 < 2 ? -9.0 : 0); }), 2, false},
        // The reading before the spike lies halfway up to it.
        {"a spike after a half step on a flat stretch",
         Series(200, [](std::size_t i) { return i == 100 ? 0.375 : i == 101 ? 0.75 : 0.0; }), 2, false},
        {"shorter than the screening's blocks",
         Series(40, [&](std::size_t i) { return noise(1) + (i == 20 ? 9 : 0); }), 2, false},
        {"one block and both ends", Series(68, [&](std::size_t i) { return noise(1) + (i == 66 ? 9 : 0); }), 2, false},
        {"a narrow window", Series(700, [&](std::size_t i) { return noise(0.6) + (i % 41 == 0 ? 7 : 0); }), 1, false},
        {"a wide window", Series(700, [&](std::size_t i) { return noise(0.6) + (i % 41 < 3 ? 7 : 0); }), 3, false},
        {"crowded spikes",
         Series(900, [&](std::size_t i) { return noise(0.6) + (i % 37 < 5 && i % 37 != 2 ? 40.0 : 0); }), 2, false},
    };
    for (const auto& c : cases) {
        const std::vector<Replacement> expected = HampelInFull(c.values, 5, c.halfWidth);
        const std::vector<Replacement> found = HampelOutliers(c.values, 5, c.halfWidth);
        EXPECT_EQ(expected.empty(), c.clean) << c.name;
        ASSERT_EQ(Indices(found), Indices(expected)) << c.name;
        for (std::size_t i = 0; i < found.size(); ++i) EXPECT_EQ(found[i].median, expected[i].median) << c.name;
    }
}

TEST(HampelTest, NeedsANeighbourOnEachSide) {
    EXPECT_THROW(HampelOutliers({1, 2, 3}, 5, 0), std::invalid_argument);
}

TEST(RobustLevelTest, IgnoresTheTailsOfTheReadings) {
    const std::vector<double> ramp = [] {
        std::vector<double> v;
        for (int i = 0; i <= 100; ++i) v.push_back(i);
        return v;
    }();
    std::vector<double> ramp_with_outliers = ramp;
    ramp_with_outliers[0] = -1e6;
    ramp_with_outliers[1] = -1e6;
    ramp_with_outliers[100] = 1e6;
    const struct {
        const char* name;
        std::vector<double> values;
        LevelEstimate estimate;
        double low, high;
        double level;
    } cases[] = {
        {"median of a ramp", ramp, LevelEstimate::Median, 5, 95, 50},
        {"mean of a ramp", ramp, LevelEstimate::Mean, 5, 95, 50},
        // The bounds fall on 5 and 95: 91 readings kept.
        {"mean ignores far outliers", ramp_with_outliers, LevelEstimate::Mean, 5, 95, 50},
        {"mean over everything", ramp_with_outliers, LevelEstimate::Mean, 0, 100, (5050.0 - 1 - 100 - 1e6) / 101},
        {"median of an even count", {4, 1, 3, 2}, LevelEstimate::Median, 0, 100, 2.5},
        {"a skewed stripe", {1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 1, 30, 40, 50}, LevelEstimate::Median, 5,
         95, 1},
        // Between the bounds of two readings lies neither: both count.
        {"two readings", {0, 10}, LevelEstimate::Mean, 5, 95, 5},
        {"no readings", {}, LevelEstimate::Median, 5, 95, 0},
    };
    for (const auto& c : cases) {
        std::vector<double> v = c.values;
        EXPECT_DOUBLE_EQ(RobustLevel(v, c.estimate, c.low, c.high), c.level) << c.name;
    }
}

// The median of the readings between two percentiles, read off the sorted
// readings.
double SortedTrimmedMedian(std::vector<double> v, double lowPercentile, double highPercentile) {
    std::sort(v.begin(), v.end());
    auto percentile = [&v](double p) {
        const double rank = p / 100 * static_cast<double>(v.size() - 1);
        const std::size_t lower = static_cast<std::size_t>(std::floor(rank));
        if (lower + 1 >= v.size()) return v[lower];
        return v[lower] + (rank - static_cast<double>(lower)) * (v[lower + 1] - v[lower]);
    };
    const double low = percentile(lowPercentile);
    const double high = percentile(highPercentile);
    std::vector<double> kept;
    for (const double x : v)
        if (x >= low && x <= high) kept.push_back(x);
    if (kept.empty()) kept = v;
    const std::size_t mid = kept.size() / 2;
    return kept.size() % 2 == 1 ? kept[mid] : (kept[mid - 1] + kept[mid]) / 2;
}

TEST(RobustLevelTest, MedianOfLongRunsIsThatOfTheSortedReadings) {
    Uniform uniform(7);
    const struct {
        const char* name;
        std::vector<double> values;
        double low, high;
    } cases[] = {
        {"a few hundred noisy readings", Series(300, [&](std::size_t) { return uniform(); }), 5, 95},
        {"over a thousand", Series(1500, [&](std::size_t i) { return uniform() + (i % 300 == 0 ? 50 : 0); }), 5, 95},
        {"a few thousand", Series(5001, [&](std::size_t) { return uniform() - 0.5; }), 5, 95},
        {"noise on a drift", Series(50000, [&](std::size_t i) { return 1e-4 * i + uniform(); }), 5, 95},
        {"readings of one decimal, many alike",
         Series(200000, [&](std::size_t) { return std::round(10 * (uniform() + uniform())) / 10; }), 5, 95},
        {"a strong anomaly over a tenth of the run",
         Series(30000, [&](std::size_t i) { return (i % 10000 < 1000 ? 80 * uniform() : 0) + uniform() - 0.5; }), 5,
         95},
        {"an even count between narrow percentiles", Series(8192, [&](std::size_t) { return uniform(); }), 25, 75},
        {"every reading kept", Series(12001, [&](std::size_t) { return uniform(); }), 0, 100},
        {"one percentile for both bounds", Series(9000, [&](std::size_t i) { return i % 7 + uniform(); }), 50, 50},
        {"all readings alike", Series(20000, [](std::size_t) { return 3.5; }), 5, 95},
        {"two values, half each", Series(20000, [](std::size_t i) { return i % 2 ? -1.0 : 1.0; }), 5, 95},
        {"readings in order", Series(40000, [](std::size_t i) { return 0.25 * static_cast<double>(i); }), 5, 95},
        // Every eighth reading alike, the rest far apart: an even sample
        // sees only the alike ones.
        {"a pattern the sample cannot see",
         Series(65536, [&](std::size_t i) { return i % 8 ? 1000 + uniform() : 0.0; }), 5, 95},
    };
    for (const auto& c : cases) {
        std::vector<double> v = c.values;
        EXPECT_EQ(RobustLevel(v, LevelEstimate::Median, c.low, c.high), SortedTrimmedMedian(c.values, c.low, c.high))
            << c.name;
    }
}

TEST(BackgroundLevelTest, LevelsFromTheGroundBetweenAnomalies) {
    Uniform uniform(23);
    auto noise = [&] { return 0.3 * (uniform() - 0.5); };
    // A broad hump of 8 over the first two fifths of a run on ground at 2:
    // of all readings between the 5th and 95th percentiles, the median lies
    // 0.1 above the ground and the mean 1.8.
    auto hump = [&](std::size_t i) { return 2 + (i < 240 ? 8 * std::sin(std::numbers::pi * i / 240.0) : 0) + noise(); };
    const struct {
        const char* name;
        std::vector<double> values;
        LevelEstimate estimate;
        double level, within;
    } cases[] = {
        {"median on quiet ground", Series(600, [&](std::size_t) { return 2 + noise(); }), LevelEstimate::Median, 2, 0.02},
        {"median beside a broad hump", Series(600, hump), LevelEstimate::Median, 2, 0.02},
        {"mean beside a broad hump", Series(600, hump), LevelEstimate::Mean, 2, 0.05},
        {"mean beside a few spikes", Series(600, [&](std::size_t i) { return 2 + noise() + (i % 50 == 7 ? 90 : 0); }),
         LevelEstimate::Mean, 2, 0.02},
        // Too few readings to tell ground from anomaly: all of them count.
        {"two readings", {0, 10}, LevelEstimate::Mean, 5, 0},
    };
    for (const auto& c : cases) {
        std::vector<double> v = c.values;
        EXPECT_NEAR(BackgroundLevel(v, c.estimate, 5, 95), c.level, c.within) << c.name;
    }
}

// The antenna's positions at each reading of the walk, `step` metres apart,
// as the receiver reports them: a fix every `readingsPerFix` readings,
// repeated until the next, off the truth by up to `jitter` metres each way.
TrackXY Walk(const synthetic::SurveyShape& shape, double step, double jitter = 0) {
    TrackXY t;
    synthetic::Uniform random(7);
    const double total = shape.traverses * shape.length + (shape.traverses - 1) * std::numbers::pi * shape.turnRadius;
    double x = 0, y = 0;
    for (std::size_t i = 0; static_cast<double>(i) * step <= total; ++i) {
        if (i % static_cast<std::size_t>(shape.readingsPerFix) == 0) {
            const synthetic::Pose p = synthetic::AntennaAt(shape, static_cast<double>(i) * step);
            x = p.x + jitter * (2 * random() - 1);
            y = p.y + jitter * (2 * random() - 1);
        }
        t.x.push_back(x);
        t.y.push_back(y);
    }
    return t;
}

// The readings, `step` metres apart, at the middle of each of the shape's
// turns: where its traverses meet.
std::vector<double> TurnMiddles(const synthetic::SurveyShape& shape, double step) {
    const double turn = std::numbers::pi * shape.turnRadius;
    std::vector<double> starts = {0};
    for (int j = 1; j < shape.traverses; ++j) starts.push_back((j * (shape.length + turn) - turn / 2) / step);
    return starts;
}

// Whether the reading `step` metres apart lies on one of the shape's
// traverses or where its turns have bent the course by under 30 degrees,
// which a wide turn takes metres to do.
bool NearlyStraight(const synthetic::SurveyShape& shape, double step, std::size_t reading) {
    const double leg = shape.length + std::numbers::pi * shape.turnRadius;
    const double bent = shape.turnRadius * std::numbers::pi / 6;
    const double along = std::fmod(static_cast<double>(reading) * step, leg);
    return along <= shape.length + bent || along >= leg - bent;
}

TEST(TraverseTest, TracksSplitAtTheirTurns) {
    // A cart at 1 m/s read ten times a second, with a fix twice a second
    // as many receivers give, or with every reading.
    auto serpentine = [](int traverses, double length, double radius, double sway = 0, int readingsPerFix = 5) {
        synthetic::SurveyShape s;
        s.traverses = traverses;
        s.length = length;
        s.turnRadius = radius;
        s.spacing = 2 * radius;
        s.sway = sway;
        s.readingsPerFix = readingsPerFix;
        return s;
    };
    const double cart = 0.02;  // m of jitter
    const double jittery = 0.05;
    TrackXY bend;  // 30 degrees to the right after 20 m
    for (int i = 0; i <= 400; ++i) {
        const double s = i * 0.1;
        bend.x.push_back(s <= 20 ? 0 : (s - 20) * std::sin(std::numbers::pi / 6));
        bend.y.push_back(s <= 20 ? s : 20 + (s - 20) * std::cos(std::numbers::pi / 6));
    }
    // 30 m north, half a minute standing while the fixes wander by up to
    // 0.1 m each way, and 30 m more.
    TrackXY pause;
    synthetic::Uniform wander(11);
    for (int i = 0; i < 900; ++i) {
        const double y = std::clamp(i * 0.1, 0.0, 30.0) + std::max(0, i - 600) * 0.1;
        const bool standing = i >= 300 && i < 600;
        pause.x.push_back(standing && i % 5 == 0 ? 0.1 * (2 * wander() - 1) : i > 0 ? pause.x.back() : 0);
        pause.y.push_back(standing ? (i % 5 == 0 ? y + 0.1 * (2 * wander() - 1) : pause.y.back()) : y);
    }
    TrackXY corner = bend;  // 90 degrees
    for (int i = 201; i <= 400; ++i) {
        corner.x[i] = (i - 200) * 0.1;
        corner.y[i] = 20;
    }
    struct Case {
        const char* name;
        TrackXY track;
        std::vector<double> starts;  // the traverses' first readings
        double within;               // readings
        // The shape walked, whose turns the traverses' straight parts must
        // leave out; none for a track of its own.
        std::optional<synthetic::SurveyShape> shape = {};
        TurnSettings turns = {};
    };
    // The shape walked, split where its turns are.
    auto walked = [](const char* name, const synthetic::SurveyShape& shape, double jitter) {
        return Case{name, Walk(shape, 0.1, jitter), TurnMiddles(shape, 0.1), 10, shape};
    };
    const Case cases[] = {
        {"no turns", Walk(serpentine(1, 40, 1, 0, 1), 0.1), {0}, 0},
        {"three traverses", Walk(serpentine(3, 40, 1, 0, 1), 0.1), TurnMiddles(serpentine(3, 40, 1), 0.1), 2,
         serpentine(3, 40, 1)},
        // Half circles of half a 6 m swath: 29 degrees over 1.5 m either
        // side of their middle, and the repeated fixes hide even that.
        walked("swath turns, radius 3 m", serpentine(4, 60, 3), cart),
        walked("swath turns with 5 cm jitter", serpentine(4, 60, 3), jittery),
        walked("swath turns, radius 2 m", serpentine(4, 40, 2), cart),
        walked("wide turns, radius 5 m", serpentine(3, 40, 5), cart),
        walked("wide turns, radius 7 m", serpentine(3, 40, 7), cart),
        walked("tight cart turns, radius 0.3 m", serpentine(4, 30, 0.3), cart),
        walked("short traverses", serpentine(5, 10, 2), cart),
        // A sway of 0.3 m each way every 8 m turns the cart 13 degrees.
        {"straight traverse that sways", Walk(serpentine(1, 200, 3, 0.3), 0.1, jittery), {0}, 0},
        walked("swaying traverses", serpentine(3, 60, 3, 0.3), cart),
        {"a pause on the traverse", pause, {0}, 0},
        {"gentle bend", bend, {0}, 0},
        {"bend over a lower threshold", bend, {0, 200}, 2, {}, {20, 1.5, 1.5}},
        {"corner", corner, {0, 200}, 2},
        {"wide turns beyond the longest stretch", Walk(serpentine(3, 40, 7), 0.1, cart), {0}, 0, {}, {45, 1.5, 3}},
        {"empty", {}, {}, 0},
    };
    for (const auto& c : cases) {
        const std::vector<Traverse> traverses = SplitTraverses(c.track, c.turns);
        ASSERT_EQ(traverses.size(), c.starts.size()) << c.name;
        for (std::size_t i = 0; i < traverses.size(); ++i) {
            const Traverse& t = traverses[i];
            EXPECT_NEAR(static_cast<double>(t.begin), c.starts[i], c.within) << c.name << " traverse " << i;
            EXPECT_EQ(t.end, i + 1 < traverses.size() ? traverses[i + 1].begin : c.track.x.size()) << c.name;
            EXPECT_TRUE(t.begin <= t.straightBegin && t.straightBegin < t.straightEnd && t.straightEnd <= t.end)
                << c.name << " traverse " << i;
            if (!c.shape) continue;
            for (const std::size_t r : {t.straightBegin, t.straightEnd - 1})
                EXPECT_TRUE(NearlyStraight(*c.shape, 0.1, r)) << c.name << " traverse " << i << " reading " << r;
        }
    }
}

TEST(TraverseTest, BearingIsClockwiseFromNorth) {
    const TrackXY t{{0, 0, 1, 0, -1, 0}, {0, 1, 0, -1, 0, 0}};
    EXPECT_DOUBLE_EQ(Bearing(t, 0, 1), 0);
    EXPECT_DOUBLE_EQ(Bearing(t, 0, 2), 90);
    EXPECT_DOUBLE_EQ(Bearing(t, 0, 3), 180);
    EXPECT_DOUBLE_EQ(Bearing(t, 0, 4), 270);
    EXPECT_DOUBLE_EQ(Bearing(t, 0, 5), 0);
}

TEST(ReportTest, SaysWhatEachStageDid) {
    ProcessingReport fixed;
    fixed.lag = LagReport{{LagMode::Fixed, 0.15}, 0.15, {}, true};
    ProcessingReport estimated;
    estimated.lag = LagReport{{LagMode::Auto}, 0.2, LagEstimate{true, 0.2, 0.2, 0.934, 0.806, 24}, true};
    ProcessingReport weak;
    weak.lag = LagReport{{LagMode::Auto}, 0, LagEstimate{false, 0, -0.35, 0.213, 0.124, 1}, true};
    ProcessingReport alone;
    alone.lag = LagReport{{LagMode::Auto}, 0, LagEstimate{}, true};
    ProcessingReport placed;
    placed.trueOffsets = true;
    ProcessingReport unplaced;
    unplaced.trueOffsets = false;
    ProcessingReport stuck;
    stuck.lag = LagReport{{LagMode::Fixed, 0.3}, 0, {}, false};
    ProcessingReport despiked;
    despiked.despike = DespikeReport{{true, 5, 2}, {{0, PointTable::Absolute, 0, 48123.46, 48001.04},
                                                     {11, PointTable::Gradient, 1000, -812.25, 1.2}}};
    ProcessingReport destriped;
    DestripeSettings stripes;
    stripes.level = LevelEstimate::Median;
    destriped.destripe = DestripeReport{stripes, {{1, 1, 0, 399, 400, 2.4, true, 1.5, -0.25},
                                                  {1, 2, 400, 810, 411, 181, false, -2, 0.004}}};
    ProcessingReport all = estimated;
    all.despike = DespikeReport{{true, 3.5, 3}, {}};
    stripes.level = LevelEstimate::Mean;
    stripes.grouping = LevelGrouping::Direction;
    all.destripe = DestripeReport{stripes, {}};
    ProcessingReport checked;
    QualityReport& q = checked.quality.emplace();
    q.settings.on = true;
    q.settings.cellMetres = 0.5;
    q.channels = {{0, 1200, 0.0512, {{{0, 5, 2.5}, true, 0}, {{100, 129, 3}, false, 5}}, {250, 251, 252, 1078, 1080}},
                  {3, 1, 0, {}, {}}};
    q.tooFast = {{{900, 920, 1}, 0.2}};
    q.gpsGaps = {{480, 499, 2}};
    ProcessingReport checkedDespiked = despiked;
    checkedDespiked.quality.emplace().despiked = true;
    const struct {
        const char* name;
        ProcessingReport report;
        std::string text;
    } cases[] = {
        {"nothing on", {}, "Processing of run.csv\nno stage on\n"},
        {"checks by their file lines", checked,
         "Processing of run.csv\nno stage on\n"
         "channels: dead or flat where one value or nothing lasts over 2.0 s; noise as the median absolute deviation "
         "of successive gradient differences; spikes by the despike rule (K 5.00, half-width 3), readings left as "
         "they were\n"
         "  channel 1: 1200 readings, noise 0.051 nT/m, 5 spikes at lines 255-257, 1083, 1085\n"
         "    lines 5-10: nothing for 2.5 s\n"
         "    lines 105-134: flat at 5.00 nT/m for 3.0 s\n"
         "  channel 4: 1 reading, noise 0.000 nT/m, 0 spikes\n"
         "too fast for 0.50 m cells (readings further apart along the track): 1 stretch\n"
         "  lines 905-925: readings up to 0.20 m apart over 1.0 s\n"
         "GPS gaps over 1.0 s without a new fix: 1 gap\n"
         "  lines 485-504: 2.0 s\n"},
        {"checks after the despike", checkedDespiked,
         "Processing of run.csv\ndespike: 2 spikes (K 5.00, half-width 2)\n"
         "  channel 1 field, line 5: 48123.5 -> 48001.0\n"
         "  channel 12 gradient, line 1005: -812.3 -> 1.2\n"
         "channels: dead or flat where one value or nothing lasts over 2.0 s; noise as the median absolute deviation "
         "of successive gradient differences; spikes as despiked\n"
         "too fast for 0.25 m cells (readings further apart along the track): 0 stretches\n"
         "GPS gaps over 1.0 s without a new fix: 0 gaps\n"},
        {"true offsets", placed, "Processing of run.csv\nsensors placed at their true offsets\n"},
        {"true offsets not applied", unplaced,
         "Processing of run.csv\ntrue offsets not applied: the arrangement stopped early or made no point, or a "
         "position is out of range\n"},
        {"lag as set", fixed, "Processing of run.csv\nlag: 0.15 s, as set\n"},
        {"lag estimated", estimated,
         "Processing of run.csv\nlag: 0.20 s, estimated (correlation 0.93, prominence 0.81, over 24 pairs of opposite "
         "sensor lines)\n"},
        {"no reliable estimate", weak,
         "Processing of run.csv\nlag: no reliable estimate (best correlation 0.21 at -0.35 s, prominence 0.12, over 1 "
         "pair of opposite sensor lines), 0 s used\n"},
        {"nothing to compare", alone,
         "Processing of run.csv\nlag: no reliable estimate (no pairs of opposite sensor lines to compare), 0 s used\n"},
        {"lag not applied", stuck,
         "Processing of run.csv\nlag: not applied: the times do not advance, or the arrangement stopped early or made "
         "no point\n"},
        {"spikes by their file lines", despiked,
         "Processing of run.csv\ndespike: 2 spikes (K 5.00, half-width 2)\n"
         "  channel 1 field, line 5: 48123.5 -> 48001.0\n"
         "  channel 12 gradient, line 1005: -812.3 -> 1.2\n"},
        {"levels per traverse", destriped,
         "Processing of run.csv\ndestripe: median of the readings between the 5th and 95th percentiles, per "
         "traverse; turns over 45 degrees in 1.5 to 6.0 m; 2 traverses\n"
         "  channel 2 traverse 1, lines 5-404, bearing 2 degrees, 400 readings: field 1.50 nT, gradient -0.25 nT/m "
         "taken off\n"
         "  channel 2 traverse 2, lines 405-815, bearing 181 degrees, 411 readings: field -2.00 nT, gradient 0.00 "
         "nT/m taken off\n"},
        {"stages in their order", all,
         "Processing of run.csv\nlag: 0.20 s, estimated (correlation 0.93, prominence 0.81, over 24 pairs of opposite "
         "sensor lines)\n"
         "despike: 0 spikes (K 3.50, half-width 3)\n"
         "destripe: mean of the readings between the 5th and 95th percentiles, per walking direction; turns over 45 "
         "degrees in 1.5 to 6.0 m; 0 traverses\n"},
    };
    for (const auto& c : cases) EXPECT_EQ(ProcessingReportText(c.report, "run.csv"), c.text) << c.name;
}

}  // namespace
