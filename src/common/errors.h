// Failures that travel to the handler that reports them.
#pragma once

#include <stdexcept>
#include <string>

namespace qgrad {

// The fixed texts the operator sees.
inline constexpr const char* kEmptyFileText = "Пустой файл!";
inline constexpr const char* kBadFormatText = "Неправильный формат файла!";

// A survey file that cannot be read or opened. what() is the fixed text;
// detail() says where and why, for a person to act on.
class SurveyFormatError : public std::runtime_error {
public:
    explicit SurveyFormatError(std::string detail)
        : std::runtime_error(kBadFormatText), detail_(std::move(detail)) {}
    const std::string& detail() const noexcept { return detail_; }

private:
    std::string detail_;
};

// An output file that cannot be created or written. what() names the file and
// the reason.
class FileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace qgrad
