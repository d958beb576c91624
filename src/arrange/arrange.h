// Arrange to GPS: spreads repeated time stamps and fixes over the rows that
// share them, levels each channel, accumulates the distance along the track
// and places every channel's sensor at its offset from the antenna.
#pragma once

#include "arrange/arrangedpoints.h"
#include "survey/reader.h"
#include "survey/surveytable.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qgrad {

// Rewrites the survey table's time, position, distance and gradient columns
// and fills `points`. Any failure on the way (a cell that is not a number, an
// arithmetic fault) ends the arrangement silently: what was written stays,
// the point tables keep the points made so far, and the result is false.
// `levelSignals` is ARRANGE SIGNAL LEVELS. The table must hold a data row.
// The arrangement runs in whole passes over a sound table and row by row
// over one with a fault, meeting it where it lies; both give the same bytes
// on a sound table. `path` forces the row-by-row one, to show that.
// `storage` AsPlaced keeps the points of the whole passes as placed when
// every reading is whole hundredths; the row-by-row placement keeps them
// editable.
enum class ArrangePath { AsTheTableAllows, RowByRow };
bool ArrangeToGps(SurveyTable& table, const SurveyGeometry& geometry, bool levelSignals, ArrangedPoints& points,
                  ArrangePath path = ArrangePath::AsTheTableAllows, PointStorage storage = PointStorage::Editable);

// The time and the own fix of every data row of an arranged table.
struct RowFixes {
    // Seconds of the day, counted on past midnight so that they keep rising.
    std::vector<double> seconds;
    // Unsigned degrees.
    std::vector<double> lat, lon;
};

// Where each data row's points lie among the arranged points: one for every
// channel with both readings on the row, rows first, channels in order.
class RowPoints {
public:
    explicit RowPoints(const SurveyTable& table);
    bool Has(std::size_t row, int k) const { return (present_[row] >> k) & 1u; }
    // The channels with a point on the row, a bit each.
    unsigned Channels(std::size_t row) const { return present_[row]; }
    std::size_t PointOf(std::size_t row, int k) const;
    // The first point of a row, or the total after the last row.
    std::size_t FirstPointOf(std::size_t row) const { return firstPoint_[row]; }
    std::size_t total() const { return firstPoint_.back(); }

private:
    std::vector<std::uint16_t> present_;    // a bit a channel
    std::vector<std::size_t> firstPoint_;  // of each row, and the total
};

// Throws SurveyFormatError for a cell that is not a number.
RowFixes ReadRowFixes(const SurveyTable& arranged);

// How a sensor's offsets in metres become degrees: as the arrangement places
// them, turned by one course for the whole run, or by the exact local
// conversion at the placing fix's latitude, the offsets turned by the course
// of the track at that fix (over a metre of track on each side), as a cart's
// sensors turn with it.
enum class OffsetConversion { OneCourse, Exact };

// Places the readings of an arranged table again, each sensor at its offset
// by `conversion`, for positions that lag the readings by `lagSeconds`: a
// reading of time t goes where the track was at t + lag (the rows' own fixes
// and times, interpolated linearly; held at the run's first and last fix
// beyond it). A lag of 0 keeps the arrangement's placing fix (the next
// row's), and with the one-course conversion leaves the points untouched. The
// first points.size() points move; the table keeps its texts. False, moving
// nothing, when a lag is asked for and the times never advance, or when a
// position is not finite. `fixes` are the table's.
// The course of the track at each of `fixes`, a unit vector east and north
// (signed by the hemispheres): from the fix a metre behind it along the
// track to the one a metre ahead; held over fixes that do not move.
void CourseAtFixes(const SurveyGeometry& geometry, const RowFixes& fixes, std::vector<double>& east,
                   std::vector<double>& north);

bool PlaceAgain(const SurveyTable& arranged, const SurveyGeometry& geometry, const RowFixes& fixes, double lagSeconds,
                OffsetConversion conversion, ArrangedPoints& points);

}  // namespace qgrad
