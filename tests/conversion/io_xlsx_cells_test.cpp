// Workbook cells that are not plain numbers or texts: formulas with and without a stored
// result, dates and times (by cell format, and typed "d"), booleans and error values.
// B to D must hold numbers: anything else is a reading error for its row, and the data goes
// on; a formula in A without a stored result is a reading error too, not the end of the data.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <unistd.h>
#include <zip.h>

#include "conversion/data_source.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

constexpr const char* kName = "ERRORE NELLA LETTURA NEL NOME DEL PUNTO";
constexpr const char* kLat = "ERRORE NELLA LETTURA NELLA LATITUDINE";
constexpr const char* kLon = "ERRORE NELLA LETTURA NELLA LONGITUDINE";
constexpr const char* kHeight = "ERRORE NELLA LETTURA NELLA QUOTA";

// An expected event: a point (name, B, C, D), or a reading error's first line and its row.
struct Want {
    std::string name;
    double first = 0, second = 0, height = 0;
    const char* error = nullptr;
    long row = 0;
};
Want pt(std::string n, double a, double b, double h) {
    return {std::move(n), a, b, h};
}
Want err(const char* first, long row) {
    return {"", 0, 0, 0, first, row};
}

class XlsxCellsTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "dormal2k-cells-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // A workbook file of one sheet with the given rows (row 1 is the heading row) and
    // cell formats: xf 1 is the built-in date format 14, xf 2 the custom format of `custom`.
    fs::path workbook(const std::string& rows, const std::string& custom = "0.000") {
        const fs::path p = dir_ / (std::to_string(++count_) + ".xlsx");
        int e = 0;
        zip_t* z = zip_open(p.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &e);
        EXPECT_NE(z, nullptr);
        const std::string ns = "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"";
        const std::string parts[][2] = {
            {"xl/workbook.xml", "<workbook " + ns +
                                    " xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
                                    "<sheets><sheet name=\"A\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
            {"xl/_rels/workbook.xml.rels",
             "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
             "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "worksheet\" Target=\"worksheets/sheet1.xml\"/>"
             "<Relationship Id=\"rId2\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships/"
             "styles\" Target=\"formati.xml\"/></Relationships>"},
            {"xl/formati.xml",
             "<styleSheet " + ns + "><numFmts count=\"1\"><numFmt numFmtId=\"164\" formatCode=\"" + custom +
                 "\"/></numFmts><cellStyleXfs count=\"1\"><xf numFmtId=\"14\"/></cellStyleXfs>"
                 "<cellXfs count=\"3\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\"/><xf numFmtId=\"164\"/></cellXfs>"
                 "</styleSheet>"},
            {"xl/worksheets/sheet1.xml",
             "<worksheet " + ns +
                 "><sheetData><row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Nome</t></is></c></row>" + rows +
                 "</sheetData></worksheet>"},
        };
        for (const auto& [name, data] : parts) {
            auto* copy = static_cast<char*>(std::malloc(data.size()));
            std::copy(data.begin(), data.end(), copy);
            zip_source_t* s = zip_source_buffer(z, copy, data.size(), 1);
            EXPECT_GE(zip_file_add(z, name.c_str(), s, ZIP_FL_OVERWRITE), 0);
        }
        EXPECT_EQ(zip_close(z), 0);
        return p;
    }

    static void expectRead(const fs::path& file, const std::vector<Want>& want, const std::string& what) {
        Message failure;
        auto src = openDataFile(file.string(), DataFileType::Excel, {}, failure);
        ASSERT_NE(src, nullptr) << what << ": " << joinedText(failure);
        ReadEvent ev;
        for (std::size_t i = 0; i < want.size(); ++i) {
            src->next(ev);
            const Want& w = want[i];
            if (w.error == nullptr) {
                ASSERT_EQ(ev.kind, ReadEvent::Kind::Point) << what << " event " << i << ": " << joinedText(ev.message);
                EXPECT_EQ(ev.point.name, w.name) << what;
                EXPECT_EQ(ev.point.first, w.first) << what;
                EXPECT_EQ(ev.point.second, w.second) << what;
                EXPECT_EQ(ev.point.height, w.height) << what;
            } else {
                ASSERT_EQ(ev.kind, ReadEvent::Kind::ReadingError) << what << " event " << i;
                EXPECT_EQ(ev.message.lines,
                          (std::vector<std::string>{w.error, "ALLA RIGA:     " + std::to_string(w.row) +
                                                                 "    DEL FILE DI INPUT"}))
                    << what;
            }
        }
        src->next(ev);
        EXPECT_EQ(ev.kind, ReadEvent::Kind::End) << what << ": " << joinedText(ev.message);
    }

    fs::path dir_;
    int count_ = 0;
};

// One row under test, then a good row that must still be read.
std::string rowsWith(const std::string& cells) {
    return "<row r=\"2\">" + cells + "</row>" +
           "<row r=\"3\"><c r=\"A3\" t=\"inlineStr\"><is><t>DOPO</t></is></c><c r=\"B3\"><v>1</v></c>"
           "<c r=\"C3\"><v>2</v></c><c r=\"D3\"><v>3</v></c></row>";
}

const std::string kNameP = "<c r=\"A2\" t=\"inlineStr\"><is><t>P</t></is></c>";

TEST_F(XlsxCellsTest, CellKindsInRowsOfPoints) {
    const Want after = pt("DOPO", 1, 2, 3);
    struct Case {
        const char* what;
        std::string cells;
        Want want;
    } const cases[] = {
        // Formulas: the stored result is read; none, or an empty one, is a reading error.
        {"formula with a stored number", kNameP + "<c r=\"B2\"><f>40+5.5</f><v>45.5</v></c><c r=\"C2\"><v>9</v></c>",
         pt("P", 45.5, 9, 0)},
        {"formula with a stored text number", kNameP + "<c r=\"C2\" t=\"str\"><f>\"9,25\"</f><v>9,25</v></c>",
         pt("P", 0, 9.25, 0)},
        {"formula without a result", kNameP + "<c r=\"C2\"><f>1+2</f></c>", err(kLon, 2)},
        {"formula with an empty result", kNameP + "<c r=\"B2\"><f>1+2</f><v></v></c>", err(kLat, 2)},
        {"text formula with an empty result", kNameP + "<c r=\"D2\" t=\"str\"><f>\"\"</f><v/></c>", err(kHeight, 2)},
        {"name formula with a stored result", "<c r=\"A2\" t=\"str\"><f>\"P\"&amp;7</f><v>P7</v></c>",
         pt("P7", 0, 0, 0)},
        {"name formula without a result", "<c r=\"A2\"><f>\"P\"&amp;7</f><v></v></c><c r=\"B2\"><v>1</v></c>",
         err(kName, 2)},
        {"name formula without a value element", "<c r=\"A2\"><f>\"P\"&amp;7</f></c>", err(kName, 2)},
        // Dates and times, by format and by cell type.
        {"built-in date format", kNameP + "<c r=\"B2\" s=\"1\"><v>43831</v></c>", err(kLat, 2)},
        {"typed date", kNameP + "<c r=\"D2\" t=\"d\"><v>2020-01-01T00:00:00</v></c>", err(kHeight, 2)},
        {"date formula with a stored result", kNameP + "<c r=\"C2\" s=\"1\"><f>TODAY()</f><v>45000</v></c>",
         err(kLon, 2)},
        {"date in A is a name", "<c r=\"A2\" s=\"1\"><v>43831</v></c>", pt("43831", 0, 0, 0)},
        // Booleans and error values.
        {"boolean", kNameP + "<c r=\"B2\" t=\"b\"><v>1</v></c>", err(kLat, 2)},
        {"error value", kNameP + "<c r=\"C2\" t=\"e\"><f>1/0</f><v>#DIV/0!</v></c>", err(kLon, 2)},
        // Plain numbers in the general format stay numbers.
        {"number in the general format", kNameP + "<c r=\"B2\" s=\"0\"><v>45.25</v></c>", pt("P", 45.25, 0, 0)},
        {"number with a style out of range", kNameP + "<c r=\"B2\" s=\"99\"><v>45.25</v></c>", pt("P", 45.25, 0, 0)},
    };
    for (const auto& c : cases) {
        expectRead(workbook(rowsWith(c.cells)), {c.want, after}, c.what);
    }
}

// Custom number formats: a day, month, year, hour or second placeholder makes a date or
// time; the same letters quoted, escaped or in a colour or locale bracket do not.
TEST_F(XlsxCellsTest, CustomFormatsThatAreDates) {
    struct Case {
        const char* code; // as written in the XML attribute
        bool date;
    } const cases[] = {
        {"dd/mm/yyyy", true},
        {"[$-410]d mmmm yyyy", true},
        {"hh:mm:ss", true},
        {"[h]:mm", true},
        {"[mm]:ss", true},
        {"0.000", false},
        {"#,##0.00&quot; m&quot;", false},
        {"[Red]0.00;[Blue]-0.00", false},
        {"0.0\\h", false},
        {"General", false},
        {"0.00E+00", false},
        {"_-* #,##0.00_-", false},
    };
    for (const auto& c : cases) {
        const fs::path file = workbook(rowsWith(kNameP + "<c r=\"B2\" s=\"2\"><v>45.5</v></c>"), c.code);
        expectRead(file, {c.date ? err(kLat, 2) : pt("P", 45.5, 0, 0), pt("DOPO", 1, 2, 3)}, c.code);
    }
}

// A workbook as openpyxl writes it (formulas without stored results, a date cell): every
// row is accounted for. Guards: a formula in A ended the data silently, one in C read as 0.
TEST_F(XlsxCellsTest, WorkbookWrittenByOpenpyxl) {
    const fs::path file = dir_ / "openpyxl.xlsx";
    const fs::path script = dir_ / "scrivi.py";
    std::ofstream(script) << "import datetime, sys, openpyxl\n"
                             "wb = openpyxl.Workbook()\n"
                             "ws = wb.active\n"
                             "ws.append(['Nome', 'Lat', 'Lon', 'Quota'])\n"
                             "ws.append(['P1', 45.1, '=9+0.5', 3])\n"
                             "ws.append(['=\"P\"&2', 45.2, 9.5, 3])\n"
                             "ws.append(['P3', datetime.date(2020, 1, 1), 9.5, 1])\n"
                             "ws.append(['P4', 45.4, 9.5, True])\n"
                             "ws.append(['P5', 45.5, 9.75, 12.5])\n"
                             "wb.save(sys.argv[1])\n";
    const std::string cmd = "/usr/bin/python3 '" + script.string() + "' '" + file.string() + "'";
    ASSERT_EQ(std::system(cmd.c_str()), 0) << "python3 with openpyxl is needed to write this workbook";
    expectRead(file, {err(kLon, 2), err(kName, 3), err(kLat, 4), err(kHeight, 5), pt("P5", 45.5, 9.75, 12.5)},
               "openpyxl");
}

} // namespace
} // namespace dormal
