// Failures that travel to the handler that reports them.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

namespace qgrad {

// The fixed texts the operator sees.
inline constexpr const char* kEmptyFileText = "Пустой файл!";
inline constexpr const char* kBadFormatText = "Неправильный формат файла!";
inline constexpr const char* kOutOfMemoryText = "Not enough memory to open this file";
inline constexpr const char* kNotFoundText = "File not found";

// A survey the program does not take: an empty file, one it cannot read or
// open, or one too large for the memory at hand. what() is the fixed text;
// the fields say where and why, and detail() puts them into words for a
// person to act on.
class SurveyFormatError : public std::runtime_error {
public:
    enum class Kind { BadFormat, Empty, OutOfMemory, NotFound };

    // A failure with no place in the file (it cannot be read, it has no data).
    explicit SurveyFormatError(std::string reason, Kind kind = Kind::BadFormat);
    // A cell: the file's line, the table column (0-based), its heading and text.
    static SurveyFormatError AtCell(std::size_t line, int column, std::string_view heading, std::string_view text,
                                    std::string reason);

    Kind kind() const noexcept { return kind_; }
    std::string file;        // the survey's file name, when the caller knows it
    std::size_t line = 0;    // 1-based line of the file; 0 for none
    int column = -1;         // 0-based column of the survey table; -1 for none
    std::string heading;     // the column's heading
    std::string text;        // the offending text
    std::string reason;      // what is wrong with it

    std::string detail() const;

private:
    Kind kind_;
};

// A name or text as it may go into a message, a report or a terminal:
// control bytes (line ends, tabs, escape sequences) shown as \xHH, so that
// a name can neither forge a line nor drive the terminal.
std::string EscapeControls(std::string_view text);
// Every byte as \xHH, for a piece a file format cannot carry.
std::string EscapeBytes(std::string_view bytes);
// A text for a message: quoted, cut short, control bytes shown as \xHH.
std::string QuoteForMessage(std::string_view text);

// An output file that cannot be created or written. what() names the file and
// the reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace qgrad
