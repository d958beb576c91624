// libFuzzer target: the whole road of a survey file, from its bytes to the
// point lines, the gridding script and the map geometry, in both opening
// modes. Every input must end in an opened survey or in a refusal; anything
// else (a crash, a sanitizer report) is a fault.
#include "common/errors.h"
#include "export/export.h"
#include "mapview/markers.h"
#include "mapview/overlay.h"
#include "pipeline/opensurvey.h"

#include <QBuffer>

#include <cstdint>
#include <stdexcept>

namespace {

void Road(const QByteArray& bytes, qgrad::OpeningMode mode) {
    using namespace qgrad;
    QByteArray copy = bytes;
    QBuffer input(&copy);
    input.open(QIODevice::ReadOnly);
    OpenedSurvey s;
    OpeningOptions options;
    options.mode = mode;
    try {
        OpenSurvey(input, "fuzz.csv", options, s);
    } catch (const SurveyFormatError&) {
        return;
    }
    try {
        ComputeScaleBar(s.frame, 20);
        PlaceMarker(s.frame, 650, s.ends.startLon, s.ends.startLat, QSize(25, 25));
        PlaceCursor(s.frame, 650, static_cast<float>(s.frame.centreLon), static_cast<float>(s.frame.centreLat),
                    QSize(13, 13), 19);
    } catch (const std::range_error&) {
    }
    std::string lines;
    for (std::size_t i = 0; i < s.points.size() && i < 4096; ++i) {
        s.points.AppendFileLine(lines, PointTable::Absolute, i);
        s.points.AppendFileLine(lines, PointTable::Gradient, i);
    }
    PointExtent extent;
    extent.AddPoints(s.points);
    try {
        GriddingScript(MakeExportPaths("/f/", "run.csv"), ComputeGridSize(extent));
    } catch (const std::range_error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Road(bytes, qgrad::OpeningMode::Interactive);
    Road(bytes, qgrad::OpeningMode::Folder);
    return 0;
}
