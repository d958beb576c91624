// qgrad-bench-kriging: times the kriging alone on a point file.
//   qgrad-bench-kriging POINTFILE [--cols N] [--rows N] [--repeat N] [--plain] [--tile N]
// (--plain: every node factorises its own system, as before the sharing;
// --tile: kriged in tiles of N by N nodes, each from the points near it)
// Prints one tab-separated line: nodes, points, seconds (median of the
// repeats), CPU seconds of all threads per repeat, and peak resident MB.
#include "gridhost/gridjob.h"
#include "gridhost/kriging.h"

#include "benchutil.h"

#include <sys/resource.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

using qgrad::bench::Option;
using qgrad::bench::PeakMegabytes;
using qgrad::bench::Seconds;

namespace {

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec) + static_cast<double>(usage.ru_utime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: qgrad-bench-kriging POINTFILE [--cols N] [--rows N] [--repeat N] [--plain] [--tile N]\n");
        return 2;
    }
    const int cols = Option(argc, argv, "--cols", 1000), rows = Option(argc, argv, "--rows", 1000);
    const int repeat = Option(argc, argv, "--repeat", 3);
    qgrad::KrigingOptions options;
    options.shareFactorisations = std::find_if(argv + 2, argv + argc, [](const char* a) {
                                      return std::strcmp(a, "--plain") == 0;
                                  }) == argv + argc;
    // Without --tile, the whole grid at once.
    options.tileCols = options.tileRows = Option(argc, argv, "--tile", 0);
    const std::vector<qgrad::DataPoint> points = qgrad::ReadPointFile(QString::fromLocal8Bit(argv[1]));
    std::vector<double> times;
    const double cpu0 = CpuSeconds();
    for (int i = 0; i < repeat; ++i) times.push_back(Seconds([&] { qgrad::KrigeGrid(points, cols, rows, options); }));
    const double cpu = (CpuSeconds() - cpu0) / repeat;
    std::sort(times.begin(), times.end());
    std::printf("%lld\t%zu\t%.3f\t%.3f\t%.0f\n", static_cast<long long>(cols) * rows, points.size(),
                times[times.size() / 2], cpu, PeakMegabytes());
    return 0;
}
