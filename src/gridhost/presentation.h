// How the gridded gradient is shown: its colours, the range they span and
// whether the data points are posted. One value that the picture, the viewer
// and the GIS overlays all take.
#pragma once

#include "gridhost/kriging.h"

#include <QColor>

#include <string>

namespace qgrad {

enum class Palette {
    Greyscale,  // white for the lowest values to black for the highest
    Diverging,  // blue, white at the middle of the range, red
    Rainbow,    // the Turbo colour scale of the first pictures
};

enum class ClipMethod {
    Symmetric,     // -N .. +N
    Between,       // an explicit low .. high
    RobustSpread,  // median ± k robust standard deviations (1.4826 × MAD)
    Percentiles,   // between two fractions of the sorted node values
};

struct ClipRange {
    ClipMethod method = ClipMethod::RobustSpread;
    double a = 3;  // N, low, k or the low fraction
    double b = 0;  // high or the high fraction

    static ClipRange Symmetric(double n) { return {ClipMethod::Symmetric, n, 0}; }
    static ClipRange Between(double low, double high) { return {ClipMethod::Between, low, high}; }
    static ClipRange RobustSpread(double k) { return {ClipMethod::RobustSpread, k, 0}; }
    static ClipRange Percentiles(double low, double high) { return {ClipMethod::Percentiles, low, high}; }
};

enum class PointPosting {
    Off,
    Sparse,  // faint single pixels, at most one in each few pixels
    Every,   // every point, as the first pictures posted them
};

// The default clips at the median ± 3 robust standard deviations: both are
// taken from the middle half of the nodes, so a strong dipole (however large
// its values, and over up to a quarter of the grid) does not widen the range
// and wash the rest of the survey into one colour, as a min/max or a 1st to
// 99th percentile stretch does as soon as the anomaly covers one node in a
// hundred.
struct Presentation {
    Palette palette = Palette::Greyscale;
    ClipRange clip;
    PointPosting posting = PointPosting::Off;
    int bands = 32;

    // The pictures as first drawn: Turbo colours in 16 bands over the 1st to
    // 99th percentile, every point posted.
    static Presentation FirstPictures();
};

// The colour at t, 0 (lowest) to 1 (highest).
QColor PaletteColour(Palette palette, double t);

// The Turbo rainbow, from violet-blue at 0 to red at 1.
QColor TurboColour(double t);

struct BandLevels {
    double low = 0, high = 1;  // values beyond take the end colours
    int bands = 16;
    int BandOf(double v) const;
};

// Levels over the grid's values by the clip rule; a range that comes out
// empty (a flat grid) is widened to ±0.5 about its value.
BandLevels ChooseLevels(const Grid& grid, const ClipRange& clip, int bands);
// The first pictures' levels: the 1st to the 99th percentile in 16 bands.
BandLevels ChooseLevels(const Grid& grid);

// Settings from their command-line words: "grey", "diverging", "rainbow";
// "N" (symmetric), "LOW:HIGH" (between), "Ksd" (robust spread).
// Throw std::invalid_argument naming the text.
Palette ParsePalette(const std::string& text);
ClipRange ParseClip(const std::string& text);

}  // namespace qgrad
