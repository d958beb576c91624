#include "gridhost/gridjob.h"

#include "common/fileio.h"
#include "common/griddingscript.h"
#include "common/numtext.h"
#include "common/sidebyside.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstring>
#include <functional>
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

// A regular file open for reading; anything else is refused before a byte
// is read.
std::unique_ptr<InputFile> OpenForReading(const QString& path) {
    try {
        return OpenRegularFile(path);
    } catch (const FileReadError& e) {
        FailReading(path, e.what());
    }
}

// The whole of a regular file of at most `maxBytes`.
QByteArray ReadRegularFile(const QString& path, qint64 maxBytes) {
    const std::unique_ptr<InputFile> f = OpenForReading(path);
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

// Reads `n` bytes of the point file from byte `at` into `into`; throws
// GridHostError when the file holds fewer.
using ReadBytes = std::function<void(std::size_t at, char* into, std::size_t n)>;

// Points of one part of the file, in blocks of their own pages: gathered
// into one list block by block, each let go once copied, they never stand
// beside a second whole copy of the points.
constexpr std::size_t kBlockPoints = std::size_t{1} << 22;
// "0;0;0" and its line end: no point line is shorter.
constexpr std::size_t kShortestPointLine = 6;

// The lines of one part of the point file, read up to the first that is not
// a point.
struct PartRead {
    std::vector<std::vector<DataPoint>> blocks;
    std::size_t blockCapacity = 0;
    std::size_t lineEnds = 0;  // LFs read
    // The first line that is not a point: the LFs of the part before it,
    // and what is wrong with it.
    std::optional<std::pair<std::size_t, std::string>> bad;

    void Add(const DataPoint& p) {
        if (blocks.empty() || blocks.back().size() == blocks.back().capacity())
            blocks.emplace_back().reserve(blockCapacity);
        blocks.back().push_back(p);
    }
};

// Why `line` (without its line end) is not a point; empty when it is one,
// added to `part`. A blank line is no point and no fault.
std::string TakePointLine(std::string_view line, PartRead& part) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) return {};
    double v[3];
    std::size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        const std::size_t semi = line.find(';', pos);
        const std::string_view cell = line.substr(pos, semi == std::string_view::npos ? line.npos : semi - pos);
        if (!TryParseNumber(cell, v[i])) return "\"" + std::string(cell.substr(0, 40)) + "\" is not a number";
        if (semi == std::string_view::npos) {
            if (i < 2) return "fewer than three fields";
            pos = line.size();
        } else {
            pos = semi + 1;
        }
    }
    part.Add({v[0], v[1], v[2]});
    return {};
}

// Takes the whole lines of `text`, and with `last` the unended line after
// them, into `part`, up to the first that is not a point; the bytes taken.
std::size_t TakePointLines(std::string_view text, bool last, PartRead& part) {
    std::size_t taken = 0;
    while (taken < text.size()) {
        const auto* begin = text.data() + taken;
        const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', text.size() - taken));
        if (!lf && !last) break;
        const std::size_t length = lf ? static_cast<std::size_t>(lf - begin) : text.size() - taken;
        if (std::string why = TakePointLine({begin, length}, part); !why.empty()) {
            part.bad.emplace(part.lineEnds, std::move(why));
            return taken;
        }
        taken += length + (lf ? 1 : 0);
        if (lf) ++part.lineEnds;
    }
    return taken;
}

// Bytes [begin, end) of the point file, whole lines, read in pieces of
// `pieceBytes`: the file's text is never held whole.
PartRead ReadPointLines(const ReadBytes& read, std::size_t begin, std::size_t end, std::size_t pieceBytes) {
    PartRead part;
    part.blockCapacity = std::min(kBlockPoints, (end - begin) / kShortestPointLine + 1);
    std::vector<char> buffer;
    std::size_t kept = 0;  // bytes of a line begun in the piece before
    for (std::size_t at = begin; at < end && !part.bad;) {
        const std::size_t n = std::min(pieceBytes, end - at);
        buffer.resize(kept + n);
        read(at, buffer.data() + kept, n);
        at += n;
        const std::size_t taken = TakePointLines({buffer.data(), kept + n}, at == end, part);
        kept = kept + n - taken;
        std::memmove(buffer.data(), buffer.data() + taken, kept);
    }
    return part;
}

// Where the first LF at or after byte `from` is, or `end` when there is none
// before it.
std::size_t NextLineEnd(const ReadBytes& read, std::size_t from, std::size_t end) {
    constexpr std::size_t kLook = 64 << 10;
    char look[kLook];
    for (std::size_t at = from; at < end; at += kLook) {
        const std::size_t n = std::min(kLook, end - at);
        read(at, look, n);
        if (const void* lf = std::memchr(look, '\n', n))
            return at + static_cast<std::size_t>(static_cast<const char*>(lf) - look);
    }
    return end;
}

// The points of a point file of `size` bytes that `read` gives; `name` is
// the file's name in messages.
std::vector<DataPoint> ReadPoints(const ReadBytes& read, std::size_t size, const std::string& name,
                                  const PointFileReading& reading) {
    // The heading is any first line.
    const std::size_t body = std::min(size, NextLineEnd(read, 0, size) + 1);
    // A large file is read in two halves at once, split after a line.
    const std::size_t middle = reading.splitAfter.value_or(body + (size - body) / 2);
    const std::size_t second =
        size - body < reading.halvesFrom ? size : std::min(size, NextLineEnd(read, std::max(body, middle), size) + 1);
    PartRead first, later;
    const auto readFirst = [&] { first = ReadPointLines(read, body, second, reading.pieceBytes); };
    if (second < size)
        RunSideBySide([&] { later = ReadPointLines(read, second, size, reading.pieceBytes); }, readFirst);
    else
        readFirst();
    // The first half's lines all end in a LF when it reads whole.
    const std::size_t linesBefore[] = {body > 0 ? 1u : 0u, (body > 0 ? 1u : 0u) + first.lineEnds};
    std::size_t index = 0;
    for (const PartRead* part : {&first, &later}) {
        if (part->bad)
            throw GridHostError(name + ", line " + std::to_string(linesBefore[index] + part->bad->first + 1) + ": " +
                                part->bad->second);
        ++index;
    }
    std::size_t count = 0;
    for (const PartRead* part : {&first, &later})
        for (const std::vector<DataPoint>& block : part->blocks) count += block.size();
    std::vector<DataPoint> points;
    points.reserve(count);
    for (PartRead* part : {&first, &later})
        for (std::vector<DataPoint>& block : part->blocks) {
            points.insert(points.end(), block.begin(), block.end());
            std::vector<DataPoint>().swap(block);
        }
    return points;
}

}  // namespace

std::vector<DataPoint> ParsePointFile(std::string_view bytes, const std::string& name,
                                      const PointFileReading& reading) {
    const ReadBytes read = [bytes](std::size_t at, char* into, std::size_t n) { std::memcpy(into, bytes.data() + at, n); };
    return ReadPoints(read, bytes.size(), name, reading);
}

std::vector<DataPoint> ReadPointFile(const QString& path, const PointFileReading& reading) {
    const std::unique_ptr<InputFile> f = OpenForReading(path);
    const int fd = f->handle();
    const ReadBytes read = [&](std::size_t at, char* into, std::size_t n) {
        while (n > 0) {
            const ssize_t got = ::pread(fd, into, n, static_cast<off_t>(at));
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) FailReading(path, std::strerror(errno));
            if (got == 0) FailReading(path, "the file became shorter while it was read");
            into += got;
            at += static_cast<std::size_t>(got);
            n -= static_cast<std::size_t>(got);
        }
    };
    return ReadPoints(read, static_cast<std::size_t>(f->opened.size), LocalBytes(path), reading);
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
