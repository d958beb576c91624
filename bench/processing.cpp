// qgrad-bench-processing: times each processing stage over one survey
// against the opening that comes before it (read, clean and arrange).
//   qgrad-bench-processing SURVEY [--repeat N]
// Prints one tab-separated line per step: name, rows, seconds (median of the
// repeats), the step's share of the opening in per cent, then the same two
// for the processor time of all threads, which a machine shared with other
// work disturbs less. The lag estimate includes gathering the gradients by
// channel; despike and destripe each gather both tables, and destripe puts
// them back. On standard error, a digest of the processed points and
// of the report of each run of all stages: a faster stage must leave both as
// they were.
#include "arrange/arrange.h"
#include "processing/processing.h"
#include "survey/reader.h"

#include "benchutil.h"
#include "common/memoryreuse.h"
#include "common/vectorunit.h"

#include <QString>

#include <algorithm>
#include <bit>
#include <cstdint>
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

// FNV-1a over the bits of every coordinate and value, then the report's bytes.
// A zero's sign is left out: which of two equal readings a median picks may
// differ, and every text of a value writes either zero alike.
std::uint64_t Digest(const qgrad::ArrangedPoints& points, const std::string& report) {
    std::uint64_t h = 14695981039346656037u;
    auto add = [&h](std::uint64_t bits) {
        for (int b = 0; b < 8; ++b, bits >>= 8) h = (h ^ (bits & 0xff)) * 1099511628211u;
    };
    for (std::size_t p = 0; p < points.size(); ++p) {
        add(std::bit_cast<std::uint64_t>(points.lon(p)));
        add(std::bit_cast<std::uint64_t>(points.lat(p)));
        add(std::bit_cast<std::uint64_t>(points.value(qgrad::PointTable::Absolute, p) + 0.0));
        add(std::bit_cast<std::uint64_t>(points.value(qgrad::PointTable::Gradient, p) + 0.0));
    }
    for (const char c : report) add(static_cast<unsigned char>(c));
    return h;
}

}  // namespace

int main(int argc, char** argv) {
    qgrad::KeepFreedMemoryForReuse();
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
                             "lag placement", "despike", "destripe", "all stages, lag auto",
                             "all stages, lag 0.2 s"})
        steps.push_back({name, {}, {}});
    std::size_t rows = 0;
    qgrad::ProcessingSettings all;
    all.lag.mode = qgrad::LagMode::Auto;
    all.despike.on = true;
    all.destripe.level = qgrad::LevelEstimate::Median;
    qgrad::ProcessingSettings fixedLag = all;
    fixedLag.lag.mode = qgrad::LagMode::Fixed;
    fixedLag.lag.seconds = 0.2;
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
        qgrad::PerChannel readings;
        auto gather = [&](qgrad::PointTable t) {
            qgrad::GatherByChannel(index, [&](std::size_t p) { return points.value(t, p); }, readings);
        };
        Time(steps[3], ([&] {
            gather(qgrad::PointTable::Gradient);
            estimate = qgrad::EstimateSurveyLag(fixes, geometry, points, index, readings,
                                                 qgrad::OffsetConversion::OneCourse, all.lag, all.destripe.turns);
        }));
        Time(steps[4], ([&] { qgrad::PlaceAgain(table, geometry, fixes, 0.2, qgrad::OffsetConversion::OneCourse, points); }));
        // Each stage on its own: both tables gathered, processed and, for the
        // destripe, put back.
        Time(steps[5], ([&] {
            qgrad::DespikeReport despiked{all.despike, {}};
            for (const qgrad::PointTable t : qgrad::kPointTables) {
                gather(t);
                qgrad::DespikeReadings(readings, t, index, despiked);
            }
        }));
        Time(steps[6], ([&] {
            const qgrad::CartTraverses cart = qgrad::FindTraverses(points, index, geometry, all.destripe.turns);
            qgrad::DestripeReport destriped = qgrad::StartDestripe(index, cart, all.destripe);
            for (const qgrad::PointTable t : qgrad::kPointTables) {
                gather(t);
                qgrad::DestripeReadings(readings, t, index, cart, destriped);
                qgrad::ScatterByChannel(index, readings, t, points);
            }
        }));
        int s = 7;
        for (const qgrad::ProcessingSettings* settings : {&all, &fixedLag}) {
            table.clear();
            open();
            qgrad::ProcessingReport report;
            Time(steps[s], ([&] { report = qgrad::ProcessSurvey(table, geometry, points, *settings); }));
            if (i == 0)
                std::fprintf(stderr, "%s: digest %016llx\n", steps[s].name,
                             static_cast<unsigned long long>(Digest(points, qgrad::ProcessingReportText(report, ""))));
            ++s;
        }
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
