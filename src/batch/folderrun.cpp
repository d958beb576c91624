#include "batch/folderrun.h"

#include "common/errors.h"
#include "common/fileio.h"
#include "common/language.h"
#include "common/sidebyside.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <optional>
#include <system_error>
#include <vector>

namespace qgrad {

QString CombinedName(const QString& dialogPath) {
    const QString name = QFileInfo(dialogPath).fileName();
    const qsizetype dot = name.lastIndexOf('.');
    const QString extension = dot >= 0 ? name.mid(dot) : QString();
    return extension == ".txt" ? name : ReplaceExtension(name, ".txt");
}

QStringList FindSurveyFiles(const QString& folder) {
    // The file system's own bytes: a name that is not UTF-8 is still found
    // and opened under its name.
    QStringList names;
    std::error_code error;
    const std::filesystem::directory_iterator entries(LocalBytes(folder), error);
    if (error) throw FileError("Cannot read the folder " + LocalBytes(folder) + ": " + error.message());
    for (const auto& entry : std::filesystem::directory_iterator(entries)) {
        const QString name = FromLocalBytes(entry.path().filename().native());
        if (!name.endsWith(".csv", Qt::CaseInsensitive)) continue;
        // A target list left by an earlier gridding of this folder is no run.
        if (name.startsWith("GPS_DIFF_") && name.endsWith(kTargetListEnding)) continue;
        // Folders, FIFOs, devices and sockets are no surveys; a name whose
        // file has gone is tried and refused.
        if (!NonRegularKind(folder + name).empty()) continue;
        names << name;
    }
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

NoSurveyError::NoSurveyError(const QString& folder)
    : std::runtime_error("no survey (.csv) in " + LocalBytes(QDir::toNativeSeparators(folder))), folder_(folder) {}

QString RefusedReportPath(const QString& folder, const QString& combinedName) {
    return folder + "GPS_REFUSED_" + combinedName;
}

LagEstimate EstimateFolderLag(const QString& folder, const QStringList& names, OpeningOptions options,
                              RefusedSurveys refusedSurveys) {
    const ProcessingSettings settings = options.processing;
    // The estimate compares the surveys as the lag will find them: placed,
    // and despiked, as the run places and despikes them.
    options.processing = {};
    options.processing.trueOffsets = settings.trueOffsets;
    options.processing.despike = settings.despike;
    options.keepProfiles = false;
    options.stageReached = nullptr;
    const OffsetConversion conversion = settings.trueOffsets ? OffsetConversion::Exact : OffsetConversion::OneCourse;
    std::optional<LocalFrame> frame;
    OpenedSurvey survey;
    auto eachSurvey = [&](const OpeningOptions& from, auto use) {
        OpeningOptions opening = from;
        for (const QString& name : names) {
            try {
                OpenSurvey(folder + name, opening, survey);
            } catch (const SurveyFormatError&) {
                if (refusedSurveys == RefusedSurveys::Skip) continue;
                break;
            }
            opening.previousFrame = survey.frame;
            if (survey.points.size() == 0 || !survey.arranged) continue;
            if (!frame) frame.emplace(survey.points.lon(0), survey.points.lat(0));
            const ChannelPoints index = IndexChannelPoints(survey.table, survey.points.size());
            use(MakeLagSurvey(ReadRowFixes(survey.table), survey.geometry, survey.points, index, *frame, conversion));
        }
    };
    LagEstimator estimator(settings.lag, settings.destripe.turns);
    // The lines need only where the sensors were, which despiking leaves.
    OpeningOptions placing = options;
    placing.processing.despike = {};
    eachSurvey(placing, [&](const LagSurvey& s) { estimator.AddLines(s); });
    eachSurvey(options, [&](const LagSurvey& s) { estimator.AddReadings(s); });
    return estimator.Finish();
}

namespace {

// One line per refused survey, then one per survey whose cut last line was
// left out: name, message (in the interface language) and detail, separated
// by tabs.
void WriteRefusedReport(OutputFile& out, const FolderRunResult& run) {
    auto line = [&](const QString& file, const QString& message, const std::string& detail) {
        out.WriteLine(EscapeControls(LocalBytes(file)) + "\t" + message.toStdString() + "\t" + EscapeControls(detail));
    };
    out.WriteLine("File\tMessage\tDetail");
    for (const RefusedSurvey& r : run.refused) line(r.file, RefusalText(r.kind), r.detail);
    for (const CutSurvey& c : run.cut) line(c.file, CutLastLineText(), CutLastLineDetail(c.cut));
}

}  // namespace

FolderRunResult RunFolder(const QString& folder, const QString& combinedName, const OpeningOptions& options,
                          FolderRunSteps& steps, RefusedSurveys refusedSurveys, const QString& outputFolder) {
    FolderRunResult result;
    const QString target = outputFolder.isEmpty() ? folder : outputFolder;
    result.paths = MakeExportPaths(target, combinedName);
    // A folder that is not there is said so, before its lock is tried.
    const QStringList names = FindSurveyFiles(folder);
    ExportWriter writer(result.paths);
    writer.RemoveUnlessAdded(RefusedReportPath(target, combinedName));
    OpeningOptions opening = options;
    opening.mode = OpeningMode::Folder;
    result.frame = options.previousFrame;

    // Each survey's points are written on the other core while the next
    // survey is opened.
    OpenedSurvey survey;
    ArrangedPoints written;
    OnTheOtherCore writing;
    std::optional<LagEstimate> folderLag;
    if (options.processing.lag.mode == LagMode::Auto && !options.folderLag) {
        folderLag = EstimateFolderLag(folder, names, opening, refusedSurveys);
        opening.folderLag = &*folderLag;
    }
    for (int i = 0; i < names.size(); ++i) {
        const QString& name = names[i];
        steps.BeforeFile(i, static_cast<int>(names.size()), name);
        opening.previousFrame = result.frame;
        try {
            OpenSurvey(folder + name, opening, survey);
        } catch (const SurveyFormatError& e) {
            if (survey.reached >= OpeningStage::Framed) result.frame = survey.frame;
            steps.Show(survey);
            if (refusedSurveys == RefusedSurveys::Skip) {
                result.refused.push_back({name, e.kind(), e.detail()});
                steps.AfterFile();
                continue;
            }
            result.end = e.kind() == SurveyFormatError::Kind::Empty ? FolderRunEnd::EmptyFile : FolderRunEnd::BadFile;
            result.file = name;
            result.kind = e.kind();
            result.detail = e.detail();
            break;
        }
        result.frame = survey.frame;
        ++result.surveys;
        if (survey.cutLastLine) result.cut.push_back({name, survey.cutLastLine});
        if (opening.processing.AnyOn() || opening.processing.quality.on)
            result.processingReport += ProcessingReportText(survey.processing, LocalBytes(name));
        steps.Arranged(survey);
        writing.Finish();
        std::swap(survey.points, written);
        writing.Start([&] { writer.AddPoints(written); });
        steps.Show(survey);
        steps.AfterFile();
    }
    writing.Finish();
    // A run that stopped early leaves the earlier files as they were.
    if (result.end != FolderRunEnd::Completed) return result;
    result.lastPoints = std::move(written);
    if (refusedSurveys == RefusedSurveys::Skip) {
        result.reportFile = RefusedReportPath(target, combinedName);
        WriteRefusedReport(writer.AddFile(result.reportFile), result);
    }
    if (opening.processing.AnyOn() || opening.processing.quality.on) {
        result.processingReportFile = ProcessingReportPath(result.paths);
        WriteProcessingReport(writer.AddFile(result.processingReportFile), result.processingReport);
    }
    writer.Finish();
    return result;
}

}  // namespace qgrad
