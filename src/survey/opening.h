// What the opening of a survey reads from the arranged survey table: the
// positions and track, the profiles' numbers and the ends of the run. Every
// cell is read as a number with the point format; a cell that is not one
// throws SurveyFormatError, the first such cell in the order the reads are
// described here.
#pragma once

#include "survey/reader.h"
#include "survey/surveytable.h"

#include <cstddef>
#include <optional>
#include <vector>

namespace qgrad {

struct Track {
    std::vector<float> lon;
    std::vector<float> lat;
};

// Every data row's cell of `column` as a number into `out` (sized to the
// data rows); the first data row whose cell is not one, if any.
std::optional<std::size_t> FirstUnreadableRow(const SurveyTable& table, int column, std::vector<double>& out);

// Longitude and latitude of every data row, row by row, the longitude first.
struct Positions {
    std::vector<double> lon;
    std::vector<double> lat;
};
Positions ReadPositions(const SurveyTable& table);
// The positions as 32-bit floats.
Track TrackOf(const Positions& positions);

struct RunEnds {
    float startLon = 0, startLat = 0, endLon = 0, endLat = 0;
};
RunEnds ReadRunEnds(const SurveyTable& table);

// The distance of every data row.
std::vector<double> ReadDistances(const SurveyTable& table);

// Shown when the channel's gradient cell of the first data row is not empty.
inline bool ProfileShown(const SurveyTable& table, int k) {
    return table.rowCount() > kFirstDataRow && !table.cell(GradientColumn(k), kFirstDataRow).empty();
}

}  // namespace qgrad
