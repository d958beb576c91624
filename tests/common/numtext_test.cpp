#include "common/numtext.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <charconv>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>

using namespace qgrad;

namespace {

struct FixedCase {
    double value;
    int decimals;
    int significant;
    const char* text;
};

TEST(NumberText, FixedForms) {
    const FixedCase cases[] = {
        {123456.78, 2, 5, "1.2346E05"},           // exponent form, 5 significant digits
        {99999.996, 2, 5, "1E05"},                // exponent chosen after rounding
        {12345.67, 2, 5, "12346.00"},             // significant digits win over decimals
        {1234.567, 2, 5, "1234.60"},
        {0.01, 2, 5, "0.01"},
        {0.0, 2, 5, "0.00"},
        {44.913936614990234375, 8, 12, "44.91393661"},  // rounded once, not via 12 digits
        {55.0000152587890625, 8, 12, "55.00001526"},
        {-37.5, 8, 12, "-37.50000000"},
        {123456789012.5, 8, 12, "123456789013.00000000"},
        {1234567890123.0, 8, 12, "1.23456789012E12"},
        {12.25, 1, 8, "12.3"},                    // exact tie: away from zero
        {-12.25, 1, 8, "-12.3"},
        {0.15, 1, 8, "0.1"},                      // 0.1499999... in binary: no tie
        {101559.0625, 3, 12, "101559.063"},
        {-0.04, 1, 8, "0.0"},                     // negative zero loses its minus
        {-1e-9, 8, 12, "0.00000000"},
        {5e-9, 8, 12, "0.00000001"},
        {2.5, 0, 8, "3"},
        {12345678.25, 1, 8, "12345678.0"},
        {123456789.5, 1, 8, "1.2345679E08"},
        {1e20, 1, 8, "1E20"},
        {-1e300, 8, 12, "-1E300"},
        {4.9e-324, 8, 12, "0.00000000"},
        {std::numeric_limits<double>::infinity(), 1, 8, "INF"},
        {std::nan(""), 1, 8, "NAN"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(FormatFixed(c.value, c.decimals, c.significant), c.text)
            << c.value << " D=" << c.decimals << " S=" << c.significant;
}

TEST(NumberText, GeneralForms) {
    const std::pair<double, const char*> cases[] = {
        {12.5, "12.5"},
        {0.1, "0.1"},
        {0.1 + 0.2, "0.3"},
        {1.0 / 3.0, "0.333333333333333"},
        {2.0 / 3.0, "0.666666666666667"},
        {-2.5, "-2.5"},
        {100.0, "100"},
        {0.0, "0"},
        {550.00008, "550.00008"},
        {37.5, "37.5"},
        {1e-5, "0.00001"},
        {9e-6, "9E-6"},
        {1e15, "1E15"},
        {999999999999999.9, "1E15"},
        {123456789012345.0, "123456789012345"},
        {123456789012345678.0, "1.23456789012346E17"},
        {1.5e-300, "1.5E-300"},
        {std::numeric_limits<double>::min(), "2.2250738585072E-308"},
        // Subnormals: the 15-digit rounding, not the shortest text that reads back.
        {1e-320 / 10, "9.98012604599318E-322"},
        {-std::numeric_limits<double>::denorm_min(), "-4.94065645841247E-324"},
    };
    for (const auto& [v, text] : cases) EXPECT_EQ(FormatGeneral(v), text) << v;
}

TEST(NumberText, TimePattern) {
    const std::pair<double, std::string> cases[] = {
        {93015.5, "093015.500"},
        {101559.2, "101559.200"},
        {101559.0625, "101559.063"},
        {0.0, "000000.000"},
        {-5.5, "-000005.500"},
        {1234567.0, "1234567.000"},
        // No cap on the digits: three decimals however large the value.
        {1000000000000.0 + 1.0 / 3.0, "1000000000000.333"},
        {8796093022208.0625, "8796093022208.063"},  // a tie past 2^52 thousandths: away from zero
        {9007199254740991.0, "9007199254740991.000"},
        {-1e20, "-100000000000000000000.000"},
        {std::numeric_limits<double>::max(), "179769313486231570814527423731704356798070567525844996598917476803157260780028538760589558632766878171540458953514382464234321326889464182768467546703537516986049910576551282076245490090389328944075868508455133942304583236903222948165808559332123348274797826204144723168738177180919299881250404026184124858368.000"},
    };
    for (const auto& [v, text] : cases) EXPECT_EQ(FormatTimePattern(v), text) << v;
}

TEST(NumberText, RoundHalfEven) {
    EXPECT_EQ(RoundHalfEven(2.5), 2);
    EXPECT_EQ(RoundHalfEven(3.5), 4);
    EXPECT_EQ(RoundHalfEven(-2.5), -2);
    EXPECT_EQ(RoundHalfEven(-2.6), -3);
    EXPECT_EQ(RoundHalfEven(101559.0), 101559);
    EXPECT_THROW(RoundHalfEven(1e300), std::range_error);
    EXPECT_THROW(RoundHalfEven(std::nan("")), std::range_error);
}

TEST(NumberText, ParseNumbers) {
    const struct {
        const char* text;
        char separator;
        bool ok;
        double value;
    } cases[] = {
        {"55.1", '.', true, 55.1},   {" 55.1 ", '.', true, 55.1}, {"+5", '.', true, 5},
        {"-5", '.', true, -5},       {".5", '.', true, 0.5},      {"5.", '.', true, 5},
        {"1E+05", '.', true, 1e5},   {"2e-3", '.', true, 2e-3},   {"1,5", ',', true, 1.5},
        {"1,5", '.', false, 0},      {"1.5", ',', false, 0},      {"", '.', false, 0},
        {" ", '.', false, 0},        {"abc", '.', false, 0},      {"nan", '.', false, 0},
        {"inf", '.', false, 0},      {"1e400", '.', false, 0},    {"1.2.3", '.', false, 0},
        {"0x10", '.', false, 0},     {"1e", '.', false, 0},       {"--5", '.', false, 0},
        {"5 5", '.', false, 0},      {"\"5\"", '.', false, 0},    {"+", '.', false, 0},
        {".", '.', false, 0},
    };
    for (const auto& c : cases) {
        double v = -1;
        EXPECT_EQ(TryParseNumber(c.text, v, c.separator), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
    double v = 0;
    EXPECT_FALSE(TryParseNumber(std::string_view("5\0", 2), v));  // a NUL byte is no blank
}

TEST(NumberText, ParseWholeNumbers) {
    const struct {
        const char* text;
        bool ok;
        int value;
    } cases[] = {
        {"25", true, 25},     {"-30", true, -30}, {" 7 ", true, 7},  {"+7", true, 7},
        {"2147483647", true, 2147483647},         {"-2147483648", true, -2147483647 - 1},
        {"2147483648", false, 0},                 {"1.5", false, 0}, {"", false, 0},
        {"abc", false, 0},    {"++7", false, 0},  {"7x", false, 0},
        // The program's number syntax, then a whole value.
        {"+-5", false, 0},    {"-+5", false, 0},  {"5.0", true, 5},  {"-2E3", true, -2000},
        {"0.5e1", true, 5},   {"1e10", false, 0}, {"2147483647.5", false, 0},
    };
    for (const auto& c : cases) {
        std::int32_t v = -1;
        EXPECT_EQ(TryParseInt32(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_EQ(v, c.value) << c.text;
        }
    }
}

// Reference: the exact decimal expansion rounded by hand on its digits.
std::string ReferenceFixed(double v, int decimals, int significant) {
    static char buf[2000];
    auto r = std::to_chars(buf, buf + sizeof buf, std::fabs(v), std::chars_format::fixed, 1100);
    std::string s(buf, r.ptr);
    const auto point = s.find('.');
    std::string digits = s.substr(0, point) + s.substr(point + 1);
    int intLen = static_cast<int>(point);
    const auto firstNonZero = digits.find_first_not_of('0');
    if (firstNonZero == std::string::npos) return decimals ? "0." + std::string(decimals, '0') : "0";
    const int e10 = intLen - 1 - static_cast<int>(firstNonZero);
    const int dec = std::min(decimals, significant - 1 - e10);
    const int keep = intLen + dec;  // digits kept from the start of `digits`
    std::string kept = keep > 0 ? digits.substr(0, keep) : "0";
    const bool up = keep >= 0 && keep < static_cast<int>(digits.size()) && digits[keep] >= '5';
    if (up) {
        int i = static_cast<int>(kept.size()) - 1;
        while (i >= 0 && kept[i] == '9') kept[i--] = '0';
        if (i >= 0) ++kept[i]; else kept.insert(kept.begin(), '1');
    }
    kept.erase(0, std::min(kept.find_first_not_of('0'), kept.size() - 1));
    const bool zero = kept == "0";
    const int len = static_cast<int>(kept.size());
    std::string out = (v < 0 && !zero) ? "-" : "";
    if (!zero && len - dec > significant) {
        std::string m = kept;
        while (m.size() > 1 && m.back() == '0') m.pop_back();
        out += m.substr(0, 1);
        if (m.size() > 1) out += "." + m.substr(1);
        const int e = len - 1 - dec;
        out += "E" + std::string(e < 10 ? "0" : "") + std::to_string(e);
        return out;
    }
    std::string scaled = dec >= 0 ? kept : kept + std::string(-dec, '0');
    const int d = std::max(dec, 0);
    if (static_cast<int>(scaled.size()) <= d) scaled.insert(0, d + 1 - scaled.size(), '0');
    out += scaled.substr(0, scaled.size() - d);
    if (decimals > 0) out += "." + scaled.substr(scaled.size() - d) + std::string(decimals - d, '0');
    return out;
}

TEST(NumberText, FixedAgreesWithExactDecimalExpansion) {
    std::mt19937_64 rng(20261210);
    std::uniform_real_distribution<double> mantissa(-10.0, 10.0);
    std::uniform_int_distribution<int> exponent(-12, 17);
    const std::pair<int, int> forms[] = {{8, 12}, {1, 8}, {2, 5}, {3, 12}, {3, 15}, {8, 5}};
    for (int i = 0; i < 200000; ++i) {
        double v = mantissa(rng) * std::pow(10.0, exponent(rng));
        if (i % 4 == 0) v = std::round(v * 1024.0) / 1024.0;  // many exact ties
        if (i % 8 == 1) v = static_cast<float>(v);
        const auto [d, s] = forms[i % 6];
        ASSERT_EQ(FormatFixed(v, d, s), ReferenceFixed(v, d, s)) << v << " D=" << d << " S=" << s;
    }
}

// Where the point tables' shortcuts turn: the thresholds of the significant
// digits, carries into a new digit, exact ties, signs and zeros, whole parts
// of eight digits and more.
TEST(NumberText, FixedEdgesAgreeWithExactDecimalExpansion) {
    const double values[] = {
        0.0, -0.0, 5e-9, -5e-9, 4.9999999e-9, 0.001953125, -0.001953125, 0.25, -0.25, 0.75, -0.04, 0.95, 9.95,
        9.999999995, 99.999999995, 9999.99999999, 9999.999999995, std::nextafter(1e4, 0.0), 1e4, 1e4 + 1.0 / 1024,
        99999.99999995, 999999.95, 9999999.949999999, 9999999.95, std::nextafter(1e7, 0.0), 1e7, 99999999.95,
        12345678.9, 123456789.9, 1234567890.0625, 4503599627370495.5, 4503599627370496.0, 9007199254740991.0,
        std::numeric_limits<double>::denorm_min(), 1e-300,
    };
    const std::pair<int, int> forms[] = {{8, 12}, {1, 8}, {0, 5}, {3, 17}, {9, 15}, {20, 17}, {12, 12}, {2, 1}};
    for (const double magnitude : values)
        for (const double v : {magnitude, -magnitude})
            for (const auto& [d, s] : forms)
                EXPECT_EQ(FormatFixed(v, d, s), ReferenceFixed(v, d, s)) << v << " D=" << d << " S=" << s;
}

// |v| * 10^decimals rounded to a whole number, ties away from zero, from the
// exact binary value: |v| = mantissa / 2^shift, all in 128 bits.
unsigned __int128 ExactlyScaled(double v, int decimals) {
    int exponent = 0;
    const double fraction = std::frexp(std::fabs(v), &exponent);
    const auto mantissa = static_cast<std::uint64_t>(std::ldexp(fraction, 53));
    const int shift = 53 - exponent;
    unsigned __int128 scaled = mantissa;
    for (int i = 0; i < decimals; ++i) scaled *= 10;
    // Below a half: 2^shift exceeds twice anything 128 bits hold.
    if (shift >= 128) return 0;
    if (shift <= 0) return scaled << -shift;
    const unsigned __int128 whole = scaled >> shift;
    const unsigned __int128 rest = scaled - (whole << shift);
    return whole + (rest >= (static_cast<unsigned __int128>(1) << (shift - 1)) ? 1 : 0);
}

// The text of a value that keeps all its decimals, from the exact scaling.
char* ExpectedFixed(char* out, double v, int decimals) {
    const unsigned __int128 n = ExactlyScaled(v, decimals);
    std::uint64_t unit = 1;
    for (int i = 0; i < decimals; ++i) unit *= 10;
    if (std::signbit(v) && n != 0) *out++ = '-';
    out = std::to_chars(out, out + 24, static_cast<std::uint64_t>(n / unit)).ptr;
    *out++ = '.';
    char fraction[24];
    char* end = std::to_chars(fraction, fraction + sizeof fraction, static_cast<std::uint64_t>(n % unit)).ptr;
    const auto length = static_cast<int>(end - fraction);
    out = std::fill_n(out, decimals - length, '0');
    return std::copy(fraction, end, out);
}

// The two shapes of the point tables over millions of values: broad
// magnitudes, random bit patterns, exact ties and their neighbours.
TEST(NumberText, PointShapesAgreeWithExactScaling) {
    struct Shape {
        const char* name;
        char* (*write)(char*, double);
        int decimals;
        int significant;
        int topExponent;  // every value stays below 10^topExponent: all decimals kept
    };
    const Shape shapes[] = {{"coordinate", WriteFixed8, 8, 12, 4}, {"value", WriteFixed1, 1, 8, 7}};
    std::mt19937_64 rng(16);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (const Shape& shape : shapes) {
        const double top = std::pow(10.0, shape.topExponent);
        const double step = std::pow(10.0, -shape.decimals);
        std::uniform_int_distribution<int> exponent(-shape.decimals - 3, shape.topExponent - 1);
        for (int i = 0; i < 5'000'000; ++i) {
            double v = 0;
            switch (i % 4) {
                case 0: v = unit(rng) * std::pow(10.0, exponent(rng)); break;
                case 1: v = std::bit_cast<double>(rng()); break;
                case 2: {  // a half of the last decimal, give or take an ulp
                    const double tie = (std::floor(unit(rng) * top / step) + 0.5) * step;
                    v = std::nextafter(tie, (rng() & 1) ? 0.0 : top);
                    if (rng() % 3 == 0) v = tie;
                    break;
                }
                default: v = std::ldexp(std::floor(unit(rng) * std::ldexp(top, 12)), -12 - static_cast<int>(rng() % 8));
            }
            if (!(std::fabs(v) < top)) continue;
            if (rng() & 1) v = -v;
            char text[kNumberTextCapacity];
            char expected[kNumberTextCapacity];
            const std::string_view written(text, shape.write(text, v) - text);
            const std::string_view exact(expected, ExpectedFixed(expected, v, shape.decimals) - expected);
            ASSERT_EQ(written, exact) << shape.name << " " << v;
            ASSERT_EQ(FormatFixed(v, shape.decimals, shape.significant), written) << shape.name << " " << v;
        }
    }
}

TEST(NumberText, ParseAgreesWithTheLibrary) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 200000; ++i) {
        std::string text = (rng() % 3 == 0) ? "-" : (rng() % 5 == 0 ? "+" : "");
        const int intDigits = static_cast<int>(rng() % 10);
        const int fracDigits = static_cast<int>(rng() % 12);
        for (int d = 0; d < intDigits; ++d) text += static_cast<char>('0' + rng() % 10);
        if (fracDigits > 0 || intDigits == 0) text += '.';
        for (int d = 0; d < fracDigits || (intDigits == 0 && d == 0); ++d) text += static_cast<char>('0' + rng() % 10);
        if (rng() % 7 == 0) text += "E" + std::to_string(static_cast<int>(rng() % 40) - 20);
        double mine = 0;
        ASSERT_TRUE(TryParseNumber(text, mine)) << text;
        std::string plain = text[0] == '+' ? text.substr(1) : text;
        double reference = 0;
        std::from_chars(plain.data(), plain.data() + plain.size(), reference);
        ASSERT_EQ(mine, reference) << text;
        ASSERT_EQ(std::signbit(mine), std::signbit(reference)) << text;
        std::replace(text.begin(), text.end(), '.', ',');
        ASSERT_TRUE(TryParseNumber(text, mine, ',')) << text;
        ASSERT_EQ(mine, reference) << text;
    }
}

}  // namespace
