#include "arrange/arrangedpoints.h"

#include "common/numtext.h"

#include <bit>
#include <cmath>
#include <cstring>
#include <stdexcept>

namespace qgrad {

const char* ValueHeading(PointTable t) { return t == PointTable::Absolute ? "H,nT" : "grad(H),nT/m"; }

std::optional<std::int32_t> PlacedReadings::Hundredths(double reading) {
    const double scaled = reading * 100.0;
    // Both ends kept clear: the lowest stands for -0.
    if (!(std::abs(scaled) < static_cast<double>(std::numeric_limits<std::int32_t>::max()))) return std::nullopt;
    const auto hundredths = static_cast<std::int32_t>(std::nearbyint(scaled));
    if (std::bit_cast<std::uint64_t>(Reading(hundredths)) == std::bit_cast<std::uint64_t>(reading)) return hundredths;
    if (std::bit_cast<std::uint64_t>(reading) == std::bit_cast<std::uint64_t>(-0.0)) return kNegativeZero;
    return std::nullopt;
}

void ArrangedPoints::ThrowKeptAsPlaced() {
    throw std::logic_error("points kept as placed are changed only once made editable");
}

void ArrangedPoints::clear() {
    for (auto* v : {&lon_, &lat_, &field_, &gradient_}) {
        v->clear();
        v->shrink_to_fit();
    }
    placed_.reset();
}

void ArrangedPoints::reserve(std::size_t n) {
    RefuseUnlessEditable();
    for (auto* v : {&lon_, &lat_, &field_, &gradient_}) v->reserve(n);
}

void ArrangedPoints::resize(std::size_t n) {
    RefuseUnlessEditable();
    for (auto* v : {&lon_, &lat_, &field_, &gradient_}) v->resize(n);
}

void ArrangedPoints::KeepAsPlaced(PlacedReadings placed) {
    for (auto* v : {&lon_, &lat_, &field_, &gradient_}) {
        v->clear();
        v->shrink_to_fit();
    }
    placed_ = std::make_shared<const PlacedReadings>(std::move(placed));
}

void ArrangedPoints::MakeEditable() {
    if (!placed_) return;
    const std::shared_ptr<const PlacedReadings> placed = std::move(placed_);
    const std::size_t n = placed->size();
    resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        placed->Position(i, lon_[i], lat_[i]);
        field_[i] = placed->Value(PointTable::Absolute, i);
        gradient_[i] = placed->Value(PointTable::Gradient, i);
    }
}

void ArrangedPoints::append(double lon, double lat, double field, double gradient) {
    RefuseUnlessEditable();
    lon_.push_back(lon);
    lat_.push_back(lat);
    field_.push_back(field);
    gradient_.push_back(gradient);
}

std::string ArrangedPoints::CellText(PointTable t, int column, std::size_t row) const {
    if (row == 0) return column == 0 ? lonHeading : column == 1 ? latHeading : ValueHeading(t);
    const std::size_t i = row - 1;
    char buf[kNumberTextCapacity];
    char* end = column == 0 ? WriteCoordinate(buf, lon(i))
              : column == 1 ? WriteCoordinate(buf, lat(i))
                            : WritePointValue(buf, value(t, i));
    return std::string(buf, end);
}

namespace {

constexpr std::size_t kShortCoordinates = 32;
static_assert(kShortCoordinates <= kFileLineCapacity);

// The value cell that ends a file line, then CR LF.
char* WriteLineEnd(char* out, double value) {
    out = WritePointValue(out, value);
    std::memcpy(out, ";\r\n", 3);
    return out + 3;
}

}  // namespace

char* ArrangedPoints::WriteCoordinateCells(char* out, std::size_t i) const {
    double pointLon = 0, pointLat = 0;
    if (placed_) {
        placed_->Position(i, pointLon, pointLat);
    } else {
        pointLon = lon_[i];
        pointLat = lat_[i];
    }
    out = WriteCoordinate(out, pointLon);
    *out++ = ';';
    out = WriteCoordinate(out, pointLat);
    *out++ = ';';
    return out;
}

void ArrangedPoints::AppendFileLine(std::string& out, PointTable t, std::size_t i) const {
    char buf[kFileLineCapacity];
    out.append(buf, WriteLineEnd(WriteCoordinateCells(buf, i), value(t, i)));
}

std::pair<char*, char*> ArrangedPoints::WriteFileLines(char* absolute, char* gradient, std::size_t begin,
                                                       std::size_t end) const {
    for (std::size_t i = begin; i < end; ++i) {
        char* const coordinatesEnd = WriteCoordinateCells(absolute, i);
        const auto length = static_cast<std::size_t>(coordinatesEnd - absolute);
        // Nearly every pair of coordinates fits one fixed copy, made without
        // a call; the line's room takes the bytes copied beyond the text.
        if (length <= kShortCoordinates)
            std::memcpy(gradient, absolute, kShortCoordinates);
        else
            std::memcpy(gradient, absolute, length);
        absolute = WriteLineEnd(coordinatesEnd, value(PointTable::Absolute, i));
        gradient = WriteLineEnd(gradient + length, value(PointTable::Gradient, i));
    }
    return {absolute, gradient};
}

}  // namespace qgrad
