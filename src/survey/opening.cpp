#include "survey/opening.h"

namespace qgrad {

Track ReadTrack(const SurveyTable& table) {
    Track t;
    const std::size_t n = table.dataRowCount();
    t.lon.reserve(n);
    t.lat.reserve(n);
    for (std::size_t r = SurveyTable::kHeadingRows; r < table.rowCount(); ++r) {
        t.lon.push_back(static_cast<float>(CellNumber(table, 2, r)));
        t.lat.push_back(static_cast<float>(CellNumber(table, 1, r)));
    }
    return t;
}

std::vector<double> ReadDistances(const SurveyTable& table) {
    std::vector<double> d;
    d.reserve(table.dataRowCount());
    for (std::size_t r = SurveyTable::kHeadingRows; r < table.rowCount(); ++r) d.push_back(CellNumber(table, 3, r));
    return d;
}

RunEnds ReadRunEnds(const SurveyTable& table) {
    const std::size_t first = SurveyTable::kHeadingRows;
    const std::size_t last = table.rowCount() - 1;
    return {static_cast<float>(CellNumber(table, 2, first)), static_cast<float>(CellNumber(table, 1, first)),
            static_cast<float>(CellNumber(table, 2, last)), static_cast<float>(CellNumber(table, 1, last))};
}

}  // namespace qgrad
