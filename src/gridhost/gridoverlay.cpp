#include "gridhost/gridoverlay.h"

#include "gridhost/gridsystem.h"

#include <QFont>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <stdexcept>
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

QImage DrawCoverageOverlay(const Coverage& coverage, const MapFrame& frame) {
    QImage image(kMapWidth, kMapHeight, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    if (coverage.cols < 1 || coverage.rows < 1 || !(coverage.xSize > 0) || !(coverage.ySize > 0)) return image;
    // Lines across a faint wash: the picture under a gap stays readable.
    constexpr int kPitch = 6, kLine = 2;
    const QRgb wash = qRgba(qRed(kUncoveredHatch), qGreen(kUncoveredHatch), qBlue(kUncoveredHatch), 60);
    for (int y = 0; y < kMapHeight; ++y) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < kMapWidth; ++x) {
            const GeoPosition p = MapPixelToGeo(frame, x, y);
            const double col = std::floor((p.lon - coverage.xLL) / coverage.xSize);
            const double row = std::floor((p.lat - coverage.yLL) / coverage.ySize);
            if (!(col >= 0 && col < coverage.cols && row >= 0 && row < coverage.rows)) continue;
            if (!coverage.Uncovered(static_cast<int>(col), static_cast<int>(row))) continue;
            line[x] = (x + y) % kPitch < kLine ? kUncoveredHatch : wash;
        }
    }
    return image;
}

void DrawTargetMarkers(QImage& image, const MapFrame& frame, const std::vector<Target>& targets) {
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    QFont font = p.font();
    font.setPixelSize(kTargetMarkerRadius + 1);
    font.setBold(true);
    p.setFont(font);
    // The strongest last, on top where markers overlap.
    for (auto t = targets.rbegin(); t != targets.rend(); ++t) {
        QPoint at;
        try {
            at = GeoToMapPixel(frame, static_cast<float>(t->lon), static_cast<float>(t->lat));
        } catch (const std::range_error&) {
            continue;
        }
        const QRect disc(at.x() - kTargetMarkerRadius, at.y() - kTargetMarkerRadius, 2 * kTargetMarkerRadius + 1,
                         2 * kTargetMarkerRadius + 1);
        p.setPen(QPen(Qt::black, 1));
        p.setBrush(QColor::fromRgb(kTargetMarkerFill));
        p.drawEllipse(disc);
        p.drawText(disc, Qt::AlignCenter, QString::number(t->number));
    }
}

}  // namespace qgrad
