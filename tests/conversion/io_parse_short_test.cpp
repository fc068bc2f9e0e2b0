// The shortcut for short decimal fields against std::from_chars: the same double, bit for bit,
// for numbers of every length around the shortcut's limit of 15 digits, with and without a
// sign and decimals; and the forms the shortcut leaves to the general reading.

#include <charconv>
#include <cmath>
#include <cstring>
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "conversion/formats.h"

namespace dormal {
namespace {

// The correctly rounded value of an unsigned decimal text, signed.
double reference(const std::string& text) {
    const bool neg = text[0] == '-';
    const std::size_t from = (text[0] == '-' || text[0] == '+') ? 1 : 0;
    double v = 0;
    std::from_chars(text.data() + from, text.data() + text.size(), v);
    return neg ? -v : v;
}

bool sameBits(double a, double b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

TEST(ParseShortDecimal, SameBitsAsFromCharsForEveryLength) {
    std::mt19937_64 rng(99);
    for (int i = 0; i < 1000000; ++i) {
        std::string t;
        const int sign = static_cast<int>(rng() % 3);
        if (sign == 1)
            t += '-';
        else if (sign == 2)
            t += '+';
        const int intDigits = 1 + static_cast<int>(rng() % 12);
        const int fracDigits = static_cast<int>(rng() % 12); // 0: no point
        for (int k = 0; k < intDigits; ++k)
            t += static_cast<char>('0' + rng() % 10);
        if (fracDigits > 0) {
            t += '.';
            for (int k = 0; k < fracDigits; ++k)
                t += static_cast<char>(i % 5 == 0 ? (k + 1 == fracDigits ? '5' : '9') : '0' + rng() % 10);
        }
        double got = 12345;
        ASSERT_TRUE(parseWholeNumber(t, got)) << t;
        ASSERT_TRUE(sameBits(got, reference(t))) << t << " " << got << " " << reference(t);
    }
}

TEST(ParseShortDecimal, OtherFormsStillRead) {
    struct Case {
        const char* text;
        bool ok;
        double value;
    } const cases[] = {
        {"-0", true, -0.0},         {"0.0", true, 0.0},        {"1e3", true, 1000.0},
        {"-2.5E-1", true, -0.25},   {"5.", true, 5.0},         {".5", true, 0.5},
        {"1234567890123456789", true, 1234567890123456789.0},  {"4850123.456789012345", true, 4850123.456789012345},
        {"", false, 0},             {".", false, 0},           {"-", false, 0},
        {"1.2.3", false, 0},        {"12a", false, 0},         {"inf", false, 0},
        {"nan", false, 0},          {" 1", false, 0},          {"1 ", false, 0},
        {"--1", false, 0},          {"1e999", false, 0},
    };
    for (const auto& c : cases) {
        double v = 777;
        EXPECT_EQ(parseWholeNumber(c.text, v), c.ok) << c.text;
        if (c.ok) {
            EXPECT_TRUE(sameBits(v, c.value)) << c.text << " " << v;
        }
    }
}

} // namespace
} // namespace dormal
