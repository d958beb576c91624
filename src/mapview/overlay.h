// What is drawn on the map picture: the scale bar with the image's ground
// size, and the survey track.
#pragma once

#include "mapview/mapframe.h"

#include <QColor>
#include <QImage>
#include <QString>

#include <array>
#include <vector>

namespace qgrad {

inline constexpr std::array<int, 7> kScaleSteps = {10, 20, 50, 100, 200, 500, 1000};

struct ScaleBar {
    double widthMetres = 0;   // ground width of the 650-pixel image
    double heightMetres = 0;  // ground height of the 450-pixel image
    long long step = 0;       // the bar's length in metres
    int x0 = 0, x1 = 0;       // the bar's ends in pixels
};

// The step for an image `widthMetres` wide: the length nearest a seventh of
// it, the shorter one on a tie. The lengths are kScaleSteps and after them
// the 1-2-5 series on up to the image's width (2000, 5000, 10000, ...), so a
// frame of a hundred kilometres still gets a bar of some pixels' length.
long long ChooseScaleStep(double widthMetres);

// A length as the bar's labels write it: whole metres ("874m") below 10 km,
// kilometres with at most one decimal from there on ("12.3km", "100km").
QString ScaleLengthText(double metres);

// The bar for a frame, its left end at x: about a seventh of the image
// width, the shorter step on a tie. Throws std::range_error when its right
// end leaves the 32-bit pixel range (a centre at a pole).
ScaleBar ComputeScaleBar(const MapFrame& frame, int x);

// White-edged black bar with ticks and the three labels, on `image`.
void DrawScaleBar(QImage& image, const MapFrame& frame, int x, int y);

// Lime polyline through the track's positions with a 2 x 2 dot on each;
// later entries with latitude 0 are skipped. Throws std::range_error for a
// position beyond the 32-bit pixel range; what was drawn before stays.
void DrawTrackOnMap(QImage& image, const MapFrame& frame, const std::vector<float>& lon,
                    const std::vector<float>& lat);

// Projects the track as DrawTrackOnMap does, drawing nothing: throws where
// the drawing would.
void CheckTrackPixels(const MapFrame& frame, const std::vector<float>& lon, const std::vector<float>& lat);

// The picture under the overlay when no image came.
QColor PlainMapFill();

}  // namespace qgrad
