// The catalogue of bad input: each file a surveyor may bring, and what the
// program makes of it, from the reader through the arrangement to the reads
// of the opening.
#include "common/errors.h"
#include "pipeline/opensurvey.h"
#include "testapp.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QDateTime>
#include <QTemporaryDir>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>

#include <algorithm>
#include <functional>
#include <initializer_list>
#include <optional>
#include <cstdio>
#include <string>
#include <unistd.h>

using namespace qgrad;

namespace {

// The three heading lines and the ignored fourth; `tenths` lists the field
// channels (from 1) whose readings are in tenths.
std::string Header(const std::string& offsets = "", std::initializer_list<int> tenths = {}) {
    std::string s = "Quenor run\r\nOffsets;;;";
    for (int k = 0; k < 12; ++k) s += (offsets.empty() ? std::to_string(-50 + 10 * k) : offsets) + ";30" + (k < 11 ? ";" : "");
    s += "\r\nTime;Latitude,N;Longitude,E;Dist";
    for (int k = 1; k <= 12; ++k) {
        const bool inTenths = std::find(tenths.begin(), tenths.end(), k) != tenths.end();
        s += ";F" + std::to_string(k) + (inTenths ? "x0.1nT" : ",nT") + ";G" + std::to_string(k) + ",nT/m";
    }
    return s + "\r\nunits\r\n";
}

enum class Outcome { Empty, Refused, Opened };

struct Road {
    Outcome outcome = Outcome::Opened;
    std::optional<SurveyFormatError> refusal;
    OpenedSurvey survey;
};

// What OPEN FILE makes of the file: refused, empty or opened.
void Travel(const QString& path, Road& road) {
    try {
        OpenSurvey(path, {}, road.survey);
        road.outcome = Outcome::Opened;
    } catch (const SurveyFormatError& e) {
        road.outcome = e.kind() == SurveyFormatError::Kind::Empty ? Outcome::Empty : Outcome::Refused;
        road.refusal = e;
    }
}

// Where a refusal points: its file line and table column (0 and -1 when not
// checked), the offending text (nullptr when not checked) and the reason.
struct Place {
    std::size_t line = 0;
    int column = -1;
    const char* text = nullptr;
    const char* reason = nullptr;
};

struct Case {
    const char* name;
    std::function<std::string()> bytes;
    Outcome outcome;
    Place place;                               // when refused
    std::function<void(const OpenedSurvey&)> check;  // more, when there is more to say
};

std::string Repeat(const std::string& line, int times) {
    std::string s;
    s.reserve(line.size() * times);
    for (int i = 0; i < times; ++i) s += line;
    return s;
}

std::string Utf16(const std::string& ascii) {
    std::string s = "\xFF\xFE";
    for (char c : ascii) {
        s += c;
        s += '\0';
    }
    return s;
}

TEST(BadInput, Catalogue) {
    const std::string row = "101500;5545.1234;3730.5000;;48000.5;1.5;48001;2\r\n";
    const std::string row2 = "101501;5545.1240;3730.5010;;48000.7;1.7;48001;2\r\n";
    const Case cases[] = {
        // A file that ends inside a line lost the rest of it: the fragment is
        // no reading (a longitude of 373 is 3.7 degrees east of 37.5).
        {"last line cut among the readings", [&] { return Header() + row + row2 + "101502;5545.1250;3730.5020;;48000."; },
         Outcome::Opened, {}, [](const OpenedSurvey& r) {
             EXPECT_EQ(r.table.rowCount(), 5u);
             EXPECT_EQ(r.points.size(), 4u);
             EXPECT_EQ(r.cutLastLine.line, 7u);
             EXPECT_EQ(r.cutLastLine.fields, 5u);
             EXPECT_EQ(r.cutLastLine.headingFields, 28u);
         }},
        {"last line cut in its fix", [&] { return Header() + row + row2 + "101502;5545.1250;373"; }, Outcome::Opened,
         {}, [](const OpenedSurvey& r) {
             EXPECT_EQ(r.table.rowCount(), 5u);
             EXPECT_EQ(r.table.cell(2, 4), "37.50835037");  // the whole line's longitude
             EXPECT_EQ(r.cutLastLine.line, 7u);
         }},
        {"last line without its line end but whole", [&] { return Header() + row + row2.substr(0, row2.size() - 2); },
         Outcome::Opened, {}, [](const OpenedSurvey& r) {
             EXPECT_EQ(r.table.rowCount(), 5u);
             EXPECT_FALSE(r.cutLastLine);
         }},
        {"the only data line cut", [&] { return Header() + "101500;5545.12"; }, Outcome::Refused,
         {0, -1, nullptr, "the file has 5 lines and no data line (data begin on line 5)"}, nullptr},
        // The look ahead of a certain refusal takes no fragment for a reading.
        {"last line cut after a position that refuses", [&] {
             return Header("", {2}) + "1;x;3730;;1;1;25;1\r\n" + "1;5545;3730;;1;1;ba";
         }, Outcome::Refused, {5, 1, "x", "is not a number"}, nullptr},
        {"carriage returns only", [&] {
             std::string s = Header() + row + row2;
             for (auto& c : s) if (c == '\n') c = '\r';
             return s;
         }, Outcome::Empty, {}, nullptr},
        {"mixed line ends", [&] { return "Quenor run\n" + Header().substr(12) + "101500;5545.1234;3730.5;;1;1\n" + row2; },
         Outcome::Opened, {}, [](const OpenedSurvey& r) { EXPECT_EQ(r.table.rowCount(), 5u); }},
        {"UTF-8 BOM", [&] { return "\xEF\xBB\xBF" + Header() + row; }, Outcome::Opened, {}, nullptr},
        {"UTF-16 file", [&] { return Utf16(Header() + row); }, Outcome::Refused, {5, 1, nullptr, "is not a number"},
         nullptr},
        {"decimal comma in a coordinate", [&] { return Header() + "101500;5545,1234;3730.5;;1;1\r\n"; },
         Outcome::Refused, {5, 1, "5545,1234", "is not a number"}, nullptr},
        {"quoted fields", [&] { return Header() + "\"101500\";\"5545.1234\";\"3730.5\"\r\n"; }, Outcome::Refused,
         {5, 1, "\"5545.1234\"", "is not a number"}, nullptr},
        {"extra columns", [&] { return Header() + Repeat("1;5545;3730;;1;1;2;2;3;3;4;4;5;5;6;6;7;7;8;8;9;9;10;10;11;11;12;12;x;y;z\r\n", 2); },
         Outcome::Opened, {}, [](const OpenedSurvey& r) {
             EXPECT_EQ(r.points.size(), 24u);
             EXPECT_EQ(r.table.cell(27, 3), "0.0");  // the 28th field, levelled; x, y, z are gone
         }},
        {"missing columns", [&] { return Header() + "101500;5545.1234;3730.5\r\n101501;5545.2;3730.6\r\n"; },
         Outcome::Opened, {}, [](const OpenedSurvey& r) {
             EXPECT_TRUE(r.arranged);
             EXPECT_EQ(r.points.size(), 0u);
         }},
        {"NaN latitude", [&] { return Header() + "1;NaN;3730;;1;1\r\n"; }, Outcome::Refused, {5, 1, "NaN", "is not a number"}, nullptr},
        {"infinite longitude", [&] { return Header() + "1;5545;Inf;;1;1\r\n"; }, Outcome::Refused, {5, 2, "Inf", "is not a number"}, nullptr},
        {"1e400 latitude", [&] { return Header() + "1;1e400;3730;;1;1\r\n"; }, Outcome::Refused, {5, 1, "1e400", "is not a number"}, nullptr},
        // The arrangement stops at the reading and writes no distance, so the
        // opening refuses the survey at the first distance it reads.
        {"NaN gradient", [&] { return Header() + "1;5545;3730;;1;nan\r\n"; }, Outcome::Refused,
         {5, 3, "", "is not a number"}, [](const OpenedSurvey& r) { EXPECT_FALSE(r.arranged); }},
        {"negative coordinates", [&] { return Header() + "1;-5545.1234;-3730.5;;1;1\r\n"; }, Outcome::Opened, {},
         [](const OpenedSurvey& r) { EXPECT_EQ(r.table.cell(1, 3), "-55.75205994"); }},
        // Positions off the globe are broken fixes, never taken.
        {"latitude 9000", [&] { return Header() + Repeat("1;900000;3730;;1;1\r\n", 3); }, Outcome::Refused,
         {5, 1, "900000", "is beyond 90 degrees of latitude"}, [](const OpenedSurvey& r) {
             EXPECT_FALSE(r.arranged);
             EXPECT_EQ(r.points.size(), 0u);
         }},
        {"latitude 91.5", [&] { return Header() + row + "1;9130;3730;;1;1\r\n"; }, Outcome::Refused,
         {6, 1, "9130", "is beyond 90 degrees of latitude"}, nullptr},
        {"latitude 90.00002", [&] { return Header() + "1;9000.0012;3730;;1;1\r\n"; }, Outcome::Refused,
         {5, 1, "9000.0012", "is beyond 90 degrees of latitude"}, nullptr},
        {"latitude 90 exactly", [&] { return Header() + "1;9000;3730;;1;1\r\n"; }, Outcome::Opened, {}, nullptr},
        {"longitude 200", [&] { return Header() + "1;5545;20000;;1;1\r\n"; }, Outcome::Refused,
         {5, 2, "20000", "is beyond 180 degrees of longitude"}, nullptr},
        {"longitude 359.9", [&] { return Header() + "1;5545;35954;;1;1\r\n"; }, Outcome::Refused,
         {5, 2, "35954", "is beyond 180 degrees of longitude"}, nullptr},
        {"west longitude -180.5", [&] { return Header() + "1;5545;-18030;;1;1\r\n"; }, Outcome::Refused,
         {5, 2, "-18030", "is beyond 180 degrees of longitude"}, nullptr},
        {"no row with a fix", [&] { return Header() + Repeat("1;0;0;;1;1\r\n", 4); }, Outcome::Refused,
         {0, -1, nullptr, "the survey has no GPS fix: every latitude and longitude is 0"}, nullptr},
        {"a million identical rows", [&] { return Header() + Repeat("1;5545;3730;;1;1\n", 1'000'000); },
         Outcome::Opened, {}, [](const OpenedSurvey& r) {
             EXPECT_TRUE(r.arranged);
             EXPECT_EQ(r.points.size(), 1'000'000u);
             EXPECT_EQ(r.table.cell(0, 1'000'002), "1.000");  // one run to the end, a step of 0
             EXPECT_EQ(r.table.cell(3, 1'000'002), "10000.00");
         }},
        {"offset of 2^31", [&] { return Header("2147483648") + row; }, Outcome::Refused,
         {2, 3, "2147483648", "is not a whole number of centimetres for a sensor offset"}, nullptr},
        {"offset of -2^31", [&] { return Header("-2147483648") + row; }, Outcome::Opened, {},
         [](const OpenedSurvey& r) { EXPECT_FALSE(r.arranged); }},
        {"a 100 MB line", [&] { return Header() + "1;5545;3730;" + std::string(100'000'000, 'x') + ";1;1\r\n" + row2; },
         Outcome::Opened, {}, [](const OpenedSurvey& r) {
             EXPECT_TRUE(r.arranged);
             EXPECT_EQ(r.table.cell(3, 3), "0");
             EXPECT_EQ(r.table.column(3).textBytes() < 1000, true);  // the rewritten column dropped the 100 MB
         }},
        {"NUL bytes", [&] { return Header() + std::string("1;5545;3730;a\0b;1;1\r\n", 21); }, Outcome::Opened, {},
         nullptr},
        // A refusal that is certain is made without keeping what follows,
        // with the place the cleaning of the whole file would give.
        {"20 MB of blank lines", [&] { return Header() + std::string(20'000'000, '\n'); }, Outcome::Refused,
         {5, 1, "", "is not a number"}, [](const OpenedSurvey& r) { EXPECT_EQ(r.table.rowCount(), 4u); }},
        {"good rows, then 5 million blank lines", [&] { return Header() + row + row2 + Repeat("\r\n", 5'000'000); },
         Outcome::Refused, {7, 1, "", "is not a number"},
         [](const OpenedSurvey& r) { EXPECT_EQ(r.table.rowCount(), 6u); }},
        {"blank lines among readings in tenths", [&] { return Header("", {1}) + row + std::string(1'000'000, '\n'); },
         Outcome::Refused, {6, 4, "", "is not a number"}, nullptr},
        {"a later reading in tenths refuses before the position", [&] {
             return Header("", {2}) + "1;x;3730;;1;1;25;1\r\n" + row + "1;5545;3730;;1;1;bad;1\r\n" + row2;
         }, Outcome::Refused, {7, 6, "bad", "is not a number"}, nullptr},
        {"a later reading in tenths after the refusing one", [&] {
             return Header("", {1, 2}) + "1;x;3730;;y;1;25;1\r\n" + "1;5545;3730;;1;1;bad;1\r\n";
         }, Outcome::Refused, {5, 4, "y", "is not a number"}, nullptr},
        {"a position read after a time column is inserted", [&] {
             std::string h = Header();
             h.replace(h.find("Time;"), 5, "");
             return h + "5545;3730;;1;1\r\n;3730;;1;1\r\n" + std::string(1'000'000, '\n');
         }, Outcome::Refused, {6, 1, "", "is not a number"},
         [](const OpenedSurvey& r) { EXPECT_EQ(r.table.rowCount(), 5u); }},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString path = dir.filePath("case.csv");
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        const std::string bytes = c.bytes();
        f.write(bytes.data(), static_cast<qint64>(bytes.size()));
        f.close();
        Road road;
        Travel(path, road);
        EXPECT_EQ(road.outcome, c.outcome) << (road.refusal ? road.refusal->detail() : "");
        if (c.outcome == Outcome::Refused && road.refusal) {
            const SurveyFormatError& e = *road.refusal;
            EXPECT_EQ(e.file, "case.csv");
            if (c.place.line) {
                EXPECT_EQ(e.line, c.place.line) << e.detail();
            }
            if (c.place.column >= 0) {
                EXPECT_EQ(e.column, c.place.column) << e.detail();
            }
            if (c.place.text) {
                EXPECT_EQ(e.text, c.place.text) << e.detail();
            }
            EXPECT_EQ(e.reason, c.place.reason) << e.detail();
        }
        if (c.check) c.check(road.survey);
    }
}

TEST(BadInput, FilesThatAreNotThere) {
    QTemporaryDir dir;
    Road missing;
    Travel(dir.filePath("removed after the dialog.csv"), missing);
    EXPECT_EQ(missing.outcome, Outcome::Refused);
    EXPECT_EQ(missing.refusal->reason.rfind("cannot open", 0), 0u) << missing.refusal->reason;
    EXPECT_EQ(missing.refusal->kind(), SurveyFormatError::Kind::NotFound);
    EXPECT_STREQ(missing.refusal->what(), kNotFoundText);
    EXPECT_EQ(missing.refusal->detail().rfind("removed after the dialog.csv: cannot open", 0), 0u);
    Road folder;
    ASSERT_TRUE(QDir(dir.path()).mkdir("a folder.csv"));
    Travel(dir.filePath("a folder.csv"), folder);
    EXPECT_EQ(folder.outcome, Outcome::Refused);
}

// A cut last line is told apart wherever the reader takes its bytes from:
// a file read in pieces (the cut line beyond the first piece) or a device of
// unknown size.
TEST(BadInput, CutLastLineFromAnyInput) {
    const std::string row = "101500;5545.1234;3730.5000;;48000.5;1.5;48001;2\r\n";
    const std::string bytes = Header() + Repeat(row, 20'000) + "101502;5545.1250;373";
    QTemporaryDir dir;
    const QString path = dir.filePath("cut.csv");
    ASSERT_TRUE(qgrad::testing::WriteFile(path, QByteArray::fromStdString(bytes)));
    OpenedSurvey fromFile;
    OpenSurvey(path, {}, fromFile);
    QByteArray data = QByteArray::fromStdString(bytes);
    QBuffer buffer(&data);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    OpenedSurvey fromDevice;
    OpenSurvey(buffer, "cut.csv", {}, fromDevice);
    for (const OpenedSurvey* s : {&fromFile, &fromDevice}) {
        EXPECT_EQ(s->cutLastLine.line, 20'005u);
        EXPECT_EQ(s->table.rowCount(), 20'003u);
        EXPECT_EQ(s->points.size(), 40'000u);
    }
    EXPECT_EQ(CutLastLineNote(fromFile.cutLastLine, "cut\x1B[2J.csv").toStdString(),
              "cut\\x1B[2J.csv: The survey is cut off at its end; its last line was left out (line 20005 has 3 of "
              "the 28 fields of the heading row and no line end)");
}

// Things a path can name besides a file: each refused at once, never waited
// on, with what it is.
TEST(BadInput, PathsThatAreNotRegularFiles) {
    QTemporaryDir dir;
    const std::string base = dir.path().toStdString() + "/";
    struct Thing {
        const char* name;
        std::function<bool(const std::string&)> make;
        const char* kind;
    };
    const Thing things[] = {
        {"fifo.csv", [](const std::string& p) { return mkfifo(p.c_str(), 0600) == 0; }, "a FIFO"},
        {"zero.csv", [](const std::string& p) { return symlink("/dev/zero", p.c_str()) == 0; }, "a device"},
        {"null.csv", [](const std::string& p) { return symlink("/dev/null", p.c_str()) == 0; }, "a device"},
        {"socket.csv", [](const std::string& p) {
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un address{};
             address.sun_family = AF_UNIX;
             std::snprintf(address.sun_path, sizeof address.sun_path, "%s", p.c_str());
             return fd >= 0 && bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
         }, "a socket"},
        {"folder.csv", [](const std::string& p) { return mkdir(p.c_str(), 0700) == 0; }, "a folder"},
    };
    for (const Thing& t : things) {
        SCOPED_TRACE(t.name);
        const std::string path = base + t.name;
        if (path.size() >= sizeof(sockaddr_un::sun_path)) continue;
        ASSERT_TRUE(t.make(path));
        Road road;
        Travel(QString::fromStdString(path), road);
        ASSERT_EQ(road.outcome, Outcome::Refused);
        EXPECT_EQ(road.refusal->reason, "cannot open " + path + ": it is " + t.kind + ", not a regular file");
        EXPECT_EQ(road.survey.reached, OpeningStage::None);
    }
}

// A survey written to while it is read is refused, not taken as it stood.
TEST(BadInput, FileThatChangesWhileItIsRead) {
    QTemporaryDir dir;
    const QString path = dir.filePath("growing.csv");
    const std::string row = "101500;5545.1234;3730.5000;;48000.5;1.5;48001;2\r\n";
    const std::pair<const char*, std::function<void(QFile&)>> changes[] = {
        {"appended", [&](QFile& f) { f.write(row.data(), static_cast<qint64>(row.size())); }},
        {"cut short", [&](QFile& f) { f.resize(f.size() - 10); }},
        {"rewritten at the same size", [&](QFile& f) { f.write("Q"); }},
    };
    for (const auto& [what, change] : changes) {
        SCOPED_TRACE(what);
        QFile::remove(path);
        const std::string bytes = Header() + row + row;
        ASSERT_TRUE(qgrad::testing::WriteFile(path, QByteArray::fromStdString(bytes)));
        OpeningOptions options;
        options.stageReached = [&, change = change](OpeningStage stage) {
            if (stage != OpeningStage::FileOpened) return;
            // Dated later, as a writer's change shows even where file times are coarse.
            QFile f(path);
            ASSERT_TRUE(f.open(QIODevice::ReadWrite));
            change(f);
            f.close();
            f.setFileTime(QDateTime::currentDateTimeUtc().addSecs(5), QFileDevice::FileModificationTime);
        };
        OpenedSurvey survey;
        try {
            OpenSurvey(path, options, survey);
            ADD_FAILURE() << "opened";
        } catch (const SurveyFormatError& e) {
            EXPECT_EQ(e.reason, "the file changed while it was being read");
            EXPECT_EQ(e.file, "growing.csv");
        }
    }
}

// Opens `path` with 128 MB of address space left; 0 when the refusal says
// there is not enough memory, with the file's size.
int OpenWithLittleMemory(const QString& path) {
    long pages = 0;
    std::FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm || std::fscanf(statm, "%ld", &pages) != 1) return 3;
    const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (128 << 20);
    const rlimit space{limit, limit};
    if (setrlimit(RLIMIT_AS, &space) != 0) return 4;
    // Bytes read so far, as the kernel counts them: the size alone decides,
    // so the file is not read before the refusal.
    auto bytesRead = [] {
        long long n = -1;
        if (std::FILE* io = std::fopen("/proc/self/io", "r")) {
            if (std::fscanf(io, "rchar: %lld", &n) != 1) n = -1;
            std::fclose(io);
        }
        return n;
    };
    const long long before = bytesRead();
    Road road;
    Travel(path, road);
    if (bytesRead() - before > (1 << 20)) return 5;
    const bool told = road.refusal && road.refusal->kind() == SurveyFormatError::Kind::OutOfMemory &&
                      std::string(road.refusal->what()) == kOutOfMemoryText &&
                      road.refusal->detail() ==
                          "huge.csv: the file holds 268435456 bytes, more than there is memory to open";
    return told ? 0 : 1;
}

// A file larger than the memory at hand is reported as such, with its size.
TEST(BadInput, NotEnoughMemory) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the address sanitizer reserves more address space than the limit leaves";
#else
    QTemporaryDir dir;
    const QString path = dir.filePath("huge.csv");
    constexpr qint64 kSize = 256 << 20;  // one line, sparse on the disk
    {
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        ASSERT_TRUE(f.resize(kSize));
    }
    EXPECT_EXIT(std::_Exit(OpenWithLittleMemory(path)), ::testing::ExitedWithCode(0), "");
#endif
}

TEST(BadInput, FileWithoutReadPermission) {
    if (geteuid() == 0) GTEST_SKIP() << "root reads files without read permission";
    QTemporaryDir dir;
    const QString locked = dir.filePath("locked.csv");
    QFile f(locked);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("a\nb\nc\nd\ne\n");
    f.close();
    QFile::setPermissions(locked, QFileDevice::WriteOwner);
    Road road;
    Travel(locked, road);
    EXPECT_EQ(road.outcome, Outcome::Refused);
    EXPECT_EQ(road.refusal->reason.rfind("cannot open", 0), 0u) << road.refusal->reason;
}

}  // namespace
