#include "gridhost/gridoverlay.h"

#include <cmath>
#include <vector>

namespace qgrad {

QImage DrawGridOverlay(const Grid& grid, const MapFrame& frame, const Presentation& presentation) {
    QImage image(kMapWidth, kMapHeight, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    if (grid.cols < 2 || grid.rows < 2 || !(grid.xSize > 0) || !(grid.ySize > 0)) return image;
    const BandLevels levels = ChooseLevels(grid, presentation.clip, presentation.bands);
    std::vector<QRgb> colours(levels.bands);
    for (int b = 0; b < levels.bands; ++b) colours[b] = PaletteColour(presentation.palette, (b + 0.5) / levels.bands).rgb();
    for (int y = 0; y < kMapHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kMapWidth; ++x) {
            const GeoPosition p = MapPixelToGeo(frame, x, y);
            // The nearest node: the picture is at the map's scale, not the grid's.
            const double col = std::round((p.lon - grid.xLL) / grid.xSize);
            const double row = std::round((p.lat - grid.yLL) / grid.ySize);
            if (!(col >= 0 && col < grid.cols && row >= 0 && row < grid.rows)) continue;
            const double v = grid.at(static_cast<int>(col), static_cast<int>(row));
            if (!Grid::Blank(v)) line[x] = colours[levels.BandOf(v)];
        }
    }
    return image;
}

}  // namespace qgrad
