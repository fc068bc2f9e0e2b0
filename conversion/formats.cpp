#include "conversion/formats.h"
#include "conversion/io_detail.h"

#include <algorithm>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <system_error>

namespace dormal {

namespace {

// Room for any double written in full (about 310 integer digits), the pattern's literals
// and the sign.
constexpr std::size_t kFormatBuffer = 512;

constexpr bool isPlaceholder(char c) {
    return c == '#' || c == '0';
}

// A value split into decimal digits after rounding to `decimals` places: `intDigits`
// without leading zeros (empty for a value below 1), `fracDigits` exactly `decimals` long.
struct Decimal {
    char intDigits[340];
    std::size_t intLen = 0;
    char fracDigits[32];
    std::size_t fracLen = 0;
    bool negative = false;
};

// Rounds |v| to `decimals` places, halves away from zero. The value is first written with
// 15 significant digits (what a double holds reliably), so a typed 2.0005 rounds to 2.001
// although its binary value lies a little below the half.
void toDecimal(double v, int decimals, Decimal& d, bool fast) {
    d.negative = std::signbit(v);
    const double a = std::fabs(v);

    // Fast path for the usual magnitudes: scale, and round where the fraction is clearly
    // not a half. Writing with 15 significant digits moves the scaled value by at most
    // 5e-16 * 1e12 = 5e-4, so outside 0.5 +- 1e-3 both ways give the same digits.
    static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
    static constexpr unsigned long long kPow10Int[] = {
        1ULL,        10ULL,        100ULL,        1000ULL,        10000ULL,        100000ULL,       1000000ULL,
        10000000ULL, 100000000ULL, 1000000000ULL, 10000000000ULL, 100000000000ULL, 1000000000000ULL};
    if (fast && decimals <= 12) {
        const double m = a * kPow10[decimals];
        if (m < 1e12) {
            const double f = std::floor(m);
            const double frac = m - f;
            if (std::fabs(frac - 0.5) > 1e-3) {
                const auto r = static_cast<unsigned long long>(f) + (frac > 0.5 ? 1 : 0);
                const unsigned long long ip = r / kPow10Int[decimals];
                unsigned long long fp = r % kPow10Int[decimals];
                d.intLen = 0;
                if (ip > 0)
                    d.intLen =
                        static_cast<std::size_t>(std::to_chars(d.intDigits, d.intDigits + 20, ip).ptr - d.intDigits);
                d.fracLen = static_cast<std::size_t>(decimals);
                for (int i = decimals - 1; i >= 0; --i) {
                    d.fracDigits[i] = static_cast<char>('0' + fp % 10);
                    fp /= 10;
                }
                if (r == 0)
                    d.negative = false;
                return;
            }
        }
    }

    char sci[40];
    const auto res = std::to_chars(sci, sci + sizeof sci, a, std::chars_format::scientific, 14);
    // sci = "d.dddddddddddddde+XX"
    char digits[20];
    int nd = 0;
    const char* p = sci;
    for (; p < res.ptr && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9')
            digits[nd++] = *p;
    }
    int exp10 = 0;
    if (p < res.ptr && *p == 'e')
        std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), res.ptr, exp10);

    // Keep the digits down to 10^-decimals: that is exp10 + 1 + decimals of them.
    int keep = exp10 + 1 + decimals;
    if (keep < 0) {
        nd = 0;
    } else if (keep < nd) {
        const bool up = digits[keep] >= '5';
        nd = keep;
        if (up) {
            int i = nd - 1;
            while (i >= 0 && digits[i] == '9') {
                digits[i] = '0';
                --i;
            }
            if (i >= 0) {
                ++digits[i];
            } else {
                // All nines (or nothing kept): the carry adds a leading 1.
                std::memmove(digits + 1, digits, static_cast<std::size_t>(nd));
                digits[0] = '1';
                ++nd;
                ++exp10;
            }
        }
    }
    // digits[0..nd) hold the value with the first digit at 10^exp10; missing digits are 0.
    const int intCount = exp10 + 1;
    d.intLen = 0;
    bool any = false;
    for (int i = 0; i < intCount; ++i) {
        const char c = i < nd ? digits[i] : '0';
        if (!any && c == '0')
            continue;
        any = true;
        if (d.intLen < sizeof d.intDigits)
            d.intDigits[d.intLen++] = c;
    }
    d.fracLen = 0;
    for (int i = 0; i < decimals && d.fracLen < sizeof d.fracDigits; ++i) {
        const int idx = intCount + i;
        d.fracDigits[d.fracLen++] = (idx >= 0 && idx < nd) ? digits[idx] : '0';
    }
    bool zero = d.intLen == 0;
    for (std::size_t i = 0; zero && i < d.fracLen; ++i)
        zero = d.fracDigits[i] == '0';
    if (zero)
        d.negative = false; // no "-0.000"
}

// Writes `value` by `pattern` into `out` (at least kFormatBuffer bytes), reading the pattern
// as it goes; returns the length. The reference for the compiled patterns below.
std::size_t formatInterpreted(char* out, double value, std::string_view pattern, char sep, bool fast) {
    if (!std::isfinite(value)) {
        const char* t = std::isnan(value) ? "NaN" : (value < 0 ? "-Inf" : "Inf");
        const std::size_t n = std::strlen(t);
        std::memcpy(out, t, n);
        return n;
    }
    const std::size_t dot = pattern.find('.');
    const std::string_view intPart = pattern.substr(0, dot);
    const std::string_view fracPart = dot == std::string_view::npos ? std::string_view{} : pattern.substr(dot + 1);
    int decimals = 0;
    for (const char c : fracPart)
        decimals += isPlaceholder(c) ? 1 : 0;
    if (decimals > 30)
        decimals = 30;

    Decimal d;
    toDecimal(value, decimals, d, fast);

    // Integer section, built right to left at the end of a scratch area.
    char scratch[kFormatBuffer];
    char* const end = scratch + sizeof scratch;
    char* w = end;
    std::size_t di = d.intLen; // digits still to place, taken from the right
    for (std::size_t i = intPart.size(); i-- > 0;) {
        const char c = intPart[i];
        if (isPlaceholder(c)) {
            if (di > 0)
                *--w = d.intDigits[--di];
            else if (c == '0')
                *--w = '0';
        } else {
            *--w = c;
        }
    }
    // Surplus digits go in front of the whole integer section.
    while (di > 0 && w > scratch + 1)
        *--w = d.intDigits[--di];
    if (d.negative)
        *--w = '-';

    std::size_t n = static_cast<std::size_t>(end - w);
    std::memcpy(out, w, n);
    if (dot != std::string_view::npos) {
        out[n++] = sep;
        std::size_t fi = 0;
        for (const char c : fracPart) {
            if (n >= kFormatBuffer - 1)
                break;
            if (isPlaceholder(c)) {
                out[n++] = fi < d.fracLen ? d.fracDigits[fi] : '0';
                ++fi;
            } else {
                out[n++] = c;
            }
        }
        // '#' in the fraction drops trailing zeros (none of the fixed patterns uses it).
        std::size_t pi = fracPart.size();
        while (pi > 0 && fracPart[pi - 1] == '#' && n > 0 && out[n - 1] == '0') {
            --pi;
            --n;
        }
    }
    return n;
}

// A pattern taken apart once: the integer section, the fraction after the first '.', and the
// number of decimals. A plain pattern ('#'s, then '0's, then a fraction of '0's only, as
// "######0.000") is written without walking the pattern: the digits padded with zeros to the
// number of '0's of the integer section.
struct CompiledPattern {
    std::string_view intPart;
    std::string_view fracPart;
    bool hasDot = false;
    int decimals = 0;
    bool plain = false;
    std::size_t minDigits = 0;
};

constexpr CompiledPattern compilePattern(std::string_view pattern) {
    CompiledPattern c;
    const std::size_t dot = pattern.find('.');
    c.hasDot = dot != std::string_view::npos;
    c.intPart = pattern.substr(0, dot);
    c.fracPart = c.hasDot ? pattern.substr(dot + 1) : std::string_view{};
    bool fracZeros = true;
    for (const char ch : c.fracPart) {
        c.decimals += isPlaceholder(ch) ? 1 : 0;
        fracZeros = fracZeros && ch == '0';
    }
    if (c.decimals > 30)
        c.decimals = 30;
    std::size_t i = 0;
    while (i < c.intPart.size() && c.intPart[i] == '#')
        ++i;
    const std::size_t hashes = i;
    while (i < c.intPart.size() && c.intPart[i] == '0')
        ++i;
    c.minDigits = i - hashes;
    c.plain = i == c.intPart.size() && fracZeros && c.decimals <= 12 && c.minDigits <= 32;
    return c;
}

// "00".."99": two digits at a time.
constexpr char kDigitPairs[] = "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
                               "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
                               "8081828384858687888990919293949596979899";

// Writes x < 10000 as four digits.
inline void fourDigits(char* out, std::uint32_t x) {
    const std::uint32_t hi = x / 100, lo = x % 100;
    std::memcpy(out, kDigitPairs + 2 * hi, 2);
    std::memcpy(out + 2, kDigitPairs + 2 * lo, 2);
}

// Writes r < 10^12 as exactly twelve digits, zeros in front.
inline void twelveDigits(char* out, std::uint64_t r) {
    const auto hi = static_cast<std::uint32_t>(r / 100000000);
    const auto lo = static_cast<std::uint32_t>(r % 100000000);
    fourDigits(out, hi);
    fourDigits(out + 4, lo / 10000);
    fourDigits(out + 8, lo % 10000);
}

// The value |v| * 10^decimals rounded to an integer, halves away from zero, when that is
// safe without the 15-digit text: below 10^12 and with a fraction clearly away from a half,
// and the result of twelve digits at most.
// Writing with 15 significant digits moves the scaled value by at most 5e-16 * 1e12 = 5e-4,
// so outside 0.5 +- 1e-3 both roundings give the same integer. False otherwise.
inline bool scaledRounded(double a, int decimals, std::uint64_t& r) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12};
    if (decimals > 12)
        return false;
    const double m = a * kPow10[decimals];
    if (!(m < 1e12))
        return false;
    const double f = std::floor(m);
    const double frac = m - f;
    if (std::fabs(frac - 0.5) <= 1e-3)
        return false;
    r = static_cast<std::uint64_t>(f) + (frac > 0.5 ? 1 : 0);
    return r < 1000000000000ULL; // twelve digits at most
}

// Places integer and fraction digits by the pattern (any pattern); returns the length.
std::size_t placeDigits(char* out, const CompiledPattern& p, const char* intDigits, std::size_t intLen,
                        const char* fracDigits, std::size_t fracLen, bool negative, char sep) {
    char scratch[kFormatBuffer];
    char* const end = scratch + sizeof scratch;
    char* w = end;
    std::size_t di = intLen; // digits still to place, taken from the right
    for (std::size_t i = p.intPart.size(); i-- > 0;) {
        const char c = p.intPart[i];
        if (isPlaceholder(c)) {
            if (di > 0)
                *--w = intDigits[--di];
            else if (c == '0')
                *--w = '0';
        } else {
            *--w = c;
        }
    }
    // Surplus digits go in front of the whole integer section.
    while (di > 0 && w > scratch + 1)
        *--w = intDigits[--di];
    if (negative)
        *--w = '-';

    std::size_t n = static_cast<std::size_t>(end - w);
    std::memcpy(out, w, n);
    if (p.hasDot) {
        out[n++] = sep;
        std::size_t fi = 0;
        for (const char c : p.fracPart) {
            if (n >= kFormatBuffer - 1)
                break;
            if (isPlaceholder(c)) {
                out[n++] = fi < fracLen ? fracDigits[fi] : '0';
                ++fi;
            } else {
                out[n++] = c;
            }
        }
        // '#' in the fraction drops trailing zeros (none of the fixed patterns uses it).
        std::size_t pi = p.fracPart.size();
        while (pi > 0 && p.fracPart[pi - 1] == '#' && n > 0 && out[n - 1] == '0') {
            --pi;
            --n;
        }
    }
    return n;
}

// Writes `value` by the compiled pattern into `out` (at least kFormatBuffer bytes); returns
// the length. The same text as formatInterpreted, with integer arithmetic for the usual
// magnitudes.
std::size_t formatCompiled(char* out, double value, const CompiledPattern& p, char sep) {
    if (!std::isfinite(value)) {
        const char* t = std::isnan(value) ? "NaN" : (value < 0 ? "-Inf" : "Inf");
        const std::size_t n = std::strlen(t);
        std::memcpy(out, t, n);
        return n;
    }
    std::uint64_t r = 0;
    if (!scaledRounded(std::fabs(value), p.decimals, r)) {
        Decimal d;
        toDecimal(value, p.decimals, d, false);
        return placeDigits(out, p, d.intDigits, d.intLen, d.fracDigits, d.fracLen, d.negative, sep);
    }
    const bool negative = r != 0 && std::signbit(value); // no "-0.000"
    // r as twelve digits: the integer digits, then the decimals. The integer digits start
    // at the first one that is not a leading zero.
    char digits[32]; // twelve digits; the rest lets the copies below move 16 bytes at once
    twelveDigits(digits, r);
    const auto intEnd = static_cast<std::size_t>(12 - p.decimals);
    std::size_t first = 0;
    while (first < intEnd && digits[first] == '0')
        ++first;
    if (p.plain) {
        // Zeros in front up to the pattern's '0's.
        std::size_t n = 0;
        if (negative)
            out[n++] = '-';
        for (std::size_t z = intEnd - first; z < p.minDigits; ++z)
            out[n++] = '0';
        // Fixed 16-byte copies (out has kFormatBuffer bytes of room); only the digits count.
        std::memcpy(out + n, digits + first, 16);
        n += intEnd - first;
        if (p.hasDot) {
            out[n++] = sep;
            std::memcpy(out + n, digits + intEnd, 16);
            n += static_cast<std::size_t>(p.decimals);
        }
        return n;
    }
    return placeDigits(out, p, digits + first, intEnd - first, digits + intEnd, static_cast<std::size_t>(p.decimals),
                       negative, sep);
}

// A plain pattern with `Decimals` decimals and `MinDigits` '0's in its integer section,
// written right to left with two digits at a time: the same text as formatCompiled, which
// takes the values this does not (beyond 10^12 once scaled, near a half, not finite).
template <int Decimals, std::size_t MinDigits>
std::size_t writePlain(char* out, double value, const CompiledPattern& p, char sep) {
    // Both halves fit 32 bits: the integer part is below 10^(12 - Decimals).
    static_assert(Decimals >= 3 && Decimals <= 9);
    std::uint64_t r = 0;
    if (!scaledRounded(std::fabs(value), Decimals, r)) [[unlikely]]
        return formatCompiled(out, value, p, sep);
    constexpr std::uint64_t kScale = [] {
        std::uint64_t s = 1;
        for (int i = 0; i < Decimals; ++i)
            s *= 10;
        return s;
    }();
    auto ip = static_cast<std::uint32_t>(r / kScale);
    auto fp = static_cast<std::uint32_t>(r % kScale);
    // Twelve digits, the point, the sign and the zeros in front, ending 32 bytes in so that
    // a fixed 32-byte copy takes the whole text.
    char tmp[64] = {};
    char* const end = tmp + 32;
    char* w = end;
    for (int i = 0; i < Decimals / 2; ++i) {
        w -= 2;
        std::memcpy(w, kDigitPairs + 2 * (fp % 100), 2);
        fp /= 100;
    }
    if constexpr (Decimals % 2 != 0)
        *--w = static_cast<char>('0' + fp);
    *--w = sep;
    char* const intEnd = w;
    while (ip >= 100) {
        w -= 2;
        std::memcpy(w, kDigitPairs + 2 * (ip % 100), 2);
        ip /= 100;
    }
    if (ip >= 10) {
        w -= 2;
        std::memcpy(w, kDigitPairs + 2 * ip, 2);
    } else if (ip > 0) {
        *--w = static_cast<char>('0' + ip);
    }
    while (static_cast<std::size_t>(intEnd - w) < MinDigits)
        *--w = '0';
    if (r != 0 && std::signbit(value)) // no "-0.000"
        *--w = '-';
    std::memcpy(out, w, 32);
    return static_cast<std::size_t>(end - w);
}

std::string formatToString(double v, const CompiledPattern& pattern, char sep) {
    char buf[kFormatBuffer];
    return std::string(buf, formatCompiled(buf, v, pattern, sep));
}

void appendFormatted(std::string& out, double v, const CompiledPattern& pattern, char sep) {
    char buf[kFormatBuffer];
    out.append(buf, formatCompiled(buf, v, pattern, sep));
}

constexpr CompiledPattern kPlaneField = compilePattern("# ### ##0.000");
constexpr CompiledPattern kSexagesimalField = compilePattern("#0\xC2\xB0 00' 00.0000''");
constexpr CompiledPattern kHeightField = compilePattern("## ##0.000");
constexpr CompiledPattern kDegMin = compilePattern("#0\xC2\xB0.00'");
constexpr CompiledPattern kKm = compilePattern("# 000 km");
constexpr CompiledPattern kReportPlane = compilePattern("######0.000");
constexpr CompiledPattern kReportGeo = compilePattern("#0.00000000");
constexpr CompiledPattern kReportHeight = compilePattern("###0.000");
static_assert(kReportPlane.plain && kReportGeo.plain && kReportHeight.plain && !kPlaneField.plain);
static_assert(kReportPlane.decimals == 3 && kReportPlane.minDigits == 1 && kReportGeo.decimals == 8 &&
              kReportGeo.minDigits == 1 && kReportHeight.decimals == 3 && kReportHeight.minDigits == 1);
static_assert(kReportNumberRoom == kFormatBuffer);

} // namespace

std::string formatPattern(double value, std::string_view pattern, char sep) {
    return formatToString(value, compilePattern(pattern), sep);
}

namespace detail {
std::string formatPatternWithoutShortcut(double value, std::string_view pattern, char sep) {
    char buf[kFormatBuffer];
    return std::string(buf, formatInterpreted(buf, value, pattern, sep, false));
}
std::string formatPatternInterpreted(double value, std::string_view pattern, char sep) {
    char buf[kFormatBuffer];
    return std::string(buf, formatInterpreted(buf, value, pattern, sep, true));
}
} // namespace detail

std::string formatPlaneField(double v, char sep) {
    return formatToString(v, kPlaneField, sep);
}
std::string formatSexagesimalField(double v, char sep) {
    return formatToString(v, kSexagesimalField, sep);
}
std::string formatHeightField(double v, char sep) {
    return formatToString(v, kHeightField, sep);
}
std::string formatDegMin(double v, char sep) {
    return formatToString(v, kDegMin, sep);
}
std::string formatKm(double v, char sep) {
    return formatToString(v, kKm, sep);
}
std::string formatReportPlane(double v, char sep) {
    return formatToString(v, kReportPlane, sep);
}
std::string formatReportGeo(double v, char sep) {
    return formatToString(v, kReportGeo, sep);
}
std::string formatReportHeight(double v, char sep) {
    return formatToString(v, kReportHeight, sep);
}

void appendReportPlane(std::string& out, double v, char sep) {
    appendFormatted(out, v, kReportPlane, sep);
}
void appendReportGeo(std::string& out, double v, char sep) {
    appendFormatted(out, v, kReportGeo, sep);
}
void appendReportHeight(std::string& out, double v, char sep) {
    appendFormatted(out, v, kReportHeight, sep);
}

std::size_t writeReportPlane(char* out, double v, char sep) {
    return writePlain<3, 1>(out, v, kReportPlane, sep);
}
std::size_t writeReportGeo(char* out, double v, char sep) {
    return writePlain<8, 1>(out, v, kReportGeo, sep);
}
std::size_t writeReportHeight(char* out, double v, char sep) {
    return writePlain<3, 1>(out, v, kReportHeight, sep);
}

double sexagesimalDisplayNumber(double typed) {
    const double x = std::fabs(typed);
    double d = std::floor(x);
    const double h = std::floor(100.0 * x);
    double m = h - 100.0 * d;
    // The small addend keeps a typed ...99999 from showing one ten-thousandth short.
    double s = (100.0 * x - h) * 100.0 + 0.00000001;
    if (s >= 59.99995) {
        s = 0;
        m += 1;
        if (m == 60) {
            m = 0;
            d += 1;
        }
    }
    const double n = d * 10000.0 + m * 100.0 + s;
    return typed < 0 ? -n : n;
}

namespace {

// Parses the longest number at the start of [p, e): optional sign, digits with an
// optional ".", optional exponent. Returns the end of what was read (p when nothing).
const char* parseLeadingNumber(const char* p, const char* e, double& value) {
    value = 0;
    const char* q = p;
    bool neg = false;
    if (q < e && (*q == '+' || *q == '-')) {
        neg = *q == '-';
        ++q;
    }
    // Only digits or a point may start the number: from_chars would also take "inf"/"nan".
    if (q == e || !((*q >= '0' && *q <= '9') || *q == '.'))
        return p;
    double v = 0;
    const auto r = std::from_chars(q, e, v, std::chars_format::general);
    if (r.ptr == q)
        return p;
    if (r.ec == std::errc::result_out_of_range) {
        // Too large (or too small) for a double: take the nearest finite value, so range
        // checks refuse it instead of meeting an infinity.
        bool big = false;
        for (const char* c = q; c < r.ptr && *c != 'e' && *c != 'E'; ++c) {
            if (*c >= '1' && *c <= '9') {
                big = true;
                break;
            }
        }
        const char* ep = q;
        while (ep < r.ptr && *ep != 'e' && *ep != 'E')
            ++ep;
        if (ep < r.ptr && ep + 1 < r.ptr && ep[1] == '-')
            big = false;
        v = big ? DBL_MAX : 0.0;
    }
    value = neg ? -v : v;
    return r.ptr;
}

} // namespace

double parseTypedNumber(std::string_view text) {
    char buf[256];
    std::size_t n = 0;
    for (const char c : text) {
        if (c == ' ')
            continue;
        if (n == sizeof buf)
            break;
        buf[n++] = c;
    }
    double v = 0;
    parseLeadingNumber(buf, buf + n, v);
    return v;
}

namespace {

// The usual data field, "[-+]digits" or "[-+]digits.digits" with at most 15 digits in all:
// the digits make an integer below 2^53 and the decimals a power of ten below 10^22, both
// exact doubles, so their quotient is the correctly rounded value, the one from_chars gives.
// Reads from p and returns where the field's form ends (the caller says what may follow),
// or nullptr when the text there is not of this form.
const char* scanShortDecimal(const char* p, const char* e, double& value) {
    static constexpr double kPow10[] = {1e0, 1e1, 1e2, 1e3, 1e4, 1e5, 1e6, 1e7, 1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
    const bool neg = p < e && *p == '-';
    if (p < e && (*p == '-' || *p == '+'))
        ++p;
    std::uint64_t m = 0;
    const char* intStart = p;
    while (p < e && static_cast<unsigned>(*p - '0') < 10) {
        m = m * 10 + static_cast<unsigned>(*p - '0');
        ++p;
    }
    if (p == intStart)
        return nullptr;
    std::ptrdiff_t digits = p - intStart;
    int decimals = 0;
    if (p < e && *p == '.') {
        ++p;
        const char* fracStart = p;
        while (p < e && static_cast<unsigned>(*p - '0') < 10) {
            m = m * 10 + static_cast<unsigned>(*p - '0');
            ++p;
        }
        decimals = static_cast<int>(p - fracStart);
        if (decimals == 0)
            return nullptr;
        digits += decimals;
    }
    if (digits > 15)
        return nullptr;
    const double v = static_cast<double>(m) / kPow10[decimals];
    value = neg ? -v : v;
    return p;
}

bool parseShortDecimal(const char* p, const char* e, double& value) {
    double v = 0;
    const char* q = scanShortDecimal(p, e, v);
    if (q != e)
        return false;
    value = v;
    return true;
}

} // namespace

const char* parseShortDataField(const char* p, const char* e, double& value) {
    double v = 0;
    const char* q = scanShortDecimal(p, e, v);
    if (q == nullptr || (q != e && *q != ' '))
        return nullptr;
    value = v;
    return q;
}

bool parseWholeNumber(std::string_view text, double& value) {
    const char* b = text.data();
    const char* e = b + text.size();
    if (b == e)
        return false;
    if (parseShortDecimal(b, e, value))
        return true;
    double v = 0;
    const char* q = parseLeadingNumber(b, e, v);
    if (q != e || q == b)
        return false;
    // A mantissa without digits ("." or "-.") or a value beyond the doubles is not a number.
    bool digit = false;
    for (const char* c = b; c < e && *c != 'e' && *c != 'E'; ++c)
        digit = digit || (*c >= '0' && *c <= '9');
    if (!digit || std::fabs(v) == DBL_MAX)
        return false;
    value = v;
    return true;
}

} // namespace dormal
