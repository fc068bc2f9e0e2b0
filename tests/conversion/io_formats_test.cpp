// Number patterns and number parsing. Run in the C and the Italian locale: the results
// must not depend on the C library's decimal separator.
#include <cfloat>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/formats.h"
#include "conversion/io_detail.h"

namespace dormal {
namespace {

struct PatternCase {
    double value;
    const char* pattern;
    char sep;
    const char* expected;
};

// Guards the digit filling, literal placement, rounding of halves away from zero and the sign.
TEST(FormatPattern, FixedPatterns) {
    const PatternCase cases[] = {
        {4850123.4567, "# ### ##0.000", '.', "4 850 123.457"},
        {4850123.4567, "# ### ##0.000", ',', "4 850 123,457"},
        {123.4567, "# ### ##0.000", '.', "  123.457"},
        {0.0, "# ### ##0.000", '.', "  0.000"},
        {-0.5, "# ### ##0.000", '.', "-  0.500"},
        {12345678901.0, "# ### ##0.000", '.', "12345 678 901.000"},
        {451234.567, "#0\xC2\xB0 00' 00.0000''", '.', "45\xC2\xB0 12' 34.5670''"},
        {0.0, "#0\xC2\xB0 00' 00.0000''", ',', "0\xC2\xB0 00' 00,0000''"},
        {-73000.0, "#0\xC2\xB0 00' 00.0000''", '.', "-7\xC2\xB0 30' 00.0000''"},
        {1234500.0, "#0\xC2\xB0 00' 00.0000''", '.', "123\xC2\xB0 45' 00.0000''"},
        {12.34, "#0\xC2\xB0.00'", '.', "12\xC2\xB0.34'"},
        {-7.3, "#0\xC2\xB0.00'", ',', "-7\xC2\xB0,30'"},
        {4850.123, "# 000 km", '.', "4 850 km"},
        {500.0, "# 000 km", '.', " 500 km"},
        {48502.0, "# 000 km", '.', "48 502 km"},
        {5.0, "# 000 km", '.', " 005 km"},
        {1234.5, "## ##0.000", '.', "1 234.500"},
        {-12.0, "## ##0.000", '.', "- 12.000"},
        {4850123.4567, "######0.000", '.', "4850123.457"},
        {0.25, "######0.000", '.', "0.250"},
        {45.30151234, "#0.00000000", ',', "45,30151234"},
        {-0.0000000049, "#0.00000000", '.', "0.00000000"},
        {123.4, "###0.000", '.', "123.400"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatPattern(c.value, c.pattern, c.sep), c.expected) << c.value << " " << c.pattern;
}

// Halves round away from zero at the digit that is cut, on the value as written with 15
// significant digits (2.0005 is stored a little below the half).
TEST(FormatPattern, RoundingEdges) {
    const PatternCase cases[] = {
        {2.0005, "###0.000", '.', "2.001"},
        {-2.0005, "###0.000", '.', "-2.001"},
        {1.0004999, "###0.000", '.', "1.000"},
        {0.0005, "###0.000", '.', "0.001"},
        {-0.0005, "###0.000", '.', "-0.001"},
        {-0.0004, "###0.000", '.', "0.000"},
        {9.9995, "###0.000", '.', "10.000"},
        {999.9995, "###0.000", '.', "1000.000"},
        {99999.9995, "## ##0.000", '.', "100 000.000"},
        {999999.99995, "#0\xC2\xB0 00' 00.0000''", '.', "100\xC2\xB0 00' 00.0000''"},
        {45.123456785, "#0.00000000", '.', "45.12345679"},
        {0.5, "# 000 km", '.', " 001 km"},
        {0.4999, "# 000 km", '.', " 000 km"},
        {1e-320, "###0.000", '.', "0.000"},
        {1234567.0005, "######0.000", '.', "1234567.001"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatPattern(c.value, c.pattern, c.sep), c.expected) << c.value << " " << c.pattern;
}

TEST(FormatPattern, NamedFormsAndAppenders) {
    EXPECT_EQ(formatPlaneField(4850123.4567, ','), "4 850 123,457");
    EXPECT_EQ(formatSexagesimalField(451234.567, '.'), "45\xC2\xB0 12' 34.5670''");
    EXPECT_EQ(formatHeightField(120.0, '.'), " 120.000");
    EXPECT_EQ(formatDegMin(12.34, ','), "12\xC2\xB0,34'");
    EXPECT_EQ(formatKm(4850.123, '.'), "4 850 km");
    EXPECT_EQ(formatReportPlane(-5.0, '.'), "-5.000");
    EXPECT_EQ(formatReportGeo(45.5, '.'), "45.50000000");
    EXPECT_EQ(formatReportHeight(-1000.0, ','), "-1000,000");

    std::string out = "x";
    appendReportPlane(out, 1.5, '.');
    appendReportGeo(out, -9.1, ',');
    appendReportHeight(out, 2.25, '.');
    EXPECT_EQ(out, "x1.500-9,100000002.250");
}

// The fast path for usual magnitudes gives the same text as writing every value with 15
// significant digits and rounding that, also right next to halves.
TEST(FormatPattern, FastPathMatchesReference) {
    const char* patterns[] = {"# 000 km",    "#0\xC2\xB0.00'", "###0.000", "# ### ##0.000", "#0\xC2\xB0 00' 00.0000''",
                              "#0.00000000", "0.0000000000"};
    const int decimals[] = {0, 2, 3, 3, 4, 8, 10};
    std::mt19937_64 rng(2024);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    for (int i = 0; i < 300000; ++i) {
        const std::size_t k = rng() % 7;
        const double scale = std::pow(10.0, static_cast<double>(rng() % 14) - 3.0);
        double v = unit(rng) * scale;
        if (i % 3 == 0) {
            // Right at a half of the last decimal, or one ulp either side.
            const double step = std::pow(10.0, -decimals[k]);
            v = (std::floor(v / step) + 0.5) * step;
            if (i % 2)
                v = std::nextafter(v, (rng() % 2) ? 0.0 : 1e300);
        }
        if (rng() % 2)
            v = -v;
        ASSERT_EQ(formatPattern(v, patterns[k], ','), detail::formatPatternWithoutShortcut(v, patterns[k], ','))
            << v << " " << patterns[k];
    }
}

// The report writer's forms that write into a buffer give the reference text of their
// pattern for generated values of every magnitude, halves of the last decimal and one ulp
// either side, integer parts of every length, zeros, negative zeros and values that are not
// finite; and write nothing but that text within its length.
TEST(FormatPattern, WritingFormsMatchReference) {
    using Writer = std::size_t (*)(char*, double, char);
    struct Form {
        Writer write;
        const char* pattern;
        int decimals;
    };
    const Form forms[] = {{writeReportPlane, "######0.000", 3},
                          {writeReportGeo, "#0.00000000", 8},
                          {writeReportHeight, "###0.000", 3}};
    std::mt19937_64 rng(77);
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    std::vector<double> values = {0.0,     -0.0,      0.0004,   -0.0004, 0.0005, -0.0005, 1e-9,  -5e-9, 9.9995,
                                  99.9995, 999999.9995, 1e9 - 0.0005, 1e9, 1e12, 1e15, 123456789012.5, DBL_MAX,
                                  -DBL_MAX, std::numeric_limits<double>::quiet_NaN(),
                                  std::numeric_limits<double>::infinity(), -std::numeric_limits<double>::infinity()};
    for (int i = 0; i < 200000; ++i) {
        const double scale = std::pow(10.0, static_cast<double>(rng() % 17) - 4.0);
        double v = unit(rng) * scale;
        if (i % 4 == 0) {
            const double step = i % 8 == 0 ? 1e-3 : 1e-8;
            v = (std::floor(v / step) + 0.5) * step;
            if (i % 3)
                v = std::nextafter(v, (rng() % 2) ? 0.0 : 1e300);
        }
        values.push_back((rng() % 2) ? -v : v);
    }
    for (const double v : values) {
        for (const Form& f : forms) {
            for (const char sep : {'.', ','}) {
                char buf[kReportNumberRoom + 1];
                std::memset(buf, '\x7f', sizeof buf);
                const std::size_t n = f.write(buf, v, sep);
                ASSERT_LE(n, kReportNumberRoom);
                ASSERT_EQ(std::string(buf, n), detail::formatPatternInterpreted(v, f.pattern, sep))
                    << v << " " << f.pattern;
                ASSERT_EQ(buf[kReportNumberRoom], '\x7f') << v << " " << f.pattern;
            }
        }
    }
}

// A field read in place ends at a blank or at the end and has the value parseWholeNumber
// gives for the same text; the usual short decimals are all read in place. Generated fields
// of digits, signs, points, exponents and stray characters, with and without what follows.
TEST(ParseShortDataField, AgreesWithWholeField) {
    std::mt19937_64 rng(5);
    const std::string alphabet = "0123456789012345678901234567890123456789.-+e,x";
    for (int i = 0; i < 200000; ++i) {
        std::string field;
        if (i % 2 == 0) {
            // A usual decimal: up to 15 digits, maybe a point and a sign.
            const std::size_t digits = 1 + rng() % 15;
            for (std::size_t d = 0; d < digits; ++d)
                field += static_cast<char>('0' + rng() % 10);
            if (digits > 1 && rng() % 3)
                field.insert(1 + rng() % (digits - 1), 1, '.');
            if (rng() % 4 == 0)
                field.insert(0, 1, (rng() % 2) ? '-' : '+');
        } else {
            const std::size_t len = 1 + rng() % 20;
            for (std::size_t k = 0; k < len; ++k)
                field += alphabet[rng() % alphabet.size()];
        }
        const std::string rest = (i % 3 == 0) ? "" : (i % 3 == 1 ? " 12.5 x" : "  ");
        const std::string text = field + rest;
        double v = -7;
        const char* q = parseShortDataField(text.data(), text.data() + text.size(), v);
        double whole = 0;
        const bool isNumber = parseWholeNumber(field, whole);
        if (i % 2 == 0) {
            ASSERT_NE(q, nullptr) << text;
        }
        if (q == nullptr) {
            EXPECT_EQ(v, -7) << text;
            continue;
        }
        ASSERT_EQ(static_cast<std::size_t>(q - text.data()), field.size()) << text;
        ASSERT_TRUE(isNumber) << text;
        ASSERT_EQ(v, whole) << text;
        ASSERT_EQ(std::signbit(v), std::signbit(whole)) << text;
    }
}

TEST(FormatPattern, NonFiniteValuesAreVisible) {
    EXPECT_EQ(formatReportPlane(std::numeric_limits<double>::quiet_NaN(), '.'), "NaN");
    EXPECT_EQ(formatReportPlane(-std::numeric_limits<double>::infinity(), '.'), "-Inf");
    // The largest double is written in full, not cut.
    EXPECT_EQ(formatReportPlane(DBL_MAX, '.').size(), 309u + 4u);
}

// The typed value, the number shown, and its display text; carries at 59.99995 seconds.
TEST(SexagesimalDisplay, CarriesAndSign) {
    struct Case {
        double typed;
        const char* shown;
    } const cases[] = {
        {45.1234567, "45\xC2\xB0 12' 34.5670''"},   {-7.3, "-7\xC2\xB0 30' 00.0000''"},
        {0.0, "0\xC2\xB0 00' 00.0000''"},           {45.595999995, "46\xC2\xB0 00' 00.0000''"},
        {45.125999995, "45\xC2\xB0 13' 00.0000''"}, {45.5959999, "45\xC2\xB0 59' 59.9990''"},
        {45.75, "45\xC2\xB0 75' 00.0000''"},        {-45.595999995, "-46\xC2\xB0 00' 00.0000''"},
        {12.27084, "12\xC2\xB0 27' 08.4000''"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatSexagesimalField(sexagesimalDisplayNumber(c.typed), '.'), c.shown) << c.typed;
}

TEST(ParseTypedNumber, LeadingNumber) {
    struct Case {
        const char* text;
        double value;
    } const cases[] = {
        {"", 0},
        {"45.1234", 45.1234},
        {"45.1234x", 45.1234},
        {"abc", 0},
        {" 4 850 123.5 ", 4850123.5},
        {"-7.3", -7.3},
        {"+12.5", 12.5},
        {".5", 0.5},
        {"-.5", -0.5},
        {"1e3", 1000},
        {"1e", 1},
        {"12,5", 12},
        {"inf", 0},
        {"nan", 0},
        {"-", 0},
        {"1e999", DBL_MAX},
        {"-1e999", -DBL_MAX},
        {"1e-999", 0},
        {"0x10", 0},
        {"5.", 5},
    };
    for (const auto& c : cases)
        EXPECT_EQ(parseTypedNumber(c.text), c.value) << '"' << c.text << '"';
}

TEST(ParseWholeNumber, StrictFields) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    } const cases[] = {
        {"45.1234567", true, 45.1234567},
        {"-9.5", true, -9.5},
        {"+120", true, 120},
        {"1.5e3", true, 1500},
        {"4850123.456", true, 4850123.456},
        {".5", true, 0.5},
        {"5.", true, 5},
        {"", false, 0},
        {"45.12x", false, 0},
        {"abc", false, 0},
        {"45,12", false, 0},
        {"1e", false, 0},
        {".", false, 0},
        {"-", false, 0},
        {"inf", false, 0},
        {"nan", false, 0},
        {"1e999", false, 0},
        {" 5", false, 0},
        {"5 ", false, 0},
        {"--5", false, 0},
        {"0x1A", false, 0},
    };
    for (const auto& c : cases) {
        double v = -1;
        EXPECT_EQ(parseWholeNumber(c.text, v), c.ok) << '"' << c.text << '"';
        if (c.ok) {
            EXPECT_EQ(v, c.value) << '"' << c.text << '"';
        }
    }
}

} // namespace
} // namespace dormal
