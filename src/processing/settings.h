// The optional processing stages between the arrangement and what is shown
// and written, with their parameters. Every stage is off by default; with all
// of them off the arranged points are left exactly as arranged.
#pragma once

namespace qgrad {

struct DespikeSettings {
    bool on = false;
    // A reading further than k robust standard deviations from the median of
    // its window is a spike.
    double k = 5;
    // Readings on each side of the one judged: three keep a window's median
    // clean beside a spike three readings long, the longest an iron object
    // passed at walking speed makes.
    int halfWidth = 3;
};

// Where a track turns from one traverse into the next: where the course over
// the stretch of track behind a reading and the course over the stretch ahead
// differ by more than `degrees`, for stretches `smoothingMetres` long, or
// twice, four times … that, up to `longestMetres`. A cart's turn between
// traverses a swath apart has a radius of half the swath, a few metres: the
// longest stretch finds it up to about 1.3 times its own length.
struct TurnSettings {
    double degrees = 45;
    double smoothingMetres = 1.5;
    double longestMetres = 6;
};

enum class LevelEstimate { Off, Median, Mean };
// What one level is taken over: each traverse, or all traverses of a sensor
// walked in the same direction.
enum class LevelGrouping { Traverse, Direction };

struct DestripeSettings {
    LevelEstimate level = LevelEstimate::Off;
    LevelGrouping grouping = LevelGrouping::Traverse;
    // The level is estimated from the readings between these percentiles.
    double lowPercentile = 5;
    double highPercentile = 95;
    TurnSettings turns;
};

enum class LagMode { Off, Fixed, Auto };

struct LagSettings {
    LagMode mode = LagMode::Off;
    // The lag of LagMode::Fixed: positions are taken this many seconds after
    // the reading's time.
    double seconds = 0;
    // LagMode::Auto tries every lag of `stepSeconds` steps within
    // ±searchSeconds and keeps the best one when its peak stands out of the
    // correlation curve by `minProminence`; otherwise it uses 0.
    double searchSeconds = 1;
    double stepSeconds = 0.01;
    double minProminence = 0.5;
};

// A grid cell of half the usual 0.5 m sensor spacing, when none is given.
inline constexpr double kDefaultQualityCell = 0.25;

struct QualitySettings {
    bool on = false;
    // Readings further apart along the track than this leave cells empty.
    double cellMetres = kDefaultQualityCell;
    // A channel reading one value, or nothing, for longer than this is dead
    // or flat: long enough that the one-decimal readings of a live sensor
    // walking over ground never stay put that long.
    double flatSeconds = 2;
    // The fix held longer than this is a gap in the GPS.
    double gpsGapSeconds = 1;
};

struct ProcessingSettings {
    // Each sensor placed again at its offsets by the exact local conversion
    // of metres to degrees, beside the arrangement's one-course placement.
    bool trueOffsets = false;
    LagSettings lag;
    DespikeSettings despike;
    DestripeSettings destripe;
    // Figures the surveyor checks; they change no point.
    QualitySettings quality;

    bool AnyOn() const { return trueOffsets || lag.mode != LagMode::Off || despike.on || destripe.level != LevelEstimate::Off; }
};

// The values a surveyor can mean: a cart's sensors trail or lead the GPS
// antenna by seconds, not minutes; a spike lies well outside the spread.
inline constexpr double kMaxLagSeconds = 10;
inline constexpr double kMinDespikeK = 1;

// Throws std::invalid_argument, with a message for the person who set
// them, for values outside those limits.
void ValidateProcessing(const ProcessingSettings& settings);

}  // namespace qgrad
