// qgrad: the program's logic without the window, for scripts and tests.
// Output files are the bytes the window writes.
#include "batch/folderrun.h"
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

#include <QCoreApplication>
#include <QApplication>
#include <QGuiApplication>
#include <QDir>
#include <QFileInfo>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <functional>
#include <unistd.h>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qgrad {
namespace {

constexpr int kOk = 0;
constexpr int kFailure = 1;
constexpr int kRefused = 2;

int Usage() {
    std::fputs(
        "usage: qgrad table SURVEY [--batch]\n"
        "       qgrad arrange SURVEY [PROCESSING]\n"
        "       qgrad arrange-folder FOLDER NAME [--skip-refused] [PROCESSING]\n"
        "       qgrad map SURVEY OUT.png [--endpoint URL] [--cacert FILE]\n"
        "       qgrad grid SCRIPT.bas [--no-view] [--gis | --geotiff --kmz --gpkg] [--utm]\n"
        "                  [--palette grey|diverging|rainbow] [--clip N|LOW:HIGH|Ksd] [--post-points]\n"
        "                  [--max-nodes N]\n"
        "PROCESSING: [--despike[=K]] [--destripe[=median|mean]] [--lag=SECONDS|auto]\n",
        stderr);
    return kFailure;
}

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

// A progress bar on standard error when it is a terminal.
class Progress {
public:
    Progress() : shown_(isatty(fileno(stderr)) != 0) {}
    Progress(const Progress&) = delete;
    ~Progress() {
        if (shown_ && drawn_) std::fputc('\n', stderr);
    }
    void Show(int done, int count, const QString& name) {
        if (!shown_ || count <= 0) return;
        constexpr int kWidth = 30;
        const int filled = done * kWidth / count;
        std::fprintf(stderr, "\r[%.*s%*s] %d/%d %-40.40s", filled, "##############################", kWidth - filled, "",
                     done, count, name.toLocal8Bit().constData());
        std::fflush(stderr);
        drawn_ = true;
    }

private:
    bool shown_;
    bool drawn_ = false;
};

class CliFolderSteps : public FolderRunSteps {
public:
    void BeforeFile(int index, int count, const QString& name) override {
        count_ = count;
        index_ = index;
        progress_.Show(index, count, name);
    }
    void Show(OpenedSurvey&) override {}
    void AfterFile() override { progress_.Show(index_ + 1, count_, {}); }

private:
    Progress progress_;
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

constexpr const char* kNoView = "--no-view";

struct GridCommand {
    GridRunOptions options;
    bool view = true;
};

// The options of `qgrad grid` after the script; nothing for a word it does
// not take. Throws std::invalid_argument for a palette or clip it cannot read.
std::optional<GridCommand> ParseGridCommand(const std::vector<QString>& args) {
    GridCommand c;
    GisOutputs& gis = c.options.gis;
    Presentation& look = c.options.presentation;
    for (std::size_t i = 2; i < args.size(); ++i) {
        const QString& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == kNoView) c.view = false;
        else if (a == "--gis") gis.geoTiff = gis.kmz = gis.geoPackage = true;
        else if (a == "--geotiff") gis.geoTiff = true;
        else if (a == "--kmz") gis.kmz = true;
        else if (a == "--gpkg") gis.geoPackage = true;
        else if (a == "--utm") gis.projection = GeoTiffProjection::LocalUtm;
        else if (a == "--post-points") look.posting = PointPosting::Sparse;
        else if (a == "--palette" && hasValue) look.palette = ParsePalette(args[++i].toStdString());
        else if (a == "--clip" && hasValue) look.clip = ParseClip(args[++i].toStdString());
        else if (a == "--max-nodes" && hasValue) c.options.maxNodes = ParseNodeLimit(args[++i].toStdString());
        else return std::nullopt;
    }
    return c;
}

// The processing flags after the arguments of `arrange` and
// `arrange-folder`, from args[from]; nothing for a word they do not take.
// Throws std::invalid_argument for a value they cannot read.
std::optional<ProcessingSettings> ParseProcessingFlags(const std::vector<QString>& args, std::size_t from) {
    ProcessingSettings p;
    auto number = [](const QString& flag, const QString& text) {
        double v = 0;
        if (!TryParseNumber(text.toStdString(), v))
            throw std::invalid_argument((flag + " takes a number, not \"" + text + "\"").toStdString());
        return v;
    };
    for (std::size_t i = from; i < args.size(); ++i) {
        const QString& a = args[i];
        const qsizetype eq = a.indexOf('=');
        const QString flag = eq < 0 ? a : a.left(eq);
        const std::optional<QString> value = eq < 0 ? std::nullopt : std::optional<QString>(a.mid(eq + 1));
        if (flag == "--despike") {
            p.despike.on = true;
            if (value) p.despike.k = number(flag, *value);
        } else if (flag == "--destripe") {
            if (!value || *value == "median") p.destripe.level = LevelEstimate::Median;
            else if (*value == "mean") p.destripe.level = LevelEstimate::Mean;
            else throw std::invalid_argument("--destripe takes median or mean");
        } else if (flag == "--lag" && value) {
            if (*value == "auto") {
                p.lag.mode = LagMode::Auto;
            } else {
                p.lag.mode = LagMode::Fixed;
                p.lag.seconds = number(flag, *value);
            }
        } else {
            return std::nullopt;
        }
    }
    ValidateProcessing(p);
    return p;
}


void PrintPath(const QString& path) { std::printf("%s\n", LocalBytes(QDir::toNativeSeparators(path)).c_str()); }

int Run(const std::vector<QString>& args) {
    if (args.empty()) return Usage();
    const QString& command = args[0];
    if (command == "table" && (args.size() == 2 || (args.size() == 3 && args[2] == "--batch"))) {
        OpenedSurvey s;
        Open(args[1], args.size() == 3 ? OpeningMode::Folder : OpeningMode::Interactive, s);
        PrintTable(s.table);
        return kOk;
    }
    if (command == "arrange" && args.size() >= 2) {
        const std::optional<ProcessingSettings> processing = ParseProcessingFlags(args, 2);
        if (!processing) return Usage();
        OpenedSurvey s;
        Open(args[1], OpeningMode::Interactive, s, *processing);
        const ExportPaths paths = MakeExportPaths(s.folder, s.fileName);
        std::optional<std::string> report;
        if (processing->AnyOn()) report = ProcessingReportText(s.processing, LocalBytes(s.fileName));
        WriteExport(paths, s.points, report);
        for (const QString& p : {paths.absoluteFile, paths.gradientFile, paths.scriptFile}) PrintPath(p);
        if (report) {
            std::fputs(report->c_str(), stderr);
            PrintPath(ProcessingReportPath(paths));
        }
        return kOk;
    }
    if (command == "arrange-folder" && args.size() >= 3) {
        std::vector<QString> words = args;
        const auto skip = std::find(words.begin() + 3, words.end(), QString("--skip-refused"));
        const RefusedSurveys refused = skip == words.end() ? RefusedSurveys::Stop : RefusedSurveys::Skip;
        if (skip != words.end()) words.erase(skip);
        const std::optional<ProcessingSettings> processing = ParseProcessingFlags(words, 3);
        if (!processing) return Usage();
        CliFolderSteps steps;
        const QString folder = QDir::toNativeSeparators(QFileInfo(args[1]).absoluteFilePath() + "/");
        OpeningOptions options;
        options.processing = *processing;
        const FolderRunResult run = RunFolder(folder, CombinedName(args[2]), options, steps, refused);
        if (run.end != FolderRunEnd::Completed) throw Refused{RefusalText(run.kind).toStdString(), run.detail};
        for (const RefusedSurvey& r : run.refused)
            std::fprintf(stderr, "%s: %s\n%s\n", EscapeControls(LocalBytes(r.file)).c_str(),
                         RefusalText(r.kind).toUtf8().constData(), EscapeControls(r.detail).c_str());
        for (const CutSurvey& c : run.cut)
            std::fprintf(stderr, "%s\n", CutLastLineNote(c.cut, c.file).toUtf8().constData());
        for (const QString& p : {run.paths.absoluteFile, run.paths.gradientFile, run.paths.scriptFile}) PrintPath(p);
        if (!run.processingReportFile.isEmpty()) {
            std::fputs(run.processingReport.c_str(), stderr);
            PrintPath(run.processingReportFile);
        }
        if (!run.reportFile.isEmpty()) PrintPath(run.reportFile);
        return kOk;
    }
    if (command == "grid" && args.size() >= 2) {
        const std::optional<GridCommand> grid = ParseGridCommand(args);
        if (!grid) return Usage();
        const bool viewing = grid->view && qobject_cast<QApplication*>(QCoreApplication::instance());
        GridRunResult run;
        {
            // An interrupt cancels the gridding; once that has ended, the
            // picture's window ends on the first one again.
            std::atomic<bool> cancel{false};
            const CancelOnInterrupt interrupt(cancel);
            auto work = [&](const std::function<void(int, int)>& progress) {
                run = RunGridHost(args[1], grid->options, progress, &cancel);
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
        return kOk;
    }
    if (command == "map" && args.size() >= 3) {
        HttpsSettings https;
        for (std::size_t i = 3; i + 1 < args.size(); i += 2) {
            if (args[i] == "--endpoint") https.endpoint = args[i + 1].toStdString();
            else if (args[i] == "--cacert") https.caFile = args[i + 1].toLocal8Bit().toStdString();
            else return Usage();
        }
        if (args.size() % 2 == 0) return Usage();
        // The picture is written whenever the opening came as far as the
        // map frame; a track that cannot be drawn is reported after it.
        OpenedSurvey s;
        OpeningOptions options;
        options.keepProfiles = false;
        std::optional<Refused> refused;
        try {
            OpenSurvey(args[1], options, s);
        } catch (const SurveyFormatError& e) {
            if (s.reached < OpeningStage::Framed) throw Refused{RefusalText(e.kind()).toStdString(), e.detail()};
            refused = Refused{RefusalText(e.kind()).toStdString(), e.detail()};
        }
        CurlMapFetcher fetcher(https);
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
        if (!map.track.save(args[2], "PNG")) throw std::runtime_error("cannot write " + args[2].toStdString());
        if (refused) throw *refused;
        return kOk;
    }
    return Usage();
}

}  // namespace
}  // namespace qgrad

int main(int argc, char** argv) {
    qgrad::KeepFreedMemoryForReuse();  // a folder's surveys follow one another
    // Drawing pictures needs the GUI module, with no display unless the
    // gridding host shows its picture on one.
    const std::string command = argc > 1 ? argv[1] : "";
    const bool drawing = command == "map" || command == "grid";
    const bool viewing = command == "grid" && std::none_of(argv + std::min(argc, 2), argv + argc, [](const char* a) {
                             return std::string(a) == qgrad::kNoView;
                         }) &&
                         (!qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"));
    if (drawing && !viewing && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    std::unique_ptr<QCoreApplication> app;
    if (viewing)
        app = std::make_unique<QApplication>(argc, argv);
    else if (drawing)
        app = std::make_unique<QGuiApplication>(argc, argv);
    else
        app = std::make_unique<QCoreApplication>(argc, argv);
    qgrad::ClearUpperVectorState();
    qgrad::InstallInterfaceLanguage();
    std::vector<QString> args;
    for (int i = 1; i < argc; ++i) args.push_back(qgrad::FromLocalBytes(argv[i]));
    try {
        return qgrad::Run(args);
    } catch (const qgrad::Refused& r) {
        std::fprintf(stderr, "%s\n", r.text.c_str());
        if (!r.detail.empty()) std::fprintf(stderr, "%s\n", qgrad::EscapeControls(r.detail).c_str());
        return qgrad::kRefused;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", qgrad::EscapeControls(e.what()).c_str());
        return qgrad::kFailure;
    }
}
