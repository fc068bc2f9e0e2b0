#pragma once
// Reading what a user writes for one value, strictly: the whole text must be the value.
// Used for the typed point of the window; kept here, beside the data-file readers, so that
// any reader of hand-written coordinates takes the same forms.

#include <optional>
#include <string_view>

namespace dormal {

// A plain number: optional sign, digits with "." or "," as decimal separator, optional
// exponent; blanks anywhere are ignored ("4 850 123.457", the plane display form, reads as
// 4850123.457). Nothing for an empty text or any other character.
std::optional<double> readPlainNumber(std::string_view text);

// A sexagesimal angle, returned in the notation gg.ppssdddd, signed (not turned into
// decimal degrees). Accepts the plain number of readPlainNumber, and the display form
//     [-]D° M' S.ssss''      (UTF-8 degree sign; "º" also taken for it)
// with blanks optional, "." or "," in the seconds, minutes and seconds of one or two digits,
// the seconds' mark ('' or ") optional, and the seconds or the minutes and seconds left out:
// "42° 25' 30.0000''", "42°25'30", "-7° 30'", "45°". Minutes or seconds of 60 or more are
// read as written ("45° 75'" gives 45.75), as the plain notation would have them.
// The result is the same double as the plain notation typed digit for digit.
std::optional<double> readSexagesimal(std::string_view text);

} // namespace dormal
