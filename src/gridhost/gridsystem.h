// Positions between longitude and latitude (WGS 84) and the projected
// system of a metric grid, by GDAL's projection library: the grid's metres
// are the system's, as a GIS reads them back.
#pragma once

#include "gridhost/gridjob.h"

#include <vector>

namespace qgrad {

// The WGS 84 UTM system of the zone and hemisphere that hold the middle of
// the points' extent.
int MetricGridEpsg(const std::vector<DataPoint>& lonLat);

// The points with lon and lat replaced by easting and northing in `epsg`,
// in place: a caller done with the longitudes and latitudes moves them in
// and no second list is made. Throws GridHostError for a position the
// system cannot take.
std::vector<DataPoint> InGridSystem(std::vector<DataPoint> lonLat, int epsg);

// Eastings and northings of `epsg` replaced, in place, by longitudes and
// latitudes. Throws GridHostError for a position that has none.
void ToLonLat(int epsg, std::vector<double>& x, std::vector<double>& y);

}  // namespace qgrad
