// The arranged point tables: one point per sample row and channel with both
// readings present. The absolute table holds the total field, the gradient
// table the gradient; both share the coordinates. Numbers are kept and their
// texts made on demand, always the same texts the tables define:
// coordinates in fixed notation with 8 decimals (at most 12 significant
// digits), values with 1 decimal (at most 8).
#pragma once

#include "common/numtext.h"

#include <cstddef>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qgrad {

enum class PointTable { Absolute, Gradient };

class ArrangedPoints {
public:
    // Row 0 of both tables: the survey's longitude and latitude headings.
    std::string lonHeading;
    std::string latHeading;

    std::size_t size() const { return lon_.size(); }
    // Rows of the table, heading row included.
    std::size_t rowCount() const { return size() + 1; }
    void clear();
    void reserve(std::size_t n);
    // n points, each set in place by setPosition and setValue.
    void resize(std::size_t n);
    void append(double lon, double lat, double field, double gradient);

    double lon(std::size_t i) const { return lon_[i]; }
    double lat(std::size_t i) const { return lat_[i]; }
    double value(PointTable t, std::size_t i) const { return t == PointTable::Absolute ? field_[i] : gradient_[i]; }
    void setPosition(std::size_t i, double lon, double lat) {
        lon_[i] = lon;
        lat_[i] = lat;
    }
    void setValue(PointTable t, std::size_t i, double v) { (t == PointTable::Absolute ? field_ : gradient_)[i] = v; }

    // The text of cell (column, row) of a table; row 0 is the heading row.
    std::string CellText(PointTable t, int column, std::size_t row) const;
    // Appends one file line: the three cells each followed by ";", then CR LF.
    void AppendFileLine(std::string& out, PointTable t, std::size_t i) const;
    // Writes the file lines of rows [begin, end) of both tables, making each
    // coordinate text once for both; returns the ends of the two texts. Each
    // buffer holds (end - begin) * kFileLineCapacity bytes.
    std::pair<char*, char*> WriteFileLines(char* absolute, char* gradient, std::size_t begin, std::size_t end) const;

    std::size_t memoryBytes() const { return 4 * lon_.capacity() * sizeof(double); }

private:
    // The two coordinate cells of row i, each followed by ";".
    char* WriteCoordinateCells(char* out, std::size_t i) const;

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
};

const char* ValueHeading(PointTable t);

// Room one file line may take: three cells, their separators and CR LF.
inline constexpr std::size_t kFileLineCapacity = 3 * kNumberTextCapacity + 5;

inline char* WriteCoordinate(char* out, double v) { return WriteFixed8(out, v); }
inline char* WritePointValue(char* out, double v) { return WriteFixed1(out, v); }
// The number WritePointValue's text of v reads back as.
inline double PointValueAsWritten(double v) { return Fixed1AsRead(v); }

}  // namespace qgrad
