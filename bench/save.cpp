// qgrad-bench-save: times SAVE TO MAP of one survey, opened once, and the
// number texts of its points.
//   qgrad-bench-save SURVEY [--repeat N]
// Prints one tab-separated line per measure: name, median wall seconds,
// median CPU seconds of the process (both cores), and nanoseconds per text
// for the number texts.
#include "export/export.h"
#include "pipeline/opensurvey.h"

#include "benchutil.h"
#include "common/memoryreuse.h"
#include "common/numtext.h"
#include "common/vectorunit.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <vector>

namespace {

struct Measure {
    const char* name;
    std::vector<double> wall, cpu;
    double perText = 0;  // texts per run, for the nanoseconds column
};

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

template <typename F>
void Time(Measure& m, F&& f) {
    const double cpu0 = qgrad::bench::CpuSeconds();
    m.wall.push_back(qgrad::bench::Seconds(f));
    m.cpu.push_back(qgrad::bench::CpuSeconds() - cpu0);
}

}  // namespace

int main(int argc, char** argv) {
    // As qgrad runs.
    qgrad::KeepFreedMemoryForReuse();
    QCoreApplication app(argc, argv);
    qgrad::ClearUpperVectorState();
    if (argc < 2) {
        std::fprintf(stderr, "usage: qgrad-bench-save SURVEY [--repeat N]\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int repeat = qgrad::bench::Option(argc, argv, "--repeat", 5);
    QTemporaryDir out;
    const qgrad::ExportPaths paths = qgrad::MakeExportPaths(out.path() + "/", QFileInfo(path).fileName());
    qgrad::OpenedSurvey survey;
    qgrad::OpeningOptions options;
    options.keepProfiles = false;
    qgrad::OpenSurvey(path, options, survey);
    const qgrad::ArrangedPoints& points = survey.points;

    Measure save{"save to map", {}, {}, 0};
    Measure coordinates{"coordinate texts", {}, {}, 2.0 * static_cast<double>(points.size())};
    Measure values{"value texts", {}, {}, 2.0 * static_cast<double>(points.size())};
    char text[qgrad::kNumberTextCapacity];
    std::size_t bytes = 0;  // keeps the texts from being optimised away
    for (int i = 0; i < repeat; ++i) {
        Time(save, [&] { qgrad::WriteExport(paths, points); });
        Time(coordinates, [&] {
            for (std::size_t k = 0; k < points.size(); ++k)
                bytes += static_cast<std::size_t>(qgrad::WriteCoordinate(text, points.lon(k)) - text) +
                         static_cast<std::size_t>(qgrad::WriteCoordinate(text, points.lat(k)) - text);
        });
        Time(values, [&] {
            for (std::size_t k = 0; k < points.size(); ++k)
                for (auto t : {qgrad::PointTable::Absolute, qgrad::PointTable::Gradient})
                    bytes += static_cast<std::size_t>(qgrad::WritePointValue(text, points.value(t, k)) - text);
        });
    }
    for (const Measure* m : {&save, &coordinates, &values}) {
        std::printf("%s\t%.3f\t%.3f", m->name, Median(m->wall), Median(m->cpu));
        if (m->perText > 0) std::printf("\t%.1f ns", Median(m->cpu) / m->perText * 1e9);
        std::printf("\n");
    }
    std::fprintf(stderr, "%zu points, %zu text bytes\n", points.size(), bytes);
    return 0;
}
