// The map frame: a 650 x 450 image centred on (centreLon, centreLat) at a
// zoom level, and the projection of positions into its pixels.
#pragma once

#include <QPoint>

#include <cstdint>
#include <vector>

namespace qgrad {

inline constexpr int kMapWidth = 650;
inline constexpr int kMapHeight = 450;
inline constexpr int kMaxZoom = 18;

struct MapFrame {
    double centreLon = 0;
    double centreLat = 0;
    std::uint8_t zoom = kMaxZoom;
};

// A pixel coordinate: rounded to the nearest, halves to even. Throws
// std::range_error when it leaves the 32-bit range.
int RoundPixel(double v);

// The pixel of a position; throws std::range_error when it leaves the 32-bit
// range.
QPoint GeoToMapPixel(const MapFrame& frame, float lon, float lat);

// The position at the centre of map pixel (x, y): GeoToMapPixel undone.
struct GeoPosition {
    double lon = 0;
    double lat = 0;
};
GeoPosition MapPixelToGeo(const MapFrame& frame, double x, double y);

// After an opening the zoom rule's working values are 32-bit floats; in the
// folder command they stay doubles.
enum class ZoomPrecision { Single, Double };

// Centre the frame on the mean of the track, and choose the largest zoom at
// which the track's extent fits (capped at 18; the previous zoom when none
// can be computed). Throws std::invalid_argument for an empty track.
void FitFrameToTrack(const std::vector<float>& lon, const std::vector<float>& lat, ZoomPrecision precision,
                     MapFrame& frame);

}  // namespace qgrad
