#include "common/errors.h"
#include "survey/reader.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <limits>
#include <optional>
#include <string>
#include <vector>

using namespace qgrad;

namespace {

// Line 2 with the 24 offsets in centimetres at fields 4 to 27.
std::string OffsetsLine(int firstX = -50) {
    std::string s = "Offsets;cm;;";
    for (int k = 0; k < kChannels; ++k) {
        s += std::to_string(firstX + 10 * k) + ";" + std::to_string(20 + k);
        if (k + 1 < kChannels) s += ";";
    }
    return s;
}

std::string Headings(const std::string& time = "Time", const std::string& lat = "Latitude,N",
                     const std::string& lon = "Longitude,E") {
    std::string s = time + ";" + lat + ";" + lon + ";Dist";
    for (int k = 1; k <= kChannels; ++k) s += ";Ch" + std::to_string(k) + ",nT;Ch" + std::to_string(k) + ",nT/m";
    return s;
}

class ReaderTest : public ::testing::Test {
protected:
    QString Write(const std::string& bytes, const char* name = "run.csv") {
        const QString path = dir_.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        return path;
    }
    // A survey from its data lines, with the standard heading lines.
    QString Survey(const std::vector<std::string>& data, const std::string& headings = Headings(),
                   const std::string& offsets = OffsetsLine()) {
        std::string s = "Quenor test run\r\n" + offsets + "\r\n" + headings + "\r\nignored;line\r\n";
        for (const auto& d : data) s += d + "\r\n";
        return Write(s);
    }
    ReadResult Read(const QString& path, ReaderVariant v = ReaderVariant::Interactive) {
        return ReadSurveyFile(path, v, table_, geometry_);
    }
    std::string Cell(int c, std::size_t r) const { return std::string(table_.cell(c, r)); }
    SurveyFormatError Failure(const QString& path, ReaderVariant v = ReaderVariant::Interactive) {
        try {
            Read(path, v);
        } catch (const SurveyFormatError& e) {
            EXPECT_STREQ(e.what(), kBadFormatText);
            return e;
        }
        ADD_FAILURE() << "no failure";
        return SurveyFormatError("no failure");
    }
    std::string FailureDetail(const QString& path, ReaderVariant v = ReaderVariant::Interactive) {
        return Failure(path, v).detail();
    }

    QTemporaryDir dir_;
    SurveyTable table_;
    SurveyGeometry geometry_;
};

TEST_F(ReaderTest, ShortFilesAreEmptyOrFail) {
    for (const char* text : {"", "one\n", "one\r\ntwo\r\n", "one\ntwo"}) {
        EXPECT_EQ(Read(Write(text)), ReadResult::Empty) << text;
    }
    for (const char* text : {"1\n2\n3\n", "1\n2\n3\n4\n", "1\n2\n3\n4"}) {
        EXPECT_NE(FailureDetail(Write(text)).find("no data line"), std::string::npos) << text;
    }
}

TEST_F(ReaderTest, CleansAWellFormedRun) {
    const QString path = Survey({"101559;5545.1234;3730.0000;;48000;12.5;48010;-3",
                                 "101600;5500.0008;3730.0006;x;48001;13;48011;-4"});
    ASSERT_EQ(Read(path), ReadResult::Loaded);
    ASSERT_EQ(table_.rowCount(), 5u);
    EXPECT_EQ(Cell(0, 0), "Quenor test run");
    EXPECT_EQ(Cell(0, 2), "Time");
    EXPECT_EQ(Cell(0, 3), "101559");
    EXPECT_EQ(Cell(1, 3), "55.75205994");  // 32-bit degrees show their rounding
    EXPECT_EQ(Cell(2, 3), "37.50000000");
    EXPECT_EQ(Cell(1, 4), "55.00001526");  // v / 100 in double, not in float
    EXPECT_EQ(Cell(3, 4), "x");            // the free column is kept
    EXPECT_EQ(Cell(5, 3), "12.5");
    EXPECT_EQ(Cell(8, 3), "");
    EXPECT_EQ(geometry_.latitudeSign, 1);
    EXPECT_DOUBLE_EQ(geometry_.offsetX[0], -0.5);
    EXPECT_DOUBLE_EQ(geometry_.offsetY[0], 0.2);
    EXPECT_DOUBLE_EQ(geometry_.offsetX[11], 0.6);
    EXPECT_DOUBLE_EQ(geometry_.offsetY[11], 0.31);
}

TEST_F(ReaderTest, BatchVariantConvertsIn64Bit) {
    ASSERT_EQ(Read(Survey({"1;5545.1234;5500.0008"}), ReaderVariant::Batch), ReadResult::Loaded);
    EXPECT_EQ(Cell(1, 3), "55.75205667");
    EXPECT_EQ(Cell(2, 3), "55.00001333");
}

TEST_F(ReaderTest, FourthLineIsNeverLookedAt) {
    const QString path = Write("free\n" + OffsetsLine() + "\n" + Headings() + "\nTime;not a number;x\n1;5530;3730\n");
    ASSERT_EQ(Read(path), ReadResult::Loaded);
    EXPECT_EQ(table_.rowCount(), 4u);
    EXPECT_EQ(Cell(1, 3), "55.50000000");
}

TEST_F(ReaderTest, MissingTimeColumnIsInsertedAndOffsetsStayPut) {
    std::string headings = Headings().substr(5);  // without "Time;"
    const QString path = Survey({"5530;3730;;48000;12"}, headings);
    ASSERT_EQ(Read(path), ReadResult::Loaded);
    EXPECT_EQ(Cell(0, 2), "Time");
    EXPECT_EQ(Cell(0, 3), "0.00");
    EXPECT_EQ(Cell(1, 2), "Latitude,N");
    EXPECT_EQ(Cell(1, 3), "55.50000000");
    EXPECT_EQ(Cell(4, 3), "48000");
    EXPECT_EQ(Cell(5, 3), "12");
    EXPECT_EQ(Cell(3, 1), "-50");  // line 2 is never shifted
    EXPECT_DOUBLE_EQ(geometry_.offsetX[0], -0.5);
}

TEST_F(ReaderTest, LowerCaseTimeGetsASecondTimeColumnAndLosesColumn27) {
    std::string data = "1;5530;3730;d";
    for (int k = 0; k < kChannels; ++k) data += ";" + std::to_string(100 + k) + ";" + std::to_string(k);
    ASSERT_EQ(Read(Survey({data}, "time" + Headings().substr(4))), ReadResult::Loaded);
    EXPECT_EQ(Cell(0, 2), "Time");
    EXPECT_EQ(Cell(1, 2), "time");
    EXPECT_EQ(Cell(0, 3), "0.00");
    EXPECT_EQ(Cell(1, 3), "0.01666667");  // the old time is now the latitude
    EXPECT_EQ(Cell(27, 3), "111");  // the former column 26; column 27 ("11") is gone
}

TEST_F(ReaderTest, TenthUnitsAreConverted) {
    std::string headings = Headings();
    headings.replace(headings.find("Ch1,nT;"), 7, "Ch1x0.1nT;");
    headings.replace(headings.find("Ch1,nT/m"), 8, "Ch1x0.1nT/m");
    headings.replace(headings.find("Ch2,nT;"), 7, "x0.1nT;");
    headings.replace(headings.find("Ch3,nT;"), 7, "Ch3x0.1nT/m;");  // a field column: not converted
    ASSERT_EQ(Read(Survey({"1;5530;3730;;125;-7;5;8;9;10", "2;5530;3730;;480005;0;6;8;9;10",
                           "3;5530;3730;;1E-320;-1E-320;7;8;9;10"},
                          headings)),
              ReadResult::Loaded);
    EXPECT_EQ(Cell(4, 2), "Ch1nT");
    EXPECT_EQ(Cell(5, 2), "Ch1nT/m");
    EXPECT_EQ(Cell(6, 2), "nT");
    EXPECT_EQ(Cell(8, 2), "Ch3x0.1nT/m");
    EXPECT_EQ(Cell(4, 3), "12.5");
    EXPECT_EQ(Cell(5, 3), "-0.7");
    EXPECT_EQ(Cell(4, 4), "48000.5");
    EXPECT_EQ(Cell(5, 4), "0");
    EXPECT_EQ(Cell(6, 3), "0.5");
    EXPECT_EQ(Cell(8, 3), "9");
    // A tenth of 1E-320 is a subnormal: its 15 digits, not the shortest text.
    EXPECT_EQ(Cell(4, 5), "9.98012604599318E-322");
    EXPECT_EQ(Cell(5, 5), "-9.98012604599318E-322");
}

TEST_F(ReaderTest, HemisphereSigns) {
    const struct {
        const char* lat;
        const char* lon;
        int latSign;
        int lonSign;
    } cases[] = {{"Latitude,S", "Longitude,W", -1, -1},
                 {"Latitude,N", "Longitude,E", 1, 1},
                 {"latitude,s", "Longitude,W ", 1, 1},
                 {"Lat", "Longitude,W", 1, -1}};
    for (const auto& c : cases) {
        ASSERT_EQ(Read(Survey({"1;5530;3730"}, Headings("Time", c.lat, c.lon))), ReadResult::Loaded);
        EXPECT_EQ(geometry_.latitudeSign, c.latSign) << c.lat;
        EXPECT_EQ(geometry_.longitudeSign, c.lonSign) << c.lon;
        EXPECT_EQ(Cell(1, 3), "55.50000000");  // cells stay unsigned
    }
}

TEST_F(ReaderTest, TrackStartAndGapsTakeTheFixesAround) {
    const QString path = Survey({"1;0;0", "2;5530;0", "3;0.00;0", "4;5530;3730", "5;0;0", "6;5531;3731",
                                 "7;0;0"});
    ASSERT_EQ(Read(path), ReadResult::Loaded);
    // Rows 3 to 5 take the first row with both values (row 6); the row with
    // only a latitude does not end that search.
    const std::vector<std::string> lat = {"55.50000000", "55.50000000", "55.50000000", "55.50000000",
                                          "55.50000000", "55.51666641", "55.51666641"};
    const std::vector<std::string> lon = {"37.50000000", "37.50000000", "37.50000000", "37.50000000",
                                          "37.50000000", "37.51666641", "37.51666641"};
    for (std::size_t i = 0; i < lat.size(); ++i) {
        EXPECT_EQ(Cell(1, 3 + i), lat[i]) << i;
        EXPECT_EQ(Cell(2, 3 + i), lon[i]) << i;
    }
}

TEST_F(ReaderTest, OneValueFixIsAGoodRowForGaps) {
    ASSERT_EQ(Read(Survey({"1;5530;3730", "2;5530;0", "3;0;0"})), ReadResult::Loaded);
    EXPECT_EQ(Cell(2, 4), "0.00000000");  // half a fix is written like a whole one
    EXPECT_EQ(Cell(1, 5), "55.50000000");  // the gap takes the half fix before it
    EXPECT_EQ(Cell(2, 5), "0.00000000");
}

TEST_F(ReaderTest, NoFixAnywhereKeepsZeros) {
    ASSERT_EQ(Read(Survey({"1;0;0", "2;0.0;0", "3;0;00"})), ReadResult::Loaded);
    EXPECT_EQ(Cell(1, 3), "0");
    EXPECT_EQ(Cell(1, 4), "0");  // the last row serves as the source
    EXPECT_EQ(Cell(2, 5), "00");
}

TEST_F(ReaderTest, DroppedReadingsTakeTheNextPair) {
    const QString path = Survey({"1;5530;3730;;0;0;0.0;0", "2;5530;3730;;0;0;7;8", "3;5530;3730;;0;0;7;8",
                                 "4;5530;3730;;48000;5;7;8", "5;5530;3730;;0;0;7;8"});
    ASSERT_EQ(Read(path), ReadResult::Loaded);
    const char* field[] = {"0", "0", "48000", "48000", "48000"};
    const char* grad[] = {"0", "0", "5", "5", "5"};
    for (int i = 0; i < 5; ++i) {
        EXPECT_EQ(Cell(4, 3 + i), field[i]) << i;
        EXPECT_EQ(Cell(5, 3 + i), grad[i]) << i;
    }
    EXPECT_EQ(Cell(6, 3), "0.0");  // "0.0" and "0" is a reading, not a dropped one
}

TEST_F(ReaderTest, DroppedLastRows) {
    ASSERT_EQ(Read(Survey({"1;5530;3730;;0;0", "2;5530;3730;;0;0"})), ReadResult::Loaded);
    EXPECT_EQ(Cell(4, 4), "0");
    ASSERT_EQ(Read(Survey({"1;5530;3730;;0;0"})), ReadResult::Loaded);  // nothing above to take
    EXPECT_EQ(Cell(4, 3), "0");
    EXPECT_EQ(Cell(5, 3), "0");
}

TEST_F(ReaderTest, FieldsPastThe28thAreIgnoredAndShortLinesLeaveEmptyCells) {
    std::string data = "1;5530;3730;d";
    for (int k = 0; k < kChannels; ++k) data += ";1;2";
    data += ";extra29;extra30";
    ASSERT_EQ(Read(Survey({data, "2;5530;3730;d;5"})), ReadResult::Loaded);
    EXPECT_EQ(Cell(27, 3), "2");
    EXPECT_EQ(Cell(4, 4), "5");
    EXPECT_EQ(Cell(5, 4), "");
    EXPECT_EQ(Cell(27, 4), "");
}

TEST_F(ReaderTest, LineTextEndsAtItsFirstCarriageReturn) {
    const QString path = Write("a\r\n" + OffsetsLine() + "\n" + Headings() + "\r\n4\n1;5530;3730\rjunk;x\n");
    ASSERT_EQ(Read(path), ReadResult::Loaded);
    EXPECT_EQ(Cell(2, 3), "37.50000000");
    EXPECT_EQ(Cell(3, 3), "");
}

TEST_F(ReaderTest, CarriageReturnOnlyFileIsOneLine) {
    EXPECT_EQ(Read(Write("a\r" + OffsetsLine() + "\r" + Headings() + "\r4\r1;5530;3730\r")), ReadResult::Empty);
}

TEST_F(ReaderTest, NulBytesInFreeTextAreKept) {
    std::string first("free\0text", 9);
    const std::string data("1;5530;3730;a\0b\n", 16);
    ASSERT_EQ(Read(Write(first + "\n" + OffsetsLine() + "\n" + Headings() + "\n4\n" + data)),
              ReadResult::Loaded);
    EXPECT_EQ(table_.cell(0, 0), std::string_view("free\0text", 9));
    EXPECT_EQ(table_.cell(3, 3), std::string_view("a\0b", 3));
}

struct BadCase {
    const char* name;
    std::vector<std::string> data;
    std::string headings;
    std::string offsets;
    std::size_t line;  // where the failure points: the file's line,
    int column;        // the table's column
    const char* text;  // and the cell's text
};

TEST_F(ReaderTest, MalformedFilesNameTheLineAndText) {
    std::string tenth = Headings();
    tenth.replace(tenth.find("Ch2,nT/m"), 8, "Ch2x0.1nT/m");
    std::string badOffsets = OffsetsLine();
    badOffsets.replace(badOffsets.find(";-40;"), 5, ";-4.5;");
    std::string emptyOffset = OffsetsLine();
    emptyOffset.replace(emptyOffset.find(";-40;"), 5, ";;");
    std::string twoSigns = OffsetsLine();
    twoSigns.replace(twoSigns.find(";-40;"), 5, ";+-5;");
    const BadCase cases[] = {
        {"text latitude", {"1;5530;3730", "2;55,30;3730"}, Headings(), OffsetsLine(), 6, 1, "55,30"},
        {"empty longitude", {"1;5530;"}, Headings(), OffsetsLine(), 5, 2, ""},
        {"blank line", {"1;5530;3730", "", "2;5530;3730"}, Headings(), OffsetsLine(), 6, 1, ""},
        {"nan", {"1;nan;3730"}, Headings(), OffsetsLine(), 5, 1, "nan"},
        {"huge", {"1;1e400;3730"}, Headings(), OffsetsLine(), 5, 1, "1e400"},
        {"out of range", {"1;1e300;3730"}, Headings(), OffsetsLine(), 5, 1, "1e300"},
        {"longitude out of range", {"1;5530;1e300"}, Headings(), OffsetsLine(), 5, 2, "1e300"},
        {"both out of range: the latitude", {"1;1e300;1e300"}, Headings(), OffsetsLine(), 5, 1, "1e300"},
        {"a text longitude before an out-of-range latitude", {"1;1e300;x"}, Headings(), OffsetsLine(), 5, 2, "x"},
        {"the earlier row first", {"1;5530;1e300", "2;1e300;3730"}, Headings(), OffsetsLine(), 5, 2, "1e300"},
        {"tenth unit", {"1;5530;3730;;1;2;3;"}, tenth, OffsetsLine(), 5, 7, ""},
        {"offset", {"1;5530;3730"}, Headings(), badOffsets, 2, 5, "-4.5"},
        {"empty offset", {"1;5530;3730"}, Headings(), emptyOffset, 2, 5, ""},
        {"offset with two signs", {"1;5530;3730"}, Headings(), twoSigns, 2, 5, "+-5"},
        {"huge offset", {"1;5530;3730"}, Headings(), "a;b;c;2147483648", 2, 3, "2147483648"},
    };
    for (const auto& c : cases) {
        const SurveyFormatError e = Failure(Survey(c.data, c.headings, c.offsets));
        EXPECT_EQ(e.line, c.line) << c.name << ": " << e.detail();
        EXPECT_EQ(e.column, c.column) << c.name << ": " << e.detail();
        EXPECT_EQ(e.text, c.text) << c.name << ": " << e.detail();
        EXPECT_FALSE(e.reason.empty()) << c.name;
    }
    // The heading of the column, as the table holds it, is named too.
    EXPECT_EQ(Failure(Survey({"1;5530;3730;;1;2;3;"}, tenth)).heading, "Ch2x0.1nT/m");
}

TEST_F(ReaderTest, LongLineIsQuotedShort) {
    const std::string detail = FailureDetail(Survey({"1;" + std::string(5'000'000, 'z') + ";3730"}));
    EXPECT_LT(detail.size(), 200u);
    EXPECT_NE(detail.find("zzz...\""), std::string::npos) << detail;
}

TEST_F(ReaderTest, FilesThatCannotBeOpened) {
    // A file that is not there is no file of the wrong format.
    try {
        Read(dir_.filePath("missing.csv"));
        ADD_FAILURE() << "read";
    } catch (const SurveyFormatError& e) {
        EXPECT_EQ(e.kind(), SurveyFormatError::Kind::NotFound);
        EXPECT_STREQ(e.what(), kNotFoundText);
        EXPECT_NE(e.detail().find("cannot open"), std::string::npos);
    }
    ASSERT_TRUE(QDir(dir_.path()).mkdir("folder.csv"));
    EXPECT_NE(FailureDetail(dir_.filePath("folder.csv")).find("cannot"), std::string::npos);
}

TEST_F(ReaderTest, FileIsClosedAfterAFailure) {
    auto file = OpenSurveyFile(Write("1\n2\n3\n"));
    EXPECT_THROW(ReadSurveyLines(*file, table_, ReaderVariant::Interactive), SurveyFormatError);
    EXPECT_FALSE(file->isOpen());
}

// What a reading leaves: the table's cells, a cut last line, or the failure.
struct Reading {
    std::optional<ReadResult> result;
    std::vector<std::vector<std::string>> rows;
    CutLastLine cut;
    std::string failure;  // the detail, which names the line, column, heading and text
    std::size_t line = 0;
    int column = -1;

    bool operator==(const Reading& o) const {
        return result == o.result && rows == o.rows && cut.line == o.cut.line && cut.fields == o.cut.fields &&
               cut.headingFields == o.cut.headingFields && failure == o.failure && line == o.line &&
               column == o.column;
    }
};

Reading ReadBytes(const std::string& bytes, const ReadingPieces& pieces) {
    QByteArray data(bytes.data(), static_cast<qsizetype>(bytes.size()));
    QBuffer input(&data);
    input.open(QIODevice::ReadOnly);
    SurveyTable table;
    Reading reading;
    try {
        reading.result = ReadSurveyLines(input, table, ReaderVariant::Interactive, &reading.cut, pieces);
    } catch (const SurveyFormatError& e) {
        reading.failure = e.detail();
        reading.line = e.line;
        reading.column = e.column;
    }
    for (std::size_t r = 0; r < table.rowCount(); ++r) {
        reading.rows.emplace_back();
        for (int c = 0; c < SurveyTable::kColumns; ++c) reading.rows.back().emplace_back(table.cell(c, r));
    }
    return reading;
}

struct SplitCase {
    const char* name;
    std::string data;  // the lines after the heading lines
    std::string headings = Headings();
    const char* lineEnd = "\n";  // of the heading lines
};

// However the file falls into pieces and halves, the reading on both cores
// leaves what the reading line by line leaves: every piece size moves the
// split across every byte of the file, onto CRs, blank lines and faults.
TEST(ReadingInHalves, LeavesWhatTheLineByLineReadingLeaves) {
    std::string tenth = Headings();
    tenth.replace(tenth.find("Ch2,nT/m"), 8, "Ch2x0.1nT/m");
    const SplitCase cases[] = {
        {"plain lines", "1;5530;3730;1;2;3\n2;5531;3731;4;5;6\n3;5532;3732;7;8;9\n4;5533;3733;1;1;1\n"},
        {"CR LF line ends", "1;5530;3730;1;2\r\n2;5531;3731;4;5\r\n3;5532;3732;7;8\r\n4;5533;3733;1;1\r\n", Headings(),
         "\r\n"},
        {"text after a CR", "1;5530;3730\rx;y\n2;5531;3731;\r\r\n3;5532;3732\n"},
        {"lines of different lengths",
         "1;5530;3730;1;2;3;4;5;6;7;8;9;10;11;12;13;14;15;16;17;18;19;20;21;22;23;24;25;26;27;28\n2;5531;3731\n"
         "3;5532;3732;7\n4;5533;3733;;;;;;;;;;;9\n5;5534;3734;1;2;3;4;5;6;7;8\n"},
        {"NUL bytes", std::string("1;5530;3730;a\0b\n2;5531;3731;\0\n3;5532;3732;c\n", 44)},
        {"a blank line in the second half", "1;5530;3730;1\n2;5531;3731;2\n3;5532;3732;3\n\n4;5533;3733;4\n"},
        {"a blank last line", "1;5530;3730;1\n2;5531;3731;2\n3;5532;3732;3\n\n"},
        {"a fault in the second half", "1;5530;3730;1\n2;5531;3731;2\n3;5532;3732;3\n4;55,33;3733;4\n5;5534;3734;5\n"},
        {"faults in both halves: the first wins",
         "1;5530;3730;1\n2;x;3731;2\n3;5532;3732;3\n4;5533;3733;4\n5;5534;y;5\n6;5535;3735;6\n"},
        {"a later bad tenth takes over the refusal",
         "1;5530;3730;;1;2\n2;x;3731;;1;2\n3;5532;3732;;1;2\n4;5533;3733;;1;2\n5;5534;3734;;1;z\n", tenth},
        {"a cut last line", "1;5530;3730;1;2;3\n2;5531;3731;4;5;6\n3;5532;3732;7;8;9\n4;5533;37"},
        {"a whole last line without a line end", "1;5530;3730;1;2;3\n2;5531;3731;4;5;6\n3;5532;3732;7;8;9"},
        {"one data line", "1;5530;3730;1;2;3\n"},
        {"no data line", ""},
    };
    const ReadingPieces lineByLine{0, std::numeric_limits<std::size_t>::max()};
    for (const auto& c : cases) {
        const std::string file =
            std::string("run") + c.lineEnd + OffsetsLine() + c.lineEnd + c.headings + c.lineEnd + "4" + c.lineEnd + c.data;
        const Reading expected = ReadBytes(file, lineByLine);
        // Shorter than the default threshold: read line by line all through.
        EXPECT_TRUE(ReadBytes(file, {}) == expected) << c.name;
        for (const std::size_t halvesFrom : {std::size_t{1}, std::size_t{40}}) {
            for (std::size_t piece = 1; piece <= file.size() + 1; ++piece) {
                const Reading got = ReadBytes(file, {piece, halvesFrom});
                EXPECT_TRUE(got == expected) << c.name << ", pieces of " << piece << " bytes, halves from "
                                             << halvesFrom << ": " << got.failure << " / " << expected.failure;
            }
        }
    }
}

}  // namespace
