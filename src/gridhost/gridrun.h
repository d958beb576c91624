// One run of our own gridding host: the script's data file gridded by
// kriging, the grid file and the map picture beside it.
#pragma once

#include "gridhost/kriging.h"

#include <QImage>
#include <QString>

#include <functional>

namespace qgrad {

// More nodes than this the host does not make.
inline constexpr long long kMaxGridNodes = 50'000'000;

struct GridRunResult {
    QString gridFile;
    QString pictureFile;  // the grid file's name with ".png"
    QImage picture;
};

// Reads the script and its data file, grids, and writes the grid file and
// the picture, each whole or not at all. `progress` gets the rows done and
// the rows in all. Throws GridHostError for a script, data file or grid
// the host cannot take, FileError when an output cannot be written.
GridRunResult RunGridHost(const QString& scriptPath, const std::function<void(int, int)>& progress = {});

}  // namespace qgrad
