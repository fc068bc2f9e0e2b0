#pragma once
// Delimited text (.csv) for the GIS run, read here rather than by GDAL's CSV reader, which
// neither takes a given delimiter nor reads a semicolon file with decimal commas.
//
// The file is streamed: a record at a time from a fixed buffer, so that memory does not grow
// with the file. A first pass finds the widest record, whether the first one is a header and
// the type of every column; the layer then gives one feature per record, numbered by the file
// line it starts on.

#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <ogrsf_frmts.h>

namespace dormal {

// One record of a delimited text file: its cells and the file line it starts on.
struct TextRecord {
    long line = 0;
    std::vector<std::string> cells;
};

// Why a path whose st_mode is `mode` (not a regular file) cannot be read as `readAs`
// ("un file .csv"): "Non è un file regolare ma un dispositivo: un file .csv si legge solo da
// un file su disco".
std::string notRegularCause(unsigned mode, const char* readAs);

// A number in a text cell: blanks around it ignored, a comma read as the decimal point.
bool parseNumberText(const char* text, double& value);
bool parseNumberText(std::string_view text, double& value);

// The delimiter of a text file, found on its first line outside quotes: a tab if there is
// one, else a semicolon, else a comma. A semicolon file may then hold decimal commas.
char detectDelimiter(std::string_view firstLine);

// What a column holds, as GDAL's CSV reader detects it (AUTODETECT_TYPE): integers, wider
// integers, reals, or text as soon as one cell is none of them. Empty cells say nothing. An
// integer written with leading zeros ("007", a point's code) stays text, so that no digit is lost.
enum class ColumnType { Unknown, Integer, Integer64, Real, String };
ColumnType widenColumnType(ColumnType current, std::string_view cell, bool decimalComma);

// Splits delimited text into records as it reads it. A cell may be quoted with '"' (a doubled
// quote inside stands for one) and then hold delimiters and line ends. Lines end with LF,
// CR LF or CR; empty lines are no records. Line numbers are those an editor shows.
class DelimitedTextReader {
public:
    // Records longer than this are refused: a file without line ends is not read into memory.
    static constexpr std::size_t kMaxRecordBytes = 64u << 20;

    explicit DelimitedTextReader(std::FILE* file) : file_(file) {}
    DelimitedTextReader(const DelimitedTextReader&) = delete;
    DelimitedTextReader& operator=(const DelimitedTextReader&) = delete;

    void setDelimiter(char d) { delimiter_ = d; }
    // The first line (up to a line end outside quotes, at most 1 MiB), then back to the start.
    std::string firstLine();
    // Back to the first byte after a byte order mark.
    bool rewind();
    // The next record; false at the end of the file and on failure (then failure() says why).
    bool next(TextRecord& rec);
    const std::optional<std::string>& failure() const { return failure_; }

private:
    int get();
    int peek();
    bool fill();

    std::FILE* file_;
    char delimiter_ = ',';
    std::vector<char> buffer_ = std::vector<char>(1u << 16);
    std::size_t at_ = 0, end_ = 0;
    bool eof_ = false;
    long line_ = 1;
    std::optional<std::string> failure_;
};

// A delimited text file as an OGR layer without geometries, read as the run goes: every
// column a field (named by the header, else field_1, field_2 ...), typed when `typed`
// (results that hold types), else text as the file has it.
class DelimitedTextLayer final : public OGRLayer {
public:
    // Opens and reads the file once; a message line (Italian) in `cause` when it cannot.
    // `columns` are the --columns words (numbers or header names).
    static std::unique_ptr<DelimitedTextLayer> open(const std::string& path, char delimiter,
                                                    const std::vector<std::string>& columns, bool typed,
                                                    std::string& cause);
    ~DelimitedTextLayer() override;

    char delimiter() const { return delimiter_; }
    // Why reading stopped before the end of the file, if it did.
    const std::optional<std::string>& failure() const { return failure_; }

    void ResetReading() override;
    OGRFeature* GetNextFeature() override;
    OGRFeatureDefn* GetLayerDefn() override { return defn_; }
    GIntBig GetFeatureCount(int force) override;
    int TestCapability(const char*) override { return FALSE; }

private:
    DelimitedTextLayer(std::FILE* file, char delimiter);

    std::FILE* file_;
    DelimitedTextReader reader_;
    OGRFeatureDefn* defn_;
    char delimiter_;
    bool header_ = false;
    bool decimalComma_ = false;
    long records_ = 0; // data records (the header not counted), from the first pass
    std::vector<ColumnType> types_;
    TextRecord record_;
    std::optional<std::string> failure_;
};

} // namespace dormal
