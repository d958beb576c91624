// The processing against a field of known truth: a cart of eight sensors
// 0.5 m apart on serpentine traverses 4 m apart over dipoles, a pipe, a
// ditch and a broad deep source, with spikes of one to three readings,
// sensor offsets, heading error, noise and lagging fixes.
#include "arrange/arrange.h"
#include "common/geodesy.h"
#include "processing/processing.h"
#include "syntheticsurvey.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <utility>
#include <vector>

using namespace qgrad;
using qgrad::synthetic::MakeSurvey;
using qgrad::synthetic::Defects;
using qgrad::synthetic::Field;
using qgrad::synthetic::Source;
using qgrad::synthetic::SurveyShape;
using qgrad::synthetic::SyntheticSurvey;

namespace {

// A survey arranged as the opening arranges it, and processed.
struct Processed {
    SyntheticSurvey survey;
    ArrangedPoints arranged, points;
    ProcessingReport report;

    Processed(const SurveyShape& shape, Defects& defects, const ProcessingSettings& settings) {
        const std::size_t rows = MakeSurvey(shape).anomaly.size();
        survey = MakeSurvey(shape, defects.Add(shape.sensors, rows));
        EXPECT_TRUE(ArrangeToGps(survey.table, survey.geometry, true, arranged));
        points = arranged;
        report = ProcessSurvey(survey.table, survey.geometry, points, settings);
    }
};

ProcessingSettings Despiked() {
    ProcessingSettings settings;
    settings.despike.on = true;
    return settings;
}

TEST(KnownTruthTest, DespikeFindsSpikesUpToThreeReadingsLong) {
    const SurveyShape shape = Field();
    const struct {
        const char* name;
        int halfWidth;
        double leastFound, mostFound;  // shares of the spiky readings
    } cases[] = {
        {"the default window", DespikeSettings{}.halfWidth, 0.95, 1},
        // Three spike readings are the median of five.
        {"a five-reading window misses three-reading spikes", 2, 0, 0.8},
    };
    for (const auto& c : cases) {
        ProcessingSettings settings = Despiked();
        settings.despike.halfWidth = c.halfWidth;
        Defects defects;
        const Processed p(shape, defects, settings);
        ASSERT_TRUE(p.report.despike);
        std::size_t found = 0, invented = 0;
        for (const Spike& s : p.report.despike->spikes) {
            if (s.table != PointTable::Gradient) continue;
            if (defects.spiky.count({s.channel, s.row})) ++found;
            else ++invented;
        }
        const double readings = static_cast<double>(p.points.size());
        EXPECT_GE(static_cast<double>(found), c.leastFound * static_cast<double>(defects.spiky.size()))
            << c.name << ": " << found << " of " << defects.spiky.size();
        EXPECT_LE(static_cast<double>(found), c.mostFound * static_cast<double>(defects.spiky.size()))
            << c.name << ": " << found << " of " << defects.spiky.size();
        EXPECT_LE(static_cast<double>(invented), readings / 10000) << c.name << ": " << invented << " invented";
        // No clean reading is turned into a spike: whatever replaced one lies
        // near the reading it replaced, well within a spike's least size.
        for (const Spike& s : p.report.despike->spikes) {
            if (!defects.spiky.count({s.channel, s.row})) {
                EXPECT_LT(std::abs(s.replacement - s.reading), 20)
                    << c.name << " sensor " << s.channel << " row " << s.row;
            }
        }
    }
}

TEST(KnownTruthTest, LagIsFoundWithSpikesPresent) {
    const struct {
        const char* name;
        double fixLag;
        bool spikes;
        int traverses;
        double amplitudes;  // of every source
        bool reliable;
        double behind = 0;
    } cases[] = {
        {"fixes 0.3 s late", 0.3, true, 10, 1, true},
        {"fixes 0.4 s early", -0.4, true, 10, 1, true},
        {"fixes 0.1 s late", 0.1, true, 10, 1, true},
        {"no lag", 0, true, 10, 1, true},
        {"no lag, sensors 1 m behind the antenna", 0, true, 10, 1, true, 1},
        {"fixes 0.3 s late, sensors 1 m behind the antenna", 0.3, true, 10, 1, true, 1},
        {"pure noise", 0.3, false, 10, 0, false},
        {"a single traverse", 0.3, true, 1, 1, false},
    };
    for (const auto& c : cases) {
        SurveyShape shape = Field();
        shape.fixLag = c.fixLag;
        shape.traverses = c.traverses;
        shape.behind = c.behind;
        shape.dipoleAmplitude *= c.amplitudes;
        for (Source& s : shape.sources) s.amplitude *= c.amplitudes;
        ProcessingSettings settings = Despiked();
        settings.trueOffsets = true;
        settings.lag.mode = LagMode::Auto;
        Defects defects;
        defects.spikes = c.spikes;
        const Processed p(shape, defects, settings);
        ASSERT_TRUE(p.report.lag && p.report.lag->estimate) << c.name;
        const LagEstimate& e = *p.report.lag->estimate;
        EXPECT_EQ(e.reliable, c.reliable) << c.name << ": best " << e.best << " s, prominence " << e.prominence << ", " << e.pairs << " pairs";
        EXPECT_NEAR(p.report.lag->seconds, c.reliable ? c.fixLag : 0, 0.02) << c.name;
    }
}

TEST(KnownTruthTest, TrueOffsetsPlaceSensorsWhereTheyAre) {
    const struct {
        const char* name;
        bool trueOffsets;
        double behind;
        double least, most;  // how far a sensor lands from the truth, m
    } cases[] = {
        // One course for the whole run puts the sensors along the traverses.
        {"as specified, 1 m behind", false, 1, 0.5, 1e9},
        {"true offsets, 1 m behind", true, 1, 0, 0.05},
        {"true offsets, 2.5 m behind", true, 2.5, 0, 0.05},
        {"true offsets, beside the antenna", true, 0, 0, 0.05},
    };
    for (const auto& c : cases) {
        SurveyShape shape = Field();
        shape.traverses = 3;
        shape.behind = c.behind;
        ProcessingSettings settings;
        settings.trueOffsets = c.trueOffsets;
        Defects defects;
        const Processed p(shape, defects, settings);
        EXPECT_EQ(p.report.trueOffsets.value_or(false), c.trueOffsets) << c.name;
        // Each row is placed from the next row's fix: the truth is the
        // sensor's offset from that fix.
        const std::size_t rows = p.survey.anomaly.size();
        double least = 1e9, most = 0;
        for (std::size_t r = 0; r + 1 < rows; ++r)
            for (int k = 0; k < shape.sensors; ++k) {
                // On the straight traverses, where the course is the cart's.
                if (std::abs(p.survey.heading[r]) < 1 || p.survey.antennaY[r] < 2 ||
                    p.survey.antennaY[r] > shape.length - 2)
                    continue;
                const std::size_t point = r * static_cast<std::size_t>(shape.sensors) + static_cast<std::size_t>(k);
                const double fixX = (std::stod(std::string(p.survey.table.cell(2, r + 4))) - synthetic::kLon0) *
                                    synthetic::LonDegree();
                const double fixY =
                    (std::stod(std::string(p.survey.table.cell(1, r + 4))) - synthetic::kLat0) * kMetresPerDegree;
                const double x = (p.points.lon(point) - synthetic::kLon0) * synthetic::LonDegree() - fixX;
                const double y = (p.points.lat(point) - synthetic::kLat0) * kMetresPerDegree - fixY;
                const double off = std::hypot(x - (p.survey.x[r][k] - p.survey.antennaX[r]),
                                              y - (p.survey.y[r][k] - p.survey.antennaY[r]));
                least = std::min(least, off);
                most = std::max(most, off);
            }
        EXPECT_GE(least, c.least) << c.name;
        EXPECT_LE(most, c.most) << c.name;
    }
}

}  // namespace
