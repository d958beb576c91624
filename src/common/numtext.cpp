#include "common/numtext.h"

#include <QLocale>

#include <algorithm>
#include <array>
#include <bit>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>
#include <stdexcept>

namespace qgrad {
namespace {

constexpr std::array<double, 23> kPow10 = {
    1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
    1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

constexpr std::array<std::uint64_t, 19> kPow10U = {
    1ull,
    10ull,
    100ull,
    1000ull,
    10000ull,
    100000ull,
    1000000ull,
    10000000ull,
    100000000ull,
    1000000000ull,
    10000000000ull,
    100000000000ull,
    1000000000000ull,
    10000000000000ull,
    100000000000000ull,
    1000000000000000ull,
    10000000000000000ull,
    100000000000000000ull,
    1000000000000000000ull};

constexpr double kTwo52 = 4503599627370496.0;
constexpr double kTwo53 = 9007199254740992.0;
constexpr double kTwo63 = 9223372036854775808.0;

// A rounded non-negative decimal: digits × 10^-dec, digits without leading
// zeros ("0" for zero).
struct Decimal {
    char digits[32];
    int len = 0;
    int dec = 0;
};

void SetDigits(Decimal& d, std::uint64_t n, int dec) {
    auto r = std::to_chars(d.digits, d.digits + sizeof d.digits, n);
    d.len = static_cast<int>(r.ptr - d.digits);
    d.dec = dec;
}

// Exact rounding of a >= 0 at `dec` decimals (dec may be negative), ties away
// from zero, through the exact decimal expansion of the binary value.
void RoundExact(double a, int dec, Decimal& out) {
    // Number of fractional decimal digits that the binary value has.
    int e = 0;
    std::frexp(a, &e);
    int frac = std::clamp(53 - e, 0, 1074);
    static thread_local char buf[1500];
    auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::fixed, frac);
    const char* s = buf;
    const char* end = r.ptr;
    const char* point = std::find(s, end, '.');
    const int intLen = static_cast<int>(point - s);
    const char* fracBegin = point == end ? end : point + 1;
    const int fracLen = static_cast<int>(end - fracBegin);

    // Kept digits: the integer digits and `dec` fraction digits (padded).
    static thread_local char kept[1500];
    int keptLen = 0;
    int firstDropped = 0;  // the first digit that is dropped, 0 when beyond the text
    if (dec >= 0) {
        std::memcpy(kept, s, intLen);
        keptLen = intLen;
        for (int i = 0; i < dec; ++i) kept[keptLen++] = i < fracLen ? fracBegin[i] : '0';
        firstDropped = dec < fracLen ? fracBegin[dec] - '0' : 0;
    } else {
        const int keepInt = intLen + dec;
        if (keepInt > 0) {
            std::memcpy(kept, s, keepInt);
            keptLen = keepInt;
        }
        firstDropped = keepInt >= 0 ? s[keepInt] - '0' : 0;
    }
    if (keptLen == 0) kept[keptLen++] = '0';
    if (firstDropped >= 5) {
        int i = keptLen - 1;
        while (i >= 0 && kept[i] == '9') kept[i--] = '0';
        if (i >= 0) {
            ++kept[i];
        } else {
            // All nines: one more digit in front.
            for (int j = keptLen; j > 0; --j) kept[j] = kept[j - 1];
            kept[0] = '1';
            ++keptLen;
        }
    }
    int lead = 0;
    while (lead < keptLen - 1 && kept[lead] == '0') ++lead;
    const int len = keptLen - lead;
    if (len > static_cast<int>(sizeof out.digits)) throw std::range_error("number text too long");
    std::memcpy(out.digits, kept + lead, len);
    out.len = len;
    out.dec = dec;
}

// a * 10^dec rounded to a whole number, ties away from zero, exactly, when
// the scaled value stays below 2^52 (false otherwise).
[[gnu::always_inline]] inline bool RoundScaled(double a, int dec, std::uint64_t& n) {
    const double p = kPow10[dec];
    const double y = a * p;
    if (!(y < kTwo52)) return false;
    n = static_cast<std::uint64_t>(y);
    const double f = y - static_cast<double>(n);
    // Without a branch: which way a value goes is a coin toss.
    n += f > 0.5 ? 1 : 0;
    // Only a product that rounded onto a half needs its exact error: the
    // rounding of the exact value follows from the sign of that error.
    if (f == 0.5 && std::fma(a, p, -y) >= 0) [[unlikely]]
        ++n;
    return true;
}

// Rounds a >= 0 at `dec` decimals, ties away from zero. Exact; takes a fast
// path through 64-bit integers whenever the scaled value allows it.
void RoundAt(double a, int dec, Decimal& out) {
    if (dec >= 0 && dec < static_cast<int>(kPow10.size())) {
        std::uint64_t n = 0;
        if (RoundScaled(a, dec, n)) {
            SetDigits(out, n, dec);
            return;
        }
    } else if (dec < 0 && -dec < static_cast<int>(kPow10U.size()) && a < kTwo63) {
        // a / 10^k: the fraction of a only matters through the integer
        // remainder, since 10^k / 2 is a whole number.
        const std::uint64_t p = kPow10U[-dec];
        const auto fa = static_cast<std::uint64_t>(a);
        const std::uint64_t rem = fa % p;
        SetDigits(out, fa / p + (rem * 2 >= p ? 1 : 0), dec);
        return;
    }
    RoundExact(a, dec, out);
}

// Decimal exponent of the leading digit of a > 0 (floor(log10 a)), exact.
int DecimalExponent(double a) {
    if (a >= 1.0 && a < kPow10.back()) {
        int e = 0;
        while (e + 1 < static_cast<int>(kPow10.size()) && a >= kPow10[e + 1]) ++e;
        return e;
    }
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific, 20);
    const char* ep = std::find(buf, r.ptr, 'e');
    int e = 0;
    std::from_chars(ep + (ep[1] == '+' ? 2 : 1), r.ptr, e);
    // No double lies within 10^-21 (relative) of a power of ten without
    // being the nearest double to it, so 21 digits never carry here.
    return e;
}

char* WriteExponentForm(char* out, const Decimal& d, bool twoDigitExponent) {
    int last = d.len;
    while (last > 1 && d.digits[last - 1] == '0') --last;
    *out++ = d.digits[0];
    if (last > 1) {
        *out++ = '.';
        std::memcpy(out, d.digits + 1, last - 1);
        out += last - 1;
    }
    *out++ = 'E';
    int e = d.len - 1 - d.dec;
    if (e < 0) {
        *out++ = '-';
        e = -e;
    }
    if (twoDigitExponent && e < 10) *out++ = '0';
    return std::to_chars(out, out + 8, e).ptr;
}

// Writes d in plain notation with at least `minInt` integer digits and
// exactly `decimals` decimals (padding with zeros; never cutting digits).
char* WritePlain(char* out, const Decimal& d, int decimals, int minInt) {
    const int intLen = std::max(0, d.len - d.dec);
    for (int i = intLen; i < minInt; ++i) *out++ = '0';
    if (intLen == 0 && minInt == 0) *out++ = '0';
    if (intLen > 0) {
        const int fromDigits = std::min(intLen, d.len);
        std::memcpy(out, d.digits, fromDigits);
        out += fromDigits;
        for (int i = fromDigits; i < intLen; ++i) *out++ = '0';
    }
    if (decimals > 0) {
        *out++ = '.';
        int written = 0;
        // Leading zeros of the fraction, then the remaining digits.
        for (int i = d.len; i < d.dec && written < decimals; ++i, ++written) *out++ = '0';
        for (int i = std::max(0, d.len - d.dec); i < d.len && written < decimals; ++i, ++written)
            *out++ = d.digits[i];
        for (; written < decimals; ++written) *out++ = '0';
    }
    return out;
}

char* WriteNonFinite(char* out, double v) {
    const char* t = std::isnan(v) ? "NAN" : (v < 0 ? "-INF" : "INF");
    const std::size_t n = std::strlen(t);
    std::memcpy(out, t, n);
    return out + n;
}

bool IsZero(const Decimal& d) { return d.len == 1 && d.digits[0] == '0'; }

constexpr char kDigitPairs[] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// Eight digits of x < 10^8, leading zeros included, as the bytes of one
// 64-bit word in memory order, made in its lanes: coordinates have eight
// decimals.
[[gnu::always_inline]] inline std::uint64_t EightDigits(std::uint32_t x) {
    static_assert(std::endian::native == std::endian::little, "the lanes are laid out in memory order");
    // Two lanes of four digits, then four of two, then eight of one. In
    // these lanes x * 10486 >> 20 is x / 100 (x < 10^4) and x * 103 >> 10 is
    // x / 10 (x < 100).
    const std::uint64_t fours = x / 10000 | static_cast<std::uint64_t>(x % 10000) << 32;
    const std::uint64_t hundreds = ((fours * 10486) >> 20) & 0x0000007F0000007Full;
    const std::uint64_t pairs = ((fours - 100 * hundreds) << 16) + hundreds;
    std::uint64_t digits = ((pairs * 103) >> 10) & 0x000F000F000F000Full;
    digits += (pairs - 10 * digits) << 8;
    return digits + 0x3030303030303030ull;
}

constexpr std::uint64_t kEightDigits = kPow10U[8];

// Exactly `width` digits of x < 10^width, leading zeros included.
[[gnu::always_inline]] inline char* WriteDigitsOfWidth(char* out, std::uint64_t x, int width) {
    char* const end = out + width;
    char* p = end;
    for (; width >= 8; width -= 8) {
        p -= 8;
        const std::uint64_t digits = EightDigits(static_cast<std::uint32_t>(x % kEightDigits));
        std::memcpy(p, &digits, sizeof digits);
        x /= kEightDigits;
    }
    for (; width >= 2; width -= 2) {
        const auto pair = static_cast<unsigned>(x % 100) * 2;
        x /= 100;
        *--p = kDigitPairs[pair + 1];
        *--p = kDigitPairs[pair];
    }
    if (width == 1) *--p = static_cast<char>('0' + x);
    return end;
}

// Number of decimal digits of n < 10^18 (1 for zero), without a loop.
[[gnu::always_inline]] inline int DigitCount(std::uint64_t n) {
    n |= 1;
    // bit_width * 1233 / 4096 is the place of the leading digit or one more.
    const int guess = static_cast<int>(std::bit_width(n)) * 1233 >> 12;
    return guess + (n >= kPow10U[guess] ? 1 : 0);
}

// The whole digits, at least `minDigits` of them. Writes up to eight bytes
// beyond the digits: the text's room allows for that.
[[gnu::always_inline]] inline char* WriteWholeDigits(char* out, std::uint64_t whole, int minDigits) {
    const int width = std::max(DigitCount(whole), minDigits);
    if (width <= 2) {
        // Most coordinates: one pair from the table, its first digit skipped
        // for a single one.
        std::memcpy(out, kDigitPairs + 2 * whole + (2 - width), 2);
        return out + width;
    }
    if (width > 8) return WriteDigitsOfWidth(out, whole, width);
    // All eight digits at once, the leading zeros shifted out: no branch on
    // the length.
    const std::uint64_t digits = EightDigits(static_cast<std::uint32_t>(whole)) >> (8 * (8 - width));
    std::memcpy(out, &digits, sizeof digits);
    return out + width;
}

// The common case: the scaled value fits 52 bits and no exponent form is
// due. Writes straight from the rounded whole number.
[[gnu::always_inline]] inline char* WriteFixedFromScaled(char* out, bool negative, std::uint64_t n, int dec, int decimals, int minInt) {
    // The sign too without a branch: positive and negative values mix.
    *out = '-';
    out += negative && n != 0 ? 1 : 0;
    // n < 2^52 < 10^16 has no whole part beyond the table's decimals.
    const bool fractionOnly = dec >= static_cast<int>(kPow10U.size());
    const std::uint64_t whole = fractionOnly ? 0 : n / kPow10U[dec];
    out = WriteWholeDigits(out, whole, minInt);
    if (decimals > 0) {
        *out++ = '.';
        out = WriteDigitsOfWidth(out, fractionOnly ? n : n - whole * kPow10U[dec], dec);
        for (int i = dec; i < decimals; ++i) *out++ = '0';
    }
    return out;
}

// a * 10^dec rounded, ties away from zero, in n when that fits 52 bits and
// no exponent form is due: more whole digits than maxSignificant after
// rounding (n stays below 2^52 < 10^16).
[[gnu::always_inline]] inline bool ScaledPlain(double a, int dec, int maxSignificant, std::uint64_t& n) {
    if (dec < 0 || dec >= static_cast<int>(kPow10.size()) || !RoundScaled(a, dec, n)) return false;
    const int limit = dec + maxSignificant;
    return limit >= static_cast<int>(kPow10U.size()) || n < kPow10U[limit];
}

// Every value, the leading digit's place setting the decimals.
[[gnu::noinline]] char* WriteFixedAnyValue(char* out, double v, int decimals, int maxSignificant, int minInt) {
    if (!std::isfinite(v)) return WriteNonFinite(out, v);
    const double a = std::fabs(v);
    // Below 1 the significant digits limit the decimals only when there are
    // fewer of them than decimals.
    int dec = decimals;
    if (a >= 1.0 || (a != 0.0 && maxSignificant < decimals))
        dec = std::min(decimals, maxSignificant - 1 - DecimalExponent(a));
    std::uint64_t n = 0;
    if (ScaledPlain(a, dec, maxSignificant, n)) return WriteFixedFromScaled(out, std::signbit(v), n, dec, decimals, minInt);
    Decimal d;
    RoundAt(a, dec, d);
    if (std::signbit(v) && !IsZero(d)) *out++ = '-';
    if (!IsZero(d) && d.len - d.dec > maxSignificant) return WriteExponentForm(out, d, true);
    return WritePlain(out, d, decimals, minInt);
}

// Inlined into each caller, so that the point tables' shapes get their
// divisions by constants and a short path of their own.
[[gnu::always_inline]] inline char* WriteFixedImpl(char* out, double v, int decimals, int maxSignificant, int minInt) {
    // Below 10^(maxSignificant - decimals) the significant digits leave
    // every decimal, wherever the leading digit stands: the common case.
    // Neither NaN nor infinity passes.
    const double a = std::fabs(v);
    std::uint64_t n = 0;
    if (maxSignificant >= decimals && a < kPow10[maxSignificant - decimals] &&
        ScaledPlain(a, decimals, maxSignificant, n)) [[likely]]
        return WriteFixedFromScaled(out, std::signbit(v), n, decimals, decimals, minInt);
    return WriteFixedAnyValue(out, v, decimals, maxSignificant, minInt);
}

template <std::size_t Capacity = kNumberTextCapacity, typename Writer>
std::string ToString(Writer w) {
    char buf[Capacity];
    char* end = w(buf);
    return std::string(buf, end);
}

}  // namespace

char* WriteFixed8(char* out, double v) { return WriteFixedImpl(out, v, 8, 12, 0); }

char* WriteFixed1(char* out, double v) { return WriteFixedImpl(out, v, 1, 8, 0); }

double Fixed1AsRead(double v) {
    // Below a million the text has its one decimal and no exponent: it reads
    // back as the rounded tenths over ten.
    const double a = std::fabs(v);
    std::uint64_t n = 0;
    if (a < 1e6 && RoundScaled(a, 1, n)) return n == 0 ? 0.0 : std::copysign(static_cast<double>(n) / 10.0, v);
    char text[kNumberTextCapacity];
    double read = 0;
    if (!TryParseNumber(std::string_view(text, WriteFixed1(text, v) - text), read))
        throw std::logic_error("a one-decimal text does not read back");
    return read;
}

char* WriteFixed(char* out, double v, int decimals, int maxSignificant) {
    // The point tables' shapes take their own path wherever they are asked for.
    if (decimals == 8 && maxSignificant == 12) return WriteFixed8(out, v);
    if (decimals == 1 && maxSignificant == 8) return WriteFixed1(out, v);
    return WriteFixedImpl(out, v, decimals, maxSignificant, 0);
}

std::string FormatFixed(double v, int decimals, int maxSignificant) {
    return ToString([&](char* b) { return WriteFixed(b, v, decimals, maxSignificant); });
}

void AppendFixed(std::string& out, double v, int decimals, int maxSignificant) {
    char buf[kNumberTextCapacity];
    out.append(buf, WriteFixed(buf, v, decimals, maxSignificant));
}

// A value below 2^53 has at most 16 integer digits, so with its three
// decimals at most 19 significant ones.
constexpr int kTimePatternDigits = 19;

char* WriteTimePattern(char* out, double v) {
    // From 2^53 up every double is a whole number: its exact digits, then
    // three zeros, with no tie to round.
    if (std::isfinite(v) && std::fabs(v) >= kTwo53)
        return std::to_chars(out, out + kTimePatternCapacity, v, std::chars_format::fixed, 3).ptr;
    return WriteFixedImpl(out, v, 3, kTimePatternDigits, 6);
}

std::string FormatTimePattern(double v) {
    return ToString<kTimePatternCapacity>([&](char* b) { return WriteTimePattern(b, v); });
}

char* WriteGeneral(char* out, double v) {
    if (!std::isfinite(v)) return WriteNonFinite(out, v);
    if (v == 0.0) {
        *out++ = '0';
        return out;
    }
    const double a = std::fabs(v);
    Decimal d;
    // The shortest text that reads back as a normal value is the value
    // rounded to 15 digits whenever it has at most 15 digits (half an ulp is
    // less than half a unit of the 15th digit). A subnormal has too few bits
    // for that: 1E-321 reads back as the subnormal 9.98012604599318E-322.
    char buf[40];
    auto r = std::to_chars(buf, buf + sizeof buf, a, std::chars_format::scientific);
    const char* ep = std::find(buf, r.ptr, 'e');
    int e = 0;
    std::from_chars(ep + (ep[1] == '+' ? 2 : 1), r.ptr, e);
    int len = 0;
    for (const char* p = buf; p != ep; ++p)
        if (*p != '.') d.digits[len++] = *p;
    if (len <= 15 && a >= std::numeric_limits<double>::min()) {
        d.len = len;
        d.dec = len - 1 - e;
    } else {
        RoundAt(a, 14 - DecimalExponent(a), d);
    }
    // Drop trailing zeros.
    while (d.len > 1 && d.digits[d.len - 1] == '0') {
        --d.len;
        --d.dec;
    }
    if (std::signbit(v)) *out++ = '-';
    const int exp10 = d.len - 1 - d.dec;
    if (exp10 < -5 || exp10 >= 15) return WriteExponentForm(out, d, false);
    return WritePlain(out, d, std::max(0, d.dec), 0);
}

std::string FormatGeneral(double v) {
    return ToString([&](char* b) { return WriteGeneral(b, v); });
}

std::int64_t RoundHalfEven(double v) {
    if (!(v >= -kTwo63 && v < kTwo63)) throw std::range_error("value out of the whole-number range");
    return static_cast<std::int64_t>(std::nearbyint(v));
}

namespace {

inline bool IsBlank(char c) { return c == ' ' || c == '\t'; }

inline std::string_view TrimBlanks(std::string_view t) {
    while (!t.empty() && IsBlank(t.front())) t.remove_prefix(1);
    while (!t.empty() && IsBlank(t.back())) t.remove_suffix(1);
    return t;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

// The common text: optional minus, at most 15 digits with an optional
// separator, nothing else. A whole number below 2^53 divided by an exact power
// of ten is correctly rounded by the division itself.
inline bool TryParseShortDecimal(std::string_view text, double& value, char decimalSeparator) {
    const char* p = text.data();
    const char* const end = p + text.size();
    const bool negative = p != end && *p == '-';
    if (negative) ++p;
    std::uint64_t mantissa = 0;
    int digits = 0;
    int fraction = 0;
    for (; p != end && static_cast<unsigned>(*p - '0') < 10; ++p, ++digits) mantissa = mantissa * 10 + (*p - '0');
    if (p != end && *p == decimalSeparator) {
        ++p;
        for (; p != end && static_cast<unsigned>(*p - '0') < 10; ++p, ++fraction)
            mantissa = mantissa * 10 + (*p - '0');
    }
    if (p != end || digits + fraction == 0 || digits + fraction > 15) return false;
    const double v = static_cast<double>(mantissa) / kPow10[fraction];
    value = negative ? -v : v;
    return true;
}

bool TryParseNumber(std::string_view text, double& value, char decimalSeparator) {
    if (TryParseShortDecimal(text, value, decimalSeparator)) return true;
    std::string_view t = TrimBlanks(text);
    // Validate the grammar first: from_chars alone would take "inf", "nan"
    // and stop silently at the first character it cannot use.
    std::size_t i = 0;
    const bool negative = !t.empty() && t[0] == '-';
    if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
    std::size_t mantissaDigits = 0;
    std::size_t fractionDigits = 0;
    std::uint64_t mantissa = 0;
    std::size_t separatorAt = std::string_view::npos;
    for (; i < t.size(); ++i) {
        if (IsDigit(t[i])) {
            ++mantissaDigits;
            if (mantissaDigits <= 19) mantissa = mantissa * 10 + static_cast<std::uint64_t>(t[i] - '0');
            if (separatorAt != std::string_view::npos) ++fractionDigits;
        } else if (t[i] == decimalSeparator && separatorAt == std::string_view::npos) {
            separatorAt = i;
        } else {
            break;
        }
    }
    if (mantissaDigits == 0) return false;
    bool exponent = false;
    if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
        exponent = true;
        ++i;
        if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
        std::size_t expDigits = 0;
        for (; i < t.size() && IsDigit(t[i]); ++i) ++expDigits;
        if (expDigits == 0) return false;
    }
    if (i != t.size()) return false;

    // Most texts are short decimals: a whole number below 2^53 divided by an
    // exact power of ten is correctly rounded by the division itself.
    if (!exponent && mantissaDigits <= 15 && fractionDigits < kPow10.size()) {
        const double v = static_cast<double>(mantissa) / kPow10[fractionDigits];
        value = negative ? -v : v;
        return true;
    }

    // from_chars wants a point and no leading "+".
    if (t.front() == '+') {
        t.remove_prefix(1);
        if (separatorAt != std::string_view::npos) --separatorAt;
    }
    std::string copy;
    if (decimalSeparator != '.' && separatorAt != std::string_view::npos) {
        copy.assign(t);
        copy[separatorAt] = '.';
        t = copy;
    }
    double v = 0;
    auto r = std::from_chars(t.data(), t.data() + t.size(), v, std::chars_format::general);
    if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return false;
    value = v;
    return true;
}

bool TryParseInt32(std::string_view text, std::int32_t& value) {
    double v = 0;
    if (!TryParseNumber(text, v) || v != std::trunc(v) || v < std::numeric_limits<std::int32_t>::min() ||
        v > std::numeric_limits<std::int32_t>::max())
        return false;
    value = static_cast<std::int32_t>(v);
    return true;
}

char RegionalDecimalSeparator() {
    const QString point = QLocale::system().decimalPoint();
    return point.size() == 1 && point.at(0).unicode() < 128 ? static_cast<char>(point.at(0).unicode())
                                                              : '.';
}

}  // namespace qgrad
