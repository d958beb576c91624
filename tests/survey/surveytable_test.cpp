#include "survey/surveytable.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace qgrad;

namespace {

std::vector<std::string> Cells(const TextColumn& c) {
    std::vector<std::string> cells;
    for (std::size_t r = 0; r < c.size(); ++r) cells.emplace_back(c[r]);
    return cells;
}

// Empty cells after the last text take no room, and every way of filling a
// column reads back the same cells.
TEST(TextColumnTest, EmptyCellsAfterTheLastText) {
    struct Case {
        const char* name;
        std::vector<std::string> cells;
    };
    const Case cases[] = {
        {"all empty", {"", "", "", ""}},
        {"text after empties", {"", "", "a", ""}},
        {"empties between texts", {"a", "", "", "bc", "", "d"}},
        {"text first, then empties", {"xyz", "", "", ""}},
        {"none", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TextColumn pushed;
        for (const std::string& cell : c.cells) pushed.push_back(cell);
        EXPECT_EQ(Cells(pushed), c.cells);
        // Copied in every split into two pieces.
        for (std::size_t split = 0; split <= c.cells.size(); ++split) {
            TextColumn copied;
            copied.AppendRows(pushed, 0, split);
            copied.AppendRows(pushed, split, c.cells.size());
            EXPECT_EQ(Cells(copied), c.cells) << "split at " << split;
        }
        // Rewritten with every second cell replaced.
        TextColumn rewritten;
        for (const std::string& cell : c.cells) rewritten.push_back(cell);
        ColumnRewriter w(rewritten);
        std::vector<std::string> expected = c.cells;
        for (std::size_t r = 1; r < expected.size(); r += 2) {
            expected[r] = r % 4 == 1 ? "" : "new";
            w.Set(r, expected[r]);
        }
        w.Finish();
        EXPECT_EQ(Cells(rewritten), expected);
    }
}

TEST(TextColumnTest, AMillionEmptyCellsCostNothing) {
    TextColumn c;
    c.push_back("heading");
    for (int i = 0; i < 1'000'000; ++i) c.push_back("");
    EXPECT_EQ(c.size(), 1'000'001u);
    EXPECT_LT(c.memoryBytes(), 1024u);
    TextColumn copy;
    copy.AppendRows(c, 0, c.size());
    EXPECT_LT(copy.memoryBytes(), 1024u);
    EXPECT_EQ(copy[1'000'000], "");
}

}  // namespace
