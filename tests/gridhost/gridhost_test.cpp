#include "common/geodesy.h"
#include "common/errors.h"
#include "common/fileio.h"
#include "common/numtext.h"
#include "export/export.h"
#include "gridhost/contourmap.h"
#include "gridhost/gridfile.h"
#include "gridhost/gridjob.h"
#include "gridhost/gridrun.h"
#include "gridhost/interrupt.h"
#include "gridhost/kriging.h"

#include "testapp.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <omp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstring>
#include <map>
#include <optional>
#include <random>

using namespace qgrad;

namespace {


TEST(GriddingScriptReading, TakesWhatTheProgramWrites) {
    const ExportPaths paths = MakeExportPaths("/data/Поле 1/", "line07.csv");
    const std::string script = GriddingScript(paths, {230, 100});
    const GridJob job = ParseGriddingScript(script);
    EXPECT_EQ(job.dataFile, "/data/Поле 1/GPS_DIFF_line07.txt");
    EXPECT_EQ(job.gridFile, "/data/Поле 1/GPS_DIFF_line07.grd");
    EXPECT_EQ(job.cols, 230);
    EXPECT_EQ(job.rows, 100);

    // LF line ends and blanks around lines are fine.
    std::string lf = script;
    for (std::size_t at; (at = lf.find("\r\n")) != std::string::npos;) lf.replace(at, 2, "  \n");
    EXPECT_EQ(ParseGriddingScript(lf).cols, 230);
}

TEST(GriddingScriptReading, AnythingElseNamesTheLine) {
    const std::string script = GriddingScript(MakeExportPaths("/d/", "a.csv"), {100, 100});
    const struct {
        const char* from;
        const char* to;
        const char* message;
    } cases[] = {
        {"NumCols:=100", "NumCols:=x", "line 11"},
        {"NumRows:=100", "NumRows:=1", "line 11"},
        {"OutGrid:=\"", "OutGrid:=", "line 12"},
        {"Rainbow6", "Rainbow7", "line 21"},
        {"Sub Main", "Function Main", "line 1"},
        {"End Sub\r\n", "", "32 lines"},
        // Code added by hostile names, as a writer that quoted nothing put them.
        {"GPS_DIFF_a.txt\", _", "q\", _ Shell(\"x\")\", _", "line 10"},
        {"GPS_DIFF_a.grd\")\r\n\r\n", "x\") : Shell(\"y\")\r\n\r\n", "line 12"},
        {"AddContourMap(GridFileName:=\"/d/GPS_DIFF_a.grd\")", "AddContourMap(GridFileName:=\"/d/a\" & Shell(\"x\"))",
         "line 15"},
        {"DataFileName:=\"/d/GPS_DIFF_a.txt\")", "DataFileName:=\"/d/GPS_DIFF_a\"\".txt)", "line 16"},
        {"GPS_DIFF_a.txt\", _", "a\r\nShell(\"x\")\r\n\", _", "lines where 33"},
    };
    for (const auto& c : cases) {
        std::string bad = script;
        bad.replace(bad.find(c.from), std::strlen(c.from), c.to);
        try {
            ParseGriddingScript(bad);
            ADD_FAILURE() << c.from;
        } catch (const GridHostError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
        }
    }
}

TEST(GriddingScriptReading, PathsAreLiteralsWhateverTheName) {
    // Each name as the program writes it into a script and the host reads it back.
    const char* names[] = {
        "q\", _ Shell(\"x\")",  // a name that would end the literal and add a call
        "a\"\"b.csv",
        "\"",
        "Поле 1.csv",
        "end\".csv",
    };
    for (const char* name : names) {
        const ExportPaths paths = MakeExportPaths("/d/\"x\"/", QString::fromUtf8(name));
        const GridJob job = ParseGriddingScript(GriddingScript(paths, {120, 100}));
        EXPECT_EQ(job.dataFile, paths.gradientFile) << name;
        EXPECT_EQ(job.gridFile, paths.gridFile) << name;
        EXPECT_EQ(job.cols, 120) << name;
    }
}

TEST(GriddingScriptReading, LiteralsReadBack) {
    const struct {
        const char* text;
        std::optional<std::string> bytes;
    } cases[] = {
        {"\"/d/a.txt\"", "/d/a.txt"},
        {"\"\"", ""},
        {"\"a\"\"b\"", "a\"b"},
        {"\"\"\"\"", "\""},
        {"\"a\"b\"", std::nullopt},        // a lone quote ends the literal inside
        {"\"\"\"", std::nullopt},          // the closing quote doubled away
        {"\"a\"\"", std::nullopt},         // ends in the middle of a pair
        {"\"a\" & \"b\"", std::nullopt},  // two literals joined by code
        {"/d/a.txt", std::nullopt},       // no quotes
        {"\"", std::nullopt},
        {"\"a\tb\"", std::nullopt},  // a control character
        {"\"a\rb\"", std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(ReadScriptLiteral(c.text), c.bytes) << c.text;
}

TEST(PointFileReading, LinesAndErrors) {
    QTemporaryDir dir;
    const QString path = dir.filePath("p.txt");
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Lon;Lat;grad(H),nT/m\r\n37.5;55.75;1.5;\r\n-37.25;55.5;-2.0;\r\n");
    f.close();
    const auto points = ReadPointFile(path);
    ASSERT_EQ(points.size(), 2u);
    EXPECT_EQ(points[1].lon, -37.25);
    EXPECT_EQ(points[1].z, -2.0);
    ASSERT_TRUE(f.open(QIODevice::Append));
    f.write("37.5;oops;1;\r\n");
    f.close();
    try {
        ReadPointFile(path);
        ADD_FAILURE();
    } catch (const GridHostError& e) {
        EXPECT_NE(std::string(e.what()).find("line 4: \"oops\""), std::string::npos) << e.what();
    }
}

// Expects `run` to throw a GridHostError whose text holds `message`.
template <typename Run>
void ExpectRefused(Run run, const std::string& message, const std::string& name) {
    try {
        run();
        ADD_FAILURE() << name << ": not refused";
    } catch (const GridHostError& e) {
        EXPECT_NE(std::string(e.what()).find(message), std::string::npos) << name << ": " << e.what();
    }
}

TEST(PointFileReading, LargeFilesReadInPartsKeepOrderAndLineNumbers) {
    constexpr int kLines = 60000;  // over a megabyte: read in two parts at once
    struct File {
        std::string text;
        std::vector<DataPoint> points;
    };
    // Point lines 2 to kLines + 1, some replaced, the last ended by `end`.
    const auto file = [](const std::map<int, std::string>& replaced, const char* end) {
        File f{"Lon;Lat;grad(H),nT/m\r\n", {}};
        for (int line = 2; line <= kLines + 1; ++line) {
            if (const auto r = replaced.find(line); r != replaced.end()) {
                f.text += r->second;
            } else {
                const DataPoint p{37 + line * 0.25, 55.75 - line * 0.5, double(line)};
                f.text += FormatGeneral(p.lon) + ";" + FormatGeneral(p.lat) + ";" + FormatGeneral(p.z) + ";";
                f.points.push_back(p);
            }
            f.text += line <= kLines ? "\r\n" : end;
        }
        return f;
    };
    const struct {
        const char* name;
        File file;
        const char* message;  // nothing when the file reads
    } cases[] = {
        {"all points", file({}, "\r\n"), nullptr},
        {"no line end at the end", file({}, ""), nullptr},
        {"blank lines anywhere", file({{3, ""}, {30001, ""}, {59000, ""}}, "\n"), nullptr},
        {"a bad number late", file({{50000, "37.5;oops;1;"}}, "\r\n"), "line 50000: \"oops\" is not a number"},
        {"two fields late", file({{45001, "37.5;55.75"}}, "\r\n"), "line 45001: fewer than three fields"},
        {"the earlier of two", file({{10, "x;1;2;"}, {50000, "y;1;2;"}}, "\r\n"), "line 10: \"x\""},
        {"the last line", file({{kLines + 1, "1;2;z"}}, ""), "line 60001: \"z\""},
    };
    for (const auto& c : cases) {
        ASSERT_GT(c.file.text.size(), 1u << 20) << c.name;
        if (c.message) {
            ExpectRefused([&] { ParsePointFile(c.file.text, "p.txt"); }, std::string("p.txt, ") + c.message, c.name);
            continue;
        }
        const std::vector<DataPoint> points = ParsePointFile(c.file.text, "p.txt");
        ASSERT_EQ(points.size(), c.file.points.size()) << c.name;
        for (std::size_t i = 0; i < points.size(); ++i) {
            ASSERT_EQ(points[i].lon, c.file.points[i].lon) << c.name << " point " << i;
            ASSERT_EQ(points[i].lat, c.file.points[i].lat) << c.name << " point " << i;
            ASSERT_EQ(points[i].z, c.file.points[i].z) << c.name << " point " << i;
        }
    }
}

TEST(PointFileReading, AnySplitAndPieceSizeReadsAsTheWholeFile) {
    // Each file read in two halves split after every byte, in pieces of a
    // few bytes, so that halves and pieces begin and end inside every line,
    // line end and field.
    const std::string points = "Lon;Lat;grad(H),nT/m\r\n37.5;55.75;1.5;\r\n\r\n-37.25;55.5;-2;\n\n1e-3;2;3";
    const std::vector<DataPoint> expected = {{37.5, 55.75, 1.5}, {-37.25, 55.5, -2}, {1e-3, 2, 3}};
    const struct {
        const char* name;
        std::string text;
        const char* message;  // nothing when the file reads as `expected`
    } cases[] = {
        {"points, blank lines, CR LF and LF, no end at the end", points, nullptr},
        {"a line end at the end", points + "\r\n", nullptr},
        {"blank lines at the end", points + "\n\r\n\n", nullptr},
        {"a bad number", points + "\n4;oops;5;\n6;7;8;", "p.txt, line 7: \"oops\" is not a number"},
        {"a cut last line", points + "\r\n37.5;55.7", "p.txt, line 7: fewer than three fields"},
        {"a cut line end", points + "\r", nullptr},
        {"the earlier of two", "h\n1;2;3;\nx;1;2;\n1;2;3;\n1;2;y;\n", "p.txt, line 3: \"x\" is not a number"},
        {"a bad first point", "h\r\n1;;3\r\n1;2;3\r\n", "p.txt, line 2: \"\" is not a number"},
        {"the heading only", "Lon;Lat;grad(H),nT/m", nullptr},
        {"an empty file", "", nullptr},
    };
    QTemporaryDir dir;
    const QString path = dir.filePath("p.txt");
    for (const auto& c : cases) {
        ASSERT_TRUE(qgrad::testing::WriteFile(path, QByteArray::fromStdString(c.text)));
        const bool none = c.text.find('\n') == std::string::npos;
        for (std::size_t split = 0; split <= c.text.size(); ++split)
            for (const std::size_t piece : {1, 2, 5, 64}) {
                const PointFileReading reading{piece, 0, split};
                const std::string name = std::string(c.name) + ", split after " + std::to_string(split) +
                                         ", pieces of " + std::to_string(piece);
                if (c.message) {
                    ExpectRefused([&] { ReadPointFile(path, reading); }, c.message, name);
                    ExpectRefused([&] { ParsePointFile(c.text, "p.txt", reading); }, c.message, name);
                    continue;
                }
                for (const std::vector<DataPoint>& read :
                     {ReadPointFile(path, reading), ParsePointFile(c.text, "p.txt", reading)}) {
                    ASSERT_EQ(read.size(), none ? 0 : expected.size()) << name;
                    for (std::size_t i = 0; i < read.size(); ++i) {
                        ASSERT_EQ(read[i].lon, expected[i].lon) << name << " point " << i;
                        ASSERT_EQ(read[i].lat, expected[i].lat) << name << " point " << i;
                        ASSERT_EQ(read[i].z, expected[i].z) << name << " point " << i;
                    }
                }
            }
    }
}

// A socket file at `path`, left bound until the test ends.
class SocketFile {
public:
    explicit SocketFile(const QString& path) : fd_(socket(AF_UNIX, SOCK_STREAM, 0)) {
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, QFile::encodeName(path).constData(), sizeof addr.sun_path - 1);
        bound_ = bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
    }
    ~SocketFile() { close(fd_); }
    bool bound() const { return bound_; }

private:
    int fd_;
    bool bound_ = false;
};

class HostFiles : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        ASSERT_EQ(mkfifo(QFile::encodeName(Path("fifo")).constData(), 0600), 0);
        ASSERT_TRUE(socket_.bound());
        ASSERT_TRUE(qgrad::testing::WriteFile(Path("points.txt"), "Lon;Lat;grad(H),nT/m\r\n"));
        ASSERT_TRUE(qgrad::testing::WriteFile(Path("script.bas"), "Sub Main\r\n"));
        ASSERT_TRUE(qgrad::testing::WriteFile(Path("old.grd"), "DSRB"));
        ASSERT_TRUE(QFile::link(Path("points.txt"), Path("link-to-points")));
        ASSERT_EQ(link(QFile::encodeName(Path("points.txt")).constData(),
                       QFile::encodeName(Path("hard-link-to-points")).constData()),
                  0);
        ASSERT_TRUE(QDir(dir_.path()).mkdir("folder"));
    }
    QString Path(const char* name) const { return dir_.filePath(name); }

    QTemporaryDir dir_;
    SocketFile socket_{dir_.filePath("socket")};
};

TEST_F(HostFiles, OnlyRegularFilesAreRead) {
    // A FIFO would block the reader for ever; each is refused before it is read.
    const struct {
        QString path;
        const char* message;
    } cases[] = {
        {Path("fifo"), "it is a FIFO, not a regular file"},
        {"/dev/zero", "it is a device, not a regular file"},
        {Path("socket"), "cannot read"},  // a socket cannot even be opened
        {Path("folder"), "it is a folder, not a regular file"},
        {Path("missing"), "No such file"},
    };
    for (const auto& c : cases) {
        ExpectRefused([&] { ReadPointFile(c.path); }, c.message, "points " + c.path.toStdString());
        ExpectRefused([&] { ReadGriddingScript(c.path); }, c.message, "script " + c.path.toStdString());
    }
    // A regular file no script can be as large as: refused without reading it.
    QFile big(Path("big.bas"));
    ASSERT_TRUE(big.open(QIODevice::WriteOnly) && big.resize(qint64(8) << 30));
    ExpectRefused([&] { ReadGriddingScript(Path("big.bas")); }, "8589934592 bytes", "big script");
    EXPECT_TRUE(ReadPointFile(Path("link-to-points")).empty());
}

TEST_F(HostFiles, OutputsAreRegularFilesAndNeverTheInputs) {
    for (const char* copy : {"points.png", "points.tif"}) ASSERT_TRUE(QFile::copy(Path("points.txt"), Path(copy)));
    const struct {
        const char* name;
        QString grid;
        const char* message;  // nullptr: the job may run
        const char* data = "points.txt";
    } cases[] = {
        {"device", "/dev/null", "it is a device, not a regular file"},
        {"FIFO", Path("fifo"), "it is a FIFO"},
        {"socket", Path("socket"), "it is a socket"},
        {"folder", Path("folder"), "it is a folder"},
        {"the data file", Path("points.txt"), "it is the data file itself"},
        {"a link to the data file", Path("link-to-points"), "it is the data file itself"},
        {"a hard link to the data file", Path("hard-link-to-points"), "it is the data file itself"},
        {"the data file spelt otherwise", dir_.path() + "/folder/../points.txt", "it is the data file itself"},
        {"the script", Path("script.bas"), "it is the gridding script itself"},
        {"a picture that is the data file", Path("points.grd"), "points.png: it is the data file itself", "points.png"},
        {"a GIS output that is the data file", Path("points.grd"), "points.tif: it is the data file itself",
         "points.tif"},
        {"a grid that is its own picture", Path("map.png"), "the grid file and its picture would be one file"},
        {"a new file", Path("new.grd"), nullptr},
        {"an earlier grid", Path("old.grd"), nullptr},
    };
    for (const auto& c : cases) {
        GridJob job;
        job.dataFile = Path(c.data);
        job.gridFile = c.grid;
        // A GeoTIFF asked for beside the grid.
        const auto check = [&] { CheckJobOutputs(job, Path("script.bas"), {ReplaceExtension(job.gridFile, ".tif")}); };
        if (c.message)
            ExpectRefused(check, c.message, c.name);
        else
            EXPECT_NO_THROW(check()) << c.name;
    }
}

TEST(Kriging, PointsThatSpanNoAreaOrNoFiniteExtentAreRefused) {
    const double nan = std::nan("");
    const struct {
        const char* name;
        std::vector<DataPoint> points;
        const char* message;
    } cases[] = {
        {"none", {}, "span no area (there are no points)"},
        {"identical", {{37.5, 55.75, 1}, {37.5, 55.75, 2}, {37.5, 55.75, 3}}, "all points lie on one spot"},
        {"two", {{37.5, 55.75, 1}, {37.5001, 55.7501, 2}}, "all points lie on one line"},
        {"collinear", {{37.5, 55.75, 1}, {37.5001, 55.7501, 2}, {37.5002, 55.7502, 3}, {37.5004, 55.7504, 4}},
         "all points lie on one line"},
        {"collinear, off by rounding", {{37.5, 55.7, 1}, {37.6, 55.8, 2}, {37.7, 55.9, 3}},
         "all points lie on one line"},
        {"one meridian", {{37.5, 55.75, 1}, {37.5, 55.76, 2}, {37.5, 55.77, 3}}, "one meridian or one parallel"},
        {"one parallel", {{37.5, 55.75, 1}, {37.6, 55.75, 2}, {37.7, 55.75, 3}}, "one meridian or one parallel"},
        {"±1e308 longitudes", {{-1e308, 0, 1}, {1e308, 0, 2}, {0, 1, 3}}, "not a finite number"},
        {"±1e308 latitudes", {{0, -1e308, 1}, {0, 1e308, 2}, {1, 0, 3}}, "not a finite number"},
        {"latitudes whose mean overflows", {{0, 1e308, 1}, {1, 1.5e308, 2}, {2, 1e308, 3}}, "not a finite number"},
        {"NaN longitude", {{nan, 0, 1}, {1, 0, 2}, {0, 1, 3}}, "coordinate or value is not a finite number"},
        {"infinite value", {{0, 0, INFINITY}, {1, 0, 2}, {0, 1, 3}}, "coordinate or value is not a finite number"},
    };
    for (const auto& c : cases) ExpectRefused([&] { KrigeGrid(c.points, 10, 10); }, c.message, c.name);
}

// Points one map cannot join are refused before the kriging, saying why; a
// site of any size a cart walks is gridded.
TEST(GriddedSpan, SitesAreGriddedRegionsAndTheAntimeridianAreNot) {
    const double near180 = 180 - 15 / MetresPerDegreeLongitude(65);  // 15 m west of the 180th meridian
    const struct {
        const char* name;
        std::vector<DataPoint> points;
        const char* message;  // nullptr: gridded
    } cases[] = {
        {"a field 2 km across", {{37.5, 55.75, 1}, {37.53, 55.76, 2}, {37.51, 55.74, 3}}, nullptr},
        {"a field beside the 180th meridian", {{near180, 65, 1}, {near180 - 0.01, 65.001, 2}, {near180, 65.002, 3}}, nullptr},
        {"30 m apart either side of it", {{near180, 65, 1}, {-near180, 65.0001, 2}, {near180, 65.0002, 3}},
         "on both sides of the 180th meridian"},
        {"sites on two continents", {{37.5, 55.75, 1}, {37.51, 55.76, 2}, {-73.9, 40.7, 3}}, "km apart"},
        {"400 km along one meridian", {{37.5, 55.75, 1}, {37.51, 55.76, 2}, {37.5, 59.35, 3}}, "401 km apart"},
    };
    for (const auto& c : cases) {
        if (c.message)
            ExpectRefused([&] { CheckGriddableSpan(c.points); }, c.message, c.name);
        else
            EXPECT_NO_THROW(CheckGriddableSpan(c.points)) << c.name;
    }
}

// A smooth regional field with a dipole, in metres about a corner.
double Field(double x, double y) {
    const double dx = x - 30, dy = y - 12;
    return 0.05 * x - 0.03 * y + 3 * std::sin(x / 9) + 40 * std::exp(-(dx * dx + dy * dy) / 18) * (1 - dy / 6);
}

// Parallel traverses 1 m apart, a reading every 0.25 m, like a cart's run.
std::vector<DataPoint> Traverses(double lat0, double lon0) {
    const double kx = std::cos(lat0 * M_PI / 180) * kMetresPerDegree;
    std::vector<DataPoint> points;
    std::mt19937 rng(3);
    std::uniform_real_distribution<double> jitter(-0.05, 0.05);
    for (int line = 0; line <= 24; ++line)
        for (int i = 0; i <= 240; ++i) {
            const double x = i * 0.25, y = line * 1.0 + jitter(rng);
            points.push_back({lon0 + x / kx, lat0 + y / kMetresPerDegree, Field(x, y)});
        }
    return points;
}

struct Errors {
    double rms = 0;
    int compared = 0;
};

// Nodes of the grid against the field, between the outermost traverses.
Errors Compare(const Grid& g, double lat0, double lon0) {
    const double kx = std::cos(lat0 * M_PI / 180) * kMetresPerDegree;
    Errors e;
    double sum = 0;
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.cols; ++c) {
            const double x = (g.xLL + c * g.xSize - lon0) * kx, y = (g.yLL + r * g.ySize - lat0) * kMetresPerDegree;
            if (Grid::Blank(g.at(c, r)) || y < 0.5 || y > 23.5 || x < 0.5 || x > 59.5) continue;
            const double d = g.at(c, r) - Field(x, y);
            sum += d * d;
            ++e.compared;
        }
    e.rms = std::sqrt(sum / e.compared);
    return e;
}

TEST(Kriging, ReproducesAFieldBetweenTraversesBetterThanNearestPoints) {
    const double lat0 = 55.75, lon0 = 37.6;
    const auto points = Traverses(lat0, lon0);
    const Grid g = KrigeGrid(points, 121, 97);
    const Errors kriged = Compare(g, lat0, lon0);
    ASSERT_GT(kriged.compared, 5000);
    EXPECT_LT(kriged.rms, 0.6);  // field spans about -25 .. +45

    // Each node's nearest reading alone: what a grid by nearest neighbour gives.
    Grid nearest = g;
    const double kx = std::cos(lat0 * M_PI / 180) * kMetresPerDegree;
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.cols; ++c) {
            if (Grid::Blank(g.at(c, r))) continue;
            const double lon = g.xLL + c * g.xSize, lat = g.yLL + r * g.ySize;
            double best = 1e300;
            for (const auto& p : points) {
                const double d = std::hypot((p.lon - lon) * kx, (p.lat - lat) * kMetresPerDegree);
                if (d < best) {
                    best = d;
                    nearest.at(c, r) = p.z;
                }
            }
        }
    EXPECT_LT(kriged.rms, 0.5 * Compare(nearest, lat0, lon0).rms);
}

TEST(Kriging, SharedFactorisationsGiveThePlainSolvesResult) {
    const double lat0 = 55.75, lon0 = 37.6;
    // Traverses running east-west share along the grid's columns, north-south along its rows.
    auto northSouth = Traverses(lat0, lon0);
    for (DataPoint& d : northSouth) std::swap(d.lon, d.lat);
    const struct {
        const char* name;
        std::vector<DataPoint> points;
        int cols, rows;
    } cases[] = {
        {"traverses east-west", Traverses(lat0, lon0), 83, 61},
        {"traverses north-south", northSouth, 61, 83},
    };
    for (const auto& c : cases) {
        KrigingOptions plain;
        plain.shareFactorisations = false;
        const Grid expected = KrigeGrid(c.points, c.cols, c.rows, plain);
        const Grid shared = KrigeGrid(c.points, c.cols, c.rows);
        ASSERT_EQ(shared.z.size(), expected.z.size()) << c.name;
        int compared = 0;
        for (std::size_t i = 0; i < expected.z.size(); ++i) {
            ASSERT_EQ(Grid::Blank(shared.z[i]), Grid::Blank(expected.z[i])) << c.name << " node " << i;
            if (Grid::Blank(expected.z[i])) continue;
            EXPECT_NEAR(shared.z[i], expected.z[i], 1e-9 * std::max(1.0, std::fabs(expected.z[i])))
                << c.name << " node " << i;
            ++compared;
        }
        EXPECT_GT(compared, 4000) << c.name;
    }
}

TEST(Kriging, NodesOutsideTheHullAreBlank) {
    // A triangle of points: the grid's corners beyond its sloping side are blank.
    std::vector<DataPoint> points;
    for (int i = 0; i <= 30; ++i)
        for (int j = 0; j <= i; ++j) points.push_back({10 + i * 1e-4, 50 + j * 1e-4, double(i + j)});
    const Grid g = KrigeGrid(points, 31, 31);
    EXPECT_TRUE(Grid::Blank(g.at(0, 30)));      // north-west corner: outside
    EXPECT_FALSE(Grid::Blank(g.at(30, 30)));    // north-east corner: a data point
    EXPECT_FALSE(Grid::Blank(g.at(0, 0)));
    EXPECT_NEAR(g.at(30, 0), 30.0, 1e-6);       // on a data point kriging is exact
    EXPECT_NEAR(g.at(20, 10), 30.0, 1e-6);
    int blank = 0;
    for (double v : g.z) blank += Grid::Blank(v);
    EXPECT_EQ(blank, 31 * 30 / 2);  // the nodes strictly above the diagonal
}

TEST(Kriging, HullCornersBetweenTheExtremePointsCount) {
    // Readings round a circle and inside it: most of the hull's corners lie
    // beyond the polygon of the points furthest in the eight directions.
    constexpr double kLon = 10, kLat = 50, kRadius = 1e-3;
    constexpr int kRim = 48;
    std::vector<DataPoint> points, rim;
    for (int i = 0; i < kRim; ++i) {
        const double a = 2 * M_PI * (i + 0.25) / kRim;
        rim.push_back({kLon + kRadius * std::cos(a), kLat + kRadius * std::sin(a), std::sin(3 * a)});
    }
    points = rim;
    for (int i = -5; i <= 5; ++i)
        for (int j = -5; j <= 5; ++j)
            if (i * i + j * j < 25) points.push_back({kLon + i * 1.5e-4, kLat + j * 1.5e-4, 0.1 * i});
    const Grid g = KrigeGrid(points, 61, 61);
    int inside = 0, outside = 0;
    for (int r = 0; r < g.rows; ++r)
        for (int c = 0; c < g.cols; ++c) {
            const double lon = g.xLL + c * g.xSize, lat = g.yLL + r * g.ySize;
            // The node's least signed distance inside the rim's edges, in degrees.
            double depth = 1e300;
            for (int i = 0; i < kRim; ++i) {
                const DataPoint& a = rim[i];
                const DataPoint& b = rim[(i + 1) % kRim];
                const double cross = (b.lon - a.lon) * (lat - a.lat) - (b.lat - a.lat) * (lon - a.lon);
                depth = std::min(depth, cross / std::hypot(b.lon - a.lon, b.lat - a.lat));
            }
            if (std::fabs(depth) < 1e-9) continue;  // on an edge: either way
            EXPECT_EQ(Grid::Blank(g.at(c, r)), depth < 0) << "node " << c << ", " << r << " depth " << depth;
            ++(depth < 0 ? outside : inside);
        }
    EXPECT_GT(inside, 2500);
    EXPECT_GT(outside, 500);
}

void ExpectSamePoints(const std::vector<DataPoint>& got, const std::vector<DataPoint>& want, const char* name) {
    ASSERT_EQ(got.size(), want.size()) << name;
    for (std::size_t i = 0; i < got.size(); ++i) {
        EXPECT_EQ(got[i].lon, want[i].lon) << name << " point " << i;
        EXPECT_EQ(got[i].lat, want[i].lat) << name << " point " << i;
        EXPECT_EQ(got[i].z, want[i].z) << name << " point " << i;
    }
}

TEST(Kriging, DuplicatesMergeInTheOrderTheyFirstCome) {
    const double next = std::nextafter(1.0, 2.0);
    const struct {
        const char* name;
        std::vector<DataPoint> points, merged;
    } cases[] = {
        {"running means, first appearance first",
         {{1, 1, 1}, {2, 2, 5}, {1, 1, 3}, {3, 3, 7}, {2, 2, 6}, {1, 1, 8}},
         {{1, 1, 4}, {2, 2, 5.5}, {3, 3, 7}}},
        {"minus zero is zero", {{-0.0, 0, 1}, {0, -0.0, 3}}, {{-0.0, 0, 2}}},
        {"a last bit apart", {{1, 1, 1}, {next, 1, 2}, {1, next, 3}}, {{1, 1, 1}, {next, 1, 2}, {1, next, 3}}},
        {"only the position counts", {{1, 2, 1}, {2, 1, 2}}, {{1, 2, 1}, {2, 1, 2}}},
        {"none", {}, {}},
    };
    for (const auto& c : cases) ExpectSamePoints(MergeDuplicates(c.points), c.merged, c.name);

    // Many positions, each met two to four times in shuffled order, against
    // an ordered map of the positions.
    std::mt19937 random(7);
    std::vector<DataPoint> readings;
    for (int i = 0; i < 30000; ++i)
        for (int k = 0; k < 2 + i % 3; ++k)
            readings.push_back({37.6 + (i % 173) * 1e-7, 55.75 + (i / 173) * 1e-7, double(random() % 1000)});
    std::shuffle(readings.begin(), readings.end(), random);
    std::map<std::pair<double, double>, std::size_t> first;
    std::vector<DataPoint> expected;
    std::vector<int> counts;
    for (const DataPoint& d : readings) {
        const auto [at, fresh] = first.try_emplace({d.lon, d.lat}, expected.size());
        if (fresh) {
            expected.push_back({d.lon, d.lat, 0});
            counts.push_back(0);
        }
        DataPoint& e = expected[at->second];
        e.z += (d.z - e.z) / ++counts[at->second];
    }
    ASSERT_EQ(expected.size(), 30000u);
    ExpectSamePoints(MergeDuplicates(readings), expected, "shuffled");
}

TEST(Kriging, StandingCartDoesNotMakeTheSystemSingular) {
    std::vector<DataPoint> points = {{0, 0, 1}, {1e-4, 0, 2}, {0, 1e-4, 3}, {1e-4, 1e-4, 4}};
    points.push_back({0, 0, 3});  // the cart stood: a second reading on the same spot
    const auto merged = MergeDuplicates(points);
    ASSERT_EQ(merged.size(), 4u);
    EXPECT_EQ(merged[0].z, 2.0);
    const Grid g = KrigeGrid(points, 3, 3);
    for (double v : g.z) EXPECT_TRUE(std::isfinite(v));
    EXPECT_NEAR(g.at(0, 0), 2.0, 1e-9);
}

TEST(Kriging, LocalSearchFarFromDataIsBlank) {
    KrigingOptions local;
    local.globalLimit = 0;
    std::vector<DataPoint> few = {{0, 0, 1}, {1e-4, 0, 2}, {0, 1e-4, 3}, {1e-4, 1e-4, 4}, {5e-5, 5e-5, 9}};
    const Grid g = KrigeGrid(few, 5, 5, local);
    for (double v : g.z) EXPECT_TRUE(Grid::Blank(v));  // fewer than 8 points near any node
}

TEST(Kriging, CancelStopsPromptlyWithNoGrid) {
    // Enough points for the local search, and rows enough that a late stop would show.
    const auto points = Traverses(55.75, 37.6);
    constexpr int kRows = 400;
    const struct {
        const char* name;
        bool interrupt;  // cancelled by SIGINT rather than by setting the flag
    } cases[] = {{"flag", false}, {"SIGINT", true}};
    // Ignored outside the guard, so that a guard that failed cannot end the tests.
    const auto before = std::signal(SIGINT, SIG_IGN);
    for (const auto& c : cases) {
        std::atomic<bool> cancel{false};
        std::atomic<int> reports{0};
        auto run = [&] {
            const std::optional<CancelOnInterrupt> interrupt =
                c.interrupt ? std::optional<CancelOnInterrupt>(std::in_place, cancel) : std::nullopt;
            const auto cancelOnFirstRow = [&](int) {
                if (reports++ == 0) c.interrupt ? (void)std::raise(SIGINT) : cancel.store(true);
            };
            KrigeGrid(points, 400, kRows, {}, cancelOnFirstRow, &cancel);
        };
        EXPECT_THROW(run(), GridCancelled) << c.name;
        EXPECT_TRUE(cancel) << c.name;
        // Rows already begun may end; no other row is computed.
        EXPECT_LT(reports, 1 + 2 * omp_get_max_threads()) << c.name;
    }
    // The interrupt handler is gone with its guard: SIGINT is back to what it was.
    EXPECT_EQ(std::signal(SIGINT, before), SIG_IGN);
}

class GridFileTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { qgrad::testing::EnsureApplication<QGuiApplication>(); }
};

TEST_F(GridFileTest, GdalReadsSizeExtentStatisticsAndBlanks) {
    Grid g;
    g.cols = 4;
    g.rows = 3;
    g.xLL = 37.5;
    g.yLL = 55.75;
    g.xSize = 0.001;
    g.ySize = 0.0005;
    g.z = {1, 2, 3, 4, 5, 6, 7, 8, std::nan(""), 10, 11, 12};
    QTemporaryDir dir;
    const QString path = dir.filePath("g.grd");
    WriteGridFile(path, g);
    const std::string bytes = GridFileBytes(g);
    ASSERT_EQ(bytes.size(), 12 + 8 + 72 + 8 + 12 * 8u);
    EXPECT_EQ(bytes.substr(0, 4), "DSRB");
    EXPECT_EQ(bytes.substr(12, 4), "GRID");
    EXPECT_EQ(bytes.substr(92, 4), "DATA");

    const QString gdalinfo = QStandardPaths::findExecutable("gdalinfo");
    ASSERT_FALSE(gdalinfo.isEmpty()) << "the test command installs gdal-bin";
    QProcess info;
    info.start(gdalinfo, {"-stats", path});
    ASSERT_TRUE(info.waitForFinished(60000));
    const QString text = info.readAllStandardOutput();
    EXPECT_TRUE(text.contains("Driver: GS7BG")) << text.toStdString();
    EXPECT_TRUE(text.contains("Size is 4, 3")) << text.toStdString();
    // Node-registered: GDAL's pixel corners lie half a spacing outside the nodes.
    EXPECT_TRUE(text.contains("Lower Left  (  37.4995000,  55.7497500)")) << text.toStdString();
    EXPECT_TRUE(text.contains("Minimum=1.000, Maximum=12.000")) << text.toStdString();
    EXPECT_TRUE(text.contains("NoData Value=1.70141")) << text.toStdString();

    // Row 0 of GDAL's picture is the north row; the south-west node is (0, 2).
    QProcess at;
    at.start(QStandardPaths::findExecutable("gdallocationinfo"), {"-valonly", path, "0", "2"});
    ASSERT_TRUE(at.waitForFinished(60000));
    EXPECT_EQ(QString(at.readAllStandardOutput()).trimmed(), "1");
    at.start(QStandardPaths::findExecutable("gdallocationinfo"), {"-valonly", path, "0", "0"});
    ASSERT_TRUE(at.waitForFinished(60000));
    EXPECT_TRUE(QString(at.readAllStandardOutput()).trimmed().startsWith("1.70141"));
}

TEST_F(GridFileTest, AllBlankGridKeepsTheBlankAsItsRange) {
    Grid g;
    g.cols = g.rows = 2;
    g.xSize = g.ySize = 1;
    g.z.assign(4, std::nan(""));
    const std::string bytes = GridFileBytes(g);
    double zMin = 0, zMax = 0;
    std::memcpy(&zMin, bytes.data() + 20 + 8 + 32, 8);
    std::memcpy(&zMax, bytes.data() + 20 + 8 + 40, 8);
    EXPECT_EQ(zMin, kGridBlank);
    EXPECT_EQ(zMax, kGridBlank);
}

TEST(BlankMap, OnlyAGridWithoutACellOfFourGriddedCornersIsBlank) {
    // Three by three nodes, south row first; 'x' gridded, '.' blank.
    const struct {
        const char* name;
        const char* nodes;
        bool blank;
    } cases[] = {
        {"all gridded", "xxx"
                        "xxx"
                        "xxx", false},
        {"one cell in the north-east corner", "..."
                                              ".xx"
                                              ".xx", false},
        {"a diagonal strip", "xx."
                             ".xx"
                             "..x", true},
        {"every other node", "x.x"
                             ".x."
                             "x.x", true},
        {"one row", "xxx"
                    "..."
                    "xxx", true},
        {"nothing gridded", ".........", true},
    };
    for (const auto& c : cases) {
        Grid g;
        g.cols = g.rows = 3;
        g.xSize = g.ySize = 1e-5;
        for (int i = 0; i < 9; ++i) g.z.push_back(c.nodes[i] == 'x' ? i : std::nan(""));
        const QString note = BlankMapNote(g);
        EXPECT_EQ(!note.isEmpty(), c.blank) << c.name;
        if (c.blank) {
            EXPECT_TRUE(note.contains("no cell of the 3 by 3 grid")) << note.toStdString();
        }
    }
}

TEST_F(GridFileTest, PictureBandsAndBlanks) {
    const auto points = Traverses(55.75, 37.6);
    const Grid g = KrigeGrid(points, 121, 97);
    const QImage picture = DrawContourMap(g, points, Presentation::FirstPictures());
    ASSERT_FALSE(picture.isNull());
    // The dipole's peak takes the top band's colour, and the scale runs violet to red.
    const QColor low = TurboColour(0.1), high = TurboColour(0.95);
    EXPECT_GT(low.blue(), low.red());
    EXPECT_GT(low.blue(), low.green());
    EXPECT_GT(high.red(), 3 * high.blue());
    const BandLevels levels = ChooseLevels(g);
    EXPECT_LT(levels.low, levels.high);
    EXPECT_EQ(levels.BandOf(1e9), levels.bands - 1);
    EXPECT_EQ(levels.BandOf(-1e9), 0);
    int top = 0;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width() - 200; ++x)
            top += picture.pixel(x, y) == TurboColour((levels.bands - 0.5) / levels.bands).rgb();
    EXPECT_GT(top, 50);
}

}  // namespace
