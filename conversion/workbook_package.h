#pragma once
// The result workbook's package written without a workbook library: the fixed parts of a
// one-sheet .xlsx (content types, relations, properties, workbook, styles, theme) and the zip
// container around them, with the sheet part deflated as its rows arrive.

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

namespace dormal::detail {

// Where a package is written.
class PackageFile {
public:
    virtual ~PackageFile() = default;
    // Appends `n` bytes; throws on failure.
    virtual void write(const char* p, std::size_t n) = 0;
    // Overwrites `n` bytes already written from `offset` (bytes from the file's start).
    virtual void writeAt(std::uint64_t offset, const char* p, std::size_t n) = 0;
    // Ends the writing with a cause (Italian); throws, never returns.
    [[noreturn]] virtual void fail(const std::string& cause) = 0;
};

// A one-sheet workbook streamed into a PackageFile: begin() writes the fixed parts and the
// sheet's opening; sheetBytes() takes the sheet XML after <sheetData>; finish() ends the sheet,
// writes its dimension into the room begin() kept for it, and writes the zip directory.
// The sheet is deflated at `level` (1: fastest) as it comes, so memory does not grow with it.
class SheetPackage {
public:
    SheetPackage(PackageFile& out, int level);
    ~SheetPackage();
    SheetPackage(const SheetPackage&) = delete;
    SheetPackage& operator=(const SheetPackage&) = delete;

    // `created`: the time the properties give as creation and change (UTC).
    void begin(const std::tm& created);
    void sheetBytes(const char* p, std::size_t n);
    // `dimension`: the sheet's used range ("A1:H50005", or "A1" for one cell), at most
    // kMaxDimension characters.
    void finish(std::string_view dimension);

    static constexpr std::size_t kMaxDimension = 24;

private:
    struct Entry {
        std::string name;
        std::uint32_t crc = 0;
        std::uint64_t compressed = 0;
        std::uint64_t size = 0;
        std::uint64_t offset = 0;
    };
    void addWholePart(std::string_view name, std::string_view data);
    void localHeader(const Entry& e);
    void put(const char* p, std::size_t n);
    void deflateSheet(const char* p, std::size_t n, int flush);
    std::string sheetPrefix(std::string_view dimension) const;

    PackageFile& out_;
    int level_;
    std::uint64_t offset_ = 0;
    std::vector<Entry> entries_;
    void* stream_ = nullptr; // z_stream of the sheet
    std::vector<char> outBuf_;
    std::uint32_t sheetCrc_ = 0;      // of the bytes after the prefix
    std::uint64_t sheetBodySize_ = 0; // bytes after the prefix
    std::uint64_t sheetDeflated_ = 0;
    std::uint64_t prefixAt_ = 0;      // where the stored prefix block starts
    bool begun_ = false;
};

} // namespace dormal::detail
