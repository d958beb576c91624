#include "survey/surveytable.h"

#include <algorithm>
#include <limits>
#include <stdexcept>
#include <utility>

namespace qgrad {

namespace {
constexpr std::size_t kMaxColumnText = std::numeric_limits<std::uint32_t>::max();
}

void TextColumn::Grow(std::size_t atLeast) {
    if (atLeast > kMaxColumnText) throw std::length_error("a column of the survey holds more than 4 GiB of text");
    const std::size_t capacity = std::min(kMaxColumnText, std::max({atLeast, capacity_ + capacity_ / 2, std::size_t{256}}));
    auto bytes = std::make_unique_for_overwrite<char[]>(capacity);
    if (size_) std::memcpy(bytes.get(), bytes_.get(), size_);
    bytes_ = std::move(bytes);
    capacity_ = capacity;
}

void TextColumn::AppendRows(const TextColumn& other, std::size_t from, std::size_t to) {
    // Rows past the other column's last text are empty and stay so here.
    const std::size_t withEnds = std::min(to, other.ends_.size());
    if (from < withEnds) {
        const std::uint32_t begin = from == 0 ? 0 : other.ends_[from - 1];
        const std::uint32_t end = other.ends_[withEnds - 1];
        const std::size_t newSize = size_ + (end - begin);
        if (newSize > capacity_) Grow(newSize);
        if (end > begin) std::memcpy(bytes_.get() + size_, other.bytes_.get() + begin, end - begin);
        const std::int64_t shift = static_cast<std::int64_t>(size_) - begin;
        ends_.reserve(rows_ + (withEnds - from));
        ends_.resize(rows_, static_cast<std::uint32_t>(size_));
        for (std::size_t r = from; r < withEnds; ++r)
            ends_.push_back(static_cast<std::uint32_t>(other.ends_[r] + shift));
        size_ = newSize;
    }
    if (from < to) rows_ += to - from;
}

void TextColumn::reserve(std::size_t rows, std::size_t bytes) {
    // A column without text yet needs no ends.
    if (bytes > 0) ends_.reserve(rows);
    if (bytes > capacity_) Grow(bytes);
}

void TextColumn::clear() {
    bytes_.reset();
    size_ = capacity_ = rows_ = 0;
    ends_.clear();
    ends_.shrink_to_fit();
}

void TextColumn::clearKeepingCapacity() {
    size_ = rows_ = 0;
    ends_.clear();
}

void SurveyTable::appendRow(const std::string_view* fields, std::size_t count) {
    for (int c = 0; c < kColumns; ++c)
        columns_[c].push_back(static_cast<std::size_t>(c) < count ? fields[c] : std::string_view());
}

void SurveyTable::appendRows(const SurveyTable& other) {
    for (int c = 0; c < kColumns; ++c) columns_[c].AppendRows(other.columns_[c], 0, other.rowCount());
}

void SurveyTable::clear() {
    for (auto& c : columns_) c.clear();
}

void SurveyTable::clearKeepingCapacity() {
    for (auto& c : columns_) c.clearKeepingCapacity();
}

void SurveyTable::reserve(std::size_t rows, std::size_t bytes) {
    for (auto& c : columns_) c.reserve(rows, bytes);
}

std::size_t SurveyTable::memoryBytes() const {
    std::size_t n = 0;
    for (const auto& c : columns_) n += c.memoryBytes();
    return n;
}

ColumnRewriter::ColumnRewriter(TextColumn& target) : target_(target) {
    fresh_.reserve(target.size(), target.textBytes() + target.textBytes() / 4);
}

void ColumnRewriter::CopyUpTo(std::size_t row) {
    if (row <= next_) return;
    fresh_.AppendRows(target_, next_, row);
    next_ = row;
}

void ColumnRewriter::Set(std::size_t row, std::string_view text) {
    if (row < next_) throw std::logic_error("ColumnRewriter rows must increase");
    CopyUpTo(row);
    fresh_.push_back(text);
    next_ = row + 1;
}

void ColumnRewriter::Finish() {
    if (finished_) return;
    CopyUpTo(target_.size());
    target_ = std::move(fresh_);
    finished_ = true;
}

}  // namespace qgrad
