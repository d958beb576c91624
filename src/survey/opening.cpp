#include "survey/opening.h"

namespace qgrad {

Track ReadTrack(const SurveyTable& table) {
    Track t;
    const std::size_t n = table.dataRowCount();
    t.lon.reserve(n);
    t.lat.reserve(n);
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r) {
        t.lon.push_back(static_cast<float>(CellNumber(table, kLongitude, r)));
        t.lat.push_back(static_cast<float>(CellNumber(table, kLatitude, r)));
    }
    return t;
}

std::vector<double> ReadDistances(const SurveyTable& table) {
    std::vector<double> d;
    d.reserve(table.dataRowCount());
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r) d.push_back(CellNumber(table, kDistance, r));
    return d;
}

RunEnds ReadRunEnds(const SurveyTable& table) {
    const std::size_t last = table.rowCount() - 1;
    auto at = [&](int column, std::size_t row) { return static_cast<float>(CellNumber(table, column, row)); };
    return {at(kLongitude, kFirstDataRow), at(kLatitude, kFirstDataRow), at(kLongitude, last), at(kLatitude, last)};
}

}  // namespace qgrad
