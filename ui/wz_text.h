#pragma once
// Small text helpers shared by the working zone, the file choice and the run: the locale's
// decimal separator for the fixed number patterns, and the crossings between Qt strings,
// file names and the texts read from grid files.

#include <QString>
#include <string>

#include "conversion/message.h"

namespace dormal::ui {

// The decimal separator of the user's locale (QLocale()), as the one byte the number
// patterns take. A separator outside ASCII falls back to ".".
char localeDecimalSeparator();

// A path as the file functions below the window take it (the local 8-bit encoding).
std::string toFileName(const QString& path);

// A text read from a file or produced below the window: UTF-8 when it is valid UTF-8,
// otherwise Latin-1 (grid files written on older systems).
QString fromFileText(const std::string& text);

// A file name (its bytes) as the window shows it: UTF-8 sequences as what they encode, every
// byte that is not part of one as its Latin-1 character, and every control character, line or
// paragraph separator and bidirectional formatting character (which would break the line or
// reverse the text around it) as U+FFFD.
QString shownFileName(const std::string& bytes);

// A grid-reading failure as the window shows it: the message as it is when a line names the
// file already (the file name of `path` appears in it), otherwise with `path` (UTF-8) added
// as a last line, so the user knows which file could not be read.
Message namingFile(const Message& message, const std::string& path);

} // namespace dormal::ui
