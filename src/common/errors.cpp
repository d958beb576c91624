#include "common/errors.h"

namespace qgrad {

SurveyFormatError::SurveyFormatError(std::string why, Kind kind)
    : std::runtime_error(kind == Kind::Empty         ? kEmptyFileText
                         : kind == Kind::OutOfMemory ? kOutOfMemoryText
                         : kind == Kind::NotFound    ? kNotFoundText
                                                     : kBadFormatText),
      reason(std::move(why)),
      kind_(kind) {}

SurveyFormatError SurveyFormatError::AtCell(std::size_t line, int column, std::string_view heading,
                                            std::string_view text, std::string reason) {
    SurveyFormatError e(std::move(reason));
    e.line = line;
    e.column = column;
    e.heading = heading;
    e.text = text;
    return e;
}

namespace {
void AppendHex(std::string& out, unsigned char u) {
    constexpr char kHex[] = "0123456789ABCDEF";
    out += "\\x";
    out += kHex[u >> 4];
    out += kHex[u & 15];
}
}  // namespace

std::string EscapeControls(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u == 0x7F)
            AppendHex(out, u);
        else
            out += c;
    }
    return out;
}

std::string EscapeBytes(std::string_view bytes) {
    std::string out;
    for (char c : bytes) AppendHex(out, static_cast<unsigned char>(c));
    return out;
}

std::string QuoteForMessage(std::string_view text) {
    constexpr std::size_t kMax = 40;
    return "\"" + EscapeControls(text.substr(0, kMax)) + (text.size() > kMax ? "...\"" : "\"");
}

std::string SurveyFormatError::detail() const {
    std::string d;
    if (!file.empty()) d += EscapeControls(file) + ": ";
    if (line > 0) {
        d += "line " + std::to_string(line);
        if (column >= 0) {
            d += ", column " + std::to_string(column + 1);
            if (!heading.empty()) {
                const std::string h = QuoteForMessage(heading);
                d += " (" + h.substr(1, h.size() - 2) + ")";
            }
        }
        d += ": ";
    }
    if (line > 0 && column >= 0) d += QuoteForMessage(text) + " ";
    d += reason;
    // A failure with nothing more to say than the file's name (an empty file).
    if (d.size() >= 2 && d.compare(d.size() - 2, 2, ": ") == 0) d.resize(d.size() - 2);
    return d;
}

}  // namespace qgrad
