// The stages' building blocks on small plain series and tracks.
#include "processing/despike.h"
#include "processing/destripe.h"
#include "processing/traverses.h"
#include "syntheticsurvey.h"

#include <gtest/gtest.h>

#include <cmath>
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
    };
    for (const auto& c : cases) {
        const std::vector<Replacement> found = HampelOutliers(c.values, c.k, c.halfWidth);
        EXPECT_EQ(Indices(found), c.spikes) << c.name;
        for (std::size_t i = 0; i < found.size() && i < c.medians.size(); ++i)
            EXPECT_DOUBLE_EQ(found[i].median, c.medians[i]) << c.name;
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

TrackXY Walk(const synthetic::SurveyShape& shape, double step) {
    TrackXY t;
    const double total = shape.traverses * shape.length + (shape.traverses - 1) * std::numbers::pi * shape.turnRadius;
    for (double s = 0; s <= total; s += step) {
        const synthetic::Pose p = synthetic::AntennaAt(shape, s);
        t.x.push_back(p.x);
        t.y.push_back(p.y);
    }
    return t;
}

TEST(TraverseTest, TracksSplitAtTheirTurns) {
    synthetic::SurveyShape three;
    three.traverses = 3;
    synthetic::SurveyShape wide = three;
    wide.turnRadius = 5;
    wide.spacing = 10;
    TrackXY bend;  // 30 degrees to the right after 20 m
    for (int i = 0; i <= 400; ++i) {
        const double s = i * 0.1;
        bend.x.push_back(s <= 20 ? 0 : (s - 20) * std::sin(std::numbers::pi / 6));
        bend.y.push_back(s <= 20 ? s : 20 + (s - 20) * std::cos(std::numbers::pi / 6));
    }
    TrackXY corner = bend;  // 90 degrees
    for (int i = 201; i <= 400; ++i) {
        corner.x[i] = (i - 200) * 0.1;
        corner.y[i] = 20;
    }
    const struct {
        const char* name;
        TrackXY track;
        TurnSettings turns;
        // The traverses' first readings, within a reading or two.
        std::vector<double> starts;
    } cases[] = {
        {"straight run", Walk([] { synthetic::SurveyShape s; s.traverses = 1; return s; }(), 0.1), {}, {0}},
        // A turn of pi m starts after 40 m: split halfway round, 41.57 m.
        {"three traverses", Walk(three, 0.1), {}, {0, 415.7, 847.1}},
        // A turn of 5 m radius bends the course 34 degrees over twice 1.5 m.
        {"wide turns pass", Walk(wide, 0.1), {}, {0}},
        {"wide turns, long smoothing", Walk(wide, 0.1), {45, 6}, {0, 478.5, 1035.6}},
        {"gentle bend", bend, {}, {0}},
        {"bend over a lower threshold", bend, {20, 1.5}, {0, 200}},
        {"corner", corner, {}, {0, 200}},
        {"empty", {}, {}, {}},
    };
    for (const auto& c : cases) {
        const std::vector<Traverse> traverses = SplitTraverses(c.track, c.turns);
        ASSERT_EQ(traverses.size(), c.starts.size()) << c.name;
        for (std::size_t i = 0; i < traverses.size(); ++i) {
            const Traverse& t = traverses[i];
            EXPECT_NEAR(static_cast<double>(t.begin), c.starts[i], 2) << c.name << " traverse " << i;
            EXPECT_EQ(t.end, i + 1 < traverses.size() ? traverses[i + 1].begin : c.track.x.size()) << c.name;
            EXPECT_TRUE(t.begin <= t.straightBegin && t.straightBegin < t.straightEnd && t.straightEnd <= t.end)
                << c.name << " traverse " << i;
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

}  // namespace
