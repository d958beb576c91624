#include "mapview/overlay.h"
#include "common/geodesy.h"

#include <QPainter>

#include <cmath>
#include <numbers>
#include <stdexcept>

namespace qgrad {
namespace {

void Set2x2(QImage& image, QPoint p, QRgb colour) {
    for (int dy = 0; dy < 2; ++dy)
        for (int dx = 0; dx < 2; ++dx) {
            const int x = p.x() + dx;
            const int y = p.y() + dy;
            if (x >= 0 && y >= 0 && x < image.width() && y < image.height()) image.setPixel(x, y, colour);
        }
}

}  // namespace

QColor PlainMapFill() { return QColor(0x3A, 0x6E, 0xA5); }

long long ChooseScaleStep(double widthMetres) {
    long long step = kScaleSteps[0];
    auto consider = [&](long long s) {
        if (std::fabs(widthMetres / 7 - s) < std::fabs(widthMetres / 7 - step)) step = s;
    };
    for (int s : kScaleSteps) consider(s);
    // The table ends at 1 km; the series goes on as 2, 5, 10 times a power of ten.
    constexpr int kMantissas[] = {2, 5, 10};
    for (long long decade = kScaleSteps.back(); decade <= widthMetres; decade *= 10)
        for (int m : kMantissas)
            if (decade * m <= widthMetres) consider(decade * m);
    return step;
}

QString ScaleLengthText(double metres) {
    if (metres < 9999.5) return QString::number(static_cast<long long>(std::nearbyint(metres))) + "m";
    const double tenths = std::nearbyint(metres / 100);
    return QString::number(tenths / 10, 'f', std::fmod(tenths, 10) == 0 ? 0 : 1) + "km";
}

ScaleBar ComputeScaleBar(const MapFrame& frame, int x) {
    ScaleBar bar;
    const double metresPerPixel = 2 * std::numbers::pi * kEarthRadiusMetres * std::cos(frame.centreLat * std::numbers::pi / 180) /
                                  (256 * std::ldexp(1.0, frame.zoom));
    bar.widthMetres = kMapWidth * metresPerPixel;
    bar.heightMetres = kMapHeight * metresPerPixel;
    bar.step = ChooseScaleStep(bar.widthMetres);
    bar.x0 = x;
    // Next to a pole the ground shrinks to nothing and the bar's end leaves
    // the pixel range: a range failure, as a track position there is.
    bar.x1 = RoundPixel(x + (bar.step * kMapWidth) / bar.widthMetres);
    return bar;
}

void DrawScaleBar(QImage& image, const MapFrame& frame, int x, int y) {
    const ScaleBar bar = ComputeScaleBar(frame, x);
    QPainter p(&image);
    auto lines = [&](const QPen& pen) {
        p.setPen(pen);
        p.drawLine(bar.x0, y, bar.x1, y);
        p.drawLine(bar.x0, y - 5, bar.x0, y + 5);
        p.drawLine(bar.x1, y - 5, bar.x1, y + 5);
    };
    lines(QPen(Qt::white, 3, Qt::SolidLine, Qt::SquareCap));
    lines(QPen(Qt::black, 1));

    QFont font("Verdana");
    font.setBold(true);
    font.setPixelSize(11);  // a character cell 13 pixels high
    p.setFont(font);
    p.setPen(Qt::white);
    p.setBrush(Qt::NoBrush);
    auto label = [&](int left, int top, double metres) {
        p.drawText(QRect(left, top, 400, 40), Qt::AlignLeft | Qt::AlignTop, ScaleLengthText(metres));
    };
    label(325, 432, bar.widthMetres);
    label(5, 225, bar.heightMetres);
    label(bar.x0 + 5, y + 5, static_cast<double>(bar.step));
}

void DrawTrackOnMap(QImage& image, const MapFrame& frame, const std::vector<float>& lon,
                    const std::vector<float>& lat) {
    const QRgb lime = qRgb(0, 255, 0);
    std::vector<QPoint> polyline;
    polyline.reserve(std::min<std::size_t>(lon.size(), 1 << 16));
    auto flush = [&] {
        QPainter p(&image);
        p.setPen(QPen(QColor(lime), 1));
        if (polyline.size() > 1) p.drawPolyline(polyline.data(), static_cast<int>(polyline.size()));
        p.end();
        for (const QPoint& q : polyline) Set2x2(image, q, lime);
    };
    try {
        for (std::size_t i = 0; i < lon.size() && i < lat.size(); ++i) {
            if (i > 0 && lat[i] == 0.0f) continue;
            const QPoint q = GeoToMapPixel(frame, lon[i], lat[i]);
            // Many samples share a pixel: one vertex stands for them all.
            if (polyline.empty() || polyline.back() != q) polyline.push_back(q);
        }
    } catch (...) {
        flush();
        throw;
    }
    flush();
}

void CheckTrackPixels(const MapFrame& frame, const std::vector<float>& lon, const std::vector<float>& lat) {
    for (std::size_t i = 0; i < lon.size() && i < lat.size(); ++i)
        if (i == 0 || lat[i] != 0.0f) GeoToMapPixel(frame, lon[i], lat[i]);
}

}  // namespace qgrad
