#include "gridhost/gridjob.h"

#include "common/fileio.h"
#include "common/griddingscript.h"
#include "common/numtext.h"

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <future>
#include <limits>
#include <memory>
#include <optional>
#include <vector>

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

// The texts that stand for the placeholders of a script line's template, in
// their order; nothing when the line's own text differs from the template's.
std::optional<std::vector<std::pair<std::string_view, std::string_view>>> MatchTemplate(std::string_view line,
                                                                                         std::string_view pattern) {
    static constexpr std::string_view kPlaceholders[] = {kScriptDataFile, kScriptGridFile, kScriptColumns, kScriptRows};
    std::vector<std::pair<std::string_view, std::string_view>> values;
    for (;;) {
        std::size_t at = std::string_view::npos;
        std::string_view name;
        for (std::string_view p : kPlaceholders)
            if (const std::size_t found = pattern.find(p); found < at) {
                at = found;
                name = p;
            }
        if (at == std::string_view::npos) {
            if (line != pattern) return std::nullopt;
            return values;
        }
        const std::string_view before = pattern.substr(0, at);
        if (line.substr(0, before.size()) != before) return std::nullopt;
        line.remove_prefix(before.size());
        pattern.remove_prefix(at + name.size());
        // A placeholder runs to the text after it: the first place it stands,
        // or the line's end for the last placeholder of the line.
        const std::size_t next = pattern.find('{');
        const std::string_view after = pattern.substr(0, next);
        const std::size_t end = next == std::string_view::npos
                                    ? (line.size() >= after.size() ? line.size() - after.size() : std::string_view::npos)
                                    : line.find(after);
        if (end == std::string_view::npos) return std::nullopt;
        values.emplace_back(name, line.substr(0, end));
        line.remove_prefix(end);
    }
}

// A path in a script literal, as a file name.
QString ScriptPath(std::string_view literal, int number) {
    const std::optional<std::string> path = ReadScriptLiteral(literal);
    if (!path) Fail(number, "expected a path in double quotes, any quote inside doubled");
    return FromLocalBytes(*path);
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
    while (!lines.empty() && lines.back().empty()) lines.pop_back();
    if (lines.size() != kGriddingScriptLines.size())
        throw GridHostError("gridding script: " + std::to_string(lines.size()) + " lines where " +
                            std::to_string(kGriddingScriptLines.size()) + " are expected");
    GridJob job;
    bool haveData = false, haveGrid = false;
    for (std::size_t i = 0; i < lines.size(); ++i) {
        const int number = static_cast<int>(i) + 1;
        const std::string_view pattern = Trim(kGriddingScriptLines[i]);
        const auto values = MatchTemplate(lines[i], pattern);
        if (!values) Fail(number, "expected \"" + std::string(pattern) + "\"");
        for (const auto& [name, value] : *values) {
            if (name == kScriptColumns) job.cols = GridLines(value, number);
            if (name == kScriptRows) job.rows = GridLines(value, number);
            // The first line that names a file gives its path; later ones
            // must still be literals of their own.
            if (name == kScriptDataFile) {
                const QString path = ScriptPath(value, number);
                if (!haveData) job.dataFile = path;
                haveData = true;
            }
            if (name == kScriptGridFile) {
                const QString path = ScriptPath(value, number);
                if (!haveGrid) job.gridFile = path;
                haveGrid = true;
            }
        }
    }
    return job;
}

namespace {

[[noreturn]] void FailReading(const QString& path, const std::string& why) {
    throw GridHostError("cannot read " + LocalBytes(path) + ": " + why);
}

// The whole of a regular file of at most `maxBytes`; anything but a regular
// file is refused before a byte is read.
QByteArray ReadRegularFile(const QString& path, qint64 maxBytes) {
    std::unique_ptr<InputFile> f;
    try {
        f = OpenRegularFile(path);
    } catch (const FileReadError& e) {
        FailReading(path, e.what());
    }
    if (f->opened.size > maxBytes)
        FailReading(path, std::to_string(f->opened.size) + " bytes, more than the " + std::to_string(maxBytes) +
                              " this file can hold");
    return f->readAll();
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
    if (::stat(LocalBytes(path).c_str(), &st) != 0) return std::nullopt;
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
        const std::string kind = NonRegularKind(output);
        if (!kind.empty()) throw GridHostError(refused + "it is " + kind + ", not a regular file");
        for (const auto& [input, what] : inputs) {
            const std::optional<struct stat> in = FileAt(input);
            if (in && SameFile(*in, *target)) throw GridHostError(refused + "it is " + what + " itself");
        }
    }
}

namespace {

// A line of the point file that is not a point: where it starts in the
// file, and what is wrong with it.
struct BadLine {
    std::size_t at = 0;
    std::string why;
};

// The points of `lines`, whole lines of the point file from byte `at` of
// it, up to the first that is not a point, which goes to `bad`.
std::vector<DataPoint> ParsePointLines(std::string_view lines, std::size_t at, std::optional<BadLine>& bad) {
    std::vector<DataPoint> points;
    points.reserve(lines.size() / 32);
    std::string_view rest = lines;
    while (!rest.empty()) {
        const std::size_t start = at + static_cast<std::size_t>(rest.data() - lines.data());
        const std::size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest.remove_prefix(lf == std::string_view::npos ? rest.size() : lf + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty()) continue;
        double v[3];
        std::size_t pos = 0;
        for (int i = 0; i < 3; ++i) {
            const std::size_t semi = line.find(';', pos);
            const std::string_view cell = line.substr(pos, semi == std::string_view::npos ? line.npos : semi - pos);
            if (!TryParseNumber(cell, v[i])) {
                bad = BadLine{start, "\"" + std::string(cell.substr(0, 40)) + "\" is not a number"};
                return points;
            }
            if (semi == std::string_view::npos) {
                if (i < 2) {
                    bad = BadLine{start, "fewer than three fields"};
                    return points;
                }
                pos = line.size();
            } else {
                pos = semi + 1;
            }
        }
        points.push_back({v[0], v[1], v[2]});
    }
    return points;
}

// Below this many bytes a second thread costs more than it saves.
constexpr std::size_t kSplitParseBytes = 1 << 20;

}  // namespace

std::vector<DataPoint> ParsePointFile(std::string_view bytes, const std::string& name) {
    // The heading is any first line.
    const std::size_t heading = bytes.find('\n');
    const std::size_t body = heading == std::string_view::npos ? bytes.size() : heading + 1;
    // A large file is read in two halves at once, split after a line.
    const std::size_t split =
        bytes.size() - body < kSplitParseBytes ? bytes.size() : bytes.find('\n', body + (bytes.size() - body) / 2);
    const std::size_t second = split == std::string_view::npos ? bytes.size() : std::min(bytes.size(), split + 1);
    std::optional<BadLine> bad, laterBad;
    std::future<std::vector<DataPoint>> later;
    if (second < bytes.size())
        later = std::async(std::launch::async, [&] { return ParsePointLines(bytes.substr(second), second, laterBad); });
    std::vector<DataPoint> points = ParsePointLines(bytes.substr(body, second - body), body, bad);
    const std::vector<DataPoint> rest = later.valid() ? later.get() : std::vector<DataPoint>();
    if (!bad) bad = laterBad;
    if (bad) {
        const auto line = std::count(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(bad->at), '\n') + 1;
        throw GridHostError(name + ", line " + std::to_string(line) + ": " + bad->why);
    }
    points.insert(points.end(), rest.begin(), rest.end());
    return points;
}

PointBounds BoundsOf(const std::vector<DataPoint>& points) {
    if (points.empty()) return {};
    PointBounds e{points[0].lon, points[0].lon, points[0].lat, points[0].lat};
    for (const DataPoint& p : points) {
        e.minLon = std::min(e.minLon, p.lon);
        e.maxLon = std::max(e.maxLon, p.lon);
        e.minLat = std::min(e.minLat, p.lat);
        e.maxLat = std::max(e.maxLat, p.lat);
    }
    return e;
}

}  // namespace qgrad
