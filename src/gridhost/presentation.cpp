#include "gridhost/presentation.h"

#include "common/numtext.h"
#include "common/robuststats.h"

#include <algorithm>
#include <cmath>
#include <stdexcept>

namespace qgrad {
namespace {

int Channel(double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); }

QColor Blend(const QColor& from, const QColor& to, double t) {
    return QColor(Channel((from.redF() * (1 - t) + to.redF() * t)), Channel(from.greenF() * (1 - t) + to.greenF() * t),
                  Channel(from.blueF() * (1 - t) + to.blueF() * t));
}

// The k-th smallest of the values (reorders them).
double Nth(std::vector<double>& values, std::size_t k) {
    std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
    return values[k];
}

double AtFraction(std::vector<double>& values, double q) {
    return Nth(values, static_cast<std::size_t>(std::clamp(q, 0.0, 1.0) * static_cast<double>(values.size() - 1)));
}

double ParsedNumber(const std::string& whole, std::string_view part) {
    double v = 0;
    if (!TryParseNumber(part, v) || !std::isfinite(v)) throw std::invalid_argument("not a clip range: \"" + whole + "\"");
    return v;
}

}  // namespace

Presentation Presentation::FirstPictures() {
    Presentation p;
    p.palette = Palette::Rainbow;
    p.clip = ClipRange::Percentiles(0.01, 0.99);
    p.posting = PointPosting::Every;
    p.bands = 16;
    return p;
}

QColor TurboColour(double t) {
    t = std::clamp(t, 0.0, 1.0);
    // Polynomial fit of the Turbo colour map.
    const double r = 0.13572138 + t * (4.61539260 + t * (-42.66032258 + t * (132.13108234 + t * (-152.94239396 + t * 59.28637943))));
    const double g = 0.09140261 + t * (2.19418839 + t * (4.84296658 + t * (-14.18503333 + t * (4.27729857 + t * 2.82956604))));
    const double b = 0.10667330 + t * (12.64194608 + t * (-60.58204836 + t * (110.36276771 + t * (-89.90310912 + t * 27.34824973))));
    return QColor(Channel(r), Channel(g), Channel(b));
}

QColor PaletteColour(Palette palette, double t) {
    t = std::clamp(t, 0.0, 1.0);
    switch (palette) {
    case Palette::Greyscale: {
        const int v = Channel(1 - t);
        return QColor(v, v, v);
    }
    case Palette::Diverging: {
        static const QColor blue(33, 102, 172), white(255, 255, 255), red(178, 24, 43);
        return t < 0.5 ? Blend(blue, white, t * 2) : Blend(white, red, t * 2 - 1);
    }
    case Palette::Rainbow:
        break;
    }
    return TurboColour(t);
}

int BandLevels::BandOf(double v) const {
    if (!(high > low)) return bands / 2;
    const int b = static_cast<int>(std::floor((v - low) / (high - low) * bands));
    return std::clamp(b, 0, bands - 1);
}

BandLevels ChooseLevels(const Grid& grid, const ClipRange& clip, int bands) {
    std::vector<double> values;
    values.reserve(grid.z.size());
    for (double v : grid.z)
        if (!Grid::Blank(v)) values.push_back(v);
    BandLevels levels;
    levels.bands = std::max(1, bands);
    switch (clip.method) {
    case ClipMethod::Symmetric:
        levels.low = -std::abs(clip.a);
        levels.high = std::abs(clip.a);
        break;
    case ClipMethod::Between:
        levels.low = std::min(clip.a, clip.b);
        levels.high = std::max(clip.a, clip.b);
        break;
    case ClipMethod::RobustSpread: {
        if (values.empty()) return levels;
        const double median = MedianOf(values);
        const double spread = std::abs(clip.a) * kMadToSigma * MedianAbsoluteDeviation(values, median);
        levels.low = median - spread;
        levels.high = median + spread;
        break;
    }
    case ClipMethod::Percentiles:
        if (values.empty()) return levels;
        levels.low = AtFraction(values, clip.a);
        levels.high = AtFraction(values, clip.b);
        break;
    }
    if (!(levels.high > levels.low)) {
        levels.low -= 0.5;
        levels.high += 0.5;
    }
    return levels;
}

BandLevels ChooseLevels(const Grid& grid) {
    const Presentation first = Presentation::FirstPictures();
    return ChooseLevels(grid, first.clip, first.bands);
}

Palette ParsePalette(const std::string& text) {
    if (text == "grey" || text == "gray") return Palette::Greyscale;
    if (text == "diverging") return Palette::Diverging;
    if (text == "rainbow") return Palette::Rainbow;
    throw std::invalid_argument("not a palette: \"" + text + "\" (grey, diverging or rainbow)");
}

ClipRange ParseClip(const std::string& text) {
    const std::string_view t = text;
    if (t.ends_with("sd")) {
        const double k = ParsedNumber(text, t.substr(0, t.size() - 2));
        if (k > 0) return ClipRange::RobustSpread(k);
    } else if (const auto colon = t.find(':'); colon != std::string_view::npos) {
        const double low = ParsedNumber(text, t.substr(0, colon)), high = ParsedNumber(text, t.substr(colon + 1));
        if (high > low) return ClipRange::Between(low, high);
    } else {
        const double n = ParsedNumber(text, t);
        if (n > 0) return ClipRange::Symmetric(n);
    }
    throw std::invalid_argument("not a clip range: \"" + text + "\" (N, LOW:HIGH or Ksd)");
}

}  // namespace qgrad
