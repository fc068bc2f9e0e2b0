#pragma once
// Texts read from outside files (grid portion epochs, point names of data files) may be in
// UTF-8 or, in files written by older Windows programs, in Windows Latin-1 (code page 1252).
// Reports and workbooks are UTF-8: a text that is not valid UTF-8 is taken as Windows Latin-1.

#include <string>
#include <string_view>

namespace dormal {

// True when `s` is well-formed UTF-8: no stray continuation bytes, no overlong forms, no
// surrogates, nothing past U+10FFFF.
bool isValidUtf8(std::string_view s);

// `s` itself when it is valid UTF-8; otherwise every byte read as Windows Latin-1 (0x80 to
// 0x9F as Windows prints them, "€" for 0x80; the five bytes Windows leaves unassigned as the
// Latin-1 control of the same number) and written as UTF-8. Replaces the contents of `out`.
void utf8FromLatin1(std::string_view s, std::string& out);
std::string utf8FromLatin1(std::string_view s);

// The same in place: a text that is valid UTF-8 (all plain ASCII, in the usual case) is left
// alone without allocating.
void makeUtf8(std::string& s);

// ASCII letters to capitals, every other byte as it is (whatever the locale): how words,
// file extensions and paths are compared without regard to case.
inline char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
std::string asciiUpperCase(std::string_view s);
inline char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
std::string asciiLowerCase(std::string_view s);

} // namespace dormal
