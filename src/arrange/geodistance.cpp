#include "arrange/geodistance.h"

#include "common/geodesy.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qgrad {

double GeoDistance(double lat1, double lon1, double lat2, double lon2) {
    constexpr double kRad = std::numbers::pi / 180.0;
    const double dPhi = (lat2 - lat1) * kRad;
    const double dLambda = (lon2 - lon1) * kRad;
    const double phi1 = lat1 * kRad;
    const double phi2 = lat2 * kRad;
    const double sPhi = std::sin(dPhi / 2);
    const double sLambda = std::sin(dLambda / 2);
    // Rounding can push a a hair past 1 for near-antipodal points.
    const double a = std::clamp(sPhi * sPhi + std::cos(phi1) * std::cos(phi2) * sLambda * sLambda, 0.0, 1.0);
    const double c = 2 * std::atan2(std::sqrt(a), std::sqrt(1 - a));
    return kEarthRadiusMetres * c;
}

}  // namespace qgrad
