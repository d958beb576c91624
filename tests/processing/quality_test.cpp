// What the surveyor checks before leaving the site, on a survey of known
// faults: a channel held at one value, a noisier channel, spikes, a GPS fix
// held, a stretch walked at twice the speed; and nothing else found.
#include "arrange/arrange.h"
#include "processing/processing.h"
#include "syntheticsurvey.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <vector>

using namespace qgrad;
using qgrad::synthetic::MakeSurvey;
using qgrad::synthetic::SurveyShape;
using qgrad::synthetic::Uniform;

namespace {

// Data rows of the faults, all on straight traverses away from the dipole.
constexpr std::size_t kFlatFrom = 100, kFlatRows = 30;     // channel 2, 3 s
constexpr std::size_t kHeldFrom = 480, kHeldRows = 20;     // the fix, 2 s
constexpr std::size_t kFastFrom = 900, kFastRows = 40;     // every other row dropped
constexpr std::size_t kSpikeRows[] = {250, 1100};          // channel 1
constexpr int kNoisy = 2;                                  // channel 3
constexpr double kNoise = 0.05, kNoisyNoise = 1.0;         // standard deviations, nT/m
constexpr double kCell = 0.15;                             // m: the cart's 0.1 m passes, 0.2 m does not

std::string Stamp(std::size_t row) {
    const std::size_t second = 10 * 3600 + 15 * 60 + row / 10;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02zu%02zu%02zu", second / 3600, second / 60 % 60, second % 60);
    return buf;
}

// The survey with its faults put in: a cart of four sensors walking at
// 1 m/s, ten readings a second. Rows after the fast stretch move up.
SurveyTable FaultySurvey(SurveyGeometry& geometry) {
    SurveyShape shape;
    shape.traverses = 4;
    Uniform random(31);
    const auto made = MakeSurvey(shape, [&](int k, std::size_t r, double) {
        const double sd = k == kNoisy ? kNoisyNoise : kNoise;
        const bool spike = k == 0 && std::find(std::begin(kSpikeRows), std::end(kSpikeRows), r) != std::end(kSpikeRows);
        return sd * (random() - 0.5) * std::sqrt(12.0) + (spike ? 60 : 0);
    });
    geometry = made.geometry;
    const SurveyTable& from = made.table;
    SurveyTable out;
    std::vector<std::string> cells(SurveyTable::kColumns);
    std::vector<std::string_view> views(SurveyTable::kColumns);
    std::size_t written = 0;
    for (std::size_t row = 0; row < from.rowCount(); ++row) {
        for (int c = 0; c < SurveyTable::kColumns; ++c) cells[c] = from.cell(c, row);
        if (row >= kFirstDataRow) {
            const std::size_t r = row - kFirstDataRow;
            if (r >= kFastFrom && r < kFastFrom + kFastRows && (r - kFastFrom) % 2 == 1) continue;
            if (r >= kFlatFrom && r < kFlatFrom + kFlatRows) {
                cells[FieldColumn(1)] = "48005.000";
                cells[GradientColumn(1)] = "5.000";
            }
            if (r > kHeldFrom && r < kHeldFrom + kHeldRows) {
                cells[kLatitude] = from.cell(kLatitude, kHeldFrom + kFirstDataRow);
                cells[kLongitude] = from.cell(kLongitude, kHeldFrom + kFirstDataRow);
            }
            // Time runs on at ten readings a second over the rows kept.
            cells[kTime] = Stamp(written++);
        }
        for (int c = 0; c < SurveyTable::kColumns; ++c) views[c] = cells[c];
        out.appendRow(views.data(), views.size());
    }
    return out;
}

struct Checked {
    SurveyTable table;
    SurveyGeometry geometry;
    ArrangedPoints arranged, points;
    ProcessingReport report;

    explicit Checked(bool despike) {
        table = FaultySurvey(geometry);
        const std::vector<std::uint32_t> arrivals = FixArrivals(table);
        EXPECT_TRUE(ArrangeToGps(table, geometry, true, arranged));
        points = arranged;
        ProcessingSettings settings;
        settings.quality.on = true;
        settings.quality.cellMetres = kCell;
        settings.despike.on = despike;
        report = ProcessSurvey(table, geometry, points, settings, nullptr, arrivals);
    }
};

// One finding: what, and its data rows.
using Finding = std::tuple<std::string, std::size_t, std::size_t>;

std::set<Finding> Findings(const QualityReport& q) {
    std::set<Finding> out;
    for (const ChannelQuality& c : q.channels) {
        const std::string channel = "channel " + std::to_string(c.channel + 1);
        for (const FlatStretch& f : c.flat)
            out.emplace(channel + (f.empty ? " nothing" : " flat"), f.rows.firstRow, f.rows.lastRow);
        for (std::size_t row : c.spikeRows) out.emplace(channel + " spike", row, row);
    }
    for (const FastStretch& f : q.tooFast) out.emplace("too fast", f.rows.firstRow, f.rows.lastRow);
    for (const RowStretch& g : q.gpsGaps) out.emplace("GPS gap", g.firstRow, g.lastRow);
    return out;
}

TEST(QualityTest, FindsEachFaultAtItsLinesAndNothingElse) {
    const struct {
        const char* name;
        Finding finding;
    } cases[] = {
        {"a channel held at one value for 3 s", {"channel 2 flat", kFlatFrom, kFlatFrom + kFlatRows - 1}},
        {"the first spike", {"channel 1 spike", kSpikeRows[0], kSpikeRows[0]}},
        // Half the fast stretch's rows were dropped before it.
        {"the second spike", {"channel 1 spike", kSpikeRows[1] - kFastRows / 2, kSpikeRows[1] - kFastRows / 2}},
        {"a fix held for 2 s", {"GPS gap", kHeldFrom, kHeldFrom + kHeldRows - 1}},
        {"a stretch walked at twice the speed", {"too fast", kFastFrom, kFastFrom + kFastRows / 2}},
    };
    for (const bool despike : {false, true}) {
        const Checked c(despike);
        ASSERT_TRUE(c.report.quality);
        const std::set<Finding> found = Findings(*c.report.quality);
        std::set<Finding> expected;
        for (const auto& row : cases) {
            EXPECT_TRUE(found.count(row.finding)) << row.name << (despike ? ", despiked" : "");
            expected.insert(row.finding);
        }
        for (const Finding& f : found)
            EXPECT_TRUE(expected.count(f)) << "on the clean part: " << std::get<0>(f) << " rows " << std::get<1>(f)
                                           << "-" << std::get<2>(f) << (despike ? ", despiked" : "");
    }
}

TEST(QualityTest, NoiseIsEachChannelsOwn) {
    const Checked c(false);
    ASSERT_TRUE(c.report.quality);
    const std::vector<ChannelQuality>& channels = c.report.quality->channels;
    ASSERT_EQ(channels.size(), 4u);
    // Of uniform noise of standard deviation s, the differences of successive
    // readings have a median absolute deviation of 2√3(1 - 1/√2)s ≈ 1.01 s.
    const struct {
        const char* name;
        int channel;
        double sd;
    } cases[] = {
        {"a clean channel", 0, kNoise},
        {"the flat channel, without its flat stretch", 1, kNoise},
        {"the noisier channel", kNoisy, kNoisyNoise},
        {"the last channel", 3, kNoise},
    };
    for (const auto& row : cases) {
        const ChannelQuality& q = channels[static_cast<std::size_t>(row.channel)];
        EXPECT_EQ(q.channel, row.channel) << row.name;
        EXPECT_NEAR(q.noise, 1.01 * row.sd, 0.25 * row.sd) << row.name;
    }
}

TEST(QualityTest, ChecksChangeNoPoint) {
    const Checked c(false);
    ASSERT_EQ(c.points.size(), c.arranged.size());
    for (std::size_t i = 0; i < c.points.size(); ++i) {
        ASSERT_EQ(c.points.value(PointTable::Gradient, i), c.arranged.value(PointTable::Gradient, i)) << i;
        ASSERT_EQ(c.points.lon(i), c.arranged.lon(i)) << i;
    }
}

}  // namespace
