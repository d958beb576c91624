#include "common/griddingscript.h"

namespace qgrad {

std::string FillGriddingScript(std::string_view dataLiteral, std::string_view gridLiteral, std::int32_t cols,
                               std::int32_t rows) {
    const std::string colsText = std::to_string(cols), rowsText = std::to_string(rows);
    const std::pair<std::string_view, std::string_view> fills[] = {
        {kScriptDataFile, dataLiteral}, {kScriptGridFile, gridLiteral}, {kScriptColumns, colsText}, {kScriptRows, rowsText}};
    std::string out;
    for (std::string_view line : kGriddingScriptLines) {
        while (!line.empty()) {
            // The next placeholder on the line, if any.
            std::size_t at = std::string_view::npos;
            std::string_view value, name;
            for (const auto& [placeholder, text] : fills) {
                const std::size_t p = line.find(placeholder);
                if (p < at) {
                    at = p;
                    name = placeholder;
                    value = text;
                }
            }
            out.append(line.substr(0, at));
            if (at == std::string_view::npos) break;
            out.append(value);
            line.remove_prefix(at + name.size());
        }
        out += "\r\n";
    }
    return out;
}

}  // namespace qgrad
