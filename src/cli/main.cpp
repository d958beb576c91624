// qgrad: the program's logic without the window, for scripts and tests.
// Output files are the bytes the window writes.
#include "commandline.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/language.h"
#include "common/memoryreuse.h"
#include "common/numtext.h"
#include "common/vectorunit.h"
#include "gridhost/interrupt.h"
#include "gridviewer.h"
#include "mapview/staticmap.h"
#include "pipeline/opensurvey.h"
#include "processing/processing.h"
#include "session/session.h"

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
    if (s.cutLastLine) std::fprintf(stderr, "%s\n", CutLastLineNote(s.cutLastLine, s.fileName).toUtf8().constData());
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

// The session's progress on the terminal's bar, or through the gridding
// host's window.
class CliProgress : public SessionProgress {
public:
    explicit CliProgress(std::function<void(int, int, const QString&)> show) : show_(std::move(show)) {}
    void Step(int done, int count, const QString& what) override { show_(done, count, what); }

private:
    std::function<void(int, int, const QString&)> show_;
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

int TableVerb(const CommandLine& c) {
    OpenedSurvey s;
    Open(c.survey, c.batch ? OpeningMode::Folder : OpeningMode::Interactive, s);
    PrintTable(s.table);
    return kExitOk;
}

void PrintPaths(const std::vector<QString>& paths) {
    for (const QString& p : paths) PrintPath(p);
}

// `qgrad grid` on the script, and after arranging with --grid.
int GridScript(const CommandLine& c, const QString& script, ArrangedGis* arranged = nullptr) {
    const bool viewing = c.view && qobject_cast<QApplication*>(QCoreApplication::instance());
    GridRunResult run;
    {
        // An interrupt cancels the gridding; once that has ended, the
        // picture's window ends on the first one again.
        std::function<void(int, int)> shown;
        CliProgress progress([&](int rows, int count, const QString&) { shown(rows, count); });
        const CancelOnInterrupt interrupt(progress.cancel);
        auto work = [&](const std::function<void(int, int)>& show) {
            shown = show;
            run = Grid(script, c.gridOptions, progress, arranged);
        };
        if (viewing) {
            RunWithProgressWindow("Kriging", progress.cancel, work, ShowFailureWindow);
        } else {
            Progress bar;
            work([&](int rows, int count) { bar.Show(rows, count, "kriging"); });
        }
    }
    PrintPaths({run.gridFile, run.pictureFile});
    PrintPaths(run.gisFiles);
    PrintPaths(run.handover.files);
    std::fputs(run.handover.summary.c_str(), stderr);
    if (!run.note.isEmpty()) std::fprintf(stderr, "%s\n", run.note.toLocal8Bit().constData());
    if (viewing) {
        GridViewer viewer(run.picture, QFileInfo(run.pictureFile).fileName());
        viewer.show();
        return QApplication::exec();
    }
    return kExitOk;
}

int ArrangeVerb(const CommandLine& c) {
    OpenedSurvey s;
    Open(c.survey, OpeningMode::Interactive, s, c.processing);
    const SavedMap saved = SaveToMap(s);
    PrintPaths({saved.written.begin(), saved.written.begin() + 3});
    if (!saved.processingReport.empty()) {
        std::fputs(ProcessingReportHeadings(saved.processingReport).c_str(), stderr);
        PrintPath(saved.written.back());
    }
    if (!c.grid) return kExitOk;
    ArrangedGis gis = StartGis(saved.paths, c.gridOptions);
    AddToGis(s, gis);
    s.clear();
    return GridScript(c, saved.paths.scriptFile, &gis);
}

int FolderVerb(const CommandLine& c) {
    FolderRequest request;
    request.folder = QDir::toNativeSeparators(QFileInfo(c.folder).absoluteFilePath() + "/");
    request.combinedName = CombinedName(c.name);
    request.options.processing = c.processing;
    request.refused = c.skipRefused ? RefusedSurveys::Skip : RefusedSurveys::Stop;
    request.refuseEmpty = true;
    std::optional<ArrangedGis> gis;
    if (c.grid) gis = StartGis(MakeExportPaths(request.folder, request.combinedName), c.gridOptions);
    FolderRunResult run;
    {
        Progress bar;
        CliProgress progress([&](int done, int count, const QString& name) { bar.Show(done, count, name); });
        run = ArrangeFolder(request, progress, gis ? &*gis : nullptr);
    }
    if (run.end != FolderRunEnd::Completed) throw Refused{RefusalText(run.kind).toStdString(), run.detail};
    for (const RefusedSurvey& r : run.refused)
        std::fprintf(stderr, "%s: %s\n%s\n", EscapeControls(LocalBytes(r.file)).c_str(),
                     RefusalText(r.kind).toUtf8().constData(), EscapeControls(r.detail).c_str());
    for (const CutSurvey& cut : run.cut)
        std::fprintf(stderr, "%s\n", CutLastLineNote(cut.cut, cut.file).toUtf8().constData());
    const std::vector<QString> written = WrittenFiles(run);
    PrintPaths({written.begin(), written.begin() + 3});
    if (!run.processingReportFile.isEmpty()) {
        std::fputs(ProcessingReportHeadings(run.processingReport).c_str(), stderr);
        PrintPath(run.processingReportFile);
    }
    if (!run.reportFile.isEmpty()) PrintPath(run.reportFile);
    return c.grid ? GridScript(c, run.paths.scriptFile, gis ? &*gis : nullptr) : kExitOk;
}

int GridVerb(const CommandLine& c) { return GridScript(c, c.script); }

int MapVerb(const CommandLine& c) {
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
    const SurveyMapPicture composed = ComposeMap(s, fetcher);
    if (!composed.trackFailure.empty() && !refused)
        refused = Refused{RefusalText(SurveyFormatError::Kind::BadFormat).toStdString(), composed.trackFailure};
    // Without the service's picture the map is the plain fill: say why, and go on.
    const std::string& why = composed.map.failureReason;
    if (!why.empty()) std::fprintf(stderr, "warning: %s\n", why.c_str());
    if (!composed.map.track.save(c.out, "PNG")) throw std::runtime_error("cannot write " + c.out.toStdString());
    if (refused) throw *refused;
    return kExitOk;
}

// The verbs, in the order the usage lists them.
const std::vector<Verb>& Verbs() {
    static const std::vector<Verb> verbs = {
        {"table", "the survey table after opening, cells joined by \";\"", DeclareTable, TableVerb},
        {"arrange", "OPEN FILE + SAVE TO MAP: point files and script beside SURVEY", DeclareArrange, ArrangeVerb},
        {"arrange-folder", "ARRANGE ALL IN FOLDER with NAME as the combined name", DeclareArrangeFolder, FolderVerb},
        {"map", "the map picture of a survey", DeclareMap, MapVerb},
        {"grid", "the gridding host: grid file (.grd) and map picture (.png)", DeclareGrid, GridVerb},
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
        if (!r.detail.empty()) std::fprintf(stderr, "%s\n", qgrad::EscapeControls(r.detail).c_str());
        return qgrad::kExitRefused;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", qgrad::EscapeControls(e.what()).c_str());
        return qgrad::kExitFailure;
    }
}
