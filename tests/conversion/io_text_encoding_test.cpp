// UTF-8 checking and the Windows Latin-1 fallback shared by the grid and data-file readers.
#include <random>
#include <string>

#include <gtest/gtest.h>

#include "grid/text_encoding.h"

namespace dormal {
namespace {

// Well-formed and ill-formed sequences at the edges of the UTF-8 table: a checker that lets
// an ill-formed name through would put invalid UTF-8 into reports and workbooks.
TEST(TextEncoding, Utf8Validity) {
    struct Case {
        const char* what;
        std::string bytes;
        bool valid;
    } const cases[] = {
        {"plain", "P101", true},
        {"empty", "", true},
        {"two bytes", "Citt\xC3\xA0", true},
        {"three bytes", "\xE2\x82\xAC", true},
        {"four bytes", "\xF0\x9F\x98\x80", true},
        {"highest code point", "\xF4\x8F\xBF\xBF", true},
        {"Latin-1 a grave", "Citt\xE0", false},
        {"stray continuation", "\x80", false},
        {"overlong two bytes", "\xC0\x80", false},
        {"overlong C1", "\xC1\xBF", false},
        {"overlong three bytes", "\xE0\x80\x80", false},
        {"overlong four bytes", "\xF0\x80\x80\x80", false},
        {"surrogate", "\xED\xA0\x80", false},
        {"past U+10FFFF", "\xF4\x90\x80\x80", false},
        {"F5 lead", "\xF5\x80\x80\x80", false},
        {"truncated", "\xE2\x82", false},
        {"bad third byte", "\xE2\x82\x41", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(isValidUtf8(c.bytes), c.valid) << c.what;
    }
}

TEST(TextEncoding, Latin1Fallback) {
    struct Case {
        std::string in, out;
    } const cases[] = {
        {"PERCH\xC8", "PERCH\xC3\x88"},
        {"Citt\xC3\xA0", "Citt\xC3\xA0"},                     // valid UTF-8 kept
        {"\x80 \x8A \x9F", "\xE2\x82\xAC \xC5\xA0 \xC5\xB8"}, // Windows' printable 0x80..0x9F
        {"\x81\x8D", "\xC2\x81\xC2\x8D"},                     // unassigned in Windows: kept as Latin-1
        {"\xFF", "\xC3\xBF"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(utf8FromLatin1(c.in), c.out) << c.in;
        std::string s = c.in;
        makeUtf8(s);
        EXPECT_EQ(s, c.out) << c.in;
    }
}

// Property: whatever the bytes, the result is valid UTF-8, and a text that already was is
// returned unchanged (converting twice changes nothing).
TEST(TextEncoding, AnyBytesGiveValidUtf8) {
    std::mt19937 rng(7);
    for (int i = 0; i < 20000; ++i) {
        std::string s(rng() % 12, '\0');
        for (char& c : s)
            c = static_cast<char>(rng() % 2 ? 0x20 + rng() % 0x5F : rng() % 256);
        const std::string once = utf8FromLatin1(s);
        ASSERT_TRUE(isValidUtf8(once));
        ASSERT_EQ(utf8FromLatin1(once), once);
        if (isValidUtf8(s)) {
            ASSERT_EQ(once, s);
        }
    }
}

} // namespace
} // namespace dormal
