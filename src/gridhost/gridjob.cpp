#include "gridhost/gridjob.h"

#include "common/fileio.h"
#include "common/numtext.h"

#include <QFile>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <limits>
#include <optional>

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

// The path named by the literal between `prefix` and `suffix`, as a file name.
QString PathBetween(std::string_view line, std::string_view prefix, std::string_view suffix, int number) {
    const std::optional<std::string> path = ReadScriptLiteral(Between(line, prefix, suffix, number));
    if (!path) Fail(number, "expected a path in double quotes, any quote inside doubled");
    return QString::fromLocal8Bit(path->data(), static_cast<qsizetype>(path->size()));
}

std::int32_t GridLines(std::string_view text, int line) {
    std::int32_t n = 0;
    auto r = std::from_chars(text.data(), text.data() + text.size(), n);
    if (r.ec != std::errc() || r.ptr != text.data() + text.size() || n < 2)
        Fail(line, "grid size \"" + std::string(text) + "\" is not a whole number of at least 2");
    return n;
}

}  // namespace

std::optional<std::string> ReadScriptLiteral(std::string_view text) {
    if (text.size() < 2 || text.front() != '"' || text.back() != '"') return std::nullopt;
    std::string bytes;
    for (std::size_t i = 1; i + 1 < text.size(); ++i) {
        if (static_cast<unsigned char>(text[i]) < 0x20) return std::nullopt;
        if (text[i] == '"') {
            // A quote inside is always one of a pair; a lone one ends the literal early.
            if (i + 2 >= text.size() || text[i + 1] != '"') return std::nullopt;
            ++i;
        }
        bytes += text[i];
    }
    return bytes;
}

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
    job.dataFile = PathBetween(lines[9], "SurferApp.GridData3(DataFile:=", ", _", 10);
    const std::string_view sizes = Between(
        lines[10], "Algorithm:=srfKriging, showReport:=False, BlankOutsideHull:=True, NumCols:=", ", _", 11);
    const std::size_t rowsAt = sizes.find(", NumRows:=");
    if (rowsAt == std::string_view::npos) Fail(11, "expected \"NumRows:=\"");
    job.cols = GridLines(sizes.substr(0, rowsAt), 11);
    job.rows = GridLines(sizes.substr(rowsAt + 11), 11);
    job.gridFile = PathBetween(lines[11], "OutGrid:=", ")", 12);
    // The host uses the paths above; these two must still be literals of their own.
    PathBetween(lines[14], "Set MapFrame = Plot.Shapes.AddContourMap(GridFileName:=", ")", 15);
    PathBetween(lines[15], "Set PostLayer = Plot.Shapes.AddPostLayer(Map:=MapFrame, DataFileName:=", ")", 16);
    return job;
}

namespace {

// What a path names that is no regular file, for a message.
const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

[[noreturn]] void FailReading(const QString& path, const std::string& why) {
    throw GridHostError("cannot read " + LocalBytes(path) + ": " + why);
}

// The whole of a regular file of at most `maxBytes`. Opened without
// blocking, since opening a FIFO for reading waits for a writer; anything but
// a regular file is refused before a byte is read.
QByteArray ReadRegularFile(const QString& path, qint64 maxBytes) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) FailReading(path, std::strerror(errno));
    QFile f;
    if (!f.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        FailReading(path, f.errorString().toStdString());
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) FailReading(path, std::strerror(errno));
    if (!S_ISREG(st.st_mode)) FailReading(path, std::string("it is ") + KindOf(st.st_mode) + ", not a regular file");
    if (st.st_size > maxBytes)
        FailReading(path, std::to_string(st.st_size) + " bytes, more than the " + std::to_string(maxBytes) +
                              " this file can hold");
    return f.readAll();
}

// A gridding script names four paths of at most a few kilobytes each.
constexpr qint64 kMaxScriptBytes = 1 << 20;

}  // namespace

GridJob ReadGriddingScript(const QString& path) {
    return ParseGriddingScript(ReadRegularFile(path, kMaxScriptBytes).toStdString());
}

std::vector<DataPoint> ReadPointFile(const QString& path) {
    const QByteArray bytes = ReadRegularFile(path, std::numeric_limits<qint64>::max());
    return ParsePointFile(std::string_view(bytes.constData(), static_cast<std::size_t>(bytes.size())),
                          LocalBytes(path));
}

QString MapPicturePath(const GridJob& job) { return ReplaceExtension(job.gridFile, ".png"); }

namespace {

// The file a path names after its links, if it names one.
std::optional<struct stat> FileAt(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0) return std::nullopt;
    return st;
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

void CheckJobOutputs(const GridJob& job, const QString& scriptPath, const std::vector<QString>& moreOutputs) {
    const std::pair<QString, const char*> inputs[] = {{scriptPath, "the gridding script"},
                                                      {job.dataFile, "the data file"}};
    std::vector<QString> outputs = {job.gridFile, MapPicturePath(job)};
    outputs.insert(outputs.end(), moreOutputs.begin(), moreOutputs.end());
    if (outputs[0] == outputs[1])
        throw GridHostError("will not write " + LocalBytes(job.gridFile) +
                            ": the grid file and its picture would be one file");
    for (const QString& output : outputs) {
        // A new file is always fine.
        const std::optional<struct stat> target = FileAt(output);
        if (!target) continue;
        const std::string refused = "will not write " + LocalBytes(output) + ": ";
        // Replacing a device node or a FIFO would put a plain file in its place.
        if (!S_ISREG(target->st_mode))
            throw GridHostError(refused + "it is " + KindOf(target->st_mode) + ", not a regular file");
        for (const auto& [input, what] : inputs) {
            const std::optional<struct stat> in = FileAt(input);
            if (in && SameFile(*in, *target)) throw GridHostError(refused + "it is " + what + " itself");
        }
    }
}

std::vector<DataPoint> ParsePointFile(std::string_view bytes, const std::string& name) {
    std::string_view rest = bytes;
    std::vector<DataPoint> points;
    points.reserve(bytes.size() / 32);
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
                throw GridHostError(name + ", line " + std::to_string(number) + ": \"" +
                                    std::string(cell.substr(0, 40)) + "\" is not a number");
            if (semi == std::string_view::npos) {
                if (i < 2)
                    throw GridHostError(name + ", line " + std::to_string(number) +
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
