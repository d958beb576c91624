#include "processing/traverses.h"

#include <cmath>
#include <numbers>

namespace qgrad {
namespace {

// std::hypot guards against overflow that survey distances never reach, at
// several times the cost.
double Length(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }

// Marks as turning each reading where the course over the `stretch` metres
// of track behind it and over as many ahead differ by more than the angle
// whose cosine is `cosTurn`.
void MarkTurning(const TrackXY& track, const std::vector<double>& along, double stretch, double cosTurn,
                 std::vector<char>& turning) {
    const std::size_t n = along.size();
    // The reading `stretch` metres behind and the one as far ahead: both
    // only move forward as i does.
    std::size_t behind = 0;
    std::size_t ahead = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (behind + 1 < i && along[behind + 1] <= along[i] - stretch) ++behind;
        if (ahead < i) ahead = i;
        while (ahead < n && along[ahead] < along[i] + stretch) ++ahead;
        if (ahead == n) break;
        if (along[behind] > along[i] - stretch) continue;
        const double bx = track.x[i] - track.x[behind];
        const double by = track.y[i] - track.y[behind];
        const double ax = track.x[ahead] - track.x[i];
        const double ay = track.y[ahead] - track.y[i];
        // A stretch whose ends lie under half its length apart went nowhere:
        // a cart standing while its fixes jitter, or a sensor beside the
        // antenna that turns almost on the spot, has no course to compare.
        const double shortest = stretch * stretch / 4;
        if (bx * bx + by * by < shortest || ax * ax + ay * ay < shortest) continue;
        const double lengths = std::sqrt((bx * bx + by * by) * (ax * ax + ay * ay));
        if ((bx * ax + by * ay) < cosTurn * lengths) turning[i] = 1;
    }
}

}  // namespace

std::vector<Traverse> SplitTraverses(const TrackXY& track, const TurnSettings& turns) {
    const std::size_t n = track.x.size();
    std::vector<Traverse> traverses;
    if (n == 0) return traverses;
    std::vector<double> along(n, 0);
    for (std::size_t i = 1; i < n; ++i)
        along[i] = along[i - 1] + Length(track.x[i] - track.x[i - 1], track.y[i] - track.y[i - 1]);
    const double cosTurn = std::cos(turns.degrees * std::numbers::pi / 180);
    // A turn of radius r bends the course by s / r radians over stretches of
    // s metres either side of its middle: a tight turn shows within the
    // shortest stretch, a wide one only over a longer stretch, over which a
    // cart's sway and the jitter of its fixes average out.
    std::vector<char> turning(n, 0);
    for (double stretch = turns.smoothingMetres; stretch <= turns.longestMetres; stretch *= 2)
        MarkTurning(track, along, stretch, cosTurn, turning);
    traverses.push_back({});
    std::size_t turnBegin = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const bool starts = turning[i] && (i == 0 || !turning[i - 1]);
        const bool ends = !turning[i] && i > 0 && turning[i - 1];
        if (starts) {
            turnBegin = i;
            traverses.back().straightEnd = i;
        }
        if (ends) {
            const std::size_t split = (turnBegin + i) / 2;
            traverses.back().end = split;
            traverses.push_back({split, 0, i, 0});
        }
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
