#include "gridhost/gridoverlay.h"

#include "gridhost/gridsystem.h"

#include <algorithm>
#include <cmath>
#include <vector>

namespace qgrad {
namespace {

// Where each map pixel lies in the grid's own system, row by row; NaN where
// the grid does not reach. A metric grid's rows and columns are turned
// against north by its zone's convergence, so each pixel's position is
// projected into the zone rather than the grid's corners spread over the map.
std::vector<DataPoint> PixelsInGridSystem(const Grid& grid, const MapFrame& frame) {
    std::vector<DataPoint> pixels;
    pixels.reserve(static_cast<std::size_t>(kMapWidth) * kMapHeight);
    for (int y = 0; y < kMapHeight; ++y)
        for (int x = 0; x < kMapWidth; ++x) {
            const GeoPosition p = MapPixelToGeo(frame, x, y);
            pixels.push_back({p.lon, p.lat, 0});
        }
    if (!grid.Metric()) return pixels;
    // Only the pixels around the grid are projected: far from its zone a
    // map position may have no place in it.
    const double west = grid.xLL - grid.xSize, east = grid.xLL + grid.xSize * grid.cols;
    const double south = grid.yLL - grid.ySize, north = grid.yLL + grid.ySize * grid.rows;
    std::vector<double> cornerX = {west, east, west, east};
    std::vector<double> cornerY = {south, south, north, north};
    ToLonLat(grid.epsg, cornerX, cornerY);
    const auto [minLon, maxLon] = std::minmax_element(cornerX.begin(), cornerX.end());
    const auto [minLat, maxLat] = std::minmax_element(cornerY.begin(), cornerY.end());
    // The edges between the corners bow a little in longitude and latitude.
    const double marginLon = (*maxLon - *minLon) / 10;
    const double marginLat = (*maxLat - *minLat) / 10;
    std::vector<std::size_t> near;
    std::vector<DataPoint> lonLat;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const DataPoint& p = pixels[i];
        if (p.lon >= *minLon - marginLon && p.lon <= *maxLon + marginLon && p.lat >= *minLat - marginLat &&
            p.lat <= *maxLat + marginLat) {
            near.push_back(i);
            lonLat.push_back(p);
        }
        pixels[i] = {std::nan(""), std::nan(""), 0};
    }
    const std::vector<DataPoint> projected = InGridSystem(std::move(lonLat), grid.epsg);
    for (std::size_t n = 0; n < near.size(); ++n) pixels[near[n]] = projected[n];
    return pixels;
}

}  // namespace

QImage DrawGridOverlay(const Grid& grid, const MapFrame& frame, const Presentation& presentation) {
    QImage image(kMapWidth, kMapHeight, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    if (grid.cols < 2 || grid.rows < 2 || !(grid.xSize > 0) || !(grid.ySize > 0)) return image;
    const BandLevels levels = ChooseLevels(grid, presentation.clip, presentation.bands);
    std::vector<QRgb> colours(levels.bands);
    for (int b = 0; b < levels.bands; ++b) colours[b] = PaletteColour(presentation.palette, (b + 0.5) / levels.bands).rgb();
    const std::vector<DataPoint> pixels = PixelsInGridSystem(grid, frame);
    for (int y = 0; y < kMapHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kMapWidth; ++x) {
            const DataPoint& p = pixels[static_cast<std::size_t>(y) * kMapWidth + x];
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
