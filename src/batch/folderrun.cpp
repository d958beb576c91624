#include "batch/folderrun.h"

#include "common/errors.h"
#include "common/fileio.h"
#include "survey/reader.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <future>

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

FolderRunResult RunFolder(const QString& folder, const QString& combinedName, SurveyTable& table,
                          ArrangedPoints& points, FolderRunSteps& steps) {
    FolderRunResult result;
    result.paths = MakeExportPaths(folder, combinedName);
    OutputFile absolute(result.paths.absoluteFile);
    OutputFile gradient(result.paths.gradientFile);
    absolute.WriteLine(kAbsoluteHeading);
    gradient.WriteLine(kGradientHeading);
    PointExtent extent;

    // Each survey's points are written on the other core while the next
    // survey is read and arranged: the surveys take turns in two point tables.
    ArrangedPoints written;
    std::future<void> writing;
    auto finishWriting = [&writing] {
        if (writing.valid()) writing.get();
    };
    const QStringList names = FindSurveyFiles(folder);
    try {
        for (int i = 0; i < names.size(); ++i) {
            const QString& name = names[i];
            steps.BeforeFile(i, static_cast<int>(names.size()), name);
            table.clear();
            points.clear();
            try {
                auto file = OpenSurveyFile(folder + name);
                steps.FileOpened(name);
                if (ReadSurveyLines(*file, table) == ReadResult::Empty) {
                    result.end = FolderRunEnd::EmptyFile;
                    result.file = name;
                    break;
                }
                steps.ArrangeAndShow();
            } catch (const FileError&) {
                throw;
            } catch (const std::exception& e) {
                const auto* format = dynamic_cast<const SurveyFormatError*>(&e);
                result.end = FolderRunEnd::BadFile;
                result.file = name;
                result.detail = name.toLocal8Bit().toStdString() + ": " + (format ? format->detail() : e.what());
                break;
            }
            ++result.surveys;
            steps.AfterFile();
            finishWriting();
            std::swap(points, written);
            writing = std::async(std::launch::async, [&] {
                WritePointRows(absolute, gradient, written);
                extent.AddPoints(written);
            });
        }
        finishWriting();
    } catch (...) {
        if (writing.valid()) writing.wait();
        throw;
    }
    // A complete run leaves the last survey's points where the window shows them.
    if (result.end == FolderRunEnd::Completed && result.surveys > 0) std::swap(points, written);
    absolute.Commit();
    gradient.Commit();
    if (result.end == FolderRunEnd::Completed) WriteGriddingScript(result.paths, extent);
    return result;
}

}  // namespace qgrad
