#include "gridhost/gridjob.h"

#include "common/numtext.h"

#include <QFile>

#include <array>
#include <charconv>

namespace qgrad {
namespace {

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
    while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) s.remove_suffix(1);
    return s;
}

[[noreturn]] void Fail(int line, const std::string& what) {
    throw GridHostError("gridding script, line " + std::to_string(line) + ": " + what);
}

// The text between `prefix` and `suffix`; fails naming the line otherwise.
std::string_view Between(std::string_view line, std::string_view prefix, std::string_view suffix, int number) {
    if (line.size() < prefix.size() + suffix.size() || line.substr(0, prefix.size()) != prefix ||
        line.substr(line.size() - suffix.size()) != suffix)
        Fail(number, "expected \"" + std::string(prefix) + "...\"" + std::string(suffix) + "\"");
    return line.substr(prefix.size(), line.size() - prefix.size() - suffix.size());
}

std::int32_t GridLines(std::string_view text, int line) {
    std::int32_t n = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || n < 2)
        Fail(line, "grid size \"" + std::string(text) + "\" is not a whole number of at least 2");
    return n;
}

}  // namespace

GridJob ParseGriddingScript(const std::string& text) {
    std::vector<std::string_view> lines;
    std::string_view rest(text);
    while (!rest.empty()) {
        const std::size_t lf = rest.find('\n');
        lines.push_back(Trim(rest.substr(0, lf)));
        if (lf == std::string_view::npos) break;
        rest.remove_prefix(lf + 1);
    }
    // The fixed lines, by number; the lines with paths and sizes come after.
    static const std::array<std::pair<int, const char*>, 26> kFixed = {{
        {1, "Sub Main"},
        {2, ""},
        {3, "Dim SurferApp As Object"},
        {4, "Set SurferApp = CreateObject(\"Surfer.Application\")"},
        {5, "SurferApp.Visible = True"},
        {6, "SurferApp.WindowState = srfWindowStateMaximized"},
        {7, ""},
        {8, "Dim Plot As Object"},
        {9, "Set Plot = SurferApp.Documents.Add"},
        {13, ""},
        {14, "Dim MapFrame As Object"},
        {17, "PostLayer.Symbol.Size = 0.01"},
        {18, ""},
        {19, "Dim ColorLayer As Object"},
        {20, "Set ColorLayer = MapFrame.Overlays(1)"},
        {21, "ColorLayer.FillForegroundColorMap.LoadPreset(\"Rainbow6\")"},
        {22, "ColorLayer.FillContours = True"},
        {23, "ColorLayer.ShowColorScale = True"},
        {24, "ColorLayer.ShowMajorLabels = False"},
        {25, "ColorLayer.ShowMinorLabels = False"},
        {26, "ColorLayer.MajorLine.Style = \"Invisible\""},
        {27, "ColorLayer.MinorLine.Style = \"Invisible\""},
        {28, ""},
        {29, "Set ColorScale = ColorLayer.ColorScale"},
        {30, "ColorScale.Title = \"gradHz, nT/m\""},
        {33, "End Sub"},
    }};
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.size() != 33) throw GridHostError("gridding script: " + std::to_string(lines.size()) +
                                                " lines where 33 are expected");
    for (const auto& [number, expected] : kFixed)
        if (lines[number - 1] != expected) Fail(number, "expected \"" + std::string(expected) + "\"");
    if (lines[30] != "ColorScale.TitlePosition = srfColorScaleTitlePositionTop")
        Fail(31, "expected the colour scale's title position");
    if (lines[31] != "ColorScale.TitleAngle = 0") Fail(32, "expected the colour scale's title angle");

    GridJob job;
    const std::string_view data = Between(lines[9], "SurferApp.GridData3(DataFile:=\"", "\", _", 10);
    const std::string_view sizes = Between(
        lines[10], "Algorithm:=srfKriging, showReport:=False, BlankOutsideHull:=True, NumCols:=", ", _", 11);
    const std::size_t rowsAt = sizes.find(", NumRows:=");
    if (rowsAt == std::string_view::npos) Fail(11, "expected \"NumRows:=\"");
    job.cols = GridLines(sizes.substr(0, rowsAt), 11);
    job.rows = GridLines(sizes.substr(rowsAt + 11), 11);
    const std::string_view grid = Between(lines[11], "OutGrid:=\"", "\")", 12);
    Between(lines[14], "Set MapFrame = Plot.Shapes.AddContourMap(GridFileName:=\"", "\")", 15);
    Between(lines[15], "Set PostLayer = Plot.Shapes.AddPostLayer(Map:=MapFrame, DataFileName:=\"", "\")", 16);
    job.dataFile = QString::fromLocal8Bit(data.data(), static_cast<qsizetype>(data.size()));
    job.gridFile = QString::fromLocal8Bit(grid.data(), static_cast<qsizetype>(grid.size()));
    return job;
}

GridJob ReadGriddingScript(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw GridHostError("cannot read " + path.toLocal8Bit().toStdString() + ": " + f.errorString().toStdString());
    return ParseGriddingScript(f.readAll().toStdString());
}

std::vector<DataPoint> ReadPointFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw GridHostError("cannot read " + path.toLocal8Bit().toStdString() + ": " + f.errorString().toStdString());
    const QByteArray bytes = f.readAll();
    std::string_view rest(bytes.constData(), static_cast<std::size_t>(bytes.size()));
    std::vector<DataPoint> points;
    points.reserve(static_cast<std::size_t>(bytes.size()) / 32);
    std::size_t number = 0;
    while (!rest.empty()) {
        const std::size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
        ++number;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (number == 1 || line.empty()) continue;  // the heading
        double v[3];
        std::size_t pos = 0;
        for (int i = 0; i < 3; ++i) {
            const std::size_t semi = line.find(';', pos);
            const std::string_view cell = line.substr(pos, semi == std::string_view::npos ? line.npos : semi - pos);
            if (!TryParseNumber(cell, v[i]))
                throw GridHostError(path.toLocal8Bit().toStdString() + ", line " + std::to_string(number) + ": \"" +
                                    std::string(cell.substr(0, 40)) + "\" is not a number");
            if (semi == std::string_view::npos) {
                if (i < 2)
                    throw GridHostError(path.toLocal8Bit().toStdString() + ", line " + std::to_string(number) +
                                        ": fewer than three fields");
                pos = line.size();
            } else {
                pos = semi + 1;
            }
        }
        points.push_back({v[0], v[1], v[2]});
    }
    return points;
}

}  // namespace qgrad
