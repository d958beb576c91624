// A grid of what buried iron shows a gradiometer: spheres magnetised by a
// field inclined 70° down to the north, read by sensors 0.3 and 1.0 m above
// the ground, on 0.25 m cells over a 60 m square, with white noise.
#pragma once

#include "common/geodesy.h"
#include "gridhost/kriging.h"

#include <cmath>
#include <cstdint>
#include <random>
#include <vector>

namespace qgrad::testing {

inline constexpr double kLat0 = 55.75, kLon0 = 37.61;
inline constexpr double kCell = 0.25;  // m
inline constexpr double kSide = 60;    // m
inline constexpr double kLowerSensor = 0.3, kUpperSensor = 1.0;
inline constexpr double kNoise = 0.1;  // nT/m

struct Buried {
    const char* name;
    double east, north, depth;
    double moment;  // nT·m³
};

// The total-field anomaly of a sphere magnetised along a field inclined 70°
// down to the north, `up` metres above its centre.
inline double SphereField(const Buried& b, double east, double north, double up) {
    const double dx = east - b.east, dy = north - b.north;
    const double r2 = dx * dx + dy * dy + up * up, r = std::sqrt(r2);
    const double cosine = (dy * std::cos(Radians(70)) - up * std::sin(Radians(70))) / r;
    return b.moment * (3 * cosine * cosine - 1) / (r2 * r);
}

// A grid of 0.25 m cells over a 60 m square holding the gradiometer's
// reading of `buried`, with white noise.
inline Grid FieldGrid(const std::vector<Buried>& buried, std::uint64_t seed) {
    Grid g;
    g.cols = g.rows = static_cast<int>(kSide / kCell) + 1;
    g.xLL = kLon0;
    g.yLL = kLat0;
    const double midLat = kLat0 + kSide / 2 / kMetresPerDegree;
    g.xSize = kCell / MetresPerDegreeLongitude(midLat);
    g.ySize = kCell / kMetresPerDegree;
    std::mt19937_64 rng(seed);
    std::normal_distribution<double> noise(0, kNoise);
    g.z.resize(static_cast<std::size_t>(g.cols) * g.rows);
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.cols; ++c) {
            double v = 1.5 + noise(rng);  // a level that is not zero
            for (const Buried& b : buried)
                v += (SphereField(b, c * kCell, r * kCell, b.depth + kLowerSensor) -
                      SphereField(b, c * kCell, r * kCell, b.depth + kUpperSensor)) /
                     (kUpperSensor - kLowerSensor);
            g.at(c, r) = v;
        }
    return g;
}

}  // namespace qgrad::testing
