#pragma once
// Helpers shared by the data-file readers and the result writers: the reading-error and
// file-failure messages, Italian descriptions of system errors, the text of a numeric
// name cell and the reading of a number held as text in a workbook cell.

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/data_source.h"
#include "conversion/point_conversion.h"

namespace dormal::detail {

// Which value of a point a reading error names (Name: a workbook's A cell that holds a
// formula without a stored value).
enum class FieldSlot { Name, First, Second, Height };

// "ERRORE NELLA LETTURA NELLA ..." / "ALLA RIGA:     n    DEL FILE DI INPUT", information
// icon, application's title. `line` is the line of an ASCII file or the row of a sheet.
void setReadingError(ReadEvent& ev, FieldSlot slot, CoordKind kind, long line);

// A value that cannot be a point on the Earth (PointValueCheck): the reading error of that
// value at `line`, and a third line with the value as read, "VALORE NON CONSENTITO:  95".
void setValueError(ReadEvent& ev, ValueFault fault, CoordKind kind, long line);
// "VALORE NON CONSENTITO: " and the value, with a blank in the sign place of a positive one.
std::string valueNotAllowedLine(double value);

// The check a reader makes of its points' values, by its options.
inline PointValueCheck valueCheckOf(const DataReadOptions& opt) {
    return opt.inputSystem ? PointValueCheck(*opt.inputSystem, opt.inputKind, opt.inputZone, opt.readHeight)
                           : PointValueCheck();
}

// What every reader does with a point it has read: false when its values can be a point on
// the Earth; otherwise `ev` becomes the reading error of the first value that cannot.
inline bool refuseImpossibleValues(ReadEvent& ev, const PointValueCheck& check, CoordKind kind, long line) {
    const ValueFault f = check.fault(PointInput{ev.point.first, ev.point.second, ev.point.height});
    if (f == ValueFault::None) [[likely]]
        return false;
    setValueError(ev, f, kind, line);
    return true;
}

// A file that cannot be opened: "IMPOSSIBILE APRIRE IL FILE DEI DATI" / path / cause.
Message openFailureMessage(const std::string& path, const std::string& cause);
// A file that cannot be read to its end: "ERRORE NELLA LETTURA DEL FILE DEI DATI" / path / cause.
Message readFailureMessage(const std::string& path, const std::string& cause);
void setFailure(ReadEvent& ev, const std::string& path, const std::string& cause);


// The text a numeric name cell reads as: integers without decimals (101, not 101.0),
// other values in the shortest form that reads back to the same double.
void numberAsName(double v, std::string& out);

// A workbook cell in columns B to D that holds text: blanks around it are ignored and a
// comma is a decimal point; an empty text reads as 0. False when it is not a number.
bool parseCellText(std::string_view text, double& value);

// Bounds on workbook contents, so a hostile file cannot exhaust memory or disk.
inline constexpr unsigned long long kMaxSheetBytes = 2ULL << 30;          // sheet XML, streamed
inline constexpr unsigned long long kMaxSharedStringsBytes = 64ULL << 20; // held in memory
inline constexpr unsigned long long kMaxSmallPartBytes = 16ULL << 20;     // workbook.xml, rels
inline constexpr unsigned long long kMaxCompressionRatio = 1000;          // for entries over 1 MiB
inline constexpr std::size_t kMaxCellTextBytes = 256 * 1024;              // 32767 characters in UTF-8, with room
inline constexpr unsigned long long kMaxXlsFileBytes = 512ULL << 20;      // .xls files are read whole

// The pattern formatting of formats.h without its fast path for usual magnitudes (each value
// written with 15 significant digits, then rounded): the reference the fast path is checked against.
std::string formatPatternWithoutShortcut(double value, std::string_view pattern, char sep);

// Name shown for standard input in messages.
inline constexpr const char* kStandardInputName = "(ingresso standard)";

} // namespace dormal::detail

namespace dormal::detail {

// Reads up to `n` bytes into `to`: the number read (it may be fewer than asked, as from a
// pipe), 0 at the end of the input, -1 on a read error.
using ByteReader = std::function<long(char* to, std::size_t n)>;

// The ASCII reader over any byte input (an opened data file, a pipe, a test's input);
// `name` is used in messages.
std::unique_ptr<DataSource> makeAsciiSourceFromReader(ByteReader read, const DataReadOptions& opt, std::string name);

// One cell of a sheet as stored: its text, and its number when it is a number cell.
struct SheetCell {
    long row = 0; // 1-based
    int col = 0;  // 1-based, A = 1
    bool isNumber = false;
    double number = 0;
    std::string text;
};

// Every cell of columns A to the `columns`-th of the first sheet of an .xlsx file, row by
// row, through the same streaming reader as the data files. False with `cause` on failure.
bool readXlsxCells(const std::string& path, int columns, std::vector<SheetCell>& cells, std::string& cause);
// The number of the last row of the first sheet, reading the whole sheet: a check that a
// written workbook is complete. False with `cause` when it cannot be read to its end.
bool xlsxLastRow(const std::string& path, long& lastRow, std::string& cause);
// The check of a result workbook once written, without reading its XML: the zip is
// consistent, every part inflates to its CRC, the sheet ends after a last row `lastRow`.
bool checkWrittenWorkbook(const std::string& path, long& lastRow, std::string& cause);

// A number of a result workbook's cell as the sheet XML holds it: what the C library's
// printf("%.16G") writes in the C locale ("4616187.738512367", "1.5E-05").
void appendSheetNumber(std::string& out, double v);

} // namespace dormal::detail
