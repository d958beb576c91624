// Number text: the exact forms in which numbers enter and leave the survey
// table, the point tables, the files and the map request.
//
// Every text form rounds the exact binary value once; an exact tie goes away
// from zero. Arithmetic rounding (RoundHalfEven) goes to the even neighbour.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace qgrad {

// The number format of the program: point as decimal separator, no digit
// grouping, ";" between fields.
struct PointFormatSettings {
    char decimalSeparator = '.';
    char listSeparator = ';';
};
inline constexpr PointFormatSettings kPointFormat{};

// Room that every Write* function below may use.
inline constexpr std::size_t kNumberTextCapacity = 64;

// Fixed notation with exactly `decimals` decimals after rounding to whichever
// is fewer, `maxSignificant` significant digits or `decimals` decimals. A value
// whose integer part has more than `maxSignificant` digits after that rounding
// is written in exponent form ("1.2346E05"). A negative value that rounds to
// zero loses its minus. Requires 0 <= decimals <= 20 and 1 <= maxSignificant <= 17.
char* WriteFixed(char* out, double v, int decimals, int maxSignificant);
std::string FormatFixed(double v, int decimals, int maxSignificant);
void AppendFixed(std::string& out, double v, int decimals, int maxSignificant);

// Coordinates: 8 decimals, at most 12 significant digits.
char* WriteFixed8(char* out, double v);
inline std::string FormatFixed8(double v) { return FormatFixed(v, 8, 12); }
// Point values: 1 decimal, at most 8 significant digits.
char* WriteFixed1(char* out, double v);
// The number WriteFixed1's text of v reads back as, without making the text.
double Fixed1AsRead(double v);

// General text: the value rounded to 15 significant digits, no trailing
// zeros, plain notation for 1E-5 <= |v| < 1E15, otherwise "9E-6", "1.5E15".
char* WriteGeneral(char* out, double v);
std::string FormatGeneral(double v);

// The time pattern "000000.##0": at least six integer digits, exactly three
// decimals, every integer digit however many (never the exponent form).
char* WriteTimePattern(char* out, double v);
// Room that WriteTimePattern may use: the largest double has 309 integer digits.
inline constexpr std::size_t kTimePatternCapacity = 320;
std::string FormatTimePattern(double v);

// Round to the nearest whole number, halves to even. Throws std::range_error
// for a value that is not finite or lies outside the 64-bit range.
std::int64_t RoundHalfEven(double v);

// Parses a decimal number: optional blanks, optional sign, digits with at most
// one decimal separator (at least one digit), optional exponent (E or e, sign,
// digits), optional blanks. Rejects everything else, including NaN and
// infinity texts and values out of the double range.
bool TryParseNumber(std::string_view text, double& value, char decimalSeparator = '.');
// A number as TryParseNumber reads it whose value is a whole number in the
// 32-bit range ("25", " -30 ", "5.0", "2E3").
bool TryParseInt32(std::string_view text, std::int32_t& value);

// The decimal separator of the user's regional settings.
char RegionalDecimalSeparator();

}  // namespace qgrad
