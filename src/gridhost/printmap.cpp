#include "gridhost/printmap.h"

#include "common/fileio.h"
#include "common/geodesy.h"
#include "gridhost/contourmap.h"
#include "gridhost/gridsystem.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPainterPath>
#include <QPdfWriter>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <unordered_map>
#include <vector>

namespace qgrad {
namespace {

constexpr int kDotsPerInch = 300;
// The picture is the page at a screen's sharpness: legible when opened
// whole, and a few hundred kilobytes as a PNG.
constexpr int kPictureDotsPerInch = 150;
// The grid's picture is drawn at most this many pixels along its longer
// side: finer than print needs, bounded for grids of any size.
constexpr int kMostPicturePixels = 3000;

QString Metres(double m) {
    if (m >= 1000 && std::fmod(m, 1000) == 0) return PageText("%1 km").arg(m / 1000);
    return PageText("%1 m").arg(m);
}

struct MapPlacement {
    QRectF rect;       // the grid's extent on the page
    double perMetre;   // page pixels per metre
    double widthM, heightM;
};

MapPlacement PlaceMap(const Grid& grid, const QRectF& room) {
    MapPlacement m;
    m.widthM = std::max(1e-6, grid.xSize * (grid.cols - 1) * grid.MetresAcross());
    m.heightM = std::max(1e-6, grid.ySize * (grid.rows - 1) * grid.MetresUp());
    m.perMetre = std::min(room.width() / m.widthM, room.height() / m.heightM);
    const QSizeF size(m.widthM * m.perMetre, m.heightM * m.perMetre);
    m.rect = QRectF(room.left() + (room.width() - size.width()) / 2, room.top() + (room.height() - size.height()) / 2,
                    size.width(), size.height());
    return m;
}

// A tick on one side of the map: how far along the side, in page pixels,
// and its label.
struct Tick {
    double at;
    QString label;
};

// Ticks at whole steps of the grid system's own coordinate (easting or
// northing) on a metric grid, else at whole steps from the south-west
// corner; wide enough apart that the longest label fits between ticks.
std::vector<Tick> MetreTicks(double origin, double length, const MapPlacement& m, const QFontMetricsF& fm, double unit) {
    const QString widest = QString::number(origin + length, 'f', 0);
    const double room = (fm.horizontalAdvance(widest) + 4 * unit) / m.perMetre;
    double step = NiceLength(length / 5);
    while (step < room) step = NiceLength(step * 2.5);
    std::vector<Tick> ticks;
    for (double v = std::ceil(origin / step - 1e-9) * step; v <= origin + length + 1e-9; v += step)
        ticks.push_back({(v - origin) * m.perMetre, QString::number(v, 'f', step < 1 ? 1 : 0)});
    return ticks;
}

// Ticks where whole steps of longitude (along the south side) or latitude
// (along the west side) cross the side. On a metric grid the meridians and
// parallels are not square to its sides, so each side's degrees are found
// point by point along it.
std::vector<Tick> DegreeTicks(const Grid& grid, bool across, double length, const MapPlacement& m,
                              const QFontMetricsF& fm, double unit) {
    constexpr int kSamples = 256;
    std::vector<double> x(kSamples + 1), y(kSamples + 1);
    for (int i = 0; i <= kSamples; ++i) {
        const double f = static_cast<double>(i) / kSamples;
        x[i] = grid.xLL + (across ? f * grid.xSize * (grid.cols - 1) : 0);
        y[i] = grid.yLL + (across ? 0 : f * grid.ySize * (grid.rows - 1));
    }
    if (grid.Metric()) ToLonLat(grid.epsg, x, y);
    const std::vector<double>& degrees = across ? x : y;
    const double first = degrees.front(), last = degrees.back();
    if (!(last > first)) return {};
    const double perDegree = length * m.perMetre / (last - first);
    auto decimals = [](double step) { return std::max(0, static_cast<int>(std::ceil(-std::log10(step) - 1e-9))); };
    double step = NiceLength((last - first) / 4);
    while (step * perDegree < fm.horizontalAdvance(QString::number(last, 'f', decimals(step))) + 4 * unit)
        step = NiceLength(step * 2.5);
    std::vector<Tick> ticks;
    std::size_t i = 0;
    for (double v = std::ceil(first / step - 1e-9) * step; v <= last + 1e-12; v += step) {
        while (i + 1 < degrees.size() && degrees[i + 1] < v) ++i;
        const std::size_t j = std::min(i + 1, degrees.size() - 1);
        const double f = degrees[j] > degrees[i] ? std::clamp((v - degrees[i]) / (degrees[j] - degrees[i]), 0.0, 1.0) : 0;
        ticks.push_back({(i + f) / kSamples * length * m.perMetre, QString::number(v, 'f', decimals(step)) + "°"});
    }
    return ticks;
}

void DrawAxes(QPainter& p, const Grid& grid, const MapPlacement& m, PageAxes axes, double unit) {
    p.setPen(QPen(Qt::black, unit * 0.6));
    p.setBrush(Qt::NoBrush);
    p.drawRect(m.rect);
    const QFontMetricsF fm(p.font());
    const bool metric = grid.Metric();
    const bool degrees = axes == PageAxes::Degrees;
    auto side = [&](bool across) {
        const double length = across ? m.widthM : m.heightM;
        return degrees ? DegreeTicks(grid, across, length, m, fm, unit)
                       : MetreTicks(metric ? (across ? grid.xLL : grid.yLL) : 0, length, m, fm, unit);
    };
    for (const Tick& t : side(true)) {
        const double x = m.rect.left() + t.at;
        p.drawLine(QPointF(x, m.rect.bottom()), QPointF(x, m.rect.bottom() + 3 * unit));
        p.drawText(QPointF(x - fm.horizontalAdvance(t.label) / 2, m.rect.bottom() + 4 * unit + fm.ascent()), t.label);
    }
    for (const Tick& t : side(false)) {
        const double y = m.rect.bottom() - t.at;
        p.drawLine(QPointF(m.rect.left() - 3 * unit, y), QPointF(m.rect.left(), y));
        p.save();
        p.translate(m.rect.left() - 4 * unit, y);
        p.rotate(-90);
        p.drawText(QPointF(-fm.horizontalAdvance(t.label) / 2, 0), t.label);
        p.restore();
    }
    const QString across = degrees  ? PageText("Longitude, degrees east")
                           : metric ? PageText("Easting, m")
                                    : PageText("metres east of the south-west corner");
    p.drawText(QPointF(m.rect.center().x() - fm.horizontalAdvance(across) / 2, m.rect.bottom() + 5 * unit + 2 * fm.height()),
               across);
    p.save();
    p.translate(m.rect.left() - 5 * unit - 1.5 * fm.height(), m.rect.center().y());
    p.rotate(-90);
    const QString up = degrees  ? PageText("Latitude, degrees north")
                       : metric ? PageText("Northing, m")
                                : PageText("metres north");
    p.drawText(QPointF(-fm.horizontalAdvance(up) / 2, 0), up);
    p.restore();
}

void DrawScaleBar(QPainter& p, const MapPlacement& m, QPointF at, double unit) {
    const double length = NiceLength(m.widthM / 4);
    const double w = length * m.perMetre;
    const double h = 2.5 * unit;
    for (int i = 0; i < 4; ++i) {
        p.setPen(QPen(Qt::black, unit * 0.4));
        p.setBrush(i % 2 == 0 ? Qt::black : Qt::white);
        p.drawRect(QRectF(at.x() + i * w / 4, at.y(), w / 4, h));
    }
    const QFontMetricsF fm(p.font());
    p.drawText(QPointF(at.x() - fm.horizontalAdvance("0") / 2, at.y() + h + fm.ascent() + unit), "0");
    const QString end = Metres(length);
    p.drawText(QPointF(at.x() + w - fm.horizontalAdvance(end) / 2, at.y() + h + fm.ascent() + unit), end);
}

void DrawNorthArrow(QPainter& p, QPointF tip, double unit) {
    const double h = 14 * unit, w = 5 * unit;
    QPainterPath left, right;
    left.moveTo(tip);
    left.lineTo(tip + QPointF(-w, h));
    left.lineTo(tip + QPointF(0, 0.75 * h));
    left.closeSubpath();
    right.moveTo(tip);
    right.lineTo(tip + QPointF(w, h));
    right.lineTo(tip + QPointF(0, 0.75 * h));
    right.closeSubpath();
    p.setPen(QPen(Qt::black, unit * 0.4));
    p.setBrush(Qt::black);
    p.drawPath(left);
    p.setBrush(Qt::white);
    p.drawPath(right);
    const QFontMetricsF fm(p.font());
    const QString north = PageText("N");
    p.drawText(QPointF(tip.x() - fm.horizontalAdvance(north) / 2, tip.y() + h + fm.ascent() + unit), north);
}

// Rings every target and numbers those whose number finds room: strongest
// first, none over another's number, so a dense list stays legible and the
// weaker targets of a crowded area are left to the list and the file.
// Returns how many were left unnumbered.
std::size_t DrawTargetMarks(QPainter& p, const Grid& grid, const MapPlacement& m, const TargetPicking& targets,
                            double unit) {
    p.save();
    p.setPen(QPen(QColor(200, 0, 0), unit * 0.8));
    p.setBrush(Qt::NoBrush);
    const QFontMetricsF fm(p.font());
    // The numbers placed so far, by the square of the page they start in.
    const double bucket = 4 * fm.height();
    std::unordered_map<std::int64_t, std::vector<QRectF>> placed;
    auto key = [&](double x, double y) {
        return (static_cast<std::int64_t>(std::floor(x / bucket)) << 32) ^
               static_cast<std::int64_t>(static_cast<std::uint32_t>(std::floor(y / bucket)));
    };
    std::size_t unnumbered = 0;
    for (const Target& t : targets.targets) {
        const double east = (t.x - grid.xLL) * grid.MetresAcross();
        const double north = (t.y - grid.yLL) * grid.MetresUp();
        const QPointF c(m.rect.left() + east * m.perMetre, m.rect.bottom() - north * m.perMetre);
        p.drawEllipse(c, 2.5 * unit, 2.5 * unit);
        const QString number = QString::number(t.number);
        const QPointF at = c + QPointF(3 * unit, -3 * unit);
        const QRectF box(at.x(), at.y() - fm.ascent(), fm.horizontalAdvance(number), fm.height());
        bool free = true;
        for (int dx = -1; dx <= 1 && free; ++dx)
            for (int dy = -1; dy <= 1 && free; ++dy) {
                const auto near = placed.find(key(box.left() + dx * bucket, box.top() + dy * bucket));
                if (near == placed.end()) continue;
                for (const QRectF& other : near->second)
                    if (other.intersects(box)) {
                        free = false;
                        break;
                    }
            }
        if (!free) {
            ++unnumbered;
            continue;
        }
        placed[key(box.left(), box.top())].push_back(box);
        p.drawText(at, number);
    }
    p.restore();
    return unnumbered;
}

// Lines of text from `top` down within `width`; returns where the next line goes.
double DrawLines(QPainter& p, const QStringList& lines, QPointF top, double width) {
    const QFontMetricsF fm(p.font());
    double y = top.y();
    for (const QString& line : lines) {
        const QRectF box(top.x(), y, width, 10 * fm.height());
        const QRectF used = p.boundingRect(box, Qt::TextWordWrap, line);
        p.drawText(box, Qt::TextWordWrap, line);
        y += used.height() + 0.3 * fm.height();
    }
    return y;
}

void DrawTargetList(QPainter& p, const TargetPicking& targets, QRectF room) {
    const QFontMetricsF fm(p.font());
    const double line = fm.height() * 1.1;
    const int fits = std::max(0, static_cast<int>(room.height() / line) - 2);
    const int shown = std::min<int>(fits, static_cast<int>(targets.targets.size()));
    const double col[] = {0, 0.1, 0.38, 0.66, 0.84};
    auto row = [&](double y, const QStringList& cells) {
        for (int i = 0; i < cells.size(); ++i) p.drawText(QPointF(room.left() + col[i] * room.width(), y), cells[i]);
    };
    double y = room.top() + fm.ascent();
    row(y, {PageText("No."), PageText("Longitude"), PageText("Latitude"), PageText("nT/m"),
            PageText("Depth, m")});
    for (int i = 0; i < shown; ++i) {
        const Target& t = targets.targets[i];
        y += line;
        row(y, {QString::number(t.number), QString::number(t.lon, 'f', 7), QString::number(t.lat, 'f', 7),
                QString::number(t.peak, 'f', 1), t.depth ? QString::number(*t.depth, 'f', 1) : QString("-")});
    }
    if (shown < static_cast<int>(targets.targets.size()))
        p.drawText(QPointF(room.left(), y + line),
                   PageText("and %1 more in the targets file").arg(targets.targets.size() - shown));
}

// The whole page inside `page`, in the painter's units of `dotsPerInch`.
void DrawPage(QPainter& p, const QRectF& page, double dotsPerInch, const Grid& grid, const Presentation& presentation,
              const PrintSheet& sheet, const TargetPicking* targets) {
    p.setRenderHint(QPainter::Antialiasing);
    const double unit = dotsPerInch / 25.4 * 0.5;  // half a millimetre
    QFont font("DejaVu Sans");
    font.setPointSizeF(sheet.paper == Paper::A3 ? 9 : 7.5);
    p.setFont(font);

    // The map takes the left three quarters; the side column the rest.
    const double sideWidth = page.width() * 0.25;
    const QRectF mapRoom = page.adjusted(22 * unit, 4 * unit, -(sideWidth + 8 * unit), -16 * unit);
    const MapPlacement m = PlaceMap(grid, mapRoom);
    const double longer = std::max(m.rect.width(), m.rect.height());
    const int pixels = static_cast<int>(std::min<double>(kMostPicturePixels, longer));
    const QImage picture = DrawGridPicture(grid, presentation, PlotSize(grid, std::max(2, pixels)));
    p.drawImage(m.rect, picture);
    DrawAxes(p, grid, m, sheet.axes, unit);
    const std::size_t unnumbered = targets ? DrawTargetMarks(p, grid, m, *targets, unit) : 0;

    const QRectF side(page.right() - sideWidth, page.top(), sideWidth, page.height());
    QFont titleFont = font;
    titleFont.setPointSizeF(font.pointSizeF() * 2);
    titleFont.setBold(true);
    p.setFont(titleFont);
    double y = DrawLines(p, {sheet.title.isEmpty() ? PageText("Magnetic gradient survey") : sheet.title}, side.topLeft(),
                         side.width());
    p.setFont(font);
    QStringList block;
    if (!sheet.date.isEmpty()) block << PageText("Surveyed: %1").arg(sheet.date);
    if (!sheet.files.empty()) {
        QStringList names;
        for (const QString& f : sheet.files) names << f;
        block << PageText("Files: %1").arg(names.join(", "));
    }
    block << PageText("Processing: %1").arg(sheet.processing.isEmpty() ? PageText("none") : sheet.processing);
    if (!sheet.gridding.isEmpty()) block << PageText("Grid: %1").arg(sheet.gridding);
    block << (grid.epsg != 0 ? PageText("Vertical gradient, nT/m; EPSG:%1, grid north up").arg(grid.epsg)
                             : PageText("Vertical gradient, nT/m; WGS 84, north up"));
    y = DrawLines(p, block, QPointF(side.left(), y + unit), side.width());

    const QSize scaleSize = DrawColourScale(grid, presentation).size();
    const double scaleHeight =
        std::min(page.height() * 0.3, side.width() * 0.8 * scaleSize.height() / scaleSize.width());
    const QRectF scaleRect(side.left(), y + 2 * unit, scaleHeight * scaleSize.width() / scaleSize.height(), scaleHeight);
    // Drawn at the page's sharpness, so that its values stay legible.
    const int magnify = 1 + static_cast<int>(std::ceil(scaleHeight / scaleSize.height()));
    p.save();
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(scaleRect, DrawColourScale(grid, presentation, magnify));
    p.restore();
    y = scaleRect.bottom() + 4 * unit;
    DrawNorthArrow(p, QPointF(side.left() + 6 * unit, y), unit);
    DrawScaleBar(p, m, QPointF(side.left() + 16 * unit, y + 6 * unit), unit);
    y += 24 * unit;
    if (targets && !targets->targets.empty()) {
        QStringList heading{PageText("Targets beyond %1 nT/m from the median: %2")
                                .arg(targets->threshold, 0, 'f', 2)
                                .arg(targets->targets.size())};
        if (unnumbered > 0)
            heading << PageText("%1 ringed on the map without a number, where numbers would overlap").arg(unnumbered);
        y = DrawLines(p, heading, QPointF(side.left(), y), side.width());
        DrawTargetList(p, *targets, QRectF(side.left(), y, side.width(), page.bottom() - y));
    }
}

QPageSize PageSizeOf(Paper paper) { return QPageSize(paper == Paper::A3 ? QPageSize::A3 : QPageSize::A4); }

constexpr double kMarginMillimetres = 12;

}  // namespace

QString PageText(const char* english) { return QCoreApplication::translate("qgrad::PrintableMap", english); }

double NiceLength(double most) {
    if (!(most > 0)) return 1;
    const double power = std::pow(10.0, std::floor(std::log10(most)));
    for (double f : {5.0, 2.0, 1.0})
        if (f * power <= most * (1 + 1e-12)) return f * power;
    return power;
}

std::string PrintableMapPdf(const Grid& grid, const Presentation& presentation, const PrintSheet& sheet,
                            const TargetPicking* targets) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter writer(&buffer);
        writer.setResolution(kDotsPerInch);
        const QMarginsF margins(kMarginMillimetres, kMarginMillimetres, kMarginMillimetres, kMarginMillimetres);
        writer.setPageLayout(QPageLayout(PageSizeOf(sheet.paper), QPageLayout::Landscape, margins, QPageLayout::Millimeter));
        writer.setTitle(sheet.title);
        writer.setCreator("Quenor GRAD");
        QPainter p(&writer);
        DrawPage(p, QRectF(0, 0, writer.width(), writer.height()), kDotsPerInch, grid, presentation, sheet, targets);
    }
    return buffer.data().toStdString();
}

QImage PrintableMapPicture(const Grid& grid, const Presentation& presentation, const PrintSheet& sheet,
                           const TargetPicking* targets) {
    const QSize size = PageSizeOf(sheet.paper).sizePixels(kPictureDotsPerInch).transposed();  // landscape
    QImage image(size, QImage::Format_RGB32);
    const int dotsPerMetre = qRound(kPictureDotsPerInch / 0.0254);
    image.setDotsPerMeterX(dotsPerMetre);
    image.setDotsPerMeterY(dotsPerMetre);
    image.fill(Qt::white);
    QPainter p(&image);
    const double margin = kMarginMillimetres / 25.4 * kPictureDotsPerInch;
    DrawPage(p, QRectF(QPointF(0, 0), QSizeF(size)).adjusted(margin, margin, -margin, -margin), kPictureDotsPerInch,
             grid, presentation, sheet, targets);
    return image;
}

void WritePrintableMap(const QString& path, const Grid& grid, const Presentation& presentation,
                       const PrintSheet& sheet, const TargetPicking* targets) {
    OutputFile out(path);
    out.Write(PrintableMapPdf(grid, presentation, sheet, targets));
    out.Commit();
}

}  // namespace qgrad
