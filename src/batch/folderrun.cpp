#include "batch/folderrun.h"

#include "common/errors.h"
#include "common/fileio.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <future>
#include <optional>
#include <vector>

namespace qgrad {

QString DefaultCombinedName(const QString& surveyFileName) { return surveyFileName.left(13) + ".txt"; }

QString CombinedName(const QString& dialogPath) {
    const QString name = QFileInfo(dialogPath).fileName();
    const qsizetype dot = name.lastIndexOf('.');
    const QString extension = dot >= 0 ? name.mid(dot) : QString();
    return extension == ".txt" ? name : ReplaceExtension(name, ".txt");
}

QStringList FindSurveyFiles(const QString& folder) {
    QDir dir(folder);
    dir.setFilter(QDir::Files | QDir::Hidden | QDir::System);
    dir.setNameFilters({"*.csv"});
    dir.setSorting(QDir::Unsorted);
    QStringList names;
    for (const QFileInfo& info : dir.entryInfoList())
        if (!info.isDir()) names << info.fileName();
    std::sort(names.begin(), names.end(), [](const QString& a, const QString& b) {
        const int c = a.compare(b, Qt::CaseInsensitive);
        return c != 0 ? c < 0 : a < b;
    });
    return names;
}

namespace {

// The lag over the opposite traverses of all the folder's surveys, each
// opened as the run opens it but without processing. A survey that cannot be
// opened adds nothing: the run itself stops there.
LagEstimate EstimateFolderLag(const QString& folder, const QStringList& names, OpeningOptions options) {
    const ProcessingSettings settings = options.processing;
    options.processing = {};
    options.keepProfiles = false;
    options.stageReached = nullptr;
    std::vector<LagSurvey> surveys;
    std::optional<LocalFrame> frame;
    OpenedSurvey survey;
    for (const QString& name : names) {
        try {
            OpenSurvey(folder + name, options, survey);
        } catch (const SurveyFormatError&) {
            break;
        }
        options.previousFrame = survey.frame;
        if (survey.points.size() == 0 || !survey.arranged) continue;
        if (!frame) frame.emplace(survey.points.lon(0), survey.points.lat(0));
        const ChannelPoints index = IndexChannelPoints(survey.table, survey.points.size());
        surveys.push_back(MakeLagSurvey(ReadRowFixes(survey.table), survey.geometry, survey.points, index, *frame));
    }
    return EstimateLag(surveys, settings.lag, settings.destripe.turns);
}

}  // namespace

FolderRunResult RunFolder(const QString& folder, const QString& combinedName, const OpeningOptions& options,
                          FolderRunSteps& steps) {
    FolderRunResult result;
    result.paths = MakeExportPaths(folder, combinedName);
    OutputFile absolute(result.paths.absoluteFile);
    OutputFile gradient(result.paths.gradientFile);
    absolute.WriteLine(kAbsoluteHeading);
    gradient.WriteLine(kGradientHeading);
    PointExtent extent;
    OpeningOptions opening = options;
    opening.mode = OpeningMode::Folder;
    result.frame = options.previousFrame;

    // Each survey's points are written on the other core while the next
    // survey is opened.
    OpenedSurvey survey;
    ArrangedPoints written;
    std::future<void> writing;
    auto finishWriting = [&writing] {
        if (writing.valid()) writing.get();
    };
    const QStringList names = FindSurveyFiles(folder);
    std::optional<LagEstimate> folderLag;
    if (options.processing.lag.mode == LagMode::Auto && !options.folderLag) {
        folderLag = EstimateFolderLag(folder, names, opening);
        opening.folderLag = &*folderLag;
    }
    try {
        for (int i = 0; i < names.size(); ++i) {
            const QString& name = names[i];
            steps.BeforeFile(i, static_cast<int>(names.size()), name);
            opening.previousFrame = result.frame;
            try {
                OpenSurvey(folder + name, opening, survey);
            } catch (const SurveyFormatError& e) {
                result.end = e.kind() == SurveyFormatError::Kind::Empty ? FolderRunEnd::EmptyFile : FolderRunEnd::BadFile;
                result.file = name;
                result.detail = e.detail();
                if (survey.reached >= OpeningStage::Framed) result.frame = survey.frame;
                steps.Show(survey);
                break;
            }
            result.frame = survey.frame;
            ++result.surveys;
            if (opening.processing.AnyOn())
                result.processingReport += ProcessingReportText(survey.processing, name.toLocal8Bit().toStdString());
            finishWriting();
            std::swap(survey.points, written);
            writing = std::async(std::launch::async, [&] {
                WritePointRows(absolute, gradient, written);
                extent.AddPoints(written);
            });
            steps.Show(survey);
            steps.AfterFile();
        }
        finishWriting();
    } catch (...) {
        if (writing.valid()) writing.wait();
        throw;
    }
    if (result.end == FolderRunEnd::Completed) result.lastPoints = std::move(written);
    absolute.Commit();
    gradient.Commit();
    if (result.end == FolderRunEnd::Completed) WriteGriddingScript(result.paths, extent);
    return result;
}

}  // namespace qgrad
