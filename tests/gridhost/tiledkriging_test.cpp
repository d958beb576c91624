#include "gridhost/kriging.h"

#include <Eigen/Dense>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <utility>
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

// Ordinary kriging at (x, y) from the 8 nearest points of each quadrant
// among the 64 nearest of all (the 256 nearest where a quadrant has fewer),
// found by sorting every point by its distance: what the kriging's own
// search must find. NaN where fewer than 8 points are found.
double KrigedFromNearestOfAll(const std::vector<std::array<double, 3>>& plane, double x, double y) {
    std::vector<std::pair<double, std::uint32_t>> byDistance;
    for (std::uint32_t i = 0; i < plane.size(); ++i) {
        const double dx = x - plane[i][0], dy = y - plane[i][1];
        byDistance.push_back({dx * dx + dy * dy, i});
    }
    const auto nearest = byDistance.begin() + static_cast<std::ptrdiff_t>(std::min<std::size_t>(256, byDistance.size()));
    std::partial_sort(byDistance.begin(), nearest, byDistance.end());
    std::vector<std::uint32_t> chosen;
    for (const std::size_t k : {std::size_t{64}, std::size_t{256}}) {
        chosen.clear();
        std::array<int, 4> count{};
        for (std::size_t j = 0; j < std::min(k, byDistance.size()); ++j) {
            const auto& p = plane[byDistance[j].second];
            const int q = (p[0] >= x ? 0 : 1) + (p[1] >= y ? 0 : 2);
            if (count[q] < 8) {
                ++count[q];
                chosen.push_back(byDistance[j].second);
            }
        }
        if (chosen.size() == 32) break;
    }
    if (chosen.size() < 8) return std::nan("");
    std::sort(chosen.begin(), chosen.end());
    const int n = static_cast<int>(chosen.size());
    Eigen::MatrixXd a(n + 1, n + 1);
    Eigen::VectorXd b(n + 1);
    for (int i = 0; i <= n; ++i) {
        for (int j = 0; j <= n; ++j)
            a(i, j) = i == n || j == n ? (i == j ? 0.0 : 1.0)
                                       : std::hypot(plane[chosen[i]][0] - plane[chosen[j]][0],
                                                    plane[chosen[i]][1] - plane[chosen[j]][1]);
        b(i) = i == n ? 1.0 : std::hypot(plane[chosen[i]][0] - x, plane[chosen[i]][1] - y);
    }
    const Eigen::VectorXd w = a.partialPivLu().solve(b);
    double z = 0;
    for (int i = 0; i < n; ++i) z += w(i) * plane[chosen[i]][2];
    return z;
}

// The search walks the nodes with the points it met about the last ones:
// every node, in the open, beside the hole and at the edges where quadrants
// run short, must still have the nearest points of all.
TEST(Kriging, EveryNodeHasTheNearestPointsOfAll) {
    const std::vector<DataPoint> points = Traverses(5);
    const Grid nodes = MetricGridNodes(points, kUtm37North, 0.5, 1'000'000);
    const Grid g = KrigeMetricGrid(points, nodes);
    std::vector<std::array<double, 3>> plane;
    for (const DataPoint& p : points) plane.push_back({p.lon - g.xLL, p.lat - g.yLL, p.z});
    // A fifth of the nodes, spread over every row and column: sorting all
    // points for every node would take the test minutes.
    int checked = 0, differing = 0;
    for (int row = 0; row < g.rows; ++row)
        for (int col = (row * 3) % 5; col < g.cols; col += 5) {
            const double v = g.at(col, row);
            if (std::isnan(v)) continue;
            ++checked;
            const double expected = KrigedFromNearestOfAll(plane, col * g.xSize, row * g.ySize);
            if (!(std::fabs(v - expected) <= 1e-9) && differing++ < 5)
                ADD_FAILURE() << "node " << col << ", " << row << ": " << v << " against " << expected;
        }
    EXPECT_EQ(differing, 0) << "of " << checked << " nodes with a value";
    EXPECT_GT(checked, g.cols * g.rows / 10);
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
