#include "processing/lag.h"

#include "arrange/arrange.h"
#include "common/robuststats.h"
#include "common/timeseries.h"
#include "common/sidebyside.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
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
    double firstSecond, lastSecond;  // times of its first and last readings
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
    std::size_t index = 0;  // among the neighbouring pairs
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

// The common points of two lines along the main direction; empty when they
// share too little.
std::vector<double> PairGrid(const Line& a, const Line& b) {
    std::vector<double> grid;
    const double from = std::max(a.uMin, b.uMin);
    const double to = std::min(a.uMax, b.uMax);
    if (to - from < kMinOverlapMetres) return grid;
    auto spacing = [](const Line& l) { return (l.uMax - l.uMin) / static_cast<double>(l.end - l.begin - 1); };
    const double step = std::max(std::min(spacing(a), spacing(b)), (to - from) / static_cast<double>(kMaxPairPoints));
    for (double u = from; u <= to; u += step) grid.push_back(u);
    return grid;
}

// The times of the line's readings before or after them by at most the search
// and a second, among which the passing times fall: one reading beyond each
// end closes the outermost intervals.
bool NearPassing(double t, double first, double last, double search) {
    return t >= first - search - 1 && t <= last + search + 1;
}

// One line's share of a pair, taken while its survey is at hand: its passing
// times and readings on the pair's points, and its readings that the points
// it keeps within its own span could need at any lag tried.
struct Side {
    bool taken = false;
    std::vector<double> tau, readings;
    std::vector<double> times, values;
};

// Points that every lag tried keeps within the line's readings.
bool InSpan(const Line& line, double tau, double search) {
    return tau >= line.firstSecond + search && tau <= line.lastSecond - search;
}

Side TakeSide(const LagSurvey& s, const Line& line, const std::vector<double>& grid, double ux, double uy,
              double search) {
    Side side;
    side.taken = true;
    side.tau = PassingTimes(s, line, grid, ux, uy, side.readings);
    double first = std::numeric_limits<double>::infinity();
    double last = -first;
    for (const double t : side.tau)
        if (InSpan(line, t, search)) {
            first = std::min(first, t);
            last = std::max(last, t);
        }
    if (first > last) return side;
    for (std::size_t i = line.begin; i < line.end; ++i) {
        const double t = s.seconds[s.rows[line.channel][i]];
        if (!NearPassing(t, first, last, search)) continue;
        side.times.push_back(t);
        side.values.push_back(s.values[line.channel][i]);
    }
    return side;
}

// The line's readings that the pair's points need at any lag tried, of those
// its side kept.
void NeededReadings(const Side& side, const std::vector<double>& tau, double search, std::vector<double>& times,
                    std::vector<double>& values) {
    const auto [first, last] = std::minmax_element(tau.begin(), tau.end());
    for (std::size_t i = 0; i < side.times.size(); ++i) {
        if (!NearPassing(side.times[i], *first, *last, search)) continue;
        times.push_back(side.times[i]);
        values.push_back(side.values[i]);
    }
}

// The pair's points that both lines keep within their spans, scored by how
// strong the features both lines see there are; a score of 0 when they share
// too few.
Pair MakePair(const Line& a, const Side& sa, const Line& b, const Side& sb, double search) {
    Pair pair;
    Moments m;
    for (std::size_t j = 0; j < sa.tau.size(); ++j) {
        if (!(InSpan(a, sa.tau[j], search) && InSpan(b, sb.tau[j], search))) continue;
        pair.tauA.push_back(sa.tau[j]);
        pair.tauB.push_back(sb.tau[j]);
        m.Add(sa.readings[j], sb.readings[j]);
    }
    if (pair.tauA.size() < kMinReadings) return {};
    pair.score = std::min(m.VarA(), m.VarB()) / m.n;
    if (pair.score <= 0) return {};
    NeededReadings(sa, pair.tauA, search, pair.timesA, pair.valuesA);
    NeededReadings(sb, pair.tauB, search, pair.timesB, pair.valuesB);
    return pair;
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

// A climb back up the peak's slope smaller than this share of the peak's
// height is a wiggle of the readings interpolated between lags, no other peak.
constexpr double kWiggle = 0.01;

// How far the curve's highest point stands above its highest other peak,
// as a share of its height over the curve's lowest point; the peak's slopes
// run down from it as far as the curve keeps falling, but for wiggles.
double Prominence(const std::vector<double>& curve, std::size_t best) {
    const double lowest = *std::min_element(curve.begin(), curve.end());
    const double height = curve[best] - lowest;
    if (!(height > 0)) return 0;
    const double wiggle = kWiggle * height;
    // The slope's foot on one side: its lowest point before the curve climbs
    // more than a wiggle above it.
    auto foot = [&](bool rightward) {
        std::size_t at = best;
        for (std::size_t c = best; rightward ? c + 1 < curve.size() : c > 0;) {
            c = rightward ? c + 1 : c - 1;
            if (curve[c] > curve[at] + wiggle) break;
            if (curve[c] <= curve[at]) at = c;
        }
        return at;
    };
    const std::size_t left = foot(false);
    const std::size_t right = foot(true);
    double other = std::max(curve[left], curve[right]);
    for (std::size_t c = 0; c < curve.size(); ++c)
        if (c < left || c > right) other = std::max(other, curve[c]);
    return (curve[best] - other) / height;
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

namespace {

// A sensor line as the first round finds it, before the main direction is
// known: where its sensor was at its first, last and middle readings.
struct LineEnds {
    std::size_t survey, traverse;
    int channel;
    std::size_t begin, end;
    double firstX, firstY, lastX, lastY, middleX, middleY;
    double firstSecond, lastSecond;
};

// A straight traverse: from its first fix to its last, and its sensors'
// lines [firstLine, endLine) of those found.
struct TraverseEnds {
    double dx, dy;
    std::size_t firstLine, endLine;
};

// A pair of neighbouring lines waiting for the surveys of both.
struct PairToTake {
    std::size_t a, b;
    Side sideA, sideB;
};

// What the choice of pairs needs to know of every pair made.
struct PairScore {
    std::size_t index;
    double score;
    std::size_t points;
};

// The normalised cross-correlation of the pairs, in their order, at each lag:
// the mean of the pairs' own, weighted by their points.
LagEstimate Correlate(const std::vector<Pair>& pairs, const LagSettings& settings) {
    LagEstimate estimate;
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
    // Each pair's own correlation, weighted by its points: pooled sums would
    // let the one line that passes right over a shallow dipole, thousands of
    // nT/m, outweigh every other pair, and a line half a sensor spacing aside
    // sees such a dipole's side lobe, of either sign.
    auto tryLags = [&](std::size_t from, std::size_t to) {
        std::vector<double> sum(to - from, 0), weight(to - from, 0);
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
                const double variances = m[c].VarA() * m[c].VarB();
                if (!(variances > 0)) continue;
                sum[c] += m[c].n * m[c].Cov() / std::sqrt(variances);
                weight[c] += m[c].n;
            }
        }
        for (std::size_t c = from; c < to; ++c) {
            const std::size_t i = c - from;
            correlation[c] = weight[i] > 0 ? sum[i] / weight[i] : 0;
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

}  // namespace

struct LagEstimator::State {
    LagSettings settings;
    TurnSettings turns;
    // The first round.
    std::size_t surveysLined = 0;
    std::vector<TraverseEnds> traverses;
    std::vector<LineEnds> ends;
    // The second.
    bool planned = false;
    std::size_t surveysRead = 0;
    double ux = 1, uy = 0;
    std::vector<Line> lines;
    std::vector<PairToTake> waiting;  // their sides let go once both came
    std::vector<PairScore> scores;
    std::vector<Pair> kept;

    // The main direction, the lines along it and their neighbouring pairs.
    void Plan();
    void Keep(PairToTake& p, std::size_t index);
    void DropOutranked();
};

void LagEstimator::State::Plan() {
    planned = true;
    // The main direction: that of the longest traverse.
    double longest = 0;
    for (const TraverseEnds& t : traverses) {
        const double length = std::hypot(t.dx, t.dy);
        if (length > longest) {
            longest = length;
            ux = t.dx / length;
            uy = t.dy / length;
        }
    }
    const double minCos = std::cos(kMaxSkewDegrees * std::numbers::pi / 180);
    for (const TraverseEnds& t : traverses) {
        const double length = std::hypot(t.dx, t.dy);
        const double cosine = length > 0 ? (t.dx * ux + t.dy * uy) / length : 0;
        if (std::abs(cosine) < minCos) continue;
        for (std::size_t e = t.firstLine; e < t.endLine; ++e) {
            const LineEnds& l = ends[e];
            const double u0 = l.firstX * ux + l.firstY * uy;
            const double u1 = l.lastX * ux + l.lastY * uy;
            lines.push_back({l.survey, l.traverse, l.channel, l.begin, l.end, cosine > 0, ux * l.middleY - uy * l.middleX,
                             std::min(u0, u1), std::max(u0, u1), l.firstSecond, l.lastSecond});
        }
    }
    std::vector<std::pair<std::size_t, std::size_t>> neighbours = NeighbourPairs(lines);
    KeepSameGround(lines, neighbours);
    for (const auto& [a, b] : neighbours) waiting.push_back({a, b, {}, {}});
    traverses = {};
    ends = {};
}

void LagEstimator::State::Keep(PairToTake& p, std::size_t index) {
    Pair pair = MakePair(lines[p.a], p.sideA, lines[p.b], p.sideB, settings.searchSeconds);
    p.sideA = {};
    p.sideB = {};
    if (pair.score <= 0) return;
    pair.index = index;
    scores.push_back({index, pair.score, pair.tauA.size()});
    kept.push_back(std::move(pair));
}

// Pairs are taken best score first while fewer points than the budget are
// taken, so a pair outranked by pairs of that many points is never taken,
// whatever comes after.
void LagEstimator::State::DropOutranked() {
    std::sort(kept.begin(), kept.end(), [](const Pair& x, const Pair& y) { return x.score > y.score; });
    std::size_t i = 0;
    std::size_t better = 0;
    while (i < kept.size() && better < kPointBudget) {
        const double score = kept[i].score;
        for (; i < kept.size() && kept[i].score == score; ++i) better += kept[i].tauA.size();
    }
    kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(i), kept.end());
}

LagEstimator::LagEstimator(const LagSettings& settings, const TurnSettings& turns) : state_(std::make_unique<State>()) {
    state_->settings = settings;
    state_->turns = turns;
}

LagEstimator::~LagEstimator() = default;

void LagEstimator::AddLines(const LagSurvey& s) {
    State& st = *state_;
    const std::size_t survey = st.surveysLined++;
    // Only the straight part of each traverse: in a turn the sensors sweep
    // across, and heading error changes with the course.
    for (const Traverse& t : SplitTraverses(s.fixes, st.turns)) {
        if (t.straightEnd <= t.straightBegin) continue;
        const std::size_t first = t.straightBegin;
        const std::size_t last = t.straightEnd - 1;
        TraverseEnds traverse{s.fixes.x[last] - s.fixes.x[first], s.fixes.y[last] - s.fixes.y[first], st.ends.size(), 0};
        for (int k = 0; k < kChannels; ++k) {
            const std::vector<std::uint32_t>& rows = s.rows[k];
            const std::size_t begin = static_cast<std::size_t>(
                std::lower_bound(rows.begin(), rows.end(), static_cast<std::uint32_t>(first)) - rows.begin());
            const std::size_t end = static_cast<std::size_t>(
                std::upper_bound(rows.begin(), rows.end(), static_cast<std::uint32_t>(last)) - rows.begin());
            if (end - begin < kMinReadings) continue;
            const auto [x0, y0] = SensorAt(s, k, rows[begin]);
            const auto [x1, y1] = SensorAt(s, k, rows[end - 1]);
            const auto [xm, ym] = SensorAt(s, k, rows[(begin + end) / 2]);
            st.ends.push_back({survey, st.traverses.size(), k, begin, end, x0, y0, x1, y1, xm, ym,
                               s.seconds[rows[begin]], s.seconds[rows[end - 1]]});
        }
        traverse.endLine = st.ends.size();
        st.traverses.push_back(traverse);
    }
}

void LagEstimator::AddReadings(const LagSurvey& s) {
    State& st = *state_;
    if (!st.planned) st.Plan();
    const std::size_t survey = st.surveysRead++;
    const double search = st.settings.searchSeconds;
    for (std::size_t i = 0; i < st.waiting.size(); ++i) {
        PairToTake& p = st.waiting[i];
        const Line& a = st.lines[p.a];
        const Line& b = st.lines[p.b];
        if (a.survey != survey && b.survey != survey) continue;
        const std::vector<double> grid = PairGrid(a, b);
        if (grid.empty()) continue;
        if (a.survey == survey) p.sideA = TakeSide(s, a, grid, st.ux, st.uy, search);
        if (b.survey == survey) p.sideB = TakeSide(s, b, grid, st.ux, st.uy, search);
        if (p.sideA.taken && p.sideB.taken) st.Keep(p, i);
    }
    st.DropOutranked();
}

LagEstimate LagEstimator::Finish() {
    State& st = *state_;
    if (!st.planned) st.Plan();
    if (st.surveysRead != st.surveysLined)
        throw std::logic_error("the lag's readings came from " + std::to_string(st.surveysRead) + " surveys, its lines from " +
                               std::to_string(st.surveysLined));
    // The pairs in their neighbouring order, sorted by score as a whole, so
    // that pairs of equal score fall as they would with all pairs at hand.
    std::sort(st.scores.begin(), st.scores.end(), [](const PairScore& x, const PairScore& y) { return x.index < y.index; });
    std::vector<std::size_t> order(st.scores.size());
    for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::sort(order.begin(), order.end(),
              [&](std::size_t x, std::size_t y) { return st.scores[x].score > st.scores[y].score; });
    std::sort(st.kept.begin(), st.kept.end(), [](const Pair& x, const Pair& y) { return x.index < y.index; });
    std::vector<Pair> used;
    std::size_t points = 0;
    for (std::size_t o = 0; o < order.size() && points < kPointBudget; ++o) {
        const PairScore& chosen = st.scores[order[o]];
        const auto at = std::lower_bound(st.kept.begin(), st.kept.end(), chosen.index,
                                         [](const Pair& p, std::size_t index) { return p.index < index; });
        points += chosen.points;
        used.push_back(std::move(*at));
    }
    return Correlate(used, st.settings);
}

LagEstimate EstimateLag(const std::vector<LagSurvey>& surveys, const LagSettings& settings, const TurnSettings& turns) {
    LagEstimator estimator(settings, turns);
    for (const LagSurvey& s : surveys) estimator.AddLines(s);
    for (const LagSurvey& s : surveys) estimator.AddReadings(s);
    return estimator.Finish();
}

}  // namespace qgrad
