// The grid file: version-7 binary grid ("DSRB", "GRID", "DATA" sections,
// little-endian), the format GDAL reads as GS7BG.
#pragma once

#include "gridhost/kriging.h"

#include <QString>

#include <string>

namespace qgrad {

// The value that marks a blank node (the 32-bit float 0x7EFFFFEE).
inline constexpr double kGridBlank = static_cast<double>(1.70141e38f);

std::string GridFileBytes(const Grid& grid);
// Written whole or not at all. Throws FileError.
void WriteGridFile(const QString& path, const Grid& grid);
// Reads a grid file this host wrote (blank nodes become NaN). Throws
// GridHostError for a file that is not one.
Grid ReadGridFile(const QString& path);

}  // namespace qgrad
