// Reading a typed value strictly: the plain number, and the window's own display form of a
// sexagesimal angle read back to the very double its plain digits give.

#include <gtest/gtest.h>

#include <cstdio>
#include <optional>
#include <random>
#include <string>

#include "conversion/formats.h"
#include "conversion/typed_text.h"

namespace {

using dormal::readPlainNumber;
using dormal::readSexagesimal;

struct Accepted {
    const char* text;
    double value; // gg.ppssdddd for angles, as the plain digits give it
};

// The display form with and without blanks and marks, either separator, a sign.
const Accepted kAngles[] = {
    {"42\xC2\xB0 25' 30.0000''", 42.253},
    {"42\xC2\xB0"
     "25'30",
     42.253},
    {"42 \xC2\xB0 25 ' 30 , 5 ''", 42.25305},
    {"-7\xC2\xB0 30' 00.0000''", -7.3},
    {"- 7\xC2\xB0 30'", -7.3},
    {"45\xC2\xB0", 45.0},
    {"45\xC2\xB0 12", 45.12},
    {"45\xC2\xB0 75' 00''", 45.75},   // minutes of 60 or more stay as written
    {"45\xC2\xB0 12' 75''", 45.1275}, // seconds too
    {"45\xC2\xB0 12' 34.567\"", 45.1234567},
    {"45\xC2\xB0 12\xE2\x80\xB2 34.567\xE2\x80\xB3", 45.1234567},
    {"45\xC2\xBA"
     "12'34",
     45.1234},
    {"45\xC2\xB0 5' 3''", 45.0503},
    {"0\xC2\xB0 00' 00.0000''", 0.0},
    {"45.1234567", 45.1234567},
    {"45,5", 45.5},
    {" 45.5 ", 45.5},
    {"-12.27084", -12.27084},
};

const char* const kNotAngles[] = {
    "",
    " ",
    "abc",
    "45.1234x",
    "45\xC2\xB0x",
    "45\xC2\xB0 123'",
    "45\xC2\xB0 12' 345''",
    "45\xC2\xB0 12'' 30",
    "42.5\xC2\xB0",
    "\xC2\xB0",
    "-",
    "45\xC2\xB0 12' 30.''",
    "45\xC2\xB0 12' 30''x",
    "1e400",
    "45..1",
    "--45",
    "45\xC2\xB0\xC2\xB0",
    "\xC2\xB0 12' 30''",
};

TEST(ReadSexagesimal, AcceptsThePlainAndTheDisplayForm) {
    for (const Accepted& a : kAngles) {
        const std::optional<double> v = readSexagesimal(a.text);
        ASSERT_TRUE(v.has_value()) << a.text;
        EXPECT_EQ(*v, a.value) << a.text; // exact: the same digits give the same double
    }
}

TEST(ReadSexagesimal, RefusesAnythingElse) {
    for (const char* text : kNotAngles)
        EXPECT_FALSE(readSexagesimal(text).has_value()) << "'" << text << "'";
}

// Property: what the window shows for a typed angle reads back as the typed value, with
// either decimal separator. Minutes up to 99 (not corrected by the display); seconds kept
// below the carry at 59.99995.
TEST(ReadSexagesimal, DisplayedValueReadsBackAsTyped) {
    std::mt19937 random(61);
    for (int i = 0; i < 20000; ++i) {
        const unsigned d = random() % 90, m = random() % 100, s = random() % 60;
        const unsigned f = random() % (s == 59 ? 9999 : 10000);
        char plain[40];
        std::snprintf(plain, sizeof plain, "%s%u.%02u%02u%04u", random() % 4 == 0 ? "-" : "", d, m, s, f);
        double typed = 0;
        ASSERT_TRUE(dormal::parseWholeNumber(plain, typed));
        for (char sep : {'.', ','}) {
            const std::string shown = dormal::formatSexagesimalField(dormal::sexagesimalDisplayNumber(typed), sep);
            const std::optional<double> back = readSexagesimal(shown);
            ASSERT_TRUE(back.has_value()) << plain << " shown as " << shown;
            ASSERT_EQ(*back, typed) << plain << " shown as " << shown;
        }
    }
}

TEST(ReadPlainNumber, TakesBlanksAndEitherSeparatorAndNothingElse) {
    const Accepted numbers[] = {
        {"4 850 123.457", 4850123.457},
        {"4 850 123,457", 4850123.457},
        {"-12.5", -12.5},
        {"+3", 3.0},
        {"1e3", 1000.0},
        {"  0,001 ", 0.001},
    };
    for (const Accepted& a : numbers) {
        const std::optional<double> v = readPlainNumber(a.text);
        ASSERT_TRUE(v.has_value()) << a.text;
        EXPECT_EQ(*v, a.value) << a.text;
    }
    for (const char* text : {"", "   ", "12.5m", "abc", "1\xC2\xB0", "45.1234x", "1.2.3", "1e400", "-", "."})
        EXPECT_FALSE(readPlainNumber(text).has_value()) << "'" << text << "'";
}

} // namespace
