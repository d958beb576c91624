#include "mapview/markers.h"

#include "common/numtext.h"

#include <algorithm>
#include <cmath>

namespace qgrad {
namespace {

// Control coordinates far outside the window are kept within a range every
// widget system takes.
int ToControl(double v) { return static_cast<int>(std::clamp(std::nearbyint(v), -1e7, 1e7)); }

}  // namespace

QString CursorLabelText(float lon, float lat) {
    auto part = [](double v, char positive, char negative) {
        const std::string digits = FormatFixed(std::fabs(v), 6, 12);
        // A value that rounds to zero sits on the line itself: no hemisphere.
        const bool zero = digits.find_first_not_of("0.") == std::string::npos;
        return QString::fromStdString(digits) + QChar(0x00B0) +
               (zero ? QString() : QString(QChar::fromLatin1(v < 0 ? negative : positive)));
    };
    return part(lat, 'N', 'S') + ", " + part(lon, 'E', 'W');
}

CursorPlacement PlaceCursor(const MapFrame& frame, int mapWidth, float lon, float lat, QSize ring, int labelHeight) {
    const QPoint px = GeoToMapPixel(frame, lon, lat);
    CursorPlacement c;
    c.ring = QPoint(ToControl(static_cast<double>(mapWidth) * px.x() / kMapWidth - ring.width() / 2.0),
                    ToControl(static_cast<double>(mapWidth) * px.y() / kMapWidth - ring.height() / 2.0));
    c.label = QPoint(c.ring.x() + 10, c.ring.y() - labelHeight - 10);
    c.text = CursorLabelText(lon, lat);
    return c;
}

QPoint PlaceMarker(const MapFrame& frame, int mapWidth, float lon, float lat, QSize picture) {
    const QPoint px = GeoToMapPixel(frame, lon, lat);
    return QPoint(ToControl(static_cast<double>(mapWidth) * px.x() / kMapWidth) - picture.width() / 2,
                  ToControl(static_cast<double>(mapWidth) * px.y() / kMapWidth) - picture.height());
}

}  // namespace qgrad
