#include "mapview/mapframe.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <stdexcept>

namespace qgrad {
namespace {

constexpr double kRad = std::numbers::pi / 180.0;

// Mean with the sum in extended precision, rounded to a 32-bit float.
double Mean(const std::vector<float>& v) {
    long double sum = 0;
    for (float x : v) sum += x;
    return static_cast<float>(sum / static_cast<long double>(v.size()));
}

}  // namespace

int RoundPixel(double v) {
    if (!(v >= std::numeric_limits<std::int32_t>::min() - 0.5 && v < std::numeric_limits<std::int32_t>::max() + 0.5))
        throw std::range_error("map position out of range");
    const double r = std::nearbyint(v);
    if (r < std::numeric_limits<std::int32_t>::min() || r > std::numeric_limits<std::int32_t>::max())
        throw std::range_error("map position out of range");
    return static_cast<int>(r);
}

QPoint GeoToMapPixel(const MapFrame& f, float lon, float lat) {
    const double scale = std::ldexp(1.0, f.zoom);
    const double x = scale * (static_cast<double>(lon) - f.centreLon) * 256 / 360 + 325;
    const double y = 225 - scale * (static_cast<double>(lat) - f.centreLat) / std::cos(f.centreLat * kRad) * 256 / 360;
    return QPoint(RoundPixel(x), RoundPixel(y));
}

GeoPosition MapPixelToGeo(const MapFrame& f, double x, double y) {
    const double scale = std::ldexp(1.0, f.zoom);
    return {f.centreLon + (x - 325) * 360 / 256 / scale,
            f.centreLat - (y - 225) * std::cos(f.centreLat * kRad) * 360 / 256 / scale};
}

void FitFrameToTrack(const std::vector<float>& lon, const std::vector<float>& lat, ZoomPrecision precision,
                     MapFrame& frame) {
    if (lon.empty() || lat.empty()) throw std::invalid_argument("the track is empty");
    frame.centreLon = Mean(lon);
    frame.centreLat = Mean(lat);

    // The largest level at which the track's extent fits 650 x 450 pixels; a
    // zero extent or a level outside 0..255 keeps the previous one.
    const auto [lonMin, lonMax] = std::minmax_element(lon.begin(), lon.end());
    const auto [latMin, latMax] = std::minmax_element(lat.begin(), lat.end());
    const double lonExtent = static_cast<double>(*lonMax) - *lonMin;
    const double latExtent = static_cast<double>(*latMax) - *latMin;
    if (lonExtent != 0 && latExtent != 0) {
        double zx = std::log2(234000.0 / lonExtent) - 8;
        double zy = std::log2(162000.0 * std::cos(frame.centreLat * kRad) / latExtent) - 8;
        if (precision == ZoomPrecision::Single) {
            zx = static_cast<float>(zx);
            zy = static_cast<float>(zy);
        }
        const double z = std::min(std::floor(zx), std::floor(zy));
        if (z >= 0 && z <= 255) frame.zoom = static_cast<std::uint8_t>(z);
    }
    if (frame.zoom > kMaxZoom) frame.zoom = kMaxZoom;
}

}  // namespace qgrad
