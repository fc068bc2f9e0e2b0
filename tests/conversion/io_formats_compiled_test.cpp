// The compiled number patterns (integer arithmetic for the usual magnitudes) against the
// formatter that reads the pattern at every call and against the one that writes every value
// with 15 significant digits first: the same text for 10 million values, most of them picked
// at the places where rounding can go wrong.
#include <cfloat>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <string_view>

#include <gtest/gtest.h>

#include "conversion/formats.h"
#include "conversion/io_detail.h"

namespace dormal {
namespace {

struct Named {
    std::string_view pattern;
    std::function<std::string(double, char)> format; // the named form; empty: formatPattern
    int decimals;
};

const Named kPatterns[] = {
    {"######0.000", formatReportPlane, 3},
    {"#0.00000000", formatReportGeo, 8},
    {"###0.000", formatReportHeight, 3},
    {"# ### ##0.000", formatPlaneField, 3},
    {"#0\xC2\xB0 00' 00.0000''", formatSexagesimalField, 4},
    {"## ##0.000", formatHeightField, 3},
    {"#0\xC2\xB0.00'", formatDegMin, 2},
    {"# 000 km", formatKm, 0},
    // Patterns no named form uses: zeros only, no integer zero, fraction '#', twelve and
    // thirteen decimals (past the integer shortcut).
    {"0.0000000000", {}, 10},
    {"#.000", {}, 3},
    {"000", {}, 0},
    {"#0.0##", {}, 3},
    {"0.000000000000", {}, 12},
    {"0.0000000000000", {}, 13},
};

// The kinds of values drawn, in turn.
enum class Kind { AnyMagnitude, Half, NearPowerOfTen, Usual, Special, Count };

double draw(Kind kind, int decimals, std::mt19937_64& rng) {
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    const double step = std::pow(10.0, -decimals);
    double v = 0;
    switch (kind) {
    case Kind::AnyMagnitude: // 1e-14 .. 1e17
        v = unit(rng) * std::pow(10.0, static_cast<double>(rng() % 32) - 14.0);
        break;
    case Kind::Half: { // a half of the last decimal, up to 3 ulps away either side
        const double scale = std::pow(10.0, static_cast<double>(rng() % 15) - 2.0);
        v = (std::floor(unit(rng) * scale / step) + 0.5) * step;
        for (int k = static_cast<int>(rng() % 7) - 3; k != 0; k += k > 0 ? -1 : 1)
            v = std::nextafter(v, k > 0 ? DBL_MAX : 0.0);
        break;
    }
    case Kind::NearPowerOfTen: { // 10^k, or half a last decimal below it (the carry), +- ulps
        const double p = std::pow(10.0, static_cast<double>(rng() % 18) - 3.0);
        v = rng() % 2 ? p : p - step / 2;
        for (int k = static_cast<int>(rng() % 5) - 2; k != 0; k += k > 0 ? -1 : 1)
            v = std::nextafter(v, k > 0 ? DBL_MAX : 0.0);
        break;
    }
    case Kind::Usual: { // what the report writes: plane metres, gg.ppssdddd, heights
        const double centres[] = {4.6e6, 2.5e6, 45.0, 1500.0};
        v = centres[rng() % 4] * (0.5 + unit(rng));
        break;
    }
    case Kind::Special: {
        const double specials[] = {0.0,
                                   -0.0,
                                   DBL_MIN,
                                   std::numeric_limits<double>::denorm_min(),
                                   1e-300,
                                   DBL_MAX,
                                   1e300,
                                   9.999999999995e11,
                                   1e12 - 0.5,
                                   std::numeric_limits<double>::infinity(),
                                   std::numeric_limits<double>::quiet_NaN(),
                                   static_cast<double>(std::uint64_t{1} << 53),
                                   4503599627370495.5};
        v = specials[rng() % (sizeof specials / sizeof specials[0])];
        break;
    }
    case Kind::Count:
        break;
    }
    return rng() % 2 ? -v : v;
}

// Every pattern, every kind of value, both decimal separators: the three formatters agree.
TEST(CompiledPattern, SameTextAsTheInterpretingFormatterOnTenMillionValues) {
    std::mt19937_64 rng(20261209);
    constexpr long kValues = 10'000'000;
    constexpr int kKinds = static_cast<int>(Kind::Count);
    const std::size_t patternCount = sizeof kPatterns / sizeof kPatterns[0];
    long failures = 0;
    for (long i = 0; i < kValues && failures < 20; ++i) {
        const Named& p = kPatterns[static_cast<std::size_t>(i) % patternCount];
        const auto kind = static_cast<Kind>((i / static_cast<long>(patternCount)) % kKinds);
        const double v = draw(kind, p.decimals, rng);
        const char sep = (i / 7) % 2 ? ',' : '.';
        const std::string got = p.format ? p.format(v, sep) : formatPattern(v, p.pattern, sep);
        const std::string interpreted = detail::formatPatternInterpreted(v, p.pattern, sep);
        if (got != interpreted || got != detail::formatPatternWithoutShortcut(v, p.pattern, sep)) {
            ++failures;
            ADD_FAILURE() << std::hexfloat << v << " " << p.pattern << ": \"" << got << "\" against \""
                          << interpreted << "\" and \"" << detail::formatPatternWithoutShortcut(v, p.pattern, sep)
                          << "\"";
        }
        if (p.format && got != formatPattern(v, p.pattern, sep))
            ADD_FAILURE() << v << " " << p.pattern << ": the named form and formatPattern differ";
    }
}

// The appending forms write what the named forms return, after what the string held.
TEST(CompiledPattern, AppendersMatchNamedForms) {
    std::mt19937_64 rng(7);
    for (int i = 0; i < 100000; ++i) {
        const double v = draw(static_cast<Kind>(i % static_cast<int>(Kind::Count)), 3 + (i % 2) * 5, rng);
        std::string out = "ab";
        appendReportPlane(out, v, ',');
        appendReportGeo(out, v, '.');
        appendReportHeight(out, v, ',');
        ASSERT_EQ(out, "ab" + formatReportPlane(v, ',') + formatReportGeo(v, '.') + formatReportHeight(v, ','))
            << v;
    }
}

} // namespace
} // namespace dormal
