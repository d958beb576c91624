#pragma once

namespace qgrad {

// Great-circle distance in metres between two positions in decimal degrees,
// by the haversine formula on a sphere of radius 6378137 m. Exactly 0 for
// identical positions.
double GeoDistance(double lat1, double lon1, double lat2, double lon2);

}  // namespace qgrad
