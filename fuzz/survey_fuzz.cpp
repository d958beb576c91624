// libFuzzer target: the whole road of a survey file, from its bytes to the
// point lines, the gridding script and the map geometry, in both reader
// variants. Every input must end in a result or in one of the failures the
// program reports; anything else (a crash, a sanitizer report) is a fault.
#include "arrange/arrange.h"
#include "common/errors.h"
#include "export/export.h"
#include "mapview/mapframe.h"
#include "mapview/markers.h"
#include "mapview/overlay.h"
#include "survey/opening.h"
#include "survey/reader.h"

#include <QBuffer>

#include <cstdint>
#include <stdexcept>

namespace {

void Road(const QByteArray& bytes, qgrad::ReaderVariant variant) {
    using namespace qgrad;
    QByteArray copy = bytes;
    QBuffer input(&copy);
    input.open(QIODevice::ReadOnly);
    SurveyTable table;
    SurveyGeometry geometry;
    ArrangedPoints points;
    try {
        if (ReadSurveyLines(input, table) == ReadResult::Empty) return;
        CleanSurveyTable(table, variant, geometry);
        ArrangeToGps(table, geometry, true, points);
        const Track track = ReadTrack(table);
        const std::vector<double> distances = ReadDistances(table);
        for (int k = 0; k < kChannels; ++k) ForEachProfilePoint(table, distances, k, [](double, double) {});
        ForEachPosition(table, distances, [](double, double, double) {});
        const RunEnds ends = ReadRunEnds(table);
        MapFrame frame;
        FitFrameToTrack(track.lon, track.lat,
                        variant == ReaderVariant::Batch ? ZoomPrecision::Double : ZoomPrecision::Single, frame);
        CheckTrackPixels(frame, track.lon, track.lat);
        ComputeScaleBar(frame, 20);
        PlaceMarker(frame, 650, ends.startLon, ends.startLat, QSize(25, 25));
        PlaceCursor(frame, 650, static_cast<float>(frame.centreLon), static_cast<float>(frame.centreLat),
                    QSize(13, 13), 19);
    } catch (const SurveyFormatError&) {
        return;
    } catch (const std::range_error&) {
        return;
    }
    std::string lines;
    for (std::size_t i = 0; i < points.size() && i < 4096; ++i) {
        points.AppendFileLine(lines, PointTable::Absolute, i);
        points.AppendFileLine(lines, PointTable::Gradient, i);
    }
    PointExtent extent;
    extent.AddPoints(points);
    try {
        GriddingScript(MakeExportPaths("/f/", "run.csv"), ComputeGridSize(extent));
    } catch (const std::range_error&) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    Road(bytes, qgrad::ReaderVariant::Interactive);
    Road(bytes, qgrad::ReaderVariant::Batch);
    return 0;
}
