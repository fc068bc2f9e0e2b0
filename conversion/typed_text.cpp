#include "conversion/typed_text.h"

#include <initializer_list>
#include <string>

#include "conversion/formats.h"

namespace dormal {

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

// The text without blanks and with "," as ".".
std::string normalised(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == ' ' || c == '\t')
            continue;
        out.push_back(c == ',' ? '.' : c);
    }
    return out;
}

// Reads one of `marks` at `pos`; advances past it.
bool readMark(const std::string& s, std::size_t& pos, std::initializer_list<std::string_view> marks) {
    for (std::string_view m : marks) {
        if (s.compare(pos, m.size(), m) == 0) {
            pos += m.size();
            return true;
        }
    }
    return false;
}

// Reads 1 to `maxDigits` digits at `pos`.
bool readDigits(const std::string& s, std::size_t& pos, std::size_t maxDigits, std::string& digits) {
    const std::size_t start = pos;
    while (pos < s.size() && isDigit(s[pos]) && pos - start < maxDigits)
        ++pos;
    if (pos == start || (pos < s.size() && isDigit(s[pos])))
        return false;
    digits.assign(s, start, pos - start);
    return true;
}

constexpr std::string_view kDegreeSign = "\xC2\xB0";      // °
constexpr std::string_view kOrdinalSign = "\xC2\xBA";     // º, typed for ° on Italian keyboards
constexpr std::string_view kPrime = "\xE2\x80\xB2";       // ′
constexpr std::string_view kDoublePrime = "\xE2\x80\xB3"; // ″

} // namespace

std::optional<double> readPlainNumber(std::string_view text) {
    const std::string s = normalised(text);
    double v = 0;
    if (!parseWholeNumber(s, v))
        return std::nullopt;
    return v;
}

std::optional<double> readSexagesimal(std::string_view text) {
    const std::string s = normalised(text);
    double v = 0;
    if (parseWholeNumber(s, v))
        return v;

    std::size_t pos = 0;
    std::string sign;
    if (pos < s.size() && (s[pos] == '-' || s[pos] == '+'))
        sign = s[pos++];
    std::string degrees, minutes = "00", seconds = "00", fraction;
    if (!readDigits(s, pos, 3, degrees) || !readMark(s, pos, {kDegreeSign, kOrdinalSign}))
        return std::nullopt;
    if (pos < s.size()) {
        if (!readDigits(s, pos, 2, minutes))
            return std::nullopt;
        // At the end the minutes' mark may be left out; elsewhere it must be there, and not
        // the seconds' mark.
        if (pos < s.size()) {
            std::size_t probe = pos;
            if (readMark(s, probe, {"''", "\"", kDoublePrime}) || !readMark(s, pos, {"'", kPrime}))
                return std::nullopt;
        }
        if (pos < s.size()) {
            if (!readDigits(s, pos, 2, seconds))
                return std::nullopt;
            if (pos < s.size() && s[pos] == '.') {
                ++pos;
                const std::size_t start = pos;
                while (pos < s.size() && isDigit(s[pos]))
                    ++pos;
                if (pos == start)
                    return std::nullopt;
                fraction.assign(s, start, pos - start);
            }
            readMark(s, pos, {"''", "\"", kDoublePrime});
            if (pos != s.size())
                return std::nullopt;
        }
    }
    if (minutes.size() == 1)
        minutes.insert(0, 1, '0');
    if (seconds.size() == 1)
        seconds.insert(0, 1, '0');
    // The plain notation spelt out, so the value is the one its digits give.
    const std::string plain = sign + degrees + "." + minutes + seconds + fraction;
    if (!parseWholeNumber(plain, v))
        return std::nullopt;
    return v;
}

} // namespace dormal
