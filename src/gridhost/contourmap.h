// The map picture beside the grid: colour-filled bands of the gridded
// gradient, the data points posted when asked, a colour scale and the axes;
// and the pieces the GIS overlays take from it.
#pragma once

#include "gridhost/kriging.h"
#include "gridhost/presentation.h"

#include <QImage>
#include <QSize>
#include <QString>

#include <vector>

namespace qgrad {

// Pixels of the grid's area with a metre the same length across and up,
// the longer side `longest` pixels; a side is never less than one pixel.
QSize PlotSize(const Grid& grid, int longest);

// The grid alone, one band colour per pixel and transparent where blank;
// pixel rows run north to south over the nodes' extent.
QImage DrawGridPicture(const Grid& grid, const Presentation& presentation, QSize size);

// The colour scale with its title and values, on white; `magnify` times
// the screen's size, for print.
QImage DrawColourScale(const Grid& grid, const Presentation& presentation, int magnify = 1);

// What the picture and the person are told when no cell of the grid has
// four gridded corners, so that the pictures would colour nothing (points in
// a strip narrower than one cell, as a long swath on a grid of as many rows
// as columns gives); empty when some cell can be drawn.
QString BlankMapNote(const Grid& grid);

// The map picture; a `note`, when given, stands in a line of its own above
// the plot.
QImage DrawContourMap(const Grid& grid, const std::vector<DataPoint>& points,
                      const Presentation& presentation = {}, const QString& note = {});

}  // namespace qgrad
