// The stages over a synthetic survey with known truth: a dipole on a few
// traverses, with spikes, sensor offsets, heading error and lagging fixes.
#include "arrange/arrange.h"
#include "processing/processing.h"
#include "syntheticsurvey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

using namespace qgrad;
using qgrad::synthetic::MakeSurvey;
using qgrad::synthetic::SurveyShape;
using qgrad::synthetic::SyntheticSurvey;

namespace {

// A survey arranged as the opening arranges it.
struct Arranged {
    SyntheticSurvey survey;
    ArrangedPoints points;
    int sensors = 0;

    Arranged(const SurveyShape& shape, const synthetic::Addition& add = {})
        : survey(MakeSurvey(shape, add)), sensors(shape.sensors) {
        EXPECT_TRUE(ArrangeToGps(survey.table, survey.geometry, true, points));
    }
    // Every row has every sensor's readings: rows first, then sensors.
    std::size_t Point(std::size_t row, int k) const { return row * static_cast<std::size_t>(sensors) + k; }
    std::size_t Rows() const { return survey.anomaly.size(); }
};

// A reading well away from the dipole, on a straight stretch of a traverse.
bool Quiet(const SyntheticSurvey& s, std::size_t r, int k, const SurveyShape& shape) {
    return std::abs(s.anomaly[r][k]) < 0.02 && s.y[r][k] > 2 && s.y[r][k] < shape.length - 2;
}

TEST(ChannelPointsTest, IndexesEveryPointOfItsChannel) {
    SurveyShape shape;
    shape.traverses = 1;
    Arranged a(shape);
    const ChannelPoints index = IndexChannelPoints(a.survey.table, a.points.size());
    EXPECT_TRUE(index.complete);
    for (int k = 0; k < kChannels; ++k) {
        ASSERT_EQ(index.point[k].size(), k < shape.sensors ? a.Rows() : 0u) << k;
        for (std::size_t i = 0; i < index.point[k].size(); ++i) {
            EXPECT_EQ(index.point[k][i], a.Point(i, k));
            EXPECT_EQ(index.row[k][i], i);
        }
    }
    // An arrangement that stopped early made fewer points.
    const ChannelPoints partial = IndexChannelPoints(a.survey.table, 10);
    EXPECT_FALSE(partial.complete);
    EXPECT_EQ(partial.point[0], (std::vector<std::uint32_t>{0, 4, 8}));
    EXPECT_EQ(partial.point[1], (std::vector<std::uint32_t>{1, 5, 9}));
    EXPECT_EQ(partial.point[2], (std::vector<std::uint32_t>{2, 6}));
    EXPECT_EQ(partial.row[3], (std::vector<std::uint32_t>{0, 1}));
}

TEST(ChannelPointsTest, RowsMissingAReadingHaveNoPoint) {
    SurveyShape shape;
    shape.traverses = 1;
    shape.sensors = kChannels;
    shape.length = 40.1;  // an odd number of rows
    SyntheticSurvey s = MakeSurvey(shape);
    const std::size_t rows = s.table.dataRowCount();
    auto fieldGone = [](std::size_t r, int k) { return (r * 7 + static_cast<std::size_t>(k) * 13) % 11 == 0; };
    auto gradientGone = [](std::size_t r, int k) { return (r * 5 + static_cast<std::size_t>(k)) % 17 == 0 || k == 9; };
    for (int k = 0; k < kChannels; ++k) {
        ColumnRewriter field(s.table.column(FieldColumn(k)));
        ColumnRewriter gradient(s.table.column(GradientColumn(k)));
        for (std::size_t r = 0; r < rows; ++r) {
            if (fieldGone(r, k)) field.Set(r + kFirstDataRow, "");
            if (gradientGone(r, k)) gradient.Set(r + kFirstDataRow, "");
        }
        field.Finish();
        gradient.Finish();
    }
    // Rows first, then channels, as the arrangement numbers its points.
    ChannelPoints expected;
    for (std::size_t r = 0; r < rows; ++r)
        for (int k = 0; k < kChannels; ++k)
            if (!fieldGone(r, k) && !gradientGone(r, k)) {
                expected.point[k].push_back(static_cast<std::uint32_t>(expected.channel.size()));
                expected.row[k].push_back(static_cast<std::uint32_t>(r));
                expected.channel.push_back(static_cast<std::uint8_t>(k));
            }
    const std::size_t total = expected.channel.size();
    ASSERT_GT(total, 0u);
    auto first = [](const auto& v, std::size_t n) { return std::vector(v.begin(), v.begin() + static_cast<long>(n)); };
    for (const std::size_t made : {total, total + 3, total - 777, std::size_t{1}, std::size_t{0}}) {
        const ChannelPoints index = IndexChannelPoints(s.table, made);
        EXPECT_EQ(index.complete, made >= total) << made;
        EXPECT_EQ(index.channel, first(expected.channel, std::min(made, total))) << made;
        for (int k = 0; k < kChannels; ++k) {
            std::size_t n = 0;
            while (n < expected.point[k].size() && expected.point[k][n] < made) ++n;
            EXPECT_EQ(index.point[k], first(expected.point[k], n)) << made << " channel " << k;
            EXPECT_EQ(index.row[k], first(expected.row[k], n)) << made << " channel " << k;
        }
    }
}

TEST(ProcessSurveyTest, EveryStageOffLeavesThePointsAsArranged) {
    Arranged a(SurveyShape{});
    const ArrangedPoints before = a.points;
    const ProcessingReport report = ProcessSurvey(a.survey.table, a.survey.geometry, a.points, ProcessingSettings{});
    EXPECT_FALSE(report.lag || report.despike || report.destripe);
    ASSERT_EQ(a.points.size(), before.size());
    for (std::size_t i = 0; i < before.size(); ++i)
        for (const PointTable t : {PointTable::Absolute, PointTable::Gradient})
            for (int c = 0; c < 3; ++c) ASSERT_EQ(a.points.CellText(t, c, i + 1), before.CellText(t, c, i + 1)) << i;
}

struct Injected {
    int sensor;
    std::size_t row;
    double amount;
};

TEST(DespikeSurveyTest, FindsTheInjectedSpikesAndNoOthers) {
    const SurveyShape shape;
    // The row where sensor 3 passes closest to the dipole, on the second traverse.
    const std::size_t peak = [&] {
        const SyntheticSurvey s = MakeSurvey(shape);
        std::size_t best = 0;
        for (std::size_t r = 0; r < s.anomaly.size(); ++r)
            if (s.anomaly[r][3] > s.anomaly[best][3]) best = r;
        return best;
    }();
    const struct {
        const char* name;
        std::vector<Injected> spikes;
        double k;
        bool found;
        int halfWidth = DespikeSettings{}.halfWidth;
    } cases[] = {
        {"clean dipole", {}, 5, true},
        {"single spikes on and off the anomaly", {{3, peak, 60}, {0, 100, -45}, {2, 1500, 12}}, 5, true},
        {"two readings side by side", {{1, 700, 30}, {1, 701, 30}}, 5, true},
        {"three readings side by side", {{1, 700, 30}, {1, 701, 25}, {1, 702, 30}}, 5, true},
        // On the anomaly's steep flank a five-reading window spreads wide:
        // only a large spike stands out of it.
        {"a large spike on the anomaly's flank", {{3, peak + 2, 100}}, 5, true, 2},
        {"a small one there", {{3, peak + 2, 20}}, 5, false, 2},
        {"a small one there, seven readings wide", {{3, peak + 2, 20}}, 5, true},
        {"a moderate spike", {{2, 300, 4}}, 5, true},
        {"a moderate spike under a large K", {{2, 300, 4}}, 50, false},
    };
    for (const auto& c : cases) {
        Arranged a(shape, [&](int k, std::size_t r, double) {
            for (const Injected& s : c.spikes)
                if (s.sensor == k && s.row == r) return s.amount;
            return 0.0;
        });
        ProcessingSettings settings;
        settings.despike.on = true;
        settings.despike.k = c.k;
        settings.despike.halfWidth = c.halfWidth;
        const ProcessingReport report = ProcessSurvey(a.survey.table, a.survey.geometry, a.points, settings);
        ASSERT_TRUE(report.despike) << c.name;
        std::vector<std::pair<int, std::size_t>> expected, found;
        if (c.found)
            for (const Injected& s : c.spikes)
                for (int table = 0; table < 2; ++table) expected.emplace_back(s.sensor, s.row);
        for (const Spike& s : report.despike->spikes) found.emplace_back(s.channel, s.row);
        std::sort(expected.begin(), expected.end());
        std::sort(found.begin(), found.end());
        EXPECT_EQ(found, expected) << c.name;
        // What a spike became lies close to the true reading, levelled as the
        // first row (which has no spike) shows.
        for (const Spike& s : report.despike->spikes) {
            const double level = a.survey.anomaly[0][s.channel] - a.points.value(s.table, a.Point(0, s.channel));
            EXPECT_EQ(a.points.value(s.table, a.Point(s.row, s.channel)), s.replacement) << c.name;
            EXPECT_NEAR(s.replacement + level, a.survey.anomaly[s.row][s.channel], 4) << c.name;
        }
    }
}

struct StripeCase {
    const char* name;
    std::vector<double> sensorOffsets;  // per sensor, nT and nT/m
    double headingError;                // added walking north, taken off walking south
    LevelEstimate estimate;
    LevelGrouping grouping;
    // The mean is pulled by the anomaly's ring a little more than the median.
    double tolerance;
};

TEST(DestripeSurveyTest, TakesOffTheStripesAndKeepsTheAnomaly) {
    const SurveyShape shape;
    const StripeCase cases[] = {
        {"sensor offsets, median per traverse", {3, -2, 1.5, -4}, 0, LevelEstimate::Median, LevelGrouping::Traverse, 0.05},
        {"sensor offsets, mean per traverse", {3, -2, 1.5, -4}, 0, LevelEstimate::Mean, LevelGrouping::Traverse, 0.1},
        {"heading error per traverse", {0, 0, 0, 0}, 0.8, LevelEstimate::Median, LevelGrouping::Traverse, 0.05},
        {"heading error per direction", {0, 0, 0, 0}, 0.8, LevelEstimate::Median, LevelGrouping::Direction, 0.05},
        {"both, mean per direction", {2.5, -3, 0.5, 4}, -1.2, LevelEstimate::Mean, LevelGrouping::Direction, 0.1},
    };
    for (const StripeCase& c : cases) {
        Arranged a(shape, [&](int k, std::size_t, double north) { return c.sensorOffsets[k] + c.headingError * north; });
        ProcessingSettings settings;
        settings.destripe.level = c.estimate;
        settings.destripe.grouping = c.grouping;
        const ProcessingReport report = ProcessSurvey(a.survey.table, a.survey.geometry, a.points, settings);
        ASSERT_TRUE(report.destripe) << c.name;
        ASSERT_EQ(report.destripe->levels.size(), static_cast<std::size_t>(shape.sensors * shape.traverses)) << c.name;
        double worst = 0;
        double peak = 0;
        double truePeak = 0;
        for (std::size_t r = 0; r < a.Rows(); ++r)
            for (int k = 0; k < shape.sensors; ++k) {
                const double truth = a.survey.anomaly[r][k];
                if (Quiet(a.survey, r, k, shape))
                    for (const PointTable t : {PointTable::Absolute, PointTable::Gradient})
                        worst = std::max(worst, std::abs(a.points.value(t, a.Point(r, k)) - truth));
                peak = std::max(peak, a.points.value(PointTable::Gradient, a.Point(r, k)));
                truePeak = std::max(truePeak, truth);
            }
        EXPECT_LT(worst, c.tolerance) << c.name;
        EXPECT_NEAR(peak / truePeak, 1, 0.05) << c.name;
        for (const TraverseLevel& t : report.destripe->levels) {
            // Traverses alternate north and south, and the first one is walked north.
            const bool north = t.traverse % 2 == 1;
            EXPECT_NEAR(std::min(t.bearing, 360 - t.bearing), north ? 0 : 180, 5) << c.name << " " << t.traverse;
            EXPECT_EQ(t.forward, north) << c.name;
        }
    }
}

TEST(LagSurveyTest, RecoversTheLagOfThePositions) {
    const struct {
        const char* name;
        double fixLag;
        double amplitude;
        int traverses;
        bool reliable;
        double expected;
    } cases[] = {
        {"fixes 0.2 s late", 0.2, 40, 5, true, 0.2},
        {"fixes 0.15 s early", -0.15, 40, 5, true, -0.15},
        {"fixes on time", 0, 40, 5, true, 0},
        {"a weak anomaly", 0.2, 2, 5, true, 0.2},
        {"a lag beyond the search", 1.6, 40, 5, false, 0},
        {"one traverse", 0.2, 40, 1, false, 0},
    };
    for (const auto& c : cases) {
        SurveyShape shape;
        shape.fixLag = c.fixLag;
        shape.dipoleAmplitude = c.amplitude;
        shape.traverses = c.traverses;
        Arranged a(shape, [](int k, std::size_t, double north) { return 0.5 * k + 0.3 * north; });
        ProcessingSettings settings;
        settings.lag.mode = LagMode::Auto;
        const ProcessingReport report = ProcessSurvey(a.survey.table, a.survey.geometry, a.points, settings);
        ASSERT_TRUE(report.lag && report.lag->estimate) << c.name;
        EXPECT_EQ(report.lag->estimate->reliable, c.reliable) << c.name << " correlation "
                                                              << report.lag->estimate->correlation;
        EXPECT_NEAR(report.lag->seconds, c.expected, 0.02) << c.name;
    }
}

TEST(LagSurveyTest, NoiseAloneGivesNoReliableEstimate) {
    SurveyShape shape;
    shape.dipoleAmplitude = 0;
    std::uint64_t state = 12345;
    Arranged a(shape, [&](int, std::size_t, double) {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state >> 40) / static_cast<double>(1 << 24) - 0.5;
    });
    const ArrangedPoints before = a.points;
    ProcessingSettings settings;
    settings.lag.mode = LagMode::Auto;
    const ProcessingReport report = ProcessSurvey(a.survey.table, a.survey.geometry, a.points, settings);
    ASSERT_TRUE(report.lag && report.lag->estimate);
    EXPECT_FALSE(report.lag->estimate->reliable);
    EXPECT_GT(report.lag->estimate->pairs, 0u);
    EXPECT_LT(report.lag->estimate->correlation, 0.4);
    EXPECT_EQ(report.lag->seconds, 0);
    for (std::size_t i = 0; i < before.size(); ++i) ASSERT_EQ(a.points.lon(i), before.lon(i));
}

TEST(ProcessSurveyTest, SurveysWithoutWholePoints) {
    ProcessingSettings all;
    all.lag.mode = LagMode::Fixed;
    all.lag.seconds = 0.3;
    all.despike.on = true;
    all.destripe.level = LevelEstimate::Median;
    SurveyShape bare;
    bare.sensors = 0;
    SurveyShape broken;
    broken.traverses = 1;
    const struct {
        const char* name;
        SurveyShape shape;
        std::size_t brokenRow;  // a reading that is not a number stops the arrangement there
        bool arranged;
    } cases[] = {
        {"no sensor at all", bare, 0, true},
        {"the arrangement stops early", broken, 200, false},
    };
    for (const auto& c : cases) {
        SyntheticSurvey s = MakeSurvey(c.shape);
        if (c.brokenRow) {
            const std::size_t row = SurveyTable::kHeadingRows + c.brokenRow;
            ColumnRewriter out(s.table.column(5));
            out.Set(row, "x");
            out.Finish();
        }
        ArrangedPoints points;
        EXPECT_EQ(ArrangeToGps(s.table, s.geometry, true, points), c.arranged) << c.name;
        const ArrangedPoints before = points;
        const ProcessingReport report = ProcessSurvey(s.table, s.geometry, points, all);
        ASSERT_TRUE(report.lag && report.despike && report.destripe) << c.name;
        EXPECT_FALSE(report.lag->applied) << c.name;
        EXPECT_EQ(report.lag->seconds, 0) << c.name;
        for (std::size_t i = 0; i < points.size(); ++i) ASSERT_EQ(points.lon(i), before.lon(i)) << c.name;
        EXPECT_TRUE(report.despike->spikes.empty()) << c.name;
        // Only the readings placed before the stop are levelled.
        EXPECT_EQ(report.destripe->levels.size(), points.size() == 0 ? 0u : 4u) << c.name;
    }
}

}  // namespace
