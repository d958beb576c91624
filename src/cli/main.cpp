// qgrad: the program's logic without the window, for scripts and tests.
// Output files are the bytes the window writes.
#include "arrange/arrange.h"
#include "batch/folderrun.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/vectorunit.h"
#include "export/export.h"
#include "gridhost/contourmap.h"
#include "gridhost/gridfile.h"
#include "gridhost/gridjob.h"
#include "gridhost/kriging.h"
#include "gridviewer.h"
#include "mapview/mapframe.h"
#include "mapview/overlay.h"
#include "mapview/staticmap.h"
#include "survey/opening.h"
#include "survey/reader.h"

#include <QCoreApplication>
#include <QApplication>
#include <QGuiApplication>
#include <QSaveFile>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
#include <unistd.h>
#include <memory>
#include <optional>
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
        "       qgrad arrange SURVEY\n"
        "       qgrad arrange-folder FOLDER NAME\n"
        "       qgrad map SURVEY OUT.png [--endpoint URL] [--cacert FILE]\n"
        "       qgrad grid SCRIPT.bas [--no-view]\n",
        stderr);
    return kFailure;
}

struct Refused {
    std::string text;
    std::string detail;
};

// OPEN FILE without the window: read, clean, arrange, and the reads that the
// opening makes of the arranged table.
struct OpenedSurvey {
    SurveyTable table;
    SurveyGeometry geometry;
    ArrangedPoints points;
};

// The opening after the reading: cleaning, arrangement, and every read the
// window makes of the arranged table (track, map frame, profiles, ends).
Track CleanAndArrange(OpenedSurvey& s, ReaderVariant variant, ZoomPrecision zoom) {
    CleanSurveyTable(s.table, variant, s.geometry);
    ArrangeToGps(s.table, s.geometry, true, s.points);
    Track track = ReadTrack(s.table);
    MapFrame frame;
    FitFrameToTrack(track.lon, track.lat, zoom, frame);
    CheckTrackPixels(frame, track.lon, track.lat);
    const std::vector<double> distances = ReadDistances(s.table);
    for (int k = 0; k < kChannels; ++k) ForEachProfilePoint(s.table, distances, k, [](double, double) {});
    ForEachPosition(s.table, distances, [](double, double, double) {});
    ReadRunEnds(s.table);
    return track;
}

void Open(const QString& path, ReaderVariant variant, OpenedSurvey& s) {
    try {
        auto file = OpenSurveyFile(path);
        if (ReadSurveyLines(*file, s.table) == ReadResult::Empty) throw Refused{kEmptyFileText, {}};
        CleanAndArrange(s, variant, ZoomPrecision::Single);
    } catch (const SurveyFormatError& e) {
        throw Refused{kBadFormatText, e.detail()};
    } catch (const std::range_error& e) {
        throw Refused{kBadFormatText, e.what()};
    }
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
    explicit CliFolderSteps(OpenedSurvey& s) : s_(s) {}
    void BeforeFile(int index, int count, const QString& name) override {
        count_ = count;
        index_ = index;
        progress_.Show(index, count, name);
    }
    void FileOpened(const QString&) override {}
    void ArrangeAndShow() override { CleanAndArrange(s_, ReaderVariant::Batch, ZoomPrecision::Double); }
    void AfterFile() override { progress_.Show(index_ + 1, count_, {}); }

private:
    OpenedSurvey& s_;
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

void PrintPath(const QString& path) { std::printf("%s\n", QDir::toNativeSeparators(path).toLocal8Bit().constData()); }

int Run(const std::vector<QString>& args) {
    if (args.empty()) return Usage();
    const QString& command = args[0];
    if (command == "table" && (args.size() == 2 || (args.size() == 3 && args[2] == "--batch"))) {
        OpenedSurvey s;
        Open(args[1], args.size() == 3 ? ReaderVariant::Batch : ReaderVariant::Interactive, s);
        PrintTable(s.table);
        return kOk;
    }
    if (command == "arrange" && args.size() == 2) {
        OpenedSurvey s;
        Open(args[1], ReaderVariant::Interactive, s);
        const QFileInfo info(args[1]);
        const ExportPaths paths = MakeExportPaths(QDir::toNativeSeparators(info.absolutePath() + "/"), info.fileName());
        PointExtent extent;
        WritePointFiles(paths, s.points, extent);
        WriteGriddingScript(paths, extent);
        for (const QString& p : {paths.absoluteFile, paths.gradientFile, paths.scriptFile}) PrintPath(p);
        return kOk;
    }
    if (command == "arrange-folder" && args.size() == 3) {
        OpenedSurvey s;
        CliFolderSteps steps(s);
        const QString folder = QDir::toNativeSeparators(QFileInfo(args[1]).absoluteFilePath() + "/");
        const FolderRunResult run = RunFolder(folder, CombinedName(args[2]), s.table, s.points, steps);
        if (run.end == FolderRunEnd::EmptyFile) throw Refused{kEmptyFileText, run.file.toLocal8Bit().toStdString()};
        if (run.end == FolderRunEnd::BadFile) throw Refused{kBadFormatText, run.detail};
        for (const QString& p : {run.paths.absoluteFile, run.paths.gradientFile, run.paths.scriptFile}) PrintPath(p);
        return kOk;
    }
    if (command == "grid" && (args.size() == 2 || (args.size() == 3 && args[2] == "--no-view"))) {
        const GridJob job = ReadGriddingScript(args[1]);
        const std::vector<DataPoint> points = ReadPointFile(job.dataFile);
        constexpr long long kMaxNodes = 50'000'000;
        if (static_cast<long long>(job.cols) * job.rows > kMaxNodes)
            throw GridHostError("a grid of " + std::to_string(job.cols) + " by " + std::to_string(job.rows) +
                                " nodes is more than this host makes (" + std::to_string(kMaxNodes) + ")");
        Progress progress;
        const Grid grid = KrigeGrid(points, job.cols, job.rows, {},
                                    [&](int rows) { progress.Show(rows, job.rows, "kriging"); });
        WriteGridFile(job.gridFile, grid);
        const QString picturePath = ReplaceExtension(job.gridFile, ".png");
        const QImage picture = DrawContourMap(grid, points);
        QSaveFile out(picturePath);
        if (!out.open(QIODevice::WriteOnly) || !picture.save(&out, "PNG") || !out.commit())
            throw std::runtime_error("cannot write " + picturePath.toLocal8Bit().toStdString());
        PrintPath(job.gridFile);
        PrintPath(picturePath);
        if (args.size() == 2 && qobject_cast<QApplication*>(QCoreApplication::instance())) {
            GridViewer viewer(picture, QFileInfo(picturePath).fileName());
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
        OpenedSurvey s;
        Open(args[1], ReaderVariant::Interactive, s);
        const Track track = ReadTrack(s.table);
        MapFrame frame;
        FitFrameToTrack(track.lon, track.lat, ZoomPrecision::Single, frame);
        CurlMapFetcher fetcher(https);
        ComposedMap map;
        const std::optional<QByteArray> image = fetcher.FetchMap(frame);
        auto save = [&] {
            if (!map.track.save(args[2], "PNG")) throw std::runtime_error("cannot write " + args[2].toStdString());
        };
        try {
            ComposeSurveyMap(image, frame, track.lon, track.lat, map);
        } catch (const std::range_error& e) {
            save();  // the picture as far as it was drawn, as the window shows it
            throw Refused{kBadFormatText, e.what()};
        }
        save();
        return kOk;
    }
    return Usage();
}

}  // namespace
}  // namespace qgrad

int main(int argc, char** argv) {
    // Drawing pictures needs the GUI module, with no display unless the
    // gridding host shows its picture on one.
    const std::string command = argc > 1 ? argv[1] : "";
    const bool drawing = command == "map" || command == "grid";
    const bool viewing = command == "grid" && !(argc > 3 && std::string(argv[3]) == "--no-view") &&
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
    std::vector<QString> args;
    for (int i = 1; i < argc; ++i) args.push_back(QString::fromLocal8Bit(argv[i]));
    try {
        return qgrad::Run(args);
    } catch (const qgrad::Refused& r) {
        std::fprintf(stderr, "%s\n", r.text.c_str());
        if (!r.detail.empty()) std::fprintf(stderr, "%s\n", r.detail.c_str());
        return qgrad::kRefused;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "%s\n", e.what());
        return qgrad::kFailure;
    }
}
