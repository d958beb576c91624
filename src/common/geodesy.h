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
