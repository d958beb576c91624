// qgrad-bench-processing: times each processing stage over one survey
// against the opening that comes before it (read, clean and arrange).
//   qgrad-bench-processing SURVEY [--repeat N]
// Prints one tab-separated line per step: name, rows, seconds (median of the
// repeats), the step's share of the opening in per cent, then the same two
// for the processor time of all threads, which a machine shared with other
// work disturbs less.
#include "arrange/arrange.h"
#include "processing/processing.h"
#include "survey/reader.h"

#include "benchutil.h"
#include "common/vectorunit.h"

#include <QString>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

namespace {

// Runs `f`, adding its wall time and its processor time to the step.
template <typename Step, typename F>
void Time(Step& step, F&& f) {
    const std::clock_t c0 = std::clock();
    step.times.push_back(qgrad::bench::Seconds(f));
    step.cpu.push_back(static_cast<double>(std::clock() - c0) / CLOCKS_PER_SEC);
}

}  // namespace

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
        std::vector<double> cpu;
    };
    std::vector<Step> steps;
    for (const char* name : {"opening (read, clean, arrange)", "index channels", "row times and fixes", "lag estimate",
                             "lag placement", "despike", "destripe", "all stages"})
        steps.push_back({name, {}, {}});
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
        Time(steps[0], open);
        rows = table.dataRowCount();
        qgrad::ChannelPoints index;
        Time(steps[1], ([&] { index = qgrad::IndexChannelPoints(table, points.size()); }));
        qgrad::LagEstimate estimate;
        qgrad::RowFixes fixes;
        Time(steps[2], ([&] { fixes = qgrad::ReadRowFixes(table); }));
        Time(steps[3], ([&] {
            const qgrad::LocalFrame frame(points.lon(0), points.lat(0));
            estimate = qgrad::EstimateLag({qgrad::MakeLagSurvey(fixes, geometry, points, index, frame)}, all.lag,
                                          all.destripe.turns);
        }));
        Time(steps[4], ([&] { qgrad::ShiftPlacementInTime(table, geometry, fixes, 0.2, points); }));
        Time(steps[5], ([&] { qgrad::Despike(points, index, all.despike); }));
        Time(steps[6], ([&] { qgrad::Destripe(points, index, all.destripe); }));
        table.clear();
        open();
        Time(steps[7], ([&] { qgrad::ProcessSurvey(table, geometry, points, all); }));
        if (i == 0)
            std::fprintf(stderr, "lag estimate %.2f s (correlation %.2f over %zu pairs)\n", estimate.best,
                         estimate.correlation, estimate.pairs);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const double opening = median(steps[0].times);
    const double openingCpu = median(steps[0].cpu);
    for (const Step& s : steps)
        std::printf("%s\t%zu\t%.3f\t%.1f\t%.3f\t%.1f\n", s.name, rows, median(s.times), 100 * median(s.times) / opening,
                    median(s.cpu), 100 * median(s.cpu) / openingCpu);
    return 0;
}
