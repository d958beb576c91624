#include "survey/reader.h"

#include "common/errors.h"
#include "common/fileio.h"
#include "common/numtext.h"
#include "common/sidebyside.h"

#include <QCoreApplication>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace qgrad {
namespace {

constexpr qint64 kChunk = 4 << 20;

[[noreturn]] void FailCell(const SurveyTable& table, int column, std::size_t row, const char* what) {
    throw SurveyFormatError::AtCell(FileLineOfRow(row), column, table.cell(column, kHeadingRow),
                                    table.cell(column, row), what);
}

// Splits one line into at most 28 fields. The line's text ends at its first
// CR; text after the 28th ";" is ignored. One pass over the bytes.
std::size_t SplitFields(std::string_view line, std::string_view* fields) {
    const char* p = line.data();
    const char* const end = p + line.size();
    const char* fieldStart = p;
    std::size_t n = 0;
    for (; p != end; ++p) {
        const char c = *p;
        if (c == '\r') break;
        if (c == ';') {
            fields[n++] = std::string_view(fieldStart, static_cast<std::size_t>(p - fieldStart));
            if (n == SurveyTable::kColumns) return n;
            fieldStart = p + 1;
        }
    }
    fields[n++] = std::string_view(fieldStart, static_cast<std::size_t>(p - fieldStart));
    return n;
}

// Reserves the table's arenas from the first rows read, so that a large file
// is stored without the slack of repeated doubling.
void ReserveFromSample(SurveyTable& table, std::size_t sampleBytes, qint64 fileSize) {
    const std::size_t rows = table.rowCount();
    if (rows == 0 || sampleBytes == 0) return;
    const double scale = static_cast<double>(fileSize) / static_cast<double>(sampleBytes) * 1.05;
    const auto estRows = static_cast<std::size_t>(static_cast<double>(rows) * scale) + 16;
    for (int c = 0; c < SurveyTable::kColumns; ++c) {
        // A column the sample leaves empty is likely to stay so.
        if (table.column(c).textBytes() == 0) continue;
        const auto estBytes = static_cast<std::size_t>(static_cast<double>(table.column(c).textBytes()) * scale) + 64;
        table.column(c).reserve(estRows, estBytes);
    }
}

bool IsZeroText(std::string_view text) {
    for (char ch : text) {
        if (ch >= '1' && ch <= '9') return false;
        if (ch == 'E' || ch == 'e') break;
    }
    return true;
}


// Inserts the time column: rows 2 and on move one column to the right.
void InsertTimeColumn(SurveyTable& table) {
    const std::size_t rows = table.rowCount();
    for (int c = SurveyTable::kColumns - 1; c > kTime; --c) {
        ColumnRewriter w(table.column(c));
        const TextColumn& left = table.column(c - 1);
        for (std::size_t r = kHeadingRow; r < rows; ++r) w.Set(r, left[r]);
        w.Finish();
    }
    ColumnRewriter w(table.column(kTime));
    w.Set(kHeadingRow, "Time");
    for (std::size_t r = kFirstDataRow; r < rows; ++r) w.Set(r, "0.00");
    w.Finish();
}

// The heading ending of a column whose readings are in tenths, and the unit
// that replaces it; empty for a column that is not converted.
struct TenthsUnit {
    std::string_view suffix;
    std::string_view unit;
};
TenthsUnit TenthsUnitOf(int column) {
    if (column < FieldColumn(0)) return {};
    return (column - FieldColumn(0)) % 2 == 0 ? TenthsUnit{"x0.1nT", "nT"} : TenthsUnit{"x0.1nT/m", "nT/m"};
}
bool InTenths(int column, std::string_view heading) {
    const std::string_view suffix = TenthsUnitOf(column).suffix;
    return !suffix.empty() && heading.size() >= suffix.size() &&
           heading.substr(heading.size() - suffix.size()) == suffix;
}

void ConvertTenths(SurveyTable& table, int column, char regionalSeparator) {
    const std::string_view heading = table.cell(column, kHeadingRow);
    if (!InTenths(column, heading)) return;
    const TenthsUnit unit = TenthsUnitOf(column);
    ColumnRewriter w(table.column(column));
    std::string newHeading(heading.substr(0, heading.size() - unit.suffix.size()));
    newHeading += unit.unit;
    w.Set(kHeadingRow, newHeading);
    char buf[kNumberTextCapacity];
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r) {
        double v = 0;
        if (!TryParseNumber(w.old()[r], v, regionalSeparator)) FailCell(table, column, r, "is not a number");
        w.Set(r, std::string_view(buf, WriteGeneral(buf, v / 10.0) - buf));
    }
    w.Finish();
}

// NMEA ddmm.mmmm to decimal degrees.
double NmeaToDegrees(double v, ReaderVariant variant) {
    if (variant == ReaderVariant::Batch) {
        const double d = static_cast<double>(RoundHalfEven(v) / 100);
        return d + (v / 100.0 - d) / 0.6;
    }
    const float vf = static_cast<float>(v);
    const double d = static_cast<double>(RoundHalfEven(vf) / 100);
    const float minutes = static_cast<float>(static_cast<double>(vf) / 100.0 - d);
    return static_cast<float>(d + static_cast<double>(minutes) / 0.6);
}

// One position column read and converted to degrees.
struct DegreesColumn {
    std::vector<double> read;     // the cells as numbers
    std::vector<double> degrees;  // converted
    // The first data row that cannot be converted, and why (the reasons in
    // the order a row is checked).
    enum class Fault { None, NotANumber, OutOfRange } fault = Fault::None;
    std::size_t faultRow = 0;

    void Convert(const SurveyTable& table, int column, ReaderVariant variant) {
        const TextColumn& cells = table.column(column);
        read.resize(table.rowCount());
        degrees.resize(table.rowCount());
        for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r) {
            faultRow = r;
            if (!TryParseNumber(cells[r], read[r])) {
                fault = Fault::NotANumber;
                return;
            }
            try {
                degrees[r] = NmeaToDegrees(read[r], variant);
            } catch (const std::range_error&) {
                fault = Fault::OutOfRange;
                return;
            }
        }
        fault = Fault::None;
    }
};

// Rejects the first position a row-by-row conversion would fail on: within
// a row the latitude is read, then the longitude, then both converted.
void RejectUnconvertedPosition(const SurveyTable& table, const DegreesColumn& lat, const DegreesColumn& lon) {
    using Fault = DegreesColumn::Fault;
    auto rank = [](const DegreesColumn& c, int column) {
        if (c.fault == Fault::None) return std::pair(std::numeric_limits<std::size_t>::max(), 0);
        const int order = (c.fault == Fault::NotANumber ? 0 : 2) + (column == kLongitude ? 1 : 0);
        return std::pair(c.faultRow, order);
    };
    const auto latRank = rank(lat, kLatitude);
    const auto lonRank = rank(lon, kLongitude);
    const auto& [column, c] = latRank < lonRank ? std::pair(kLatitude, &lat) : std::pair(kLongitude, &lon);
    if (c->fault == Fault::None) return;
    FailCell(table, column, c->faultRow, c->fault == Fault::NotANumber ? "is not a number" : "is out of range");
}

// Rejects the first row whose position lies off the globe: a latitude beyond
// 90 degrees or a longitude beyond 180 is no fix but a broken one.
void RejectImpossiblePosition(const SurveyTable& table, const DegreesColumn& lat, const DegreesColumn& lon) {
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r) {
        if (std::abs(lat.degrees[r]) > 90) FailCell(table, kLatitude, r, "is beyond 90 degrees of latitude");
        if (std::abs(lon.degrees[r]) > 180) FailCell(table, kLongitude, r, "is beyond 180 degrees of longitude");
    }
}

// Degrees, then the fill of the track start and of the gaps.
void CleanPositions(SurveyTable& table, ReaderVariant variant) {
    const std::size_t rows = table.rowCount();
    // Zero flags of each data row's latitude and longitude as the cells read
    // after the conversion: bit 0 latitude, bit 1 longitude.
    std::vector<std::uint8_t> zero(rows, 0);
    {
        // Each column on its own core; a row is rewritten where either of
        // its values converts to non-zero.
        DegreesColumn lat, lon;
        RunSideBySide([&] { lon.Convert(table, kLongitude, variant); },
                      [&] { lat.Convert(table, kLatitude, variant); });
        RejectUnconvertedPosition(table, lat, lon);
        RejectImpossiblePosition(table, lat, lon);
        std::vector<std::uint8_t> lonZero(rows, 0);
        auto rewrite = [&](int column, const DegreesColumn& own, std::vector<std::uint8_t>& isZero) {
            ColumnRewriter out(table.column(column));
            char text[kNumberTextCapacity];
            for (std::size_t r = kFirstDataRow; r < rows; ++r) {
                if (lat.degrees[r] != 0.0 || lon.degrees[r] != 0.0) {
                    const std::string_view t(text, WriteFixed(text, own.degrees[r], 8, 12) - text);
                    isZero[r] = IsZeroText(t);
                    out.Set(r, t);
                } else {
                    isZero[r] = own.read[r] == 0.0;
                }
            }
            out.Finish();
        };
        RunSideBySide([&] { rewrite(kLongitude, lon, lonZero); }, [&] { rewrite(kLatitude, lat, zero); });
        for (std::size_t r = kFirstDataRow; r < rows; ++r) zero[r] = static_cast<std::uint8_t>(zero[r] | lonZero[r] << 1);
    }
    if (rows <= kFirstDataRow) return;

    // The first row with both values non-zero; the last row when none has.
    std::size_t first = kFirstDataRow;
    if (zero[kFirstDataRow] == 3) {
        first = rows - 1;
        for (std::size_t r = kFirstDataRow + 1; r < rows; ++r) {
            if (zero[r] == 0) {
                first = r;
                break;
            }
        }
    }
    ColumnRewriter lat(table.column(kLatitude));
    ColumnRewriter lon(table.column(kLongitude));
    for (std::size_t r = kFirstDataRow; r < first; ++r) {
        lat.Set(r, lat.old()[first]);
        lon.Set(r, lon.old()[first]);
    }
    // Row 3 as it stands now: the start fill may have replaced it.
    std::size_t goodSource = first > kFirstDataRow ? first : kFirstDataRow;
    for (std::size_t r = first; r < rows; ++r) {
        if (zero[r] == 3) {
            lat.Set(r, lat.old()[goodSource]);
            lon.Set(r, lon.old()[goodSource]);
        } else {
            goodSource = r;
        }
    }
    lat.Finish();
    lon.Finish();
}

void ReadOffsets(const SurveyTable& table, SurveyGeometry& geometry) {
    for (int k = 0; k < kChannels; ++k) {
        for (const int column : {OffsetXColumn(k), OffsetYColumn(k)}) {
            std::int32_t cm = 0;
            if (!TryParseInt32(table.cell(column, kOffsetsRow), cm))
                throw SurveyFormatError::AtCell(FileLineOfRow(kOffsetsRow), column, {}, table.cell(column, kOffsetsRow),
                                                "is not a whole number of centimetres for a sensor offset");
            (column == OffsetXColumn(k) ? geometry.offsetX : geometry.offsetY)[k] = cm / 100.0;
        }
    }
}

bool IsDroppedPair(const TextColumn& field, const TextColumn& gradient, std::size_t r) {
    return field[r] == "0" && gradient[r] == "0";
}

// Channels [from, to) of FillDroppedReadings.
void FillDroppedReadings(SurveyTable& table, int from, int to) {
    const std::size_t rows = table.rowCount();
    const std::size_t last = rows - 1;
    for (int k = from; k < to; ++k) {
        TextColumn& fieldCol = table.column(FieldColumn(k));
        TextColumn& gradCol = table.column(GradientColumn(k));
        bool any = false;
        for (std::size_t r = kFirstDataRow; r < rows && !any; ++r) any = IsDroppedPair(fieldCol, gradCol, r);
        if (!any) continue;
        ColumnRewriter field(fieldCol);
        ColumnRewriter grad(gradCol);
        // Rows below r are untouched when r is visited, so the old texts are
        // the texts "as they stand".
        for (std::size_t r = kFirstDataRow; r < last; ++r) {
            if (IsDroppedPair(fieldCol, gradCol, r)) {
                field.Set(r, fieldCol[r + 1]);
                grad.Set(r, gradCol[r + 1]);
            }
        }
        // The last row takes the pair of the row above as it stands: a dropped
        // row above has just taken the last row's own "0" pair. With a single
        // data row the row above is a heading row: leave the pair.
        if (last > kFirstDataRow && IsDroppedPair(fieldCol, gradCol, last) &&
            !IsDroppedPair(fieldCol, gradCol, last - 1)) {
            field.Set(last, fieldCol[last - 1]);
            grad.Set(last, gradCol[last - 1]);
        }
        field.Finish();
        grad.Finish();
    }
}

// A pair "0" and "0" takes the pair of the row below, as it stands when the
// row is visited; the last row takes the pair of the row above.
void FillDroppedReadings(SurveyTable& table) {
    const std::size_t rows = table.rowCount();
    if (rows <= kFirstDataRow) return;
    // The channels are independent: half of them on each core.
    RunSideBySide([&] { FillDroppedReadings(table, kChannels / 2, kChannels); },
                  [&] { FillDroppedReadings(table, 0, kChannels / 2); });
}

}  // namespace

QString CutLastLineText() {
    return QCoreApplication::translate("qgrad", "The survey is cut off at its end; its last line was left out");
}

std::string CutLastLineDetail(const CutLastLine& cut) {
    return "line " + std::to_string(cut.line) + " has " + std::to_string(cut.fields) + " of the " +
           std::to_string(cut.headingFields) + " fields of the heading row and no line end";
}

QString CutLastLineNote(const CutLastLine& cut, const QString& fileName) {
    return QString::fromStdString(EscapeControls(LocalBytes(fileName))) + ": " + CutLastLineText() + " (" +
           QString::fromStdString(CutLastLineDetail(cut)) + ")";
}

bool HasFix(const SurveyTable& table) {
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r)
        if (CellNumber(table, kLatitude, r) != 0 || CellNumber(table, kLongitude, r) != 0) return true;
    return false;
}

std::size_t FileLineOfRow(std::size_t row) { return row < kFirstDataRow ? row + 1 : row + 2; }

double CellNumber(const SurveyTable& table, int column, std::size_t row) {
    double v = 0;
    if (!TryParseNumber(table.cell(column, row), v)) FailCell(table, column, row, "is not a number");
    return v;
}

std::unique_ptr<InputFile> OpenSurveyFile(const QString& path) {
    try {
        return OpenRegularFile(path);
    } catch (const FileReadError& e) {
        throw SurveyFormatError("cannot open " + LocalBytes(path) + ": " + e.what(),
                                e.error == ENOENT ? SurveyFormatError::Kind::NotFound : SurveyFormatError::Kind::BadFormat);
    }
}

namespace {

// Where a line's fields land in the table: one place to the right when the
// time column is to be inserted.
struct FieldPlaces {
    int shift = 0;
    std::string_view Cell(const std::string_view* fields, std::size_t count, int column) const {
        const int i = column - shift;
        return i >= 0 && static_cast<std::size_t>(i) < count ? fields[i] : std::string_view();
    }
};

// A data line whose latitude or longitude is not a number: the cleaning
// refuses the survey whatever follows.
bool PositionCannotBeRead(const FieldPlaces& places, const std::string_view* fields, std::size_t count) {
    double v = 0;
    return !TryParseNumber(places.Cell(fields, count, kLatitude), v) ||
           !TryParseNumber(places.Cell(fields, count, kLongitude), v);
}

// The refusal the cleaning of the whole file would give, once a data row's
// position cannot be read: the cleaning of the rows read so far gives it,
// unless a later line holds a bad reading in a column of tenths that the
// cleaning converts before the column of that refusal. Only those columns of
// the remaining lines are looked at, and nothing of them is kept.
class CertainRefusal {
public:
    CertainRefusal(SurveyTable& table, ReaderVariant variant, FieldPlaces places)
        : places_(places), regional_(RegionalDecimalSeparator()) {
        // The headings as the cleaning finds them, before it converts any.
        std::vector<std::string> headings(SurveyTable::kColumns);
        for (int c = 0; c < SurveyTable::kColumns; ++c)
            headings[c] = c == kTime && places.shift ? "Time" : std::string(table.cell(c - places.shift, kHeadingRow));
        try {
            SurveyGeometry geometry;
            CleanSurveyTable(table, variant, geometry);
        } catch (const SurveyFormatError& e) {
            refusal_ = e;
        }
        if (!refusal_) throw std::logic_error("a position that is not a number passed the cleaning");
        const int at = refusal_->column;
        const int before = at >= 0 && InTenths(at, headings[at]) ? at : SurveyTable::kColumns;
        for (int c = FieldColumn(0); c < before; ++c)
            if (InTenths(c, headings[c])) earlier_.push_back({c, std::move(headings[c])});
    }

    // Whether a later line can still change the refusal.
    bool Open() const { return !earlier_.empty(); }

    void Look(const std::string_view* fields, std::size_t count, std::size_t line) {
        for (std::size_t i = 0; i < earlier_.size(); ++i) {
            const std::string_view text = places_.Cell(fields, count, earlier_[i].column);
            double v = 0;
            if (TryParseNumber(text, v, regional_)) continue;
            refusal_ =
                SurveyFormatError::AtCell(line, earlier_[i].column, earlier_[i].heading, text, "is not a number");
            earlier_.resize(i);
            return;
        }
    }

    [[noreturn]] void Throw() const { throw *refusal_; }

private:
    struct Column {
        int column;
        std::string heading;
    };
    FieldPlaces places_;
    char regional_;
    std::optional<SurveyFormatError> refusal_;
    std::vector<Column> earlier_;  // ascending
};

// The whole lines of one half of a piece, read into a table up to the first
// line whose position cannot be read (left for the line-by-line reading).
struct HalfRead {
    std::size_t lines = 0;
    std::size_t bytes = 0;       // with the line ends
    std::size_t lastFields = 0;  // of the last line read
};
HalfRead ReadWholeLines(std::string_view text, SurveyTable& into, const FieldPlaces& places) {
    HalfRead read;
    std::string_view fields[SurveyTable::kColumns];
    while (read.bytes < text.size()) {
        const char* begin = text.data() + read.bytes;
        const auto* lf = static_cast<const char*>(std::memchr(begin, '\n', text.size() - read.bytes));
        const std::size_t count = SplitFields(std::string_view(begin, static_cast<std::size_t>(lf - begin)), fields);
        if (PositionCannotBeRead(places, fields, count)) break;
        into.appendRow(fields, count);
        ++read.lines;
        read.bytes = static_cast<std::size_t>(lf + 1 - text.data());
        read.lastFields = count;
    }
    return read;
}

// Reads `input` in pieces of `chunk` bytes. Before the lines of a piece are
// taken one by one, `takeWhole` is offered the unread text and returns how
// many bytes of whole lines from its start it took; `take` then gets each
// line left without its LF, and whether it had one, and returns false to stop.
template <typename TakeWhole, typename Take>
void ForEachLine(QIODevice& input, std::size_t chunk, TakeWhole&& takeWhole, Take&& take) {
    std::string buffer;
    std::size_t begin = 0;  // start of the unread text in buffer
    for (;;) {
        const std::size_t kept = buffer.size() - begin;
        if (begin > 0) {
            std::memmove(buffer.data(), buffer.data() + begin, kept);
            begin = 0;
        }
        buffer.resize(kept + chunk);
        const qint64 n = input.read(buffer.data() + kept, static_cast<qint64>(chunk));
        if (n < 0) throw SurveyFormatError("cannot read the file: " + input.errorString().toStdString());
        buffer.resize(kept + static_cast<std::size_t>(n));
        std::size_t scanFrom = kept;
        for (;;) {
            if (n > 0) {
                begin += takeWhole(std::string_view(buffer.data() + begin, buffer.size() - begin));
                scanFrom = std::max(scanFrom, begin);
            }
            const void* lf = n > 0 ? std::memchr(buffer.data() + scanFrom, '\n', buffer.size() - scanFrom) : nullptr;
            if (!lf) break;
            const std::size_t end = static_cast<const char*>(lf) - buffer.data();
            if (!take(std::string_view(buffer.data() + begin, end - begin), true)) return;
            begin = end + 1;
            scanFrom = begin;
        }
        if (n == 0) {
            if (begin < buffer.size()) take(std::string_view(buffer.data() + begin, buffer.size() - begin), false);
            return;
        }
    }
}

}  // namespace

ReadResult ReadSurveyLines(QIODevice& file, SurveyTable& table, ReaderVariant variant, CutLastLine* cut,
                           const ReadingPieces& pieces) {
    struct Closer {
        QIODevice& f;
        ~Closer() { f.close(); }
    } closer{file};

    table.clear();
    const qint64 fileSize = file.size();
    std::size_t lineCount = 0;
    std::size_t bytesSeen = 0;
    bool reserved = false;
    std::string_view fields[SurveyTable::kColumns];
    FieldPlaces places;
    std::optional<CertainRefusal> refusal;
    std::size_t headingFields = 0;
    std::size_t lastFields = 0;  // of the data line before
    SurveyTable secondHalf;
    if (cut) *cut = {};

    auto reserveOnce = [&] {
        if (reserved || table.rowCount() < 1024) return;
        ReserveFromSample(table, bytesSeen, fileSize);
        reserved = true;
    };
    auto counted = [&](const HalfRead& half) {
        lineCount += half.lines;
        bytesSeen += half.bytes;
        if (half.lines) lastFields = half.lastFields;
    };
    auto takeWhole = [&](std::string_view text) -> std::size_t {
        if (lineCount < 4 || refusal || text.size() < pieces.halvesFrom) return 0;
        const auto* lastLf = static_cast<const char*>(memrchr(text.data(), '\n', text.size()));
        if (!lastLf) return 0;
        const std::string_view whole = text.substr(0, static_cast<std::size_t>(lastLf + 1 - text.data()));
        if (whole.size() < pieces.halvesFrom) return 0;
        reserveOnce();
        const std::size_t middle = whole.size() / 2;
        const auto* split = static_cast<const char*>(std::memchr(whole.data() + middle, '\n', whole.size() - middle));
        const std::string_view first = whole.substr(0, static_cast<std::size_t>(split + 1 - whole.data()));
        const std::string_view second = whole.substr(first.size());
        HalfRead one, two;
        secondHalf.clearKeepingCapacity();
        RunSideBySide([&] { two = ReadWholeLines(second, secondHalf, places); },
                      [&] { one = ReadWholeLines(first, table, places); });
        counted(one);
        if (one.bytes < first.size()) return one.bytes;
        table.appendRows(secondHalf);
        counted(two);
        return one.bytes + two.bytes;
    };

    // Read in large pieces, but no larger than the file needs.
    const std::size_t chunk = pieces.pieceBytes ? pieces.pieceBytes
                                                : static_cast<std::size_t>(std::clamp<qint64>(fileSize + 1, 64 << 10, kChunk));
    ForEachLine(file, chunk, takeWhole, [&](std::string_view line, bool ended) {
        ++lineCount;
        bytesSeen += line.size() + 1;
        if (lineCount == 4) return true;
        const std::size_t count = SplitFields(line, fields);
        if (lineCount == kHeadingRow + 1) headingFields = count;
        // A power cut or an interrupted copy ends the file inside a line: its
        // last value is a fragment that would read as a number far off. A
        // file whose lines are all shorter than its headings is told by the
        // line before.
        if (!ended && lineCount > 4 && count < headingFields && (lastFields == 0 || count < lastFields)) {
            if (cut) *cut = {lineCount, count, headingFields};
            return false;
        }
        if (lineCount > 4) lastFields = count;
        if (refusal) {
            refusal->Look(fields, count, lineCount);
            return refusal->Open();
        }
        table.appendRow(fields, count);
        if (table.rowCount() == kHeadingRow + 1) places.shift = table.cell(kTime, kHeadingRow) == "Time" ? 0 : 1;
        if (table.rowCount() > kFirstDataRow && PositionCannotBeRead(places, fields, count)) {
            refusal.emplace(table, variant, places);
            return refusal->Open();
        }
        reserveOnce();
        return true;
    });
    if (refusal) refusal->Throw();
    if (const auto* input = dynamic_cast<const InputFile*>(&file)) {
        const FileStamp now = input->Stamp();
        if (now != input->opened || static_cast<std::int64_t>(bytesSeen) < now.size)
            throw SurveyFormatError("the file changed while it was being read");
    }
    file.close();
    if (table.rowCount() < SurveyTable::kHeadingRows) return ReadResult::Empty;
    if (table.rowCount() == SurveyTable::kHeadingRows)
        throw SurveyFormatError("the file has " + std::to_string(lineCount) +
                                " lines and no data line (data begin on line 5)");
    return ReadResult::Loaded;
}

void CleanSurveyTable(SurveyTable& table, ReaderVariant variant, SurveyGeometry& geometry) {
    if (table.cell(kTime, kHeadingRow) != "Time") InsertTimeColumn(table);

    // Channel by channel, field before gradient: the columns in their order.
    const char regional = RegionalDecimalSeparator();
    for (int c = FieldColumn(0); c < SurveyTable::kColumns; ++c) ConvertTenths(table, c, regional);

    geometry.latitudeSign = table.cell(kLatitude, kHeadingRow) == "Latitude,S" ? -1 : 1;
    geometry.longitudeSign = table.cell(kLongitude, kHeadingRow) == "Longitude,W" ? -1 : 1;

    CleanPositions(table, variant);
    ReadOffsets(table, geometry);
    FillDroppedReadings(table);
}

ReadResult ReadSurveyFile(const QString& path, ReaderVariant variant, SurveyTable& table,
                          SurveyGeometry& geometry) {
    auto file = OpenSurveyFile(path);
    if (ReadSurveyLines(*file, table, variant) == ReadResult::Empty) return ReadResult::Empty;
    CleanSurveyTable(table, variant, geometry);
    return ReadResult::Loaded;
}

}  // namespace qgrad
