// Workbook reading and writing: the .xlsx and .xls readers on the same fixture, number and
// text cells, the end of the data, the result workbook read back cell by cell, and hostile
// workbooks (truncated, corrupted, zip bombs, DOCTYPE, oversized tokens) refused with a message.
#include <filesystem>
#include <fstream>
#include <locale.h>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <xlsxwriter.h>
#include <zip.h>

#include "conversion/data_source.h"
#include "conversion/io_detail.h"
#include "conversion/result_writer.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

const fs::path kFixtures = fs::path(DORMAL2K_TESTS_DIR) / "conversion" / "fixtures";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::vector<ReadEvent> readAll(DataSource& src) {
    std::vector<ReadEvent> out;
    ReadEvent ev;
    for (int guard = 0; guard < 100000; ++guard) {
        src.next(ev);
        out.push_back(ev);
        if (ev.kind == ReadEvent::Kind::End || ev.kind == ReadEvent::Kind::Failure)
            break;
    }
    return out;
}

// An expected event: a point, or a reading error naming its first line and row.
struct Expect {
    ReadEvent::Kind kind;
    const char* name = "";
    double first = 0, second = 0, height = 0;
    const char* error = "";
    long row = 0;
};

Expect point(const char* n, double a, double b, double h) {
    return {ReadEvent::Kind::Point, n, a, b, h};
}
Expect readingError(const char* first, long row) {
    return {ReadEvent::Kind::ReadingError, "", 0, 0, 0, first, row};
}
Expect end() {
    return {ReadEvent::Kind::End};
}

void expectEvents(const std::vector<ReadEvent>& got, const std::vector<Expect>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size()) << what << (got.empty() ? "" : " last: " + joinedText(got.back().message));
    for (std::size_t i = 0; i < want.size(); ++i) {
        const auto& g = got[i];
        const auto& w = want[i];
        ASSERT_EQ(g.kind, w.kind) << what << " event " << i << " " << joinedText(g.message);
        if (w.kind == ReadEvent::Kind::Point) {
            EXPECT_EQ(g.point.name, w.name) << what << " event " << i;
            EXPECT_EQ(g.point.first, w.first) << what << " event " << i;
            EXPECT_EQ(g.point.second, w.second) << what << " event " << i;
            EXPECT_EQ(g.point.height, w.height) << what << " event " << i;
        } else if (w.kind == ReadEvent::Kind::ReadingError) {
            EXPECT_EQ(g.message.lines, (std::vector<std::string>{w.error, "ALLA RIGA:     " + std::to_string(w.row) +
                                                                              "    DEL FILE DI INPUT"}))
                << what;
        }
    }
}

class WorkbookTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("dormal_wb_" + std::to_string(::getpid()) + "_" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    // A zip file of the given entries (stored, or deflated), as bytes.
    std::string zipOf(const std::vector<std::pair<std::string, std::string>>& entries, bool deflate = false) {
        const fs::path p = dir_ / "z.zip";
        fs::remove(p);
        int err = 0;
        zip_t* z = zip_open(p.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
        EXPECT_NE(z, nullptr);
        for (const auto& [name, data] : entries) {
            zip_source_t* s = zip_source_buffer(z, data.data(), data.size(), 0);
            const zip_int64_t idx = zip_file_add(z, name.c_str(), s, ZIP_FL_OVERWRITE);
            EXPECT_GE(idx, 0);
            zip_set_file_compression(z, static_cast<zip_uint64_t>(idx), deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
        }
        EXPECT_EQ(zip_close(z), 0);
        return slurp(p);
    }

    // A minimal workbook around a sheet (and optional shared strings).
    std::string workbookOf(const std::string& sheet, const std::string& sharedStrings = "",
                           const std::string& workbook = "", bool deflate = false) {
        const std::string wb = workbook.empty()
                                   ? "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                                     "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                                     "<sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"
                                   : workbook;
        std::vector<std::pair<std::string, std::string>> e = {
            {"xl/workbook.xml", wb},
            {"xl/_rels/workbook.xml.rels",
             "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "worksheet\" Target=\"worksheets/data.xml\"/></Relationships>"},
            {"xl/worksheets/data.xml", sheet}};
        if (!sharedStrings.empty())
            e.push_back({"xl/sharedStrings.xml", sharedStrings});
        return zipOf(e, deflate);
    }

    static std::string sheetOf(const std::string& rows) {
        return "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>" + rows +
               "</sheetData></worksheet>";
    }

    fs::path dir_;
};

// The .xlsx and .xls readers read the same fixture alike: numeric names without ".0", text
// numbers with comma or blanks, an empty cell as 0, a text that is no number as a reading
// error with its row, the end at the first empty A cell, only the first sheet.
TEST_F(WorkbookTest, FixturesReadAlike) {
    const std::vector<Expect> want = {
        point("P1", 45.1234567, 9.5, 120), point("101", 45, -7.25, 0),
        point("101.5", 45.5, 9.25, -12.5), readingError("ERRORE NELLA LETTURA NELLA LATITUDINE", 5),
        point("Citt\xC3\xA0", 0, 2, 3),    end(),
    };
    for (const char* file : {"punti.xlsx", "punti.xls"}) {
        Message failure;
        auto src = openDataFile((kFixtures / file).string(), DataFileType::Excel, {}, failure);
        ASSERT_NE(src, nullptr) << file << ": " << joinedText(failure);
        expectEvents(readAll(*src), want, file);
    }
    Message failure;
    auto mem = openXlsxSourceFromMemory(slurp(kFixtures / "punti.xlsx"), {}, failure);
    ASSERT_NE(mem, nullptr) << joinedText(failure);
    expectEvents(readAll(*mem), want, "memory");
}

// Cells as libxlsxwriter writes them, with shared strings (normal mode) and inline strings
// (constant-memory mode). Plane input names the values North and East.
TEST_F(WorkbookTest, CellKindsAndEndOfData) {
    for (const bool constantMemory : {false, true}) {
        const fs::path p = dir_ / "dati.xlsx";
        // libxlsxwriter formats numbers by the locale: write this data file in the C locale.
        const locale_t c = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        const locale_t old = uselocale(c);
        lxw_workbook_options o{};
        o.constant_memory = constantMemory;
        lxw_workbook* wb = workbook_new_opt(p.c_str(), &o);
        lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
        worksheet_write_string(ws, 0, 0, "Nome", nullptr);
        worksheet_write_string(ws, 1, 0, "N1", nullptr);
        worksheet_write_number(ws, 1, 1, 5000000.5, nullptr);
        worksheet_write_number(ws, 1, 2, 1500000.25, nullptr);
        worksheet_write_string(ws, 1, 4, "ignorata", nullptr);
        worksheet_write_string(ws, 2, 0, "N2", nullptr);
        worksheet_write_number(ws, 2, 1, 1, nullptr);
        worksheet_write_boolean(ws, 2, 2, 1, nullptr);
        worksheet_write_string(ws, 3, 0, "N3", nullptr);
        worksheet_write_number(ws, 3, 1, 1, nullptr);
        worksheet_write_number(ws, 3, 2, 2, nullptr);
        worksheet_write_string(ws, 3, 3, "12m", nullptr);
        worksheet_write_number(ws, 4, 0, 1e20, nullptr);
        worksheet_write_string(ws, 4, 1, "-1.5e3", nullptr);
        // Row 6 missing: row 7 is not read.
        worksheet_write_string(ws, 6, 0, "N7", nullptr);
        const lxw_error closed = workbook_close(wb);
        uselocale(old);
        freelocale(c);
        ASSERT_EQ(closed, LXW_NO_ERROR);

        DataReadOptions opt;
        opt.inputKind = CoordKind::Plane;
        Message failure;
        auto src = openDataFile(p.string(), DataFileType::Excel, opt, failure);
        ASSERT_NE(src, nullptr) << joinedText(failure);
        expectEvents(readAll(*src),
                     {point("N1", 5000000.5, 1500000.25, 0), readingError("ERRORE NELLA LETTURA NELLA COOR. EST", 3),
                      readingError("ERRORE NELLA LETTURA NELLA QUOTA", 4), point("1e+20", -1500, 0, 0), end()},
                     constantMemory ? "inline strings" : "shared strings");
    }
}

TEST_F(WorkbookTest, EmptyA2EndsAtOnceAndRowsWithoutReferences) {
    // A2 empty (the row holds only B2): no point even though row 3 has data.
    const std::string a = workbookOf(sheetOf("<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>N</t></is></c></row>"
                                             "<row r=\"2\"><c r=\"B2\"><v>1</v></c></row>"
                                             "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>P</t></is></c></row>"));
    // Rows and cells without "r": counted on from the previous ones; rich text and phonetic
    // runs; a number cell with a decimal comma (written by some programs under a comma locale).
    const std::string b = workbookOf(
        sheetOf(
            "<row><c><v>0</v></c></row>"
            "<row><c t=\"s\"><v>1</v></c><c><v>45</v></c><c t=\"str\"><f>X</f><v>9.5</v></c><c><v>12,5</v></c></row>"),
        "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>Nome</t></si>"
        "<si><r><t>P</t></r><r><t>7</t></r><rPh><t>x</t></rPh></si></sst>");
    for (const auto& [bytes, want] : std::vector<std::pair<std::string, std::vector<Expect>>>{
             {a, {end()}}, {b, {point("P7", 45, 9.5, 12.5), end()}}}) {
        Message failure;
        auto src = openXlsxSourceFromMemory(bytes, {}, failure);
        ASSERT_NE(src, nullptr) << joinedText(failure);
        expectEvents(readAll(*src), want, "sheet");
    }
}

// The result workbook, written with the writer and read back with the reader: the same
// cells, texts as texts and numbers as numbers. Regression (run in the Italian locale too):
// numbers were written as "5000000,25" into the sheet XML under a comma-decimal locale.
TEST_F(WorkbookTest, ResultWorkbookReadBack) {
    GridPortion portion;
    portion.globalGeoid = 1;
    portion.roEdEpoch = "1994";
    portion.roE89Epoch = "1995";
    portion.e89E2000Epoch = "2008";
    portion.geoidEpoch = "2005";
    ResultHeader h;
    h.sel.inputSystem = RefSystem::Roma40;
    h.sel.inputKind = CoordKind::Plane;
    h.sel.inputZone = Zone::Auto;
    h.sel.outputSystem = RefSystem::Etrf2000;
    h.sel.outputKind = CoordKind::Plane;
    h.sel.outputZone = Zone::Auto;
    h.heights = true;
    h.portion = &portion;
    const fs::path p = dir_ / "ris.xlsx";
    {
        auto w = makeResultFileWriter(p.string(), DataFileType::Excel);
        w->writeHeader(h);
        DataPoint in{"P1", 5000000.25, 1500000.5, 120.125};
        PointResult r;
        r.outFirst = 5000012.345;
        r.outSecond = 500012.5;
        r.hasHeight = true;
        r.outHeight = 167.75;
        r.zoneText = "32";
        w->writePoint(in, r);
        PointResult out;
        out.status = PointStatus::OutsideGrid;
        w->writePoint(DataPoint{"Fuori", 1, 2, 3}, out);
        w->finish();
    }
    struct Cell {
        long row;
        int col;
        const char* text; // null: a number
        double number;
    };
    const std::vector<Cell> want = {
        {1, 1, "Epoca Gr.", 0},
        {1, 2, "RO-ED:1994", 0},
        {1, 3, "RO-E89:1995", 0},
        {1, 4, "E89-E2000:2008", 0},
        {1, 5, "Geoide:", 0},
        {1, 6, "2005", 0},
        {2, 1, "Coordinate", 0},
        {2, 2, "Input:", 0},
        {2, 3, "ROMA40", 0},
        {2, 4, "metri", 0},
        {2, 5, "Fuso indicato:", 0},
        {2, 6, "Automatico", 0},
        {3, 1, "Coordinate", 0},
        {3, 2, "Output:", 0},
        {3, 3, "ETRF2000", 0},
        {3, 4, "metri", 0},
        {3, 5, "Fuso richiesto:", 0},
        {3, 6, "Automatico", 0},
        {4, 1, "Quote:", 0},
        {4, 2, "metri", 0},
        {4, 3, "(geoidiche ", 0},
        {4, 4, "(sul mod.", 0},
        {4, 5, "globale)", 0},
        {5, 1, "Numero", 0},
        {5, 2, "Nord", 0},
        {5, 3, "    Est", 0},
        {5, 4, "H geoid.", 0},
        {5, 5, "Nord", 0},
        {5, 6, "    Est", 0},
        {5, 7, "h ellis.", 0},
        {5, 8, " Fuso", 0},
        {6, 1, "P1", 0},
        {6, 2, nullptr, 5000000.25},
        {6, 3, nullptr, 1500000.5},
        {6, 4, nullptr, 120.125},
        {6, 5, nullptr, 5000012.345},
        {6, 6, nullptr, 500012.5},
        {6, 7, nullptr, 167.75},
        {6, 8, "32", 0},
        {7, 1, "Fuori", 0},
        {7, 2, nullptr, 1},
        {7, 3, nullptr, 2},
        {7, 4, nullptr, 3},
        {7, 5, "Fuori Griglia", 0},
        {7, 6, "Fuori Griglia", 0},
        {7, 7, "Fuori Griglia", 0},
    };
    std::vector<detail::SheetCell> cells;
    std::string cause;
    ASSERT_TRUE(detail::readXlsxCells(p.string(), 12, cells, cause)) << cause;
    ASSERT_EQ(cells.size(), want.size());
    for (std::size_t i = 0; i < want.size(); ++i) {
        EXPECT_EQ(cells[i].row, want[i].row) << i;
        EXPECT_EQ(cells[i].col, want[i].col) << i;
        EXPECT_EQ(cells[i].isNumber, want[i].text == nullptr) << i;
        if (want[i].text) {
            EXPECT_EQ(cells[i].text, want[i].text) << i;
        } else {
            EXPECT_EQ(cells[i].number, want[i].number) << i;
        }
    }

    // The sheet XML itself: texts as inline strings (blanks kept), numbers as values.
    int err = 0;
    zip_t* z = zip_open(p.c_str(), ZIP_RDONLY, &err);
    ASSERT_NE(z, nullptr);
    zip_stat_t st;
    ASSERT_EQ(zip_stat(z, "xl/worksheets/sheet1.xml", 0, &st), 0);
    std::string xml(st.size, '\0');
    zip_file_t* f = zip_fopen(z, "xl/worksheets/sheet1.xml", 0);
    ASSERT_EQ(zip_fread(f, xml.data(), xml.size()), static_cast<zip_int64_t>(xml.size()));
    zip_fclose(f);
    zip_discard(z);
    for (const char* fragment : {"<c r=\"A5\" t=\"inlineStr\"><is><t>Numero</t></is></c>",
                                 "<c r=\"H5\" t=\"inlineStr\"><is><t xml:space=\"preserve\"> Fuso</t></is></c>",
                                 "<c r=\"C4\" t=\"inlineStr\"><is><t xml:space=\"preserve\">(geoidiche </t></is></c>",
                                 "<c r=\"B6\"><v>5000000.25</v></c>", "<c r=\"G6\"><v>167.75</v></c>",
                                 "<c r=\"E7\" t=\"inlineStr\"><is><t>Fuori Griglia</t></is></c>"})
        EXPECT_NE(xml.find(fragment), std::string::npos) << fragment;
    EXPECT_EQ(xml.find("<c r=\"H7\""), std::string::npos); // no zone for a point outside
}

// A workbook without heights: columns D and G empty, row 4 empty; names that are not valid
// UTF-8 (Windows Latin-1 from older data files) still give a valid workbook.
TEST_F(WorkbookTest, ResultWorkbookWithoutHeights) {
    ResultHeader h;
    h.sel.inputSystem = RefSystem::Etrf2000;
    h.sel.inputKind = CoordKind::Geographic;
    h.sel.outputSystem = RefSystem::Etrf2000;
    h.sel.outputKind = CoordKind::Plane;
    h.sel.outputZone = Zone::OvestOr32;
    const fs::path p = dir_ / "ris.xlsx";
    auto w = makeResultFileWriter(p.string(), DataFileType::Excel);
    w->writeHeader(h);
    PointResult r;
    r.zoneMismatch = true;
    w->writePoint(DataPoint{"Citt\xE0\x01", 45.5, 9.25, 0}, r);
    w->finish();
    std::vector<detail::SheetCell> cells;
    std::string cause;
    ASSERT_TRUE(detail::readXlsxCells(p.string(), 12, cells, cause)) << cause;
    for (const auto& c : cells) {
        EXPECT_NE(c.row, 1);
        EXPECT_NE(c.row, 4);
        if (c.row >= 5) {
            EXPECT_NE(c.col, 4);
            EXPECT_NE(c.col, 7);
        }
        if (c.row == 6 && c.col == 1) {
            EXPECT_EQ(c.text, "Citt\xC3\xA0?");
        }
        if (c.row == 6 && c.col == 8) {
            EXPECT_EQ(c.text, "Altro");
        }
    }
}

// Hostile or damaged workbooks: each refused with a message naming the workbook, no crash,
// bounded memory. `atOpen`: refused when opened; otherwise reading ends in a Failure.
TEST_F(WorkbookTest, HostileWorkbooksAreRefused) {
    const std::string good = slurp(kFixtures / "punti.xlsx");
    std::mt19937 rng(7);
    auto randomText = [&](std::size_t n) {
        std::string s(n, 'a');
        for (auto& c : s)
            c = static_cast<char>('a' + rng() % 26);
        return s;
    };

    std::string corrupted = good;
    {
        // Damage the compressed data of the sheet (just after its local header).
        const std::size_t name = corrupted.find("xl/worksheets/sheet1.xml");
        ASSERT_NE(name, std::string::npos);
        for (std::size_t i = name + 40; i < name + 60; ++i)
            corrupted[i] = static_cast<char>(corrupted[i] ^ 0x5A);
    }
    std::string declaredHuge = workbookOf(sheetOf("<row r=\"2\"/>"));
    {
        // Central directory entry of the sheet claiming 3 GiB once inflated.
        const std::size_t cd = declaredHuge.find("PK\x01\x02");
        ASSERT_NE(cd, std::string::npos);
        for (std::size_t at = cd; at != std::string::npos; at = declaredHuge.find("PK\x01\x02", at + 4)) {
            const std::size_t nameLen = static_cast<unsigned char>(declaredHuge[at + 28]) |
                                        static_cast<unsigned char>(declaredHuge[at + 29]) << 8;
            if (declaredHuge.compare(at + 46, nameLen, "xl/worksheets/data.xml") == 0) {
                const std::uint32_t huge = 3u << 30;
                for (int b = 0; b < 4; ++b)
                    declaredHuge[at + 24 + b] = static_cast<char>((huge >> (8 * b)) & 0xFF);
            }
        }
    }
    std::string nested;
    for (int i = 0; i < 200; ++i)
        nested += "<a>";
    const std::string doctype = "<!DOCTYPE x [<!ENTITY a \"aaaaaaaaaa\"><!ENTITY b \"&a;&a;&a;&a;&a;&a;&a;&a;\">]>";

    struct Case {
        const char* what;
        std::string bytes;
        bool atOpen;
        const char* cause; // a part of the cause line
    } const cases[] = {
        {"truncated", good.substr(0, good.size() / 2), true, "non è una cartella di lavoro .xlsx valida"},
        {"empty", "", true, ""},
        {"junk", randomText(5000), true, "non è una cartella di lavoro .xlsx valida"},
        {"corrupted", corrupted, false, "danneggiata"},
        {"zip bomb",
         workbookOf(sheetOf("<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>" + std::string(64 << 20, ' ') +
                            "</t></is></c></row>"),
                    "", "", true),
         true, "Rapporto di compressione anomalo"},
        {"declared size", declaredHuge, true, "troppo grande"},
        {"doctype in workbook",
         workbookOf(sheetOf(""), "", "<?xml version=\"1.0\"?>" + doctype + "<workbook>&b;</workbook>"), true,
         "DOCTYPE"},
        {"doctype in sheet", workbookOf("<?xml version=\"1.0\"?>" + doctype + "<worksheet>&b;</worksheet>"), false,
         "DOCTYPE"},
        {"doctype in shared strings",
         workbookOf(sheetOf(""), "<?xml version=\"1.0\"?>" + doctype + "<sst><si><t>&b;</t></si></sst>"), true,
         "DOCTYPE"},
        {"huge tag", workbookOf(sheetOf("<row r=\"2\" x=\"" + randomText(20 << 20) + "\"/>")), false,
         "elemento XML troppo lungo"},
        {"deep nesting", workbookOf(sheetOf(nested)), false, "troppo profonda"},
        {"shared string index",
         workbookOf(sheetOf("<row r=\"2\"><c r=\"A2\" t=\"s\"><v>7</v></c></row>"),
                    "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><si><t>A</t></si></sst>"),
         false, "indice di testo condiviso"},
        {"huge cell",
         workbookOf(
             sheetOf("<row r=\"2\"><c r=\"A2\" t=\"inlineStr\"><is><t>" + randomText(1 << 20) + "</t></is></c></row>")),
         false, "Cella troppo lunga"},
        {"no sheet", zipOf({{"xl/workbook.xml", "<workbook/>"}}), true, "non contiene fogli"},
        {"bad xml", workbookOf("<worksheet><sheetData><row r=\"2\"><c r=\"A2\"><v>1</v></row>"), false,
         "XML non valido"},
    };
    for (const auto& c : cases) {
        Message failure;
        auto src = openXlsxSourceFromMemory(c.bytes, {}, failure);
        Message m;
        if (src) {
            EXPECT_FALSE(c.atOpen) << c.what;
            const auto ev = readAll(*src);
            ASSERT_EQ(ev.back().kind, ReadEvent::Kind::Failure) << c.what;
            m = ev.back().message;
            EXPECT_EQ(m.lines.at(0), "ERRORE NELLA LETTURA DEL FILE DEI DATI") << c.what;
        } else {
            EXPECT_TRUE(c.atOpen) << c.what << ": " << joinedText(failure);
            m = failure;
            EXPECT_EQ(m.lines.at(0), "IMPOSSIBILE APRIRE IL FILE DEI DATI") << c.what;
        }
        ASSERT_EQ(m.lines.size(), 3u) << c.what;
        EXPECT_EQ(m.title, "Dormal2k");
        EXPECT_NE(m.lines[2].find(c.cause), std::string::npos) << c.what << ": " << m.lines[2];
    }
}

// Files that are not workbooks, or not there: openDataFile names the file and the cause.
TEST_F(WorkbookTest, OpenDataFileFailures) {
    const fs::path junk = dir_ / "dati.xlsx";
    std::ofstream(junk, std::ios::binary) << std::string("\x01\x02\x03 non sono una cartella", 26);
    const fs::path notXls = dir_ / "dati.xls";
    std::ofstream(notXls, std::ios::binary)
        << std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(600, 'x');
    struct Case {
        fs::path path;
        DataFileType type;
        const char* cause;
    } const cases[] = {
        {dir_ / "manca.txt", DataFileType::Ascii, "non esiste"},
        {dir_ / "manca.xlsx", DataFileType::Excel, "non esiste"},
        {dir_, DataFileType::Ascii, "cartella"},
        {junk, DataFileType::Excel, "non è una cartella di lavoro di Excel"},
        {notXls, DataFileType::Excel, ".xls"},
    };
    for (const auto& c : cases) {
        Message failure;
        auto src = openDataFile(c.path.string(), c.type, {}, failure);
        EXPECT_EQ(src, nullptr) << c.path;
        ASSERT_EQ(failure.lines.size(), 3u) << c.path;
        EXPECT_EQ(failure.lines[0], "IMPOSSIBILE APRIRE IL FILE DEI DATI");
        EXPECT_EQ(failure.lines[1], c.path.string());
        EXPECT_NE(failure.lines[2].find(c.cause), std::string::npos) << failure.lines[2];
    }
    // Binary junk opened as an ASCII data file is refused while reading.
    Message failure;
    auto src = openDataFile((kFixtures / "punti.xls").string(), DataFileType::Ascii, {}, failure);
    ASSERT_NE(src, nullptr);
    const auto ev = readAll(*src);
    EXPECT_EQ(ev.back().kind, ReadEvent::Kind::Failure);
    EXPECT_EQ(ev.back().message.lines.at(1), (kFixtures / "punti.xls").string());
}

} // namespace
} // namespace dormal
