// A serpentine survey with known truth: a cart of four sensors 0.5 m apart
// walks north-south traverses 2 m apart at 1 m/s, turning in half circles,
// over a buried dipole (and whatever more sources a shape lists: dipoles,
// deep broad ones, pipes and ditches). Readings are the anomaly plus what a
// test adds (sensor offsets, heading error, spikes), with fixes that may lag.
#pragma once

#include "common/geodesy.h"
#include "arrange/arrange.h"
#include "common/numtext.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <numbers>
#include <set>
#include <utility>
#include <string>
#include <vector>

namespace qgrad::synthetic {

// A buried source under (x, y): a dipole, or a horizontal line from (x, y)
// to (x1, y1) such as a pipe or a ditch; `amplitude` is its gradient right
// above it, nT/m.
struct Source {
    double x = 0, y = 0, depth = 1, amplitude = 0;
    bool line = false;
    double x1 = 0, y1 = 0;
};

struct SurveyShape {
    int traverses = 5;
    double length = 40;       // m
    double spacing = 2;       // between traverses, m
    double turnRadius = 1;    // m
    // A cart sways across its traverse by up to this much, m, once every
    // `swayMetres` walked.
    double sway = 0;
    double swayMetres = 8;
    double speed = 1;         // m/s
    int sampleHz = 10;
    int sensors = 4;
    double sensorSpacing = 0.5;  // m, right of the course
    double firstSensorRight = 0;  // m, the first sensor's offset right of the antenna
    // Readings per fix: a receiver slower than the instrument gives each fix
    // to the reading it arrives with and repeats it on those after.
    int readingsPerFix = 1;
    double fixJitter = 0;  // m each way east and north, a fix's own error
    // Seconds the fixes run behind the readings: the fix of a row is where
    // the antenna was that much earlier.
    double fixLag = 0;
    double dipoleX = 3.75, dipoleY = 20, dipoleDepth = 0.8, dipoleAmplitude = 40;  // m, nT/m
    std::vector<Source> sources;  // besides that dipole
    // Every sensor's offset behind the antenna, m.
    double behind = 0;
    // Where the sensors truly are: at their offsets in metres, turned with
    // the cart as it walks, or else where the arrangement's one-course placement puts them.
    bool offsetsInMetres = false;
};

// Uniform readings in [0, 1), the same on every platform.
class Uniform {
public:
    explicit Uniform(std::uint64_t seed) : state_(seed) {}
    double operator()() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(state_ >> 11) * 0x1.0p-53;
    }

private:
    std::uint64_t state_;
};

constexpr double kLat0 = 55.75;
constexpr double kLon0 = 37.62;
inline double LonDegree() { return kMetresPerDegree * std::cos(kLat0 * std::numbers::pi / 180); }

// The antenna after `s` metres of walking, and the direction it walks in.
struct Pose {
    double x, y, dx, dy;
};

inline Pose AntennaAt(const SurveyShape& shape, double s) {
    const double turn = std::numbers::pi * shape.turnRadius;
    const double leg = shape.length + turn;
    s = std::clamp(s, 0.0, shape.traverses * shape.length + (shape.traverses - 1) * turn);
    const int j = std::min(static_cast<int>(s / leg), shape.traverses - 1);
    const double along = s - j * leg;
    const bool north = j % 2 == 0;
    const double x0 = j * shape.spacing;
    if (along <= shape.length) {
        const double phase = 2 * std::numbers::pi * along / shape.swayMetres;
        const double across = shape.sway * std::sin(phase);
        const double slope = shape.sway * 2 * std::numbers::pi / shape.swayMetres * std::cos(phase);
        const double norm = std::sqrt(1 + slope * slope);
        const double dy = north ? 1.0 : -1.0;
        return {x0 + across, north ? along : shape.length - along, slope / norm, dy / norm};
    }
    // Half circle to the next traverse, over the far end of this one.
    const double a = (along - shape.length) / shape.turnRadius;
    const double cx = x0 + shape.turnRadius;
    const double cy = north ? shape.length : 0;
    const double sign = north ? 1 : -1;
    return {cx - shape.turnRadius * std::cos(a), cy + sign * shape.turnRadius * std::sin(a), std::sin(a),
            sign * std::cos(a)};
}

// The vertical-gradient anomaly of a source at (x, y).
inline double SourceAnomaly(const Source& source, double x, double y) {
    const double d = source.depth;
    double dx = x - source.x, dy = y - source.y;
    if (source.line) {
        // Across the line, from its nearest point.
        const double lx = source.x1 - source.x, ly = source.y1 - source.y;
        const double f = std::clamp((dx * lx + dy * ly) / (lx * lx + ly * ly), 0.0, 1.0);
        dx -= f * lx;
        dy -= f * ly;
        const double r2 = dx * dx + dy * dy;
        return source.amplitude * d * d * (d * d - r2) / std::pow(d * d + r2, 2);
    }
    const double rho2 = dx * dx + dy * dy;
    return source.amplitude / 2 * (2 * d * d - rho2) * d * d * d / std::pow(d * d + rho2, 2.5);
}

// The anomaly of all the shape's sources, its first dipole's peak
// `dipoleAmplitude` right above it.
inline double Anomaly(const SurveyShape& shape, double x, double y) {
    double sum = SourceAnomaly({shape.dipoleX, shape.dipoleY, shape.dipoleDepth, shape.dipoleAmplitude}, x, y);
    for (const Source& source : shape.sources) sum += SourceAnomaly(source, x, y);
    return sum;
}

struct SyntheticSurvey {
    SurveyTable table;
    SurveyGeometry geometry;
    // Per data row and sensor: the anomaly at the sensor's true position,
    // and where the sensor was, metres.
    std::vector<std::vector<double>> anomaly, x, y;
    std::vector<double> heading;  // north component of the walking direction, per row
    // Per data row: where the antenna was, metres.
    std::vector<double> antennaX, antennaY;
};

// What a test adds to a reading of sensor k at data row r, walking with the
// given north component; field and gradient alike.
using Addition = std::function<double(int k, std::size_t r, double north)>;

namespace detail {

// The table of the survey: each row's time and fix, and the readings that
// `reading(k, r, pose)` gives sensor k at data row r when the antenna is at
// `pose`.
template <typename Reading>
SurveyTable SurveyRows(const SurveyShape& shape, Reading&& reading) {
    SurveyTable table;
    const double total = shape.traverses * shape.length + (shape.traverses - 1) * std::numbers::pi * shape.turnRadius;
    const std::size_t rows = static_cast<std::size_t>(total / shape.speed * shape.sampleHz);
    auto append = [&](const std::vector<std::string>& cells) {
        std::vector<std::string_view> views(cells.begin(), cells.end());
        table.appendRow(views.data(), views.size());
    };
    append({"synthetic"});
    append({"offsets"});
    std::vector<std::string> headings = {"Time", "Latitude,N", "Longitude,E", "Dist"};
    for (int k = 0; k < kChannels; ++k) {
        headings.push_back("F" + std::to_string(k + 1) + ",nT");
        headings.push_back("G" + std::to_string(k + 1) + ",nT/m");
    }
    append(headings);
    char buf[64];
    Uniform jitter(5);
    double jitterX = 0, jitterY = 0;
    for (std::size_t r = 0; r < rows; ++r) {
        const double t = static_cast<double>(r) / shape.sampleHz;
        // The instrument stamps whole seconds and repeats them.
        const int second = 10 * 3600 + 15 * 60 + static_cast<int>(t);
        std::snprintf(buf, sizeof buf, "%02d%02d%02d", second / 3600, second / 60 % 60, second % 60);
        std::vector<std::string> cells = {buf};
        const double fixed = static_cast<double>(r - r % static_cast<std::size_t>(shape.readingsPerFix)) / shape.sampleHz;
        const Pose fix = AntennaAt(shape, (fixed - shape.fixLag) * shape.speed);
        if (shape.fixJitter > 0 && r % static_cast<std::size_t>(shape.readingsPerFix) == 0) {
            jitterX = shape.fixJitter * (2 * jitter() - 1);
            jitterY = shape.fixJitter * (2 * jitter() - 1);
        }
        cells.push_back(FormatFixed(kLat0 + (fix.y + jitterY) / kMetresPerDegree, 9, 15));
        cells.push_back(FormatFixed(kLon0 + (fix.x + jitterX) / LonDegree(), 9, 15));
        cells.push_back("0");
        const Pose at = AntennaAt(shape, t * shape.speed);
        for (int k = 0; k < shape.sensors; ++k) {
            const double v = reading(k, r, at);
            cells.push_back(FormatFixed(48000 + v, 3, 15));
            cells.push_back(FormatFixed(v, 3, 15));
        }
        append(cells);
    }
    return table;
}

}  // namespace detail

inline SyntheticSurvey MakeSurvey(const SurveyShape& shape, const Addition& add = {}) {
    SyntheticSurvey out;
    for (int k = 0; k < shape.sensors; ++k) {
        out.geometry.offsetX[k] = shape.firstSensorRight + k * shape.sensorSpacing;
        out.geometry.offsetY[k] = shape.behind;
    }
    // Unless in metres, the sensors lie where the arrangement puts them from
    // the antenna: take their offsets from an arrangement of the bare track
    // (the first row is placed from the second row's fix).
    std::vector<double> offsetX, offsetY;
    if (!shape.offsetsInMetres) {
        SurveyTable bare = detail::SurveyRows(shape, [](int, std::size_t, const Pose&) { return 0.0; });
        ArrangedPoints placed;
        ArrangeToGps(bare, out.geometry, false, placed);
        const double fixX = (std::stod(std::string(bare.cell(2, 4))) - kLon0) * LonDegree();
        const double fixY = (std::stod(std::string(bare.cell(1, 4))) - kLat0) * kMetresPerDegree;
        for (int k = 0; k < shape.sensors; ++k) {
            offsetX.push_back((placed.lon(k) - kLon0) * LonDegree() - fixX);
            offsetY.push_back((placed.lat(k) - kLat0) * kMetresPerDegree - fixY);
        }
    }
    // Sensor k's offset east and north of the antenna walking along (dx, dy).
    auto offset = [&](int k, const Pose& at) {
        if (!shape.offsetsInMetres) return std::pair(offsetX[k], offsetY[k]);
        const double x = out.geometry.offsetX[k], y = out.geometry.offsetY[k];
        return std::pair(x * at.dy - y * at.dx, -x * at.dx - y * at.dy);
    };
    out.table = detail::SurveyRows(shape, [&](int k, std::size_t r, const Pose& at) {
        if (r >= out.anomaly.size()) {
            out.anomaly.emplace_back();
            out.x.emplace_back();
            out.y.emplace_back();
            out.heading.push_back(at.dy);
            out.antennaX.push_back(at.x);
            out.antennaY.push_back(at.y);
        }
        const auto [east, north] = offset(k, at);
        const double sx = at.x + east;
        const double sy = at.y + north;
        const double anomaly = Anomaly(shape, sx, sy);
        out.anomaly.back().push_back(anomaly);
        out.x.back().push_back(sx);
        out.y.back().push_back(sy);
        return anomaly + (add ? add(k, r, at.dy) : 0);
    });
    return out;
}

// A field of 40 x 60 m: a cart of eight sensors 0.5 m apart on serpentine
// traverses 4 m apart over dipoles, a pipe, a ditch and a broad deep source,
// the sensors turning with the cart.
inline SurveyShape Field() {
    SurveyShape shape;
    shape.offsetsInMetres = true;
    shape.traverses = 10;
    shape.length = 60;
    shape.spacing = 4;
    shape.turnRadius = 2;
    shape.sensors = 8;
    shape.dipoleX = 13.75;
    shape.dipoleY = 30;
    shape.sources = {
        {5.2, 12, 0.6, -25},
        {22.1, 45, 1.0, 60},
        {30.3, 20, 0.7, 30},
        {9.0, 50, 0.9, -35},
        {35.5, 38, 0.8, 20},
        {20, 30, 8, 6},                       // broad and deep
        {0, 5, 1.0, 8, true, 40, 55},         // a pipe
        {-2, 40, 0.5, -3, true, 40, 36},      // a ditch
    };
    return shape;
}

// The field walked as a crew walks a campaign: the cart's sensors centred on
// the antenna, neighbouring traverses a swath apart, so that only their
// outermost sensors' lines pass half a sensor spacing from each other, the
// turns half a swath in radius, and a fix twice a second.
inline SurveyShape CampaignField() {
    SurveyShape shape = Field();
    shape.firstSensorRight = -0.5 * (shape.sensors - 1) * shape.sensorSpacing;
    shape.spacing = shape.sensors * shape.sensorSpacing;
    shape.turnRadius = shape.spacing / 2;
    shape.readingsPerFix = 5;
    return shape;
}

// What the field adds to the anomaly: per-sensor offsets, heading error,
// noise, a drift of the instrument's level and, from about one reading in a
// hundred, spikes of one to three readings, whose readings it lists.
struct Defects {
    bool spikes = true;
    double noise = 0.1;
    double drift = 0;  // per data row, so that each traverse lies at its own level
    std::set<std::pair<int, std::size_t>> spiky;  // sensor, data row

    Addition Add(int sensors, std::size_t rows) {
        Uniform random(2026);
        std::vector<std::vector<double>> added(rows, std::vector<double>(static_cast<std::size_t>(sensors)));
        for (int k = 0; k < sensors; ++k)
            for (std::size_t r = 0; r < rows; ++r) {
                added[r][k] += noise * (random() - 0.5) * std::sqrt(12.0);
                if (!spikes || random() > 0.004) continue;
                const std::size_t length = 1 + static_cast<std::size_t>(random() * 3);
                const double amplitude = (random() < 0.5 ? -1 : 1) * (30 + 120 * random());
                for (std::size_t i = r; i < std::min(rows, r + length); ++i) {
                    added[i][k] += amplitude * (0.8 + 0.4 * random());
                    spiky.emplace(k, i);
                }
                r += length + 4;
            }
        return [added = std::move(added), drift = drift](int k, std::size_t r, double north) {
            return added[r][k] + 0.4 * k - 1 + 0.3 * north + drift * static_cast<double>(r);
        };
    }
};

}  // namespace qgrad::synthetic
