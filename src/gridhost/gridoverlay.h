// The gridded result drawn over the satellite map: each map pixel takes the
// colour of the grid's value at its position, blank where the grid has none.
#pragma once

#include "gridhost/kriging.h"
#include "gridhost/presentation.h"
#include "mapview/mapframe.h"

#include <QImage>

namespace qgrad {

// A 650 x 450 picture, transparent where the grid is blank or does not reach.
QImage DrawGridOverlay(const Grid& grid, const MapFrame& frame, const Presentation& presentation);

}  // namespace qgrad
