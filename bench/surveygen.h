// Synthetic gradiometer runs: straight traverses of a 12-sensor cart over
// a field with a few buried targets, written as the instrument writes it
// (repeated time stamps and fixes, rows without a fix at the start, now and
// then a dropped reading). The same seed gives the same bytes on every
// platform.
#pragma once

#include <cstdint>
#include <string>

namespace qgrad::bench {

struct RunSpec {
    std::uint64_t rows = 2000;
    std::uint64_t seed = 1;
    double originLat = 55.7512;   // south-west corner of the field, degrees
    double originLon = 37.6184;
    double lineNorth = 0;         // the traverse's distance north of the origin, m
    bool westward = false;        // traverses alternate east and west
    double speed = 1.0;           // m/s
    int sampleHz = 10;            // rows per second
    int fixHz = 2;                // GPS fixes per second
    int startSecond = 10 * 3600 + 15 * 60;  // time of day of the first row
    int rowsWithoutFix = 6;
    int dropEvery = 997;          // a dropped reading every so many rows
    bool tenths = false;          // readings in 0.1 nT and 0.1 nT/m
    // Traverses in the run: each turns back 6 m further north, on the spot.
    int traverses = 1;
};

// The whole file.
std::string GenerateRun(const RunSpec& run);

// Writes the run to `path`; returns false when the file cannot be written.
bool WriteRun(const RunSpec& run, const std::string& path);

}  // namespace qgrad::bench
