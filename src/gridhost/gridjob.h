// Our own gridding host: what a gridding script asks for, and the points it
// names.
#pragma once

#include <QString>

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace qgrad {

// A script or data file the host cannot use; what() names the file and line.
class GridHostError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct GridJob {
    QString dataFile;
    QString gridFile;
    std::int32_t cols = 0;
    std::int32_t rows = 0;
};

// Reads the 33-line gridding script the program writes (CR LF or LF line
// ends, blanks around lines tolerated; other paths and grid sizes allowed).
GridJob ParseGriddingScript(const std::string& text);
GridJob ReadGriddingScript(const QString& path);

struct DataPoint {
    double lon, lat, z;
};

// The point file: a heading line, then "lon;lat;value;" lines.
std::vector<DataPoint> ReadPointFile(const QString& path);

}  // namespace qgrad
