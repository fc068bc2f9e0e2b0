// The .xlsx data-file reader: a small streaming reader over libzip and expat. The first
// sheet is found through the workbook and its relationships, the shared strings are loaded
// (bounded), and the sheet is parsed a row at a time: expat is suspended at each row end.
// Every part is bounded in size and compression ratio, and DOCTYPE declarations are
// refused, so a hostile workbook cannot exhaust memory or disk.
#include <charconv>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <expat.h>
#include <zip.h>

#include "conversion/data_source.h"
#include "conversion/formats.h"
#include "conversion/io_detail.h"
#include "conversion/system_error.h"

namespace dormal {

namespace {

using detail::FieldSlot;

constexpr char kNsSep = '|';
constexpr std::size_t kChunk = 256 * 1024;              // bytes fed to expat at a time
constexpr unsigned long long kMaxTokenBytes = 16 << 20; // input without any parser event
constexpr int kMaxDepth = 64;                           // element nesting
constexpr unsigned long long kRatioFloor = 1 << 20;     // ratio checked above this size

// Where the local part of an expat name "namespace|local" starts: after the last separator,
// searched from the end (the local part is short, the namespace long), or at the start.
inline std::size_t localStart(const XML_Char* name, std::size_t len) {
    for (std::size_t i = len; i-- > 0;) {
        if (name[i] == kNsSep)
            return i + 1;
    }
    return 0;
}

// The local part of an expat name "namespace|local" (or the name itself).
std::string_view localName(const XML_Char* name) {
    const std::size_t len = std::strlen(name);
    const std::size_t at = localStart(name, len);
    return std::string_view(name + at, len - at);
}

const XML_Char* attribute(const XML_Char** atts, std::string_view local, bool namespaced = false) {
    for (int i = 0; atts[i]; i += 2) {
        const std::size_t len = std::strlen(atts[i]);
        const std::size_t at = localStart(atts[i], len);
        if (namespaced != (at != 0))
            continue;
        if (std::string_view(atts[i] + at, len - at) == local)
            return atts[i + 1];
    }
    return nullptr;
}

// ---------------------------------------------------------------------------------------
// Zip access with bounds.

struct ZipCloser {
    void operator()(zip_t* z) const {
        if (z)
            zip_discard(z);
    }
};
using ZipPtr = std::unique_ptr<zip_t, ZipCloser>;

struct ZipFileCloser {
    void operator()(zip_file_t* f) const {
        if (f)
            zip_fclose(f);
    }
};
using ZipFilePtr = std::unique_ptr<zip_file_t, ZipFileCloser>;

struct XmlParserFree {
    void operator()(XML_Parser p) const {
        if (p)
            XML_ParserFree(p);
    }
};
using XmlParserPtr = std::unique_ptr<std::remove_pointer_t<XML_Parser>, XmlParserFree>;

// An entry opened for streaming, its declared size checked against `cap` and its ratio.
class EntryStream {
public:
    // Returns false with `cause` set when the entry is missing (and `missing` set), too big,
    // or cannot be opened.
    bool open(zip_t* z, const std::string& name, unsigned long long cap, std::string& cause, bool& missing) {
        missing = false;
        name_ = name;
        cap_ = cap;
        const zip_int64_t idx = zip_name_locate(z, name.c_str(), 0);
        if (idx < 0) {
            missing = true;
            cause = "Parte mancante nella cartella di lavoro: " + name;
            return false;
        }
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(z, static_cast<zip_uint64_t>(idx), 0, &st) != 0) {
            cause = "Cartella di lavoro danneggiata (" + name + ": " + zip_strerror(z) + ")";
            return false;
        }
        if ((st.valid & ZIP_STAT_SIZE) && st.size > cap) {
            cause = "Parte della cartella di lavoro troppo grande (" + name + ", " + std::to_string(st.size) +
                    " byte): file rifiutato";
            return false;
        }
        if ((st.valid & ZIP_STAT_SIZE) && (st.valid & ZIP_STAT_COMP_SIZE) && st.size > kRatioFloor &&
            (st.comp_size == 0 || st.size / st.comp_size > detail::kMaxCompressionRatio)) {
            cause = "Rapporto di compressione anomalo (" + name + "): file rifiutato";
            return false;
        }
        declared_ = (st.valid & ZIP_STAT_SIZE) ? st.size : cap;
        f_.reset(zip_fopen_index(z, static_cast<zip_uint64_t>(idx), 0));
        if (!f_) {
            cause = "Cartella di lavoro danneggiata o cifrata (" + name + ": " + zip_strerror(z) + ")";
            return false;
        }
        return true;
    }

    // Reads up to n bytes; 0 at the end; -1 with `cause` on failure (damaged data, or more
    // bytes than declared or allowed).
    long read(char* buf, std::size_t n, std::string& cause) {
        const zip_int64_t got = zip_fread(f_.get(), buf, n);
        if (got < 0) {
            cause = "Cartella di lavoro danneggiata (" + name_ + ": " + zip_file_strerror(f_.get()) + ")";
            return -1;
        }
        total_ += static_cast<unsigned long long>(got);
        if (total_ > declared_ || total_ > cap_) {
            cause = "Parte della cartella di lavoro piu' lunga del dichiarato o troppo grande (" + name_ +
                    "): file rifiutato";
            return -1;
        }
        return static_cast<long>(got);
    }

private:
    ZipFilePtr f_;
    std::string name_;
    unsigned long long cap_ = 0;
    unsigned long long declared_ = 0;
    unsigned long long total_ = 0;
};

// Common state of the expat parsers: DOCTYPE refusal, depth and token bounds.
struct ParseGuard {
    XML_Parser parser = nullptr;
    bool doctype = false;
    std::string error; // set by a handler that stopped the parser
    int depth = 0;
    unsigned long long sinceEvent = 0;

    void fail(std::string why) {
        if (error.empty())
            error = std::move(why);
        XML_StopParser(parser, XML_FALSE);
    }
    // Call at every element start; false when the parser was stopped.
    bool enter() {
        sinceEvent = 0;
        if (++depth > kMaxDepth) {
            fail("Struttura XML troppo profonda");
            return false;
        }
        return true;
    }
};

// The handler's state from expat's user data, which always points at the ParseGuard part.
template <class T> T* stateOf(void* data) {
    return static_cast<T*>(static_cast<ParseGuard*>(data));
}

void XMLCALL onDoctype(void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
    auto* g = stateOf<ParseGuard>(data);
    g->doctype = true;
    g->fail("La cartella di lavoro contiene una dichiarazione DOCTYPE, non ammessa");
}

XmlParserPtr makeParser(ParseGuard& guard) {
    XmlParserPtr p(XML_ParserCreateNS(nullptr, kNsSep));
    if (!p)
        return p;
    guard.parser = p.get();
    XML_SetUserData(p.get(), &guard);
    XML_SetStartDoctypeDeclHandler(p.get(), onDoctype);
    XML_SetParamEntityParsing(p.get(), XML_PARAM_ENTITY_PARSING_NEVER);
    return p;
}

std::string xmlErrorText(XML_Parser p, const ParseGuard& g, const std::string& part) {
    if (!g.error.empty())
        return g.error + " (" + part + ")";
    return "Cartella di lavoro danneggiata (" + part + ": XML non valido, " + XML_ErrorString(XML_GetErrorCode(p)) +
           " alla riga " + std::to_string(XML_GetCurrentLineNumber(p)) + ")";
}

// Parses a whole (small) entry with the handlers already set on `p`. False with `cause`.
bool parseEntry(zip_t* z, const std::string& name, unsigned long long cap, XML_Parser p, ParseGuard& g,
                std::string& cause, bool& missing) {
    EntryStream es;
    if (!es.open(z, name, cap, cause, missing))
        return false;
    for (;;) {
        void* buf = XML_GetBuffer(p, static_cast<int>(kChunk));
        if (!buf) {
            cause = "Memoria insufficiente per leggere la cartella di lavoro";
            return false;
        }
        const long got = es.read(static_cast<char*>(buf), kChunk, cause);
        if (got < 0)
            return false;
        g.sinceEvent += static_cast<unsigned long long>(got);
        if (XML_ParseBuffer(p, static_cast<int>(got), got == 0) != XML_STATUS_OK) {
            cause = xmlErrorText(p, g, name);
            return false;
        }
        if (g.sinceEvent > kMaxTokenBytes) {
            cause = "Cartella di lavoro danneggiata (" + name + ": elemento XML troppo lungo)";
            return false;
        }
        if (got == 0)
            return true;
    }
}

// ---------------------------------------------------------------------------------------
// Workbook and relationships: which part is the first sheet, which the shared strings.

struct WorkbookInfo : ParseGuard {
    std::string firstSheetRel;
    bool inSheets = false;
};

void XMLCALL wbStart(void* data, const XML_Char* name, const XML_Char** atts) {
    auto* w = stateOf<WorkbookInfo>(data);
    if (!w->enter())
        return;
    const std::string_view n = localName(name);
    if (n == "sheets")
        w->inSheets = true;
    else if (n == "sheet" && w->inSheets && w->firstSheetRel.empty()) {
        if (const XML_Char* id = attribute(atts, "id", true))
            w->firstSheetRel = id;
    }
}

void XMLCALL wbEnd(void* data, const XML_Char* name) {
    auto* w = stateOf<WorkbookInfo>(data);
    --w->depth;
    w->sinceEvent = 0;
    if (localName(name) == "sheets")
        w->inSheets = false;
}

struct RelsInfo : ParseGuard {
    std::string wantedId;
    std::string sheetTarget;
    std::string sharedStringsTarget;
    std::string stylesTarget;
};

void XMLCALL relStart(void* data, const XML_Char* name, const XML_Char** atts) {
    auto* r = stateOf<RelsInfo>(data);
    if (!r->enter())
        return;
    if (localName(name) != "Relationship")
        return;
    const XML_Char* id = attribute(atts, "Id");
    const XML_Char* target = attribute(atts, "Target");
    const XML_Char* type = attribute(atts, "Type");
    if (!target)
        return;
    if (id && !r->wantedId.empty() && r->wantedId == id)
        r->sheetTarget = target;
    if (type) {
        const std::string_view t(type);
        const std::string_view suffix = "/sharedStrings";
        if (t.size() >= suffix.size() && t.substr(t.size() - suffix.size()) == suffix)
            r->sharedStringsTarget = target;
        const std::string_view styles = "/styles";
        if (t.size() >= styles.size() && t.substr(t.size() - styles.size()) == styles)
            r->stylesTarget = target;
    }
}

void XMLCALL relEnd(void* data, const XML_Char*) {
    auto* r = stateOf<RelsInfo>(data);
    --r->depth;
    r->sinceEvent = 0;
}

// A relationship target as a zip entry name: relative to "xl/", or absolute from the root.
std::string partName(const std::string& target) {
    if (!target.empty() && target[0] == '/')
        return target.substr(1);
    std::string t = target;
    std::string base = "xl";
    while (t.rfind("./", 0) == 0)
        t.erase(0, 2);
    while (t.rfind("../", 0) == 0) {
        t.erase(0, 3);
        base.clear();
    }
    return base.empty() ? t : base + "/" + t;
}

// ---------------------------------------------------------------------------------------
// Shared strings, held as one text with offsets.

struct SharedStrings : ParseGuard {
    std::string text;
    std::vector<std::uint32_t> starts; // start of string i; text.size() ends the last
    bool inSi = false;
    int tDepth = 0;   // inside <t>
    int rPhDepth = 0; // inside phonetic runs, whose text is not part of the value

    std::string_view at(std::size_t i) const {
        const std::size_t b = starts[i];
        const std::size_t e = i + 1 < starts.size() ? starts[i + 1] : text.size();
        return std::string_view(text).substr(b, e - b);
    }
};

void XMLCALL ssStart(void* data, const XML_Char* name, const XML_Char**) {
    auto* s = stateOf<SharedStrings>(data);
    if (!s->enter())
        return;
    const std::string_view n = localName(name);
    if (n == "si") {
        s->inSi = true;
        s->starts.push_back(static_cast<std::uint32_t>(s->text.size()));
    } else if (n == "t" && s->inSi) {
        ++s->tDepth;
    } else if (n == "rPh") {
        ++s->rPhDepth;
    }
}

void XMLCALL ssEnd(void* data, const XML_Char* name) {
    auto* s = stateOf<SharedStrings>(data);
    --s->depth;
    s->sinceEvent = 0;
    const std::string_view n = localName(name);
    if (n == "si")
        s->inSi = false;
    else if (n == "t" && s->tDepth > 0)
        --s->tDepth;
    else if (n == "rPh" && s->rPhDepth > 0)
        --s->rPhDepth;
}

void XMLCALL ssText(void* data, const XML_Char* t, int len) {
    auto* s = stateOf<SharedStrings>(data);
    s->sinceEvent = 0;
    if (s->inSi && s->tDepth > 0 && s->rPhDepth == 0)
        s->text.append(t, static_cast<std::size_t>(len)); // bounded by the entry's size cap
}

// ---------------------------------------------------------------------------------------
// Styles: which cell formats show a number as a date or a time. A date is stored as a number
// of days (43831 for 1 January 2020) and only its format says it is a date.

// Whether a number format code shows a date or a time: a day, month, year, hour or second
// placeholder outside quoted text, escaped characters and bracketed colours or locales
// ([h], [mm], [ss], elapsed times, count as times).
bool isDateFormatCode(std::string_view code) {
    for (std::size_t i = 0; i < code.size(); ++i) {
        const char c = code[i];
        if (c == '"') {
            const std::size_t close = code.find('"', i + 1);
            if (close == std::string_view::npos)
                return false;
            i = close;
        } else if (c == '\\' || c == '_' || c == '*') {
            ++i; // the next character is shown as it is, or sets a width or a fill
        } else if (c == '[') {
            const std::size_t close = code.find(']', i + 1);
            if (close == std::string_view::npos)
                return false;
            const std::string_view inside = code.substr(i + 1, close - i - 1);
            if (!inside.empty() && inside.find_first_not_of(inside[0]) == std::string_view::npos &&
                (inside[0] == 'h' || inside[0] == 'H' || inside[0] == 'm' || inside[0] == 'M' || inside[0] == 's' ||
                 inside[0] == 'S'))
                return true;
            i = close;
        } else if (std::strchr("dDmMyYhHsS", c) != nullptr && c != '\0') {
            return true;
        }
    }
    return false;
}

// The built-in number formats that are dates or times (the workbook format's fixed list,
// with the East Asian date formats 27 to 36 and 50 to 58).
bool isBuiltInDateFormat(long id) {
    return (id >= 14 && id <= 22) || (id >= 27 && id <= 36) || (id >= 45 && id <= 47) || (id >= 50 && id <= 58);
}

struct StylesInfo : ParseGuard {
    std::vector<std::pair<long, bool>> formats; // numFmtId, is a date, of the numFmts list
    std::vector<long> cellFormats;              // numFmtId of each cellXfs entry, by index
    bool inCellXfs = false;

    bool isDateStyle(std::size_t index) const {
        if (index >= cellFormats.size())
            return false;
        const long id = cellFormats[index];
        for (const auto& [fid, date] : formats)
            if (fid == id)
                return date;
        return isBuiltInDateFormat(id);
    }
};

long parseLong(const char* s, std::size_t n) {
    long v = 0;
    const auto r = std::from_chars(s, s + n, v);
    return r.ec == std::errc{} ? v : -1;
}

void XMLCALL stylesStart(void* data, const XML_Char* name, const XML_Char** atts) {
    auto* st = stateOf<StylesInfo>(data);
    if (!st->enter())
        return;
    const std::string_view n = localName(name);
    if (n == "cellXfs") {
        st->inCellXfs = true;
    } else if (n == "xf" && st->inCellXfs) {
        const XML_Char* id = attribute(atts, "numFmtId");
        st->cellFormats.push_back(id ? parseLong(id, std::strlen(id)) : 0);
    } else if (n == "numFmt") {
        const XML_Char* id = attribute(atts, "numFmtId");
        const XML_Char* code = attribute(atts, "formatCode");
        if (id && code)
            st->formats.emplace_back(parseLong(id, std::strlen(id)), isDateFormatCode(code));
    }
}

void XMLCALL stylesEnd(void* data, const XML_Char* name) {
    auto* st = stateOf<StylesInfo>(data);
    --st->depth;
    st->sinceEvent = 0;
    if (localName(name) == "cellXfs")
        st->inCellXfs = false;
}

// ---------------------------------------------------------------------------------------
// The sheet, streamed a row at a time.

enum class CellType { Number, Shared, Inline, Text, Bool, Error, Date };

struct Cell {
    bool present = false; // has a value (<v> or inline text)
    bool formula = false; // holds a formula (<f>); its value, when stored, is the last result
    CellType type = CellType::Number;
    long style = 0; // index into the cell formats (cellXfs)
    std::string value;
};

struct SheetState : ParseGuard {
    // Current row.
    long rowNumber = 0;
    bool rowReady = false;
    bool sheetEnded = false;
    std::vector<Cell> cells = std::vector<Cell>(4); // columns A onwards
    // Current cell.
    int col = 0;      // 1-based column of the current cell
    int tracked = -1; // index into cells, or -1 for a column not kept
    CellType type = CellType::Number;
    bool inV = false;
    bool inIs = false;
    int tDepth = 0;
    int rPhDepth = 0;
    bool valueSeen = false;
    bool formulaSeen = false;
    long style = 0;
};

// Column number of a reference such as "B12"; 0 when it has no letters or too many.
int columnOf(const char* ref) {
    int col = 0;
    int letters = 0;
    for (; *ref >= 'A' && *ref <= 'Z'; ++ref) {
        if (++letters > 3)
            return 0;
        col = col * 26 + (*ref - 'A' + 1);
    }
    return col;
}

void XMLCALL sheetStart(void* data, const XML_Char* name, const XML_Char** atts) {
    auto* s = stateOf<SheetState>(data);
    if (!s->enter())
        return;
    const std::string_view n = localName(name);
    if (n == "row") {
        const XML_Char* r = attribute(atts, "r");
        s->rowNumber = r ? parseLong(r, std::strlen(r)) : s->rowNumber + 1;
        if (s->rowNumber < 0)
            s->fail("Numero di riga non valido");
        for (auto& c : s->cells) {
            c.present = false;
            c.formula = false;
            c.value.clear();
        }
        s->col = 0;
    } else if (n == "c") {
        const XML_Char* r = attribute(atts, "r");
        s->col = r ? columnOf(r) : s->col + 1;
        s->tracked = s->col >= 1 && s->col <= static_cast<int>(s->cells.size()) ? s->col - 1 : -1;
        const XML_Char* t = attribute(atts, "t");
        const std::string_view ts = t ? std::string_view(t) : std::string_view("n");
        s->type = ts == "s"           ? CellType::Shared
                  : ts == "inlineStr" ? CellType::Inline
                  : ts == "str"       ? CellType::Text
                  : ts == "b"         ? CellType::Bool
                  : ts == "e"         ? CellType::Error
                  : ts == "d"         ? CellType::Date
                                      : CellType::Number;
        const XML_Char* style = attribute(atts, "s");
        s->style = style ? parseLong(style, std::strlen(style)) : 0;
        s->valueSeen = false;
        s->formulaSeen = false;
        if (s->tracked >= 0)
            s->cells[s->tracked].value.clear();
    } else if (n == "v") {
        s->inV = true;
        s->valueSeen = true;
    } else if (n == "f") {
        s->formulaSeen = true;
    } else if (n == "is") {
        s->inIs = true;
        s->valueSeen = true;
    } else if (n == "t" && s->inIs) {
        ++s->tDepth;
    } else if (n == "rPh") {
        ++s->rPhDepth;
    }
}

void XMLCALL sheetEnd(void* data, const XML_Char* name) {
    auto* s = stateOf<SheetState>(data);
    --s->depth;
    s->sinceEvent = 0;
    const std::string_view n = localName(name);
    if (n == "v") {
        s->inV = false;
    } else if (n == "is") {
        s->inIs = false;
    } else if (n == "t" && s->tDepth > 0) {
        --s->tDepth;
    } else if (n == "rPh" && s->rPhDepth > 0) {
        --s->rPhDepth;
    } else if (n == "c") {
        if (s->tracked >= 0) {
            Cell& c = s->cells[s->tracked];
            c.present = s->valueSeen;
            c.formula = s->formulaSeen;
            c.type = s->type;
            c.style = s->style;
        }
        s->tracked = -1;
    } else if (n == "row") {
        s->rowReady = true;
        XML_StopParser(s->parser, XML_TRUE); // suspend: the row is handed out
    } else if (n == "sheetData") {
        s->sheetEnded = true;
        XML_StopParser(s->parser, XML_TRUE);
    }
}

void XMLCALL sheetText(void* data, const XML_Char* t, int len) {
    auto* s = stateOf<SheetState>(data);
    s->sinceEvent = 0;
    if (s->tracked < 0)
        return;
    if (!(s->inV || (s->inIs && s->tDepth > 0 && s->rPhDepth == 0)))
        return;
    std::string& v = s->cells[s->tracked].value;
    if (v.size() + static_cast<std::size_t>(len) > detail::kMaxCellTextBytes) {
        s->fail("Cella troppo lunga");
        return;
    }
    v.append(t, static_cast<std::size_t>(len));
}

// ---------------------------------------------------------------------------------------

class XlsxSource final : public DataSource {
public:
    XlsxSource(ZipPtr zip, std::unique_ptr<std::string> memory, std::string name, const DataReadOptions& opt)
        : memory_(std::move(memory)), zip_(std::move(zip)), name_(std::move(name)), opt_(opt),
          check_(detail::valueCheckOf(opt)) {}

    // Finds the sheet, loads the shared strings and prepares the streaming parser.
    bool prepare(std::string& cause) {
        zip_t* z = zip_.get();
        bool missing = false;

        std::string sheetPart;
        std::string ssPart = "xl/sharedStrings.xml";
        std::string stylesPart = "xl/styles.xml";
        {
            WorkbookInfo wb;
            auto p = makeParser(wb);
            if (!p) {
                cause = "Memoria insufficiente";
                return false;
            }
            XML_SetElementHandler(p.get(), wbStart, wbEnd);
            if (parseEntry(z, "xl/workbook.xml", detail::kMaxSmallPartBytes, p.get(), wb, cause, missing)) {
                RelsInfo rels;
                rels.wantedId = wb.firstSheetRel;
                auto rp = makeParser(rels);
                if (!rp) {
                    cause = "Memoria insufficiente";
                    return false;
                }
                XML_SetElementHandler(rp.get(), relStart, relEnd);
                if (parseEntry(z, "xl/_rels/workbook.xml.rels", detail::kMaxSmallPartBytes, rp.get(), rels, cause,
                               missing)) {
                    if (!rels.sheetTarget.empty())
                        sheetPart = partName(rels.sheetTarget);
                    if (!rels.sharedStringsTarget.empty())
                        ssPart = partName(rels.sharedStringsTarget);
                    if (!rels.stylesTarget.empty())
                        stylesPart = partName(rels.stylesTarget);
                } else if (!missing) {
                    return false;
                }
            } else if (!missing) {
                return false;
            }
        }
        if (sheetPart.empty() || zip_name_locate(z, sheetPart.c_str(), 0) < 0)
            sheetPart = "xl/worksheets/sheet1.xml";
        if (zip_name_locate(z, sheetPart.c_str(), 0) < 0) {
            cause = "La cartella di lavoro non contiene fogli di lavoro leggibili";
            return false;
        }

        {
            auto p = makeParser(strings_);
            if (!p) {
                cause = "Memoria insufficiente";
                return false;
            }
            XML_SetElementHandler(p.get(), ssStart, ssEnd);
            XML_SetCharacterDataHandler(p.get(), ssText);
            if (!parseEntry(z, ssPart, detail::kMaxSharedStringsBytes, p.get(), strings_, cause, missing) && !missing)
                return false;
        }

        {
            // Without styles no number is a date.
            auto p = makeParser(styles_);
            if (!p) {
                cause = "Memoria insufficiente";
                return false;
            }
            XML_SetElementHandler(p.get(), stylesStart, stylesEnd);
            if (!parseEntry(z, stylesPart, detail::kMaxSmallPartBytes, p.get(), styles_, cause, missing) && !missing)
                return false;
        }

        sheetPart_ = sheetPart;
        parser_ = makeParser(sheet_);
        if (!parser_) {
            cause = "Memoria insufficiente";
            return false;
        }
        XML_SetElementHandler(parser_.get(), sheetStart, sheetEnd);
        XML_SetCharacterDataHandler(parser_.get(), sheetText);
        return stream_.open(z, sheetPart, detail::kMaxSheetBytes, cause, missing);
    }

    void next(ReadEvent& ev) override {
        if (done_) {
            ev.kind = ReadEvent::Kind::End;
            return;
        }
        for (;;) {
            if (!advance(ev))
                return; // End or Failure set
            // A complete row is in sheet_.cells.
            sheet_.rowReady = false;
            if (sheet_.rowNumber < expectedRow_)
                continue; // the heading row, or rows out of order
            if (sheet_.rowNumber > expectedRow_) {
                finish(ev); // the expected row is missing: its A cell is empty
                return;
            }
            if (rowEvent(ev))
                return;
        }
    }

    long currentRow() const { return sheet_.rowNumber; }

    // Keeps columns A to the `count`-th of each row (4 for reading points).
    void keepColumns(int count) { sheet_.cells.resize(static_cast<std::size_t>(count)); }

    // Every kept cell of the next row, in raw form. False at the end; `cause` set on failure.
    bool rawRow(std::vector<detail::SheetCell>& out, std::string& cause) {
        ReadEvent ev;
        if (done_ || !advance(ev)) {
            if (ev.kind == ReadEvent::Kind::Failure)
                cause = ev.message.lines.back();
            return false;
        }
        sheet_.rowReady = false;
        for (std::size_t i = 0; i < sheet_.cells.size(); ++i) {
            const Cell& c = sheet_.cells[i];
            if (!c.present)
                continue;
            detail::SheetCell sc;
            sc.row = sheet_.rowNumber;
            sc.col = static_cast<int>(i) + 1;
            if (c.type == CellType::Number) {
                sc.isNumber = parseWholeNumber(c.value, sc.number);
                sc.text = c.value;
            } else if (c.type == CellType::Shared) {
                const long k = parseLong(c.value.data(), c.value.size());
                if (k < 0 || static_cast<std::size_t>(k) >= strings_.starts.size()) {
                    cause = "Cartella di lavoro danneggiata (indice di testo condiviso non valido)";
                    return false;
                }
                sc.text = strings_.at(static_cast<std::size_t>(k));
            } else {
                sc.text = c.value;
            }
            out.push_back(std::move(sc));
        }
        return true;
    }

private:
    // Runs the parser until a row is ready. False when `ev` holds the end or a failure.
    bool advance(ReadEvent& ev) {
        for (;;) {
            if (sheet_.sheetEnded) {
                finish(ev);
                return false;
            }
            XML_Status st;
            if (suspended_) {
                st = XML_ResumeParser(parser_.get());
            } else {
                if (finalFed_) {
                    finish(ev);
                    return false;
                }
                void* buf = XML_GetBuffer(parser_.get(), static_cast<int>(kChunk));
                if (!buf) {
                    fail(ev, "Memoria insufficiente per leggere la cartella di lavoro");
                    return false;
                }
                std::string cause;
                const long got = stream_.read(static_cast<char*>(buf), kChunk, cause);
                if (got < 0) {
                    fail(ev, cause);
                    return false;
                }
                finalFed_ = got == 0;
                sheet_.sinceEvent += static_cast<unsigned long long>(got);
                st = XML_ParseBuffer(parser_.get(), static_cast<int>(got), finalFed_);
            }
            if (st == XML_STATUS_ERROR) {
                fail(ev, xmlErrorText(parser_.get(), sheet_, sheetPart_));
                return false;
            }
            suspended_ = st == XML_STATUS_SUSPENDED;
            if (sheet_.sinceEvent > kMaxTokenBytes) {
                fail(ev, "Cartella di lavoro danneggiata (" + sheetPart_ + ": elemento XML troppo lungo)");
                return false;
            }
            if (sheet_.rowReady)
                return true;
        }
    }

    // The text of the A cell as the point's name; false when the cell is empty.
    bool nameOf(const Cell& c, std::string& out, std::string& cause) {
        out.clear();
        if (!c.present)
            return false;
        switch (c.type) {
        case CellType::Shared: {
            const long i = parseLong(c.value.data(), c.value.size());
            if (i < 0 || static_cast<std::size_t>(i) >= strings_.starts.size()) {
                cause = "Cartella di lavoro danneggiata (indice di testo condiviso non valido)";
                return false;
            }
            const std::string_view s = strings_.at(static_cast<std::size_t>(i));
            out.assign(s.data(), s.size());
            break;
        }
        case CellType::Number: {
            double v = 0;
            if (parseWholeNumber(c.value, v))
                detail::numberAsName(v, out);
            else
                out = c.value;
            break;
        }
        case CellType::Bool:
            out = c.value == "1" ? "VERO" : "FALSO";
            break;
        default:
            out = c.value;
            break;
        }
        return !out.empty();
    }

    // A formula whose result the writer did not store (openpyxl and many generators store
    // none, or an empty one): nothing to read, and not an empty cell either.
    static bool formulaWithoutValue(const Cell& c) { return c.formula && (!c.present || c.value.empty()); }

    // The number of a B, C or D cell; false when it is not a number (text that is not a
    // number, a boolean, a date or time, an error value, a formula without a stored value).
    bool numberOf(const Cell& c, double& v) {
        v = 0;
        if (formulaWithoutValue(c))
            return false;
        if (!c.present)
            return true; // an empty cell reads as 0
        switch (c.type) {
        case CellType::Number:
            if (styles_.isDateStyle(static_cast<std::size_t>(c.style)))
                return false; // a date or time, stored as a number of days
            // A decimal comma here is invalid in the file format, but some writers put one
            // under a comma-decimal locale; like the data files, read it as a point.
            return detail::parseCellText(c.value, v);
        case CellType::Shared: {
            const long i = parseLong(c.value.data(), c.value.size());
            if (i < 0 || static_cast<std::size_t>(i) >= strings_.starts.size())
                return false;
            return detail::parseCellText(strings_.at(static_cast<std::size_t>(i)), v);
        }
        case CellType::Inline:
        case CellType::Text:
            return detail::parseCellText(c.value, v);
        case CellType::Bool:
        case CellType::Error:
        case CellType::Date:
            break;
        }
        return false;
    }

    bool rowEvent(ReadEvent& ev) {
        std::string cause;
        if (formulaWithoutValue(sheet_.cells[0])) {
            // The name is computed but not stored: a reading error for the row, not the end
            // of the data.
            detail::setReadingError(ev, FieldSlot::Name, opt_.inputKind, expectedRow_++);
            return true;
        }
        if (!nameOf(sheet_.cells[0], ev.point.name, cause)) {
            if (!cause.empty())
                fail(ev, cause);
            else
                finish(ev); // the first empty A cell ends the data
            return true;
        }
        const long row = expectedRow_++;
        static constexpr FieldSlot kSlots[3] = {FieldSlot::First, FieldSlot::Second, FieldSlot::Height};
        double* out[3] = {&ev.point.first, &ev.point.second, &ev.point.height};
        for (int i = 0; i < 3; ++i) {
            if (!numberOf(sheet_.cells[i + 1], *out[i])) {
                detail::setReadingError(ev, kSlots[i], opt_.inputKind, row);
                return true;
            }
        }
        if (detail::refuseImpossibleValues(ev, check_, opt_.inputKind, row))
            return true;
        ev.kind = ReadEvent::Kind::Point;
        return true;
    }

    void finish(ReadEvent& ev) {
        done_ = true;
        ev.kind = ReadEvent::Kind::End;
    }

    void fail(ReadEvent& ev, const std::string& cause) {
        done_ = true;
        detail::setFailure(ev, name_, cause);
    }

    std::unique_ptr<std::string> memory_; // bytes of a workbook read from memory (outlives zip_)
    ZipPtr zip_;
    std::string name_;
    DataReadOptions opt_;
    PointValueCheck check_;
    SharedStrings strings_;
    StylesInfo styles_;
    SheetState sheet_;
    std::string sheetPart_;
    XmlParserPtr parser_;
    EntryStream stream_; // declared after zip_: closed before the archive
    long expectedRow_ = 2;
    bool suspended_ = false;
    bool finalFed_ = false;
    bool done_ = false;
};

std::unique_ptr<XlsxSource> finishOpen(ZipPtr zip, std::unique_ptr<std::string> memory, const std::string& name,
                                       const DataReadOptions& opt, Message& failure) {
    auto src = std::make_unique<XlsxSource>(std::move(zip), std::move(memory), name, opt);
    std::string cause;
    if (!src->prepare(cause)) {
        failure = detail::openFailureMessage(name, cause);
        return nullptr;
    }
    return src;
}

std::string zipOpenCause(int code) {
    zip_error_t ze;
    zip_error_init_with_code(&ze, code);
    std::string why = zip_error_strerror(&ze);
    zip_error_fini(&ze);
    if (code == ZIP_ER_NOENT)
        return systemErrorText(ENOENT);
    if (code == ZIP_ER_OPEN || code == ZIP_ER_READ)
        return "Impossibile leggere il file (" + why + ")";
    return "Il file non è una cartella di lavoro .xlsx valida o è danneggiato (" + why + ")";
}

} // namespace

std::unique_ptr<DataSource> openXlsxSource(const std::string& path, const DataReadOptions& opt, Message& failure) {
    int err = 0;
    ZipPtr zip(zip_open(path.c_str(), ZIP_RDONLY, &err));
    if (!zip) {
        failure = detail::openFailureMessage(path, zipOpenCause(err));
        return nullptr;
    }
    return finishOpen(std::move(zip), nullptr, path, opt, failure);
}

std::unique_ptr<DataSource> openXlsxSourceFromMemory(std::string bytes, const DataReadOptions& opt, Message& failure) {
    const std::string name = "(cartella di lavoro in memoria)";
    zip_error_t ze;
    zip_error_init(&ze);
    // The zip source reads the bytes where they lie: keep them at a fixed place.
    auto memory = std::make_unique<std::string>(std::move(bytes));
    zip_source_t* src = zip_source_buffer_create(memory->data(), memory->size(), 0, &ze);
    if (!src) {
        failure = detail::openFailureMessage(name, zip_error_strerror(&ze));
        zip_error_fini(&ze);
        return nullptr;
    }
    ZipPtr zip(zip_open_from_source(src, ZIP_RDONLY, &ze));
    if (!zip) {
        const int code = zip_error_code_zip(&ze);
        zip_source_free(src);
        zip_error_fini(&ze);
        failure = detail::openFailureMessage(name, zipOpenCause(code));
        return nullptr;
    }
    zip_error_fini(&ze);
    return finishOpen(std::move(zip), std::move(memory), name, opt, failure);
}

namespace detail {

bool readXlsxCells(const std::string& path, int columns, std::vector<SheetCell>& cells, std::string& cause) {
    cells.clear();
    int err = 0;
    ZipPtr zip(zip_open(path.c_str(), ZIP_RDONLY, &err));
    if (!zip) {
        cause = zipOpenCause(err);
        return false;
    }
    Message failure;
    auto src = finishOpen(std::move(zip), nullptr, path, {}, failure);
    if (!src) {
        cause = failure.lines.back();
        return false;
    }
    src->keepColumns(columns);
    while (src->rawRow(cells, cause)) {
    }
    return cause.empty();
}

bool xlsxLastRow(const std::string& path, long& lastRow, std::string& cause) {
    lastRow = 0;
    int err = 0;
    ZipPtr zip(zip_open(path.c_str(), ZIP_RDONLY, &err));
    if (!zip) {
        cause = zipOpenCause(err);
        return false;
    }
    Message failure;
    auto src = finishOpen(std::move(zip), nullptr, path, {}, failure);
    if (!src) {
        cause = failure.lines.back();
        return false;
    }
    src->keepColumns(0);
    std::vector<SheetCell> none;
    while (src->rawRow(none, cause))
        lastRow = src->currentRow();
    return cause.empty();
}

} // namespace detail

} // namespace dormal
