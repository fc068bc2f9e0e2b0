// The batch converter's pipeline (reading on one thread, conversion on a pool of workers,
// writing on another) against a run with one worker: the same reports and workbooks, byte for
// byte, the same reading errors in line order, the same counts, on 200,000 points with points
// outside the grid, refused lines and both sets of zone-mismatch rules.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <zip.h>

#include "conversion/batch_run.h"
#include "conversion/io_detail.h"
#include "run_test_support.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;
using testing::LoadedGrid;
using testing::portionAround;
using testing::Scratch;
using testing::selection;

std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// `count` data lines "name latitude longitude height" (gg.ppssdddd) around (lat, lon) spread
// over `spread` degrees, one line in `refusedEvery` refused (a field missing or not a number).
std::string dataLines(long count, double lat, double lon, double spread, long refusedEvery, unsigned seed) {
    std::mt19937_64 rng(seed);
    std::uniform_real_distribution<double> u(-spread, spread);
    std::string t;
    t.reserve(static_cast<std::size_t>(count) * 40);
    char line[96];
    for (long i = 0; i < count; ++i) {
        if (i % refusedEvery == refusedEvery / 2) {
            std::snprintf(line, sizeof line, i % 2 ? "R%ld 44.1\n" : "R%ld 44.1 x11.2 5\n", i);
        } else {
            const double la = lat + u(rng);
            const double lo = lon + u(rng);
            // Decimal degrees to gg.ppss: whole degrees, minutes and seconds (no carry issue
            // for the reader: any gg.ppssdddd is accepted).
            const auto sexagesimal = [](double d) {
                const double a = std::abs(d);
                const double g = std::floor(a), m = std::floor((a - g) * 60), s = ((a - g) * 60 - m) * 60;
                return (d < 0 ? -1 : 1) * (g + m / 100 + s / 10000);
            };
            std::snprintf(line, sizeof line, "P%ld %.8f %.8f %.3f\n", i, sexagesimal(la), sexagesimal(lo),
                          100 + 50 * u(rng));
        }
        t += line;
    }
    return t;
}

struct RunLog {
    BatchOutcome outcome;
    std::vector<std::string> errors; // first lines after the title: the line numbers
    long lastProgress = -1;
    long progressCalls = 0;
    long lastTotal = -1;
    std::string result;                  // the report's bytes
    std::vector<detail::SheetCell> cells; // the workbook's cells
};

RunLog runWith(BatchRequest req, int workers, long block, long maxPoints = 0) {
    RunLog r;
    req.blockSize = block;
    req.overlapWriting = workers > 0;
    req.workers = workers;
    req.maxPoints = maxPoints;
    BatchCallbacks cb;
    cb.onReadingError = [&r](const Message& m) { r.errors.push_back(m.lines.at(1)); };
    cb.onProgress = [&r](long done, long total) {
        r.lastProgress = done;
        r.lastTotal = total;
        ++r.progressCalls;
    };
    r.outcome = runBatch(req, cb);
    if (!fs::exists(req.resultPath)) {
        r.result = "(no result)";
    } else if (req.type == DataFileType::Ascii) {
        r.result = read(req.resultPath);
    } else {
        std::string cause;
        EXPECT_TRUE(detail::readXlsxCells(req.resultPath, 8, r.cells, cause)) << cause;
    }
    fs::remove(req.resultPath);
    return r;
}

void expectSame(const RunLog& a, const RunLog& b, const std::string& what) {
    EXPECT_EQ(a.outcome.status, b.outcome.status) << what;
    EXPECT_EQ(a.outcome.message, b.outcome.message) << what;
    EXPECT_EQ(a.outcome.pointCount, b.outcome.pointCount) << what;
    EXPECT_EQ(a.outcome.outsideCount, b.outcome.outsideCount) << what;
    EXPECT_EQ(a.outcome.readingErrorCount, b.outcome.readingErrorCount) << what;
    EXPECT_EQ(a.errors, b.errors) << what;
    EXPECT_EQ(a.lastProgress, b.lastProgress) << what;
    EXPECT_TRUE(a.result == b.result) << what << ": the reports differ";
    ASSERT_EQ(a.cells.size(), b.cells.size()) << what;
    for (std::size_t i = 0; i < a.cells.size(); ++i) {
        const detail::SheetCell &x = a.cells[i], &y = b.cells[i];
        ASSERT_TRUE(x.row == y.row && x.col == y.col && x.isNumber == y.isNumber && x.text == y.text &&
                    (x.number == y.number || (x.number != x.number && y.number != y.number)))
            << what << ": cell " << i;
    }
}

class PooledRun : public ::testing::Test {
protected:
    PooledRun() : grid_(portionAround(44.0, 11.0), RefSystem::Etrf89) {}

    BatchRequest request(const std::string& data, const std::string& result, DataFileType type) {
        BatchRequest req;
        req.type = type;
        req.dataPath = data;
        req.resultPath = result;
        return req;
    }

    Scratch s_;
    LoadedGrid grid_;
};

// Three runs, each with many refused lines: a datum change with heights and automatic zone
// where a good part of the points lies outside the portion; UTM output in zone 32 for points
// on both sides of 12 E (the UTM mismatch rules: "Altro"); Gauss-Boaga output in the west
// zone for points on both sides of the zones' border (the ROMA40 rules).
TEST_F(PooledRun, SameReportsAsOneWorkerOn200000Points) {
    struct Case {
        const char* what;
        SelectionState sel;
        bool heights, grid;
        double lat, lon, spread; // gg.pp around, degrees
    };
    const Case cases[] = {
        {"ETRF89 -> ETRF2000 UTM automatic, heights, outside points",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane, Zone::Auto), true, true, 44.0, 11.0, 0.3},
        {"ETRF2000 -> UTM 32, mismatch across 12 E", selection(RefSystem::Etrf2000, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                                                                 Zone::OvestOr32),
         false, false, 43.0, 12.0, 1.0},
        {"ROMA40 -> Gauss-Boaga west, mismatch across the zones' border",
         selection(RefSystem::Roma40, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40, CoordKind::Plane, Zone::OvestOr32), false, false, 43.0, 0.0, 1.0},
    };
    const std::string data = s_.file("d.txt");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        {
            std::ofstream(data, std::ios::binary) << dataLines(200000, c.lat, c.lon, c.spread, 997, 11);
        }
        BatchRequest req = request(data, s_.file("r.txt"), DataFileType::Ascii);
        req.ctx.sel = c.sel;
        req.ctx.heights = c.heights;
        if (c.grid) {
            req.ctx.portion = &grid_.portion;
            req.ctx.limits = &grid_.limits;
        }
        const RunLog one = runWith(req, 1, 4096);
        ASSERT_EQ(one.outcome.status, BatchStatus::Completed);
        EXPECT_GT(one.outcome.readingErrorCount, 150);
        if (c.grid) {
            EXPECT_GT(one.outcome.outsideCount, 10000);
            EXPECT_LT(one.outcome.outsideCount, 190000);
        } else {
            const std::size_t other = std::string_view(one.result).find("Altro");
            EXPECT_NE(other, std::string::npos) << "no point in the other zone";
            EXPECT_NE(std::string_view(one.result).find("Vero"), std::string::npos);
        }
        // The window's run on one thread, with blocks, gives the same too.
        if (c.grid) {
            expectSame(one, runWith(req, 0, 4096), std::string(c.what) + ", the window's thread");
        }
        const std::pair<int, long> pools[] = {{2, 4096}, {3, 97}};
        for (const auto& [workers, block] : pools) {
            expectSame(one, runWith(req, workers, block),
                       std::string(c.what) + ", " + std::to_string(workers) + " workers, blocks of " +
                           std::to_string(block));
        }
    }
}

// A data workbook (.xlsx, inline strings) of the points of `lines` ("name a b h" each; a
// refused line keeps its text in column A alone).
void writeDataWorkbook(const std::string& path, const std::string& lines) {
    std::string sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><worksheet "
                        "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\"><sheetData>";
    std::istringstream in(lines);
    std::string line;
    for (long row = 1; std::getline(in, line); ++row) {
        std::istringstream f(line);
        std::string name, a, b, h;
        f >> name >> a >> b >> h;
        const std::string r = std::to_string(row);
        sheet += "<row r=\"" + r + "\"><c r=\"A" + r + "\" t=\"inlineStr\"><is><t>" + name + "</t></is></c>";
        const std::string* values[] = {&a, &b, &h};
        const char cols[] = {'B', 'C', 'D'};
        for (int k = 0; k < 3; ++k) {
            if (values[k]->empty()) {
                continue;
            }
            const bool number = values[k]->find_first_not_of("0123456789.-") == std::string::npos;
            sheet += std::string("<c r=\"") + cols[k] + r + "\"" + (number ? "><v>" : " t=\"inlineStr\"><is><t>") +
                     *values[k] + (number ? "</v></c>" : "</t></is></c>");
        }
        sheet += "</row>";
    }
    sheet += "</sheetData></worksheet>";
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    const std::pair<std::string, std::string> parts[] = {
        {"[Content_Types].xml",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Types "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/content-types\"><Default Extension=\"rels\" "
         "ContentType=\"application/vnd.openxmlformats-package.relationships+xml\"/><Default Extension=\"xml\" "
         "ContentType=\"application/xml\"/></Types>"},
        {"_rels/.rels", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
                        "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship "
                        "Id=\"rId1\" Type=\"" +
                            rel + "/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", "<?xml version=\"1.0\" encoding=\"UTF-8\"?><workbook "
                            "xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" xmlns:r=\"" +
                                rel + "\"><sheets><sheet name=\"Foglio1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
        {"xl/_rels/workbook.xml.rels",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?><Relationships "
         "xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" Type=\"" +
             rel + "/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"},
        {"xl/worksheets/sheet1.xml", sheet},
    };
    int err = 0;
    zip_t* z = zip_open(path.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &err);
    ASSERT_NE(z, nullptr);
    for (const auto& [name, text] : parts) {
        zip_source_t* src = zip_source_buffer(z, text.data(), text.size(), 0);
        ASSERT_GE(zip_file_add(z, name.c_str(), src, ZIP_FL_OVERWRITE), 0);
    }
    ASSERT_EQ(zip_close(z), 0);
}

// The workbook: the same cells (outside points, zone texts "Vero"/"Altro", refused rows left
// out) with one worker and with two.
TEST_F(PooledRun, SameWorkbookCellsAsOneWorker) {
    const std::string data = s_.file("d.xlsx");
    writeDataWorkbook(data, dataLines(20000, 44.0, 11.0, 0.3, 101, 5));
    BatchRequest req = request(data, s_.file("r.xlsx"), DataFileType::Excel);
    req.ctx.sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32);
    req.ctx.heights = true;
    req.ctx.portion = &grid_.portion;
    req.ctx.limits = &grid_.limits;
    const RunLog one = runWith(req, 1, 4096);
    ASSERT_EQ(one.outcome.status, BatchStatus::Completed);
    EXPECT_GT(one.outcome.outsideCount, 1000);
    EXPECT_GT(one.outcome.readingErrorCount, 90);
    EXPECT_GT(one.cells.size(), 100000u);
    expectSame(one, runWith(req, 2, 4096), "2 workers");
    expectSame(one, runWith(req, 2, 333), "2 workers, blocks of 333");
}

// The window's run (the whole file read and judged first, at most 50,000 points) through the
// pipeline gives what it gives on its own thread: the same report or workbook, reading errors
// in line order, the same summary or refusal, and progress that ends at the total.
TEST_F(PooledRun, WindowRunSameAsOnItsThread) {
    struct Case {
        const char* what;
        long points;
        DataFileType type;
        BatchStatus status;
    };
    const Case cases[] = {
        {"ASCII, 50000 points with outside points and refused lines", 50000, DataFileType::Ascii,
         BatchStatus::Completed},
        {"workbook, 9000 points", 9000, DataFileType::Excel, BatchStatus::Completed},
        {"ASCII, more points than the window takes", 50200, DataFileType::Ascii, BatchStatus::Failed},
        {"ASCII, fewer points than a block", 17, DataFileType::Ascii, BatchStatus::Completed},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool book = c.type == DataFileType::Excel;
        const std::string data = s_.file(book ? "w.xlsx" : "w.txt");
        const std::string lines = dataLines(c.points, 44.0, 11.0, 0.3, std::min(499L, c.points / 2), 3);
        if (book) {
            writeDataWorkbook(data, lines);
        } else {
            std::ofstream(data, std::ios::binary) << lines;
        }
        BatchRequest req = request(data, s_.file(book ? "wr.xlsx" : "wr.txt"), c.type);
        req.ctx.sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000,
                                CoordKind::Plane, Zone::Auto);
        req.ctx.heights = true;
        req.ctx.portion = &grid_.portion;
        req.ctx.limits = &grid_.limits;
        const RunLog own = runWith(req, 0, 0, kWindowPointLimit);
        ASSERT_EQ(own.outcome.status, c.status) << joinedText(own.outcome.message);
        EXPECT_GT(own.outcome.readingErrorCount, 0);
        for (const int workers : {1, 2, 3}) {
            const RunLog pooled = runWith(req, workers, 0, kWindowPointLimit);
            expectSame(own, pooled, std::to_string(workers) + " workers");
            if (c.status == BatchStatus::Completed) {
                EXPECT_EQ(pooled.lastProgress, own.outcome.pointCount);
                EXPECT_EQ(pooled.lastTotal, own.outcome.pointCount);
                EXPECT_LE(pooled.progressCalls, c.points / 4096 + 2);
            } else {
                EXPECT_EQ(pooled.result, "(no result)");
            }
        }
    }
}

} // namespace
} // namespace dormal
