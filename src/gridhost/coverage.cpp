#include "gridhost/coverage.h"

#include "common/geodesy.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace qgrad {
namespace {

struct Metric {
    double x, y;
};

double Cross(const Metric& o, const Metric& a, const Metric& b) {
    return (a.x - o.x) * (b.y - o.y) - (a.y - o.y) * (b.x - o.x);
}

// The convex hull, counter-clockwise (monotone chain).
std::vector<Metric> Hull(std::vector<Metric> p) {
    std::sort(p.begin(), p.end(), [](const Metric& a, const Metric& b) { return a.x < b.x || (a.x == b.x && a.y < b.y); });
    if (p.size() < 3) return p;
    std::vector<Metric> h(2 * p.size());
    std::size_t k = 0;
    for (std::size_t i = 0; i < p.size(); ++i) {
        while (k >= 2 && Cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    for (std::size_t i = p.size() - 1, t = k + 1; i-- > 0;) {
        while (k >= t && Cross(h[k - 2], h[k - 1], p[i]) <= 0) --k;
        h[k++] = p[i];
    }
    h.resize(k - 1);
    return h;
}

// Where the hull crosses the line y = `y`: the x range inside it, empty
// (first > second) when the line misses it.
std::pair<double, double> HullSpan(const std::vector<Metric>& hull, double y) {
    double lo = std::numeric_limits<double>::infinity(), hi = -lo;
    auto take = [&](double x) { lo = std::min(lo, x), hi = std::max(hi, x); };
    for (std::size_t i = 0; i < hull.size(); ++i) {
        const Metric& a = hull[i];
        const Metric& b = hull[(i + 1) % hull.size()];
        if (y < std::min(a.y, b.y) || y > std::max(a.y, b.y)) continue;
        if (a.y == b.y) {
            take(a.x), take(b.x);
        } else {
            take(a.x + (y - a.y) / (b.y - a.y) * (b.x - a.x));
        }
    }
    return {lo, hi};
}

}  // namespace

Coverage FindCoverage(const std::vector<DataPoint>& points, const CoverageOptions& options) {
    Coverage out;
    if (points.empty() || !(options.gapMetres > 0)) return out;
    double minLon = points[0].lon, maxLon = minLon, minLat = points[0].lat, maxLat = minLat;
    for (const DataPoint& p : points) {
        minLon = std::min(minLon, p.lon), maxLon = std::max(maxLon, p.lon);
        minLat = std::min(minLat, p.lat), maxLat = std::max(maxLat, p.lat);
    }
    const double kx = MetresPerDegreeLongitude((minLat + maxLat) / 2), ky = kMetresPerDegree;
    const double width = (maxLon - minLon) * kx, height = (maxLat - minLat) * ky;
    double cell = options.cellMetres > 0 ? options.cellMetres : options.gapMetres / 4;
    const double cellsAtThatSize = (width / cell + 1) * (height / cell + 1);
    if (cellsAtThatSize > options.maxCells) cell *= std::sqrt(cellsAtThatSize / static_cast<double>(options.maxCells));
    out.cell = cell;
    out.cols = static_cast<int>(width / cell) + 1;
    out.rows = static_cast<int>(height / cell) + 1;
    out.xLL = minLon, out.yLL = minLat;
    out.xSize = cell / kx, out.ySize = cell / ky;

    // Each point marks the cells whose centres it reaches; the hull is that
    // of each raster column's lowest and highest points, which holds them all.
    std::vector<std::uint8_t> covered(static_cast<std::size_t>(out.cols) * out.rows, 0);
    std::vector<Metric> lowest(out.cols, {0, std::numeric_limits<double>::infinity()});
    std::vector<Metric> highest(out.cols, {0, -std::numeric_limits<double>::infinity()});
    const double reach = options.gapMetres, reach2 = reach * reach;
    const int span = static_cast<int>(std::ceil(reach / cell));
    for (const DataPoint& p : points) {
        const Metric m{(p.lon - minLon) * kx, (p.lat - minLat) * ky};
        const int c0 = std::min(out.cols - 1, static_cast<int>(m.x / cell));
        if (m.y < lowest[c0].y) lowest[c0] = m;
        if (m.y > highest[c0].y) highest[c0] = m;
        const int r0 = static_cast<int>(m.y / cell);
        for (int r = std::max(0, r0 - span); r <= std::min(out.rows - 1, r0 + span); ++r) {
            const double dy = (r + 0.5) * cell - m.y;
            if (dy * dy > reach2) continue;
            const double dxMax = std::sqrt(reach2 - dy * dy);
            const int cFrom = std::max(0, static_cast<int>(std::ceil((m.x - dxMax) / cell - 0.5)));
            const int cTo = std::min(out.cols - 1, static_cast<int>(std::floor((m.x + dxMax) / cell - 0.5)));
            if (cFrom <= cTo)
                std::fill(covered.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(r) * out.cols + cFrom),
                          covered.begin() + static_cast<std::ptrdiff_t>(static_cast<std::size_t>(r) * out.cols + cTo + 1),
                          std::uint8_t{1});
        }
    }
    std::vector<Metric> extremes;
    for (int c = 0; c < out.cols; ++c)
        if (std::isfinite(lowest[c].y)) extremes.push_back(lowest[c]), extremes.push_back(highest[c]);
    const std::vector<Metric> hull = Hull(std::move(extremes));

    out.uncovered.assign(covered.size(), 0);
    const double cellArea = cell * cell;
    long long inBlock = 0, open = 0;
    if (hull.size() >= 3)
        for (int r = 0; r < out.rows; ++r) {
            const auto [lo, hi] = HullSpan(hull, (r + 0.5) * cell);
            if (lo > hi) continue;
            const int cFrom = std::max(0, static_cast<int>(std::ceil(lo / cell - 0.5)));
            const int cTo = std::min(out.cols - 1, static_cast<int>(std::floor(hi / cell - 0.5)));
            for (int c = cFrom; c <= cTo; ++c) {
                ++inBlock;
                const std::size_t i = static_cast<std::size_t>(r) * out.cols + c;
                if (!covered[i]) out.uncovered[i] = 1, ++open;
            }
        }
    out.blockArea = inBlock * cellArea;
    out.uncoveredArea = open * cellArea;
    out.coveredArea = out.blockArea - out.uncoveredArea;

    // Whole gaps: 8-connected runs of uncovered cells.
    std::vector<std::uint8_t> seen(covered.size(), 0);
    std::vector<std::pair<int, int>> stack;
    for (int r = 0; r < out.rows; ++r)
        for (int c = 0; c < out.cols; ++c) {
            const std::size_t i0 = static_cast<std::size_t>(r) * out.cols + c;
            if (!out.uncovered[i0] || seen[i0]) continue;
            CoverageGap gap;
            double sumX = 0, sumY = 0;
            stack.assign(1, {c, r});
            seen[i0] = 1;
            while (!stack.empty()) {
                const auto [cc, rr] = stack.back();
                stack.pop_back();
                ++gap.cells, sumX += cc + 0.5, sumY += rr + 0.5;
                for (int dr = -1; dr <= 1; ++dr)
                    for (int dc = -1; dc <= 1; ++dc) {
                        const int nc = cc + dc, nr = rr + dr;
                        if (nc < 0 || nr < 0 || nc >= out.cols || nr >= out.rows) continue;
                        const std::size_t i = static_cast<std::size_t>(nr) * out.cols + nc;
                        if (out.uncovered[i] && !seen[i]) seen[i] = 1, stack.push_back({nc, nr});
                    }
            }
            gap.area = gap.cells * cellArea;
            gap.lon = out.xLL + sumX / gap.cells * out.xSize;
            gap.lat = out.yLL + sumY / gap.cells * out.ySize;
            out.gaps.push_back(gap);
        }
    std::stable_sort(out.gaps.begin(), out.gaps.end(), [](const CoverageGap& a, const CoverageGap& b) { return a.area > b.area; });
    return out;
}

}  // namespace qgrad
