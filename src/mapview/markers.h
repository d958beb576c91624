// Where the controls over the map go: the cursor ring and its label, the
// start and end markers. Map pixels become control pixels by one factor,
// the map control's width / 650.
#pragma once

#include "mapview/mapframe.h"

#include <QPoint>
#include <QSize>
#include <QString>

namespace qgrad {

struct CursorPlacement {
    QPoint ring;   // top-left of the ring
    QPoint label;  // top-left of the coordinate label
    QString text;  // CursorLabelText of the position
};

// The ring's label: latitude first, as a surveyor reads a position, each
// with its hemisphere: "55.750000°N, 37.500000°E". Six decimals are a tenth
// of a metre, finer than the GPS fix behind them.
QString CursorLabelText(float lon, float lat);

// Throws std::range_error for a position beyond the pixel range.
CursorPlacement PlaceCursor(const MapFrame& frame, int mapWidth, float lon, float lat, QSize ring, int labelHeight);

// Top-left of a picture whose bottom middle stands on the position.
QPoint PlaceMarker(const MapFrame& frame, int mapWidth, float lon, float lat, QSize picture);

}  // namespace qgrad
