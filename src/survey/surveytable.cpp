#include "survey/surveytable.h"

#include <limits>
#include <stdexcept>
#include <utility>

namespace qgrad {

void TextColumn::push_back(std::string_view text) {
    if (bytes_.size() + text.size() > std::numeric_limits<std::uint32_t>::max())
        throw std::length_error("a column of the survey holds more than 4 GiB of text");
    bytes_.append(text);
    ends_.push_back(static_cast<std::uint32_t>(bytes_.size()));
}

void TextColumn::reserve(std::size_t rows, std::size_t bytes) {
    ends_.reserve(rows);
    bytes_.reserve(bytes);
}

void TextColumn::clear() {
    bytes_.clear();
    bytes_.shrink_to_fit();
    ends_.clear();
    ends_.shrink_to_fit();
}

void SurveyTable::appendRow(const std::string_view* fields, std::size_t count) {
    for (int c = 0; c < kColumns; ++c)
        columns_[c].push_back(static_cast<std::size_t>(c) < count ? fields[c] : std::string_view());
}

void SurveyTable::clear() {
    for (auto& c : columns_) c.clear();
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
    for (; next_ < row; ++next_) fresh_.push_back(target_[next_]);
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
