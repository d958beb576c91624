#include "gridhost/gridfile.h"

#include "common/fileio.h"
#include "gridhost/gridjob.h"

#include <QFile>

#include <bit>
#include <limits>
#include <cstdint>
#include <cstring>
#include <string>

namespace qgrad {
namespace {

// Larger grids than the host makes are no grid of ours.
constexpr long long kMaxReadNodes = 50'000'000;

static_assert(std::endian::native == std::endian::little, "the grid file is written little-endian");

template <typename T>
void Put(std::string& out, T v) {
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    out.append(b, sizeof(T));
}

template <typename T>
T Take(const QByteArray& bytes, qsizetype& at, const QString& path) {
    if (at + static_cast<qsizetype>(sizeof(T)) > bytes.size())
        throw GridHostError(path.toLocal8Bit().toStdString() + " ends before its grid does");
    T v;
    std::memcpy(&v, bytes.constData() + at, sizeof(T));
    at += sizeof(T);
    return v;
}

}  // namespace

std::string GridFileBytes(const Grid& g) {
    if (g.z.size() > static_cast<std::size_t>(INT32_MAX) / 8)
        throw GridHostError("a grid of " + std::to_string(g.z.size()) + " nodes does not fit the grid file");
    double zMin = kGridBlank, zMax = kGridBlank;
    bool any = false;
    for (double v : g.z) {
        if (Grid::Blank(v)) continue;
        zMin = any ? std::min(zMin, v) : v;
        zMax = any ? std::max(zMax, v) : v;
        any = true;
    }
    std::string out;
    out.reserve(100 + g.z.size() * 8);
    Put<std::int32_t>(out, 0x42525344);  // "DSRB"
    Put<std::int32_t>(out, 4);
    Put<std::int32_t>(out, 2);           // version 2: blank is the blank value exactly
    Put<std::int32_t>(out, 0x44495247);  // "GRID"
    Put<std::int32_t>(out, 72);
    Put<std::int32_t>(out, g.rows);
    Put<std::int32_t>(out, g.cols);
    for (double v : {g.xLL, g.yLL, g.xSize, g.ySize, zMin, zMax, 0.0, kGridBlank}) Put(out, v);
    Put<std::int32_t>(out, 0x41544144);  // "DATA"
    Put<std::int32_t>(out, static_cast<std::int32_t>(g.z.size() * 8));
    for (double v : g.z) Put(out, Grid::Blank(v) ? kGridBlank : v);
    return out;
}

Grid ReadGridFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw GridHostError("cannot read " + path.toLocal8Bit().toStdString() + ": " + f.errorString().toStdString());
    const QByteArray bytes = f.read(static_cast<qint64>(100) + static_cast<qint64>(kMaxReadNodes) * 8);
    qsizetype at = 0;
    auto fail = [&](const char* why) { return GridHostError(path.toLocal8Bit().toStdString() + ": " + why); };
    if (Take<std::int32_t>(bytes, at, path) != 0x42525344) throw fail("not a grid file");
    at += 8;  // header size and version
    if (Take<std::int32_t>(bytes, at, path) != 0x44495247) throw fail("no grid section");
    at += 4;
    Grid g;
    g.rows = Take<std::int32_t>(bytes, at, path);
    g.cols = Take<std::int32_t>(bytes, at, path);
    if (g.rows < 2 || g.cols < 2 || static_cast<long long>(g.rows) * g.cols > kMaxReadNodes) throw fail("an odd grid size");
    g.xLL = Take<double>(bytes, at, path);
    g.yLL = Take<double>(bytes, at, path);
    g.xSize = Take<double>(bytes, at, path);
    g.ySize = Take<double>(bytes, at, path);
    at += 4 * 8;  // z range, rotation, blank value
    if (Take<std::int32_t>(bytes, at, path) != 0x41544144) throw fail("no data section");
    at += 4;
    g.z.resize(static_cast<std::size_t>(g.rows) * g.cols);
    for (double& v : g.z) {
        v = Take<double>(bytes, at, path);
        if (v >= kGridBlank) v = std::numeric_limits<double>::quiet_NaN();
    }
    return g;
}

void WriteGridFile(const QString& path, const Grid& grid) {
    OutputFile out(path);
    out.Write(GridFileBytes(grid));
    out.Commit();
}

}  // namespace qgrad
