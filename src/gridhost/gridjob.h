// Our own gridding host: what a gridding script asks for, and the points it
// names.
#pragma once

#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
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
// Reads a regular file only: a FIFO, device, socket or folder is refused
// without blocking, and so is a file too large to be a script.
GridJob ReadGriddingScript(const QString& path);

// The bytes of a string literal of the script's language: `text` must be
// exactly one literal, in double quotes, each quote inside doubled, no
// control character. Nothing when it is not.
std::optional<std::string> ReadScriptLiteral(std::string_view text);

// The map picture written beside the grid file.
QString MapPicturePath(const GridJob& job);

// Refuses, before any work is done, a job whose outputs (the grid file, its
// picture and `moreOutputs`) would replace anything but a regular file, one
// of the host's inputs (the script at `scriptPath` or the data file, under
// whatever name or link), or the grid file its picture. A missing output is
// a new file and fine.
void CheckJobOutputs(const GridJob& job, const QString& scriptPath, const std::vector<QString>& moreOutputs = {});

struct DataPoint {
    double lon, lat, z;
};

// The least and greatest lon and lat of points; all zero for none.
struct PointBounds {
    double minLon = 0, maxLon = 0, minLat = 0, maxLat = 0;
};
PointBounds BoundsOf(const std::vector<DataPoint>& points);

// How the point file is read: in pieces of `pieceBytes`, never its whole
// text at once; when its lines come to `halvesFrom` bytes or more, in two
// halves on both cores, the second from the line after the first LF at or
// after byte `splitAfter` (the middle of the lines when unset).
struct PointFileReading {
    std::size_t pieceBytes = 4 << 20;
    std::size_t halvesFrom = 1 << 20;
    std::optional<std::size_t> splitAfter;
};

// The point file: a heading line, then "lon;lat;value;" lines. `name` is
// the file's name in messages. Throws GridHostError naming the file and the
// line of the first line that is not a point.
std::vector<DataPoint> ParsePointFile(std::string_view bytes, const std::string& name,
                                      const PointFileReading& reading = {});
// Reads a regular file only, as ReadGriddingScript does.
std::vector<DataPoint> ReadPointFile(const QString& path, const PointFileReading& reading = {});

}  // namespace qgrad
