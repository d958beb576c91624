// The one home of the program's figures of the Earth. Every distance, map
// scale and grid spacing is taken on the sphere of the WGS 84 equatorial
// radius, as the point files' distances are.
#pragma once

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qgrad {

inline constexpr double kEarthRadiusMetres = 6378137.0;
// Metres along one degree of a great circle of that sphere (a meridian).
inline constexpr double kMetresPerDegree = kEarthRadiusMetres * std::numbers::pi / 180;

inline constexpr double Radians(double degrees) { return degrees * std::numbers::pi / 180; }

// Metres along one degree of longitude at `latitude` degrees.
inline double MetresPerDegreeLongitude(double latitude) { return kMetresPerDegree * std::cos(Radians(latitude)); }

// The WGS 84 UTM zone (1 to 60) that holds a position: six degrees of
// longitude each, widened over south-west Norway (32V reaches 3 degrees east)
// and over Svalbard (31X, 33X, 35X and 37X take the even zones' longitudes).
// Beyond the zones' latitudes (84 N, 80 S) the nearest band's rule holds.
inline int UtmZone(double lon, double lat) {
    const int zone = std::clamp(static_cast<int>(std::floor((lon + 180) / 6)) + 1, 1, 60);
    if (lat >= 56 && lat < 64 && lon >= 3 && lon < 12) return 32;
    if (lat >= 72 && lon >= 0 && lon < 42) {
        if (lon < 9) return 31;
        if (lon < 21) return 33;
        if (lon < 33) return 35;
        return 37;
    }
    return zone;
}

// The EPSG code of the WGS 84 UTM projection of the position's zone and
// hemisphere.
inline int UtmEpsgCode(double lon, double lat) { return (lat < 0 ? 32700 : 32600) + UtmZone(lon, lat); }

}  // namespace qgrad

namespace qgrad {

// Degrees of latitude and of longitude spanned by a step of `north` and
// `east` metres at `latitude` degrees: the exact local conversion on the
// sphere, as the distances along the track measure it. Steps of a few metres
// are all it serves, where the sphere's curvature does not show.
struct DegreeStep {
    double lat = 0, lon = 0;
};

inline DegreeStep DegreesOfMetres(double east, double north, double latitude) {
    return {north / kMetresPerDegree, east / MetresPerDegreeLongitude(latitude)};
}

}  // namespace qgrad
