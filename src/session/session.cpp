// Before the session's own names: its Grid() hides the type Grid from what follows it.
#include "gridhost/gridfile.h"
#include "gridhost/gridsystem.h"

#include "session/session.h"

#include "arrange/arrange.h"
#include "common/fileio.h"
#include "survey/columns.h"
#include "survey/opening.h"
#include "survey/reader.h"

#include <stdexcept>

namespace qgrad {
namespace {

bool ProcessingRan(const ProcessingReport& r) { return r.trueOffsets || r.lag || r.despike || r.destripe; }

// The folder run's steps told to the session's progress.
class FolderProgress : public FolderRunSteps {
public:
    FolderProgress(SessionProgress& progress, ArrangedGis* gis) : progress_(progress), gis_(gis) {}
    void BeforeFile(int index, int count, const QString& name) override {
        index_ = index;
        count_ = count;
        progress_.Step(index, count, name);
    }
    void Arranged(const OpenedSurvey& survey) override {
        if (gis_) AddToGis(survey, *gis_);
    }
    void Show(OpenedSurvey& survey) override { progress_.Opened(survey); }
    void AfterFile() override { progress_.Step(index_ + 1, count_, {}); }

private:
    SessionProgress& progress_;
    ArrangedGis* gis_;
    int index_ = 0;
    int count_ = 0;
};

// The arrangement's order: the sample rows, and in each the channels with
// both readings present; `visit(row, channel)` for each of the first
// `count` points.
template <typename Visit>
void ForEachArrangedPoint(const SurveyTable& table, std::size_t count, Visit visit) {
    std::size_t i = 0;
    for (std::size_t row = kFirstDataRow; row < table.rowCount() && i < count; ++row)
        for (int k = 0; k < kChannels && i < count; ++k) {
            if (table.cell(FieldColumn(k), row).empty() || table.cell(GradientColumn(k), row).empty()) continue;
            visit(row, k);
            ++i;
        }
}

// For each sample row up to the last with a point, the points before it.
std::vector<std::uint32_t> RowStarts(const SurveyTable& table, std::size_t count) {
    std::vector<std::uint32_t> starts;
    std::uint32_t before = 0;
    ForEachArrangedPoint(table, count, [&](std::size_t row, int) {
        while (starts.size() <= row - kFirstDataRow) starts.push_back(before);
        ++before;
    });
    return starts;
}

}  // namespace

SurveyMapPicture ComposeMap(const OpenedSurvey& survey, MapFetcher& fetcher) {
    SurveyMapPicture out;
    try {
        ComposeSurveyMap(fetcher.FetchMap(survey.frame), survey.frame, survey.track.lon, survey.track.lat, out.map);
    } catch (const std::range_error& e) {
        out.trackFailure = e.what();
    }
    return out;
}

std::string ProcessingReportOf(const OpenedSurvey& survey) {
    return ProcessingRan(survey.processing) || survey.processing.quality
               ? ProcessingReportText(survey.processing, LocalBytes(survey.fileName))
               : std::string();
}

SavedMap SaveToMap(const QString& folder, const QString& fileName, const ArrangedPoints& points,
                   const std::string& processingReport) {
    SavedMap saved;
    saved.paths = MakeExportPaths(folder, fileName);
    saved.processingReport = processingReport;
    const bool processed = !processingReport.empty();
    WriteExport(saved.paths, points, processed ? std::optional<std::string_view>(processingReport) : std::nullopt);
    saved.written = {saved.paths.absoluteFile, saved.paths.gradientFile, saved.paths.scriptFile};
    if (processed) saved.written.push_back(ProcessingReportPath(saved.paths));
    return saved;
}

SavedMap SaveToMap(const OpenedSurvey& survey) {
    return SaveToMap(survey.folder, survey.fileName, survey.points, ProcessingReportOf(survey));
}

FolderRunResult ArrangeFolder(const FolderRequest& request, SessionProgress& progress, ArrangedGis* gis) {
    if (request.refuseEmpty && FindSurveyFiles(request.folder).isEmpty()) throw NoSurveyError(request.folder);
    FolderProgress steps(progress, gis);
    return RunFolder(request.folder, request.combinedName, request.options, steps, request.refused,
                     request.outputFolder);
}

std::vector<QString> WrittenFiles(const FolderRunResult& run) {
    std::vector<QString> written = {run.paths.absoluteFile, run.paths.gradientFile, run.paths.scriptFile};
    if (!run.processingReportFile.isEmpty()) written.push_back(run.processingReportFile);
    if (!run.reportFile.isEmpty()) written.push_back(run.reportFile);
    return written;
}

ArrangedGis StartGis(const ExportPaths& paths, const GridRunOptions& options) {
    ArrangedGis gis;
    if (options.gis.geoPackage)
        gis.geoPackage = std::make_unique<GeoPackageWriter>(ReplaceExtension(paths.gridFile, ".gpkg"),
                                                            options.gis.geoPackagePointLimit);
    if (options.handover.targets) gis.origins.emplace();
    return gis;
}

void AddToGis(const SurveyTable& table, const ArrangedPoints& points, const QString& fileName, bool processed,
              ArrangedGis& gis) {
    const int run = static_cast<int>(gis.runs.size());
    SurveyRun& r = gis.runs.emplace_back();
    r.file = LocalBytes(fileName);
    const Positions positions = ReadPositions(table);
    for (std::size_t i = 0; i < positions.lon.size(); ++i) {
        const double lon = positions.lon[i], lat = positions.lat[i];
        if (!r.lon.empty() && r.lon.back() == lon && r.lat.back() == lat) continue;
        r.lon.push_back(lon);
        r.lat.push_back(lat);
    }
    if (gis.origins)
        gis.origins->AddRun(r.file, FileLineOfRow(kFirstDataRow), RowStarts(table, points.size()), points.size());
    if (!gis.geoPackage) return;
    const RowFixes fixes = ReadRowFixes(table);
    std::vector<GisPoint> labelled;
    labelled.reserve(points.size());
    ForEachArrangedPoint(table, points.size(), [&](std::size_t row, int k) {
        const std::size_t i = labelled.size();
        GisPoint& p = labelled.emplace_back();
        p.lon = points.lon(i);
        p.lat = points.lat(i);
        p.gradient = points.value(PointTable::Gradient, i);
        p.field = points.value(PointTable::Absolute, i);
        // The table keeps the arrangement's texts.
        if (processed) p.arrangedGradient = CellNumber(table, GradientColumn(k), row);
        p.time = fixes.seconds[row - kFirstDataRow];
        p.channel = k + 1;
        p.run = run;
        p.line = static_cast<int>(FileLineOfRow(row));
    });
    gis.geoPackage->AddPoints(labelled, gis.runs);
}

void AddToGis(const OpenedSurvey& survey, ArrangedGis& gis) {
    AddToGis(survey.table, survey.points, survey.fileName, ProcessingRan(survey.processing), gis);
}

GridRunResult Grid(const QString& script, const GridRunOptions& options, SessionProgress& progress,
                   ArrangedGis* arranged) {
    return RunGridHost(
        script, options, [&](int rows, int count) { progress.Step(rows, count, "kriging"); }, &progress.cancel,
        arranged);
}

GridRunOptions GridOptionsOf(const GriddingChoices& choices) {
    GridRunOptions o;
    if (choices.cellMetres) o.cellMetres = ParseCellSize(*choices.cellMetres);
    if (choices.targetThreshold) o.handover.targets = ParseTargetThreshold(*choices.targetThreshold);
    if (choices.coverageGap) o.handover.coverage = ParseCoverageGap(*choices.coverageGap);
    return o;
}

QStringList GridHostWords(const GriddingChoices& choices) {
    QStringList words;
    if (choices.cellMetres) words << "--cell" << QString::fromStdString(*choices.cellMetres);
    if (choices.targetThreshold) words << "--targets=" + QString::fromStdString(*choices.targetThreshold);
    if (choices.coverageGap) words << "--coverage=" + QString::fromStdString(*choices.coverageGap);
    return words;
}

void AskQualityForCoverage(const GridRunOptions& grid, ProcessingSettings& processing) {
    processing.quality.on = grid.handover.coverage.has_value();
    processing.quality.cellMetres = grid.cellMetres.value_or(kDefaultQualityCell);
}

GriddedFindings ReadGriddedFindings(const ExportPaths& paths, const GridRunOptions& options,
                                    const OpenedSurvey* gridded) {
    GriddedFindings out;
    out.grid = ReadGridFile(paths.gridFile);
    if (!options.cellMetres && !options.handover.targets && !options.handover.coverage) return out;
    const GridJob job = ReadGriddingScript(paths.scriptFile);
    const std::vector<DataPoint> points = ReadPointFile(job.dataFile);
    // The grid file holds no system: a metric one is the points' own zone's.
    if (options.cellMetres) out.grid.epsg = MetricGridEpsg(points);
    ArrangedGis origins;
    if (gridded && options.handover.targets) {
        origins.origins.emplace();
        AddToGis(*gridded, origins);
    }
    HandoverOptions asked = options.handover;
    asked.pdf.reset();
    out.findings = FindHandover(out.grid, points, asked, job.dataFile, origins.origins ? &*origins.origins : nullptr);
    return out;
}

std::optional<int> SampleRowOf(const OpenedSurvey& survey, const PointOrigin& origin) {
    const std::size_t first = FileLineOfRow(kFirstDataRow);
    if (origin.file != LocalBytes(survey.fileName) || origin.line < first) return std::nullopt;
    const std::size_t row = origin.line - first;
    if (row + kFirstDataRow >= survey.table.rowCount()) return std::nullopt;
    return static_cast<int>(row);
}

}  // namespace qgrad
