#include "gridhost/kriging.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <vector>

using namespace qgrad;

namespace {

constexpr int kUtm37North = 32637;
constexpr double kEast0 = 500'000, kNorth0 = 6'180'000;
constexpr double kWidth = 80, kHeight = 60;  // m
// A hole in the survey wider than a tile and the first overlap around it.
constexpr double kGapWest = 25, kGapEast = 55, kGapSouth = 15, kGapNorth = 45;

bool InGap(double east, double north) {
    return east > kGapWest && east < kGapEast && north > kGapSouth && north < kGapNorth;
}

// Traverses 1 m apart, walked both ways, a reading every 0.25 m, each
// position jittered by a few centimetres, so that no two points lie at the
// same distance from a node; none in the hole.
std::vector<DataPoint> Traverses(unsigned seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> jitter(-0.04, 0.04);
    std::vector<DataPoint> points;
    for (double north = 0; north <= kHeight; north += 1)
        for (double along = 0; along <= kWidth; along += 0.25) {
            const double east = static_cast<int>(north) % 2 ? kWidth - along : along;
            if (InGap(east, north)) continue;
            const double x = east + jitter(random), y = north + jitter(random);
            points.push_back({kEast0 + x, kNorth0 + y, std::sin(x / 6) * std::cos(y / 9) + 0.01 * x});
        }
    return points;
}

std::vector<DataPoint> FewPoints() {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> east(0, kWidth), north(0, kHeight);
    std::vector<DataPoint> points;
    for (int i = 0; i < 200; ++i) {
        const double x = east(random), y = north(random);
        points.push_back({kEast0 + x, kNorth0 + y, std::cos(x / 10) + y / 30});
    }
    return points;
}

TEST(TiledKriging, EqualsTheWholeGridKrigedAtOnce) {
    const std::vector<DataPoint> traverses = Traverses(11), few = FewPoints();
    KrigingOptions plain;
    plain.shareFactorisations = false;
    const struct {
        const char* name;
        const std::vector<DataPoint>& points;
        double cell;
        int tileCols, tileRows;
        KrigingOptions options;
    } cases[] = {
        {"square tiles, some in the hole with no points", traverses, 1, 8, 8, {}},
        {"tiles of uneven edges", traverses, 1, 23, 11, {}},
        {"strips one node wide", traverses, 1, 1, 1000, {}},
        {"strips one node high", traverses, 1, 1000, 1, {}},
        {"two tiles", traverses, 0.5, 100, 1000, {}},
        {"each node its own system", traverses, 1, 16, 16, plain},
        {"few points in one system", few, 1, 16, 16, {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Grid nodes = MetricGridNodes(c.points, kUtm37North, c.cell, 1'000'000);
        const Grid whole = KrigeMetricGrid(c.points, nodes, c.options);
        KrigingOptions tiling = c.options;
        tiling.tileCols = c.tileCols;
        tiling.tileRows = c.tileRows;
        std::vector<int> delivered(whole.z.size(), 0);
        int tiles = 0;
        const Grid tiled = KrigeMetricGrid(c.points, nodes, tiling, {}, nullptr, [&](const GridTile& t) {
            ++tiles;
            ASSERT_EQ(t.z.size(), static_cast<std::size_t>(t.cols) * t.rows);
            for (int r = 0; r < t.rows; ++r)
                for (int col = 0; col < t.cols; ++col) {
                    ++delivered[static_cast<std::size_t>(t.row + r) * whole.cols + t.col + col];
                    const double v = t.z[static_cast<std::size_t>(r) * t.cols + col];
                    const double w = whole.at(t.col + col, t.row + r);
                    EXPECT_TRUE(std::isnan(v) ? std::isnan(w) : std::fabs(v - w) <= 1e-9)
                        << "tile node " << t.col + col << ", " << t.row + r << ": " << v << " against " << w;
                }
        });
        EXPECT_GT(tiles, 1);
        EXPECT_TRUE(std::all_of(delivered.begin(), delivered.end(), [](int n) { return n == 1; }))
            << "every node in exactly one tile";
        ASSERT_EQ(tiled.z.size(), whole.z.size());
        int valued = 0, differing = 0;
        for (std::size_t i = 0; i < whole.z.size(); ++i) {
            if (!std::isnan(whole.z[i])) ++valued;
            const bool same = std::isnan(whole.z[i]) ? std::isnan(tiled.z[i])
                                                     : std::fabs(tiled.z[i] - whole.z[i]) <= 1e-9;
            if (!same) ++differing;
        }
        EXPECT_EQ(differing, 0) << "of " << whole.z.size() << " nodes";
        EXPECT_GT(valued, static_cast<int>(whole.z.size()) / 2);
    }
}

// The hole is what makes tiles take their points from wider around: a
// tile inside it has none of its own.
TEST(TiledKriging, TheFixtureHasTilesWithoutPoints) {
    const std::vector<DataPoint> points = Traverses(11);
    const double x = kEast0 + 40, y = kNorth0 + 30;
    const bool any = std::any_of(points.begin(), points.end(), [&](const DataPoint& p) {
        return std::fabs(p.lon - x) < 4 && std::fabs(p.lat - y) < 4;
    });
    EXPECT_FALSE(any) << "8 m about the middle of the field holds no points";
}

}  // namespace
