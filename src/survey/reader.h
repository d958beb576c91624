// The survey file reader: reads a gradiometer run into the survey table and
// cleans it (time column, units, degrees, missing fixes, offsets, dropped
// readings).
#pragma once

#include "common/fileio.h"
#include "survey/surveytable.h"

#include <QFile>
#include <QIODevice>
#include <QString>

#include <array>
#include <memory>
#include <string>

namespace qgrad {

// Interactive (OPEN FILE) keeps the degree conversion in 32-bit floats;
// Batch (ARRANGE ALL IN FOLDER) works in 64-bit throughout.
enum class ReaderVariant { Interactive, Batch };

enum class ReadResult { Loaded, Empty };

// What the reader learns besides the table: sensor offsets in metres (right
// of the course, behind the antenna) and the hemisphere signs.
struct SurveyGeometry {
    std::array<double, kChannels> offsetX{};
    std::array<double, kChannels> offsetY{};
    int latitudeSign = 1;
    int longitudeSign = 1;
};

// Opens the survey file for reading; only a regular file is opened. Throws
// SurveyFormatError.
std::unique_ptr<InputFile> OpenSurveyFile(const QString& path);

// A last line without its line end and with fewer fields than the heading
// row and the line before: the file was cut off while it was written or
// copied.
struct CutLastLine {
    std::size_t line = 0;  // 1-based; 0 when the file ends whole
    std::size_t fields = 0;
    std::size_t headingFields = 0;
    explicit operator bool() const { return line != 0; }
};

// What the opening says of a cut last line left out: the fixed text in the
// interface language, the detail, and both after the file's name.
QString CutLastLineText();
std::string CutLastLineDetail(const CutLastLine& cut);
QString CutLastLineNote(const CutLastLine& cut, const QString& fileName);

// How the reader takes the file in: `pieceBytes` at a time (0: as suits the
// file's size). Once the heading lines are read, the whole lines of a piece
// that come to `halvesFrom` bytes or more are split at a line end near their
// middle and each half is read on its own core; a half that meets a line the
// lines before cannot settle hands it to the line-by-line reading.
struct ReadingPieces {
    std::size_t pieceBytes = 0;
    std::size_t halvesFrom = 256 << 10;
};

// Reads the lines into the table (rows 0 to 2 the heading lines, the 4th line
// dropped, then one row per data line) and closes the input. Empty for fewer
// than three lines. Throws SurveyFormatError for a read failure, a survey
// without data lines, or a file opened by OpenSurveyFile that changed while
// it was read. A data line whose position is not a number refuses the
// survey as the cleaning in `variant` would refuse the whole file, without
// keeping the lines after it; the table then holds the rows up to it as far
// as they were cleaned. A cut last line is left out and told in `cut`.
ReadResult ReadSurveyLines(QIODevice& input, SurveyTable& table, ReaderVariant variant, CutLastLine* cut = nullptr,
                           const ReadingPieces& pieces = {});

// Cleans a table that ReadSurveyLines has loaded. Throws SurveyFormatError;
// the table and geometry then hold what the steps so far produced.
void CleanSurveyTable(SurveyTable& table, ReaderVariant variant, SurveyGeometry& geometry);

// Open, read and clean in one call.
ReadResult ReadSurveyFile(const QString& path, ReaderVariant variant, SurveyTable& table,
                          SurveyGeometry& geometry);

// Whether any data row of a cleaned table has a GPS fix: a latitude or a
// longitude that is not 0.
bool HasFix(const SurveyTable& table);

// The line of the file that table row `row` came from (1-based).
std::size_t FileLineOfRow(std::size_t row);

// The number in a cell (point as separator). Throws SurveyFormatError naming
// the line, the column and the text.
double CellNumber(const SurveyTable& table, int column, std::size_t row);

}  // namespace qgrad
