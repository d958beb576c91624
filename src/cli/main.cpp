// qgrad: the program's logic without the window, for scripts and tests.
// Output files are the bytes the window writes.
#include "batch/folderrun.h"
#include "commandline.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/language.h"
#include "common/memoryreuse.h"
#include "common/numtext.h"
#include "common/vectorunit.h"
#include "export/export.h"
#include "gridhost/gridrun.h"
#include "gridhost/interrupt.h"
#include "gridviewer.h"
#include "mapview/staticmap.h"
#include "pipeline/opensurvey.h"

#include <QApplication>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>

#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <unistd.h>
#include <vector>

namespace qgrad {
namespace {

struct Refused {
    std::string text;
    std::string detail;
};

// OPEN FILE without the window; a survey the program does not take is refused.
void Open(const QString& path, OpeningMode mode, OpenedSurvey& s, const ProcessingSettings& processing = {}) {
    OpeningOptions options;
    options.mode = mode;
    options.keepProfiles = false;
    options.processing = processing;
    try {
        OpenSurvey(path, options, s);
    } catch (const SurveyFormatError& e) {
        throw Refused{RefusalText(e.kind()).toStdString(), e.kind() == SurveyFormatError::Kind::Empty ? std::string() : e.detail()};
    }
}

// A progress bar on standard error when it is a terminal. The bar's line
// ends before anything else is printed (End, or at the latest when it goes).
class Progress {
public:
    Progress() : shown_(isatty(fileno(stderr)) != 0) {}
    Progress(const Progress&) = delete;
    ~Progress() { End(); }
    void Show(int done, int count, const QString& name) {
        if (!shown_ || count <= 0) return;
        constexpr int kWidth = 30;
        const int filled = done * kWidth / count;
        std::fprintf(stderr, "\r[%.*s%*s] %d/%d %-40.40s", filled, "##############################", kWidth - filled, "",
                     done, count, name.toLocal8Bit().constData());
        std::fflush(stderr);
        drawn_ = true;
    }
    void End() {
        if (!drawn_) return;
        std::fputc('\n', stderr);
        std::fflush(stderr);
        drawn_ = false;
    }

private:
    bool shown_;
    bool drawn_ = false;
};

class CliFolderSteps : public FolderRunSteps {
public:
    explicit CliFolderSteps(Progress& progress) : progress_(progress) {}
    void BeforeFile(int index, int count, const QString& name) override {
        count_ = count;
        index_ = index;
        progress_.Show(index, count, name);
    }
    void Show(OpenedSurvey&) override {}
    void AfterFile() override { progress_.Show(index_ + 1, count_, {}); }

private:
    Progress& progress_;
    int count_ = 0;
    int index_ = 0;
};

void PrintTable(const SurveyTable& t) {
    std::string out;
    out.reserve(1 << 20);
    for (std::size_t r = 0; r < t.rowCount(); ++r) {
        for (int c = 0; c < SurveyTable::kColumns; ++c) {
            if (c) out += ';';
            out.append(t.cell(c, r));
        }
        out += '\n';
        if (out.size() > (1 << 20) - 4096) {
            std::fwrite(out.data(), 1, out.size(), stdout);
            out.clear();
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
}

void PrintPath(const QString& path) { std::printf("%s\n", LocalBytes(QDir::toNativeSeparators(path)).c_str()); }

int Table(const CommandLine& c) {
    OpenedSurvey s;
    Open(c.survey, c.batch ? OpeningMode::Folder : OpeningMode::Interactive, s);
    PrintTable(s.table);
    return kExitOk;
}

int Arrange(const CommandLine& c) {
    OpenedSurvey s;
    Open(c.survey, OpeningMode::Interactive, s, c.processing);
    const ExportPaths paths = MakeExportPaths(s.folder, s.fileName);
    std::optional<std::string> report;
    if (c.processing.AnyOn()) report = ProcessingReportText(s.processing, LocalBytes(s.fileName));
    WriteExport(paths, s.points, report);
    for (const QString& p : {paths.absoluteFile, paths.gradientFile, paths.scriptFile}) PrintPath(p);
    if (report) {
        std::fputs(report->c_str(), stderr);
        PrintPath(ProcessingReportPath(paths));
    }
    return kExitOk;
}

int ArrangeFolder(const CommandLine& c) {
    const QString folder = QDir::toNativeSeparators(QFileInfo(c.folder).absoluteFilePath() + "/");
    if (FindSurveyFiles(folder).isEmpty()) throw NoSurveyError(folder);
    OpeningOptions options;
    options.processing = c.processing;
    FolderRunResult run;
    {
        Progress progress;
        CliFolderSteps steps(progress);
        run = RunFolder(folder, CombinedName(c.name), options, steps,
                        c.skipRefused ? RefusedSurveys::Skip : RefusedSurveys::Stop);
    }
    if (run.end != FolderRunEnd::Completed) throw Refused{RefusalText(run.kind).toStdString(), run.detail};
    for (const RefusedSurvey& r : run.refused)
        std::fprintf(stderr, "%s: %s\n%s\n", LocalBytes(r.file).c_str(), RefusalText(r.kind).toUtf8().constData(),
                     r.detail.c_str());
    for (const QString& p : {run.paths.absoluteFile, run.paths.gradientFile, run.paths.scriptFile}) PrintPath(p);
    if (!run.processingReportFile.isEmpty()) {
        std::fputs(run.processingReport.c_str(), stderr);
        PrintPath(run.processingReportFile);
    }
    if (!run.reportFile.isEmpty()) PrintPath(run.reportFile);
    return kExitOk;
}

int Grid(const CommandLine& c) {
    const bool viewing = c.view && qobject_cast<QApplication*>(QCoreApplication::instance());
    GridRunResult run;
    {
        // An interrupt cancels the gridding; once that has ended, the
        // picture's window ends on the first one again.
        std::atomic<bool> cancel{false};
        const CancelOnInterrupt interrupt(cancel);
        auto work = [&](const std::function<void(int, int)>& progress) {
            run = RunGridHost(c.script, c.gridOptions, progress, &cancel);
        };
        if (viewing) {
            RunWithProgressWindow("Kriging", cancel, work, ShowFailureWindow);
        } else {
            Progress progress;
            work([&](int rows, int count) { progress.Show(rows, count, "kriging"); });
        }
    }
    PrintPath(run.gridFile);
    PrintPath(run.pictureFile);
    for (const QString& p : run.gisFiles) PrintPath(p);
    if (!run.note.isEmpty()) std::fprintf(stderr, "%s\n", run.note.toLocal8Bit().constData());
    if (viewing) {
        GridViewer viewer(run.picture, QFileInfo(run.pictureFile).fileName());
        viewer.show();
        return QApplication::exec();
    }
    return kExitOk;
}

int Map(const CommandLine& c) {
    // The picture is written whenever the opening came as far as the
    // map frame; a track that cannot be drawn is reported after it.
    OpenedSurvey s;
    OpeningOptions options;
    options.keepProfiles = false;
    std::optional<Refused> refused;
    try {
        OpenSurvey(c.survey, options, s);
    } catch (const SurveyFormatError& e) {
        if (s.reached < OpeningStage::Framed) throw Refused{RefusalText(e.kind()).toStdString(), e.detail()};
        refused = Refused{RefusalText(e.kind()).toStdString(), e.detail()};
    }
    CurlMapFetcher fetcher(c.https);
    ComposedMap map;
    const std::optional<QByteArray> image = fetcher.FetchMap(s.frame);
    try {
        ComposeSurveyMap(image, s.frame, s.track.lon, s.track.lat, map);
    } catch (const std::range_error& e) {
        if (!refused) refused = Refused{RefusalText(SurveyFormatError::Kind::BadFormat).toStdString(), e.what()};
    }
    // Without the service's picture the map is the plain fill: say why, and go on.
    const std::string why = image ? map.pictureFailure : fetcher.lastFailure();
    if (!why.empty()) std::fprintf(stderr, "warning: %s\n", why.c_str());
    if (!map.track.save(c.out, "PNG")) throw std::runtime_error("cannot write " + c.out.toStdString());
    if (refused) throw *refused;
    return kExitOk;
}

// The verbs, in the order the usage lists them.
const std::vector<Verb>& Verbs() {
    static const std::vector<Verb> verbs = {
        {"table", "the survey table after opening, cells joined by \";\"", DeclareTable, Table},
        {"arrange", "OPEN FILE + SAVE TO MAP: point files and script beside SURVEY", DeclareArrange, Arrange},
        {"arrange-folder", "ARRANGE ALL IN FOLDER with NAME as the combined name", DeclareArrangeFolder, ArrangeFolder},
        {"map", "the map picture of a survey", DeclareMap, Map},
        {"grid", "the gridding host: grid file (.grd) and map picture (.png)", DeclareGrid, Grid},
    };
    return verbs;
}

}  // namespace
}  // namespace qgrad

int main(int argc, char** argv) {
    qgrad::KeepFreedMemoryForReuse();  // a folder's surveys follow one another
    qgrad::CommandLine command;
    if (const std::optional<int> parsed = qgrad::ParseCommandLine(argc, argv, qgrad::Verbs(), command)) return *parsed;
    // Drawing pictures needs the GUI module, with no display unless the
    // gridding host shows its picture on one.
    const bool viewing = command.Viewing();
    if (command.Drawing() && !viewing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    const qgrad::PrivateRuntimeFolder runtime(command.Drawing());
    std::unique_ptr<QCoreApplication> app;
    if (viewing)
        app = std::make_unique<QApplication>(argc, argv);
    else if (command.Drawing())
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    qgrad::ClearUpperVectorState();
    qgrad::InstallInterfaceLanguage();
    try {
        return command.verb->run(command);
    } catch (const qgrad::Refused& r) {
        std::fprintf(stderr, "%s\n", r.text.c_str());
        if (!r.detail.empty()) std::fprintf(stderr, "%s\n", r.detail.c_str());
        return qgrad::kExitRefused;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return qgrad::kExitFailure;
    }
}
