#pragma once
// What the .xls reading helper (dormal2k-xls-reader) sends to the program that started it,
// over a pipe. All integers are little-endian; a double is its 8 IEEE bytes.
//
//   magic        "DXL1"
//   then either  'O' i32             the workbook cannot be opened: a FreeXL error code
//   or           'S'                 the first sheet is open
//                'R' u32 row, 4 cells  one sheet row (1-based, from 2 upwards with no gaps),
//                                    columns A to D; the first row whose A cell is empty is
//                                    the last one sent
//                'E'                 no more rows
// A cell is one type byte and its value:
//   Empty, NoValue                   nothing
//   Number                           8 bytes
//   Text, DateTime                   u32 length (at most kMaxCellTextBytes) and UTF-8 bytes
//   Bool                             1 byte, 0 or 1
//   Error                            1 byte, the sheet's error code (0x07 is #DIV/0!)
// The receiver takes nothing on trust: any other byte, a length over the bound, a row out
// of sequence or a stream that stops early means the file could not be read.

#include <cstdint>

namespace dormal::xlswire {

inline constexpr char kMagic[4] = {'D', 'X', 'L', '1'};

enum Tag : std::uint8_t { kOpenFailed = 'O', kStarted = 'S', kRow = 'R', kEnd = 'E' };

enum CellType : std::uint8_t {
    kEmpty = 0,
    kNumber = 1,
    kText = 2,
    kDateTime = 3, // a date, time or date and time, as FreeXL writes it ("2020-01-02")
    kBool = 4,
    kError = 5,
    kNoValue = 6, // a formula without a stored result
    kLastCellType = kNoValue
};

inline constexpr int kColumns = 4; // A to D

// The highest row a sheet can have (Excel 97-2003 sheets stop at 65536).
inline constexpr std::uint32_t kMaxRow = 65536;

// Limits the helper sets on itself before reading (the file is hostile until read).
inline constexpr unsigned long long kChildAddressSpaceBytes = 3ULL << 30; // FreeXL holds file and cells
inline constexpr unsigned kChildCpuSeconds = 30;
// The longest the reading side waits for the next message before it gives up on the helper.
inline constexpr int kMessageDeadlineMs = 20000;

inline constexpr const char* kHelperName = "dormal2k-xls-reader";

} // namespace dormal::xlswire
