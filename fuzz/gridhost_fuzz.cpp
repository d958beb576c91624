// libFuzzer target: the gridding host's readers. The bytes are read as a
// gridding script and as a point file, the points gridded when they are few,
// and their first line taken as a survey name for a script that must read
// back to the same paths. Every input must end in a result or in one of the
// failures the host reports; anything else (a crash, a sanitizer report, a
// script that reads back otherwise) is a fault.
#include "common/errors.h"
#include "export/export.h"
#include "gridhost/gridjob.h"
#include "gridhost/kriging.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

// Small enough that each input grids in a moment.
constexpr std::size_t kMostPointsGridded = 64;
constexpr int kGridLines = 6;

void ReadAsScript(std::string_view bytes) {
    try {
        qgrad::ParseGriddingScript(std::string(bytes));
    } catch (const qgrad::GridHostError&) {
    }
}

void ReadAndGridAsPoints(std::string_view bytes) {
    try {
        const auto points = qgrad::ParsePointFile(bytes, "fuzz");
        if (points.size() <= kMostPointsGridded) qgrad::KrigeGrid(points, kGridLines, kGridLines);
    } catch (const qgrad::GridHostError&) {
    }
}

// Whatever the name, a script that is written reads back to its paths.
void NameRoundTrip(std::string_view bytes) {
    const QString name = QString::fromLocal8Bit(bytes.substr(0, bytes.find('\n')));
    qgrad::ExportPaths paths;
    try {
        paths = qgrad::MakeExportPaths("/f/\"q\"/", name);
    } catch (const qgrad::FileError&) {
        return;  // a control character: refused before anything is written
    }
    const qgrad::GridJob job = qgrad::ParseGriddingScript(qgrad::GriddingScript(paths, {100, 100}));
    if (job.dataFile != paths.gradientFile || job.gridFile != paths.gridFile) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    ReadAsScript(bytes);
    ReadAndGridAsPoints(bytes);
    NameRoundTrip(bytes);
    return 0;
}
