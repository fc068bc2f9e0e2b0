#include "conversion/gis_csv.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <system_error>
#include <unordered_set>

#include "conversion/system_error.h"
#include "grid/text_encoding.h"

namespace dormal {

namespace {

std::string_view trimmed(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())) != 0) {
        s.remove_prefix(1);
    }
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())) != 0) {
        s.remove_suffix(1);
    }
    return s;
}

bool allDigits(std::string_view s) {
    return !s.empty() && std::all_of(s.begin(), s.end(), [](unsigned char c) { return std::isdigit(c) != 0; });
}

} // namespace

std::string notRegularCause(unsigned mode, const char* readAs) {
    const char* what = S_ISDIR(mode)                    ? "Non è un file regolare ma una cartella"
                       : S_ISFIFO(mode)                 ? "Non è un file regolare ma una pipe"
                       : S_ISCHR(mode) || S_ISBLK(mode) ? "Non è un file regolare ma un dispositivo"
                       : S_ISSOCK(mode)                 ? "Non è un file regolare ma un socket"
                                                        : "Non è un file regolare";
    return std::string(what) + ": " + readAs + " si legge solo da un file su disco";
}

bool parseNumberText(std::string_view text, double& value) {
    const std::string_view t = trimmed(text);
    if (t.empty() || t.size() > 256) {
        return false;
    }
    char buf[257];
    std::size_t n = 0;
    for (const char c : t) {
        buf[n++] = c == ',' ? '.' : c;
    }
    const char* begin = buf;
    if (*begin == '+') {
        ++begin;
    }
    const auto [end, ec] = std::from_chars(begin, buf + n, value);
    return ec == std::errc() && end == buf + n && std::isfinite(value);
}

bool parseNumberText(const char* text, double& value) {
    return parseNumberText(std::string_view(text != nullptr ? text : ""), value);
}

char detectDelimiter(std::string_view firstLine) {
    bool quoted = false;
    bool semicolon = false;
    for (const char c : firstLine) {
        if (c == '\n' || c == '\r') {
            if (!quoted) {
                break;
            }
        } else if (c == '"') {
            quoted = !quoted;
        } else if (!quoted && c == '\t') {
            return '\t';
        } else if (!quoted && c == ';') {
            semicolon = true;
        }
    }
    return semicolon ? ';' : ',';
}

ColumnType widenColumnType(ColumnType current, std::string_view cell, bool decimalComma) {
    const std::string_view t = trimmed(cell);
    if (current == ColumnType::String || t.empty()) {
        return current;
    }
    ColumnType type = ColumnType::String;
    const std::string_view digits = t.front() == '-' || t.front() == '+' ? t.substr(1) : t;
    if (allDigits(digits)) {
        if (digits.size() > 1 && digits.front() == '0') {
            return ColumnType::String;
        }
        std::int64_t v = 0;
        const auto [end, ec] = std::from_chars(t.data() + (t.front() == '+' ? 1 : 0), t.data() + t.size(), v);
        if (ec == std::errc() && end == t.data() + t.size()) {
            type = v >= std::numeric_limits<std::int32_t>::min() && v <= std::numeric_limits<std::int32_t>::max()
                       ? ColumnType::Integer
                       : ColumnType::Integer64;
        } else {
            type = ColumnType::Real;
        }
    } else {
        double v = 0;
        const bool comma = t.find(',') != std::string_view::npos;
        if ((!comma || decimalComma) && parseNumberText(t, v)) {
            type = ColumnType::Real;
        }
    }
    return std::max(current, type);
}

int DelimitedTextReader::get() {
    if (at_ == end_ && !fill()) {
        return EOF;
    }
    return static_cast<unsigned char>(buffer_[at_++]);
}

int DelimitedTextReader::peek() {
    if (at_ == end_ && !fill()) {
        return EOF;
    }
    return static_cast<unsigned char>(buffer_[at_]);
}

bool DelimitedTextReader::fill() {
    if (eof_ || failure_) {
        return false;
    }
    const std::size_t n = std::fread(buffer_.data(), 1, buffer_.size(), file_);
    at_ = 0;
    end_ = n;
    if (n == 0) {
        if (std::ferror(file_) != 0) {
            failure_ = std::string("LETTURA NON RIUSCITA: ") + systemErrorText(errno);
        }
        eof_ = true;
        return false;
    }
    return true;
}

bool DelimitedTextReader::rewind() {
    std::clearerr(file_);
    if (std::fseek(file_, 0, SEEK_SET) != 0) {
        failure_ = std::string("LETTURA NON RIUSCITA: ") + systemErrorText(errno);
        return false;
    }
    at_ = end_ = 0;
    eof_ = false;
    line_ = 1;
    failure_.reset();
    // A byte order mark is no part of the first cell.
    if (peek() == 0xEF && end_ - at_ >= 3 && std::memcmp(&buffer_[at_], "\xEF\xBB\xBF", 3) == 0) {
        at_ += 3;
    }
    return true;
}

std::string DelimitedTextReader::firstLine() {
    std::string line;
    bool quoted = false;
    for (int c = get(); c != EOF && line.size() < (1u << 20); c = get()) {
        if ((c == '\n' || c == '\r') && !quoted) {
            break;
        }
        if (c == '"') {
            quoted = !quoted;
        }
        line += static_cast<char>(c);
    }
    rewind();
    return line;
}

bool DelimitedTextReader::next(TextRecord& rec) {
    rec.cells.clear();
    std::string cell;
    std::size_t bytes = 0;
    bool quoted = false;
    bool any = false; // the record has a character
    for (int c = get();; c = get()) {
        if (c == EOF) {
            if (failure_) {
                return false;
            }
            if (any) {
                rec.cells.push_back(std::move(cell));
            }
            return any;
        }
        if (++bytes > kMaxRecordBytes) {
            failure_ =
                "RIGA " + std::to_string(rec.line) + " PIU' LUNGA DI " + std::to_string(kMaxRecordBytes >> 20) + " MB";
            return false;
        }
        if (!any) {
            rec.line = line_;
        }
        if (quoted) {
            if (c == '"' && peek() == '"') {
                cell += '"';
                get();
            } else if (c == '"') {
                quoted = false;
            } else {
                if (c == '\n' || (c == '\r' && peek() != '\n')) {
                    ++line_;
                }
                cell += static_cast<char>(c);
            }
            continue;
        }
        if (c == '\n' || c == '\r') {
            if (c == '\r' && peek() == '\n') {
                get();
            }
            ++line_;
            if (any) {
                rec.cells.push_back(std::move(cell));
                return true;
            }
            continue;
        }
        any = true;
        if (c == '"' && cell.empty()) {
            quoted = true;
        } else if (c == delimiter_) {
            rec.cells.push_back(std::move(cell));
            cell.clear();
        } else {
            cell += static_cast<char>(c);
            // The rest of an ordinary run of characters at once, as far as the buffer goes.
            std::size_t run = at_;
            while (run < end_ && buffer_[run] != delimiter_ && buffer_[run] != '"' && buffer_[run] != '\n' &&
                   buffer_[run] != '\r') {
                ++run;
            }
            cell.append(&buffer_[at_], run - at_);
            bytes += run - at_;
            at_ = run;
        }
    }
}

DelimitedTextLayer::DelimitedTextLayer(std::FILE* file, char delimiter)
    : file_(file), reader_(file), defn_(new OGRFeatureDefn("dati")), delimiter_(delimiter) {
    defn_->Reference();
    defn_->SetGeomType(wkbNone);
    SetDescription("dati");
}

DelimitedTextLayer::~DelimitedTextLayer() {
    defn_->Release();
    std::fclose(file_);
}

std::unique_ptr<DelimitedTextLayer> DelimitedTextLayer::open(const std::string& path, char delimiter,
                                                             const std::vector<std::string>& columns, bool typed,
                                                             std::string& cause) {
    // Looked at before opening: opening a pipe without a writer would wait for one.
    struct stat before {};
    if (::stat(path.c_str(), &before) == 0 && !S_ISREG(before.st_mode)) {
        cause = notRegularCause(before.st_mode, "un file .csv");
        return nullptr;
    }
    std::FILE* file = std::fopen(path.c_str(), "rbe");
    if (file == nullptr) {
        cause = systemErrorText(errno);
        return nullptr;
    }
    struct stat st {};
    if (::fstat(fileno(file), &st) != 0 || !S_ISREG(st.st_mode)) {
        cause = notRegularCause(st.st_mode, "un file .csv");
        std::fclose(file);
        return nullptr;
    }
    std::unique_ptr<DelimitedTextLayer> layer(new DelimitedTextLayer(file, delimiter));
    DelimitedTextReader& reader = layer->reader_;
    if (!reader.rewind()) {
        cause = *reader.failure();
        return nullptr;
    }
    if (delimiter == 0) {
        layer->delimiter_ = detectDelimiter(reader.firstLine());
    }
    reader.setDelimiter(layer->delimiter_);
    layer->decimalComma_ = layer->delimiter_ != ',';

    // The first pass: the first record, the widest one, every column's type.
    std::vector<std::string> words = columns;
    if (words.empty()) {
        words = {"1", "2", "3", "4"};
    }
    TextRecord first;
    const bool any = reader.next(first);
    // A header when a column is named, or when neither the first record's North nor its East
    // is a number: a typing slip in one of them leaves the row a (bad) data row, not field names.
    bool header = !std::all_of(words.begin(), words.end(), [](const std::string& w) { return allDigits(w); });
    if (!header && any) {
        const auto isNumber = [&first](const std::string& word) {
            const auto i = static_cast<std::size_t>(std::max(1, std::atoi(word.c_str())) - 1);
            double v = 0;
            return i < first.cells.size() && parseNumberText(first.cells[i], v);
        };
        header = !isNumber(words[1]) && !isNumber(words[2]);
    }
    std::size_t width = any ? first.cells.size() : 0;
    std::vector<ColumnType>& types = layer->types_;
    const auto note = [&](const TextRecord& r) {
        width = std::max(width, r.cells.size());
        if (types.size() < r.cells.size()) {
            types.resize(r.cells.size(), ColumnType::Unknown);
        }
        for (std::size_t i = 0; i < r.cells.size(); ++i) {
            types[i] = widenColumnType(types[i], r.cells[i], layer->decimalComma_);
        }
        ++layer->records_;
    };
    if (any && !header) {
        note(first);
    }
    for (TextRecord r; reader.next(r);) {
        note(r);
    }
    if (reader.failure()) {
        cause = *reader.failure();
        return nullptr;
    }
    types.resize(width, ColumnType::Unknown);

    // The fields: header names (a name used twice, or none, made unique), in linear time.
    std::unordered_set<std::string> used;
    for (std::size_t i = 0; i < width; ++i) {
        std::string name = header && i < first.cells.size() ? first.cells[i] : std::string();
        if (name.empty()) {
            name = "field_" + std::to_string(i + 1);
        }
        std::string unique = name;
        for (int k = 1; !used.insert(asciiLowerCase(unique)).second; ++k) {
            unique = name + "_" + std::to_string(k);
        }
        OGRFieldType type = OFTString;
        if (typed) {
            type = types[i] == ColumnType::Integer     ? OFTInteger
                   : types[i] == ColumnType::Integer64 ? OFTInteger64
                   : types[i] == ColumnType::Real      ? OFTReal
                                                       : OFTString;
        }
        if (type == OFTString) {
            types[i] = ColumnType::String;
        }
        OGRFieldDefn field(unique.c_str(), type);
        layer->defn_->AddFieldDefn(&field);
    }
    layer->header_ = header;
    layer->ResetReading();
    if (layer->failure_) {
        cause = *layer->failure_;
        return nullptr;
    }
    return layer;
}

void DelimitedTextLayer::ResetReading() {
    if (!reader_.rewind()) {
        failure_ = reader_.failure();
        return;
    }
    if (header_ && !reader_.next(record_)) {
        failure_ = reader_.failure();
    }
}

GIntBig DelimitedTextLayer::GetFeatureCount(int /*force*/) {
    return records_;
}

OGRFeature* DelimitedTextLayer::GetNextFeature() {
    if (failure_ || !reader_.next(record_)) {
        if (!failure_ && reader_.failure()) {
            failure_ = reader_.failure();
        }
        return nullptr;
    }
    const auto width = static_cast<std::size_t>(defn_->GetFieldCount());
    if (record_.cells.size() > width) {
        failure_ = "IL FILE E' CAMBIATO DURANTE LA LETTURA (RIGA " + std::to_string(record_.line) + ")";
        return nullptr;
    }
    auto* f = new OGRFeature(defn_);
    f->SetFID(record_.line);
    for (std::size_t i = 0; i < record_.cells.size(); ++i) {
        const int field = static_cast<int>(i);
        const std::string& cell = record_.cells[i];
        if (types_[i] == ColumnType::String) {
            f->SetField(field, cell.c_str());
            continue;
        }
        const std::string_view t = trimmed(cell);
        if (t.empty()) {
            continue; // null
        }
        // The first pass found a number in every cell of the column: one that is none now
        // means the file changed under the run.
        bool ok = false;
        if (types_[i] == ColumnType::Real) {
            double v = 0;
            ok = parseNumberText(t, v);
            f->SetField(field, v);
        } else {
            std::int64_t n = 0;
            const char* from = t.data() + (t.front() == '+' ? 1 : 0);
            const auto [end, ec] = std::from_chars(from, t.data() + t.size(), n);
            ok = ec == std::errc() && end == t.data() + t.size();
            f->SetField(field, static_cast<GIntBig>(n));
        }
        if (!ok) {
            delete f;
            failure_ = "IL FILE E' CAMBIATO DURANTE LA LETTURA (RIGA " + std::to_string(record_.line) + ")";
            return nullptr;
        }
    }
    return f;
}

} // namespace dormal
