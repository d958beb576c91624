// The arrangement's two paths, whole passes and row by row, give the same
// bytes on sound tables: the table's texts and every point, processed or not.
#include "arrange/arrange.h"
#include "processing/processing.h"
#include "processing/syntheticsurvey.h"

#include <gtest/gtest.h>

#include <string>

using namespace qgrad;
using qgrad::synthetic::MakeSurvey;
using qgrad::synthetic::SurveyShape;

namespace {

struct Outcome {
    synthetic::SyntheticSurvey survey;
    ArrangedPoints points;
};

// The same survey every time: a level for each sensor, heading error and a
// ripple.
Outcome Arrange(const SurveyShape& shape, bool levelSignals, const ProcessingSettings& processing, ArrangePath path) {
    Outcome out{MakeSurvey(shape, [](int k, std::size_t r, double north) { return 0.3 * k + 0.2 * north + r % 7 * 0.01; }),
                {}};
    EXPECT_TRUE(ArrangeToGps(out.survey.table, out.survey.geometry, levelSignals, out.points, path));
    ProcessSurvey(out.survey.table, out.survey.geometry, out.points, processing);
    return out;
}

TEST(ArrangePathsTest, BothPathsGiveTheSameBytes) {
    ProcessingSettings every;
    every.trueOffsets = true;
    every.lag.mode = LagMode::Auto;
    every.despike.on = true;
    every.destripe.level = LevelEstimate::Median;
    SurveyShape eight = synthetic::Field();
    eight.traverses = 3;
    eight.behind = 0.8;
    SurveyShape lagging;
    lagging.fixLag = 0.2;
    const struct {
        const char* name;
        SurveyShape shape;
        bool levelSignals;
        ProcessingSettings processing;
    } cases[] = {
        {"four sensors, levelled", {}, true, {}},
        {"four sensors, not levelled", {}, false, {}},
        {"eight sensors behind the antenna, levelled", eight, true, {}},
        {"eight sensors, every stage of the processing", eight, true, every},
        {"lagging fixes, not levelled, every stage", lagging, false, every},
    };
    for (const auto& c : cases) {
        const Outcome whole = Arrange(c.shape, c.levelSignals, c.processing, ArrangePath::AsTheTableAllows);
        const Outcome rows = Arrange(c.shape, c.levelSignals, c.processing, ArrangePath::RowByRow);
        ASSERT_EQ(whole.survey.table.rowCount(), rows.survey.table.rowCount()) << c.name;
        std::size_t differing = 0;
        for (int col = 0; col < SurveyTable::kColumns; ++col)
            for (std::size_t r = 0; r < whole.survey.table.rowCount(); ++r)
                differing += whole.survey.table.cell(col, r) != rows.survey.table.cell(col, r);
        EXPECT_EQ(differing, 0u) << c.name << ": cells that differ";
        ASSERT_EQ(whole.points.size(), rows.points.size()) << c.name;
        differing = 0;
        for (std::size_t p = 0; p < whole.points.size(); ++p)
            differing += whole.points.lon(p) != rows.points.lon(p) || whole.points.lat(p) != rows.points.lat(p) ||
                         whole.points.value(PointTable::Absolute, p) != rows.points.value(PointTable::Absolute, p) ||
                         whole.points.value(PointTable::Gradient, p) != rows.points.value(PointTable::Gradient, p);
        EXPECT_EQ(differing, 0u) << c.name << ": points that differ";
    }
}

}  // namespace
