// qgrad-bench-stages: times each stage of opening and saving one survey,
// inside a process that has created its QApplication as the window does.
//   qgrad-bench-stages SURVEY [--repeat N]
// Prints one tab-separated line per stage: name, rows, file MB, seconds
// (median of the repeats) and the process's peak resident memory after it.
#include "arrange/arrange.h"
#include "export/export.h"
#include "survey/opening.h"
#include "survey/reader.h"

#include "benchutil.h"
#include "common/vectorunit.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

using qgrad::bench::PeakMegabytes;
using qgrad::bench::Seconds;

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    if (!qEnvironmentVariableIsSet("QGRAD_BENCH_DIRTY_VECTORS")) qgrad::ClearUpperVectorState();
    if (argc < 2) {
        std::fprintf(stderr, "usage: qgrad-bench-stages SURVEY [--repeat N]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int repeat = argc >= 4 ? std::max(1, std::atoi(argv[3])) : 3;
    QTemporaryDir out;
    const qgrad::ExportPaths paths = qgrad::MakeExportPaths(out.path() + "/", QFileInfo(path).fileName());
    const double mb = static_cast<double>(QFileInfo(path).size()) / 1e6;

    struct Stage {
        const char* name;
        std::vector<double> times;
        double peak = 0;
    };
    std::vector<Stage> stages(4);
    const char* names[] = {"read and clean", "arrange", "opening reads", "save to map"};
    for (int i = 0; i < 4; ++i) stages[i].name = names[i];
    std::size_t rows = 0;
    for (int i = 0; i < repeat; ++i) {
        qgrad::SurveyTable table;
        qgrad::SurveyGeometry geometry;
        qgrad::ArrangedPoints points;
        auto run = [&](Stage& s, const std::function<void()>& f) {
            s.times.push_back(Seconds(f));
            s.peak = PeakMegabytes();
        };
        run(stages[0], [&] { qgrad::ReadSurveyFile(path, qgrad::ReaderVariant::Interactive, table, geometry); });
        rows = table.dataRowCount();
        run(stages[1], [&] { qgrad::ArrangeToGps(table, geometry, true, points); });
        run(stages[2], [&] {
            qgrad::ReadTrack(table);
            double sum = 0;
            const std::vector<double> distances = qgrad::ReadDistances(table);
            for (int k = 0; k < qgrad::kChannels; ++k)
                qgrad::ForEachProfilePoint(table, distances, k, [&](double x, double y) { sum += x + y; });
            qgrad::ForEachPosition(table, distances, [&](double x, double lon, double lat) { sum += x + lon + lat; });
            qgrad::ReadRunEnds(table);
            if (sum == 42) std::puts("");
        });
        run(stages[3], [&] {
            qgrad::PointExtent extent;
            qgrad::WritePointFiles(paths, points, extent);
            qgrad::WriteGriddingScript(paths, extent);
        });
        if (i == 0)
            std::fprintf(stderr, "table %.0f MB in memory (%.2f x the file), points %.0f MB\n",
                         table.memoryBytes() / 1e6, table.memoryBytes() / 1e6 / mb, points.memoryBytes() / 1e6);
    }
    // One line a stage: name, rows, file MB, median seconds, peak MB, tab-separated.
    for (auto& s : stages) {
        std::sort(s.times.begin(), s.times.end());
        std::printf("%s\t%zu\t%.1f\t%.3f\t%.0f\n", s.name, rows, mb, s.times[s.times.size() / 2], s.peak);
    }
    return 0;
}
