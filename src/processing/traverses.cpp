#include "processing/traverses.h"

#include <cmath>
#include <numbers>

namespace qgrad {
namespace {

// std::hypot guards against overflow that survey distances never reach, at
// several times the cost.
double Length(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }

}  // namespace

std::vector<Traverse> SplitTraverses(const TrackXY& track, const TurnSettings& turns) {
    const std::size_t n = track.x.size();
    std::vector<Traverse> traverses;
    if (n == 0) return traverses;
    const double smoothing = turns.smoothingMetres;
    std::vector<double> along(n, 0);
    for (std::size_t i = 1; i < n; ++i)
        along[i] = along[i - 1] + Length(track.x[i] - track.x[i - 1], track.y[i] - track.y[i - 1]);
    const double cosTurn = std::cos(turns.degrees * std::numbers::pi / 180);
    traverses.push_back({});
    // The reading `smoothing` metres behind and the one as far ahead: both
    // only move forward as i does.
    std::size_t behind = 0;
    std::size_t ahead = 0;
    std::size_t turnBegin = 0;
    bool turning = false;
    for (std::size_t i = 0; i < n; ++i) {
        while (behind + 1 < i && along[behind + 1] <= along[i] - smoothing) ++behind;
        if (ahead < i) ahead = i;
        while (ahead < n && along[ahead] < along[i] + smoothing) ++ahead;
        bool turnHere = false;
        if (ahead < n && along[behind] <= along[i] - smoothing) {
            const double bx = track.x[i] - track.x[behind];
            const double by = track.y[i] - track.y[behind];
            const double ax = track.x[ahead] - track.x[i];
            const double ay = track.y[ahead] - track.y[i];
            const double lengths = std::sqrt((bx * bx + by * by) * (ax * ax + ay * ay));
            // A course folded back on itself within the smoothing length has
            // no direction: it is turning.
            turnHere = lengths == 0 || (bx * ax + by * ay) < cosTurn * lengths;
        }
        if (turnHere && !turning) {
            turnBegin = i;
            traverses.back().straightEnd = i;
        }
        if (!turnHere && turning) {
            const std::size_t split = (turnBegin + i) / 2;
            traverses.back().end = split;
            traverses.push_back({split, 0, i, 0});
        }
        turning = turnHere;
    }
    traverses.back().end = traverses.back().straightEnd = n;
    return traverses;
}

double Bearing(const TrackXY& track, std::size_t first, std::size_t last) {
    const double dx = track.x[last] - track.x[first];
    const double dy = track.y[last] - track.y[first];
    if (dx == 0 && dy == 0) return 0;
    const double degrees = std::atan2(dx, dy) * 180 / std::numbers::pi;
    return degrees < 0 ? degrees + 360 : degrees;
}

}  // namespace qgrad
