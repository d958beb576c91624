// The map picture beside the grid: colour-filled bands of the gridded
// gradient, the data points posted, a colour scale and the axes.
#pragma once

#include "gridhost/kriging.h"

#include <QColor>
#include <QImage>

#include <vector>

namespace qgrad {

// The Turbo rainbow, from violet-blue at 0 to red at 1.
QColor TurboColour(double t);

struct BandLevels {
    double low = 0, high = 1;  // values beyond take the end colours
    int bands = 16;
    int BandOf(double v) const;
};
// Levels over the grid's values, from the 1st to the 99th percentile so
// that a single strong anomaly does not take the whole scale.
BandLevels ChooseLevels(const Grid& grid);

QImage DrawContourMap(const Grid& grid, const std::vector<DataPoint>& points);

}  // namespace qgrad
