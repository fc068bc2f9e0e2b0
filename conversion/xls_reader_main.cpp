// dormal2k-xls-reader PATH: reads the first sheet of an .xls workbook with FreeXL and writes
// its rows (columns A to D, each cell with its type) to standard output in the format of
// conversion/xls_wire.h. FreeXL is not safe against damaged files, so the programs start
// this helper for every .xls file and read what it sends; it limits its own memory, CPU
// time and file writing first, so a file that upsets FreeXL costs at most this process.
//
// FreeXL reports a boolean or an error cell as the integer of its code and skips formula
// cells altogether; a short walk over the sheet's records finds those cells, so a TRUE is
// not read as 1 and a formula gives its stored result.
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <freexl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include "conversion/io_detail.h"
#include "conversion/xls_wire.h"

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#define DORMAL2K_XLS_ASAN 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__)
#define DORMAL2K_XLS_ASAN 1
#endif

namespace {

using namespace dormal::xlswire;

// Exit statuses; the reading side treats any status as a failure unless 'E' came first.
constexpr int kExitUsage = 2;
constexpr int kExitUnreadable = 3;
constexpr int kExitWriteFailed = 4;

void limitSelf() {
    const auto set = [](int what, rlim_t value) {
        const rlimit lim{value, value};
        ::setrlimit(what, &lim);
    };
#ifndef DORMAL2K_XLS_ASAN
    // AddressSanitizer reserves terabytes of address space for its shadow: no cap under it.
    set(RLIMIT_AS, static_cast<rlim_t>(kChildAddressSpaceBytes));
#endif
    set(RLIMIT_CPU, kChildCpuSeconds);
    set(RLIMIT_FSIZE, 0);
    set(RLIMIT_CORE, 0);
    // Dying on a write to a pipe nobody reads any more is the right end for this process.
    ::signal(SIGPIPE, SIG_DFL);
}

// ---------------------------------------------------------------------------------------
// Output, buffered.

class Out {
public:
    ~Out() = default;
    void byte(std::uint8_t b) { buf_.push_back(static_cast<char>(b)); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i)
            byte(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void f64(double d) {
        std::uint64_t v = 0;
        std::memcpy(&v, &d, sizeof v);
        for (int i = 0; i < 8; ++i)
            byte(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void text(std::string_view s) {
        if (s.size() > kMaxText)
            s = s.substr(0, kMaxText);
        u32(static_cast<std::uint32_t>(s.size()));
        buf_.append(s);
    }
    void raw(const char* p, std::size_t n) { buf_.append(p, n); }
    void flushIfFull() {
        if (buf_.size() >= 64 * 1024)
            flush();
    }
    void flush() {
        std::size_t done = 0;
        while (done < buf_.size()) {
            const ssize_t n = ::write(1, buf_.data() + done, buf_.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                std::_Exit(kExitWriteFailed);
            done += static_cast<std::size_t>(n);
        }
        buf_.clear();
    }

    static constexpr std::size_t kMaxText = dormal::detail::kMaxCellTextBytes;

private:
    std::string buf_;
};

// ---------------------------------------------------------------------------------------
// The cells FreeXL does not tell apart: booleans, errors and formulas of the first sheet.

struct Special {
    CellType type = kEmpty;
    double number = 0;
    std::uint8_t code = 0; // Bool: 0 or 1; Error: error code
    std::string text;      // a formula's text result, UTF-8
};

using Specials = std::map<std::uint32_t, Special>; // key: row (0-based) * 4 + column

std::uint16_t u16At(const std::string& b, std::size_t at) {
    return static_cast<std::uint16_t>(static_cast<unsigned char>(b[at]) | static_cast<unsigned char>(b[at + 1]) << 8);
}
std::uint32_t u32At(const std::string& b, std::size_t at) {
    return static_cast<std::uint32_t>(u16At(b, at)) | static_cast<std::uint32_t>(u16At(b, at + 2)) << 16;
}

void appendUtf8(std::string& out, std::uint32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | c >> 6);
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | c >> 12);
        out += static_cast<char>(0x80 | (c >> 6 & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The compound file ("OLE2") around the workbook stream: just enough of it to read one stream.
class CompoundFile {
public:
    explicit CompoundFile(const std::string& bytes) : b_(bytes) {}

    // The "Workbook" (BIFF8) or "Book" (BIFF5) stream; false when the file does not hold one.
    bool workbookStream(std::string& out) {
        if (b_.size() < 512 || u16At(b_, 0x1E) < 7 || u16At(b_, 0x1E) > 16 || u16At(b_, 0x20) > 12)
            return false;
        shift_ = u16At(b_, 0x1E);
        miniShift_ = u16At(b_, 0x20);
        const std::size_t secSize = std::size_t{1} << shift_;
        // The sectors of the allocation table: 109 in the header, the rest in a chain.
        std::vector<std::uint32_t> fatSectors;
        const std::uint32_t fatCount = u32At(b_, 0x2C);
        for (std::size_t i = 0; i < 109 && fatSectors.size() < fatCount; ++i)
            fatSectors.push_back(u32At(b_, 0x4C + 4 * i));
        std::uint32_t difat = u32At(b_, 0x44);
        for (std::size_t guard = 0; difat < kMaxRegular && fatSectors.size() < fatCount; ++guard) {
            if (guard > sectorCount())
                return false;
            const std::size_t at = sectorOffset(difat);
            if (at == 0)
                return false;
            for (std::size_t i = 0; i + 1 < secSize / 4 && fatSectors.size() < fatCount; ++i)
                fatSectors.push_back(u32At(b_, at + 4 * i));
            difat = u32At(b_, at + secSize - 4);
        }
        for (const std::uint32_t s : fatSectors) {
            const std::size_t at = sectorOffset(s);
            if (at == 0)
                return false;
            for (std::size_t i = 0; i < secSize / 4; ++i)
                fat_.push_back(u32At(b_, at + 4 * i));
        }
        std::string dir;
        if (!chain(u32At(b_, 0x30), ~std::size_t{0}, dir) || dir.size() < 128)
            return false;
        const std::size_t miniCutoff = u32At(b_, 0x38);
        std::size_t found = 0;
        for (std::size_t e = 128; e + 128 <= dir.size() && found == 0; e += 128) {
            const std::size_t nameBytes = u16At(dir, e + 0x40);
            if (dir[e + 0x42] != 2 || nameBytes < 2 || nameBytes > 64)
                continue;
            std::string name;
            for (std::size_t i = 0; i + 2 < nameBytes; i += 2)
                name += static_cast<char>(u16At(dir, e + i) < 0x80 ? u16At(dir, e + i) : '?');
            if (name == "Workbook" || name == "Book")
                found = e;
        }
        if (found == 0 || dir[0x42] != 5)
            return false;
        const std::uint32_t start = u32At(dir, found + 0x74);
        const std::size_t size = u32At(dir, found + 0x78);
        if (size >= miniCutoff)
            return chain(start, size, out);
        // A small stream lives in the mini stream, held in the root entry's chain.
        std::string mini, miniFat;
        if (!chain(u32At(dir, 0x74), u32At(dir, 0x78), mini) || !chain(u32At(b_, 0x3C), ~std::size_t{0}, miniFat))
            return false;
        const std::size_t miniSize = std::size_t{1} << miniShift_;
        out.clear();
        std::uint32_t s = start;
        for (std::size_t guard = 0; out.size() < size; ++guard) {
            if (guard > miniFat.size() / 4 || static_cast<std::size_t>(s) * miniSize + miniSize > mini.size())
                return false;
            out.append(mini, static_cast<std::size_t>(s) * miniSize, miniSize);
            s = u32At(miniFat, 4 * static_cast<std::size_t>(s));
        }
        out.resize(size);
        return true;
    }

private:
    static constexpr std::uint32_t kMaxRegular = 0xFFFFFFFA;

    std::size_t sectorCount() const { return b_.size() >> shift_; }
    // Offset of a sector in the file, or 0 when it lies outside.
    std::size_t sectorOffset(std::uint32_t s) const {
        if (s >= kMaxRegular)
            return 0;
        const std::size_t at = (static_cast<std::size_t>(s) + 1) << shift_;
        return at + (std::size_t{1} << shift_) <= b_.size() ? at : 0;
    }
    // The sectors of a chain, up to `size` bytes (all of it for ~0).
    bool chain(std::uint32_t s, std::size_t size, std::string& out) const {
        out.clear();
        const std::size_t secSize = std::size_t{1} << shift_;
        for (std::size_t guard = 0; s != 0xFFFFFFFE && out.size() < size; ++guard) {
            const std::size_t at = sectorOffset(s);
            if (at == 0 || guard > fat_.size() || s >= fat_.size())
                return false;
            out.append(b_, at, secSize);
            s = fat_[s];
        }
        if (size != ~std::size_t{0}) {
            if (out.size() < size)
                return false;
            out.resize(size);
        }
        return true;
    }

    const std::string& b_;
    unsigned shift_ = 9;
    unsigned miniShift_ = 6;
    std::vector<std::uint32_t> fat_;
};

// A STRING record (a formula's text result) as UTF-8; false when it is cut short.
bool stringRecord(const std::string& d, bool biff8, std::string& out) {
    out.clear();
    if (d.size() < 2)
        return false;
    const std::size_t count = u16At(d, 0);
    std::size_t at = 2;
    bool wide = false;
    if (biff8) {
        if (d.size() < 3)
            return false;
        wide = (d[2] & 1) != 0;
        at = 3;
    }
    if (d.size() < at + count * (wide ? 2 : 1))
        return false;
    for (std::size_t i = 0; i < count; ++i)
        appendUtf8(out, wide ? u16At(d, at + 2 * i) : static_cast<unsigned char>(d[at + i]));
    return true;
}

// Walks the first worksheet's records and keeps its boolean, error and formula cells of
// columns A to D. False when the records cannot be walked.
bool findSpecialCells(const std::string& file, Specials& specials) {
    std::string wb;
    if (!CompoundFile(file).workbookStream(wb))
        return false;
    const auto record = [&wb](std::size_t at, std::uint16_t& type, std::string& data) {
        if (at + 4 > wb.size())
            return false;
        type = u16At(wb, at);
        const std::size_t len = u16At(wb, at + 2);
        if (at + 4 + len > wb.size())
            return false;
        data.assign(wb, at + 4, len);
        return true;
    };
    std::uint16_t type = 0;
    std::string data;
    if (!record(0, type, data) || (type != 0x0809 && type != 0x0409) || data.size() < 2)
        return false;
    const bool biff8 = u16At(data, 0) == 0x0600;
    // The globals: the first worksheet's place among the BOUNDSHEET records.
    std::size_t sheetAt = 0;
    bool found = false;
    for (std::size_t at = 4 + data.size(); record(at, type, data) && type != 0x000A; at += 4 + data.size()) {
        if (type == 0x0085 && data.size() >= 6 && data[5] == 0 && !found) {
            sheetAt = u32At(data, 0);
            found = true;
        }
    }
    if (!found || !record(sheetAt, type, data) || type != 0x0809)
        return false;
    std::uint32_t pendingText = ~0U; // key of a formula whose text result follows
    for (std::size_t at = sheetAt + 4 + data.size(); record(at, type, data) && type != 0x000A;
         at += 4 + data.size()) {
        if (type == 0x0207 && pendingText != ~0U) { // STRING, after its FORMULA
            Special& s = specials[pendingText];
            if (!stringRecord(data, biff8, s.text))
                return false;
            s.type = kText;
            pendingText = ~0U;
            continue;
        }
        if ((type != 0x0006 && type != 0x0205) || data.size() < 8)
            continue;
        const std::uint32_t row = u16At(data, 0);
        const std::uint32_t col = u16At(data, 2);
        if (col >= static_cast<std::uint32_t>(kColumns))
            continue;
        const std::uint32_t key = row * kColumns + col;
        Special s;
        if (type == 0x0205) { // BOOLERR
            s.type = data[7] != 0 ? kError : kBool;
            s.code = static_cast<std::uint8_t>(data[6]);
        } else { // FORMULA: the stored result in bytes 6 to 13
            if (data.size() < 14)
                return false;
            if (u16At(data, 12) != 0xFFFF) {
                s.type = kNumber;
                std::uint64_t v = 0;
                for (int i = 7; i >= 0; --i)
                    v = v << 8 | static_cast<unsigned char>(data[6 + static_cast<std::size_t>(i)]);
                std::memcpy(&s.number, &v, sizeof v);
            } else {
                switch (data[6]) {
                case 0: // text, in the STRING record that follows
                    s.type = kNoValue;
                    pendingText = key;
                    break;
                case 1:
                    s.type = kBool;
                    s.code = data[8] != 0 ? 1 : 0;
                    break;
                case 2:
                    s.type = kError;
                    s.code = static_cast<std::uint8_t>(data[8]);
                    break;
                default: // 3: nothing stored (written by a program that does not compute)
                    s.type = kNoValue;
                    break;
                }
            }
        }
        specials[key] = s;
    }
    return true;
}

bool readFile(const char* path, std::string& out) {
    const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return false;
    }
    out.resize(static_cast<std::size_t>(st.st_size));
    std::size_t done = 0;
    while (done < out.size()) {
        const ssize_t n = ::read(fd, out.data() + done, out.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += static_cast<std::size_t>(n);
    }
    ::close(fd);
    out.resize(done);
    return true;
}

// One cell as FreeXL has it, or as the record walk found it.
void writeCell(Out& out, const void* handle, std::uint32_t row0, unsigned short col, const Specials& specials) {
    const auto sp = specials.find(row0 * kColumns + col);
    if (sp != specials.end()) {
        const Special& s = sp->second;
        out.byte(s.type);
        if (s.type == kNumber)
            out.f64(s.number);
        else if (s.type == kText)
            out.text(s.text);
        else if (s.type == kBool || s.type == kError)
            out.byte(s.code);
        return;
    }
    FreeXL_CellValue v{};
    const int rc = freexl_get_cell_value(handle, row0, col, &v);
    if (rc == FREEXL_ILLEGAL_CELL_ROW_COL) {
        out.byte(kEmpty);
        return;
    }
    if (rc != FREEXL_OK)
        std::_Exit(kExitUnreadable);
    switch (v.type) {
    case FREEXL_CELL_INT:
        out.byte(kNumber);
        out.f64(v.value.int_value);
        break;
    case FREEXL_CELL_DOUBLE:
        out.byte(kNumber);
        out.f64(v.value.double_value);
        break;
    case FREEXL_CELL_TEXT:
    case FREEXL_CELL_SST_TEXT:
        out.byte(kText);
        out.text(v.value.text_value ? v.value.text_value : "");
        break;
    case FREEXL_CELL_DATE:
    case FREEXL_CELL_DATETIME:
    case FREEXL_CELL_TIME:
        out.byte(kDateTime);
        out.text(v.value.text_value ? v.value.text_value : "");
        break;
    default:
        out.byte(kEmpty);
        break;
    }
}

// Whether the A cell of a row ends the data: empty, or an empty text.
bool endsData(const void* handle, std::uint32_t row0, const Specials& specials) {
    const auto sp = specials.find(row0 * kColumns);
    if (sp != specials.end())
        return sp->second.type == kText && sp->second.text.empty();
    FreeXL_CellValue v{};
    const int rc = freexl_get_cell_value(handle, row0, 0, &v);
    if (rc == FREEXL_ILLEGAL_CELL_ROW_COL)
        return true;
    if (rc != FREEXL_OK)
        std::_Exit(kExitUnreadable);
    switch (v.type) {
    case FREEXL_CELL_NULL:
        return true;
    case FREEXL_CELL_INT:
    case FREEXL_CELL_DOUBLE:
        return false;
    default:
        return v.value.text_value == nullptr || v.value.text_value[0] == '\0';
    }
}

} // namespace

int main(int argc, char** argv) {
    limitSelf();
    if (argc != 2)
        return kExitUsage;
    Out out;
    out.raw(kMagic, sizeof kMagic);

    const void* handle = nullptr;
    const int rc = freexl_open(argv[1], &handle);
    if (rc != FREEXL_OK) {
        out.byte(kOpenFailed);
        out.u32(static_cast<std::uint32_t>(rc));
        out.flush();
        return 0;
    }
    unsigned rows = 0;
    unsigned short cols = 0;
    int sheet = freexl_select_active_worksheet(handle, 0);
    if (sheet == FREEXL_OK)
        sheet = freexl_worksheet_dimensions(handle, &rows, &cols);
    if (sheet != FREEXL_OK) {
        out.byte(kOpenFailed);
        out.u32(static_cast<std::uint32_t>(sheet));
        out.flush();
        return 0;
    }
    std::string bytes;
    Specials specials;
    if (!readFile(argv[1], bytes) || !findSpecialCells(bytes, specials))
        return kExitUnreadable;
    bytes = std::string();
    std::uint32_t last = rows; // one past the last 0-based row holding something
    if (!specials.empty())
        last = std::max<std::uint32_t>(last, specials.rbegin()->first / kColumns + 1);
    last = std::min<std::uint32_t>(last, kMaxRow);

    out.byte(kStarted);
    for (std::uint32_t r = 1; r < last; ++r) { // row 1 (index 0) holds the headings
        out.byte(kRow);
        out.u32(r + 1);
        for (unsigned short c = 0; c < kColumns; ++c)
            writeCell(out, handle, r, c, specials);
        out.flushIfFull();
        if (endsData(handle, r, specials))
            break;
    }
    out.byte(kEnd);
    out.flush();
    freexl_close(handle);
    return 0;
}
