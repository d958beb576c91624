// qgrad-bench-stages: times each stage of opening and saving one survey,
// inside a process that has created its QApplication as the window does.
//   qgrad-bench-stages SURVEY [--repeat N]
// Prints one tab-separated line per stage: name, rows, file MB, seconds and
// CPU seconds of all threads (medians of the repeats) and the process's peak
// resident memory after it.
#include "export/export.h"
#include "pipeline/opensurvey.h"

#include "benchutil.h"
#include "common/memoryreuse.h"
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

using qgrad::bench::CpuSeconds;
using qgrad::bench::PeakMegabytes;
using qgrad::bench::Seconds;

int main(int argc, char** argv) {
    qgrad::KeepFreedMemoryForReuse();
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
        std::vector<double> cpu;
        double peak = 0;
    };
    // The opening's stages, timed from one stage reached to the next.
    std::vector<Stage> stages;
    for (const char* name : {"read", "clean", "arrange", "opening reads", "save to map"}) stages.push_back({name, {}, {}, 0});
    auto stageOf = [](qgrad::OpeningStage s) -> int {
        switch (s) {
            case qgrad::OpeningStage::Read: return 0;
            case qgrad::OpeningStage::Cleaned: return 1;
            case qgrad::OpeningStage::Arranged: return 2;
            case qgrad::OpeningStage::Done: return 3;
            default: return -1;
        }
    };
    std::size_t rows = 0;
    for (int i = 0; i < repeat; ++i) {
        qgrad::OpenedSurvey survey;
        qgrad::OpeningOptions options;
        options.keepProfiles = false;  // as qgrad opens
        auto last = std::chrono::steady_clock::now();
        double lastCpu = CpuSeconds();
        options.stageReached = [&](qgrad::OpeningStage reached) {
            const int index = stageOf(reached);
            if (reached == qgrad::OpeningStage::FileOpened) {
                last = std::chrono::steady_clock::now();
                lastCpu = CpuSeconds();
            }
            if (index < 0) return;
            const auto now = std::chrono::steady_clock::now();
            const double cpu = CpuSeconds();
            stages[index].times.push_back(std::chrono::duration<double>(now - last).count());
            stages[index].cpu.push_back(cpu - lastCpu);
            stages[index].peak = PeakMegabytes();
            last = now;
            lastCpu = cpu;
        };
        qgrad::OpenSurvey(path, options, survey);
        rows = survey.table.dataRowCount();
        const double cpu = CpuSeconds();
        stages[4].times.push_back(Seconds([&] {
            qgrad::WriteExport(paths, survey.points);
        }));
        stages[4].cpu.push_back(CpuSeconds() - cpu);
        stages[4].peak = PeakMegabytes();
        if (i == 0)
            std::fprintf(stderr, "table %.0f MB in memory (%.2f x the file), points %.0f MB\n",
                         survey.table.memoryBytes() / 1e6, survey.table.memoryBytes() / 1e6 / mb,
                         survey.points.memoryBytes() / 1e6);
    }
    // One line a stage: name, rows, file MB, median seconds, median CPU seconds, peak MB, tab-separated.
    for (auto& s : stages) {
        std::sort(s.times.begin(), s.times.end());
        std::sort(s.cpu.begin(), s.cpu.end());
        std::printf("%s\t%zu\t%.1f\t%.3f\t%.3f\t%.0f\n", s.name, rows, mb, s.times[s.times.size() / 2],
                    s.cpu[s.cpu.size() / 2], s.peak);
    }
    return 0;
}
