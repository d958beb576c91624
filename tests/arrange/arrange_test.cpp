#include "arrange/arrange.h"
#include "arrange/geodistance.h"
#include "common/errors.h"
#include "common/numtext.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <stdexcept>
#include <random>
#include <string>
#include <utility>
#include <vector>

using namespace qgrad;

namespace {

using Row = std::vector<std::string>;

TEST(GeoDistanceTest, KnownDistances) {
    EXPECT_EQ(GeoDistance(55.75, 37.5, 55.75, 37.5), 0.0);
    EXPECT_EQ(GeoDistance(-33.9, -70.1, -33.9, -70.1), 0.0);
    EXPECT_NEAR(GeoDistance(0, 10, 1, 10), 111319.49, 0.01);
    EXPECT_NEAR(GeoDistance(60, 10, 61, 10), 111319.49, 0.01);  // same meridian: R * dphi anywhere
    EXPECT_NEAR(GeoDistance(60, 10, 60, 11) / GeoDistance(0, 10, 0, 11), 0.5, 1e-4);
    EXPECT_DOUBLE_EQ(GeoDistance(55.1, 37.2, 55.3, 37.9), GeoDistance(55.3, 37.9, 55.1, 37.2));
    EXPECT_DOUBLE_EQ(GeoDistance(55.1, 37.2, 55.3, 37.9), GeoDistance(-55.1, -37.2, -55.3, -37.9));
    EXPECT_NEAR(GeoDistance(0, 0, 0, 180), 6378137.0 * M_PI, 1e-6);
}

class ArrangeTest : public ::testing::Test {
protected:
    // A table with the standard headings and the given data rows
    // (time, latitude, longitude, distance, then field and gradient pairs).
    void Load(const std::vector<Row>& data, const std::string& lat = "Latitude,N",
              const std::string& lon = "Longitude,E") {
        table_.clear();
        const std::string_view free[] = {"free"};
        table_.appendRow(free, 1);
        const std::string_view offsets[] = {"offsets"};
        table_.appendRow(offsets, 1);
        std::vector<std::string> headings = {"Time", lat, lon, "Dist"};
        for (int k = 0; k < kChannels; ++k) {
            headings.push_back("F" + std::to_string(k) + ",nT");
            headings.push_back("G" + std::to_string(k) + ",nT/m");
        }
        Append(headings);
        for (const auto& r : data) Append(r);
    }
    void Append(const std::vector<std::string>& cells) {
        std::vector<std::string_view> views(cells.begin(), cells.end());
        table_.appendRow(views.data(), views.size());
    }
    bool Arrange(bool level = true, PointStorage storage = PointStorage::Editable) {
        return ArrangeToGps(table_, geometry_, level, points_, ArrangePath::AsTheTableAllows, storage);
    }
    std::string Cell(int c, std::size_t r) const { return std::string(table_.cell(c, r)); }
    std::string Point(PointTable t, int c, std::size_t row) const { return points_.CellText(t, c, row); }
    std::vector<std::string> Column(int c) const {
        std::vector<std::string> v;
        for (std::size_t r = 3; r < table_.rowCount(); ++r) v.push_back(Cell(c, r));
        return v;
    }
    // Every data cell, column after column.
    std::vector<std::string> DataCells() const {
        std::vector<std::string> cells;
        for (int c = 0; c < SurveyTable::kColumns; ++c)
            for (std::string& cell : Column(c)) cells.push_back(std::move(cell));
        return cells;
    }

    SurveyTable table_;
    SurveyGeometry geometry_;
    ArrangedPoints points_;
};

TEST_F(ArrangeTest, TimeStampsAreSpreadOverTheirRuns) {
    const struct {
        const char* name;
        std::vector<std::string> in;
        std::vector<std::string> out;
    } cases[] = {
        {"minute rolls over",
         {"101559", "101559", "101559", "101559", "101559", "101600", "101601"},
         {"101559", "101559.200", "101559.400", "101559.600", "101559.800", "101600", "101601"}},
        {"pattern pads, final run does not",
         {"93014", "93014", "93015", "93015", "93015"},
         {"93014", "093014.500", "93015", "93015.500", "93016.000"}},
        {"lost second across a minute",
         {"101559", "101559", "101601"},
         {"101559", "101530.000", "101601"}},
        {"final run of two stays", {"5", "6", "6"}, {"5", "6", "6"}},
        {"inserted time is one run", {"0.00", "0.00", "0.00"}, {"0.00", "0.000", "0.000"}},
        {"fraction of a second", {"120000.5", "120000.5", "120001"}, {"120000.5", "120000.750", "120001"}},
        {"thirteen digits keep three decimals",
         {"1000000000000", "1000000000000", "1000000000000", "1000000000001"},
         {"1000000000000", "1000000000000.333", "1000000000000.667", "1000000000001"}},
    };
    for (const auto& c : cases) {
        std::vector<Row> rows;
        for (const auto& t : c.in) rows.push_back({t, "55.5", "37.5", "", "1", "2"});
        Load(rows);
        ASSERT_TRUE(Arrange()) << c.name;
        EXPECT_EQ(Column(0), c.out) << c.name;
    }
}

TEST_F(ArrangeTest, FixesAreSpreadAndTheFinalRunExtended) {
    Load({{"1", "55.1", "37.5"}, {"2", "55.1", "37.5"}, {"3", "55.1", "37.5"}, {"4", "55.4", "37.6"},
          {"5", "55.4", "37.6"}, {"6", "55.5", "37.6"}, {"7", "55.5", "37.6"}, {"8", "55.5", "37.6"}});
    ASSERT_TRUE(Arrange());
    EXPECT_EQ(Column(1), (std::vector<std::string>{"55.10000000", "55.20000000", "55.30000000", "55.40000000",
                                                   "55.45000000", "55.50000000", "55.55000000", "55.60000000"}));
    EXPECT_EQ(Column(2), (std::vector<std::string>{"37.50000000", "37.53333333", "37.56666667", "37.60000000",
                                                   "37.63333333", "37.66666667", "37.70000000", "37.73333333"}));
}

TEST_F(ArrangeTest, OneSampleRow) {
    geometry_.offsetX[0] = 1.0;
    geometry_.offsetY[0] = 0.5;
    Load({{"1", "55.5", "37.5", "d", "48000", "7"}});
    ASSERT_TRUE(Arrange());
    EXPECT_EQ(Cell(3, 3), "0");
    ASSERT_EQ(points_.rowCount(), 2u);
    // Due east (theta 0): a sensor to the right lies south, one behind lies west.
    EXPECT_EQ(Point(PointTable::Gradient, 0, 1), "37.49999248");
    EXPECT_EQ(Point(PointTable::Gradient, 1, 1), "55.49998588");
    EXPECT_EQ(Point(PointTable::Gradient, 2, 1), "0.0");
    EXPECT_EQ(Point(PointTable::Absolute, 2, 1), "0.0");
}

TEST_F(ArrangeTest, SensorsTurnWithTheCourse) {
    geometry_.offsetX[0] = 1.0;
    geometry_.offsetY[0] = 0.0;
    // Heading north: a sensor to the right lies east of the antenna.
    Load({{"1", "55.0", "37.5", "", "1", "1"}, {"2", "55.001", "37.5", "", "1", "1"},
          {"3", "55.002", "37.5", "", "1", "1"}});
    ASSERT_TRUE(Arrange());
    ASSERT_EQ(points_.size(), 3u);
    EXPECT_GT(points_.lon(0), 37.5);
    EXPECT_NEAR(points_.lat(0), 55.001, 1e-12);  // placed from the next row's fix
    EXPECT_NEAR(points_.lat(2), 55.002, 1e-12);  // the last row from its own fix
    // Heading south with the hemisphere signs: coordinates negative, the
    // sensor still to the right of the course, now west in the table's terms.
    Load({{"1", "55.002", "37.5", "", "1", "1"}, {"2", "55.0", "37.5", "", "1", "1"}}, "Latitude,S", "Longitude,W");
    geometry_.latitudeSign = -1;
    geometry_.longitudeSign = -1;
    ASSERT_TRUE(Arrange());
    EXPECT_EQ(Point(PointTable::Absolute, 0, 0), "Longitude,W");
    EXPECT_EQ(Point(PointTable::Gradient, 1, 0), "Latitude,S");
    EXPECT_EQ(Point(PointTable::Gradient, 2, 0), "grad(H),nT/m");
    EXPECT_EQ(Point(PointTable::Absolute, 2, 0), "H,nT");
    EXPECT_LT(points_.lon(0), 0);
    EXPECT_LT(points_.lat(0), 0);
    EXPECT_EQ(Point(PointTable::Gradient, 1, 1), "-55.00000000");
}

TEST_F(ArrangeTest, DistanceHasAFloorAndAnExponentForm) {
    Load({{"1", "0.5", "10"}, {"2", "1.5", "10"}, {"3", "1.6", "10"}, {"4", "1.6", "10"}, {"5", "1.7", "10"},
          {"6", "1.7", "10"}});
    ASSERT_TRUE(Arrange());
    // 1 degree = 111319.49 m: five significant digits, then the exponent form;
    // the spread latitudes are 0.5, 1.5, 1.6, 1.65, 1.7, 1.7.
    EXPECT_EQ(Column(3),
              (std::vector<std::string>{"0", "1.1132E05", "1.2245E05", "1.2802E05", "1.3358E05", "1.3358E05"}));
    Load({{"1", "55.5", "37.5"}, {"2", "55.5", "37.5"}});
    ASSERT_TRUE(Arrange());
    EXPECT_EQ(Column(3), (std::vector<std::string>{"0", "0.01"}));
}

TEST_F(ArrangeTest, LevelsAreRoundedMeansHalvesToEven) {
    Load({{"1", "55.5", "37.5", "", "2", "2", "3", "3", "10", "1"},
          {"2", "55.5", "37.5", "", "3", "3", "4", "4.04", "", "5"},
          {"3", "55.5", "37.5", "", "2.5", "2.5", "3.5", "3.5", "20", "2"}});
    ASSERT_TRUE(Arrange());
    // Channel 0 mean 2.5 -> level 2; channel 1 mean 3.5133 -> 4; channel 2 is
    // present in rows 1 and 3 only: mean of those, 15 and 1.5 -> 2.
    const std::vector<std::string> grad = {"0.0", "-1.0", "-1.0", "1.0", "0.0", "0.0", "0.5", "-0.5", "0.0"};
    const std::vector<std::string> field = {"0.0", "-1.0", "-5.0", "1.0", "0.0", "0.5", "-0.5", "5.0"};
    ASSERT_EQ(points_.size(), 8u);
    for (std::size_t i = 0; i < 8; ++i) EXPECT_EQ(Point(PointTable::Absolute, 2, i + 1), field[i]) << i;
    EXPECT_EQ(Cell(5, 3), "0.0");
    EXPECT_EQ(Cell(7, 4), "0.0");  // 4.04 - 4, rewritten with one decimal
    EXPECT_EQ(Cell(9, 4), "5");    // no field reading: not a point, not rewritten
    EXPECT_EQ(Cell(9, 5), "0.0");
}

TEST_F(ArrangeTest, WithoutLevellingValuesPassRounded) {
    Load({{"1", "55.5", "37.5", "", "48000.26", "-3.25"}});
    ASSERT_TRUE(Arrange(false));
    EXPECT_EQ(Point(PointTable::Absolute, 2, 1), "48000.3");
    EXPECT_EQ(Point(PointTable::Gradient, 2, 1), "-3.3");  // the tie goes away from zero
    EXPECT_EQ(Cell(5, 3), "-3.3");
}

TEST_F(ArrangeTest, AllChannelsComeInChannelOrder) {
    Row row = {"1", "55.5", "37.5", ""};
    for (int k = 0; k < kChannels; ++k) {
        geometry_.offsetX[k] = -1.1 + 0.2 * k;
        geometry_.offsetY[k] = 0.3;
        row.push_back(std::to_string(48000 + k));
        row.push_back(std::to_string(k));
    }
    Load({row, row});
    ASSERT_TRUE(Arrange(false));
    ASSERT_EQ(points_.size(), 24u);
    for (int k = 0; k < kChannels; ++k) {
        EXPECT_EQ(Point(PointTable::Gradient, 2, 1 + k), std::to_string(k) + ".0");
        EXPECT_EQ(Point(PointTable::Absolute, 2, 1 + k), std::to_string(48000 + k) + ".0");
        // Heading east: the sensors step from north to south.
        if (k > 0) {
            EXPECT_LT(points_.lat(k), points_.lat(k - 1));
        }
        EXPECT_EQ(Point(PointTable::Absolute, 0, 1 + k), Point(PointTable::Gradient, 0, 1 + k));
    }
}

TEST_F(ArrangeTest, AFaultStopsSilentlyKeepingWhatWasDone) {
    Load({{"1", "55.5", "37.5", "", "1", "1"}, {"2", "55.6", "37.5", "", "2", "2"},
          {"3", "55.7", "37.5", "", "3", "x"}, {"4", "55.8", "37.5", "", "4", "4"}});
    EXPECT_FALSE(Arrange(false));
    EXPECT_EQ(points_.size(), 2u);       // the rows before the bad cell
    EXPECT_EQ(Cell(5, 4), "2.0");        // rewritten before the fault
    EXPECT_EQ(Cell(5, 5), "x");
    EXPECT_EQ(Cell(3, 6), "33396.00");   // distances were written up to the next row
    EXPECT_EQ(Cell(1, 3), "55.5");       // rows of their own are not spread
}

TEST_F(ArrangeTest, AFaultFarDownKeepsEveryEarlierRow) {
    // Long enough for the work to go in several blocks.
    std::vector<Row> rows;
    for (int i = 0; i < 10000; ++i)
        rows.push_back({std::to_string(i), FormatFixed(55.0 + i * 1e-6, 6, 12), "37.5", "", "1", i == 9000 ? "x" : "2.25"});
    Load(rows);
    EXPECT_FALSE(Arrange(false));
    EXPECT_EQ(points_.size(), 9000u);
    EXPECT_EQ(Cell(5, 3 + 8999), "2.3");
    EXPECT_EQ(Cell(5, 3 + 9000), "x");
    EXPECT_EQ(Cell(5, 3 + 9001), "2.25");
    EXPECT_EQ(Cell(3, 3 + 9001), "1002.00");  // the faulty row's step was taken before its readings
    EXPECT_EQ(Cell(3, 3 + 9002), "");
}

TEST_F(ArrangeTest, FaultsBeforeThePoints) {
    const struct {
        const char* name;
        std::vector<Row> rows;
        // Time, latitude and longitude as the failure leaves them: the steps
        // before the failing one done, the failing one as far as it got, the
        // later ones not begun.
        std::vector<std::string> times;
        std::vector<std::string> latitudes;
        std::vector<std::string> longitudes;
    } cases[] = {
        {"a fix that is no number", {{"1", "55.5", "37.5"}, {"2", "bad", "37.5"}},
         {"1", "2"}, {"55.5", "bad"}, {"37.5", "37.5"}},
        {"a time that is no number", {{"t", "55.5", "37.5"}}, {"t"}, {"55.5"}, {"37.5"}},
        {"a first time that is no number", {{"x", "55.1", "37.5"}, {"2", "55.1", "37.5"}, {"3", "55.4", "37.6"}},
         {"x", "2", "3"}, {"55.1", "55.1", "55.4"}, {"37.5", "37.5", "37.6"}},
        {"a latitude that is no number after a run",
         {{"1", "55.1", "37.5"}, {"1", "55.1", "37.5"}, {"2", "55.2", "37.6"}, {"3", "x", "37.6"}},
         {"1", "000001.500", "2", "3"}, {"55.10000000", "55.15000000", "55.2", "x"}, {"37.5", "37.5", "37.6", "37.6"}},
        {"a longitude that is no number",
         {{"1", "55.1", "37.5"}, {"2", "55.1", "37.5"}, {"3", "55.2", "y"}},
         {"1", "2", "3"}, {"55.10000000", "55.15000000", "55.2"}, {"37.5", "37.5", "y"}},
        {"acos of a latitude past 114.6", {{"1", "200", "37.5", "", "1", "1"}}, {"1"}, {"200"}, {"37.5"}},
    };
    for (const auto& c : cases) {
        Load(c.rows);
        EXPECT_FALSE(Arrange()) << c.name;
        EXPECT_EQ(points_.size(), 0u) << c.name;
        EXPECT_EQ(Column(0), c.times) << c.name;
        EXPECT_EQ(Column(1), c.latitudes) << c.name;
        EXPECT_EQ(Column(2), c.longitudes) << c.name;
    }
    geometry_.offsetX[0] = 2147483647 / 100.0;  // asin out of range for a channel in use
    Load({{"1", "55.5", "37.5", "", "1", "1"}});
    EXPECT_FALSE(Arrange());
}

TEST_F(ArrangeTest, RowSecondsRiseThroughMinutesAndMidnight) {
    std::vector<Row> rows;
    for (const char* t : {"101559", "101559.500", "101600.250", "235959.5", "000000.5", "93015.500", "0.00"})
        rows.push_back({t, "55.0", "37.0"});
    Load(rows);
    const std::vector<double> seconds = ReadRowFixes(table_).seconds;
    const std::vector<double> expected = {36959, 36959.5, 36960.25, 86399.5, 86400.5, 86400 + 34215.5, 86400};
    ASSERT_EQ(seconds.size(), expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) EXPECT_NEAR(seconds[i], expected[i], 1e-9) << i;
    Load({{"1015x", "55.0", "37.0"}});
    EXPECT_THROW(ReadRowFixes(table_), SurveyFormatError);
    Load({{"101500", "55.0", "x"}});
    EXPECT_THROW(ReadRowFixes(table_), SurveyFormatError);
}

TEST_F(ArrangeTest, ALagMovesEachReadingAlongTheTrack) {
    // Eastward, one fix a second, 0.0001 degrees apart; one sensor to the right.
    geometry_.offsetX[0] = 1.0;
    const std::vector<Row> rows = {{"100000", "55.0", "37.0000", "", "1", "1"},
                                   {"100001", "55.0", "37.0001", "", "1", "1"},
                                   {"100002", "55.0", "37.0002", "", "1", "1"},
                                   {"100003", "55.0", "37.0003", "", "1", "1"},
                                   {"100004", "55.0", "37.0004", "", "1", "1"}};
    Load(rows);
    ASSERT_TRUE(Arrange());
    const ArrangedPoints arranged = points_;
    // Offset of the sensor from the fix it is placed from (the next row's).
    const double dLon = arranged.lon(0) - 37.0001;
    const double dLat = arranged.lat(0) - 55.0;
    const struct {
        const char* name;
        double lag;
        std::vector<double> lon;  // of the placing fix, per row
    } cases[] = {
        {"half a second", 0.5, {37.00005, 37.00015, 37.00025, 37.00035, 37.0004}},
        {"a second back", -1, {37.0000, 37.0000, 37.0001, 37.0002, 37.0003}},
        {"beyond the run", 10, {37.0004, 37.0004, 37.0004, 37.0004, 37.0004}},
        {"between fixes", 2.25, {37.000225, 37.000325, 37.0004, 37.0004, 37.0004}},
    };
    for (const auto& c : cases) {
        points_ = arranged;
        ASSERT_TRUE(PlaceAgain(table_, geometry_, ReadRowFixes(table_), c.lag, OffsetConversion::OneCourse, points_)) << c.name;
        for (std::size_t i = 0; i < c.lon.size(); ++i) {
            EXPECT_NEAR(points_.lon(i), c.lon[i] + dLon, 1e-9) << c.name << " row " << i;
            EXPECT_NEAR(points_.lat(i), 55.0 + dLat, 1e-9) << c.name << " row " << i;
            EXPECT_EQ(points_.value(PointTable::Gradient, i), arranged.value(PointTable::Gradient, i)) << c.name;
        }
    }
    // A whole second back places row i exactly where the arrangement placed row i - 2.
    points_ = arranged;
    ASSERT_TRUE(PlaceAgain(table_, geometry_, ReadRowFixes(table_), -1, OffsetConversion::OneCourse, points_));
    EXPECT_EQ(points_.CellText(PointTable::Gradient, 0, 4), arranged.CellText(PointTable::Gradient, 0, 2));
    EXPECT_EQ(points_.CellText(PointTable::Gradient, 1, 4), arranged.CellText(PointTable::Gradient, 1, 2));
    // No lag: the arrangement's placement, untouched.
    points_ = arranged;
    ASSERT_TRUE(PlaceAgain(table_, geometry_, ReadRowFixes(table_), 0, OffsetConversion::OneCourse, points_));
    for (std::size_t i = 0; i < arranged.size(); ++i) EXPECT_EQ(points_.lon(i), arranged.lon(i));
}

TEST_F(ArrangeTest, ALagNeedsTimesThatAdvance) {
    Load({{"0.00", "55.0", "37.0", "", "1", "1"}, {"0.00", "55.0", "37.1", "", "1", "1"},
          {"0.00", "55.0", "37.2", "", "1", "1"}});
    ASSERT_TRUE(Arrange());
    const ArrangedPoints arranged = points_;
    EXPECT_FALSE(PlaceAgain(table_, geometry_, ReadRowFixes(table_), 0.5, OffsetConversion::OneCourse, points_));
    for (std::size_t i = 0; i < arranged.size(); ++i) EXPECT_EQ(points_.lon(i), arranged.lon(i));
}

}  // namespace

namespace {

// The number a point value's text reads back as, through the text.
double ThroughText(double v) {
    char text[kNumberTextCapacity];
    double back = 0;
    EXPECT_TRUE(TryParseNumber(std::string_view(text, WritePointValue(text, v) - text), back));
    return back;
}

}  // namespace

TEST(PointValueAsWrittenTest, ReadsAsTheTextWould) {
    std::vector<double> values = {0,      -0.0,    0.04,     -0.04,     0.05,     -0.05,    0.25,      -0.25,
                                  1.15,   2.675,   0.35,     1e-300,    -1e-300,  999999.95, -999999.95, 999999.94,
                                  1e6,    -1e6,    1234567.8, 9999999.96, 1e15,   -3.7e12,  0.1 + 0.2, 49480.13};
    std::mt19937_64 random(3);
    for (int i = 0; i < 200000; ++i) {
        const double scale = std::pow(10.0, std::uniform_int_distribution<int>(-3, 8)(random));
        values.push_back(std::uniform_real_distribution<double>(-1, 1)(random) * scale);
        // Ties at the second decimal.
        values.push_back(static_cast<double>(std::uniform_int_distribution<int>(-100000, 100000)(random)) / 4 + 0.25);
    }
    for (const double v : values) {
        const double fast = PointValueAsWritten(v);
        const double text = ThroughText(v);
        ASSERT_EQ(fast, text) << v;
        ASSERT_EQ(std::signbit(fast), std::signbit(text)) << v;
    }
}

// The arrangement lays a point for each row and channel with both readings,
// rows first; RowPoints finds each one's place.
TEST_F(ArrangeTest, RowPointsFindEachPointOfTheArrangement) {
    Load({{"1", "55.5", "37.5", "", "1", "0.5", "", "7", "3", "0.25"},
          {"2", "55.6", "37.5", "", "", "", "4", "8", "5", "-1.5"},
          {"3", "55.7", "37.5", "", "2", "2.5", "6", "", "", ""}});
    ASSERT_TRUE(Arrange(false));
    const RowPoints rows(table_);
    ASSERT_EQ(rows.total(), points_.size());
    for (std::size_t i = 0; i < 3; ++i)
        for (int k = 0; k < 3; ++k) {
            const bool both = !Cell(FieldColumn(k), 3 + i).empty() && !Cell(GradientColumn(k), 3 + i).empty();
            ASSERT_EQ(rows.Has(i, k), both) << i << " " << k;
            if (both) {
                EXPECT_EQ(Point(PointTable::Gradient, 2, 1 + rows.PointOf(i, k)), Cell(GradientColumn(k), 3 + i))
                    << i << " " << k;
            }
        }
}

namespace {

std::uint64_t Bits(double v) { return std::bit_cast<std::uint64_t>(v); }

// Every number of every point, bit for bit: a -0 is not a 0.
std::vector<std::uint64_t> PointBits(const ArrangedPoints& points) {
    std::vector<std::uint64_t> bits;
    for (std::size_t p = 0; p < points.size(); ++p)
        for (const double v : {points.lon(p), points.lat(p), points.value(PointTable::Absolute, p),
                               points.value(PointTable::Gradient, p)})
            bits.push_back(Bits(v));
    return bits;
}

TEST(PlacedReadingsTest, HundredthsReadBackBitForBit) {
    const struct {
        const char* name;
        double reading;
        bool whole;
    } cases[] = {
        {"a field reading", 49480.13, true},
        {"a gradient", -0.17, true},
        {"tenths", 0.5, true},
        {"a whole number", 48000, true},
        {"zero", 0.0, true},
        {"negative zero", -0.0, true},
        {"the largest", 21474836.46, true},
        {"thousandths", 0.125, false},
        {"a third", 1.0 / 3, false},
        {"beyond the range", 21474836.48, false},
        {"far beyond it", -1e300, false},
        {"not a number", std::numeric_limits<double>::quiet_NaN(), false},
        {"infinite", std::numeric_limits<double>::infinity(), false},
    };
    for (const auto& c : cases) {
        const std::optional<std::int32_t> hundredths = PlacedReadings::Hundredths(c.reading);
        ASSERT_EQ(hundredths.has_value(), c.whole) << c.name;
        if (hundredths) EXPECT_EQ(Bits(PlacedReadings::Reading(*hundredths)), Bits(c.reading)) << c.name;
    }
}

}  // namespace

// Points kept as placed read the same bits as four numbers a point, and the
// table the same texts; the arrangement keeps them so only where it can.
TEST_F(ArrangeTest, PointsKeptAsPlacedReadTheSameBits) {
    for (int k = 0; k < kChannels; ++k) {
        geometry_.offsetX[k] = -1.1 + 0.2 * k;
        geometry_.offsetY[k] = 0.15 * (k % 3);
    }
    auto survey = [](const std::string& gradient) {
        std::vector<Row> rows;
        for (int i = 0; i < 300; ++i) {
            Row row = {std::to_string(101500 + i / 10), FormatFixed(55.5 + (i / 4) * 1e-5, 8, 12),
                       FormatFixed(37.5 + (i / 4) * 2e-5, 8, 12), ""};
            for (int k = 0; k < kChannels; ++k) {
                // Channel 3 drops out every seventh row.
                const bool dropped = k == 3 && i % 7 == 0;
                row.push_back(dropped ? "" : FormatFixed(49480 + k + (i * 37 % 1000) / 100.0, 2, 12));
                row.push_back(dropped ? "" : i == 150 && k == 5 ? gradient : FormatFixed(((i * 53 + k) % 400 - 200) / 100.0, 2, 12));
            }
            rows.push_back(row);
        }
        return rows;
    };
    const struct {
        const char* name;
        std::vector<Row> rows;
        bool level;
        const char* lat;
        const char* lon;
        bool kept;
    } cases[] = {
        {"hundredths, levelled", survey("-0.00"), true, "Latitude,N", "Longitude,E", true},
        {"hundredths and a -0, not levelled", survey("-0.00"), false, "Latitude,N", "Longitude,E", true},
        {"south and west", survey("0.07"), true, "Latitude,S", "Longitude,W", true},
        {"a reading in thousandths", survey("0.125"), true, "Latitude,N", "Longitude,E", false},
        {"a reading beyond the hundredths", survey("30000000"), false, "Latitude,N", "Longitude,E", false},
        {"a reading that is no number", survey("x"), true, "Latitude,N", "Longitude,E", false},
    };
    for (const auto& c : cases) {
        geometry_.latitudeSign = std::string(c.lat) == "Latitude,S" ? -1 : 1;
        geometry_.longitudeSign = std::string(c.lon) == "Longitude,W" ? -1 : 1;
        Load(c.rows, c.lat, c.lon);
        const bool editableDone = Arrange(c.level, PointStorage::Editable);
        EXPECT_FALSE(points_.keptAsPlaced()) << c.name;
        const std::vector<std::uint64_t> editable = PointBits(points_);
        const std::vector<std::string> editableCells = DataCells();

        Load(c.rows, c.lat, c.lon);
        EXPECT_EQ(Arrange(c.level, PointStorage::AsPlaced), editableDone) << c.name;
        EXPECT_EQ(points_.keptAsPlaced(), c.kept) << c.name;
        EXPECT_EQ(PointBits(points_), editable) << c.name;
        EXPECT_EQ(DataCells(), editableCells) << c.name;
    }
}

// Points kept as placed change only once made editable, into the same
// numbers; a copy made before keeps them as placed.
TEST_F(ArrangeTest, PointsKeptAsPlacedAreMadeEditableToChange) {
    geometry_.offsetX[1] = 0.5;
    Load({{"1", "55.5", "37.5", "", "48000.25", "-0.00", "48001.5", "2.25"},
          {"2", "55.6", "37.6", "", "48000.75", "1.5", "48002", "-3.5"}});
    ASSERT_TRUE(Arrange(false, PointStorage::AsPlaced));
    ASSERT_TRUE(points_.keptAsPlaced());
    const std::vector<std::uint64_t> placed = PointBits(points_);
    EXPECT_THROW(points_.setValue(PointTable::Gradient, 0, 1.0), std::logic_error);
    EXPECT_THROW(points_.setPosition(0, 1.0, 2.0), std::logic_error);
    EXPECT_THROW(points_.append(1, 2, 3, 4), std::logic_error);

    const ArrangedPoints copy = points_;
    points_.MakeEditable();
    EXPECT_FALSE(points_.keptAsPlaced());
    EXPECT_EQ(PointBits(points_), placed);
    points_.setValue(PointTable::Gradient, 0, 1.0);
    EXPECT_EQ(points_.value(PointTable::Gradient, 0), 1.0);
    EXPECT_TRUE(copy.keptAsPlaced());
    EXPECT_EQ(PointBits(copy), placed);
}
