#include "gridhost/gridfile.h"

#include "common/fileio.h"
#include "gridhost/gridjob.h"

#include <bit>
#include <cstdint>
#include <cstring>
#include <string>

namespace qgrad {
namespace {

static_assert(std::endian::native == std::endian::little, "the grid file is written little-endian");

template <typename T>
void Put(std::string& out, T v) {
    char b[sizeof(T)];
    std::memcpy(b, &v, sizeof(T));
    out.append(b, sizeof(T));
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

void WriteGridFile(const QString& path, const Grid& grid) {
    OutputFile out(path);
    out.Write(GridFileBytes(grid));
    out.Commit();
}

}  // namespace qgrad
