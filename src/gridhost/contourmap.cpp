#include "gridhost/contourmap.h"

#include "common/geodesy.h"
#include "common/numtext.h"

#include <QFontMetrics>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qgrad {
namespace {

constexpr int kScaleBarWidth = 24;
constexpr int kScaleTitleHeight = 24;
constexpr int kScaleLabelWidth = 100;

std::vector<QRgb> BandColours(const BandLevels& levels, Palette palette) {
    std::vector<QRgb> colours(levels.bands);
    for (int b = 0; b < levels.bands; ++b) colours[b] = PaletteColour(palette, (b + 0.5) / levels.bands).rgb();
    return colours;
}

BandLevels LevelsFor(const Grid& grid, const Presentation& presentation) {
    return ChooseLevels(grid, presentation.clip, presentation.bands);
}

// Each pixel of `area` takes the band of its bilinear value; pixels with a
// blank corner node are left as they are.
void PaintGrid(const Grid& grid, const BandLevels& levels, const std::vector<QRgb>& colours, QImage& image,
               const QRect& area) {
    const int w = area.width(), h = area.height();
    for (int py = 0; py < h; ++py) {
        const double gy = (grid.rows - 1) * (1.0 - (py + 0.5) / h);
        const int r0 = std::clamp(static_cast<int>(gy), 0, std::max(0, grid.rows - 2));
        const double fy = gy - r0;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(area.top() + py));
        for (int px = 0; px < w; ++px) {
            const double gx = (grid.cols - 1) * (px + 0.5) / w;
            const int c0 = std::clamp(static_cast<int>(gx), 0, std::max(0, grid.cols - 2));
            const double fx = gx - c0;
            const int c1 = std::min(c0 + 1, grid.cols - 1), r1 = std::min(r0 + 1, grid.rows - 1);
            const double a = grid.at(c0, r0), b = grid.at(c1, r0), c = grid.at(c0, r1), d = grid.at(c1, r1);
            if (Grid::Blank(a) || Grid::Blank(b) || Grid::Blank(c) || Grid::Blank(d)) continue;
            const double v = (a * (1 - fx) + b * fx) * (1 - fy) + (c * (1 - fx) + d * fx) * fy;
            line[area.left() + px] = colours[levels.BandOf(v)];
        }
    }
}

// The bar fills `bar`; its title stands above it and its values to its right.
void PaintColourScale(QPainter& p, const QRect& bar, const BandLevels& levels, const std::vector<QRgb>& colours) {
    const int sx = bar.left(), sy = bar.top(), sw = bar.width(), sh = bar.height();
    p.drawText(QRect(sx - 20, sy - kScaleTitleHeight, 140, 18), Qt::AlignLeft, "gradHz, nT/m");
    for (int b = 0; b < levels.bands; ++b) {
        const int y0 = sy + sh - sh * (b + 1) / levels.bands, y1 = sy + sh - sh * b / levels.bands;
        p.fillRect(sx, y0, sw, y1 - y0, QColor(colours[b]));
    }
    p.drawRect(sx, sy, sw, sh);
    const int labelEvery = std::max(1, levels.bands / 4);
    for (int b = 0; b <= levels.bands; b += labelEvery) {
        const int y = sy + sh - sh * b / levels.bands;
        const double v = levels.low + (levels.high - levels.low) * b / levels.bands;
        p.drawLine(sx + sw, y, sx + sw + 4, y);
        p.drawText(QRect(sx + sw + 8, y - 8, kScaleLabelWidth, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(FormatGeneral(std::round(v * 100) / 100)));
    }
}

QFont LabelFont() {
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    return font;
}

void PostPoints(QPainter& p, const std::vector<DataPoint>& points, PointPosting posting, const QRect& plot,
                const Grid& grid) {
    if (posting == PointPosting::Off || points.empty()) return;
    const double lonSpan = grid.xSize * (grid.cols - 1), latSpan = grid.ySize * (grid.rows - 1);
    auto toPixel = [&](double lon, double lat) {
        return QPointF(plot.left() + (lon - grid.xLL) / lonSpan * plot.width(),
                       plot.top() + (1 - (lat - grid.yLL) / latSpan) * plot.height());
    };
    if (posting == PointPosting::Every) {
        p.setPen(QPen(QColor(0, 0, 0, 110), 1));
        const std::size_t step = std::max<std::size_t>(1, points.size() / 200000);
        for (std::size_t i = 0; i < points.size(); i += step) p.drawPoint(toPixel(points[i].lon, points[i].lat));
        return;
    }
    // Sparse: one faint pixel for each cell of a coarse raster that holds
    // any point, so the posting marks the coverage without covering the map.
    constexpr int kCell = 6;
    const int cellsX = plot.width() / kCell + 1, cellsY = plot.height() / kCell + 1;
    std::vector<bool> taken(static_cast<std::size_t>(cellsX) * cellsY);
    p.setPen(QPen(QColor(255, 140, 0, 150), 1));
    for (const DataPoint& d : points) {
        const QPointF at = toPixel(d.lon, d.lat);
        const int cx = static_cast<int>((at.x() - plot.left()) / kCell), cy = static_cast<int>((at.y() - plot.top()) / kCell);
        if (cx < 0 || cy < 0 || cx >= cellsX || cy >= cellsY) continue;
        const std::size_t cell = static_cast<std::size_t>(cy) * cellsX + cx;
        if (taken[cell]) continue;
        taken[cell] = true;
        p.drawPoint(at);
    }
}

}  // namespace

QSize PlotSize(const Grid& grid, int longest) {
    const double midLat = grid.yLL + grid.ySize * (grid.rows - 1) / 2;
    const double widthM = grid.Metric() ? std::max(1e-9, grid.xSize * (grid.cols - 1))
                                        : std::max(1e-9, grid.xSize * (grid.cols - 1) * std::cos(midLat * std::numbers::pi / 180)) * kMetresPerDegree;
    const double heightM = std::max(1e-9, grid.ySize * (grid.rows - 1)) * grid.MetresUp();
    const double scale = longest / std::max(widthM, heightM);
    return QSize(std::max(1, static_cast<int>(std::lround(widthM * scale))),
                 std::max(1, static_cast<int>(std::lround(heightM * scale))));
}

QString BlankMapNote(const Grid& grid) {
    for (int r = 0; r + 1 < grid.rows; ++r)
        for (int c = 0; c + 1 < grid.cols; ++c)
            if (!Grid::Blank(grid.at(c, r)) && !Grid::Blank(grid.at(c + 1, r)) && !Grid::Blank(grid.at(c, r + 1)) &&
                !Grid::Blank(grid.at(c + 1, r + 1)))
                return {};
    return QString("Nothing to draw: no cell of the %1 by %2 grid has its four corners inside the outline of the "
                   "points, which lie in a strip narrower than one cell. Grid finer across the strip, in cells about "
                   "as long as wide: raise NumCols and NumRows in the script.")
        .arg(grid.cols)
        .arg(grid.rows);
}

QImage DrawGridPicture(const Grid& grid, const Presentation& presentation, QSize size) {
    QImage image(size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    const BandLevels levels = LevelsFor(grid, presentation);
    PaintGrid(grid, levels, BandColours(levels, presentation.palette), image, image.rect());
    return image;
}

QImage DrawColourScale(const Grid& grid, const Presentation& presentation, int magnify) {
    constexpr int kMargin = 10, kBarHeight = 300;
    QImage image(magnify * (kMargin + 20 + kScaleBarWidth + 8 + kScaleLabelWidth),
                 magnify * (kMargin + kScaleTitleHeight + kBarHeight + kMargin + 8), QImage::Format_RGB32);
    image.fill(Qt::white);
    const BandLevels levels = LevelsFor(grid, presentation);
    QPainter p(&image);
    p.setRenderHint(QPainter::TextAntialiasing);
    p.scale(magnify, magnify);
    p.setFont(LabelFont());
    p.setPen(Qt::black);
    PaintColourScale(p, QRect(kMargin + 20, kMargin + kScaleTitleHeight, kScaleBarWidth, kBarHeight), levels,
                     BandColours(levels, presentation.palette));
    return image;
}

QImage DrawContourMap(const Grid& grid, const std::vector<DataPoint>& points, const Presentation& presentation,
                      const QString& note) {
    constexpr int kLeft = 90, kTop = 40, kRight = 170, kBottom = 60, kNoteMargin = 8;
    constexpr int kLongestSide = 900, kScaleMin = 240, kScaleMax = 400;
    // The plot keeps the field's shape in metres however narrow it is; the
    // colour scale keeps a readable height beside a low plot.
    const QSize plotSize = PlotSize(grid, kLongestSide);
    const int plotW = plotSize.width(), plotH = plotSize.height();
    // The note wraps across the whole width above the plot, however many
    // lines that takes.
    const int noteW = kLeft + plotW + kRight - 2 * kNoteMargin;
    constexpr int kNoteFlags = Qt::AlignLeft | Qt::AlignTop | Qt::TextWordWrap;
    const int noteH =
        note.isEmpty()
            ? 0
            : QFontMetrics(LabelFont()).boundingRect(0, 0, noteW, 0, kNoteFlags, note).height() + kNoteMargin;
    const int top = kTop + noteH;
    const int sh = std::clamp(plotH, kScaleMin, kScaleMax);
    const int bodyH = std::max(plotH, sh);
    const QRect plot(kLeft, top + (bodyH - plotH) / 2, plotW, plotH);

    QImage image(kLeft + plotW + kRight, top + bodyH + kBottom, QImage::Format_RGB32);
    image.fill(Qt::white);
    const BandLevels levels = LevelsFor(grid, presentation);
    const std::vector<QRgb> colours = BandColours(levels, presentation.palette);
    PaintGrid(grid, levels, colours, image, plot);

    QPainter p(&image);
    PostPoints(p, points, presentation.posting, plot, grid);

    // Frame and axes, with as many ticks as the sides have room for.
    p.setFont(LabelFont());
    p.setPen(Qt::black);
    p.drawRect(plot);
    if (!note.isEmpty()) p.drawText(QRect(kNoteMargin, kNoteMargin, noteW, noteH), kNoteFlags, note);
    const double lonSpan = grid.xSize * (grid.cols - 1), latSpan = grid.ySize * (grid.rows - 1);
    // A plot too low for two latitude labels gets one, at its foot.
    const int ticksX = std::clamp(plotW / 120, 1, 4), ticksY = plotH < 32 ? 0 : std::clamp(plotH / 40, 1, 4);
    // Degrees to about a metre; a metric grid's metres to a decimetre.
    const int decimals = grid.Metric() ? 1 : 5;
    for (int i = 0; i <= ticksX; ++i) {
        const double lon = grid.xLL + lonSpan * i / ticksX;
        const int x = plot.left() + plotW * i / ticksX;
        p.drawLine(x, plot.bottom() + 1, x, plot.bottom() + 6);
        p.drawText(QRect(x - 60, plot.bottom() + 9, 120, 16), Qt::AlignCenter, QString::fromStdString(FormatFixed(lon, decimals, 12)));
    }
    for (int i = 0; i <= ticksY; ++i) {
        const double lat = grid.yLL + latSpan * i / std::max(1, ticksY);
        const int y = plot.bottom() + 1 - plotH * i / std::max(1, ticksY);
        p.drawLine(kLeft - 5, y, kLeft, y);
        p.drawText(QRect(2, y - 8, kLeft - 10, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(FormatFixed(lat, decimals, 12)));
    }
    p.drawText(QRect(kLeft, plot.bottom() + 31, plotW, 20), Qt::AlignCenter, grid.Metric() ? "Easting, m" : "Longitude");
    p.save();
    p.translate(14, plot.top() + plotH / 2);
    p.rotate(-90);
    p.drawText(QRect(-100, -10, 200, 20), Qt::AlignCenter, grid.Metric() ? "Northing, m" : "Latitude");
    p.restore();

    PaintColourScale(p, QRect(kLeft + plotW + 30, top + (bodyH - sh) / 2, kScaleBarWidth, sh), levels, colours);
    return image;
}

}  // namespace qgrad
