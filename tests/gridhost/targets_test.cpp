#include "buriedfield.h"
#include "gridhost/targets.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>

using namespace qgrad;
using namespace qgrad::testing;

namespace {

double EastOf(const Target& t, const Grid& g) { return (t.lon - g.xLL) / g.xSize * kCell; }
double NorthOf(const Target& t, const Grid& g) { return (t.lat - g.yLL) / g.ySize * kCell; }

const Target* Nearest(const TargetPicking& p, const Grid& g, const Buried& b) {
    const Target* best = nullptr;
    double bestDistance = 1e9;
    for (const Target& t : p.targets) {
        const double d = std::hypot(EastOf(t, g) - b.east, NorthOf(t, g) - b.north);
        if (d < bestDistance) bestDistance = d, best = &t;
    }
    return best;
}

// Iron at the depths a clearance dig meets, far enough apart to stand alone.
const std::vector<Buried> kBuried = {
    {"shallow small", 10, 10, 0.4, 3},   {"shallow strong", 30, 12, 0.5, 40}, {"middle", 50, 10, 0.8, 25},
    {"middle weak", 12, 32, 0.8, 8},     {"deeper", 32, 30, 1.0, 60},         {"deep", 50, 32, 1.2, 120},
    {"deep weak", 20, 50, 1.2, 40},      {"deepest", 42, 50, 1.2, 200},
};

// Weak and deep: noise parts each anomaly's rim above the threshold into
// islands of their own, one anomaly still.
const std::vector<Buried> kFaint = {
    {"faint deep", 15, 20, 2.0, 30},
    {"faint shallower", 45, 15, 1.2, 10},
    {"faint deepest", 30, 45, 2.0, 20},
};

// Every one of `buried` found once where it lies and, where the rule
// resolves it, how deep; nothing else.
void FindsEachOnce(const Grid& g, const std::vector<Buried>& buried) {
    const TargetPicking picking = PickTargets(g);
    EXPECT_NEAR(picking.median, 1.5, 0.05);
    // The anomalies' tails widen the spread a little beyond the noise's.
    EXPECT_GE(picking.threshold, 6 * kNoise);
    EXPECT_LE(picking.threshold, 9 * kNoise);
    ASSERT_EQ(picking.targets.size(), buried.size()) << TargetsCsv(picking);
    for (const Buried& b : buried) {
        SCOPED_TRACE(b.name);
        const Target* t = Nearest(picking, g, b);
        ASSERT_NE(t, nullptr);
        // The positive lobe peaks south of the source by a sixth of its depth
        // below the sensor: within a cell down to 1 m, beyond by that shift.
        const double shift = b.depth > 1.0 ? (b.depth + kLowerSensor) / 6 : 0;
        EXPECT_LE(std::hypot(EastOf(*t, g) - b.east, NorthOf(*t, g) - b.north), kCell + shift);
        EXPECT_GT(t->positiveLobe, 0);
        // The rule needs the half-peak circle 1.5 cells wide: at 0.25 m
        // cells, sources from about 0.55 m down.
        if (b.depth >= 0.55) {
            ASSERT_TRUE(t->depth.has_value());
        }
        if (t->depth) {
            EXPECT_NEAR(*t->depth, b.depth, 0.3 * b.depth);
        }
    }
    for (std::size_t i = 1; i < picking.targets.size(); ++i) {
        EXPECT_EQ(picking.targets[i].number, static_cast<int>(i + 1));
        EXPECT_GE(std::abs(picking.targets[i - 1].peak), std::abs(picking.targets[i].peak));
    }
}

TEST(TargetPicking, FindsEveryBuriedDipoleWhereItLiesAndHowDeep) {
    const struct {
        const char* name;
        const std::vector<Buried>& buried;
        std::vector<std::uint64_t> seeds;
    } fields[] = {{"the depths a dig meets", kBuried, {11}}, {"faint, parted by noise", kFaint, {1, 2, 3, 4, 5, 6}}};
    for (const auto& field : fields)
        for (std::uint64_t seed : field.seeds) {
            SCOPED_TRACE(std::string(field.name) + ", seed " + std::to_string(seed));
            FindsEachOnce(FieldGrid(field.buried, seed), field.buried);
        }
}

TEST(TargetPicking, TakesADipolesTwoLobesAsOneTarget) {
    // Strong enough that its northern negative lobe passes the threshold too.
    const Buried strong{"strong", 30, 30, 0.6, 300};
    const Grid g = FieldGrid({strong}, 5);
    const TargetPicking picking = PickTargets(g);
    ASSERT_EQ(picking.targets.size(), 1u) << TargetsCsv(picking);
    const Target& t = picking.targets[0];
    EXPECT_GT(t.positiveLobe, 0);
    EXPECT_LT(t.negativeLobe, -picking.threshold);
    EXPECT_EQ(t.peak, t.positiveLobe);
}

TEST(TargetPicking, InventsNothingOnNoise) {
    for (std::uint64_t seed : {1, 2, 3, 4}) {
        const TargetPicking picking = PickTargets(FieldGrid({}, seed));
        EXPECT_TRUE(picking.targets.empty()) << "seed " << seed << "\n" << TargetsCsv(picking);
    }
}

TEST(TargetPicking, ThresholdInNanoteslaPerMetreAndBlanksAndTinyGrids) {
    Grid g = FieldGrid(kBuried, 11);
    TargetOptions options;
    options.threshold = 1e6;
    EXPECT_TRUE(PickTargets(g, options).targets.empty());
    // Blank nodes neither count nor join lobes.
    for (double& v : g.z) v = std::nan("");
    EXPECT_TRUE(PickTargets(g).targets.empty());
    Grid tiny;
    tiny.cols = tiny.rows = 2;
    tiny.z = {1, 2, 3, 400};
    EXPECT_TRUE(PickTargets(tiny).targets.empty());
}

TEST(TargetPicking, UnresolvedWidthGivesNoDepth) {
    // On 2 m cells a shallow object's half-peak area is a node or two.
    Grid fine = FieldGrid({{"shallow", 30, 30, 0.4, 40}}, 3);
    Grid coarse;
    coarse.cols = coarse.rows = 31;
    coarse.xLL = fine.xLL;
    coarse.yLL = fine.yLL;
    coarse.xSize = fine.xSize * 8;
    coarse.ySize = fine.ySize * 8;
    for (int r = 0; r < coarse.rows; ++r)
        for (int c = 0; c < coarse.cols; ++c) coarse.z.push_back(fine.at(c * 8, r * 8));
    const TargetPicking picking = PickTargets(coarse);
    ASSERT_EQ(picking.targets.size(), 1u) << TargetsCsv(picking);
    EXPECT_FALSE(picking.targets[0].depth.has_value());
}

TEST(TargetPicking, CsvHasARowForEachTargetAndLeavesAnUnknownDepthEmpty) {
    TargetPicking p;
    Target t;
    t.number = 1, t.lon = 37.612345678, t.lat = 55.751234567, t.peak = 12.345, t.positiveLobe = 12.345;
    t.negativeLobe = -1.5, t.halfPeakArea = 0.4, t.depth = 0.81;
    p.targets.push_back(t);
    t.number = 2, t.depth.reset();
    p.targets.push_back(t);
    std::istringstream lines(TargetsCsv(p));
    std::string heading, first, second;
    std::getline(lines, heading), std::getline(lines, first), std::getline(lines, second);
    EXPECT_EQ(heading,
              "number,longitude,latitude,peak_nT_m,positive_lobe_nT_m,negative_lobe_nT_m,half_peak_area_m2,depth_m,"
              "survey_file,line");
    EXPECT_EQ(first, "1,37.612345678,55.751234567,12.35,12.35,-1.50,0.400,0.81,,");
    EXPECT_EQ(second, "2,37.612345678,55.751234567,12.35,12.35,-1.50,0.400,,,");
}

TEST(TargetPicking, CsvNamesTheNearestPointsFileQuotedWhereItMustBe) {
    const struct {
        const char* name;
        PointOrigin nearest;
        const char* ending;
    } cases[] = {
        {"plain name", {"run002.csv", 517}, ",run002.csv,517"},
        {"comma", {"west, run 2.csv", 9}, ",\"west, run 2.csv\",9"},
        {"quote", {"the \"old\" field.csv", 12}, ",\"the \"\"old\"\" field.csv\",12"},
        {"unknown", {}, ",,"},
    };
    for (const auto& c : cases) {
        TargetPicking p;
        Target& t = p.targets.emplace_back();
        t.number = 1;
        t.nearest = c.nearest;
        std::istringstream lines(TargetsCsv(p));
        std::string heading, row;
        std::getline(lines, heading), std::getline(lines, row);
        EXPECT_TRUE(row.ends_with(c.ending)) << c.name << ": " << row;
    }
}

TEST(PointOrigins, EachPointIsInItsRunAndSampleRow) {
    PointOrigins origins;
    // The first run's rows hold 3, 0 and 2 points from data line 5; the
    // second's 1 and 4 from line 7.
    origins.AddRun("a.csv", 5, {0, 3, 3}, 5);
    origins.AddRun("b.csv", 7, {0, 1}, 5);
    ASSERT_EQ(origins.PointCount(), 10u);
    const struct {
        const char* name;
        std::size_t point;
        PointOrigin expected;
    } cases[] = {
        {"first point", 0, {"a.csv", 5}},          {"last of a row", 2, {"a.csv", 5}},
        {"past a row without points", 3, {"a.csv", 7}}, {"last of a run", 4, {"a.csv", 7}},
        {"first of the next run", 5, {"b.csv", 7}}, {"second row", 6, {"b.csv", 8}},
        {"last point", 9, {"b.csv", 8}},
    };
    for (const auto& c : cases) {
        const PointOrigin o = origins.Of(c.point);
        EXPECT_EQ(o.file, c.expected.file) << c.name;
        EXPECT_EQ(o.line, c.expected.line) << c.name;
    }
}

TEST(PointOrigins, PointFileLinesSkipTheHeadingAndEmptyLines) {
    const struct {
        const char* name;
        std::string_view bytes;
        std::vector<std::size_t> points;
        std::vector<std::size_t> lines;
    } cases[] = {
        {"one a line", "h\n1;2;3\n4;5;6\n7;8;9\n", {2, 0}, {4, 2}},
        {"empty lines", "h\n\n1;2;3\n\r\n\n4;5;6\n", {1, 0}, {6, 3}},
        {"CRLF, no last line end", "h\r\n1;2;3\r\n4;5;6", {1, 1}, {3, 3}},
        {"beyond the points", "h\n1;2;3\n", {1}, {0}},
    };
    for (const auto& c : cases) EXPECT_EQ(PointFileLines(c.bytes, c.points), c.lines) << c.name;
}

TEST(PointOrigins, NearestPointIsFoundNearAndAcrossAGap) {
    // Points along a line eastward every 0.5 m, and one 30 m north of it.
    std::vector<DataPoint> points;
    const double dLon = 0.5 / MetresPerDegreeLongitude(kLat0), dLat = 1 / kMetresPerDegree;
    for (int i = 0; i < 40; ++i) points.push_back({kLon0 + i * dLon, kLat0, 0});
    points.push_back({kLon0 + 5 * dLon, kLat0 + 30 * dLat, 0});
    const struct {
        const char* name;
        double east, north;  // from the line's start: east in its half-metre steps, north in metres
        std::size_t expected;
    } cases[] = {
        {"on a point", 6, 0, 6},
        {"between two, nearer the east", 6.6, 0.1, 7},
        {"a square's width off the line", 20, 2.5, 20},
        {"beyond the line's end", 45, 0, 39},
        {"across a gap, nearer the lone point", 5, 20, 40},
    };
    std::vector<Target> targets;
    for (const auto& c : cases) {
        Target& t = targets.emplace_back();
        t.lon = kLon0 + c.east * dLon;
        t.lat = kLat0 + c.north * dLat;
    }
    const std::vector<std::size_t> nearest = NearestPoints(points, targets);
    ASSERT_EQ(nearest.size(), targets.size());
    for (std::size_t i = 0; i < targets.size(); ++i) EXPECT_EQ(nearest[i], cases[i].expected) << cases[i].name;
}


}  // namespace
