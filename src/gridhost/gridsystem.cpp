#include "gridhost/gridsystem.h"

#include "common/geodesy.h"
#include "gridhost/gdallibrary.h"

#include <omp.h>

#include <algorithm>
#include <array>
#include <string>

namespace qgrad {
namespace {

struct TransformationDestroyer {
    void operator()(OGRCoordinateTransformationH t) const { Gdal().OCTDestroyCoordinateTransformation(t); }
};
using Transformation =
    std::unique_ptr<std::remove_pointer_t<OGRCoordinateTransformationH>, TransformationDestroyer>;

Transformation Between(int from, int to) {
    Transformation t(Gdal().OCTNewCoordinateTransformation(Epsg(from).get(), Epsg(to).get()));
    if (!t)
        throw GridHostError("cannot transform positions from EPSG:" + std::to_string(from) + " to EPSG:" +
                            std::to_string(to));
    return t;
}

// Positions a transformation takes at once: PROJ's cost per call is paid
// once per block, and the block stays in the cache.
constexpr std::size_t kBlock = 4096;

// `count` positions, read by `get(i, x, y)` and written back by `put(i, x, y)`,
// transformed on every core, each with its own transformation (one is not
// to be shared between threads).
template <class Get, class Put>
void TransformAll(int from, int to, std::size_t count, Get get, Put put) {
    const long long blocks = static_cast<long long>((count + kBlock - 1) / kBlock);
    // Made before the threads start: an exception must not leave a thread.
    std::vector<Transformation> each;
    for (int i = 0; i < omp_get_max_threads(); ++i) each.push_back(Between(from, to));
    bool failed = false;
#pragma omp parallel reduction(|| : failed)
    {
        const Transformation& t = each[static_cast<std::size_t>(omp_get_thread_num())];
        std::array<double, kBlock> x{}, y{};
#pragma omp for schedule(static)
        for (long long b = 0; b < blocks; ++b) {
            const std::size_t first = static_cast<std::size_t>(b) * kBlock;
            const std::size_t n = std::min(kBlock, count - first);
            for (std::size_t i = 0; i < n; ++i) get(first + i, x[i], y[i]);
            if (!Gdal().OCTTransform(t.get(), static_cast<int>(n), x.data(), y.data(), nullptr)) failed = true;
            for (std::size_t i = 0; i < n; ++i) put(first + i, x[i], y[i]);
        }
    }
    if (failed)
        throw GridHostError("a position has no place in EPSG:" + std::to_string(to) + " (from EPSG:" +
                            std::to_string(from) + ")");
}

}  // namespace

int MetricGridEpsg(const std::vector<DataPoint>& lonLat) {
    const PointBounds e = BoundsOf(lonLat);
    return UtmEpsgCode((e.minLon + e.maxLon) / 2, (e.minLat + e.maxLat) / 2);
}

std::vector<DataPoint> InGridSystem(std::vector<DataPoint> lonLat, int epsg) {
    // Each block of positions is read whole before any of it is written.
    TransformAll(
        kWgs84, epsg, lonLat.size(),
        [&](std::size_t i, double& x, double& y) {
            x = lonLat[i].lon;
            y = lonLat[i].lat;
        },
        [&](std::size_t i, double x, double y) {
            lonLat[i].lon = x;
            lonLat[i].lat = y;
        });
    return lonLat;
}

void ToLonLat(int epsg, std::vector<double>& x, std::vector<double>& y) {
    TransformAll(
        epsg, kWgs84, std::min(x.size(), y.size()),
        [&](std::size_t i, double& a, double& b) {
            a = x[i];
            b = y[i];
        },
        [&](std::size_t i, double a, double b) {
            x[i] = a;
            y[i] = b;
        });
}

}  // namespace qgrad
