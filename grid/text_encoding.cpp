// UTF-8 checking and the Windows Latin-1 fallback for texts read from outside files.
#include "grid/text_encoding.h"

namespace dormal {

namespace {

// Code page 1252 at 0x80..0x9F; 0 where Windows assigns nothing (the byte then keeps its
// Latin-1 meaning, a C1 control, so that nothing is lost).
constexpr char32_t kCp1252High[32] = {0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0,      0x017D, 0,
                                      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

void appendUtf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

bool allAscii(std::string_view s) {
    for (const char ch : s) {
        if (static_cast<unsigned char>(ch) >= 0x80) {
            return false;
        }
    }
    return true;
}

} // namespace

bool isValidUtf8(std::string_view s) {
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const auto* e = p + s.size();
    while (p < e) {
        const unsigned c = *p;
        if (c < 0x80) {
            ++p;
            continue;
        }
        // Allowed range of the second byte, which rules out overlong forms, surrogates and
        // code points past U+10FFFF (RFC 3629, table of well-formed sequences).
        std::size_t len = 0;
        unsigned lo = 0x80;
        unsigned hi = 0xBF;
        if (c >= 0xC2 && c <= 0xDF) {
            len = 2;
        } else if (c >= 0xE0 && c <= 0xEF) {
            len = 3;
            lo = c == 0xE0 ? 0xA0 : 0x80;
            hi = c == 0xED ? 0x9F : 0xBF;
        } else if (c >= 0xF0 && c <= 0xF4) {
            len = 4;
            lo = c == 0xF0 ? 0x90 : 0x80;
            hi = c == 0xF4 ? 0x8F : 0xBF;
        } else {
            return false;
        }
        if (static_cast<std::size_t>(e - p) < len || p[1] < lo || p[1] > hi) {
            return false;
        }
        for (std::size_t k = 2; k < len; ++k) {
            if ((p[k] & 0xC0) != 0x80) {
                return false;
            }
        }
        p += len;
    }
    return true;
}

void utf8FromLatin1(std::string_view s, std::string& out) {
    if (isValidUtf8(s)) {
        out.assign(s.data(), s.size());
        return;
    }
    out.clear();
    out.reserve(s.size() * 2);
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        const char32_t high = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : 0;
        appendUtf8(high != 0 ? high : c, out);
    }
}

std::string utf8FromLatin1(std::string_view s) {
    std::string out;
    utf8FromLatin1(s, out);
    return out;
}

void makeUtf8(std::string& s) {
    if (allAscii(s) || isValidUtf8(s)) {
        return;
    }
    s = utf8FromLatin1(s);
}

std::string asciiUpperCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = asciiUpper(c);
    }
    return out;
}

std::string asciiLowerCase(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        c = asciiLower(c);
    }
    return out;
}

} // namespace dormal
