#include "arrange/arrangedpoints.h"

#include "common/numtext.h"

#include <cstring>

namespace qgrad {

const char* ValueHeading(PointTable t) { return t == PointTable::Absolute ? "H,nT" : "grad(H),nT/m"; }

void ArrangedPoints::clear() {
    for (auto* v : {&lon_, &lat_, &field_, &gradient_}) {
        v->clear();
        v->shrink_to_fit();
    }
}

void ArrangedPoints::reserve(std::size_t n) {
    for (auto* v : {&lon_, &lat_, &field_, &gradient_}) v->reserve(n);
}

void ArrangedPoints::resize(std::size_t n) {
    for (auto* v : {&lon_, &lat_, &field_, &gradient_}) v->resize(n);
}

void ArrangedPoints::append(double lon, double lat, double field, double gradient) {
    lon_.push_back(lon);
    lat_.push_back(lat);
    field_.push_back(field);
    gradient_.push_back(gradient);
}

std::string ArrangedPoints::CellText(PointTable t, int column, std::size_t row) const {
    if (row == 0) return column == 0 ? lonHeading : column == 1 ? latHeading : ValueHeading(t);
    const std::size_t i = row - 1;
    char buf[kNumberTextCapacity];
    char* end = column == 0 ? WriteCoordinate(buf, lon_[i])
              : column == 1 ? WriteCoordinate(buf, lat_[i])
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
    out = WriteCoordinate(out, lon_[i]);
    *out++ = ';';
    out = WriteCoordinate(out, lat_[i]);
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
        absolute = WriteLineEnd(coordinatesEnd, field_[i]);
        gradient = WriteLineEnd(gradient + length, gradient_[i]);
    }
    return {absolute, gradient};
}

}  // namespace qgrad
