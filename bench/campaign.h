// Synthetic survey campaigns: a field split into blocks, one run a block,
// walked the way a cart crew walks it — serpentine traverses with turns at
// the ends, neighbouring blocks overlapping at their edges and now and then
// leaving a gap, some blocks walked from the other side. The ground holds
// buried dipoles, a pipe, a ditch and a broad deep source; the instrument
// adds noise, spikes of one to three readings, a level of its own for each
// sensor and a lag of the fixes behind the readings. The same seed gives
// the same bytes on every platform.
#pragma once

#include <cstdint>
#include <string>

namespace qgrad::bench {

struct CampaignSpec {
    int files = 28;
    std::uint64_t rowsPerFile = 250000;
    std::uint64_t seed = 1;
    double originLat = 55.7512;  // south-west corner of the field, degrees
    double originLon = 37.6184;
    double traverseLength = 200;  // metres, south to north
    double lagSeconds = 0.15;     // the fixes trail the readings by this much
};

// Writes run001.csv, run002.csv, … and truth.tsv (the buried dipoles, the
// lag and the sensors' levels) into `folder`; returns false when a file
// cannot be written.
bool WriteCampaign(const CampaignSpec& plan, const std::string& folder);

}  // namespace qgrad::bench
