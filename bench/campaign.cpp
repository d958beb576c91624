#include "campaign.h"

#include "common/geodesy.h"
#include "runtext.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <numbers>
#include <random>
#include <vector>

namespace qgrad::bench {
namespace {

constexpr int kSampleHz = 10;
constexpr int kFixHz = 2;
constexpr double kSpeed = 1.0;          // m/s
constexpr double kSensorSpacing = 0.5;  // across the cart, m
constexpr double kSwath = kGeneratedChannels * kSensorSpacing;
constexpr double kTurnRadius = kSwath / 2;
constexpr double kBehind = 1.0;  // the sensors trail the antenna, m
// The gradiometer's lower and upper sensors above the ground, m.
constexpr double kLowerHeight = 0.3;
constexpr double kUpperHeight = 1.0;
constexpr double kBlockOverlap = 0.5;  // neighbouring blocks share this much, m
constexpr double kBlockGap = 3.0;      // where a crew left a gap, m
constexpr double kDipoleReach = 8.0;   // beyond it a dipole's gradient is lost in the noise, m
constexpr double kBucket = 10.0;       // the dipoles' look-up cells, m

double RightOf(int k) { return -0.5 * (kGeneratedChannels - 1) * kSensorSpacing + kSensorSpacing * k; }

struct Point {
    double east, north;
};

struct Dipole {
    double east, north, depth;
    double moment;  // nT·m³ along the Earth's field (an induced sphere)
};

// The Earth's field: inclination 70° down to the north.
const double kFieldNorth = std::cos(Radians(70));
const double kFieldUp = -std::sin(Radians(70));

// Total-field anomaly of an induced dipole at a sensor `dx`, `dy` from it and
// `dz` above it.
double DipoleField(const Dipole& d, double dx, double dy, double dz) {
    const double r2 = dx * dx + dy * dy + dz * dz;
    const double r = std::sqrt(r2);
    const double cosine = (dy * kFieldNorth + dz * kFieldUp) / r;
    return d.moment * (3 * cosine * cosine - 1) / (r2 * r);
}

struct Ground {
    std::vector<Dipole> dipoles;
    std::vector<std::vector<int>> buckets;  // dipoles by kBucket cell, row-major
    int bucketCols = 0, bucketRows = 0;
    double width = 0, height = 0;

    // Field at the lower sensor and the vertical gradient, both of the ground alone.
    void At(double east, double north, double& field, double& gradient) const {
        field = 0;
        gradient = 0;
        const int bc = static_cast<int>(std::floor(east / kBucket)), br = static_cast<int>(std::floor(north / kBucket));
        const int reach = static_cast<int>(std::ceil(kDipoleReach / kBucket));
        for (int r = std::max(0, br - reach); r <= std::min(bucketRows - 1, br + reach); ++r)
            for (int c = std::max(0, bc - reach); c <= std::min(bucketCols - 1, bc + reach); ++c)
                for (int i : buckets[static_cast<std::size_t>(r) * bucketCols + c]) {
                    const Dipole& d = dipoles[i];
                    const double dx = east - d.east, dy = north - d.north;
                    if (dx * dx + dy * dy > kDipoleReach * kDipoleReach) continue;
                    const double lower = DipoleField(d, dx, dy, d.depth + kLowerHeight);
                    const double upper = DipoleField(d, dx, dy, d.depth + kUpperHeight);
                    field += lower;
                    gradient += (lower - upper) / (kUpperHeight - kLowerHeight);
                }
        // A pipe straight across the field, a ditch that wanders, and a broad
        // deep body under its middle.
        const double pipe = std::abs(east * 0.6 - north * 0.8 + 0.2 * height);
        gradient += 6.0 * std::exp(-(pipe * pipe) / (1.2 * 1.2));
        field += 15.0 * std::exp(-(pipe * pipe) / (2.0 * 2.0));
        const double ditch = east - (0.3 * width + 40 * std::sin(north / 150));
        gradient += 1.5 * std::exp(-(ditch * ditch) / (2.0 * 2.0));
        field += 4.0 * std::exp(-(ditch * ditch) / (3.0 * 3.0));
        const double bx = east - 0.5 * width, by = north - 0.5 * height;
        gradient += 2.0 * std::exp(-(bx * bx + by * by) / (30.0 * 30.0));
        field += 25.0 * std::exp(-(bx * bx + by * by) / (40.0 * 40.0));
    }
};

Ground BuryDipoles(double width, double height, std::mt19937_64& rng) {
    Ground g;
    g.width = width;
    g.height = height;
    const auto count = static_cast<std::size_t>(width * height / 1500);
    for (std::size_t i = 0; i < count; ++i) {
        Dipole d;
        d.east = Uniform(rng) * width;
        d.north = Uniform(rng) * height;
        d.depth = 0.3 + 1.2 * Uniform(rng);
        d.moment = 2.0 * std::exp(Uniform(rng) * std::log(100.0));
        g.dipoles.push_back(d);
    }
    g.bucketCols = static_cast<int>(width / kBucket) + 1;
    g.bucketRows = static_cast<int>(height / kBucket) + 1;
    g.buckets.resize(static_cast<std::size_t>(g.bucketCols) * g.bucketRows);
    for (std::size_t i = 0; i < g.dipoles.size(); ++i) {
        const int c = std::clamp(static_cast<int>(g.dipoles[i].east / kBucket), 0, g.bucketCols - 1);
        const int r = std::clamp(static_cast<int>(g.dipoles[i].north / kBucket), 0, g.bucketRows - 1);
        g.buckets[static_cast<std::size_t>(r) * g.bucketCols + c].push_back(static_cast<int>(i));
    }
    return g;
}

// One block's serpentine walk: `traverses` lines `length` m long, kSwath
// apart, joined by half-circle turns beyond their ends.
struct Walk {
    Point origin;  // south-west corner of the block
    double length = 0;
    int traverses = 0;
    bool fromEast = false;  // first line at the east side, walked south

    double Period() const { return length + std::numbers::pi * kTurnRadius; }
    double Duration() const { return (traverses * Period() - std::numbers::pi * kTurnRadius) / kSpeed; }

    // Where the antenna is `seconds` after the start; past the last line it
    // stands still at its end.
    Point At(double seconds) const {
        const double u = std::clamp(seconds, 0.0, Duration()) * kSpeed;
        const int j = std::min(traverses - 1, static_cast<int>(u / Period()));
        const double w = u - j * Period();
        const double side = fromEast ? -1 : 1;  // the way from one line to the next
        const double firstLine = fromEast ? (traverses - 0.5) * kSwath : 0.5 * kSwath;
        const double x = firstLine + side * j * kSwath;
        const bool north = (j % 2 == 0) != fromEast;
        if (w <= length) {
            const double y = north ? w : length - w;
            // A cart never drives quite straight.
            return {origin.east + x + 0.15 * std::sin(y / 13.0 + j), origin.north + y};
        }
        const double angle = (w - length) / kTurnRadius;
        const double cx = x + side * kTurnRadius;
        const double y = north ? length + kTurnRadius * std::sin(angle) : -kTurnRadius * std::sin(angle);
        return {origin.east + cx - side * kTurnRadius * std::cos(angle), origin.north + y};
    }
};

// A spike of one to three readings on one channel.
struct Spike {
    int left = 0;
    double size = 0;
};

std::string GenerateBlock(const CampaignSpec& plan, int file, const Walk& walk, const Ground& ground,
                          std::array<double, kGeneratedChannels>& levels) {
    std::mt19937_64 rng(plan.seed * 1000003 + static_cast<std::uint64_t>(file));
    for (double& level : levels) level = 1.6 * (Uniform(rng) - 0.5);
    std::string out;
    out.reserve(static_cast<std::size_t>(plan.rowsPerFile) * 200 + 4096);
    AppendHeader(out, static_cast<std::uint64_t>(file + 1), [](int k) { return std::lround(RightOf(k) * 100); },
                 [](int) { return std::lround(kBehind * 100); }, false);

    const double cosLat = std::cos(Radians(plan.originLat));
    const long long start = 7 * 3600 + (file % 2) * (15 * 1800);
    std::array<Spike, kGeneratedChannels> spikes{};
    Point fix{};
    constexpr double kProbe = 0.05;  // the heading from the walk this far either side, s
    for (std::uint64_t row = 0; row < plan.rowsPerFile; ++row) {
        const double t = static_cast<double>(row) / kSampleHz;
        AppendTimeOfDay(out, start + static_cast<long long>(row / kSampleHz));
        out += ';';
        if (row % (kSampleHz / kFixHz) == 0) {
            fix = walk.At(t - plan.lagSeconds);
            fix.east += (Uniform(rng) - 0.5) * 0.04;
            fix.north += (Uniform(rng) - 0.5) * 0.04;
        }
        if (row < 6) {
            out += "0;0;";
        } else {
            Append(out, Nmea(plan.originLat + fix.north / kMetresPerDegree), 4);
            out += ';';
            Append(out, Nmea(plan.originLon + fix.east / (kMetresPerDegree * cosLat)), 4);
            out += ';';
        }
        const Point here = walk.At(t);
        const Point ahead = walk.At(t + kProbe), behind = walk.At(t - kProbe);
        double hx = ahead.east - behind.east, hy = ahead.north - behind.north;
        const double norm = std::hypot(hx, hy);
        if (norm > 0) hx /= norm, hy /= norm;
        const double traverse = std::floor(t * kSpeed / walk.Period());
        for (int k = 0; k < kGeneratedChannels; ++k) {
            out += ';';
            if ((row * 7 + static_cast<std::uint64_t>(k) * 131) % 997 == 0) {
                out += "0;0";
                continue;
            }
            const double east = here.east + RightOf(k) * hy - kBehind * hx;
            const double north = here.north - RightOf(k) * hx - kBehind * hy;
            double field = 0, gradient = 0;
            ground.At(east, north, field, gradient);
            field += 49480.0 + 0.01 * east - 0.008 * north + 3 * std::sin(t / 1200) + 0.4 * k +
                     (Uniform(rng) + Uniform(rng) - 1) * 0.3;
            gradient += levels[k] + 0.2 * std::sin(traverse * 0.7 + k) + (Uniform(rng) + Uniform(rng) - 1) * 0.15;
            Spike& spike = spikes[k];
            if (spike.left == 0 && Uniform(rng) < 0.0015) {
                spike.left = 1 + static_cast<int>(Uniform(rng) * 3);
                spike.size = (Uniform(rng) < 0.5 ? -1 : 1) * (40 + 210 * Uniform(rng));
            }
            if (spike.left > 0) {
                gradient += spike.size;
                field += spike.size;
                --spike.left;
            }
            Append(out, field, 2);
            out += ';';
            Append(out, gradient, 2);
        }
        out += "\r\n";
    }
    return out;
}

bool WriteText(const std::string& text, const std::filesystem::path& path) {
    std::FILE* f = std::fopen(path.string().c_str(), "wb");
    if (!f) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

}  // namespace

bool WriteCampaign(const CampaignSpec& plan, const std::string& folder) {
    if (plan.files <= 0 || plan.rowsPerFile == 0 || plan.traverseLength <= 0) return false;
    Walk shape;
    shape.length = plan.traverseLength;
    const double rowsPerLine = shape.Period() / kSpeed * kSampleHz;
    // The file ends while the crew is still walking, part way along its last
    // traverse. A cart left standing at the end would keep one fix for the
    // rest of the file, and the arrangement carries a final held fix on at
    // the last step's pace: tens of metres of points beyond the field.
    shape.traverses = std::max(1, static_cast<int>(std::ceil(static_cast<double>(plan.rowsPerFile) / rowsPerLine)));
    const double blockWidth = shape.traverses * kSwath;
    // Blocks in rows of `across`, the field about as wide as it is long.
    const int across = std::max(
        1, static_cast<int>(std::lround(std::sqrt(plan.files * plan.traverseLength / blockWidth))));
    const int down = (plan.files + across - 1) / across;
    const double width = across * blockWidth + kBlockGap;
    const double height = down * plan.traverseLength;

    std::mt19937_64 rng(plan.seed);
    const Ground ground = BuryDipoles(width, height, rng);
    std::filesystem::create_directories(folder);
    std::string truth = "# lag_s\t" + std::to_string(plan.lagSeconds) + "\n# run\tsensor levels, nT/m\n";
    for (int f = 0; f < plan.files; ++f) {
        const int column = f % across, row = f / across;
        Walk walk = shape;
        // Every fourth row of blocks leaves a gap after its first block.
        const double gap = (row % 4 == 1 && column >= 1) ? kBlockGap + kBlockOverlap : 0;
        walk.origin = {column * (blockWidth - kBlockOverlap) + gap, row * (plan.traverseLength - kBlockOverlap)};
        walk.fromEast = f % 3 == 2;
        std::array<double, kGeneratedChannels> levels{};
        char name[32];
        std::snprintf(name, sizeof name, "run%03d.csv", f + 1);
        if (!WriteText(GenerateBlock(plan, f, walk, ground, levels), std::filesystem::path(folder) / name)) return false;
        std::string line = "# " + std::string(name);
        for (double level : levels) line += "\t" + std::to_string(level);
        truth += line + "\n";
    }
    truth += "east_m\tnorth_m\tlatitude\tlongitude\tdepth_m\tmoment_nT_m3\n";
    const double cosLat = std::cos(Radians(plan.originLat));
    char buf[160];
    for (const Dipole& d : ground.dipoles) {
        std::snprintf(buf, sizeof buf, "%.3f\t%.3f\t%.9f\t%.9f\t%.3f\t%.3f\n", d.east, d.north,
                      plan.originLat + d.north / kMetresPerDegree,
                      plan.originLon + d.east / (kMetresPerDegree * cosLat), d.depth, d.moment);
        truth += buf;
    }
    return WriteText(truth, std::filesystem::path(folder) / "truth.tsv");
}

}  // namespace qgrad::bench
