#include "export/export.h"

#include "arrange/geodistance.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/griddingscript.h"
#include "common/numtext.h"
#include "common/sidebyside.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <exception>
#include <limits>
#include <memory>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace qgrad {

void PointExtent::Add(double lon, double lat) {
    if (!set_) {
        minLon_ = maxLon_ = lon;
        minLat_ = maxLat_ = lat;
        set_ = true;
        return;
    }
    minLon_ = std::min(minLon_, lon);
    maxLon_ = std::max(maxLon_, lon);
    minLat_ = std::min(minLat_, lat);
    maxLat_ = std::max(maxLat_, lat);
}

namespace {

// A coordinate as its text reads back.
double ReadBack(double v) {
    char buf[kNumberTextCapacity];
    char* end = WriteCoordinate(buf, v);
    double back = 0;
    if (!TryParseNumber(std::string_view(buf, end - buf), back))
        throw std::range_error("coordinate " + std::string(buf, end) + " is not a number");
    return back;
}

}  // namespace

void PointExtent::AddPoints(const ArrangedPoints& points) {
    if (points.size() == 0) return;
    // Text rounding is monotonic, so the bounds of the texts read back are
    // the bounds of the numbers, rounded and read back.
    double lo[2] = {points.lon(0), points.lat(0)};
    double hi[2] = {lo[0], lo[1]};
    for (std::size_t i = 1; i < points.size(); ++i) {
        lo[0] = std::min(lo[0], points.lon(i));
        hi[0] = std::max(hi[0], points.lon(i));
        lo[1] = std::min(lo[1], points.lat(i));
        hi[1] = std::max(hi[1], points.lat(i));
    }
    Add(ReadBack(lo[0]), ReadBack(lo[1]));
    Add(ReadBack(hi[0]), ReadBack(hi[1]));
}

GridSize GridSizeForMetres(double w, double h) {
    auto lines = [](double longer, double shorter) {
        const double n = std::nearbyint(100 * longer / shorter);
        if (!(n >= std::numeric_limits<std::int32_t>::min() && n <= std::numeric_limits<std::int32_t>::max()))
            throw std::range_error("grid size " + FormatGeneral(n) + " does not fit a 32-bit integer");
        return static_cast<std::int32_t>(n);
    };
    if (h > w) return {100, lines(h, w)};
    return {lines(w, h), 100};
}

GridSize ComputeGridSize(const PointExtent& e) {
    const double centreLon = (e.minLon() + e.maxLon()) / 2;
    const double centreLat = (e.minLat() + e.maxLat()) / 2;
    double w = GeoDistance(centreLat, e.minLon(), centreLat, e.maxLon());
    double h = GeoDistance(e.minLat(), centreLon, e.maxLat(), centreLon);
    if (w == 0) w = 1;
    if (h == 0) h = 1;
    return GridSizeForMetres(w, h);
}

namespace {

bool IsControl(char32_t c) { return c < 0x20; }

void RefuseControlCharacters(const QString& path) {
    if (std::none_of(path.begin(), path.end(), [](QChar c) { return IsControl(c.unicode()); })) return;
    // Shown with "?" in their place: the message must not break lines itself.
    std::string shown = LocalBytes(path);
    std::replace_if(
        shown.begin(), shown.end(), [](char c) { return IsControl(static_cast<unsigned char>(c)); }, '?');
    throw FileError("Cannot write a gridding script for " + shown +
                    ": the name holds a control character, which the script cannot carry");
}

}  // namespace

ExportPaths MakeExportPaths(const QString& folder, const QString& surveyFileName) {
    RefuseControlCharacters(folder + surveyFileName);
    const QString diff = "GPS_DIFF_" + surveyFileName;
    return {folder + ReplaceExtension("GPS_ABS_" + surveyFileName, ".txt"), folder + ReplaceExtension(diff, ".txt"),
            folder + ReplaceExtension(diff, ".grd"), folder + ReplaceExtension(diff, ".bas")};
}

QString ProcessingReportPath(const ExportPaths& paths) { return ReplaceExtension(paths.gradientFile, "_processing.txt"); }

void WriteProcessingReport(OutputFile& out, std::string_view text) {
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        out.WriteLine(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
    }
}

namespace {

// Rows whose text one core makes for both files at a time: large enough
// that a block goes to the file in one write, small enough to stay in cache.
constexpr std::size_t kBlockRows = 4096;

// `path`, once the temporaries a killed save left of it are gone; the lock
// is held by then.
const QString& WithoutStaleTemporaries(const QString& path) {
    RemoveStaleTemporaries(path);
    return path;
}

}  // namespace

void WritePointRows(OutputFile& absolute, OutputFile& gradient, const ArrangedPoints& points) {
    // The cores take the blocks in turn. Each makes the text of its block
    // for both files, every coordinate once, and writes each file's part as
    // soon as the block before has been written to that file: one core may
    // write one file while the other writes the other or makes its next
    // block.
    const std::size_t blocks = (points.size() + kBlockRows - 1) / kBlockRows;
    struct FileTurn {
        OutputFile& file;
        std::size_t blocksWritten = 0;
    };
    FileTurn absoluteTurn{absolute}, gradientTurn{gradient};
    std::mutex mutex;
    std::condition_variable turn;
    bool failed = false;
    // False when the other core has failed.
    auto writeInTurn = [&](FileTurn& file, std::size_t block, const char* begin, const char* end) {
        std::unique_lock lock(mutex);
        turn.wait(lock, [&] { return file.blocksWritten == block || failed; });
        if (failed) return false;
        lock.unlock();
        file.file.Write({begin, static_cast<std::size_t>(end - begin)});
        lock.lock();
        ++file.blocksWritten;
        turn.notify_all();
        return true;
    };
    auto writeBlocks = [&](std::size_t first) {
        try {
            const auto absoluteText = std::make_unique_for_overwrite<char[]>(kBlockRows * kFileLineCapacity);
            const auto gradientText = std::make_unique_for_overwrite<char[]>(kBlockRows * kFileLineCapacity);
            for (std::size_t block = first; block < blocks; block += 2) {
                const std::size_t begin = block * kBlockRows;
                const auto [absoluteEnd, gradientEnd] = points.WriteFileLines(
                    absoluteText.get(), gradientText.get(), begin, std::min(begin + kBlockRows, points.size()));
                if (!writeInTurn(absoluteTurn, block, absoluteText.get(), absoluteEnd) ||
                    !writeInTurn(gradientTurn, block, gradientText.get(), gradientEnd))
                    return;
            }
        } catch (...) {
            // The other core stops at its next turn instead of waiting for
            // a block that never comes.
            {
                const std::lock_guard lock(mutex);
                failed = true;
            }
            turn.notify_all();
            throw;
        }
    };
    RunSideBySide([&] { writeBlocks(1); }, [&] { writeBlocks(0); });
}

ExportWriter::ExportWriter(const ExportPaths& paths, std::chrono::milliseconds lockWait)
    : paths_(paths),
      lock_(ReplaceExtension(paths.scriptFile, ".lock"), lockWait),
      absolute_(WithoutStaleTemporaries(paths.absoluteFile)),
      gradient_(WithoutStaleTemporaries(paths.gradientFile)) {
    RemoveStaleTemporaries(paths.scriptFile);
    RemoveUnlessAdded(ProcessingReportPath(paths));
    absolute_.WriteLine(kAbsoluteHeading);
    gradient_.WriteLine(kGradientHeading);
}

void ExportWriter::AddPoints(const ArrangedPoints& points) {
    WritePointRows(absolute_, gradient_, points);
    extent_.AddPoints(points);
}

void ExportWriter::RemoveUnlessAdded(const QString& path) {
    // One of this save's files even when this save writes none.
    reports_.push_back(WithoutStaleTemporaries(path));
}

OutputFile& ExportWriter::AddFile(const QString& path) {
    more_.push_back(std::make_unique<OutputFile>(WithoutStaleTemporaries(path)));
    return *more_.back();
}

void ExportWriter::Finish() {
    OutputFile script(paths_.scriptFile);
    script.Write(GriddingScript(paths_, ComputeGridSize(extent_)));
    std::vector<OutputFile*> files = {&absolute_, &gradient_};
    for (const auto& f : more_) files.push_back(f.get());
    files.push_back(&script);
    // A report of an earlier save would describe points that are about to
    // go; better none than one that lies.
    std::vector<QString> removals;
    for (const QString& report : reports_)
        if (std::none_of(more_.begin(), more_.end(), [&](const auto& f) { return f->path() == report; }))
            removals.push_back(report);
    lock_.PutInPlaceTogether(files, removals);
}

PointExtent WriteExport(const ExportPaths& paths, const ArrangedPoints& points,
                        std::optional<std::string_view> processingReport) {
    ExportWriter writer(paths);
    writer.AddPoints(points);
    if (processingReport) WriteProcessingReport(writer.AddFile(ProcessingReportPath(paths)), *processingReport);
    writer.Finish();
    return writer.extent();
}

std::string ScriptLiteral(const QString& path) {
    RefuseControlCharacters(path);
    std::string literal = "\"";
    for (const char c : LocalBytes(path)) {
        if (c == '"') literal += '"';
        literal += c;
    }
    return literal + '"';
}

std::string GriddingScript(const ExportPaths& paths, GridSize size) {
    return FillGriddingScript(ScriptLiteral(paths.gradientFile), ScriptLiteral(paths.gridFile), size.cols, size.rows);
}

}  // namespace qgrad
