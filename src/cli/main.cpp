// qgrad: the program's logic without the window, for scripts and tests.
// Output files are the bytes the window writes.
#include "arrange/arrange.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "export/export.h"
#include "survey/opening.h"
#include "survey/reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cstdio>
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
        "       qgrad arrange SURVEY\n",
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

void Open(const QString& path, ReaderVariant variant, OpenedSurvey& s) {
    try {
        if (ReadSurveyFile(path, variant, s.table, s.geometry) == ReadResult::Empty) throw Refused{kEmptyFileText, {}};
        ArrangeToGps(s.table, s.geometry, true, s.points);
        ReadTrack(s.table);
        for (int k = 0; k < kChannels; ++k) ForEachProfilePoint(s.table, k, [](double, double) {});
        ForEachPosition(s.table, [](double, double, double) {});
        ReadRunEnds(s.table);
    } catch (const SurveyFormatError& e) {
        throw Refused{kBadFormatText, e.detail()};
    }
}

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
    return Usage();
}

}  // namespace
}  // namespace qgrad

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
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
