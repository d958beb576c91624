#include "pipeline/opensurvey.h"

#include "arrange/arrange.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/memoryreuse.h"
#include "common/sidebyside.h"
#include "mapview/overlay.h"

#include <QDir>
#include <QFileInfo>

#include <exception>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

namespace qgrad {

ReaderVariant ReaderVariantOf(OpeningMode mode) {
    return mode == OpeningMode::Folder ? ReaderVariant::Batch : ReaderVariant::Interactive;
}

ZoomPrecision ZoomPrecisionOf(OpeningMode mode) {
    return mode == OpeningMode::Folder ? ZoomPrecision::Double : ZoomPrecision::Single;
}

void OpenedSurvey::clear() {
    fileName.clear();
    folder.clear();
    table.clear();
    geometry = {};
    cutLastLine = {};
    points.clear();
    asArranged.clear();
    arranged = false;
    track = {};
    frame = {};
    profiles.clear();
    positions = {};
    ends = {};
    reached = OpeningStage::None;
}

namespace {

// Bytes a line below which a survey's rows count as short.
constexpr qint64 kShortRowBytes = 64;

// The profiles' numbers, both cores sharing the channels. A gradient the
// arrangement wrote is taken from its point, as its text reads (after the
// processing, as the gradient point file writes it); any other is read.
// The refusal is the one a channel-by-channel read would meet first.
void ReadProfiles(const SurveyTable& table, const ArrangedPoints& points, bool keep, SurveyProfiles& p) {
    p.distance = ReadDistances(table);
    const std::size_t rows = table.dataRowCount();
    const std::optional<RowPoints> rowPoints =
        points.size() > 0 ? std::optional<RowPoints>(std::in_place, table) : std::nullopt;
    // A channel's first cell that is not a number ends its read.
    std::array<std::exception_ptr, kChannels> faults;
    OnBothCores(kChannels, [&](std::size_t fromChannel, std::size_t toChannel) {
        const auto first = static_cast<int>(fromChannel), last = static_cast<int>(toChannel);
        for (int k = first; k < last; ++k) {
            p.shown[k] = ProfileShown(table, k);
            if (keep) p.channel[k].Reserve(rows);
        }
        ForEachRowBlock(0, rows, [&](std::size_t from, std::size_t to) {
            for (int k = first; k < last; ++k) {
                if (faults[k]) continue;
                ProfileSeries& series = p.channel[k];
                const TextColumn& cells = table.column(GradientColumn(k));
                for (std::size_t i = from; i < to; ++i) {
                    if (cells[kFirstDataRow + i].empty()) continue;
                    const std::size_t point = rowPoints && rowPoints->Has(i, k) ? rowPoints->PointOf(i, k) : points.size();
                    if (point < points.size()) {
                        if (keep)
                            series.Append(i, PointValueAsWritten(points.value(PointTable::Gradient, point)));
                        continue;
                    }
                    try {
                        const double gradient = CellNumber(table, GradientColumn(k), kFirstDataRow + i);
                        if (keep) series.Append(i, gradient);
                    } catch (const SurveyFormatError&) {
                        faults[k] = std::current_exception();
                        break;
                    }
                }
            }
        });
        for (int k = first; k < last; ++k) {
            p.channel[k].Fit();
            p.MeasureSpans(k);
        }
    });
    for (const std::exception_ptr& fault : faults)
        if (fault) std::rethrow_exception(fault);
}

void Reach(const OpeningOptions& options, OpenedSurvey& s, OpeningStage stage) {
    s.reached = stage;
    if (options.stageReached) options.stageReached(stage);
}

void Open(QIODevice& input, const OpeningOptions& options, OpenedSurvey& s) {
    Reach(options, s, OpeningStage::FileOpened);
    const qint64 fileBytes = input.size();
    if (ReadSurveyLines(input, s.table, ReaderVariantOf(options.mode), &s.cutLastLine) == ReadResult::Empty)
        throw SurveyFormatError({}, SurveyFormatError::Kind::Empty);
    Reach(options, s, OpeningStage::Read);
    CleanSurveyTable(s.table, ReaderVariantOf(options.mode), s.geometry);
    // Without a fix every point would lie at 0 degrees, 0 degrees.
    if (!HasFix(s.table)) throw SurveyFormatError("the survey has no GPS fix: every latitude and longitude is 0");
    Reach(options, s, OpeningStage::Cleaned);
    // Rows of a few bytes cost the table, the cleaning and the points far
    // more than their text; the cleaning's buffers, left in holes that the
    // arrangement's blocks do not fit, would add to that a second time.
    // Longer rows skip the give-back: their next steps reuse those holes,
    // and faulting the pages in again costs time.
    if (fileBytes < kShortRowBytes * static_cast<qint64>(s.table.dataRowCount())) GiveBackFreedMemory();
    const std::vector<std::uint32_t> fixArrivals =
        options.processing.quality.on ? FixArrivals(s.table) : std::vector<std::uint32_t>();
    // Points that no stage changes are kept as placed, in less than half
    // the memory.
    s.arranged = ArrangeToGps(s.table, s.geometry, options.levelSignals, s.points, ArrangePath::AsTheTableAllows,
                              options.processing.AnyOn() ? PointStorage::Editable : PointStorage::AsPlaced);
    Reach(options, s, OpeningStage::Arranged);
    if (options.keepArranged && options.processing.AnyOn()) s.asArranged = s.points;
    s.processing = ProcessSurvey(s.table, s.geometry, s.points, options.processing, options.folderLag, fixArrivals);
    Reach(options, s, OpeningStage::Processed);

    s.positions = ReadPositions(s.table);
    s.track = TrackOf(s.positions);
    s.frame = options.previousFrame;
    FitFrameToTrack(s.track.lon, s.track.lat, ZoomPrecisionOf(options.mode), s.frame);
    Reach(options, s, OpeningStage::Framed);
    // A track that cannot be drawn on its map ends the opening here.
    CheckTrackPixels(s.frame, s.track.lon, s.track.lat);

    ReadProfiles(s.table, s.points, options.keepProfiles, s.profiles);
    Reach(options, s, OpeningStage::Profiled);
    s.ends = ReadRunEnds(s.table);
    Reach(options, s, OpeningStage::Done);
}

std::string TooLargeReason(qint64 size) {
    return size < 0 ? "there is not enough memory to read it"
                    : "the file holds " + std::to_string(size) + " bytes, more than there is memory to open";
}

// Runs `open`, naming the file in what it throws. `size` is the file's size
// in bytes once it is known, -1 before.
template <typename Steps>
void Named(const QString& fileName, const qint64& size, Steps&& open) {
    auto refuse = [&](SurveyFormatError refusal) {
        refusal.file = LocalBytes(fileName);
        throw refusal;
    };
    try {
        open();
    } catch (SurveyFormatError& e) {
        e.file = LocalBytes(fileName);
        throw;
    } catch (const std::range_error& e) {
        // A position beyond the map's pixel range.
        refuse(SurveyFormatError(e.what()));
    } catch (const std::bad_alloc&) {
        refuse(SurveyFormatError(TooLargeReason(size), SurveyFormatError::Kind::OutOfMemory));
    } catch (const std::length_error&) {
        // A column of the table cannot hold the file's text.
        refuse(SurveyFormatError(TooLargeReason(size), SurveyFormatError::Kind::OutOfMemory));
    }
}

}  // namespace

Reprocessed ProcessAgain(const OpenedSurvey& survey, const ProcessingSettings& settings) {
    Reprocessed again;
    again.points = survey.asArranged.size() > 0 ? survey.asArranged : survey.points;
    if (settings.AnyOn()) again.points.MakeEditable();
    again.asArranged = settings.AnyOn() ? again.points : ArrangedPoints();
    again.processing = ProcessSurvey(survey.table, survey.geometry, again.points, settings);
    ReadProfiles(survey.table, again.points, true, again.profiles);
    return again;
}

void OpenSurvey(const QString& path, const OpeningOptions& options, OpenedSurvey& out) {
    out.clear();
    const QFileInfo info(path);
    qint64 size = -1;
    Named(info.fileName(), size, [&] {
        std::unique_ptr<InputFile> file = OpenSurveyFile(path);
        size = file->opened.size;
        out.fileName = info.fileName();
        out.folder = QDir::toNativeSeparators(info.absolutePath() + "/");
        // The table holds at least the file's text: a file larger than the
        // memory left is refused by its size, before a byte is read.
        if (static_cast<unsigned long long>(size) > MemoryLeft())
            throw SurveyFormatError(TooLargeReason(size), SurveyFormatError::Kind::OutOfMemory);
        Open(*file, options, out);
    });
}

void OpenSurvey(QIODevice& input, const QString& fileName, const OpeningOptions& options, OpenedSurvey& out) {
    out.clear();
    out.fileName = fileName;
    const qint64 size = input.size();
    Named(fileName, size, [&] { Open(input, options, out); });
}

}  // namespace qgrad
