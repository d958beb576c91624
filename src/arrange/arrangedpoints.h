// The arranged point tables: one point per sample row and channel with both
// readings present. The absolute table holds the total field, the gradient
// table the gradient; both share the coordinates. Numbers are kept and their
// texts made on demand, always the same texts the tables define:
// coordinates in fixed notation with 8 decimals (at most 12 significant
// digits), values with 1 decimal (at most 8).
#pragma once

#include "common/numtext.h"
#include "survey/columns.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <memory>
#include <numbers>
#include <optional>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qgrad {

enum class PointTable { Absolute, Gradient };

// Where a channel's sensor lies from the fix its row is placed from, by the
// arrangement's one-course offset conversion: the same on every row.
struct SensorOffset {
    double dLat = 0;        // degrees
    double dLonFactor = 0;  // degrees of longitude times 2 pi over the fix's longitude scale
};

// The signed position of a sensor at `offset` placed from the unsigned fix
// (lat, lon) whose longitude scale is `lonScale`; `dLon` is the longitude
// step on the way. The arrangement places each point with it and compact
// points recompute it, so both give the same bits.
inline void PlaceAtOffset(const SensorOffset& offset, int latitudeSign, int longitudeSign, double lat, double lon,
                          double lonScale, double& dLon, double& pointLon, double& pointLat) {
    dLon = offset.dLonFactor * lonScale / std::numbers::pi / 2;
    pointLon = longitudeSign * (lon + dLon);
    pointLat = latitudeSign * (lat + offset.dLat);
}

// The points of a whole-pass arrangement kept as what placed them: each
// point's data row and channel and its two readings as read, in hundredths;
// each data row's placing fix; each channel's offset and levels. A point's
// position and values are recomputed from them with the arrangement's own
// arithmetic, 12 bytes a point and 24 a row where four numbers take 32 a
// point.
struct PlacedReadings {
    // A point's data row above the channel's 4 bits.
    static constexpr int kChannelBits = 4;
    static constexpr std::size_t kMaxRows = std::size_t{1} << (32 - kChannelBits);
    std::vector<std::uint32_t> rowChannel;
    std::vector<std::int32_t> field, gradient;
    // Each data row's placing fix, unsigned degrees, and its longitude scale.
    std::vector<double> fixLat, fixLon, lonScale;
    std::array<SensorOffset, kChannels> offset{};
    std::array<double, kChannels> fieldLevel{}, gradientLevel{};
    int latitudeSign = 1;
    int longitudeSign = 1;

    // The hundredths that read back as exactly `reading`, sign of a zero
    // included; none for a reading that is not whole hundredths.
    static std::optional<std::int32_t> Hundredths(double reading);
    static double Reading(std::int32_t hundredths) {
        return hundredths == kNegativeZero ? -0.0 : static_cast<double>(hundredths) / 100.0;
    }

    std::size_t size() const { return rowChannel.size(); }
    int Channel(std::size_t i) const { return static_cast<int>(rowChannel[i] & ((1u << kChannelBits) - 1)); }
    double Value(PointTable t, std::size_t i) const {
        return t == PointTable::Absolute ? Reading(field[i]) - fieldLevel[Channel(i)]
                                         : Reading(gradient[i]) - gradientLevel[Channel(i)];
    }
    void Position(std::size_t i, double& lon, double& lat) const {
        const std::size_t row = rowChannel[i] >> kChannelBits;
        double dLon = 0;
        PlaceAtOffset(offset[Channel(i)], latitudeSign, longitudeSign, fixLat[row], fixLon[row], lonScale[row], dLon,
                      lon, lat);
    }
    std::size_t memoryBytes() const {
        return rowChannel.capacity() * sizeof(std::uint32_t) +
               (field.capacity() + gradient.capacity()) * sizeof(std::int32_t) +
               (fixLat.capacity() + fixLon.capacity() + lonScale.capacity()) * sizeof(double);
    }

private:
    // No reading is this many hundredths; it stands for -0, which 0 would lose.
    static constexpr std::int32_t kNegativeZero = std::numeric_limits<std::int32_t>::min();
};

// How the arranged points are kept: four numbers a point, which every
// setter may change, or as what placed them where the arrangement can, until
// MakeEditable.
enum class PointStorage { Editable, AsPlaced };

class ArrangedPoints {
public:
    // Row 0 of both tables: the survey's longitude and latitude headings.
    std::string lonHeading;
    std::string latHeading;

    std::size_t size() const { return placed_ ? placed_->size() : lon_.size(); }
    // Rows of the table, heading row included.
    std::size_t rowCount() const { return size() + 1; }
    void clear();
    // The setters and the growing below throw std::logic_error on points
    // kept as placed: MakeEditable first, on one thread.
    void reserve(std::size_t n);
    // n points, each set in place by setPosition and setValue.
    void resize(std::size_t n);
    void append(double lon, double lat, double field, double gradient);

    double lon(std::size_t i) const {
        if (!placed_) return lon_[i];
        double lon = 0, lat = 0;
        placed_->Position(i, lon, lat);
        return lon;
    }
    double lat(std::size_t i) const {
        if (!placed_) return lat_[i];
        double lon = 0, lat = 0;
        placed_->Position(i, lon, lat);
        return lat;
    }
    double value(PointTable t, std::size_t i) const {
        if (placed_) return placed_->Value(t, i);
        return t == PointTable::Absolute ? field_[i] : gradient_[i];
    }
    void setPosition(std::size_t i, double lon, double lat) {
        RefuseUnlessEditable();
        lon_[i] = lon;
        lat_[i] = lat;
    }
    void setValue(PointTable t, std::size_t i, double v) {
        RefuseUnlessEditable();
        (t == PointTable::Absolute ? field_ : gradient_)[i] = v;
    }

    // Keeps the points as `placed` alone; copies of these points share it.
    void KeepAsPlaced(PlacedReadings placed);
    bool keptAsPlaced() const { return placed_ != nullptr; }
    // Four numbers a point from here on, the same numbers as before.
    void MakeEditable();

    // The text of cell (column, row) of a table; row 0 is the heading row.
    std::string CellText(PointTable t, int column, std::size_t row) const;
    // Appends one file line: the three cells each followed by ";", then CR LF.
    void AppendFileLine(std::string& out, PointTable t, std::size_t i) const;
    // Writes the file lines of rows [begin, end) of both tables, making each
    // coordinate text once for both; returns the ends of the two texts. Each
    // buffer holds (end - begin) * kFileLineCapacity bytes.
    std::pair<char*, char*> WriteFileLines(char* absolute, char* gradient, std::size_t begin, std::size_t end) const;

    std::size_t memoryBytes() const {
        return 4 * lon_.capacity() * sizeof(double) + (placed_ ? placed_->memoryBytes() : 0);
    }

private:
    // The two coordinate cells of row i, each followed by ";".
    char* WriteCoordinateCells(char* out, std::size_t i) const;
    void RefuseUnlessEditable() const {
        if (placed_) ThrowKeptAsPlaced();
    }
    [[noreturn]] static void ThrowKeptAsPlaced();

    // Values are left as they come when the tables grow: every point is set
    // before it is read, and filling twelve million of them first costs time.
    template <typename T>
    struct LeftAsTheyCome : std::allocator<T> {
        template <typename U>
        struct rebind {
            using other = LeftAsTheyCome<U>;
        };
        template <typename U>
        void construct(U* p) noexcept {
            ::new (static_cast<void*>(p)) U;
        }
        template <typename U, typename... Args>
        void construct(U* p, Args&&... args) {
            ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
        }
    };
    using Values = std::vector<double, LeftAsTheyCome<double>>;
    Values lon_, lat_, field_, gradient_;
    // Never changed once kept: copies share it.
    std::shared_ptr<const PlacedReadings> placed_;
};

const char* ValueHeading(PointTable t);

// Room one file line may take: three cells, their separators and CR LF.
inline constexpr std::size_t kFileLineCapacity = 3 * kNumberTextCapacity + 5;

inline char* WriteCoordinate(char* out, double v) { return WriteFixed8(out, v); }
inline char* WritePointValue(char* out, double v) { return WriteFixed1(out, v); }
// The number WritePointValue's text of v reads back as.
inline double PointValueAsWritten(double v) { return Fixed1AsRead(v); }

}  // namespace qgrad
