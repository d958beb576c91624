// The one home of the program's figures of the Earth. Every distance, map
// scale and grid spacing is taken on the sphere of the WGS 84 equatorial
// radius, as the point files' distances are.
#pragma once

#include <cmath>
#include <numbers>

namespace qgrad {

inline constexpr double kEarthRadiusMetres = 6378137.0;
// Metres along one degree of a great circle of that sphere (a meridian).
inline constexpr double kMetresPerDegree = kEarthRadiusMetres * std::numbers::pi / 180;

inline constexpr double Radians(double degrees) { return degrees * std::numbers::pi / 180; }

// Metres along one degree of longitude at `latitude` degrees.
inline double MetresPerDegreeLongitude(double latitude) { return kMetresPerDegree * std::cos(Radians(latitude)); }

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
