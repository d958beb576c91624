// qgrad-bench-processing: times each processing stage over one survey
// against the opening that comes before it (read, clean and arrange).
//   qgrad-bench-processing SURVEY [--repeat N]
// Prints one tab-separated line per step: name, rows, seconds (median of the
// repeats) and the step's share of the opening in per cent.
#include "arrange/arrange.h"
#include "processing/processing.h"
#include "survey/reader.h"

#include "benchutil.h"
#include "common/vectorunit.h"

#include <QString>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

using qgrad::bench::Seconds;

int main(int argc, char** argv) {
    qgrad::ClearUpperVectorState();
    if (argc < 2) {
        std::fprintf(stderr, "usage: qgrad-bench-processing SURVEY [--repeat N]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int repeat = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 3;

    struct Step {
        const char* name;
        std::vector<double> times;
    };
    std::vector<Step> steps = {{"opening (read, clean, arrange)", {}},
                               {"index channels", {}},
                               {"row times and fixes", {}},
                               {"lag estimate", {}},
                               {"lag placement", {}},
                               {"despike", {}},
                               {"destripe", {}},
                               {"all stages", {}}};
    std::size_t rows = 0;
    qgrad::ProcessingSettings all;
    all.lag.mode = qgrad::LagMode::Auto;
    all.despike.on = true;
    all.destripe.level = qgrad::LevelEstimate::Median;
    for (int i = 0; i < repeat; ++i) {
        qgrad::SurveyTable table;
        qgrad::SurveyGeometry geometry;
        qgrad::ArrangedPoints points;
        auto open = [&] {
            qgrad::ReadSurveyFile(path, qgrad::ReaderVariant::Interactive, table, geometry);
            qgrad::ArrangeToGps(table, geometry, true, points);
        };
        steps[0].times.push_back(Seconds(open));
        rows = table.dataRowCount();
        qgrad::ChannelPoints index;
        steps[1].times.push_back(Seconds([&] { index = qgrad::IndexChannelPoints(table, points.size()); }));
        qgrad::LagEstimate estimate;
        qgrad::RowFixes fixes;
        steps[2].times.push_back(Seconds([&] { fixes = qgrad::ReadRowFixes(table); }));
        steps[3].times.push_back(Seconds([&] {
            const qgrad::LocalFrame frame(points.lon(0), points.lat(0));
            estimate = qgrad::EstimateLag({qgrad::MakeLagSurvey(fixes, geometry, points, index, frame)}, all.lag,
                                          all.destripe.turns);
        }));
        steps[4].times.push_back(Seconds([&] { qgrad::ShiftPlacementInTime(table, geometry, fixes, 0.2, points); }));
        steps[5].times.push_back(Seconds([&] { qgrad::Despike(points, index, all.despike); }));
        steps[6].times.push_back(Seconds([&] { qgrad::Destripe(points, index, all.destripe); }));
        table.clear();
        open();
        steps[7].times.push_back(Seconds([&] { qgrad::ProcessSurvey(table, geometry, points, all); }));
        if (i == 0)
            std::fprintf(stderr, "lag estimate %.2f s (correlation %.2f over %zu pairs)\n", estimate.best,
                         estimate.correlation, estimate.pairs);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double opening = median(steps[0].times);
    for (const Step& s : steps)
        std::printf("%s\t%zu\t%.3f\t%.1f\n", s.name, rows, median(s.times), 100 * median(s.times) / opening);
    return 0;
}
