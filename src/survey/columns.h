// Where things stand in the survey table: its columns, and the rows that
// hold the file's three heading lines.
#pragma once

#include <cstddef>

namespace qgrad {

// Sensor channels, each a total-field column and a gradient column.
inline constexpr int kChannels = 12;

// Columns of the heading line and the data rows.
inline constexpr int kTime = 0;
inline constexpr int kLatitude = 1;
inline constexpr int kLongitude = 2;
// Free in the file; the arrangement writes the distance along the track.
inline constexpr int kDistance = 3;
constexpr int FieldColumn(int channel) { return 4 + 2 * channel; }
constexpr int GradientColumn(int channel) { return 5 + 2 * channel; }

// Line 2 holds the sensor offsets in centimetres, one column to the left of
// the channel's readings (line 2 never gets the inserted time column).
constexpr int OffsetXColumn(int channel) { return FieldColumn(channel) - 1; }
constexpr int OffsetYColumn(int channel) { return GradientColumn(channel) - 1; }

// Rows of the table: after the title line, the offsets and the column
// headings; then the samples.
inline constexpr std::size_t kOffsetsRow = 1;
inline constexpr std::size_t kHeadingRow = 2;
inline constexpr std::size_t kFirstDataRow = 3;

}  // namespace qgrad
