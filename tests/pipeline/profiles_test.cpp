#include "pipeline/profiles.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace qgrad {
namespace {

// Channel 0 holds the points; `rows` empty means one point a row.
SurveyProfiles OneChannel(std::vector<double> distance, std::vector<double> gradient,
                          std::vector<std::uint32_t> rows = {}) {
    SurveyProfiles p;
    p.distance = std::move(distance);
    for (std::size_t i = 0; i < gradient.size(); ++i) p.channel[0].Append(rows.empty() ? i : rows[i], gradient[i]);
    p.MeasureSpans();
    return p;
}

std::vector<std::size_t> PointsOf(const std::vector<DrawnPoint>& drawn) {
    std::vector<std::size_t> points;
    for (const DrawnPoint& d : drawn) points.push_back(d.point);
    return points;
}

TEST(DrawnPoints, ShapingPointsOfEachColumn) {
    struct Case {
        const char* name;
        SurveyProfiles profiles;
        double lower, upper;
        int columns;
        std::vector<std::size_t> drawn;
    };
    const Case cases[] = {
        // Column 0 holds points 0-5: first 0, lowest 2, highest 4, last 5.
        {"first, lowest, highest and last of a column",
         OneChannel({0, 1, 2, 3, 4, 5, 10}, {1, 2, -5, 3, 9, 0, 7}), 0, 10, 2, {0, 2, 4, 5, 6}},
        {"every point when the columns outnumber them", OneChannel({0, 1, 2, 3}, {5, 6, 7, 8}), 0, 3, 100,
         {0, 1, 2, 3}},
        {"the nearest point beyond each end", OneChannel({0, 1, 2, 3, 4, 5, 6}, {0, 1, 2, 3, 4, 5, 6}), 2.5, 4.5, 10,
         {2, 3, 4, 5}},
        {"nothing in the span: only the neighbours", OneChannel({0, 1, 5, 6}, {0, 1, 2, 3}), 2, 4, 10, {1, 2}},
        {"a channel with gaps finds its distances through its rows",
         OneChannel({0, 1, 2, 3, 4, 5}, {10, 30, 50}, {1, 3, 5}), 0.5, 3.5, 10, {0, 1, 2}},
        {"distances that fall back are drawn in distance order",
         OneChannel({3, 1, 2, 0, 9}, {1, 2, 3, 4, 5}), 0, 3, 100, {3, 1, 2, 0, 4}},
        {"an empty channel draws nothing", OneChannel({0, 1}, {}), 0, 1, 10, {}},
        {"a span of no width puts everything in one column", OneChannel({2, 2, 2}, {1, 3, 2}), 2, 2, 10, {0, 1, 2}},
    };
    for (const Case& c : cases) {
        std::vector<DrawnPoint> drawn;
        DrawnPoints(c.profiles, 0, c.lower, c.upper, c.columns, drawn);
        EXPECT_EQ(PointsOf(drawn), c.drawn) << c.name;
        for (const DrawnPoint& d : drawn) {
            EXPECT_EQ(d.distance, c.profiles.DistanceOf(0, d.point)) << c.name;
            EXPECT_EQ(d.gradient, c.profiles.channel[0].Gradient(d.point)) << c.name;
        }
    }
}

// A long noisy profile drawn on few columns keeps every column's extremes,
// so the picture is the one all points would give.
TEST(DrawnPoints, EveryColumnKeepsItsExtremes) {
    std::mt19937 random(11);
    std::normal_distribution<double> noise(0, 3);
    std::vector<double> distance, gradient;
    double x = 0;
    for (int i = 0; i < 100000; ++i) {
        x += 0.01 + std::uniform_real_distribution<double>(0, 0.1)(random);
        distance.push_back(x);
        gradient.push_back(noise(random) + (i % 5000 == 0 ? 40 : 0));
    }
    const SurveyProfiles p = OneChannel(distance, gradient);
    for (const auto& [lower, upper, columns] :
         {std::tuple(0.0, x, 900), std::tuple(x / 3, x / 2, 1200), std::tuple(100.0, 101.0, 1900)}) {
        std::vector<DrawnPoint> drawn;
        DrawnPoints(p, 0, lower, upper, columns, drawn);
        ASSERT_FALSE(drawn.empty());
        EXPECT_LE(drawn.size(), 4u * columns + 2);
        EXPECT_TRUE(std::is_sorted(drawn.begin(), drawn.end(),
                                   [](const DrawnPoint& a, const DrawnPoint& b) { return a.distance < b.distance; }));
        auto column = [&](double d) {
            return std::min(columns - 1, static_cast<int>((d - lower) * (columns / (upper - lower))));
        };
        std::vector<double> low(columns, INFINITY), high(columns, -INFINITY), drawnLow = low, drawnHigh = high;
        for (std::size_t i = 0; i < distance.size(); ++i) {
            if (distance[i] < lower || distance[i] > upper) continue;
            const int c = column(distance[i]);
            low[c] = std::min(low[c], gradient[i]);
            high[c] = std::max(high[c], gradient[i]);
        }
        for (const DrawnPoint& d : drawn) {
            if (d.distance < lower || d.distance > upper) continue;
            const int c = column(d.distance);
            drawnLow[c] = std::min(drawnLow[c], d.gradient);
            drawnHigh[c] = std::max(drawnHigh[c], d.gradient);
        }
        EXPECT_EQ(drawnLow, low) << lower << ".." << upper;
        EXPECT_EQ(drawnHigh, high) << lower << ".." << upper;
    }
}

// Whole tenths are kept compactly, anything else exactly: either way each
// point gives back the value it was given, on its row.
TEST(ProfileSeries, GivesBackWhatItWasGiven) {
    struct Case {
        const char* name;
        std::vector<std::size_t> rows;
        std::vector<double> gradients;
    };
    const Case cases[] = {
        {"tenths", {0, 1, 2, 3}, {0.5, -0.2, 1234567.8, -214748364.7}},
        {"a value of hundredths keeps all exactly", {0, 1, 2}, {0.5, 0.13, -7.1}},
        {"beyond the tenths' range", {0, 1}, {0.1, 3e9}},
        {"gaps give each point its row", {2, 3, 7}, {1.5, 2.5, 3.5}},
        {"a later gap", {0, 1, 5}, {1, 2, 3}},
    };
    for (const Case& c : cases) {
        ProfileSeries series;
        for (std::size_t i = 0; i < c.gradients.size(); ++i) series.Append(c.rows[i], c.gradients[i]);
        const std::vector<double>& expected = c.gradients;
        series.Fit();
        ASSERT_EQ(series.size(), expected.size()) << c.name;
        for (std::size_t i = 0; i < expected.size(); ++i) {
            EXPECT_EQ(series.Gradient(i), expected[i]) << c.name << " point " << i;
            EXPECT_EQ(series.RowOf(i), c.rows[i]) << c.name << " point " << i;
        }
    }
}

TEST(SurveyProfiles, SpansAndOrderOfEachChannel) {
    const SurveyProfiles rising = OneChannel({0, 2, 4, 6}, {3, -1, 8}, {0, 2, 3});
    EXPECT_TRUE(rising.ascending[0]);
    EXPECT_EQ(rising.distanceSpan[0].lower, 0);
    EXPECT_EQ(rising.distanceSpan[0].upper, 6);
    EXPECT_EQ(rising.gradientSpan[0].lower, -1);
    EXPECT_EQ(rising.gradientSpan[0].upper, 8);
    EXPECT_TRUE(rising.distanceSpan[1].empty);
    EXPECT_FALSE(OneChannel({0, 2, 1}, {1, 1, 1}).ascending[0]);
}

}  // namespace
}  // namespace qgrad
