// Anomalies picked from a grid for the dig list: each lobe beyond the
// threshold, a positive lobe and a negative one close together taken as one
// dipole, with its place, amplitudes, size and an estimated depth.
#pragma once

#include "gridhost/gridjob.h"
#include "gridhost/kriging.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qgrad {

struct TargetOptions {
    // A lobe's peak must stand this far from the grid's median, in nT/m;
    // unset, `robustMultiple` robust standard deviations of the grid.
    std::optional<double> threshold;
    double robustMultiple = 6;
    // The gradiometer's lower sensor above the ground, m: depths are given
    // below the ground.
    double sensorHeight = 0.3;
};

// Where a gridded point came from: the survey file and its data line, or the
// point file and its line where the points came with no survey.
struct PointOrigin {
    std::string file;
    std::size_t line = 0;  // 1 for a file's first; 0 where unknown
};

// Where each point of the point files came from, as the session that
// arranged them knows it, in the files' order. A run's points are its
// sample rows' points in turn, so a row's count of points before it says
// the survey file and data line of any point: 4 bytes a sample row (a
// third of a byte a point with all twelve channels), not a label a point.
class PointOrigins {
public:
    // The next run: its survey file, the data line of its first sample row,
    // and for each sample row from there the run's points before it.
    void AddRun(std::string file, std::size_t firstLine, std::vector<std::uint32_t> rowStarts, std::size_t points);
    std::size_t PointCount() const { return points_; }
    // `point` < PointCount().
    PointOrigin Of(std::size_t point) const;

private:
    struct Run {
        std::string file;
        std::size_t firstPoint = 0;
        std::size_t firstLine = 0;
        std::vector<std::uint32_t> rowStarts;
    };
    std::vector<Run> runs_;
    std::size_t points_ = 0;
};

struct Target {
    int number = 0;            // 1 for the strongest
    // The positive lobe's peak (else the negative's), refined between nodes.
    // At a northern inclination of 70° a source lies north of it by a sixth
    // of its depth below the sensor.
    double x = 0, y = 0;  // in the grid's system
    double lon = 0, lat = 0;
    double peak = 0;           // the main lobe's value above the median, nT/m (negative for a negative lobe)
    double positiveLobe = 0;   // each lobe's value above the median, 0 where it has none
    double negativeLobe = 0;
    double halfPeakArea = 0;   // m² of the main lobe at or beyond half its peak
    // Metres below the ground of the source's centre; unset when the lobe's
    // half-peak area spans too few nodes for its width to be measured.
    std::optional<double> depth;
    // Of the point nearest the place; empty without points.
    PointOrigin nearest;
};

struct TargetPicking {
    double median = 0;
    double threshold = 0;  // nT/m from the median
    std::vector<Target> targets;
};

// Depth of a compact source's centre below the lower sensor, from the radius
// of the circle as large as its lobe's half-peak area: the vertical gradient
// of an induced sphere has its half-peak radius at 0.42–0.49 of that depth
// for field inclinations of 60–90° and sensor separations of 0.5–1 m.
inline constexpr double kDepthPerHalfPeakRadius = 2.25;

TargetPicking PickTargets(const Grid& grid, const TargetOptions& options = {});

// The index of the point nearest each target's place, in metres on the
// ground; `points` not empty.
std::vector<std::size_t> NearestPoints(const std::vector<DataPoint>& points, const std::vector<Target>& targets);

// The line of a point file (`bytes`, as ParsePointFile reads them) that
// holds each of `points`, indexes of the points it gives.
std::vector<std::size_t> PointFileLines(std::string_view bytes, const std::vector<std::size_t>& points);

// NAME_targets.csv: a heading row, then a row a target, comma-separated.
std::string TargetsCsv(const TargetPicking& picking);

}  // namespace qgrad
