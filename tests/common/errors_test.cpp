#include "common/errors.h"

#include <gtest/gtest.h>

using namespace qgrad;

namespace {

SurveyFormatError InFile(SurveyFormatError e, const char* file) {
    e.file = file;
    return e;
}

TEST(SurveyFormatError, DetailIsBuiltFromTheFields) {
    const struct {
        const char* name;
        SurveyFormatError error;
        const char* detail;
    } cases[] = {
        {"cell", SurveyFormatError::AtCell(5, 1, "Latitude,N", "55x45", "is not a number"),
         "line 5, column 2 (Latitude,N): \"55x45\" is not a number"},
        {"cell in a named file", InFile(SurveyFormatError::AtCell(7, 2, "Longitude,E", "", "is not a number"), "run.csv"),
         "run.csv: line 7, column 3 (Longitude,E): \"\" is not a number"},
        {"cell without a heading", SurveyFormatError::AtCell(2, 3, "", "x", "is not a whole number"),
         "line 2, column 4: \"x\" is not a whole number"},
        {"control bytes shown escaped", SurveyFormatError::AtCell(5, 0, "T\time", "a\x01", "is bad"),
         "line 5, column 1 (T\\x09ime): \"a\\x01\" is bad"},
        {"long text cut short", SurveyFormatError::AtCell(5, 0, "Time", std::string(100, 'z'), "is bad"),
         "line 5, column 1 (Time): \"zzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzzz...\" is bad"},
        {"no place", SurveyFormatError("the file has 4 lines and no data line"), "the file has 4 lines and no data line"},
        {"empty file named", InFile(SurveyFormatError({}, SurveyFormatError::Kind::Empty), "e.csv"), "e.csv"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.detail(), c.detail) << c.name;
}

TEST(SurveyFormatError, FixedTextByKind) {
    EXPECT_STREQ(SurveyFormatError("x").what(), kBadFormatText);
    EXPECT_STREQ(SurveyFormatError({}, SurveyFormatError::Kind::Empty).what(), kEmptyFileText);
}

}  // namespace
