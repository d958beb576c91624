#include "survey/opening.h"

#include "common/numtext.h"
#include "common/sidebyside.h"


namespace qgrad {
std::optional<std::size_t> FirstUnreadableRow(const SurveyTable& table, int column, std::vector<double>& out) {
    const TextColumn& cells = table.column(column);
    out.resize(table.dataRowCount());
    for (std::size_t r = kFirstDataRow; r < table.rowCount(); ++r)
        if (!TryParseNumber(cells[r], out[r - kFirstDataRow])) return r;
    return std::nullopt;
}

Positions ReadPositions(const SurveyTable& table) {
    Positions p;
    std::optional<std::size_t> badLon, badLat;
    RunSideBySide([&] { badLat = FirstUnreadableRow(table, kLatitude, p.lat); },
                  [&] { badLon = FirstUnreadableRow(table, kLongitude, p.lon); });
    // Row by row, the longitude before the latitude.
    if (badLon && (!badLat || *badLon <= *badLat)) CellNumber(table, kLongitude, *badLon);
    if (badLat) CellNumber(table, kLatitude, *badLat);
    return p;
}

Track TrackOf(const Positions& positions) {
    Track t;
    t.lon.assign(positions.lon.begin(), positions.lon.end());
    t.lat.assign(positions.lat.begin(), positions.lat.end());
    return t;
}

std::vector<double> ReadDistances(const SurveyTable& table) {
    std::vector<double> d;
    if (const std::optional<std::size_t> bad = FirstUnreadableRow(table, kDistance, d)) CellNumber(table, kDistance, *bad);
    return d;
}

RunEnds ReadRunEnds(const SurveyTable& table) {
    const std::size_t last = table.rowCount() - 1;
    auto at = [&](int column, std::size_t row) { return static_cast<float>(CellNumber(table, column, row)); };
    return {at(kLongitude, kFirstDataRow), at(kLatitude, kFirstDataRow), at(kLongitude, last), at(kLatitude, last)};
}

}  // namespace qgrad
