// The survey table: the cleaned survey as text cells in 28 columns. Rows 0 to
// 2 are the heading rows, each further row one sample.
//
// Each column keeps its cells back to back in one character arena with one
// end offset per cell, so a million-row survey costs its text plus four bytes
// a cell. Cells are changed by rebuilding a column (ColumnRewriter), which
// fits every rewrite the program does: whole columns, top to bottom.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qgrad {

class TextColumn {
public:
    std::size_t size() const { return ends_.size(); }
    std::string_view operator[](std::size_t row) const {
        const std::uint32_t begin = row == 0 ? 0 : ends_[row - 1];
        return std::string_view(bytes_.data() + begin, ends_[row] - begin);
    }
    // Throws std::length_error past 4 GiB of text in one column.
    void push_back(std::string_view text);
    void reserve(std::size_t rows, std::size_t bytes);
    void clear();
    std::size_t textBytes() const { return bytes_.size(); }
    std::size_t memoryBytes() const { return bytes_.capacity() + ends_.capacity() * sizeof(std::uint32_t); }

private:
    std::string bytes_;
    std::vector<std::uint32_t> ends_;
};

class SurveyTable {
public:
    static constexpr int kColumns = 28;
    static constexpr int kHeadingRows = 3;

    std::size_t rowCount() const { return columns_[0].size(); }
    std::size_t dataRowCount() const { return rowCount() > kHeadingRows ? rowCount() - kHeadingRows : 0; }
    std::string_view cell(int column, std::size_t row) const { return columns_[column][row]; }

    TextColumn& column(int c) { return columns_[c]; }
    const TextColumn& column(int c) const { return columns_[c]; }

    // Appends a row; fields past the 28th are ignored, missing ones are empty.
    void appendRow(const std::string_view* fields, std::size_t count);
    void clear();
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
