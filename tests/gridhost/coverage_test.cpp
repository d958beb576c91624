#include "common/geodesy.h"
#include "gridhost/coverage.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace qgrad;

namespace {

constexpr double kLat0 = 55.75, kLon0 = 37.61;

DataPoint At(double east, double north) {
    return {kLon0 + east / MetresPerDegreeLongitude(kLat0), kLat0 + north / kMetresPerDegree, 0};
}

struct Cut {
    double fromEast, toEast, fromNorth, toNorth;  // the readings left out
};

// Sensor lines 0.5 m apart running north, a reading every 0.1 m, over a
// `width` by 50 m block; readings inside `cut` are left out.
std::vector<DataPoint> Lines(double width, const std::vector<Cut>& cuts) {
    std::vector<DataPoint> points;
    for (double east = 0.25; east < width; east += 0.5)
        for (int i = 0; i <= 500; ++i) {
            const double north = i * 0.1;
            bool out = false;
            for (const Cut& c : cuts)
                out = out || (east > c.fromEast && east < c.toEast && north > c.fromNorth && north < c.toNorth);
            if (!out) points.push_back(At(east, north));
        }
    return points;
}

TEST(Coverage, FullyWalkedBlockHasNoGap) {
    const Coverage c = FindCoverage(Lines(30, {}));
    EXPECT_TRUE(c.gaps.empty());
    EXPECT_EQ(c.uncoveredArea, 0);
    // The hull runs through the outer lines: 29.5 m by 50 m.
    EXPECT_NEAR(c.blockArea, 29.5 * 50, 0.02 * 29.5 * 50);
    EXPECT_EQ(c.coveredArea, c.blockArea);
}

TEST(Coverage, FindsAMissedStripAndItsArea) {
    // Twelve lines (6 m) missed over 30 m: the lines either side, 6.5 m
    // apart, reach 1 m in, and the ends of the missed lines 1 m along
    // (0.97 m between two lines' ends), leaving 4.5 m by 28.06 m.
    const Coverage c = FindCoverage(Lines(40, {{20, 26, 10, 40}}), {.gapMetres = 1.0});
    ASSERT_EQ(c.gaps.size(), 1u);
    const double truth = 4.5 * (30 - 2 * 0.968);
    EXPECT_NEAR(c.gaps[0].area, truth, 0.05 * truth);
    EXPECT_NEAR(c.uncoveredArea, c.gaps[0].area, 1e-9);
    EXPECT_NEAR((c.gaps[0].lon - kLon0) * MetresPerDegreeLongitude(kLat0), 23, 0.1);
    EXPECT_NEAR((c.gaps[0].lat - kLat0) * kMetresPerDegree, 25, 0.1);
}

TEST(Coverage, GapsAreSeparateAndLargestFirst) {
    const Coverage c = FindCoverage(Lines(40, {{5, 9, 5, 15}, {25, 33, 20, 45}}), {.gapMetres = 1.0});
    ASSERT_EQ(c.gaps.size(), 2u);
    EXPECT_GT(c.gaps[0].area, c.gaps[1].area);
    EXPECT_NEAR((c.gaps[0].lon - kLon0) * MetresPerDegreeLongitude(kLat0), 29, 0.2);
    // A wider reach closes the narrower gap (lines 4.5 m apart) altogether.
    const Coverage wide = FindCoverage(Lines(40, {{5, 9, 5, 15}, {25, 33, 20, 45}}), {.gapMetres = 2.3});
    ASSERT_EQ(wide.gaps.size(), 1u);
}

TEST(Coverage, DegenerateInputGivesNoBlock) {
    EXPECT_EQ(FindCoverage({}).blockArea, 0);
    EXPECT_EQ(FindCoverage({At(1, 1), At(2, 2)}).blockArea, 0);
    EXPECT_EQ(FindCoverage(Lines(10, {}), {.gapMetres = 0}).blockArea, 0);
}

TEST(Coverage, RasterStaysWithinItsCellLimit) {
    // 20 km across at a 1 cm gap would be 4e12 cells.
    const CoverageOptions options{.gapMetres = 0.01, .maxCells = 1'000'000};
    const Coverage c = FindCoverage({At(0, 0), At(20000, 0), At(0, 20000), At(20000, 20000)}, options);
    EXPECT_LE(static_cast<long long>(c.cols) * c.rows, options.maxCells + 2 * (c.cols + c.rows) + 1);
    EXPECT_NEAR(c.blockArea, 4e8, 0.01 * 4e8);
}

}  // namespace
