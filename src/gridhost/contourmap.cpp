#include "gridhost/contourmap.h"

#include "common/numtext.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <numbers>

namespace qgrad {

QColor TurboColour(double t) {
    t = std::clamp(t, 0.0, 1.0);
    // Polynomial fit of the Turbo colour map.
    const double r = 0.13572138 + t * (4.61539260 + t * (-42.66032258 + t * (132.13108234 + t * (-152.94239396 + t * 59.28637943))));
    const double g = 0.09140261 + t * (2.19418839 + t * (4.84296658 + t * (-14.18503333 + t * (4.27729857 + t * 2.82956604))));
    const double b = 0.10667330 + t * (12.64194608 + t * (-60.58204836 + t * (110.36276771 + t * (-89.90310912 + t * 27.34824973))));
    auto c = [](double v) { return static_cast<int>(std::lround(std::clamp(v, 0.0, 1.0) * 255)); };
    return QColor(c(r), c(g), c(b));
}

int BandLevels::BandOf(double v) const {
    if (!(high > low)) return bands / 2;
    const int b = static_cast<int>(std::floor((v - low) / (high - low) * bands));
    return std::clamp(b, 0, bands - 1);
}

BandLevels ChooseLevels(const Grid& grid) {
    std::vector<double> values;
    values.reserve(grid.z.size());
    for (double v : grid.z)
        if (!Grid::Blank(v)) values.push_back(v);
    BandLevels levels;
    if (values.empty()) return levels;
    auto at = [&](double q) {
        const auto k = static_cast<std::size_t>(q * static_cast<double>(values.size() - 1));
        std::nth_element(values.begin(), values.begin() + static_cast<std::ptrdiff_t>(k), values.end());
        return values[k];
    };
    levels.low = at(0.01);
    levels.high = at(0.99);
    if (!(levels.high > levels.low)) {
        levels.low -= 0.5;
        levels.high += 0.5;
    }
    return levels;
}

QImage DrawContourMap(const Grid& grid, const std::vector<DataPoint>& points) {
    constexpr int kLeft = 90, kTop = 40, kRight = 170, kBottom = 60;
    constexpr double kMetresPerDegree = 111319.49079327358;
    // The plot keeps the field's shape in metres.
    const double midLat = grid.yLL + grid.ySize * (grid.rows - 1) / 2;
    const double widthM = std::max(1e-9, grid.xSize * (grid.cols - 1) * std::cos(midLat * std::numbers::pi / 180)) * kMetresPerDegree;
    const double heightM = std::max(1e-9, grid.ySize * (grid.rows - 1)) * kMetresPerDegree;
    int plotW = 900;
    int plotH = static_cast<int>(std::lround(plotW * heightM / widthM));
    if (plotH > 900) {
        plotW = std::max(200, static_cast<int>(std::lround(plotW * 900.0 / plotH)));
        plotH = 900;
    }
    plotH = std::max(plotH, 120);

    QImage image(kLeft + plotW + kRight, kTop + plotH + kBottom, QImage::Format_RGB32);
    image.fill(Qt::white);
    const BandLevels levels = ChooseLevels(grid);
    std::vector<QRgb> palette(levels.bands);
    for (int b = 0; b < levels.bands; ++b) palette[b] = TurboColour((b + 0.5) / levels.bands).rgb();

    // Each pixel's bilinear value, classed into its band; blank where a
    // corner node is blank.
    for (int py = 0; py < plotH; ++py) {
        const double gy = (grid.rows - 1) * (1.0 - (py + 0.5) / plotH);
        const int r0 = std::clamp(static_cast<int>(gy), 0, std::max(0, grid.rows - 2));
        const double fy = gy - r0;
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(kTop + py));
        for (int px = 0; px < plotW; ++px) {
            const double gx = (grid.cols - 1) * (px + 0.5) / plotW;
            const int c0 = std::clamp(static_cast<int>(gx), 0, std::max(0, grid.cols - 2));
            const double fx = gx - c0;
            const int c1 = std::min(c0 + 1, grid.cols - 1), r1 = std::min(r0 + 1, grid.rows - 1);
            const double a = grid.at(c0, r0), b = grid.at(c1, r0), c = grid.at(c0, r1), d = grid.at(c1, r1);
            if (Grid::Blank(a) || Grid::Blank(b) || Grid::Blank(c) || Grid::Blank(d)) continue;
            const double v = (a * (1 - fx) + b * fx) * (1 - fy) + (c * (1 - fx) + d * fx) * fy;
            line[kLeft + px] = palette[levels.BandOf(v)];
        }
    }

    QPainter p(&image);
    // The data points, posted small.
    const double lonSpan = grid.xSize * (grid.cols - 1), latSpan = grid.ySize * (grid.rows - 1);
    auto toPixel = [&](double lon, double lat) {
        return QPointF(kLeft + (lon - grid.xLL) / lonSpan * plotW, kTop + (1 - (lat - grid.yLL) / latSpan) * plotH);
    };
    p.setPen(QPen(QColor(0, 0, 0, 110), 1));
    const std::size_t step = std::max<std::size_t>(1, points.size() / 200000);
    for (std::size_t i = 0; i < points.size(); i += step) p.drawPoint(toPixel(points[i].lon, points[i].lat));

    // Frame and axes.
    QFont font("DejaVu Sans");
    font.setPixelSize(12);
    p.setFont(font);
    p.setPen(Qt::black);
    p.drawRect(kLeft, kTop, plotW, plotH);
    for (int i = 0; i <= 4; ++i) {
        const double lon = grid.xLL + lonSpan * i / 4, lat = grid.yLL + latSpan * i / 4;
        const int x = kLeft + plotW * i / 4, y = kTop + plotH - plotH * i / 4;
        p.drawLine(x, kTop + plotH, x, kTop + plotH + 5);
        p.drawLine(kLeft - 5, y, kLeft, y);
        p.drawText(QRect(x - 60, kTop + plotH + 8, 120, 16), Qt::AlignCenter, QString::fromStdString(FormatFixed(lon, 5, 12)));
        p.drawText(QRect(2, y - 8, kLeft - 10, 16), Qt::AlignRight | Qt::AlignVCenter,
                   QString::fromStdString(FormatFixed(lat, 5, 12)));
    }
    p.drawText(QRect(kLeft, kTop + plotH + 30, plotW, 20), Qt::AlignCenter, "Longitude");
    p.save();
    p.translate(14, kTop + plotH / 2);
    p.rotate(-90);
    p.drawText(QRect(-100, -10, 200, 20), Qt::AlignCenter, "Latitude");
    p.restore();

    // The colour scale, its title on top.
    const int sx = kLeft + plotW + 30, sw = 24, sh = std::min(plotH, 400), sy = kTop + (plotH - sh) / 2;
    p.drawText(QRect(sx - 20, sy - 24, 140, 18), Qt::AlignLeft, "gradHz, nT/m");
    for (int b = 0; b < levels.bands; ++b) {
        const int y0 = sy + sh - sh * (b + 1) / levels.bands, y1 = sy + sh - sh * b / levels.bands;
        p.fillRect(sx, y0, sw, y1 - y0, QColor(palette[b]));
    }
    p.drawRect(sx, sy, sw, sh);
    for (int b = 0; b <= levels.bands; b += 4) {
        const int y = sy + sh - sh * b / levels.bands;
        const double v = levels.low + (levels.high - levels.low) * b / levels.bands;
        p.drawLine(sx + sw, y, sx + sw + 4, y);
        p.drawText(QRect(sx + sw + 8, y - 8, 100, 16), Qt::AlignLeft | Qt::AlignVCenter,
                   QString::fromStdString(FormatGeneral(std::round(v * 100) / 100)));
    }
    return image;
}

}  // namespace qgrad
