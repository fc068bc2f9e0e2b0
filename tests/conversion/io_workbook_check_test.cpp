// The check of a finished result workbook (zip consistency, every part's CRC, the sheet's
// end and last row) on workbooks the writer made, damaged in the ways a failed write leaves
// them: cut short, bytes changed inside the compressed sheet, the sheet without its end.

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <sstream>
#include <string>

#include <gtest/gtest.h>
#include <zip.h>

#include "conversion/io_detail.h"
#include "conversion/result_writer.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

class WorkbookCheck : public ::testing::Test {
protected:
    WorkbookCheck() {
        std::string t = (fs::temp_directory_path() / "dormal2k-wbcheck-XXXXXX").string();
        if (::mkdtemp(t.data()) == nullptr)
            throw std::runtime_error("mkdtemp");
        dir_ = t;
    }
    ~WorkbookCheck() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // A result workbook of `points` points (every third outside the grid) written by the
    // writer; its bytes.
    std::string written(long points) {
        const std::string p = (dir_ / "w.xlsx").string();
        {
            auto w = makeResultFileWriter(p, DataFileType::Excel);
            ResultHeader h;
            h.sel.inputSystem = RefSystem::Etrf89;
            h.sel.outputSystem = RefSystem::Etrf89;
            h.sel.outputKind = CoordKind::Plane;
            h.sel.outputZone = Zone::Auto;
            w->writeHeader(h);
            for (long i = 0; i < points; ++i) {
                PointResult r;
                r.status = i % 3 == 1 ? PointStatus::OutsideGrid : PointStatus::Converted;
                r.outFirst = 4800000 + 13.7 * static_cast<double>(i);
                r.outSecond = 500000 + std::sqrt(static_cast<double>(i));
                r.zoneText = "32";
                DataPoint in{std::to_string(i), 45.0 + 1e-5 * static_cast<double>(i), 9.5, 0};
                in.name.insert(0, 1, 'P');
                w->writePoint(in, r);
            }
            w->finish();
        }
        return bytes(p);
    }

    std::string bytes(const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    // Checks `data` written to a file of its own.
    bool check(const std::string& data, long& lastRow, std::string& cause) {
        std::string name = std::to_string(++files_);
        name += ".xlsx";
        const std::string p = (dir_ / name).string();
        std::ofstream(p, std::ios::binary) << data;
        return detail::checkWrittenWorkbook(p, lastRow, cause);
    }

    fs::path dir_;
    int files_ = 0;
};

TEST_F(WorkbookCheck, WrittenWorkbooksPassWithTheirLastRow) {
    for (const long points : {1L, 2L, 1000L, 20000L}) {
        long lastRow = -1;
        std::string cause;
        EXPECT_TRUE(check(written(points), lastRow, cause)) << points << ": " << cause;
        EXPECT_EQ(lastRow, 5 + points) << points; // points from row 6
        EXPECT_TRUE(cause.empty());
    }
}

// Cut anywhere, the file fails: the central directory is at the end.
TEST_F(WorkbookCheck, AFileCutShortFails) {
    const std::string good = written(2000);
    for (const double part : {0.0, 0.1, 0.5, 0.9, 0.999}) {
        const auto keep = static_cast<std::size_t>(static_cast<double>(good.size()) * part);
        for (const std::size_t n : {keep, good.size() - 1, good.size() - 22}) {
            long lastRow = 0;
            std::string cause;
            EXPECT_FALSE(check(good.substr(0, n), lastRow, cause)) << n << " of " << good.size() << " bytes";
            EXPECT_FALSE(cause.empty());
        }
    }
}

// A byte changed inside the compressed sheet (the bulk of the file) is caught by the
// inflater or by the part's CRC, wherever it is.
TEST_F(WorkbookCheck, ABadByteInsideTheSheetFails) {
    const std::string good = written(3000);
    std::mt19937 rng(3);
    for (int k = 0; k < 60; ++k) {
        // The middle of the file lies inside the sheet's compressed rows.
        const std::size_t at = good.size() / 4 + rng() % (good.size() / 2);
        std::string bad = good;
        bad[at] = static_cast<char>(bad[at] ^ (1 + rng() % 255));
        long lastRow = 0;
        std::string cause;
        EXPECT_FALSE(check(bad, lastRow, cause)) << "byte " << at;
    }
}

// A zip of the given sheet text (and nothing else).
std::string zipWithSheet(const std::string& dir, const std::string& sheet, const char* name) {
    const std::string p = dir + "/z.xlsx";
    int err = 0;
    zip_t* z = zip_open(p.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    zip_source_t* src = zip_source_buffer(z, sheet.data(), sheet.size(), 0);
    zip_file_add(z, name, src, ZIP_FL_OVERWRITE);
    zip_close(z);
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_F(WorkbookCheck, TheSheetMustEndAfterItsLastRow) {
    const std::string rows = "<worksheet><sheetData><row r=\"6\"><c r=\"A6\"/></row><row r=\"7\" spans=\"1:8\">"
                             "<c r=\"A7\"/></row></sheetData>";
    struct Case {
        const char* what;
        std::string sheet;
        const char* name;
        bool ok;
        long lastRow;
    } const cases[] = {
        {"complete", rows + "</worksheet>", "xl/worksheets/sheet1.xml", true, 7},
        {"no rows", "<worksheet><sheetData/></worksheet>", "xl/worksheets/sheet1.xml", true, 0},
        {"without its end", rows, "xl/worksheets/sheet1.xml", false, 0},
        {"cut inside a row", rows.substr(0, 40), "xl/worksheets/sheet1.xml", false, 0},
        {"no sheet", rows + "</worksheet>", "xl/worksheets/sheet2.xml", false, 0},
    };
    for (const Case& c : cases) {
        long lastRow = -1;
        std::string cause;
        EXPECT_EQ(check(zipWithSheet(dir_.string(), c.sheet, c.name), lastRow, cause), c.ok) << c.what;
        if (c.ok)
            EXPECT_EQ(lastRow, c.lastRow) << c.what;
        else
            EXPECT_FALSE(cause.empty()) << c.what;
    }
}

} // namespace
} // namespace dormal
