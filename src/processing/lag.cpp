#include "processing/lag.h"

#include "arrange/arrange.h"
#include "common/robuststats.h"
#include "common/timeseries.h"
#include "common/sidebyside.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numbers>
#include <utility>

namespace qgrad {
namespace {

// Opposite traverses further apart than this do not see the same features.
constexpr double kNeighbourMetres = 3;
// The shortest stretch two traverses must share to be compared.
constexpr double kMinOverlapMetres = 2;
constexpr std::size_t kMinReadings = 8;
// Traverses at more than this angle to the survey's main direction are cross
// lines and take no part.
constexpr double kMaxSkewDegrees = 45;
// Common points per pair, and over all pairs: the pairs with the strongest
// features are taken first, enough of them to settle the lag, few enough to
// try every lag quickly.
constexpr std::size_t kMaxPairPoints = 4096;
constexpr std::size_t kPointBudget = std::size_t{1} << 16;

// One sensor's traverse: readings [begin, end) of its channel.
struct Line {
    std::size_t survey;
    std::size_t traverse;  // among all surveys' traverses
    int channel;
    std::size_t begin, end;
    bool forward;  // walked along the main direction
    double cross;  // offset across the main direction
    double uMin, uMax;  // extent along it
};

// Where channel k's sensor was at data row r, metres east and north.
std::pair<double, double> SensorAt(const LagSurvey& s, int k, std::size_t r) {
    double x = s.fixes.x[r] + s.offsetX[k];
    double y = s.fixes.y[r] + s.offsetY[k];
    if (!s.courseX.empty()) {
        x += s.right[k] * s.courseY[r] - s.behind[k] * s.courseX[r];
        y -= s.right[k] * s.courseX[r] + s.behind[k] * s.courseY[r];
    }
    return {x, y};
}

// Position along the main direction (ux, uy) of reading i of a channel.
double Along(const LagSurvey& s, int k, std::size_t i, double ux, double uy) {
    const auto [x, y] = SensorAt(s, k, s.rows[k][i]);
    return x * ux + y * uy;
}

// A pair of opposite traverses on common points u_j along the main
// direction: the time each line's sensor passed each point, and the readings
// around those times.
struct Pair {
    std::vector<double> tauA, tauB;
    std::vector<double> timesA, valuesA, timesB, valuesB;
    double score = 0;
};

// The times at which `line` passed the points `grid` (rising), from its
// readings ordered along the main direction, and its reading there at lag 0;
// NaN outside its readings.
std::vector<double> PassingTimes(const LagSurvey& s, const Line& line, const std::vector<double>& grid, double ux,
                                 double uy, std::vector<double>& readings) {
    const std::size_t n = line.end - line.begin;
    // Reading number m along the main direction.
    auto reading = [&](std::size_t m) { return line.forward ? line.begin + m : line.end - 1 - m; };
    auto along = [&](std::size_t m) { return Along(s, line.channel, reading(m), ux, uy); };
    auto time = [&](std::size_t m) { return s.seconds[s.rows[line.channel][reading(m)]]; };
    auto value = [&](std::size_t m) { return s.values[line.channel][reading(m)]; };
    std::vector<double> tau(grid.size(), std::nan(""));
    readings.assign(grid.size(), std::nan(""));
    std::size_t m = 0;
    for (std::size_t j = 0; j < grid.size(); ++j) {
        while (m + 2 < n && along(m + 1) <= grid[j]) ++m;
        const double u0 = along(m);
        const double u1 = along(m + 1);
        if (grid[j] < u0 || grid[j] > u1 || u1 <= u0) continue;
        const double f = (grid[j] - u0) / (u1 - u0);
        tau[j] = time(m) + f * (time(m + 1) - time(m));
        readings[j] = value(m) + f * (value(m + 1) - value(m));
    }
    return tau;
}

// Sums of one pair or of many, for their correlation.
struct Moments {
    double n = 0, a = 0, b = 0, aa = 0, bb = 0, ab = 0;

    void Add(double x, double y) {
        n += 1;
        a += x;
        b += y;
        aa += x * x;
        bb += y * y;
        ab += x * y;
    }
    double VarA() const { return n > 0 ? aa - a * a / n : 0; }
    double VarB() const { return n > 0 ? bb - b * b / n : 0; }
    double Cov() const { return n > 0 ? ab - a * b / n : 0; }
};

// The pair's common points, scored by how strong the features both lines
// see there are; empty when they share too little.
Pair MakePair(const std::vector<LagSurvey>& surveys, const Line& a, const Line& b, double ux, double uy,
              double search) {
    Pair pair;
    const double from = std::max(a.uMin, b.uMin);
    const double to = std::min(a.uMax, b.uMax);
    if (to - from < kMinOverlapMetres) return pair;
    const LagSurvey& sa = surveys[a.survey];
    const LagSurvey& sb = surveys[b.survey];
    auto spacing = [](const Line& l) { return (l.uMax - l.uMin) / static_cast<double>(l.end - l.begin - 1); };
    const double step = std::max(std::min(spacing(a), spacing(b)), (to - from) / static_cast<double>(kMaxPairPoints));
    std::vector<double> grid;
    for (double u = from; u <= to; u += step) grid.push_back(u);
    std::vector<double> readingsA, readingsB;
    const std::vector<double> tauA = PassingTimes(sa, a, grid, ux, uy, readingsA);
    const std::vector<double> tauB = PassingTimes(sb, b, grid, ux, uy, readingsB);
    // Only points that every lag tried keeps within both lines' readings.
    auto span = [&](const LagSurvey& s, const Line& l) {
        return std::pair(s.seconds[s.rows[l.channel][l.begin]] + search, s.seconds[s.rows[l.channel][l.end - 1]] - search);
    };
    const auto [aFirst, aLast] = span(sa, a);
    const auto [bFirst, bLast] = span(sb, b);
    Moments m;
    for (std::size_t j = 0; j < grid.size(); ++j) {
        if (!(tauA[j] >= aFirst && tauA[j] <= aLast && tauB[j] >= bFirst && tauB[j] <= bLast)) continue;
        pair.tauA.push_back(tauA[j]);
        pair.tauB.push_back(tauB[j]);
        m.Add(readingsA[j], readingsB[j]);
    }
    if (pair.tauA.size() < kMinReadings) pair.tauA.clear();
    else pair.score = std::min(m.VarA(), m.VarB()) / m.n;
    return pair;
}

// The line's readings that the pair's points need at any lag tried.
void NeededReadings(const LagSurvey& s, const Line& line, const std::vector<double>& tau, double search,
                    std::vector<double>& times, std::vector<double>& values) {
    const auto [first, last] = std::minmax_element(tau.begin(), tau.end());
    for (std::size_t i = line.begin; i < line.end; ++i) {
        const double t = s.seconds[s.rows[line.channel][i]];
        // One reading beyond each end closes the outermost intervals.
        if (t < *first - search - 1 || t > *last + search + 1) continue;
        times.push_back(t);
        values.push_back(s.values[line.channel][i]);
    }
}

std::vector<Line> SensorLines(const std::vector<LagSurvey>& surveys, const TurnSettings& turns, double& ux,
                              double& uy) {
    struct Rows {
        std::size_t survey, first, last;
    };
    std::vector<Rows> traverses;
    for (std::size_t s = 0; s < surveys.size(); ++s) {
        // Only the straight part of each traverse: in a turn the sensors
        // sweep across, and heading error changes with the course.
        for (const Traverse& t : SplitTraverses(surveys[s].fixes, turns))
            if (t.straightEnd > t.straightBegin) traverses.push_back({s, t.straightBegin, t.straightEnd - 1});
    }
    // The main direction: that of the longest traverse.
    double longest = 0;
    ux = 1;
    uy = 0;
    for (const Rows& t : traverses) {
        const TrackXY& f = surveys[t.survey].fixes;
        const double dx = f.x[t.last] - f.x[t.first];
        const double dy = f.y[t.last] - f.y[t.first];
        const double length = std::hypot(dx, dy);
        if (length > longest) {
            longest = length;
            ux = dx / length;
            uy = dy / length;
        }
    }
    const double minCos = std::cos(kMaxSkewDegrees * std::numbers::pi / 180);
    std::vector<Line> lines;
    for (std::size_t ti = 0; ti < traverses.size(); ++ti) {
        const Rows& t = traverses[ti];
        const LagSurvey& s = surveys[t.survey];
        const double dx = s.fixes.x[t.last] - s.fixes.x[t.first];
        const double dy = s.fixes.y[t.last] - s.fixes.y[t.first];
        const double length = std::hypot(dx, dy);
        const double cosine = length > 0 ? (dx * ux + dy * uy) / length : 0;
        if (std::abs(cosine) < minCos) continue;
        for (int k = 0; k < kChannels; ++k) {
            const std::vector<std::uint32_t>& rows = s.rows[k];
            const std::size_t begin = static_cast<std::size_t>(
                std::lower_bound(rows.begin(), rows.end(), static_cast<std::uint32_t>(t.first)) - rows.begin());
            const std::size_t end = static_cast<std::size_t>(
                std::upper_bound(rows.begin(), rows.end(), static_cast<std::uint32_t>(t.last)) - rows.begin());
            if (end - begin < kMinReadings) continue;
            Line line{t.survey, ti, k, begin, end, cosine > 0, 0, 0, 0};
            const double u0 = Along(s, k, begin, ux, uy);
            const double u1 = Along(s, k, end - 1, ux, uy);
            line.uMin = std::min(u0, u1);
            line.uMax = std::max(u0, u1);
            const auto [x, y] = SensorAt(s, k, rows[(begin + end) / 2]);
            line.cross = ux * y - uy * x;
            lines.push_back(line);
        }
    }
    return lines;
}

// Each line with the nearest line walked the other way alongside it that
// shares enough of its extent; each pair once.
std::vector<std::pair<std::size_t, std::size_t>> NeighbourPairs(const std::vector<Line>& lines) {
    std::vector<std::size_t> order(lines.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return lines[x].cross < lines[y].cross; });
    std::vector<std::pair<std::size_t, std::size_t>> pairs;
    for (std::size_t o = 0; o < order.size(); ++o) {
        const Line& line = lines[order[o]];
        std::size_t best = order.size();
        double bestGap = kNeighbourMetres;
        auto consider = [&](std::size_t q) {
            const Line& other = lines[order[q]];
            const double gap = std::abs(other.cross - line.cross);
            if (other.forward == line.forward || gap > bestGap) return;
            if (std::min(line.uMax, other.uMax) - std::max(line.uMin, other.uMin) < kMinOverlapMetres) return;
            best = q;
            bestGap = gap;
        };
        for (std::size_t q = o + 1; q < order.size() && lines[order[q]].cross - line.cross <= bestGap; ++q) consider(q);
        for (std::size_t q = o; q-- > 0 && line.cross - lines[order[q]].cross <= bestGap;) consider(q);
        if (best == order.size()) continue;
        // Forward line first, so that each pair is found once from either side.
        const std::size_t x = order[o];
        const std::size_t y = order[best];
        pairs.push_back(line.forward ? std::pair(x, y) : std::pair(y, x));
    }
    std::sort(pairs.begin(), pairs.end());
    pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
    return pairs;
}

// The spacing of the sensors across the course: the median gap between
// neighbouring lines of one traverse; 0 with one sensor.
double SensorSpacing(const std::vector<Line>& lines) {
    std::vector<double> gaps;
    for (std::size_t i = 0; i < lines.size();) {
        std::size_t j = i;
        std::vector<double> cross;
        for (; j < lines.size() && lines[j].traverse == lines[i].traverse; ++j) cross.push_back(lines[j].cross);
        std::sort(cross.begin(), cross.end());
        for (std::size_t c = 1; c < cross.size(); ++c) gaps.push_back(cross[c] - cross[c - 1]);
        i = j;
    }
    return gaps.empty() ? 0 : MedianOf(gaps);
}

// Of each two traverses, the pairs within half the sensor spacing of their
// nearest pair.
void KeepSameGround(const std::vector<Line>& lines, std::vector<std::pair<std::size_t, std::size_t>>& pairs) {
    const double tolerance = SensorSpacing(lines) / 2;
    auto gap = [&](const std::pair<std::size_t, std::size_t>& p) {
        return std::abs(lines[p.first].cross - lines[p.second].cross);
    };
    auto traverses = [&](const std::pair<std::size_t, std::size_t>& p) {
        return std::pair(lines[p.first].traverse, lines[p.second].traverse);
    };
    std::map<std::pair<std::size_t, std::size_t>, double> nearest;
    for (const auto& p : pairs) {
        const auto [at, fresh] = nearest.try_emplace(traverses(p), gap(p));
        if (!fresh) at->second = std::min(at->second, gap(p));
    }
    std::erase_if(pairs, [&](const auto& p) { return gap(p) > nearest[traverses(p)] + tolerance; });
}

// How far the curve's highest point stands above its highest other peak,
// as a share of its height over the curve's lowest point; the peak's slopes
// run down from it as far as the curve keeps falling.
double Prominence(const std::vector<double>& curve, std::size_t best) {
    std::size_t left = best, right = best;
    while (left > 0 && curve[left - 1] <= curve[left]) --left;
    while (right + 1 < curve.size() && curve[right + 1] <= curve[right]) ++right;
    const double lowest = *std::min_element(curve.begin(), curve.end());
    double other = std::max(curve[left], curve[right]);
    for (std::size_t c = 0; c < curve.size(); ++c)
        if (c < left || c > right) other = std::max(other, curve[c]);
    const double height = curve[best] - lowest;
    return height > 0 ? (curve[best] - other) / height : 0;
}

}  // namespace

namespace {

// The survey's times, fixes and sensor offsets; its readings and their rows
// are left to the caller.
LagSurvey LagSurveyTrack(const RowFixes& fixes, const SurveyGeometry& geometry, const ArrangedPoints& points,
                         const ChannelPoints& index, const LocalFrame& frame, OffsetConversion conversion) {
    LagSurvey s;
    s.seconds = fixes.seconds;
    const std::vector<double>& lat = fixes.lat;
    const std::vector<double>& lon = fixes.lon;
    s.fixes.x.resize(lat.size());
    s.fixes.y.resize(lat.size());
    for (std::size_t r = 0; r < lat.size(); ++r) {
        s.fixes.x[r] = frame.East(geometry.longitudeSign * lon[r]);
        s.fixes.y[r] = frame.North(geometry.latitudeSign * lat[r]);
    }
    if (conversion == OffsetConversion::Exact) {
        // The sensors turn with the course, as the exact conversion placed them.
        CourseAtFixes(geometry, fixes, s.courseX, s.courseY);
        s.right = geometry.offsetX;
        s.behind = geometry.offsetY;
        return s;
    }
    for (int k = 0; k < kChannels; ++k) {
        const std::vector<std::uint32_t>& ps = index.point[k];
        if (ps.empty()) continue;
        // The arrangement places a row from the next row's fix (the last row
        // from its own); the sensor's offset is the same on every row.
        const std::size_t r = index.row[k][0];
        const std::size_t placing = std::min(r + 1, lat.size() - 1);
        s.offsetX[k] = frame.East(points.lon(ps[0])) - s.fixes.x[placing];
        s.offsetY[k] = frame.North(points.lat(ps[0])) - s.fixes.y[placing];
    }
    return s;
}

}  // namespace

LagSurvey MakeLagSurvey(const RowFixes& fixes, const SurveyGeometry& geometry, const ArrangedPoints& points,
                        const ChannelPoints& index, const LocalFrame& frame, OffsetConversion conversion) {
    LagSurvey s = LagSurveyTrack(fixes, geometry, points, index, frame, conversion);
    GatherByChannel(index, [&](std::size_t p) { return points.value(PointTable::Gradient, p); }, s.values);
    s.rows = index.row;
    return s;
}

LagEstimate EstimateSurveyLag(const RowFixes& fixes, const SurveyGeometry& geometry, const ArrangedPoints& points,
                              ChannelPoints& index, PerChannel& gradients, OffsetConversion conversion,
                              const LagSettings& settings, const TurnSettings& turns) {
    std::vector<LagSurvey> surveys;
    surveys.push_back(
        LagSurveyTrack(fixes, geometry, points, index, LocalFrame(points.lon(0), points.lat(0)), conversion));
    LagSurvey& s = surveys.front();
    s.rows = std::move(index.row);
    s.values = std::move(gradients);
    auto giveBack = [&] {
        index.row = std::move(s.rows);
        gradients = std::move(s.values);
    };
    try {
        const LagEstimate estimate = EstimateLag(surveys, settings, turns);
        giveBack();
        return estimate;
    } catch (...) {
        giveBack();
        throw;
    }
}

LagEstimate EstimateLag(const std::vector<LagSurvey>& surveys, const LagSettings& settings, const TurnSettings& turns) {
    LagEstimate estimate;
    double ux = 1;
    double uy = 0;
    const std::vector<Line> lines = SensorLines(surveys, turns, ux, uy);
    std::vector<Pair> pairs;
    std::vector<std::pair<std::size_t, std::size_t>> pairLines;
    std::vector<std::pair<std::size_t, std::size_t>> neighbours = NeighbourPairs(lines);
    KeepSameGround(lines, neighbours);
    for (const auto& [a, b] : neighbours) {
        Pair p = MakePair(surveys, lines[a], lines[b], ux, uy, settings.searchSeconds);
        if (p.score <= 0) continue;
        pairs.push_back(std::move(p));
        pairLines.emplace_back(a, b);
    }
    std::vector<std::size_t> order(pairs.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(), [&](std::size_t x, std::size_t y) { return pairs[x].score > pairs[y].score; });
    std::vector<Pair> used;
    std::size_t points = 0;
    for (std::size_t o = 0; o < order.size() && points < kPointBudget; ++o) {
        Pair& p = pairs[order[o]];
        const Line& a = lines[pairLines[order[o]].first];
        const Line& b = lines[pairLines[order[o]].second];
        NeededReadings(surveys[a.survey], a, p.tauA, settings.searchSeconds, p.timesA, p.valuesA);
        NeededReadings(surveys[b.survey], b, p.tauB, settings.searchSeconds, p.timesB, p.valuesB);
        points += p.tauA.size();
        used.push_back(std::move(p));
    }
    pairs = std::move(used);
    estimate.pairs = pairs.size();
    if (pairs.empty()) return estimate;

    const long steps = std::lround(settings.searchSeconds / settings.stepSeconds);
    const std::size_t count = static_cast<std::size_t>(2 * steps + 1);
    std::vector<double> correlation(count, 0);
    // Pair by pair, point by point, every lag of the half: the readings
    // around a point at all the lags lie within a few seconds, so each
    // cursor takes a step now and then instead of crossing the whole pair
    // again for each lag. Each lag's sums still add the points, then the
    // pairs, in their order.
    auto tryLags = [&](std::size_t from, std::size_t to) {
        std::vector<double> cov(to - from, 0), varA(to - from, 0), varB(to - from, 0);
        std::vector<Moments> m(to - from);
        for (const Pair& p : pairs) {
            TimeSeriesCursor a(p.timesA);
            TimeSeriesCursor b(p.timesB);
            std::fill(m.begin(), m.end(), Moments{});
            for (std::size_t j = 0; j < p.tauA.size(); ++j)
                for (std::size_t c = from; c < to; ++c) {
                    const double lag = static_cast<double>(static_cast<long>(c) - steps) * settings.stepSeconds;
                    m[c - from].Add(a.Find(p.tauA[j] - lag).Of(p.valuesA), b.Find(p.tauB[j] - lag).Of(p.valuesB));
                }
            for (std::size_t c = 0; c < m.size(); ++c) {
                cov[c] += m[c].Cov();
                varA[c] += m[c].VarA();
                varB[c] += m[c].VarB();
            }
        }
        for (std::size_t c = from; c < to; ++c) {
            const std::size_t i = c - from;
            correlation[c] = varA[i] > 0 && varB[i] > 0 ? cov[i] / std::sqrt(varA[i] * varB[i]) : 0;
        }
    };
    RunSideBySide([&] { tryLags(count / 2, count); }, [&] { tryLags(0, count / 2); });
    // The first of equal maxima from the middle out: the smallest lag.
    std::size_t best = static_cast<std::size_t>(steps);
    for (std::size_t d = 1; d <= static_cast<std::size_t>(steps); ++d)
        for (const std::size_t c : {static_cast<std::size_t>(steps) - d, static_cast<std::size_t>(steps) + d})
            if (correlation[c] > correlation[best]) best = c;
    estimate.best = static_cast<double>(static_cast<long>(best) - steps) * settings.stepSeconds;
    estimate.correlation = correlation[best];
    estimate.prominence = Prominence(correlation, best);
    // A peak at the end of the search may be the slope of one beyond it.
    const bool inside = best > 0 && best + 1 < count;
    estimate.reliable = inside && estimate.correlation > 0 && estimate.prominence >= settings.minProminence;
    estimate.seconds = estimate.reliable ? estimate.best : 0;
    return estimate;
}

}  // namespace qgrad
