#pragma once
// The system's fixed number patterns. Digit placeholders '#' and '0' are filled from the
// value; every other character of the pattern is written as it stands, even where the
// digits before it are missing ("# 000 km" gives " 500 km" for 500); surplus integer
// digits go in front. The decimal point is written as `sep` (the user's locale's).
// Halves round away from zero. A negative value gets "-" in front.

#include <cstddef>
#include <string>
#include <string_view>

namespace dormal {

// General formatter for a pattern of the kind above.
std::string formatPattern(double value, std::string_view pattern, char sep);

// The named patterns.
std::string formatPlaneField(double v, char sep);    // "# ### ##0.000"   plane fields
std::string formatSexagesimalField(double v, char sep); // "#0° 00' 00.0000''" (v = ddmmss.ssss)
std::string formatHeightField(double v, char sep);   // "## ##0.000"      height fields
std::string formatDegMin(double v, char sep);        // "#0°.00'"         limits gg.pp
std::string formatKm(double v, char sep);            // "# 000 km"        limits in km
std::string formatReportPlane(double v, char sep);   // "######0.000"     report plane coordinates
std::string formatReportGeo(double v, char sep);     // "#0.00000000"     report gg.ppssdddd
std::string formatReportHeight(double v, char sep);  // "###0.000"        report heights

// Appending forms for the hot path of the report writer (no allocation when `out` has room).
void appendReportPlane(std::string& out, double v, char sep);
void appendReportGeo(std::string& out, double v, char sep);
void appendReportHeight(std::string& out, double v, char sep);

// Writing forms: the text goes to `out`, which must have kReportNumberRoom bytes of room;
// they return its length (the same text as the forms above).
inline constexpr std::size_t kReportNumberRoom = 512;
std::size_t writeReportPlane(char* out, double v, char sep);
std::size_t writeReportGeo(char* out, double v, char sep);
std::size_t writeReportHeight(char* out, double v, char sep);

// The number shown for a typed sexagesimal value: sign(v)*(d*10000 + m*100 + s) with the
// seconds carried at 59.99995 (so 45.595999995 shows as 46° 00' 00.0000'').
double sexagesimalDisplayNumber(double typed);

// Parsing of a typed field: empty gives 0; blanks anywhere are ignored; the number at the
// start of the text with "." as decimal point; reading stops at the first character that
// cannot continue a number ("45.1234x" 45.1234, "abc" 0).
double parseTypedNumber(std::string_view text);

// Strict parsing of a data-file field: the whole text must be a number ("." decimal point,
// optional sign and exponent). Returns false when it is not.
bool parseWholeNumber(std::string_view text, double& value);

// The usual form of a data-file field read in place: "[-+]digits" or "[-+]digits.digits"
// with at most 15 digits, ended by a blank or by `e`. Returns the end of the field with
// `value` set (the value parseWholeNumber gives for that text), or nullptr when the field
// at `p` is of another form (then parseWholeNumber on the whole field decides).
const char* parseShortDataField(const char* p, const char* e, double& value);

namespace detail {
// The formatter that reads the pattern at every call, with the same shortcut for the usual
// magnitudes as formatPattern: the reference the compiled patterns are checked against.
std::string formatPatternInterpreted(double value, std::string_view pattern, char sep);
} // namespace detail

} // namespace dormal
