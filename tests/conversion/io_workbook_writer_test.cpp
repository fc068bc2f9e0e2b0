// The result workbook writer against the workbook library it replaced: the same cells give the
// same sheet XML (texts escaped and blanks kept alike, numbers as "%.16G"), the package is a
// valid zip whose every part inflates to its CRC, and other programs (openpyxl, when present)
// read the same values.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale.h>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <xlsxwriter.h>
#include <zip.h>

#include "conversion/io_detail.h"
#include "conversion/result_writer.h"

namespace dormal {
namespace {

// The C locale on this thread while it lives (the suite also runs under it_IT, where printf
// and the workbook library would write a decimal comma).
class CLocaleHere {
public:
    CLocaleHere() : c_(newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr))), old_(uselocale(c_)) {}
    ~CLocaleHere() {
        uselocale(old_);
        freelocale(c_);
    }
    CLocaleHere(const CLocaleHere&) = delete;
    CLocaleHere& operator=(const CLocaleHere&) = delete;

private:
    locale_t c_;
    locale_t old_;
};

std::string printfG16(double v) {
    const CLocaleHere c;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.16G", v);
    return buf;
}

std::string sheetNumber(double v) {
    std::string s;
    detail::appendSheetNumber(s, v);
    return s;
}

// Numbers are written as printf("%.16G") wrote them: over random bit patterns (every
// magnitude, subnormals included) and over values of the kinds a run writes.
TEST(SheetNumber, SameTextAsPrintf) {
    std::mt19937_64 rng(20261209);
    int checked = 0;
    for (int i = 0; i < 200000; ++i) {
        const std::uint64_t bits = rng();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        if (!std::isfinite(v))
            continue;
        ASSERT_EQ(sheetNumber(v), printfG16(v)) << bits;
        ++checked;
    }
    EXPECT_GT(checked, 190000);
    std::uniform_real_distribution<double> north(3.9e6, 5.3e6), east(-2e5, 2.9e6), height(-500, 5000),
        sexagesimal(-180, 180);
    for (int i = 0; i < 200000; ++i) {
        for (const double v : {north(rng), east(rng), height(rng), sexagesimal(rng),
                               std::round(north(rng) * 1000) / 1000, std::round(height(rng) * 1000) / 1000}) {
            ASSERT_EQ(sheetNumber(v), printfG16(v)) << v;
        }
    }
    for (const double v : {0.0, -0.0, 1.0, -1.0, 1e15, 1e16, 9999999999999999.0, 1e-4, 1e-5, 0.1, 1.5e-5, 123456789012345678.0,
                           std::numeric_limits<double>::max(), std::numeric_limits<double>::min(),
                           std::numeric_limits<double>::denorm_min()})
        EXPECT_EQ(sheetNumber(v), printfG16(v)) << v;
}

class WorkbookWriter : public ::testing::Test {
protected:
    void SetUp() override {
        std::string t = (std::filesystem::temp_directory_path() / "dormal_wbw_XXXXXX").string();
        ASSERT_NE(::mkdtemp(t.data()), nullptr);
        dir_ = t;
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    static std::string part(const std::string& path, const char* name) {
        int err = 0;
        zip_t* z = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
        if (z == nullptr)
            return "(no zip)";
        zip_stat_t st;
        std::string data;
        if (zip_stat(z, name, 0, &st) == 0) {
            data.assign(st.size, '\0');
            zip_file_t* f = zip_fopen(z, name, 0);
            if (f == nullptr || zip_fread(f, data.data(), data.size()) != static_cast<zip_int64_t>(data.size()))
                data = "(unreadable)";
            if (f)
                zip_fclose(f);
        } else {
            data = "(missing)";
        }
        zip_discard(z);
        return data;
    }

    std::filesystem::path dir_;
};

struct Layout {
    const char* what;
    RefSystem in, out;
    CoordKind inKind, outKind;
    Zone outZone;
    bool heights;
};

// Random points of every kind a run writes: names with markup characters, blanks around,
// tabs and line feeds, Latin-1 and control bytes, empty names; values out of range (Errore)
// and points outside the grid.
std::vector<std::pair<DataPoint, PointResult>> randomPoints(std::mt19937_64& rng, int n) {
    static const char* const kNames[] = {"P1", "a&b", "<x>", "\"q\" 'q'", " lead", "trail ", "\tTab", "riga\nnuova",
                                         "Citt\xE0", "ctl\x01\x7F", "", "G99999", "&amp;", "  ", "\xC3\xA8 ok"};
    static const char* const kZones[] = {"32", "33", "34", "Altro"};
    std::uniform_int_distribution<int> pick(0, 14), kind(0, 19), zone(0, 3);
    std::uniform_real_distribution<double> north(4.0e6, 5.2e6), east(1.2e6, 2.6e6), h(-50, 3000);
    std::vector<std::pair<DataPoint, PointResult>> pts;
    for (int i = 0; i < n; ++i) {
        DataPoint in;
        in.name = kNames[pick(rng)];
        if (i % 3 == 0)
            in.name.append(std::to_string(i));
        in.first = north(rng);
        in.second = east(rng);
        in.height = std::round(h(rng) * 1000) / 1000;
        PointResult r;
        r.outFirst = north(rng);
        r.outSecond = east(rng) - 1e6;
        r.hasHeight = kind(rng) != 0;
        r.outHeight = h(rng);
        r.zoneText = kZones[zone(rng)];
        r.zoneMismatch = kind(rng) < 5;
        const int k = kind(rng);
        if (k == 0)
            r.status = PointStatus::OutsideGrid;
        if (k == 1)
            r.outFirst = std::numeric_limits<double>::quiet_NaN();
        if (k == 2)
            in.second = std::numeric_limits<double>::infinity();
        pts.emplace_back(in, r);
    }
    return pts;
}

// The sheet of the workbook written by this system, against the same cells written by the
// workbook library: the same XML but for the blanks that keep the dimension's room.
TEST_F(WorkbookWriter, SameSheetAsTheWorkbookLibrary) {
    GridPortion portion;
    portion.globalGeoid = 1;
    portion.roEdEpoch = "1994 & <oggi>";
    portion.roE89Epoch = "1995";
    portion.e89E2000Epoch = "2008";
    portion.geoidEpoch = " 2005 ";
    const Layout layouts[] = {
        {"plane to plane, automatic zone, heights", RefSystem::Roma40, RefSystem::Etrf2000, CoordKind::Plane,
         CoordKind::Plane, Zone::Auto, true},
        {"geographic to plane, fixed zone", RefSystem::Etrf2000, RefSystem::Etrf2000, CoordKind::Geographic,
         CoordKind::Plane, Zone::OvestOr32, false},
        {"plane to geographic, heights", RefSystem::Ed50, RefSystem::Etrf89, CoordKind::Plane, CoordKind::Geographic,
         Zone::Auto, true},
    };
    std::mt19937_64 rng(7);
    for (const Layout& lay : layouts) {
        for (const int n : {0, 1, 3000}) {
            SCOPED_TRACE(std::string(lay.what) + ", " + std::to_string(n) + " points");
            ResultHeader h;
            h.sel.inputSystem = lay.in;
            h.sel.outputSystem = lay.out;
            h.sel.inputKind = lay.inKind;
            h.sel.outputKind = lay.outKind;
            h.sel.inputZone = Zone::Auto;
            h.sel.outputZone = lay.outZone;
            h.heights = lay.heights;
            h.portion = &portion;
            h.portionCount = n == 1 ? 12 : 1;
            const auto pts = randomPoints(rng, n);
            const std::string ours = (dir_ / "ours.xlsx").string();
            {
                auto w = makeResultFileWriter(ours, DataFileType::Excel);
                w->writeHeader(h);
                for (const auto& [in, r] : pts)
                    w->writePoint(in, r);
                w->finish();
            }
            long lastRow = 0;
            std::string cause;
            ASSERT_TRUE(detail::checkWrittenWorkbook(ours, lastRow, cause)) << cause;
            EXPECT_EQ(lastRow, 5 + n);

            // The same cells through the workbook library: texts as read back, numbers as written.
            std::vector<detail::SheetCell> cells;
            ASSERT_TRUE(detail::readXlsxCells(ours, 8, cells, cause)) << cause;
            const std::string theirs = (dir_ / "theirs.xlsx").string();
            {
                const CLocaleHere c;
                lxw_workbook_options opt{};
                opt.constant_memory = LXW_TRUE;
                std::string tmp = dir_.string();
                opt.tmpdir = tmp.data();
                lxw_workbook* wb = workbook_new_opt(theirs.c_str(), &opt);
                lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
                for (const auto& cell : cells) {
                    const auto row = static_cast<lxw_row_t>(cell.row - 1);
                    const auto col = static_cast<lxw_col_t>(cell.col - 1);
                    if (!cell.isNumber) {
                        worksheet_write_string(ws, row, col, cell.text.c_str(), nullptr);
                        continue;
                    }
                    ASSERT_GE(cell.row, 6);
                    const auto& [in, r] = pts[static_cast<std::size_t>(cell.row - 6)];
                    const double values[] = {0, 0, in.first, in.second, in.height, r.outFirst, r.outSecond,
                                             r.hasHeight ? r.outHeight : 0.0};
                    worksheet_write_number(ws, row, col, values[cell.col], nullptr);
                }
                ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
            }
            const std::string mine = std::regex_replace(part(ours, "xl/worksheets/sheet1.xml"),
                                                        std::regex("(<dimension ref=\"[A-Z0-9:]+\") +/>"), "$1/>");
            EXPECT_EQ(mine, part(theirs, "xl/worksheets/sheet1.xml"));
            for (const char* fixed : {"[Content_Types].xml", "_rels/.rels", "docProps/app.xml", "xl/workbook.xml",
                                      "xl/_rels/workbook.xml.rels", "xl/styles.xml", "xl/theme/theme1.xml"})
                EXPECT_EQ(part(ours, fixed), part(theirs, fixed)) << fixed;
        }
    }
}

// The workbook as another program reads it: openpyxl (Debian python3-openpyxl), when installed,
// loads it and finds the values and the sheet's dimension.
TEST_F(WorkbookWriter, ReadByOpenpyxl) {
    if (std::system("/usr/bin/python3 -c 'import openpyxl' >/dev/null 2>&1") != 0)
        GTEST_SKIP() << "python3-openpyxl not installed";
    ResultHeader h;
    h.sel.inputSystem = RefSystem::Etrf2000;
    h.sel.outputSystem = RefSystem::Etrf2000;
    h.sel.inputKind = CoordKind::Plane;
    h.sel.outputKind = CoordKind::Plane;
    h.sel.inputZone = Zone::OvestOr32;
    h.sel.outputZone = Zone::Auto;
    const std::string book = (dir_ / "r.xlsx").string();
    {
        auto w = makeResultFileWriter(book, DataFileType::Excel);
        w->writeHeader(h);
        for (int i = 0; i < 20000; ++i) {
            PointResult r;
            r.outFirst = 4600000.0 + i * 0.001;
            r.outSecond = 1.5e-5 * i;
            r.zoneText = "33";
            DataPoint in;
            in.name = i == 7 ? std::string("a & <b>") : "P" + std::to_string(i);
            in.first = 1.0 / (i + 1);
            in.second = 2;
            w->writePoint(in, r);
        }
        w->finish();
    }
    const std::string script = (dir_ / "read.py").string();
    std::ofstream(script) << "import sys, openpyxl\n"
                             "ws = openpyxl.load_workbook(sys.argv[1], read_only=True).active\n"
                             "rows = list(ws.iter_rows(values_only=True))\n"
                             "print(ws.calculate_dimension(), len(rows), repr(rows[4]), repr(rows[12]), "
                             "repr(rows[-1]))\n";
    const std::string out = (dir_ / "out.txt").string();
    ASSERT_EQ(std::system(("/usr/bin/python3 " + script + " " + book + " > " + out).c_str()), 0);
    std::ifstream in(out);
    std::string got;
    std::getline(in, got);
    EXPECT_EQ(got, "A2:H20005 20005 ('Numero', 'Nord', '    Est', None, 'Nord', '    Est', None, ' Fuso') "
                   "('a & <b>', 0.125, 2, None, 4600000.007, 0.000105, None, '33') "
                   "('P19999', 5e-05, 2, None, 4600019.999, 0.299985, None, '33')");
}

} // namespace
} // namespace dormal
