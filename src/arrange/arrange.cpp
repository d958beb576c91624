#include "arrange/arrange.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <exception>
#include <future>
#include <memory>
#include <cmath>
#include <numbers>
#include <optional>
#include <stdexcept>
#include <vector>

#include "arrange/geodistance.h"
#include "common/geodesy.h"
#include "common/numtext.h"
#include "common/sidebyside.h"
#include "common/timeseries.h"
#include "survey/opening.h"
#include "survey/reader.h"

namespace qgrad {
namespace {

constexpr double kPi = std::numbers::pi;
// The radius of the offset conversion; GeoDistance has its own.
constexpr double kOffsetRadius = 6372795.0;

// Ends the arrangement; caught by its guard.
struct ArrangeFault {};

double Finite(double v) {
    if (!std::isfinite(v)) throw ArrangeFault{};
    return v;
}

double Value(std::string_view text) {
    double v = 0;
    if (!TryParseNumber(text, v)) throw ArrangeFault{};
    return v;
}

double Value(const SurveyTable& t, int column, std::size_t row) { return Value(t.cell(column, row)); }

double RoundLevel(double v) {
    try {
        return static_cast<double>(RoundHalfEven(v));
    } catch (const std::range_error&) {
        throw ArrangeFault{};
    }
}

// Seconds field of a time HHMMSS, with the fraction of the second.
double SecondsField(double t) {
    try {
        return t - 100.0 * static_cast<double>(RoundHalfEven(t) / 100);
    } catch (const std::range_error&) {
        throw ArrangeFault{};
    }
}

std::string_view Text(char* buf, char* end) { return std::string_view(buf, end - buf); }

// Time stamps: each run of identical texts is spread linearly up to the next
// stamp; its first row keeps its text.
void SpreadTimes(ColumnRewriter& out) {
    const TextColumn& col = out.old();
    const std::size_t rows = col.size();
    char buf[kTimePatternCapacity];
    std::size_t r0 = kFirstDataRow;
    double t0 = Value(col[r0]);
    double dt = 0;
    std::size_t n = 0;
    while (r0 + n < rows - 1) {
        ++n;
        if (col[r0 + n] == col[r0]) continue;
        if (n == 1) {
            ++r0;
            t0 = Value(col[r0]);
            n = 0;
            continue;
        }
        const double t1 = Value(col[r0 + n]);
        const double s1 = SecondsField(t1);
        dt = (s1 == 0 ? 60 - SecondsField(t0) : s1 - SecondsField(t0)) / static_cast<double>(n);
        for (std::size_t i = 1; i < n; ++i)
            out.Set(r0 + i, Text(buf, WriteTimePattern(buf, Finite(t0 + static_cast<double>(i) * dt))));
        r0 += n;
        t0 = t1;
        n = 0;
    }
    // A final run of three rows or more goes on with the last step.
    if (n > 1)
        for (std::size_t i = 1; i <= n; ++i)
            out.Set(r0 + i, Text(buf, WriteFixed(buf, Finite(t0 + static_cast<double>(i) * dt), 3, 12)));
}

// Latitude or longitude: each run of identical texts is spread linearly up to
// the next fix, its first row included; the final run goes on with the last
// slope.
void SpreadFixes(ColumnRewriter& out) {
    const TextColumn& col = out.old();
    const std::size_t rows = col.size();
    char buf[kNumberTextCapacity];
    auto write = [&](std::size_t row, double v) { out.Set(row, Text(buf, WriteFixed(buf, Finite(v), 8, 12))); };
    std::size_t r0 = kFirstDataRow;
    double u0 = Value(col[r0]);
    double du = 0;
    std::size_t n = 0;
    while (r0 + n < rows - 1) {
        ++n;
        if (col[r0 + n] == col[r0]) continue;
        if (n == 1) {
            ++r0;
            u0 = Value(col[r0]);
            n = 0;
            continue;
        }
        du = (Value(col[r0 + n]) - u0) / static_cast<double>(n);
        for (std::size_t i = 0; i < n; ++i) write(r0 + i, u0 + static_cast<double>(i) * du);
        r0 += n;
        u0 = Value(col[r0]);
        n = 0;
    }
    if (n > 1)
        for (std::size_t i = 0; i <= n; ++i) write(r0 + i, u0 + static_cast<double>(i) * du);
}

template <typename Work>
std::exception_ptr FaultOf(Work&& work) {
    try {
        work();
    } catch (...) {
        return std::current_exception();
    }
    return nullptr;
}

// Time, latitude, longitude: the three spreads are independent, so they run
// side by side, each into a new column. The columns are put in place in that
// order, and a spread that failed puts in place what it wrote and ends the
// arrangement with the later columns untouched, as if they ran one by one.
void SpreadTimesAndFixes(SurveyTable& table) {
    ColumnRewriter out[] = {ColumnRewriter(table.column(kTime)), ColumnRewriter(table.column(kLatitude)),
                            ColumnRewriter(table.column(kLongitude))};
    std::exception_ptr faults[std::size(out)];
    RunSideBySide([&] { faults[0] = FaultOf([&] { SpreadTimes(out[0]); }); },
                  [&] {
                      RunSideBySide([&] { faults[1] = FaultOf([&] { SpreadFixes(out[1]); }); },
                                    [&] { faults[2] = FaultOf([&] { SpreadFixes(out[2]); }); });
                  });
    for (std::size_t c = 0; c < std::size(out); ++c) {
        out[c].Finish();
        if (faults[c]) std::rethrow_exception(faults[c]);
    }
}

// Where each channel's sensor lies from the fix a row is placed from. In the
// arrangement's own placement the course is one straight line from the run's first to its
// last fix, so each sensor's offset in metres east and north, and its
// latitude offset, are the same on every row. The exact conversion turns the
// offsets by the course at each fix instead (PlaceAlong). Reads the spread
// position columns.
class SensorPlacement {
public:
    SensorPlacement(const SurveyTable& table, const SurveyGeometry& g) : g_(g) {
        const std::size_t last = table.rowCount() - 1;
        const double theta = std::atan2(Value(table, kLatitude, last) - Value(table, kLatitude, kFirstDataRow),
                                        Value(table, kLongitude, last) - Value(table, kLongitude, kFirstDataRow)) *
                             g.latitudeSign;
        for (int k = 0; k < kChannels; ++k) {
            const double x = g.offsetX[k];
            const double y = g.offsetY[k];
            const double rho = -std::sqrt(x * x + y * y);
            const double phi = std::atan2(x, y) + theta;
            const double east = rho * std::cos(phi);
            const double north = rho * std::sin(phi);
            // asin's argument outside -1..1 is a fault only for a channel in use.
            offset_[k].dLat = std::asin(kPi * north / kOffsetRadius) * 180 / kPi / 2;
            offset_[k].dLonFactor = std::asin(kPi * east / kOffsetRadius) * 180;
        }
    }

    // The longitude scale at the unsigned latitude of a placing fix.
    static double LonScale(double lat) { return std::acos(kPi * lat / 360); }

    // The signed position of channel k's sensor placed from the unsigned fix
    // (lat, lon) whose LonScale is `lonScale`.
    void Place(int k, double lat, double lon, double lonScale, double& pointLon, double& pointLat) const {
        double dLon = 0;
        PlaceAtOffset(offset_[k], g_.latitudeSign, g_.longitudeSign, lat, lon, lonScale, dLon, pointLon, pointLat);
        Finite(dLon);
        Finite(pointLon);
        Finite(pointLat);
    }

    // What compact points recompute their positions from.
    void KeepIn(PlacedReadings& placed) const {
        placed.offset = offset_;
        placed.latitudeSign = g_.latitudeSign;
        placed.longitudeSign = g_.longitudeSign;
    }

    // The same by the exact local conversion, the cart walking along the
    // unit vector (east, north) on the ground.
    void PlaceAlong(int k, double lat, double lon, double east, double north, double& pointLon,
                    double& pointLat) const {
        const double x = g_.offsetX[k];  // right of the course
        const double y = g_.offsetY[k];  // behind the antenna
        const double signedLat = g_.latitudeSign * lat;
        const DegreeStep step = DegreesOfMetres(x * north - y * east, -x * east - y * north, signedLat);
        pointLon = Finite(g_.longitudeSign * lon + step.lon);
        pointLat = Finite(signedLat + step.lat);
    }

private:
    const SurveyGeometry& g_;
    std::array<SensorOffset, kChannels> offset_{};
};

// The track's length over which its course at a fix is taken: the cart is
// about that long, and a fix's wander over a few decimetres does not turn it.
constexpr double kCourseMetres = 1;

}  // namespace

void CourseAtFixes(const SurveyGeometry& g, const RowFixes& fixes, std::vector<double>& east,
                   std::vector<double>& north) {
    const std::size_t n = fixes.lat.size();
    std::vector<double> x(n), y(n), s(n, 0);
    const double lat0 = g.latitudeSign * fixes.lat[0];
    for (std::size_t i = 0; i < n; ++i) {
        x[i] = g.longitudeSign * (fixes.lon[i] - fixes.lon[0]) * MetresPerDegreeLongitude(lat0);
        y[i] = g.latitudeSign * (fixes.lat[i] - fixes.lat[0]) * kMetresPerDegree;
        if (i > 0) s[i] = s[i - 1] + std::hypot(x[i] - x[i - 1], y[i] - y[i - 1]);
    }
    east.assign(n, 1);
    north.assign(n, 0);
    std::size_t from = 0, to = 0;
    for (std::size_t i = 0; i < n; ++i) {
        while (s[from] < s[i] - kCourseMetres) ++from;
        while (to + 1 < n && s[to + 1] <= s[i] + kCourseMetres) ++to;
        const double dx = x[to] - x[from], dy = y[to] - y[from];
        const double length = std::hypot(dx, dy);
        if (length > 0) {
            east[i] = dx / length;
            north[i] = dy / length;
        } else if (i > 0) {
            east[i] = east[i - 1];
            north[i] = north[i - 1];
        }
    }
}

namespace {

struct Levels {
    std::array<double, kChannels> field{};
    std::array<double, kChannels> gradient{};
};

// The rounded mean of channels [from, to) over the rows where both readings
// are present. Each channel is one sequential pass over its two columns.
void ChannelLevels(const SurveyTable& table, int from, int to, Levels& levels) {
    for (int k = from; k < to; ++k) {
        const TextColumn& fieldCol = table.column(FieldColumn(k));
        const TextColumn& gradientCol = table.column(GradientColumn(k));
        double fieldSum = 0;
        double gradientSum = 0;
        std::size_t count = 0;
        for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r) {
            const std::string_view f = fieldCol[r];
            const std::string_view gr = gradientCol[r];
            if (f.empty() || gr.empty()) continue;
            fieldSum += Value(f);
            gradientSum += Value(gr);
            ++count;
        }
        if (count == 0) continue;
        levels.field[k] = RoundLevel(fieldSum / static_cast<double>(count));
        levels.gradient[k] = RoundLevel(gradientSum / static_cast<double>(count));
    }
}

// Both cores share the channels.
Levels AllChannelLevels(const SurveyTable& table) {
    Levels levels;
    RunSideBySide([&] { ChannelLevels(table, kChannels / 2, kChannels, levels); },
                  [&] { ChannelLevels(table, 0, kChannels / 2, levels); });
    return levels;
}

// The readings of a block of rows, read channel by channel: the placement
// then walks the rows without chasing 24 columns at once.
constexpr std::size_t kBlock = 4096;
constexpr std::size_t kNoFault = static_cast<std::size_t>(-1);

struct ReadingBlock {
    std::array<std::array<double, kBlock>, kChannels> field;
    std::array<std::array<double, kBlock>, kChannels> gradient;
    std::array<std::array<bool, kBlock>, kChannels> present;
    // Row-major position (row offset * channels + k) of the first reading
    // that is not a number.
    std::size_t fault = kNoFault;

    void Read(const SurveyTable& table, std::size_t begin, std::size_t end) {
        fault = kNoFault;
        for (int k = 0; k < kChannels; ++k) {
            const TextColumn& fieldCol = table.column(FieldColumn(k));
            const TextColumn& gradientCol = table.column(GradientColumn(k));
            for (std::size_t r = begin; r < end; ++r) {
                const std::size_t i = r - begin;
                const std::string_view f = fieldCol[r];
                const std::string_view g = gradientCol[r];
                present[k][i] = !f.empty() && !g.empty();
                if (!present[k][i]) continue;
                if (!TryParseNumber(f, field[k][i]) || !TryParseNumber(g, gradient[k][i])) {
                    fault = std::min(fault, i * kChannels + static_cast<std::size_t>(k));
                    break;
                }
            }
        }
    }
};

// Bits set in each 12-bit mask, from a table: the build targets processors
// without a bit-count instruction.
constexpr auto kBits = [] {
    std::array<std::uint8_t, 1u << kChannels> bits{};
    for (unsigned m = 1; m < bits.size(); ++m) bits[m] = static_cast<std::uint8_t>(bits[m >> 1] + (m & 1));
    return bits;
}();

// The arrangement of a sound table in whole passes, both cores sharing each:
// every number is read once, straight into the point tables. False, with
// only `points` changed, at anything that would end the arrangement, so that
// the row-by-row placement meets it where it lies and keeps what comes before.
bool PlaceAllAtOnce(SurveyTable& table, const SensorPlacement& placement, bool levelSignals, PointStorage storage,
                    ArrangedPoints& points, std::optional<ColumnRewriter>& distanceOut,
                    std::array<std::optional<ColumnRewriter>, kChannels>& gradientOut) {
    const std::size_t rows = table.dataRowCount();
    std::vector<double> lat(rows), lon(rows);
    bool latRead = false, lonRead = false;
    RunSideBySide([&] { latRead = !FirstUnreadableRow(table, kLatitude, lat); },
                  [&] { lonRead = !FirstUnreadableRow(table, kLongitude, lon); });
    if (!latRead || !lonRead) return false;

    const RowPoints rowPoints(table);
    auto pointOf = [&](std::size_t i, int k) { return rowPoints.PointOf(i, k); };
    auto present = [&](std::size_t i, int k) { return rowPoints.Has(i, k); };

    // The readings, each core half the rows. Block by block, a channel at a
    // time: the points of a block stay in cache while its channels write
    // their readings a row's points apart. `keep(i, k, p, field, gradient)`
    // is false for readings it cannot keep, which ends the pass.
    enum class ReadingsRead { All, NotANumber, NotKept };
    auto readAll = [&](auto&& keep) {
        ReadingsRead read[2] = {ReadingsRead::All, ReadingsRead::All};
        OnBothCores(rows, [&](std::size_t begin, std::size_t end) {
            ReadingsRead& r = read[begin == 0 ? 0 : 1];
            ForEachRowBlock(begin, end, [&](std::size_t from, std::size_t to) {
                for (int k = 0; k < kChannels && r == ReadingsRead::All; ++k) {
                    const TextColumn& fieldCol = table.column(FieldColumn(k));
                    const TextColumn& gradientCol = table.column(GradientColumn(k));
                    for (std::size_t i = from; i < to; ++i) {
                        if (!present(i, k)) continue;
                        double f = 0, g = 0;
                        if (!TryParseNumber(fieldCol[kFirstDataRow + i], f) ||
                            !TryParseNumber(gradientCol[kFirstDataRow + i], g)) {
                            r = ReadingsRead::NotANumber;
                            return;
                        }
                        if (!keep(i, k, pointOf(i, k), f, g)) {
                            r = ReadingsRead::NotKept;
                            return;
                        }
                    }
                }
            });
        });
        // A number that cannot be read ends the arrangement wherever it lies.
        for (const ReadingsRead r : read)
            if (r == ReadingsRead::NotANumber) return r;
        return read[0] == ReadingsRead::All ? read[1] : read[0];
    };
    // Kept as placed where asked and every reading is whole hundredths.
    std::optional<PlacedReadings> placed;
    ReadingsRead read = ReadingsRead::NotKept;
    if (storage == PointStorage::AsPlaced && rows <= PlacedReadings::kMaxRows) {
        placed.emplace();
        placed->rowChannel.resize(rowPoints.total());
        placed->field.resize(rowPoints.total());
        placed->gradient.resize(rowPoints.total());
        read = readAll([&](std::size_t i, int k, std::size_t p, double f, double g) {
            const std::optional<std::int32_t> field = PlacedReadings::Hundredths(f);
            const std::optional<std::int32_t> gradient = PlacedReadings::Hundredths(g);
            if (!field || !gradient) return false;
            placed->rowChannel[p] = static_cast<std::uint32_t>(i << PlacedReadings::kChannelBits) | static_cast<std::uint32_t>(k);
            placed->field[p] = *field;
            placed->gradient[p] = *gradient;
            return true;
        });
        if (read != ReadingsRead::All) placed.reset();
    }
    if (read == ReadingsRead::NotKept) {
        points.resize(rowPoints.total());
        read = readAll([&](std::size_t, int, std::size_t p, double f, double g) {
            points.setValue(PointTable::Absolute, p, f);
            points.setValue(PointTable::Gradient, p, g);
            return true;
        });
    }
    if (read != ReadingsRead::All) return false;
    // A reading as read, before the levels.
    auto reading = [&](PointTable t, std::size_t p) {
        if (!placed) return points.value(t, p);
        return PlacedReadings::Reading(t == PointTable::Absolute ? placed->field[p] : placed->gradient[p]);
    };

    std::vector<double> distance(rows, 0.0);
    Levels levels;
    try {
        // Each channel's level: the mean of its readings summed in row
        // order, each core half the channels.
        if (levelSignals) {
            OnBothCores(kChannels, [&](std::size_t fromChannel, std::size_t toChannel) {
                std::array<double, kChannels> fieldSum{}, gradientSum{};
                std::array<std::size_t, kChannels> count{};
                ForEachRowBlock(0, rows, [&](std::size_t from, std::size_t to) {
                    for (auto k = static_cast<int>(fromChannel); k < static_cast<int>(toChannel); ++k)
                        for (std::size_t i = from; i < to; ++i) {
                            if (!present(i, k)) continue;
                            const std::size_t p = pointOf(i, k);
                            fieldSum[k] += reading(PointTable::Absolute, p);
                            gradientSum[k] += reading(PointTable::Gradient, p);
                            ++count[k];
                        }
                });
                for (auto k = static_cast<int>(fromChannel); k < static_cast<int>(toChannel); ++k) {
                    if (count[k] == 0) continue;
                    levels.field[k] = RoundLevel(fieldSum[k] / static_cast<double>(count[k]));
                    levels.gradient[k] = RoundLevel(gradientSum[k] / static_cast<double>(count[k]));
                }
            });
        }

        // Distances along the track: the steps on both cores, their sum in row order.
        OnBothCores(rows, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = std::max<std::size_t>(begin, 1); i < end; ++i) {
                const double d = GeoDistance(lat[i], lon[i], lat[i - 1], lon[i - 1]);
                distance[i] = d == 0 ? 0.01 : d;
            }
        });
        for (std::size_t i = 1; i < rows; ++i) distance[i] = Finite(distance[i - 1] + distance[i]);

        // Each row is placed from the fix of the row after it; the last row
        // from its own. Points kept as placed are placed all the same, so
        // that a position or value that is not finite is met here.
        std::vector<double> lonScale(placed ? rows : 0);
        OnBothCores(rows, [&](std::size_t begin, std::size_t end) {
            for (std::size_t i = begin; i < end; ++i) {
                const std::size_t fix = std::min(i + 1, rows - 1);
                const double scale = SensorPlacement::LonScale(lat[fix]);
                if (placed) lonScale[i] = scale;
                for (int k = 0; k < kChannels; ++k) {
                    if (!present(i, k)) continue;
                    const std::size_t p = pointOf(i, k);
                    double pointLon = 0, pointLat = 0;
                    placement.Place(k, lat[fix], lon[fix], scale, pointLon, pointLat);
                    const double field = Finite(reading(PointTable::Absolute, p) - levels.field[k]);
                    const double gradient = Finite(reading(PointTable::Gradient, p) - levels.gradient[k]);
                    if (placed) continue;
                    points.setPosition(p, pointLon, pointLat);
                    points.setValue(PointTable::Absolute, p, field);
                    points.setValue(PointTable::Gradient, p, gradient);
                }
            }
        });
        if (placed) {
            placement.KeepIn(*placed);
            placed->fieldLevel = levels.field;
            placed->gradientLevel = levels.gradient;
            placed->lonScale = std::move(lonScale);
        }
    } catch (const ArrangeFault&) {
        return false;
    }
    if (placed) {
        // The placing fixes: each row's is the next row's own.
        for (std::size_t i = 0; i + 1 < rows; ++i) {
            lat[i] = lat[i + 1];
            lon[i] = lon[i + 1];
        }
        placed->fixLat = std::move(lat);
        placed->fixLon = std::move(lon);
        points.KeepAsPlaced(std::move(*placed));
    }

    // The texts, once every point is placed: a fault past here ends the
    // arrangement rather than handing it to the row-by-row placement, which
    // would level the gradients a second time.
    // The distance column beside half the gradient columns.
    distanceOut.emplace(table.column(kDistance));
    // Each column is begun when its turn comes and put in place as soon as
    // it is written, so that the old and new texts of only two columns a
    // core are held at once.
    auto writeGradients = [&](int fromChannel, int toChannel) {
        char text[kNumberTextCapacity];
        for (int k = fromChannel; k < toChannel; k += 2) {
            // Two columns a pass, block by block, over the block's points in cache.
            const int pair = std::min(k + 2, toChannel);
            for (int c = k; c < pair; ++c) gradientOut[c].emplace(table.column(GradientColumn(c)));
            ForEachRowBlock(0, rows, [&](std::size_t from, std::size_t to) {
                for (int c = k; c < pair; ++c)
                    for (std::size_t i = from; i < to; ++i)
                        if (present(i, c))
                            gradientOut[c]->Set(kFirstDataRow + i,
                                                Text(text, WritePointValue(text, points.value(PointTable::Gradient, pointOf(i, c)))));
            });
            for (int c = k; c < pair; ++c) gradientOut[c]->Finish();
        }
    };
    RunSideBySide([&] { writeGradients(kChannels / 2, kChannels); },
                  [&] {
                      char text[kNumberTextCapacity];
                      distanceOut->Set(kFirstDataRow, "0");
                      for (std::size_t i = 1; i < rows; ++i)
                          distanceOut->Set(kFirstDataRow + i, Text(text, WriteFixed(text, distance[i], 2, 5)));
                      writeGradients(0, kChannels / 2);
                  });
    return true;
}

// Everything after the headings; throws ArrangeFault. The rewriters of the
// distance and gradient columns are the caller's, so that what was written
// before a fault stays.
void PlaceSensors(SurveyTable& table, const SurveyGeometry& g, bool levelSignals, ArrangedPoints& points,
                  std::optional<ColumnRewriter>& distanceOut,
                  std::array<std::optional<ColumnRewriter>, kChannels>& gradientOut, ArrangePath path,
                  PointStorage storage) {
    SpreadTimesAndFixes(table);

    const std::size_t last = table.rowCount() - 1;
    const SensorPlacement placement(table, g);
    if (path == ArrangePath::AsTheTableAllows &&
        PlaceAllAtOnce(table, placement, levelSignals, storage, points, distanceOut, gradientOut))
        return;
    points.clear();
    points.reserve(table.dataRowCount() * kChannels);
    const Levels levels = levelSignals ? AllChannelLevels(table) : Levels{};

    distanceOut.emplace(table.column(kDistance));
    for (int k = 0; k < kChannels; ++k) gradientOut[k].emplace(table.column(GradientColumn(k)));
    distanceOut->Set(kFirstDataRow, "0");

    char buf[kNumberTextCapacity];
    double distance = 0;
    // Each row is placed from the fix of the row after it; the last row from
    // its own fix.
    double rowLat = Value(table, kLatitude, kFirstDataRow);
    double rowLon = Value(table, kLongitude, kFirstDataRow);
    double lat = rowLat;
    double lon = rowLon;
    // The gradient cells of one block are rewritten on the other core while
    // the next block is placed; two reading blocks take turns.
    std::array<std::unique_ptr<ReadingBlock>, 2> blocks = {std::make_unique<ReadingBlock>(),
                                                           std::make_unique<ReadingBlock>()};
    auto rewriteGradients = [&gradientOut](const ReadingBlock& block, std::size_t begin, std::size_t placed) {
        char text[kNumberTextCapacity];
        for (int k = 0; k < kChannels; ++k)
            for (std::size_t i = 0; i * kChannels + static_cast<std::size_t>(k) < placed; ++i)
                if (block.present[k][i])
                    gradientOut[k]->Set(begin + i, Text(text, WritePointValue(text, block.gradient[k][i])));
    };
    std::future<void> rewriting;
    auto finishRewriting = [&rewriting] {
        if (rewriting.valid()) rewriting.get();
    };
    try {
        for (std::size_t begin = kFirstDataRow, turn = 0; begin <= last; begin += kBlock, ++turn) {
            const std::size_t end = std::min(last + 1, begin + kBlock);
            ReadingBlock& block = *blocks[turn % 2];
            block.Read(table, begin, end);
            // Rows and channels placed in this block, row-major.
            std::size_t placed = 0;
            try {
                for (std::size_t r = begin; r < end; ++r) {
                    const std::size_t i = r - begin;
                    if (r != last) {
                        lat = Value(table, kLatitude, r + 1);
                        lon = Value(table, kLongitude, r + 1);
                        double d = GeoDistance(lat, lon, rowLat, rowLon);
                        rowLat = lat;
                        rowLon = lon;
                        if (d == 0) d = 0.01;
                        distance = Finite(distance + d);
                        distanceOut->Set(r + 1, Text(buf, WriteFixed(buf, distance, 2, 5)));
                    }
                    const double lonScale = SensorPlacement::LonScale(lat);
                    for (int k = 0; k < kChannels; ++k, ++placed) {
                        if (placed == block.fault) throw ArrangeFault{};
                        if (!block.present[k][i]) continue;
                        double pointLon = 0;
                        double pointLat = 0;
                        placement.Place(k, lat, lon, lonScale, pointLon, pointLat);
                        const double field = Finite(block.field[k][i] - levels.field[k]);
                        const double gradient = Finite(block.gradient[k][i] - levels.gradient[k]);
                        points.append(pointLon, pointLat, field, gradient);
                        block.gradient[k][i] = gradient;
                    }
                }
            } catch (const ArrangeFault&) {
                finishRewriting();
                rewriteGradients(block, begin, placed);
                throw;
            }
            finishRewriting();
            rewriting = std::async(std::launch::async, rewriteGradients, std::cref(block), begin, placed);
        }
    } catch (...) {
        if (rewriting.valid()) rewriting.wait();
        throw;
    }
    finishRewriting();
}

}  // namespace

RowPoints::RowPoints(const SurveyTable& table) : present_(table.dataRowCount()), firstPoint_(table.dataRowCount() + 1, 0) {
    const std::size_t rows = present_.size();
    OnBothCores(rows, [&](std::size_t begin, std::size_t end) {
        for (int k = 0; k < kChannels; ++k) {
            const TextColumn& field = table.column(FieldColumn(k));
            const TextColumn& gradient = table.column(GradientColumn(k));
            for (std::size_t i = begin; i < end; ++i)
                if (!field[kFirstDataRow + i].empty() && !gradient[kFirstDataRow + i].empty())
                    present_[i] |= static_cast<std::uint16_t>(1u << k);
        }
    });
    for (std::size_t i = 0; i < rows; ++i) firstPoint_[i + 1] = firstPoint_[i] + kBits[present_[i]];
}

std::size_t RowPoints::PointOf(std::size_t row, int k) const {
    return firstPoint_[row] + kBits[present_[row] & ((1u << k) - 1)];
}

RowFixes ReadRowFixes(const SurveyTable& arranged) {
    RowFixes fixes;
    auto column = [&arranged](int c, std::vector<double>& v) {
        v.reserve(arranged.dataRowCount());
        for (std::size_t r = kFirstDataRow; r < arranged.rowCount(); ++r) v.push_back(CellNumber(arranged, c, r));
    };
    RunSideBySide(
        [&] {
            column(kLatitude, fixes.lat);
            column(kLongitude, fixes.lon);
        },
        [&] { column(kTime, fixes.seconds); });
    constexpr double kDay = 86400;
    double day = 0;
    double previous = 0;
    for (std::size_t i = 0; i < fixes.seconds.size(); ++i) {
        const double hhmmss = fixes.seconds[i];
        const double hhmm = std::floor(hhmmss / 100);
        const double hh = std::floor(hhmm / 100);
        double s = 3600 * hh + 60 * (hhmm - 100 * hh) + (hhmmss - 100 * hhmm);
        if (i > 0 && s + day < previous - kDay / 2) day += kDay;
        s += day;
        fixes.seconds[i] = previous = s;
    }
    return fixes;
}

bool PlaceAgain(const SurveyTable& arranged, const SurveyGeometry& geometry, const RowFixes& fixes,
                double lagSeconds, OffsetConversion conversion, ArrangedPoints& points) {
    const std::vector<double>& seconds = fixes.seconds;
    if ((lagSeconds == 0 && conversion == OffsetConversion::OneCourse) || points.size() == 0) return true;
    if (lagSeconds != 0 && seconds.back() <= seconds.front()) return false;
    const std::size_t rows = seconds.size();
    const RowPoints rowPoints(arranged);
    // Each row's fix first, every placement tried with it: a position that
    // is not finite ends the shift before any point has moved.
    std::vector<double> fixLat(rows), fixLon(rows), lonScale(rows);
    const bool exact = conversion == OffsetConversion::Exact;
    // The exact conversion's course at each fix, then at each placing fix.
    std::vector<double> courseEast, courseNorth, east(exact ? rows : 0), north(exact ? rows : 0);
    if (exact) CourseAtFixes(geometry, fixes, courseEast, courseNorth);
    try {
        const SensorPlacement placement(arranged, geometry);
        // Points [p, points.size()) of rows [from, to), placed by `put`.
        auto place = [&](std::size_t from, std::size_t to, std::size_t p, auto&& put) {
            for (std::size_t i = from; i < to && p < points.size(); ++i)
                for (unsigned m = rowPoints.Channels(i); m != 0 && p < points.size(); m &= m - 1, ++p) {
                    double pointLon = 0;
                    double pointLat = 0;
                    const int k = std::countr_zero(m);
                    if (exact) placement.PlaceAlong(k, fixLat[i], fixLon[i], east[i], north[i], pointLon, pointLat);
                    else placement.Place(k, fixLat[i], fixLon[i], lonScale[i], pointLon, pointLat);
                    put(p, pointLon, pointLat);
                }
        };
        auto findFixes = [&](std::size_t from, std::size_t to, std::size_t p) {
            TimeSeriesCursor fixAt(seconds);
            for (std::size_t i = from; i < to; ++i) {
                if (lagSeconds == 0) {
                    // As arranged: from the fix of the row after.
                    const std::size_t fix = std::min(i + 1, rows - 1);
                    fixLat[i] = fixes.lat[fix];
                    fixLon[i] = fixes.lon[fix];
                    if (exact) {
                        east[i] = courseEast[fix];
                        north[i] = courseNorth[fix];
                    }
                } else {
                    const TimeBracket at = fixAt.Find(seconds[i] + lagSeconds);
                    fixLat[i] = at.Of(fixes.lat);
                    fixLon[i] = at.Of(fixes.lon);
                    if (exact) {
                        // Between two courses, their mean direction.
                        const double e = at.Of(courseEast), n = at.Of(courseNorth);
                        const double length = std::hypot(e, n);
                        east[i] = length > 0 ? e / length : courseEast[std::min(i + 1, rows - 1)];
                        north[i] = length > 0 ? n / length : courseNorth[std::min(i + 1, rows - 1)];
                    }
                }
                lonScale[i] = SensorPlacement::LonScale(fixLat[i]);
            }
            place(from, to, p, [](std::size_t, double, double) {});
        };
        // Both cores, half the rows each; the second half's points follow
        // the first half's.
        const std::size_t half = rows / 2;
        const std::size_t firstPoints = rowPoints.FirstPointOf(half);
        RunSideBySide([&] { findFixes(half, rows, firstPoints); }, [&] { findFixes(0, half, 0); });
        auto put = [&points](std::size_t p, double lon, double lat) { points.setPosition(p, lon, lat); };
        RunSideBySide([&] { place(half, rows, firstPoints, put); }, [&] { place(0, half, 0, put); });
    } catch (const ArrangeFault&) {
        return false;
    }
    return true;
}

bool ArrangeToGps(SurveyTable& table, const SurveyGeometry& geometry, bool levelSignals, ArrangedPoints& points,
                  ArrangePath path, PointStorage storage) {
    if (table.rowCount() <= kFirstDataRow) throw std::invalid_argument("the survey table holds no data row");
    points.clear();
    points.lonHeading = std::string(table.cell(kLongitude, kHeadingRow));
    points.latHeading = std::string(table.cell(kLatitude, kHeadingRow));
    // At most one point per row and channel; pages never written cost nothing.
    points.reserve(table.dataRowCount() * kChannels);

    std::optional<ColumnRewriter> distanceOut;
    std::array<std::optional<ColumnRewriter>, kChannels> gradientOut;
    bool completed = true;
    try {
        PlaceSensors(table, geometry, levelSignals, points, distanceOut, gradientOut, path, storage);
    } catch (const ArrangeFault&) {
        completed = false;
    }
    // The columns keep whatever was rewritten, complete or not.
    if (distanceOut) distanceOut->Finish();
    for (auto& g : gradientOut)
        if (g) g->Finish();
    return completed;
}

}  // namespace qgrad
