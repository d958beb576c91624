// The gridded result drawn over the satellite map: each map pixel takes the
// colour of the grid's value at its position, blank where the grid has none.
#pragma once

#include "gridhost/coverage.h"
#include "gridhost/kriging.h"
#include "gridhost/presentation.h"
#include "gridhost/targets.h"
#include "mapview/mapframe.h"

#include <QColor>
#include <QImage>

#include <vector>

namespace qgrad {

// A 650 x 450 picture, transparent where the grid is blank or does not reach.
QImage DrawGridOverlay(const Grid& grid, const MapFrame& frame, const Presentation& presentation);

// The ground left uncovered: a 650 x 450 picture hatched across each map
// pixel whose position falls in an uncovered cell, transparent elsewhere.
inline constexpr QRgb kUncoveredHatch = 0xFFFF4000;
QImage DrawCoverageOverlay(const Coverage& coverage, const MapFrame& frame);

// A numbered disc on each target's map pixel, as the track's points are
// placed; a target whose pixel is beyond the pixel range is left off.
inline constexpr QRgb kTargetMarkerFill = 0xFFFFD400;
inline constexpr int kTargetMarkerRadius = 9;
void DrawTargetMarkers(QImage& image, const MapFrame& frame, const std::vector<Target>& targets);

}  // namespace qgrad
