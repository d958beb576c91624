// The survey table: the cleaned survey as text cells in 28 columns. Rows 0 to
// 2 are the heading rows, each further row one sample.
//
// Each column keeps its cells back to back in one character arena with one
// end offset per cell, so a million-row survey costs its text plus four bytes
// a cell. The empty cells after a column's last text cost nothing, so the
// columns a survey does not use, and blank lines, take no room. Cells are
// changed by rebuilding a column (ColumnRewriter), which fits every rewrite
// the program does: whole columns, top to bottom.
#pragma once

#include "survey/columns.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace qgrad {

class TextColumn {
public:
    TextColumn() = default;
    TextColumn(TextColumn&&) noexcept = default;
    TextColumn& operator=(TextColumn&&) noexcept = default;

    std::size_t size() const { return rows_; }
    std::string_view operator[](std::size_t row) const {
        if (row >= ends_.size()) return {};
        const std::uint32_t begin = row == 0 ? 0 : ends_[row - 1];
        return std::string_view(bytes_.get() + begin, ends_[row] - begin);
    }
    // Throws std::length_error past 4 GiB of text in one column.
    void push_back(std::string_view text) {
        ++rows_;
        if (text.empty()) return;
        const std::size_t newSize = size_ + text.size();
        if (newSize > capacity_) Grow(newSize);
        std::memcpy(bytes_.get() + size_, text.data(), text.size());
        // The empty cells before this one get their ends.
        ends_.resize(rows_ - 1, static_cast<std::uint32_t>(size_));
        size_ = newSize;
        ends_.push_back(static_cast<std::uint32_t>(newSize));
    }
    // Appends rows [from, to) of another column in one copy.
    void AppendRows(const TextColumn& other, std::size_t from, std::size_t to);
    void reserve(std::size_t rows, std::size_t bytes);
    void clear();
    // No rows, with the room kept for the next ones.
    void clearKeepingCapacity();
    std::size_t textBytes() const { return size_; }
    std::size_t memoryBytes() const { return capacity_ + ends_.capacity() * sizeof(std::uint32_t); }

private:
    void Grow(std::size_t atLeast);

    std::unique_ptr<char[]> bytes_;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;
    std::size_t rows_ = 0;
    // One end a row up to the last row with text; the rows after it are empty.
    std::vector<std::uint32_t> ends_;
};

class SurveyTable {
public:
    static constexpr int kColumns = FieldColumn(kChannels);
    static constexpr int kHeadingRows = static_cast<int>(kFirstDataRow);

    std::size_t rowCount() const { return columns_[0].size(); }
    std::size_t dataRowCount() const { return rowCount() > kHeadingRows ? rowCount() - kHeadingRows : 0; }
    std::string_view cell(int column, std::size_t row) const { return columns_[column][row]; }

    TextColumn& column(int c) { return columns_[c]; }
    const TextColumn& column(int c) const { return columns_[c]; }

    // Appends a row; fields past the 28th are ignored, missing ones are empty.
    void appendRow(const std::string_view* fields, std::size_t count);
    // Appends every row of `other`.
    void appendRows(const SurveyTable& other);
    void clear();
    void clearKeepingCapacity();
    void reserve(std::size_t rows, std::size_t bytes);
    std::size_t memoryBytes() const;

private:
    TextColumn columns_[kColumns];
};

// Rebuilds one column top to bottom: rows not set keep their text. Set rows
// in increasing order; Finish() puts the new column in place. Texts read from
// the old column stay valid until then.
class ColumnRewriter {
public:
    explicit ColumnRewriter(TextColumn& target);
    const TextColumn& old() const { return target_; }
    void Set(std::size_t row, std::string_view text);
    // Copies the remaining rows and replaces the column.
    void Finish();

private:
    void CopyUpTo(std::size_t row);

    TextColumn& target_;
    TextColumn fresh_;
    std::size_t next_ = 0;
    bool finished_ = false;
};

}  // namespace qgrad
