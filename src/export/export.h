// SAVE TO MAP: the absolute and gradient point files, the point extent, the
// grid size and the gridding script for the mapping package's host.
#pragma once

#include "arrange/arrangedpoints.h"
#include "common/fileio.h"

#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qgrad {

// Longitude and latitude bounds of the gradient points written, as their
// texts read back. Each bound is set by the first point; a coordinate of
// exactly 0 is a coordinate like any other.
class PointExtent {
public:
    void Add(double lon, double lat);
    // Adds the points' coordinates as their texts read back.
    void AddPoints(const ArrangedPoints& points);
    bool empty() const { return !set_; }
    double minLon() const { return minLon_; }
    double maxLon() const { return maxLon_; }
    double minLat() const { return minLat_; }
    double maxLat() const { return maxLat_; }

private:
    bool set_ = false;
    double minLon_ = 0, maxLon_ = 0, minLat_ = 0, maxLat_ = 0;
};

struct GridSize {
    std::int32_t cols = 100;
    std::int32_t rows = 100;
};

// The shorter side gets 100 grid lines, the longer proportionally more,
// halves to even. Throws std::range_error when a side does not fit 32 bits.
GridSize GridSizeForMetres(double width, double height);
// The grid size for the extent's width along its middle parallel and height
// along its middle meridian (0 m counts as 1 m).
GridSize ComputeGridSize(const PointExtent& extent);

// The files of one export, named from the survey (or combined) file name.
struct ExportPaths {
    QString absoluteFile;  // folder + "GPS_ABS_" + name.txt
    QString gradientFile;  // folder + "GPS_DIFF_" + name.txt; the data path of the script
    QString gridFile;      // folder + "GPS_DIFF_" + name.grd
    QString scriptFile;    // folder + "GPS_DIFF_" + name.bas
};
// `folder` ends with the path separator. Throws FileError when the paths
// hold a control character: the gridding script could not name them, and
// nothing of the export is to be written then.
ExportPaths MakeExportPaths(const QString& folder, const QString& surveyFileName);

// A path as a string literal of the script's language (local 8-bit, in
// double quotes, each double quote inside doubled), so that no name can end
// the literal and add code of its own. Throws FileError for a path holding
// a control character, which a literal cannot carry.
std::string ScriptLiteral(const QString& path);

inline constexpr const char* kAbsoluteHeading = "Lon;Lat;H,nT";
inline constexpr const char* kGradientHeading = "Lon;Lat;grad(H),nT/m";

// Writes the point rows of both tables into their files, each line its
// three cells followed by ";" and CR LF, on both cores.
void WritePointRows(OutputFile& absolute, OutputFile& gradient, const ArrangedPoints& points);

// The files of one export: the two point files and the gridding script,
// with any further file the caller adds. All are written under temporary
// names and put in place together only when every one is complete; a writer
// abandoned before Finish() leaves every earlier file as it was, and a kill
// during Finish() leaves the earlier set or the new one whole once the next
// writer of the same names has started. A lock beside the files keeps a second export of the same names
// out while this one lasts: it waits up to `lockWait`, then throws FileError.
class ExportWriter {
public:
    explicit ExportWriter(const ExportPaths& paths, std::chrono::milliseconds lockWait = FolderLock::kDefaultWait);
    // Appends the point rows of both tables, on both cores, and adds
    // the gradient points to the extent. Throws FileError.
    void AddPoints(const ArrangedPoints& points);
    // A further file that is put in place with the others.
    OutputFile& AddFile(const QString& path);
    // A report of this save's kind beside its files: unless this save adds
    // it, an earlier save's goes when the files are put in place, since it
    // would describe points that are gone. The processing's report is one
    // from the start.
    void RemoveUnlessAdded(const QString& path);
    // Writes the script for the extent and puts every file in place. Throws
    // FileError or std::range_error (the grid size); nothing is put in place
    // then.
    void Finish();
    const PointExtent& extent() const { return extent_; }

private:
    ExportPaths paths_;
    FolderLock lock_;
    OutputFile absolute_;
    OutputFile gradient_;
    std::vector<std::unique_ptr<OutputFile>> more_;
    std::vector<QString> reports_;
    PointExtent extent_;
};

// SAVE TO MAP's files for `points`, with the processing's report when there
// is one; returns the extent of the gradient points.
PointExtent WriteExport(const ExportPaths& paths, const ArrangedPoints& points,
                        std::optional<std::string_view> processingReport = std::nullopt);

// The 33 lines of the gridding script, CR LF line ends, paths as literals.
std::string GriddingScript(const ExportPaths& paths, GridSize size);

// The report of the processing beside the point files: folder + "GPS_DIFF_"
// + name + "_processing.txt".
QString ProcessingReportPath(const ExportPaths& paths);
// Writes the report's lines (LF-separated text) with the output files' CR LF
// line ends.
void WriteProcessingReport(OutputFile& out, std::string_view text);

}  // namespace qgrad
