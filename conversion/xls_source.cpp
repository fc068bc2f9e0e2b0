// The .xls data-file reader, over FreeXL: first sheet, rows from 2, columns A to D, ending
// at the first row whose A cell is empty.
#include <cerrno>
#include <string>

#include <freexl.h>
#include <sys/stat.h>

#include "conversion/data_source.h"
#include "conversion/formats.h"
#include "conversion/io_detail.h"

namespace dormal {

namespace {

using detail::FieldSlot;

std::string freexlCause(int code) {
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        return "Il file non esiste o non è leggibile";
    case FREEXL_INSUFFICIENT_MEMORY:
        return "Memoria insufficiente";
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
        return "Il file non è una cartella di lavoro .xls valida";
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return "Il file non contiene una cartella di lavoro di Excel";
    case FREEXL_BIFF_ILLEGAL_SHEET_INDEX:
        return "La cartella di lavoro non contiene fogli di lavoro";
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
        return "La cartella di lavoro usa una codifica dei caratteri non supportata";
    case FREEXL_CRAFTED_FILE:
        return "La cartella di lavoro è gravemente danneggiata (file rifiutato)";
    default:
        break;
    }
    return "La cartella di lavoro .xls è danneggiata (codice FreeXL " + std::to_string(code) + ")";
}

class XlsSource final : public DataSource {
public:
    XlsSource(const void* handle, unsigned rows, std::string name, const DataReadOptions& opt)
        : handle_(handle), rows_(rows), name_(std::move(name)), opt_(opt) {}
    ~XlsSource() override { freexl_close(handle_); }
    XlsSource(const XlsSource&) = delete;
    XlsSource& operator=(const XlsSource&) = delete;

    void next(ReadEvent& ev) override {
        if (done_) {
            ev.kind = ReadEvent::Kind::End;
            return;
        }
        // FreeXL rows are 0-based: sheet row r is index r - 1.
        const unsigned index = static_cast<unsigned>(row_ - 1);
        FreeXL_CellValue a{};
        if (index >= rows_ || !cell(index, 0, a) || !nameOf(a, ev.point.name)) {
            done_ = true;
            ev.kind = ReadEvent::Kind::End;
            return;
        }
        const long row = row_++;
        static constexpr FieldSlot kSlots[3] = {FieldSlot::First, FieldSlot::Second, FieldSlot::Height};
        double* out[3] = {&ev.point.first, &ev.point.second, &ev.point.height};
        for (unsigned short col = 1; col <= 3; ++col) {
            FreeXL_CellValue v{};
            if (!cell(index, col, v) || !numberOf(v, *out[col - 1])) {
                detail::setReadingError(ev, kSlots[col - 1], opt_.inputKind, row);
                return;
            }
        }
        ev.kind = ReadEvent::Kind::Point;
    }

private:
    bool cell(unsigned row, unsigned short col, FreeXL_CellValue& v) const {
        v.type = FREEXL_CELL_NULL;
        const int rc = freexl_get_cell_value(handle_, row, col, &v);
        if (rc == FREEXL_ILLEGAL_CELL_ROW_COL) {
            v.type = FREEXL_CELL_NULL;
            return true;
        }
        return rc == FREEXL_OK;
    }

    static bool nameOf(const FreeXL_CellValue& v, std::string& out) {
        out.clear();
        switch (v.type) {
        case FREEXL_CELL_INT:
            out = std::to_string(v.value.int_value);
            break;
        case FREEXL_CELL_DOUBLE:
            detail::numberAsName(v.value.double_value, out);
            break;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
        case FREEXL_CELL_DATE:
        case FREEXL_CELL_DATETIME:
        case FREEXL_CELL_TIME:
            if (v.value.text_value)
                out = v.value.text_value;
            break;
        default:
            break;
        }
        return !out.empty();
    }

    static bool numberOf(const FreeXL_CellValue& v, double& out) {
        out = 0;
        switch (v.type) {
        case FREEXL_CELL_NULL:
            return true; // an empty cell reads as 0
        case FREEXL_CELL_INT:
            out = v.value.int_value;
            return true;
        case FREEXL_CELL_DOUBLE:
            out = v.value.double_value;
            return true;
        case FREEXL_CELL_TEXT:
        case FREEXL_CELL_SST_TEXT:
            return v.value.text_value && detail::parseCellText(v.value.text_value, out);
        default:
            return false; // dates and times are not coordinates
        }
    }

    const void* handle_;
    unsigned rows_;
    std::string name_;
    DataReadOptions opt_;
    long row_ = 2;
    bool done_ = false;
};

} // namespace

std::unique_ptr<DataSource> openXlsSource(const std::string& path, const DataReadOptions& opt, Message& failure) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        failure = detail::openFailureMessage(path, detail::systemErrorText(errno));
        return nullptr;
    }
    // FreeXL reads the whole file into memory.
    if (static_cast<unsigned long long>(st.st_size) > detail::kMaxXlsFileBytes) {
        failure = detail::openFailureMessage(path, "File .xls troppo grande (" + std::to_string(st.st_size) +
                                                       " byte): file rifiutato");
        return nullptr;
    }
    const void* handle = nullptr;
    int rc = freexl_open(path.c_str(), &handle);
    if (rc != FREEXL_OK) {
        if (handle)
            freexl_close(handle);
        failure = detail::openFailureMessage(path, freexlCause(rc));
        return nullptr;
    }
    rc = freexl_select_active_worksheet(handle, 0);
    unsigned rows = 0;
    unsigned short cols = 0;
    if (rc == FREEXL_OK)
        rc = freexl_worksheet_dimensions(handle, &rows, &cols);
    if (rc != FREEXL_OK) {
        freexl_close(handle);
        failure = detail::openFailureMessage(path, freexlCause(rc));
        return nullptr;
    }
    return std::make_unique<XlsSource>(handle, rows, path, opt);
}

} // namespace dormal
