#include "surveygen.h"

#include "common/geodesy.h"
#include "runtext.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <random>

namespace qgrad::bench {
namespace {

constexpr int kChannels = kGeneratedChannels;

struct Target {
    double east, north;  // metres from the field origin
    double amplitude;    // nT/m at the peak
    double width;        // metres
};
// A pit, a kiln and an iron object, spread over the first 200 m.
constexpr std::array<Target, 5> kTargets = {{{18, 9, 35, 1.6},
                                            {64, 3, -12, 3.0},
                                            {92, 14, 80, 0.9},
                                            {140, 7, 22, 2.2},
                                            {175, 20, -30, 1.2}}};

// Field and gradient of the buried targets at a point.
void Anomaly(double east, double north, double& field, double& gradient) {
    field = 49480.0 + 0.015 * east - 0.01 * north;
    gradient = 0;
    for (const Target& t : kTargets) {
        const double dx = east - t.east;
        const double dy = north - t.north;
        const double r2 = (dx * dx + dy * dy) / (t.width * t.width);
        const double bump = std::exp(-r2);
        // A dipole-like shape: a positive peak with a negative lobe to the north.
        gradient += t.amplitude * bump * (1 - 0.6 * dy / t.width * std::exp(-0.5 * r2));
        field += t.amplitude * 0.8 * bump;
    }
}

}  // namespace

std::string GenerateRun(const RunSpec& s) {
    std::mt19937_64 rng(s.seed);
    std::string out;
    out.reserve(static_cast<std::size_t>(s.rows) * 200 + 4096);

    AppendHeader(out, s.seed, [](int k) { return -275 + 50 * k; }, [](int) { return 150; }, s.tenths);

    const double cosLat = std::cos(s.originLat * M_PI / 180);
    const int rowsPerFix = std::max(1, s.sampleHz / std::max(1, s.fixHz));
    const double step = s.speed / s.sampleHz;  // metres per row
    const std::uint64_t rowsPerTraverse = std::max<std::uint64_t>(1, s.rows / std::max(1, s.traverses));
    const double lineLength = static_cast<double>(rowsPerTraverse) * step;
    double fixEast = 0, fixNorth = 0;
    for (std::uint64_t row = 0; row < s.rows; ++row) {
        const std::uint64_t traverse = std::min<std::uint64_t>(row / rowsPerTraverse, std::max(1, s.traverses) - 1);
        const double along = static_cast<double>(row - traverse * rowsPerTraverse) * step;
        const bool westward = s.westward != (traverse % 2 == 1);
        const double east = westward ? lineLength - along : along;
        const double north =
            s.lineNorth + 6.0 * static_cast<double>(traverse) + 0.6 * std::sin(along / 17.0);  // a cart never drives straight
        // The receiver reports a new fix now and then, with a little noise.
        if (row % rowsPerFix == 0) {
            fixEast = east + (Uniform(rng) - 0.5) * 0.04;
            fixNorth = north + (Uniform(rng) - 0.5) * 0.04;
        }
        const int second = s.startSecond + static_cast<int>(row / static_cast<std::uint64_t>(s.sampleHz));
        AppendTimeOfDay(out, second);
        out += ';';
        if (row < static_cast<std::uint64_t>(s.rowsWithoutFix)) {
            out += "0;0;";
        } else {
            Append(out, Nmea(s.originLat + fixNorth / kMetresPerDegree), 4);
            out += ';';
            Append(out, Nmea(s.originLon + fixEast / (kMetresPerDegree * cosLat)), 4);
            out += ';';
        }
        for (int k = 0; k < kChannels; ++k) {
            out += ';';
            const bool dropped = s.dropEvery > 0 && (row * 7 + static_cast<std::uint64_t>(k) * 131) %
                                                        static_cast<std::uint64_t>(s.dropEvery) == 0;
            if (dropped) {
                out += "0;0";
                continue;
            }
            // Sensor k sits across the cart, right of the course, 1.5 m behind.
            const double right = -2.75 + 0.5 * k;
            const double sensorEast = east + (westward ? 1.5 : -1.5);
            const double sensorNorth = north + (westward ? right : -right);
            double field = 0, gradient = 0;
            Anomaly(sensorEast, sensorNorth, field, gradient);
            field += (Uniform(rng) - 0.5) * 0.6 + 0.4 * k;
            gradient += (Uniform(rng) - 0.5) * 0.5 + 0.3 * (k % 3);
            if (s.tenths) {
                AppendInt(out, std::llround(field * 10));
                out += ';';
                AppendInt(out, std::llround(gradient * 10));
            } else {
                Append(out, field, 2);
                out += ';';
                Append(out, gradient, 2);
            }
        }
        out += "\r\n";
    }
    return out;
}

bool WriteRun(const RunSpec& run, const std::string& path) {
    const std::string text = GenerateRun(run);
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace qgrad::bench
