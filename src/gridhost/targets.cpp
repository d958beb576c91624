#include "gridhost/targets.h"

#include "common/geodesy.h"
#include "common/numtext.h"
#include "common/robuststats.h"
#include "gridhost/gridsystem.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <numbers>
#include <unordered_map>

namespace qgrad {
namespace {


struct Lobe {
    int col = 0, row = 0;  // the peak node
    double amplitude = 0;  // above the median
    double east = 0, north = 0;  // the refined peak, metres from the south-west node
    double halfPeakArea = 0;
    int halfPeakNodes = 0;
    bool fragment = false;  // of a stronger lobe's anomaly
};

// Where a parabola through three values peaks, from the middle one, in
// node spacings; 0 where the three do not bend.
double ParabolaPeak(double before, double middle, double after) {
    const double bend = before - 2 * middle + after;
    if (!(std::abs(bend) > 0) || std::isnan(bend)) return 0;
    return std::clamp(0.5 * (before - after) / bend, -0.5, 0.5);
}

class LobeFinder {
public:
    LobeFinder(const Grid& grid, double median, double dx, double dy)
        : g_(grid), median_(median), dx_(dx), dy_(dy), seen_(grid.z.size(), 0) {}

    // Every 8-connected region beyond `threshold` on the side of `sign`,
    // each as the lobe of its strongest node.
    void Find(double threshold, int sign, std::vector<Lobe>& lobes) {
        std::fill(seen_.begin(), seen_.end(), 0);
        for (int r = 0; r < g_.rows; ++r)
            for (int c = 0; c < g_.cols; ++c) {
                if (seen_[Index(c, r)] || !(Beyond(c, r, sign) > threshold)) continue;
                Lobe lobe;
                double best = -1;
                Flood(c, r, [&](int cc, int rr) { return Beyond(cc, rr, sign) > threshold; },
                      [&](int cc, int rr) {
                          if (Beyond(cc, rr, sign) > best) best = Beyond(cc, rr, sign), lobe.col = cc, lobe.row = rr;
                      });
                lobe.amplitude = sign * best;
                Refine(lobe, sign);
                lobes.push_back(lobe);
            }
        // The half-peak regions may reach past the threshold's, so they are
        // flooded afresh, the strongest lobe first. Noise parts a weak
        // anomaly into islands above the threshold; a weaker lobe whose peak
        // lies in a stronger one's half-peak area, the field between them
        // never under half the stronger's peak, is such an island of it.
        // A lobe at twice the threshold or more has its half-peak area
        // within its own island, so only weak anomalies are joined.
        std::vector<Lobe*> strongestFirst;
        for (Lobe& lobe : lobes)
            if ((lobe.amplitude > 0) == (sign > 0)) strongestFirst.push_back(&lobe);
        std::stable_sort(strongestFirst.begin(), strongestFirst.end(),
                         [](const Lobe* a, const Lobe* b) { return std::abs(a->amplitude) > std::abs(b->amplitude); });
        for (Lobe* lobe : strongestFirst) {
            if (lobe->fragment) continue;
            std::fill(seen_.begin(), seen_.end(), 0);
            const double half = std::abs(lobe->amplitude) / 2;
            int nodes = 0;
            Flood(lobe->col, lobe->row, [&](int cc, int rr) { return Beyond(cc, rr, sign) >= half; },
                  [&](int, int) { ++nodes; });
            lobe->halfPeakNodes = nodes;
            lobe->halfPeakArea = nodes * dx_ * dy_;
            for (Lobe* weaker : strongestFirst)
                if (weaker != lobe && !weaker->halfPeakNodes && seen_[Index(weaker->col, weaker->row)])
                    weaker->fragment = true;
        }
        std::erase_if(lobes, [](const Lobe& lobe) { return lobe.fragment; });
    }

private:
    std::size_t Index(int c, int r) const { return static_cast<std::size_t>(r) * g_.cols + c; }
    // How far a node stands beyond the median on the side of `sign`; NaN for a blank.
    double Beyond(int c, int r, int sign) const { return sign * (g_.at(c, r) - median_); }

    template <typename Inside, typename Visit>
    void Flood(int c0, int r0, Inside inside, Visit visit) {
        stack_.clear();
        stack_.push_back({c0, r0});
        seen_[Index(c0, r0)] = 1;
        while (!stack_.empty()) {
            const auto [c, r] = stack_.back();
            stack_.pop_back();
            visit(c, r);
            for (int dr = -1; dr <= 1; ++dr)
                for (int dc = -1; dc <= 1; ++dc) {
                    const int cc = c + dc, rr = r + dr;
                    if (cc < 0 || rr < 0 || cc >= g_.cols || rr >= g_.rows || seen_[Index(cc, rr)]) continue;
                    if (!inside(cc, rr)) continue;
                    seen_[Index(cc, rr)] = 1;
                    stack_.push_back({cc, rr});
                }
        }
    }

    void Refine(Lobe& lobe, int sign) const {
        auto value = [&](int c, int r) {
            if (c < 0 || r < 0 || c >= g_.cols || r >= g_.rows) return std::nan("");
            return Beyond(c, r, sign);
        };
        const int c = lobe.col, r = lobe.row;
        const double x = ParabolaPeak(value(c - 1, r), value(c, r), value(c + 1, r));
        const double y = ParabolaPeak(value(c, r - 1), value(c, r), value(c, r + 1));
        lobe.east = (c + x) * dx_;
        lobe.north = (r + y) * dy_;
    }

    const Grid& g_;
    double median_, dx_, dy_;
    std::vector<std::uint8_t> seen_;
    std::vector<std::pair<int, int>> stack_;
};

// A source's ring stays under this share of its peak, is at least this many
// times as broad, and lies within this many depths below the sensor times
// the fourth root of the two lobes' ratio.
constexpr double kRingShare = 0.15;
constexpr double kRingBreadth = 2;
constexpr double kRingReach = 2;

double HalfPeakRadius(const Lobe& lobe) { return std::sqrt(lobe.halfPeakArea / std::numbers::pi); }

// A target's nearest point is looked for first among the points in squares
// this wide around it: one look-up a point, whatever the number of targets.
constexpr double kNearSquareMetres = 2;

// A field of the CSV, quoted where a file's name holds a comma, a quote or a
// line end.
std::string CsvField(const std::string& text) {
    if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
    std::string out = "\"";
    for (char c : text) out += c == '"' ? std::string("\"\"") : std::string(1, c);
    return out + '"';
}

}  // namespace

void PointOrigins::AddRun(std::string file, std::size_t firstLine, std::vector<std::uint32_t> rowStarts,
                          std::size_t points) {
    runs_.push_back({std::move(file), points_, firstLine, std::move(rowStarts)});
    points_ += points;
}

PointOrigin PointOrigins::Of(std::size_t point) const {
    const auto run = std::prev(std::upper_bound(runs_.begin(), runs_.end(), point,
                                                [](std::size_t p, const Run& r) { return p < r.firstPoint; }));
    const auto within = static_cast<std::uint32_t>(point - run->firstPoint);
    // A row without points starts where the next does: the last row starting
    // at or before the point holds it.
    const auto row = std::upper_bound(run->rowStarts.begin(), run->rowStarts.end(), within) - run->rowStarts.begin() - 1;
    return {run->file, run->firstLine + static_cast<std::size_t>(row)};
}

std::vector<std::size_t> NearestPoints(const std::vector<DataPoint>& points, const std::vector<Target>& targets) {
    if (targets.empty()) return {};
    const double lat0 = targets.front().lat;
    const double kx = MetresPerDegreeLongitude(lat0), ky = kMetresPerDegree;
    const double lon0 = targets.front().lon;
    auto square = [&](double east, double north) {
        const auto i = static_cast<std::int64_t>(std::floor(east / kNearSquareMetres));
        const auto j = static_cast<std::int64_t>(std::floor(north / kNearSquareMetres));
        return (i << 32) ^ (j & 0xffffffff);
    };
    auto eastOf = [&](double lon) { return (lon - lon0) * kx; };
    auto northOf = [&](double lat) { return (lat - lat0) * ky; };
    // Each target in its square and the eight around: a point within a
    // square's width of it is found from the point's own square.
    std::unordered_map<std::int64_t, std::vector<std::size_t>> near;
    for (std::size_t t = 0; t < targets.size(); ++t)
        for (int di = -1; di <= 1; ++di)
            for (int dj = -1; dj <= 1; ++dj)
                near[square(eastOf(targets[t].lon) + di * kNearSquareMetres,
                            northOf(targets[t].lat) + dj * kNearSquareMetres)]
                    .push_back(t);
    std::vector<std::size_t> best(targets.size(), 0);
    std::vector<double> bestSquared(targets.size(), std::numeric_limits<double>::infinity());
    auto consider = [&](std::size_t t, std::size_t p) {
        const double de = eastOf(points[p].lon) - eastOf(targets[t].lon);
        const double dn = northOf(points[p].lat) - northOf(targets[t].lat);
        const double d = de * de + dn * dn;
        if (d < bestSquared[t]) bestSquared[t] = d, best[t] = p;
    };
    for (std::size_t p = 0; p < points.size(); ++p) {
        const auto found = near.find(square(eastOf(points[p].lon), northOf(points[p].lat)));
        if (found == near.end()) continue;
        for (std::size_t t : found->second) consider(t, p);
    }
    // Farther than a square's width, a nearer point may lie outside the
    // squares looked in: those few targets (over a gap the grid bridged)
    // look at every point.
    for (std::size_t t = 0; t < targets.size(); ++t)
        if (!(bestSquared[t] <= kNearSquareMetres * kNearSquareMetres))
            for (std::size_t p = 0; p < points.size(); ++p) consider(t, p);
    return best;
}

std::vector<std::size_t> PointFileLines(std::string_view bytes, const std::vector<std::size_t>& points) {
    std::vector<std::size_t> order(points.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t a, std::size_t b) { return points[a] < points[b]; });
    std::vector<std::size_t> lines(points.size(), 0);
    // As the reader takes them: the first line is the heading, and a line
    // empty but for its CR holds no point.
    std::size_t line = 1, point = 0, at = bytes.find('\n');
    auto next = order.begin();
    while (at != std::string_view::npos && next != order.end()) {
        const std::size_t start = at + 1;
        if (start >= bytes.size()) break;
        at = bytes.find('\n', start);
        ++line;
        const std::size_t end = at == std::string_view::npos ? bytes.size() : at;
        if (end == start || (end == start + 1 && bytes[start] == '\r')) continue;
        for (; next != order.end() && points[*next] == point; ++next) lines[*next] = line;
        ++point;
    }
    return lines;
}

TargetPicking PickTargets(const Grid& grid, const TargetOptions& options) {
    TargetPicking out;
    std::vector<double> values;
    values.reserve(grid.z.size());
    for (double v : grid.z)
        if (!Grid::Blank(v)) values.push_back(v);
    if (values.empty() || grid.cols < 3 || grid.rows < 3) return out;
    out.median = MedianOf(values);
    const double spread = kMadToSigma * MedianAbsoluteDeviation(values, out.median);
    out.threshold = options.threshold ? *options.threshold : options.robustMultiple * spread;
    if (!(out.threshold > 0)) return out;

    const double dx = grid.xSize * grid.MetresAcross();
    const double dy = grid.ySize * grid.MetresUp();
    const double cell = std::sqrt(dx * dy);
    std::vector<Lobe> positive, negative;
    LobeFinder finder(grid, out.median, dx, dy);
    finder.Find(out.threshold, +1, positive);
    finder.Find(out.threshold, -1, negative);

    // A positive and a negative lobe close together are one dipole: the
    // nearest pairs first, each lobe in one pair at most.
    struct Pairing {
        double distance;
        std::size_t p, n;
    };
    std::vector<Pairing> pairings;
    for (std::size_t p = 0; p < positive.size(); ++p)
        for (std::size_t n = 0; n < negative.size(); ++n) {
            const double d = std::hypot(positive[p].east - negative[n].east, positive[p].north - negative[n].north);
            const double reach = 4 * std::max(HalfPeakRadius(positive[p]), HalfPeakRadius(negative[n])) + cell;
            if (d <= reach) pairings.push_back({d, p, n});
        }
    std::sort(pairings.begin(), pairings.end(), [](const Pairing& a, const Pairing& b) { return a.distance < b.distance; });
    std::vector<int> partner(positive.size(), -1);
    std::vector<bool> paired(negative.size(), false);
    for (const Pairing& pr : pairings)
        if (partner[pr.p] < 0 && !paired[pr.n]) partner[pr.p] = static_cast<int>(pr.n), paired[pr.n] = true;

    auto make = [&](const Lobe& main, double positiveLobe, double negativeLobe) {
        Target t;
        t.x = grid.xLL + main.east / dx * grid.xSize;
        t.y = grid.yLL + main.north / dy * grid.ySize;
        t.peak = main.amplitude;
        t.positiveLobe = positiveLobe;
        t.negativeLobe = negativeLobe;
        t.halfPeakArea = main.halfPeakArea;
        // Under a few nodes across, the half-peak width is the grid's, not the source's.
        const double radius = HalfPeakRadius(main);
        if (radius >= 1.5 * cell) t.depth = std::max(0.0, kDepthPerHalfPeakRadius * radius - options.sensorHeight);
        out.targets.push_back(t);
    };
    // A strong source's field rings it with a broad, weak lobe of the other
    // sign (its far field at a slant), reaching out as the fourth root of
    // its strength; a lone lobe that weak and that broad within that reach
    // of a stronger one is its ring, not a target of its own.
    auto isRing = [&](const Lobe& lobe, const std::vector<Lobe>& others) {
        for (const Lobe& o : others) {
            const double share = std::abs(lobe.amplitude) / std::abs(o.amplitude);
            const double reach = kRingReach * kDepthPerHalfPeakRadius * HalfPeakRadius(o) / std::sqrt(std::sqrt(share));
            if (share <= kRingShare && HalfPeakRadius(lobe) >= kRingBreadth * HalfPeakRadius(o) &&
                std::hypot(o.east - lobe.east, o.north - lobe.north) <= reach + cell)
                return true;
        }
        return false;
    };
    // Of a dipole the positive lobe stands nearer the source at northern
    // inclinations, so it gives the place.
    for (std::size_t p = 0; p < positive.size(); ++p)
        if (partner[p] >= 0 || !isRing(positive[p], negative))
            make(positive[p], positive[p].amplitude, partner[p] >= 0 ? negative[partner[p]].amplitude : 0);
    for (std::size_t n = 0; n < negative.size(); ++n)
        if (!paired[n] && !isRing(negative[n], positive)) make(negative[n], 0, negative[n].amplitude);
    std::stable_sort(out.targets.begin(), out.targets.end(),
                     [](const Target& a, const Target& b) { return std::abs(a.peak) > std::abs(b.peak); });
    for (std::size_t i = 0; i < out.targets.size(); ++i) out.targets[i].number = static_cast<int>(i + 1);
    std::vector<double> lon, lat;
    for (const Target& t : out.targets) lon.push_back(t.x), lat.push_back(t.y);
    if (grid.Metric()) ToLonLat(grid.epsg, lon, lat);
    for (std::size_t i = 0; i < out.targets.size(); ++i) out.targets[i].lon = lon[i], out.targets[i].lat = lat[i];
    return out;
}

std::string TargetsCsv(const TargetPicking& picking) {
    std::string out =
        "number,longitude,latitude,peak_nT_m,positive_lobe_nT_m,negative_lobe_nT_m,half_peak_area_m2,depth_m,survey_file,"
        "line\n";
    for (const Target& t : picking.targets) {
        out += std::to_string(t.number);
        for (double v : {t.lon, t.lat}) out += ',' + FormatFixed(v, 9, 17);
        for (double v : {t.peak, t.positiveLobe, t.negativeLobe}) out += ',' + FormatFixed(v, 2, 17);
        out += ',' + FormatFixed(t.halfPeakArea, 3, 17);
        out += ',' + (t.depth ? FormatFixed(*t.depth, 2, 17) : std::string());
        out += ',' + CsvField(t.nearest.file) + ',' + (t.nearest.line ? std::to_string(t.nearest.line) : std::string());
        out += '\n';
    }
    return out;
}

}  // namespace qgrad
