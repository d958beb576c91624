// The processing in the opening: it changes the points and the profiles that
// show them, never the table.
#include "pipeline/opensurvey.h"
#include "processing/channelpoints.h"

#include <gtest/gtest.h>

#include <string>

using namespace qgrad;

namespace {

const QString kSample = QString(QGRAD_SAMPLES) + "/field-2026-05-14/run002.csv";

void Open(const ProcessingSettings& settings, OpenedSurvey& s) {
    OpeningOptions options;
    options.processing = settings;
    OpenSurvey(kSample, options, s);
}

TEST(OpeningProcessingTest, ThePointsAndProfilesChangeAndTheTableStays) {
    OpenedSurvey plain;
    Open({}, plain);
    ProcessingSettings despike;
    despike.despike.on = true;
    despike.despike.k = 2;
    ProcessingSettings destripe;
    destripe.destripe.level = LevelEstimate::Median;
    ProcessingSettings lag;
    lag.lag.mode = LagMode::Fixed;
    lag.lag.seconds = 0.5;
    const struct {
        const char* name;
        ProcessingSettings settings;
        bool values, positions;
    } cases[] = {
        {"everything off", {}, false, false},
        {"despike", despike, true, false},
        {"destripe", destripe, true, false},
        {"lag", lag, false, true},
    };
    for (const auto& c : cases) {
        OpenedSurvey s;
        Open(c.settings, s);
        ASSERT_EQ(s.reached, OpeningStage::Done) << c.name;
        for (int col = 0; col < SurveyTable::kColumns; ++col)
            for (std::size_t r = 0; r < s.table.rowCount(); ++r)
                ASSERT_EQ(s.table.cell(col, r), plain.table.cell(col, r)) << c.name;
        ASSERT_EQ(s.points.size(), plain.points.size());
        bool valuesChanged = false, positionsChanged = false;
        for (std::size_t i = 0; i < s.points.size(); ++i) {
            valuesChanged = valuesChanged || s.points.value(PointTable::Gradient, i) != plain.points.value(PointTable::Gradient, i) ||
                            s.points.value(PointTable::Absolute, i) != plain.points.value(PointTable::Absolute, i);
            positionsChanged = positionsChanged || s.points.lon(i) != plain.points.lon(i);
        }
        EXPECT_EQ(valuesChanged, c.values) << c.name;
        EXPECT_EQ(positionsChanged, c.positions) << c.name;
        // Each profile point shows its arranged point's gradient as written.
        const ChannelPoints index = IndexChannelPoints(s.table, s.points.size());
        for (int k = 0; k < kChannels; ++k) {
            ASSERT_EQ(s.profiles.channel[k].size(), index.point[k].size()) << c.name;
            for (std::size_t i = 0; i < index.point[k].size(); ++i) {
                ASSERT_EQ(s.profiles.channel[k].Gradient(i),
                          std::stod(s.points.CellText(PointTable::Gradient, 2, index.point[k][i] + 1)))
                    << c.name << " channel " << k << " reading " << i;
                ASSERT_EQ(s.profiles.DistanceOf(k, i), plain.profiles.DistanceOf(k, i)) << c.name;
            }
        }
        EXPECT_EQ(s.track.lon, plain.track.lon) << c.name;
        // Points no stage changes are kept as placed; processed again, they
        // become what the opening with the stages gives.
        EXPECT_EQ(s.points.keptAsPlaced(), !c.settings.AnyOn()) << c.name;
        const Reprocessed again = ProcessAgain(plain, c.settings);
        ASSERT_EQ(again.points.size(), s.points.size()) << c.name;
        std::size_t differing = 0;
        for (std::size_t i = 0; i < s.points.size(); ++i)
            differing += again.points.lon(i) != s.points.lon(i) || again.points.lat(i) != s.points.lat(i) ||
                         again.points.value(PointTable::Gradient, i) != s.points.value(PointTable::Gradient, i) ||
                         again.points.value(PointTable::Absolute, i) != s.points.value(PointTable::Absolute, i);
        EXPECT_EQ(differing, 0u) << c.name << ": points that differ";
    }
    EXPECT_TRUE(plain.points.keptAsPlaced());
}

}  // namespace
