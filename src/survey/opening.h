// What the opening of a survey reads from the arranged survey table: the
// track, the profiles and the ends of the run. Every cell is read as a number
// with the point format; a cell that is not one throws SurveyFormatError.
#pragma once

#include "survey/reader.h"
#include "survey/surveytable.h"

#include <vector>

namespace qgrad {

struct Track {
    std::vector<float> lon;
    std::vector<float> lat;
};

// Longitude and latitude of every data row as 32-bit floats.
Track ReadTrack(const SurveyTable& table);

struct RunEnds {
    float startLon = 0, startLat = 0, endLon = 0, endLat = 0;
};
RunEnds ReadRunEnds(const SurveyTable& table);

// The distance of every data row, read once for all profiles.
std::vector<double> ReadDistances(const SurveyTable& table);

// Profile of channel k: (distance, gradient) of every data row whose
// gradient cell is not empty, in row order; `distances` from ReadDistances.
template <typename Add>
void ForEachProfilePoint(const SurveyTable& table, const std::vector<double>& distances, int k, Add&& add) {
    const int column = GradientColumn(k);
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r)
        if (!table.cell(column, r).empty()) add(distances[r - kFirstDataRow], CellNumber(table, column, r));
}

// Shown when the channel's gradient cell of the first data row is not empty.
inline bool ProfileShown(const SurveyTable& table, int k) {
    return table.rowCount() > kFirstDataRow && !table.cell(GradientColumn(k), kFirstDataRow).empty();
}

// (distance, longitude, latitude) of every data row.
template <typename Add>
void ForEachPosition(const SurveyTable& table, const std::vector<double>& distances, Add&& add) {
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r)
        add(distances[r - kFirstDataRow], CellNumber(table, kLongitude, r), CellNumber(table, kLatitude, r));
}

}  // namespace qgrad
