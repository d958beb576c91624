// qgrad-bench-gis: times writing the GIS outputs of a gridding run.
//   qgrad-bench-gis [--cols N] [--rows N] [--points N] [--repeat N]
// Prints one tab-separated line per output: name, nodes, points, seconds
// (median of the repeats) and the process's peak resident memory after it;
// the last line is all outputs together.
#include "common/geodesy.h"
#include "gridhost/gisoutput.h"
#include "gridhost/kriging.h"
#include "gridhost/presentation.h"

#include "benchutil.h"

#include <QGuiApplication>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <numbers>
#include <random>
#include <string>
#include <vector>

using qgrad::bench::Option;
using qgrad::bench::PeakMegabytes;
using qgrad::bench::Seconds;

namespace {


// A field of 100 by 100 m near Moscow, blank beyond a circle; anomalies
// over a gentle regional slope.
qgrad::Grid MakeGrid(int cols, int rows) {
    qgrad::Grid g;
    g.cols = cols;
    g.rows = rows;
    g.xLL = 37.6;
    g.yLL = 55.75;
    g.xSize = 100.0 / (cols - 1) / (qgrad::kMetresPerDegree * std::cos(55.75 * std::numbers::pi / 180));
    g.ySize = 100.0 / (rows - 1) / qgrad::kMetresPerDegree;
    g.z.resize(static_cast<std::size_t>(cols) * rows);
    for (int r = 0; r < rows; ++r)
        for (int c = 0; c < cols; ++c) {
            const double x = 100.0 * c / (cols - 1), y = 100.0 * r / (rows - 1);
            const bool outside = std::hypot(x - 50, y - 50) > 52;
            g.at(c, r) = outside ? std::nan("") : 0.01 * x + 3 * std::sin(x / 7) * std::cos(y / 5) +
                                                      40 * std::exp(-((x - 30) * (x - 30) + (y - 60) * (y - 60)) / 8);
        }
    return g;
}

// Traverses 0.5 m apart, 12 channels per sample, in runs of 10 traverses.
qgrad::GisSurvey MakeSurvey(const qgrad::Grid& g, std::size_t count) {
    qgrad::GisSurvey s;
    std::mt19937 rng(11);
    std::normal_distribution<double> noise(0, 0.3);
    const double kx = qgrad::kMetresPerDegree * std::cos(55.75 * std::numbers::pi / 180);
    const std::size_t perLine = std::max<std::size_t>(12, count / 200 / 12 * 12);
    for (std::size_t i = 0; i < count; ++i) {
        const std::size_t line = i / perLine, along = (i % perLine) / 12;
        const int channel = static_cast<int>(i % 12) + 1;
        const int run = static_cast<int>(line / 10);
        if (run >= static_cast<int>(s.runs.size())) s.runs.push_back({"run" + std::to_string(run + 1) + ".csv", {}, {}});
        const double x = 100.0 * along * 12 / perLine, y = line * 0.5 + channel * 0.04;
        const double lon = g.xLL + x / kx, lat = g.yLL + y / qgrad::kMetresPerDegree;
        s.points.push_back({lon, lat, noise(rng), 49000 + noise(rng), channel, run});
        if (channel == 1) {
            s.runs[run].lon.push_back(lon);
            s.runs[run].lat.push_back(lat);
        }
    }
    return s;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int cols = Option(argc, argv, "--cols", 1000), rows = Option(argc, argv, "--rows", 1000);
    const int count = Option(argc, argv, "--points", 200000), repeat = Option(argc, argv, "--repeat", 3);
    const qgrad::Grid grid = MakeGrid(cols, rows);
    const qgrad::GisSurvey survey = MakeSurvey(grid, static_cast<std::size_t>(count));
    const qgrad::Presentation presentation;
    QTemporaryDir dir;

    struct Output {
        const char* name;
        std::function<void()> write;
        std::vector<double> times;
        double peak = 0;
    };
    std::vector<Output> outputs = {
        {"GeoTIFF", [&] { qgrad::WriteGeoTiff(dir.filePath("g.tif"), grid); }, {}, 0},
        {"KMZ", [&] { qgrad::WriteKmz(dir.filePath("g.kmz"), grid, survey, presentation); }, {}, 0},
        {"GeoPackage", [&] { qgrad::WriteGeoPackage(dir.filePath("g.gpkg"), grid, survey); }, {}, 0},
        {"GeoTIFF, local UTM", [&] { qgrad::WriteGeoTiff(dir.filePath("u.tif"), grid, qgrad::GeoTiffProjection::LocalUtm); }, {}, 0},
    };
    constexpr std::size_t kAllThree = 3;  // the outputs of --gis
    std::vector<double> all;
    for (int i = 0; i < repeat; ++i) {
        double sum = 0;
        for (std::size_t k = 0; k < outputs.size(); ++k) {
            const double t = Seconds(outputs[k].write);
            outputs[k].times.push_back(t);
            outputs[k].peak = PeakMegabytes();
            if (k < kAllThree) sum += t;
        }
        all.push_back(sum);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    const long long nodes = static_cast<long long>(cols) * rows;
    for (const Output& o : outputs)
        std::printf("%s\t%lld\t%d\t%.3f\t%.0f\n", o.name, nodes, count, median(o.times), o.peak);
    std::printf("GeoTIFF + KMZ + GeoPackage\t%lld\t%d\t%.3f\t%.0f\n", nodes, count, median(all), PeakMegabytes());
    return 0;
}
