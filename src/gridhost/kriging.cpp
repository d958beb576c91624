#include "gridhost/kriging.h"

#include "common/geodesy.h"
#include "common/numtext.h"

#include <Eigen/Dense>
#include <nanoflann.hpp>

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <future>
#include <limits>
#include <memory>
#include <mutex>
#include <numbers>
#include <numeric>
#include <utility>

namespace qgrad {
namespace {

constexpr std::size_t kMaxCandidates = 256;
// Rows a thread takes at a time, and the factorisations it keeps: enough for
// the node above and the node to the left of each node in its band.
constexpr int kBandRows = 16;
constexpr std::size_t kSharedSystems = 2 * kBandRows;

struct PlanePoints {
    std::vector<double> x, y, z;
    std::size_t kdtree_get_point_count() const { return x.size(); }
    double kdtree_get_pt(std::size_t i, std::size_t dim) const { return dim == 0 ? x[i] : y[i]; }
    template <class Box>
    bool kdtree_get_bbox(Box&) const {
        return false;
    }
};

using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, PlanePoints>, PlanePoints, 2,
                                                 std::uint32_t>;

using PlanePoint = std::array<double, 2>;

double Cross(const PlanePoint& o, const PlanePoint& a, const PlanePoint& b) {
    return (a[0] - o[0]) * (b[1] - o[1]) - (a[1] - o[1]) * (b[0] - o[0]);
}

// Andrew's monotone chain; counter-clockwise, without repeated points.
std::vector<PlanePoint> MonotoneChain(std::vector<PlanePoint> pts) {
    std::sort(pts.begin(), pts.end());
    pts.erase(std::unique(pts.begin(), pts.end()), pts.end());
    if (pts.size() < 3) return pts;
    std::vector<PlanePoint> hull(2 * pts.size());
    std::size_t k = 0;
    for (const auto& q : pts) {
        while (k >= 2 && Cross(hull[k - 2], hull[k - 1], q) <= 0) --k;
        hull[k++] = q;
    }
    for (std::size_t i = pts.size() - 1, lower = k + 1; i-- > 0;) {
        while (k >= lower && Cross(hull[k - 2], hull[k - 1], pts[i]) <= 0) --k;
        hull[k++] = pts[i];
    }
    hull.resize(k - 1);
    return hull;
}

// The points that can be corners of the hull: all but those well inside
// the polygon of the extreme points (least and greatest x, y, x + y and
// x - y). Those are nearly all of a survey's points, spared the sort; the
// margin, far above rounding, keeps every point near an edge.
std::vector<PlanePoint> HullCandidates(const PlanePoints& p) {
    const std::size_t n = p.x.size();
    const auto key = [&](std::size_t i, int k) {
        const double x = p.x[i], y = p.y[i];
        const double keys[] = {x, y, x + y, x - y};
        return keys[k];
    };
    std::array<std::size_t, 8> extreme{};
    for (std::size_t i = 1; i < n; ++i)
        for (int k = 0; k < 4; ++k) {
            if (key(i, k) < key(extreme[2 * k], k)) extreme[2 * k] = i;
            if (key(i, k) > key(extreme[2 * k + 1], k)) extreme[2 * k + 1] = i;
        }
    std::vector<PlanePoint> corners;
    double extent = 0;
    for (std::size_t i : extreme) {
        corners.push_back({p.x[i], p.y[i]});
        extent = std::max({extent, std::fabs(p.x[i]), std::fabs(p.y[i])});
    }
    const std::vector<PlanePoint> polygon = MonotoneChain(corners);
    const double margin = 1e-9 * extent * extent;
    std::vector<PlanePoint> candidates;
    for (std::size_t i = 0; i < n; ++i) {
        const PlanePoint q{p.x[i], p.y[i]};
        bool inside = polygon.size() >= 3;
        for (std::size_t e = 0; inside && e < polygon.size(); ++e)
            inside = Cross(polygon[e], polygon[(e + 1) % polygon.size()], q) > margin;
        if (!inside) candidates.push_back(q);
    }
    return candidates;
}

std::vector<PlanePoint> ConvexHull(const PlanePoints& p) { return MonotoneChain(HullCandidates(p)); }

// The area a counter-clockwise hull encloses (the shoelace formula).
double HullArea(const std::vector<PlanePoint>& hull) {
    double twice = 0;
    for (std::size_t i = 0; i < hull.size(); ++i) {
        const auto& a = hull[i];
        const auto& b = hull[(i + 1) % hull.size()];
        twice += a[0] * b[1] - b[0] * a[1];
    }
    return twice / 2;
}

// Where the horizontal line at y crosses the hull: [left, right], or an
// empty interval.
std::pair<double, double> HullSpan(const std::vector<PlanePoint>& hull, double y, double tolerance) {
    double left = std::numeric_limits<double>::infinity();
    double right = -left;
    for (std::size_t i = 0; i < hull.size(); ++i) {
        const auto& a = hull[i];
        const auto& b = hull[(i + 1) % hull.size()];
        const double lo = std::min(a[1], b[1]) - tolerance;
        const double hi = std::max(a[1], b[1]) + tolerance;
        if (y < lo || y > hi) continue;
        if (std::fabs(b[1] - a[1]) <= tolerance) {
            left = std::min({left, a[0], b[0]});
            right = std::max({right, a[0], b[0]});
        } else {
            const double t = std::clamp((y - a[1]) / (b[1] - a[1]), 0.0, 1.0);
            const double x = a[0] + t * (b[0] - a[0]);
            left = std::min(left, x);
            right = std::max(right, x);
        }
    }
    return {left - tolerance, right + tolerance};
}

// The lag between two points of the plane. Over any field a cart covers the
// squares neither overflow nor underflow, and the plain root is several
// times cheaper than std::hypot.
double Lag(double dx, double dy) { return std::sqrt(dx * dx + dy * dy); }

// The left side of the ordinary kriging system for the neighbours `idx`:
// their variogram among themselves, bordered by the unbiasedness row.
void FillSystem(const PlanePoints& p, const std::vector<std::uint32_t>& idx, Eigen::MatrixXd& a) {
    const int n = static_cast<int>(idx.size());
    a.resize(n + 1, n + 1);
    for (int i = 0; i < n; ++i) {
        for (int j = i; j < n; ++j) {
            const double h = Lag(p.x[idx[i]] - p.x[idx[j]], p.y[idx[i]] - p.y[idx[j]]);
            a(i, j) = a(j, i) = h;
        }
        a(i, n) = a(n, i) = 1;
    }
    a(n, n) = 0;
}

// The estimate at (x, y) from the factorised system of the neighbours `idx`.
double Solve(const PlanePoints& p, const std::vector<std::uint32_t>& idx, const Eigen::PartialPivLU<Eigen::MatrixXd>& lu,
             double x, double y, Eigen::VectorXd& b, Eigen::VectorXd& w) {
    const int n = static_cast<int>(idx.size());
    b.resize(n + 1);
    for (int i = 0; i < n; ++i) b(i) = Lag(p.x[idx[i]] - x, p.y[idx[i]] - y);
    b(n) = 1;
    w = lu.solve(b);
    double z = 0;
    for (int i = 0; i < n; ++i) z += w(i) * p.z[idx[i]];
    return z;
}

// Solves each node's system afresh.
class Solver {
public:
    double Estimate(const PlanePoints& p, const std::vector<std::uint32_t>& idx, double x, double y) {
        FillSystem(p, idx, a_);
        lu_.compute(a_);
        return Solve(p, idx, lu_, x, y, b_, w_);
    }

private:
    Eigen::MatrixXd a_;
    Eigen::VectorXd b_, w_;
    Eigen::PartialPivLU<Eigen::MatrixXd> lu_;
};

// Keeps the factorisations of the last few neighbourhoods: nodes between
// two traverses mostly choose the same points as the node beside them, and
// the factorisation is most of a node's cost. A neighbourhood's points are
// kept in ascending order, so that its system does not depend on which node
// met it first.
class SharedSolver {
public:
    explicit SharedSolver(std::size_t capacity) : entries_(capacity) {}

    double Estimate(const PlanePoints& p, const std::vector<std::uint32_t>& idx, double x, double y) {
        key_.assign(idx.begin(), idx.end());
        std::sort(key_.begin(), key_.end());
        const Entry& e = Find(p);
        return Solve(p, e.points, e.lu, x, y, b_, w_);
    }

private:
    struct Entry {
        std::vector<std::uint32_t> points;
        std::uint64_t hash = 0;
        std::uint64_t lastUse = 0;  // 0: empty
        Eigen::PartialPivLU<Eigen::MatrixXd> lu;
    };

    // FNV-1a over the indices: a cheap first test before comparing them.
    static std::uint64_t Hash(const std::vector<std::uint32_t>& v) {
        std::uint64_t h = 14695981039346656037ull;
        for (std::uint32_t i : v) h = (h ^ i) * 1099511628211ull;
        return h;
    }

    const Entry& Find(const PlanePoints& p) {
        const std::uint64_t hash = Hash(key_);
        ++clock_;
        Entry* oldest = &entries_.front();
        for (Entry& e : entries_) {
            if (e.lastUse != 0 && e.hash == hash && e.points == key_) {
                e.lastUse = clock_;
                return e;
            }
            if (e.lastUse < oldest->lastUse) oldest = &e;
        }
        oldest->points.swap(key_);
        oldest->hash = hash;
        oldest->lastUse = clock_;
        FillSystem(p, oldest->points, a_);
        oldest->lu.compute(a_);
        return *oldest;
    }

    std::vector<Entry> entries_;
    std::uint64_t clock_ = 0;
    std::vector<std::uint32_t> key_;
    Eigen::MatrixXd a_;
    Eigen::VectorXd b_, w_;
};

std::unique_ptr<Tree> BuildTree(const PlanePoints& points) {
    return std::make_unique<Tree>(2, points, nanoflann::KDTreeSingleIndexAdaptorParams(16));
}

// Every point within `reach` of a centre (and none farther), in the order
// of their squared distances to the node searched last: a node a little way
// off has its nearest points among them, nearly in the same order.
struct PointPool {
    std::size_t k = 0;  // the count of nearest points it was gathered for
    std::vector<double> x, y;
    std::vector<std::uint32_t> ids;
    std::vector<std::uint32_t> gathered;  // the points met while gathering
    struct Entry {
        double d;
        std::uint32_t at;  // in x, y and ids
    };
    std::vector<Entry> order;
    double centreX = 0, centreY = 0, reach = 0;
};

// A node's nearest points, nearest first, and the pools of the last nodes
// searched, one for each count asked: the search's own scratch, one per
// thread.
struct NearestPoints {
    std::vector<std::uint32_t> found;
    std::vector<double> dist;
    std::vector<PointPool> pools;
};

// The points sorted into square cells, searched ring by ring about a node:
// a node's points lie in the cells next to its own, and the next node's
// among the same points, already nearly in order. It answers as the k-d
// tree does, the same points in the same order. Only where two of those
// points lie at exactly the same distance, or the last of them at the
// distance of the next, does the tree's answer depend on the order it
// visits them in: such a search is left to the tree, built the first time
// one is met.
class NeighbourIndex {
public:
    explicit NeighbourIndex(const PlanePoints& p) : p_(p) {
        const std::size_t n = p.x.size();
        const auto [west, east] = std::minmax_element(p.x.begin(), p.x.end());
        const auto [south, north] = std::minmax_element(p.y.begin(), p.y.end());
        x0_ = *west;
        y0_ = *south;
        const double width = *east - *west, height = *north - *south;
        const double cells = std::max(1.0, static_cast<double>(n) / kPointsPerCell);
        // Points along one line get their cells along it.
        size_ = std::max({std::sqrt(width * height / cells), width / cells, height / cells});
        if (!(size_ > 0)) size_ = 1;
        inverse_ = 1 / size_;
        cols_ = static_cast<int>(width * inverse_) + 1;
        rows_ = static_cast<int>(height * inverse_) + 1;
        // Far above the rounding of a point's cell or a root, far below any
        // spacing of points.
        slack_ = 1e-9 * (width + height + size_);
        std::vector<std::uint32_t> cellOf(n);
        start_.assign(static_cast<std::size_t>(cols_) * static_cast<std::size_t>(rows_) + 1, 0);
        for (std::size_t i = 0; i < n; ++i) {
            cellOf[i] = static_cast<std::uint32_t>(Cell(Col(p.x[i]), Row(p.y[i])));
            ++start_[cellOf[i] + 1];
        }
        std::partial_sum(start_.begin(), start_.end(), start_.begin());
        order_.resize(n);
        std::vector<std::uint32_t> next(start_.begin(), start_.end() - 1);
        for (std::size_t i = 0; i < n; ++i) order_[next[cellOf[i]]++] = static_cast<std::uint32_t>(i);
    }

    // The min(k, n) points nearest to `query` into `out.found`, nearest
    // first, with their squared distances in `out.dist`; returns how many.
    std::size_t Nearest(const double query[2], std::size_t k, NearestPoints& out) const {
        out.found.resize(k);
        out.dist.resize(k);
        auto pool = std::find_if(out.pools.begin(), out.pools.end(), [k](const PointPool& p) { return p.k == k; });
        if (pool == out.pools.end()) pool = out.pools.insert(out.pools.end(), PointPool{k});
        if (!FromPool(query, *pool)) Gather(query, *pool);
        const auto& order = pool->order;
        const std::size_t got = std::min(k, order.size());
        bool tie = got < order.size() && order[got].d == order[got - 1].d;
        for (std::size_t j = 1; j < got && !tie; ++j) tie = order[j].d == order[j - 1].d;
        if (tie) return FallbackTree().knnSearch(query, k, out.found.data(), out.dist.data());
        for (std::size_t j = 0; j < got; ++j) {
            out.dist[j] = order[j].d;
            out.found[j] = pool->ids[order[j].at];
        }
        return got;
    }

private:
    // Points a cell holds on average: few enough that a node's search looks
    // at little beyond its nearest points, enough that it visits few cells.
    static constexpr double kPointsPerCell = 8;
    // The pool reaches this much beyond the farthest of the nearest points
    // of the node it is gathered about, so that the nodes after it find
    // theirs in it.
    static constexpr double kPoolReach = 1.25;

    // The pool put in the order of the distances to `query`: true when its
    // first k (or all points) are the nearest of all points.
    bool FromPool(const double query[2], PointPool& pool) const {
        if (!(pool.reach > 0)) return false;
        const double x = query[0], y = query[1];
        auto& order = pool.order;
        for (auto& e : order) {
            const double dx = x - pool.x[e.at], dy = y - pool.y[e.at];
            e.d = dx * dx + dy * dy;
        }
        // Nearly in order already: insertion moves few.
        for (std::size_t j = 1; j < order.size(); ++j) {
            const PointPool::Entry e = order[j];
            std::size_t to = j;
            for (; to > 0 && order[to - 1].d > e.d; --to) order[to] = order[to - 1];
            order[to] = e;
        }
        if (std::isinf(pool.reach)) return true;
        if (order.size() < pool.k) return false;
        // A point beyond the reach is farther from the node than the k-th.
        const double moved = Lag(x - pool.centreX, y - pool.centreY);
        return std::sqrt(order[pool.k - 1].d) + moved < pool.reach - slack_;
    }

    // Gathers the pool about `query`: ring by ring of cells, until the rings
    // hold the k nearest points and the reach beyond them.
    void Gather(const double query[2], PointPool& pool) const {
        const std::size_t k = pool.k;
        auto& order = pool.order;
        pool.gathered.clear();
        order.clear();
        const double x = query[0], y = query[1];
        const int col = Col(x), row = Row(y);
        const auto byDistance = [](const PointPool::Entry& a, const PointPool::Entry& b) { return a.d < b.d; };
        const auto scan = [&](int c, int r) {
            const std::size_t cell = Cell(c, r);
            for (std::uint32_t s = start_[cell]; s < start_[cell + 1]; ++s) {
                const std::uint32_t i = order_[s];
                // As the tree's metric adds the squares: the same bits.
                const double dx = x - p_.x[i], dy = y - p_.y[i];
                order.push_back({dx * dx + dy * dy, static_cast<std::uint32_t>(pool.gathered.size())});
                pool.gathered.push_back(i);
            }
        };
        double reach = std::numeric_limits<double>::infinity();
        for (int ring = 0;; ++ring) {
            const int west = col - ring, east = col + ring, south = row - ring, north = row + ring;
            const int c0 = std::max(west, 0), c1 = std::min(east, cols_ - 1);
            const int r0 = std::max(south + 1, 0), r1 = std::min(north - 1, rows_ - 1);
            if (south >= 0)
                for (int c = c0; c <= c1; ++c) scan(c, south);
            if (ring > 0 && north < rows_)
                for (int c = c0; c <= c1; ++c) scan(c, north);
            if (west >= 0)
                for (int r = r0; r <= r1; ++r) scan(west, r);
            if (ring > 0 && east < cols_)
                for (int r = r0; r <= r1; ++r) scan(east, r);
            if (west <= 0 && south <= 0 && east >= cols_ - 1 && north >= rows_ - 1) break;
            if (order.size() < k) continue;
            // Every point not yet met lies beyond one of the rings' sides.
            double beyond = std::numeric_limits<double>::infinity();
            if (west > 0) beyond = std::min(beyond, x - (x0_ + west * size_));
            if (east < cols_ - 1) beyond = std::min(beyond, x0_ + (east + 1) * size_ - x);
            if (south > 0) beyond = std::min(beyond, y - (y0_ + south * size_));
            if (north < rows_ - 1) beyond = std::min(beyond, y0_ + (north + 1) * size_ - y);
            beyond -= slack_;
            if (!(beyond > 0)) continue;
            std::nth_element(order.begin(), order.begin() + static_cast<std::ptrdiff_t>(k - 1), order.end(), byDistance);
            const double kth = std::sqrt(order[k - 1].d);
            if (kth + slack_ < beyond) {
                reach = std::min(beyond, kPoolReach * kth + slack_);
                break;
            }
        }
        if (std::isfinite(reach)) {
            const double reach2 = reach * reach;
            order.erase(std::remove_if(order.begin(), order.end(), [&](const auto& e) { return !(e.d < reach2); }),
                        order.end());
        }
        std::sort(order.begin(), order.end(), byDistance);
        pool.x.clear();
        pool.y.clear();
        pool.ids.clear();
        for (auto& e : order) {
            const std::uint32_t i = pool.gathered[e.at];
            e.at = static_cast<std::uint32_t>(pool.ids.size());
            pool.ids.push_back(i);
            pool.x.push_back(p_.x[i]);
            pool.y.push_back(p_.y[i]);
        }
        pool.centreX = x;
        pool.centreY = y;
        pool.reach = reach;
    }

    int Col(double x) const { return static_cast<int>(std::clamp((x - x0_) * inverse_, 0.0, cols_ - 1.0)); }
    int Row(double y) const { return static_cast<int>(std::clamp((y - y0_) * inverse_, 0.0, rows_ - 1.0)); }
    std::size_t Cell(int c, int r) const { return static_cast<std::size_t>(r) * static_cast<std::size_t>(cols_) + c; }

    const Tree& FallbackTree() const {
        std::call_once(treeBuilt_, [this] { tree_ = BuildTree(p_); });
        return *tree_;
    }

    const PlanePoints& p_;
    double x0_ = 0, y0_ = 0, size_ = 1, inverse_ = 1, slack_ = 0;
    int cols_ = 1, rows_ = 1;
    std::vector<std::uint32_t> start_;  // each cell's first place in order_, and the end
    std::vector<std::uint32_t> order_;  // the points' indices, cell by cell
    mutable std::once_flag treeBuilt_;
    mutable std::unique_ptr<Tree> tree_;
};

// How far a node's neighbour search looked: the squared distance of the
// farthest point it took in, and whether it stopped only because the points
// it searched ran out.
struct SearchReach {
    double farthest2 = 0;
    bool exhausted = false;
};

// Up to `perQuadrant` nearest points in each quadrant around (x, y) within
// `radius`, looked for among the 256 nearest points: a quadrant that has
// none of its points among those has only far ones, of little weight.
SearchReach QuadrantNeighbours(const NeighbourIndex& index, const PlanePoints& p, double x, double y, double radius,
                               int perQuadrant, std::vector<std::uint32_t>& chosen, NearestPoints& nearest) {
    const std::size_t n = p.x.size();
    std::size_t k = std::min<std::size_t>(n, 64);
    const double query[2] = {x, y};
    const double radius2 = radius * radius;
    for (;;) {
        const std::size_t got = index.Nearest(query, k, nearest);
        const std::vector<std::uint32_t>& found = nearest.found;
        const std::vector<double>& dist = nearest.dist;
        chosen.clear();
        std::array<int, 4> count{};
        bool beyond = false;
        for (std::size_t i = 0; i < got; ++i) {
            if (dist[i] > radius2) {
                beyond = true;
                break;
            }
            const std::uint32_t j = found[i];
            const int q = (p.x[j] >= x ? 0 : 1) + (p.y[j] >= y ? 0 : 2);
            if (count[q] < perQuadrant) {
                ++count[q];
                chosen.push_back(j);
            }
        }
        const bool full = std::all_of(count.begin(), count.end(), [&](int c) { return c == perQuadrant; });
        const double farthest2 = got > 0 ? dist[got - 1] : 0;
        // Look further only while quadrants are short and nearer points remain.
        if (full || beyond || k >= kMaxCandidates) return {farthest2, false};
        if (got < k || k >= n) return {farthest2, true};
        k = std::min(n, k * 4);
    }
}

// A well-mixed hash of a position; -0 and +0, equal as coordinates, hash
// alike.
std::uint64_t PositionHash(double lon, double lat) {
    const auto mix = [](std::uint64_t h) {
        h = (h ^ (h >> 30)) * 0xbf58476d1ce4e5b9ull;
        h = (h ^ (h >> 27)) * 0x94d049bb133111ebull;
        return h ^ (h >> 31);
    };
    return mix(std::bit_cast<std::uint64_t>(lon + 0.0) ^ mix(std::bit_cast<std::uint64_t>(lat + 0.0)));
}

}  // namespace

std::vector<DataPoint> MergeDuplicates(std::vector<DataPoint> points) {
    // An open-addressed table of the merged points by position, at most
    // two thirds full; each reading is folded into its point's mean in the
    // order of the readings. The merged points take the places of the
    // readings, never after the one being read.
    constexpr std::uint32_t kFree = std::numeric_limits<std::uint32_t>::max();
    const std::size_t mask = std::bit_ceil(std::max<std::size_t>(16, points.size() + points.size() / 2)) - 1;
    std::vector<std::uint32_t> table(mask + 1, kFree);
    std::vector<int> counts;
    counts.reserve(points.size());
    std::size_t merged = 0;
    for (std::size_t i = 0; i < points.size(); ++i) {
        const DataPoint d = points[i];
        std::size_t slot = PositionHash(d.lon, d.lat) & mask;
        while (table[slot] != kFree && !(points[table[slot]].lon == d.lon && points[table[slot]].lat == d.lat))
            slot = (slot + 1) & mask;
        if (table[slot] == kFree) {
            table[slot] = static_cast<std::uint32_t>(merged);
            points[merged++] = {d.lon, d.lat, 0};
            counts.push_back(0);
        }
        DataPoint& m = points[table[slot]];
        const int c = ++counts[table[slot]];
        m.z += (d.z - m.z) / c;  // running mean
    }
    points.resize(merged);
    return points;
}

namespace {

[[noreturn]] void NoArea(const char* where) {
    throw GridHostError(std::string("the points span no area (") + where + "): there is no surface to grid");
}

[[noreturn]] void TooLarge() {
    throw GridHostError("the points' extent is too large for a grid: its node spacing is not a finite number");
}

}  // namespace

namespace {

void CheckFinite(const std::vector<DataPoint>& readings) {
    for (const DataPoint& d : readings)
        if (!std::isfinite(d.lon) || !std::isfinite(d.lat) || !std::isfinite(d.z))
            throw GridHostError("a point's coordinate or value is not a finite number");
}

// The merged points' extent; throws for fewer than two points.
PointBounds AreaExtent(const std::vector<DataPoint>& points) {
    if (points.empty()) NoArea("there are no points");
    if (points.size() == 1) NoArea("all points lie on one spot");
    return BoundsOf(points);
}

// The points in metres from (x0, y0), `kx` and `ky` metres a unit; the
// points are let go of as soon as they are copied, a copy of every reading
// fewer while the nodes are kriged.
PlanePoints ToPlane(std::vector<DataPoint> points, double x0, double y0, double kx, double ky) {
    PlanePoints plane;
    for (std::vector<double>* v : {&plane.x, &plane.y, &plane.z}) v->reserve(points.size());
    for (const DataPoint& d : points) {
        plane.x.push_back((d.lon - x0) * kx);
        plane.y.push_back((d.lat - y0) * ky);
        plane.z.push_back(d.z);
    }
    return plane;
}

// Node (col, row) lies at (col * xStep * xScale, row * yStep * yScale) of the
// kriging plane, whose origin is the south-west node.
struct NodePlacement {
    double xStep, xScale, yStep, yScale;
    double X(int col) const { return col * xStep * xScale; }
    double Y(int row) const { return row * yStep * yScale; }
};

// A rectangle of the kriging plane.
struct Extent {
    double west, east, south, north;
    bool Holds(double x, double y) const { return x >= west && x <= east && y >= south && y <= north; }
    // How far (x, y), inside, lies from the nearest edge.
    double Margin(double x, double y) const { return std::min({x - west, east - x, y - south, north - y}); }
};

// Columns [col, col + cols) and rows [row, row + rows) of a grid's nodes.
struct NodeBlock {
    int col, row, cols, rows;
    std::size_t Size() const { return static_cast<std::size_t>(cols) * static_cast<std::size_t>(rows); }
};

// The plane's points within `e`, in their order in the plane: a node's
// system then lists its neighbours in the order the whole plane would.
PlanePoints PointsWithin(const PlanePoints& plane, const Extent& e) {
    PlanePoints near;
    for (std::size_t i = 0; i < plane.x.size(); ++i)
        if (e.Holds(plane.x[i], plane.y[i])) {
            near.x.push_back(plane.x[i]);
            near.y.push_back(plane.y[i]);
            near.z.push_back(plane.z[i]);
        }
    return near;
}

// What every node is kriged with, whichever of the points a block of nodes
// searches: the hull of all points, the search's radius, and the one system
// when all points take part in every node's.
class NodeKriging {
public:
    NodeKriging(const PlanePoints& plane, std::vector<PlanePoint> hull, double width, double height,
                const NodePlacement& at, const KrigingOptions& options, const std::atomic<bool>* cancel)
        : plane_(plane), hull_(std::move(hull)), at_(at), options_(options), cancel_(cancel),
          global_(plane.x.size() <= options.globalLimit), tolerance_(1e-9 * std::max(width, height)),
          radius_(0.5 * std::hypot(width, height)) {
        if (!global_) return;
        everyPoint_.resize(plane.x.size());
        std::iota(everyPoint_.begin(), everyPoint_.end(), 0u);
        Eigen::MatrixXd a;
        FillSystem(plane, everyPoint_, a);
        globalLu_.compute(a);
    }

    bool Global() const { return global_; }
    bool Cancelled() const { return cancel_ && cancel_->load(std::memory_order_relaxed); }

    // The overlap a block's points are first taken with: twice the radius
    // that holds as many points as a search looks at, where the points are
    // spread evenly over their hull. Denser or sparser places only change
    // how often a block is taken again with a wider one.
    double FirstOverlap() const {
        const double density = static_cast<double>(plane_.x.size()) / HullArea(hull_);
        return 2 * std::sqrt(static_cast<double>(kMaxCandidates) / (std::numbers::pi * density));
    }

    // Kriges the nodes of `block` marked in `pending` (all when it is empty)
    // from `points`, searched by `index`, into `out` (the block's values,
    // south row first). With `safe`, a rectangle all of whose points
    // `points` holds, a node whose search may have missed a nearer point
    // beyond it is left alone and marked in `unsure`. `progress` gets the
    // block's rows done so far.
    void Krige(const PlanePoints& points, const NeighbourIndex* index, const NodeBlock& block, const Extent* safe,
               const std::vector<char>& pending, std::vector<char>& unsure, double* out,
               const std::function<void(int)>& progress) const {
        // Rows go to the threads in bands, each band column by column, so
        // that a node's neighbours above and to the left were met just
        // before it.
        const int bands = (block.rows + kBandRows - 1) / kBandRows;
        std::atomic<int> rowsDone{0};
        std::mutex progressMutex;
#pragma omp parallel
        {
            Solver solver;
            SharedSolver shared(kSharedSystems);
            std::vector<std::uint32_t> chosen;
            NearestPoints nearest;
            Eigen::VectorXd b, w;
            std::vector<std::pair<double, double>> spans;
#pragma omp for schedule(dynamic, 1)
            for (int band = 0; band < bands; ++band) {
                // OpenMP lets no loop be left early: the bands after a cancel are skipped.
                if (Cancelled()) continue;
                const int first = block.row + band * kBandRows, last = std::min(block.row + block.rows, first + kBandRows);
                spans.clear();
                for (int row = first; row < last; ++row) spans.push_back(HullSpan(hull_, at_.Y(row), tolerance_));
                for (int col = block.col; col < block.col + block.cols && !Cancelled(); ++col) {
                    const double x = at_.X(col);
                    for (int row = first; row < last && !Cancelled(); ++row) {
                        const std::size_t i = static_cast<std::size_t>(row - block.row) * block.cols + (col - block.col);
                        if (!pending.empty() && !pending[i]) continue;
                        const double y = at_.Y(row);
                        const auto [left, right] = spans[static_cast<std::size_t>(row - first)];
                        if (x < left || x > right) continue;
                        double value = std::numeric_limits<double>::quiet_NaN();
                        if (global_) {
                            value = Solve(plane_, everyPoint_, globalLu_, x, y, b, w);
                        } else if (!index) {
                            unsure[i] = 1;
                            continue;
                        } else {
                            const SearchReach reach = QuadrantNeighbours(*index, points, x, y, radius_,
                                                                         options_.perQuadrant, chosen, nearest);
                            if (safe) {
                                const double margin = safe->Margin(x, y);
                                if (reach.exhausted || !(reach.farthest2 < margin * margin)) {
                                    unsure[i] = 1;
                                    continue;
                                }
                            }
                            if (static_cast<int>(chosen.size()) >= options_.minimumPoints)
                                value = options_.shareFactorisations ? shared.Estimate(points, chosen, x, y)
                                                                     : solver.Estimate(points, chosen, x, y);
                        }
                        out[i] = std::isfinite(value) ? value : std::numeric_limits<double>::quiet_NaN();
                    }
                }
                const int done = rowsDone += last - first;
                if (progress) {
                    std::lock_guard lock(progressMutex);
                    progress(done);
                }
            }
        }
    }

private:
    const PlanePoints& plane_;
    const std::vector<PlanePoint> hull_;
    const NodePlacement at_;
    const KrigingOptions& options_;
    const std::atomic<bool>* cancel_;
    const bool global_;
    const double tolerance_, radius_;
    std::vector<std::uint32_t> everyPoint_;
    Eigen::PartialPivLU<Eigen::MatrixXd> globalLu_;
};

// The blocks of at most `tileCols` by `tileRows` nodes a grid is kriged in:
// the northern strip first, as a raster is stored, each strip west to east.
std::vector<NodeBlock> Tiles(int cols, int rows, int tileCols, int tileRows) {
    std::vector<NodeBlock> tiles;
    for (int top = rows; top > 0; top -= tileRows) {
        const int bottom = std::max(0, top - tileRows);
        for (int col = 0; col < cols; col += tileCols)
            tiles.push_back({col, bottom, std::min(tileCols, cols - col), top - bottom});
    }
    return tiles;
}

// Kriges `g` tile by tile. Each tile searches the points within an overlap
// around its nodes; its nodes whose search reached the overlap's edge (or
// ran out of points there) are kriged again from a wider one, doubled until
// they all have the neighbours they would have among all the points.
void KrigeTiles(const NodeKriging& kriging, const PlanePoints& plane, const NodePlacement& at, Grid& g,
                const KrigingOptions& options, const TileSink& onTile, const std::function<void(int)>& progress) {
    const double firstOverlap = kriging.Global() ? 0 : kriging.FirstOverlap();
    int stripsDone = 0;
    for (const NodeBlock& block : Tiles(g.cols, g.rows, options.tileCols, options.tileRows)) {
        if (kriging.Cancelled()) return;
        GridTile tile{block.col, block.row, block.cols, block.rows,
                      std::vector<double>(block.Size(), std::numeric_limits<double>::quiet_NaN())};
        std::vector<char> pending, unsure(block.Size(), 0);
        if (kriging.Global()) kriging.Krige(plane, nullptr, block, nullptr, pending, unsure, tile.z.data(), {});
        for (double overlap = firstOverlap; !kriging.Global(); overlap *= 2) {
            const Extent region{at.X(block.col) - overlap, at.X(block.col + block.cols - 1) + overlap,
                                at.Y(block.row) - overlap, at.Y(block.row + block.rows - 1) + overlap};
            const PlanePoints near = PointsWithin(plane, region);
            const bool all = near.x.size() == plane.x.size();
            const std::unique_ptr<NeighbourIndex> index =
                near.x.empty() ? nullptr : std::make_unique<NeighbourIndex>(near);
            unsure.assign(block.Size(), 0);
            kriging.Krige(near, index.get(), block, all ? nullptr : &region, pending, unsure, tile.z.data(), {});
            if (all || std::find(unsure.begin(), unsure.end(), 1) == unsure.end()) break;
            pending.swap(unsure);
        }
        for (int r = 0; r < block.rows; ++r)
            std::copy_n(tile.z.begin() + static_cast<std::ptrdiff_t>(r) * block.cols, block.cols,
                        g.z.begin() + static_cast<std::ptrdiff_t>(block.row + r) * g.cols + block.col);
        if (onTile) onTile(tile);
        if (block.col + block.cols == g.cols && progress) progress(stripsDone += block.rows);
    }
}

// Fills `g.z` by kriging the plane's points (metres from the south-west
// node) onto the nodes; `width` and `height` are the points' extent.
void KrigeNodes(const PlanePoints& plane, double width, double height, const NodePlacement& at, Grid& g,
                const KrigingOptions& options, const std::function<void(int)>& progress,
                const std::atomic<bool>* cancel, const TileSink& onTile = {}) {
    const bool tiled = options.tileCols > 0 && options.tileRows > 0 &&
                       (options.tileCols < g.cols || options.tileRows < g.rows);
    const bool global = plane.x.size() <= options.globalLimit;
    // The search's cells are filled on the other core while the hull is found.
    std::future<std::unique_ptr<NeighbourIndex>> building;
    if (!global && !tiled)
        building = std::async(std::launch::async, [&plane] { return std::make_unique<NeighbourIndex>(plane); });
    auto hull = ConvexHull(plane);
    // Rounding can leave points of one slanting line a hull of a sliver.
    if (hull.size() < 3 || HullArea(hull) <= 1e-9 * std::fabs(width * height)) NoArea("all points lie on one line");
    g.z.assign(static_cast<std::size_t>(g.cols) * static_cast<std::size_t>(g.rows),
               std::numeric_limits<double>::quiet_NaN());
    const NodeKriging kriging(plane, std::move(hull), width, height, at, options, cancel);
    if (tiled) {
        KrigeTiles(kriging, plane, at, g, options, onTile, progress);
    } else {
        const std::unique_ptr<NeighbourIndex> index = global ? nullptr : building.get();
        std::vector<char> unsure;
        kriging.Krige(plane, index.get(), {0, 0, g.cols, g.rows}, nullptr, {}, unsure, g.z.data(), progress);
    }
    if (kriging.Cancelled()) throw GridCancelled();
}

}  // namespace

Grid KrigeGrid(std::vector<DataPoint> readings, int cols, int rows, const KrigingOptions& options,
               const std::function<void(int)>& progress, const std::atomic<bool>* cancel) {
    CheckFinite(readings);
    std::vector<DataPoint> points = MergeDuplicates(std::move(readings));
    const PointBounds e = AreaExtent(points);
    double sumLat = 0;
    for (const DataPoint& d : points) sumLat += d.lat;
    Grid g;
    g.cols = cols;
    g.rows = rows;
    g.xLL = e.minLon;
    g.yLL = e.minLat;
    g.xSize = (e.maxLon - e.minLon) / (cols - 1);
    g.ySize = (e.maxLat - e.minLat) / (rows - 1);
    if (!std::isfinite(g.xSize) || !std::isfinite(g.ySize)) TooLarge();
    if (g.xSize == 0 || g.ySize == 0) NoArea("all points lie on one meridian or one parallel");

    // Metres on a local plane about the field's middle latitude.
    const double kx = std::cos(sumLat / static_cast<double>(points.size()) * std::numbers::pi / 180) * kMetresPerDegree;
    const double ky = kMetresPerDegree;
    const double width = (e.maxLon - e.minLon) * kx;
    const double height = (e.maxLat - e.minLat) * ky;
    if (!std::isfinite(width) || !std::isfinite(height)) TooLarge();
    const PlanePoints plane = ToPlane(std::move(points), e.minLon, e.minLat, kx, ky);
    KrigeNodes(plane, width, height, {g.xSize, kx, g.ySize, ky}, g, options, progress, cancel);
    return g;
}

Grid MetricGridNodes(const std::vector<DataPoint>& projected, int epsg, double cell, long long maxNodes) {
    if (!(cell > 0) || !std::isfinite(cell)) throw GridHostError("a grid cell must be a positive number of metres");
    CheckFinite(projected);
    const PointBounds e = AreaExtent(projected);
    // Whole cells from the system's origin, so that grids of neighbouring
    // fields share their nodes.
    const double west = std::floor(e.minLon / cell), east = std::ceil(e.maxLon / cell);
    const double south = std::floor(e.minLat / cell), north = std::ceil(e.maxLat / cell);
    const double cols = east - west + 1, rows = north - south + 1;
    if (!(cols * rows <= static_cast<double>(maxNodes)))
        throw GridHostError("cells of " + FormatGeneral(cell) + " m over the points' " +
                            std::to_string(std::lround(e.maxLon - e.minLon)) + " m by " +
                            std::to_string(std::lround(e.maxLat - e.minLat)) + " m make " + FormatGeneral(cols * rows) +
                            " nodes, more than " + std::to_string(maxNodes) + ": take larger cells");
    Grid g;
    g.epsg = epsg;
    g.cols = static_cast<int>(cols);
    g.rows = static_cast<int>(rows);
    g.xLL = west * cell;
    g.yLL = south * cell;
    g.xSize = g.ySize = cell;
    return g;
}

Grid KrigeMetricGrid(std::vector<DataPoint> projected, Grid g, const KrigingOptions& options,
                     const std::function<void(int)>& progress, const std::atomic<bool>* cancel,
                     const TileSink& onTile) {
    CheckFinite(projected);
    std::vector<DataPoint> points = MergeDuplicates(std::move(projected));
    const PointBounds e = AreaExtent(points);
    if (e.minLon == e.maxLon || e.minLat == e.maxLat) NoArea("all points lie on one line of the grid");
    const PlanePoints plane = ToPlane(std::move(points), g.xLL, g.yLL, 1, 1);
    KrigeNodes(plane, e.maxLon - e.minLon, e.maxLat - e.minLat, {g.xSize, 1, g.ySize, 1}, g, options, progress, cancel,
               onTile);
    return g;
}

}  // namespace qgrad
