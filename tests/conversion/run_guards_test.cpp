// Guards of the batch run: a result that would replace the grid portion, a geoid corner
// numbered 0, the counts of refused lines, and standard output that stops half way.

#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <streambuf>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/batch_run.h"
#include "geodesy/angles.h"
#include "run_test_support.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;
using testing::ConstantGrids;
using testing::constantPortion;
using testing::LoadedGrid;
using testing::portionAround;
using testing::Scratch;
using testing::selection;

void write(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}
std::string read(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Fault guarded: `--grid g.GK1 data.txt g.GK1` replaced the grid portion with the report.
// The result is compared with the grid file as it is with the data file: however spelled.
TEST(GridAsResult, RefusedHoweverSpelled) {
    Scratch f;
    const std::string grid = f.file("1234.GK1"), data = f.file("d.txt");
    write(grid, "the grid\n");
    write(data, "x\n");
    fs::create_directory(f.file("sub"));
    fs::create_symlink(grid, f.file("link.GK1"));
    fs::create_hard_link(grid, f.file("hard.GK1"));
    const std::vector<std::string> refusal{"IL FILE DEI RISULTATI E QUELLO  ",
                                           "DELLA PORZIONE DI GRIGLIA SONO LO STESSO"};
    const struct {
        const char* what;
        std::string result;
        std::string gridPath;
        bool refused;
    } cases[] = {
        {"the grid itself", grid, grid, true},
        {"ignoring case", f.file("1234.gk1"), grid, true},
        {"through ./ and ..", f.file("sub/.././1234.GK1"), grid, true},
        {"a symbolic link to it", f.file("link.GK1"), grid, true},
        {"a hard link to it", f.file("hard.GK1"), grid, true},
        {"a new result beside it", f.file("r.txt"), grid, false},
        {"no grid file known", grid, "", false},
        {"standard output", "-", grid, false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::optional<Message> m = batchFileChecks(data, c.result, c.gridPath);
        ASSERT_EQ(m.has_value(), c.refused);
        if (c.refused) {
            EXPECT_EQ(m->icon, MessageIcon::Warning);
            ASSERT_EQ(m->lines.size(), 4u);
            EXPECT_EQ(std::vector<std::string>(m->lines.begin(), m->lines.begin() + 2), refusal);
            EXPECT_EQ(m->lines[2], "FILE DEI RISULTATI: " + c.result);
            EXPECT_EQ(m->lines[3], "FILE DI GRIGLIA: " + c.gridPath);
        }
    }
    // The data file check still comes first.
    const std::optional<Message> both = batchFileChecks(grid, grid, grid);
    ASSERT_TRUE(both.has_value());
    EXPECT_EQ(both->lines.front(), "IL FILE DI INPUT E QUELLO  ");
}

// The run itself refuses, with the loaded portion's own path, and leaves the grid as it was.
TEST(GridAsResult, RunLeavesTheGridFileAlone) {
    Scratch f;
    LoadedGrid g(portionAround(44.0, 11.0), RefSystem::Etrf89);
    g.portion.sourcePath = f.file("1234.GK1");
    write(g.portion.sourcePath, "the grid\n");
    const std::string data = f.file("d.txt");
    write(data, "A 44.00 11.00 100\n");
    for (const DataFileType type : {DataFileType::Ascii, DataFileType::Excel}) {
        BatchRequest req;
        req.ctx.sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000,
                                CoordKind::Plane, Zone::Auto);
        req.ctx.heights = true;
        req.ctx.portion = &g.portion;
        req.ctx.limits = &g.limits;
        req.type = type;
        req.dataPath = data;
        req.resultPath = f.file("./1234.GK1");
        const BatchOutcome o = runBatch(req);
        EXPECT_EQ(o.status, BatchStatus::Refused);
        EXPECT_EQ(o.message.lines.at(1), "DELLA PORZIONE DI GRIGLIA SONO LO STESSO");
        EXPECT_EQ(read(g.portion.sourcePath), "the grid\n");
    }
}

// A ROMA40 point just inside the coverage test (5" inside the outer nodes) whose ROMA40->ETRF89 shift (30" north) puts
// it north of the geoid's top row, in the column where the NE corner's number is 0.
struct GeoidEdgeCase {
    GridPortion portion = constantPortion(44.0, 11.0, ConstantGrids{0, 0, 30, 0, 0, 0, 0, 35});
    double typedLat = 0, typedLon = 0; // ROMA40, gg.ppssdddd, longitude from Monte Mario
    GeoidEdgeCase() {
        const double lat = portion.geoidTopLat - sexagesimalToDegrees(0.0010); // 10": 2.65" inside the north edge
        const double lon = portion.geoidOriginLon + 8.5 * geoidStepLon;
        typedLat = degreesToSexagesimal(lat);
        typedLon = degreesToSexagesimal(lon - romeMeridian());
    }
};

// Fault guarded: such a point was converted with an undulation of 0 (no cell, no value),
// its height off by the whole undulation and no word said. One point now shows the corner
// boxes and is outside; a batch counts and marks it.
TEST(GeoidZeroCorner, PointIsOutsideTheGrid) {
    const GeoidEdgeCase e;
    const LoadedGrid g(e.portion, RefSystem::Roma40);
    ConversionContext ctx;
    ctx.sel = selection(RefSystem::Roma40, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf89,
                        CoordKind::Geographic, Zone::Auto);
    ctx.heights = true;
    ctx.portion = &g.portion;
    ctx.limits = &g.limits;
    for (const RunKind kind : {RunKind::SinglePoint, RunKind::Batch}) {
        const PointResult r = convertPoint(ctx, {e.typedLat, e.typedLon, 100}, kind);
        EXPECT_EQ(r.status, PointStatus::OutsideGrid);
        EXPECT_FALSE(r.hasHeight);
    }
    const PointResult r = convertPoint(ctx, {e.typedLat, e.typedLon, 100}, RunKind::SinglePoint);
    std::vector<std::string> first;
    for (const Message& m : singlePointMessages(ctx, r)) {
        first.push_back(m.lines.at(0));
    }
    EXPECT_EQ(first, (std::vector<std::string>{"IL PUNTO A N.E. VALE 0 ", "ERRORE",
                                               "Punto non calcolabile perchè situato"}));

    // A point of the same portion a little further south is converted with its undulation.
    const double south = sexagesimalToDegrees(e.typedLat) - 2 * geoidStepLat;
    const PointResult ok = convertPoint(ctx, {degreesToSexagesimal(south), e.typedLon, 100}, RunKind::SinglePoint);
    ASSERT_EQ(ok.status, PointStatus::Converted);
    EXPECT_NEAR(ok.outHeight, 135, 1e-9);

    Scratch f;
    const std::string data = f.file("d.txt"), result = f.file("r.txt");
    char line[160];
    std::snprintf(line, sizeof line, "A %.10f %.10f 100\nB %.10f %.10f 100\n", degreesToSexagesimal(south), e.typedLon,
                  e.typedLat, e.typedLon);
    std::string text(line);
    for (char& c : text) {
        c = c == ',' ? '.' : c; // whatever the test's locale
    }
    write(data, text);
    BatchRequest req;
    req.ctx = ctx;
    req.type = DataFileType::Ascii;
    req.dataPath = data;
    req.resultPath = result;
    const BatchOutcome o = runBatch(req);
    ASSERT_EQ(o.status, BatchStatus::Completed) << joinedText(o.message);
    EXPECT_EQ(o.pointCount, 2);
    EXPECT_EQ(o.outsideCount, 1);
    const std::string report = read(result);
    EXPECT_NE(report.find(" B "), std::string::npos);
    EXPECT_NE(report.find("F. Grig."), std::string::npos) << report;
}

// Refused lines are counted (the batch converter's exit status rests on it).
TEST(BatchCounts, RefusedLinesAreCounted) {
    Scratch f;
    const LoadedGrid g(portionAround(44.0, 11.0), RefSystem::Etrf89);
    const struct {
        const char* text;
        long points, refused;
    } cases[] = {
        {"A 44.00 11.00 100\n", 1, 0},
        {"A 44.00 11.00 100\nB 44.00\nC\n/ comment\nD 44.00 11.00\n", 1, 3},
        {"A 44.00 11.00 100\nB 44.00 11.00 100\n\n", 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        const std::string data = f.file("d.txt");
        write(data, c.text);
        BatchRequest req;
        req.ctx.sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000,
                                CoordKind::Plane, Zone::Auto);
        req.ctx.heights = true;
        req.ctx.portion = &g.portion;
        req.ctx.limits = &g.limits;
        req.type = DataFileType::Ascii;
        req.dataPath = data;
        req.resultPath = f.file("r.txt");
        int shown = 0;
        BatchCallbacks cb;
        cb.onReadingError = [&shown](const Message&) { ++shown; };
        const BatchOutcome o = runBatch(req, cb);
        ASSERT_EQ(o.status, BatchStatus::Completed);
        EXPECT_EQ(o.pointCount, c.points);
        EXPECT_EQ(o.readingErrorCount, c.refused);
        EXPECT_EQ(shown, c.refused);
    }
}

// Standard output that takes `limit` bytes and then fails, like a full disk or a closed pipe.
class LimitedBuf : public std::streambuf {
public:
    explicit LimitedBuf(std::size_t limit) : limit_(limit) {}
    std::string taken;

protected:
    std::streamsize xsputn(const char* s, std::streamsize n) override {
        const std::size_t room = limit_ - taken.size();
        const std::size_t k = std::min(room, static_cast<std::size_t>(n));
        taken.append(s, k);
        return static_cast<std::streamsize>(k);
    }
    int_type overflow(int_type c) override {
        if (traits_type::eq_int_type(c, traits_type::eof()) || taken.size() >= limit_) {
            return traits_type::eof();
        }
        taken += traits_type::to_char_type(c);
        return c;
    }

private:
    std::size_t limit_;
};

class CoutTo {
public:
    explicit CoutTo(std::streambuf* b) : old_(std::cout.rdbuf(b)) {}
    ~CoutTo() {
        std::cout.rdbuf(old_);
        std::cout.clear();
    }
    CoutTo(const CoutTo&) = delete;
    CoutTo& operator=(const CoutTo&) = delete;

private:
    std::streambuf* old_;
};

// Fault guarded: a run onto standard output that stopped after part of the report was out
// said "NESSUN RISULTATO E' STATO SCRITTO". It now says the output is incomplete; before
// any byte left, the old words are still true and stay.
TEST(StandardOutput, FailureAfterOutputBeganSaysItIsIncomplete) {
    Scratch f;
    const std::string data = f.file("d.txt");
    std::string many;
    for (int i = 0; i < 30000; ++i) {
        char line[48];
        std::snprintf(line, sizeof line, "P%d 44.00 11.00\n", i);
        many += line;
    }
    const struct {
        const char* what;
        std::string text;
        std::size_t room; // bytes standard output takes
        bool partial;
        const char* first;
    } cases[] = {
        {"a point fails after 1 MB went out", many + "B 1e308 1e308\n", 100u << 20, true,
         "IMPOSSIBILE CALCOLARE IL PUNTO B"},
        {"a point fails before anything went out", "A 44.00 11.00\nB 1e308 1e308\n", 100u << 20, false,
         "IMPOSSIBILE CALCOLARE IL PUNTO B"},
        {"standard output fails half way", many, 200000, true, "IMPOSSIBILE SCRIVERE I RISULTATI"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        write(data, c.text);
        BatchRequest req;
        req.ctx.sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf89,
                                CoordKind::Plane, Zone::Auto);
        req.type = DataFileType::Ascii;
        req.dataPath = data;
        req.resultPath = "-";
        req.maxPoints = 0;
        req.blockSize = 4096;
        req.overlapWriting = true;
        req.checkValues = false; // 1e308 goes to the conversion, which cannot compute it
        LimitedBuf out(c.room);
        BatchOutcome o;
        {
            const CoutTo redirect(&out);
            o = runBatch(req);
        }
        ASSERT_EQ(o.status, BatchStatus::Failed);
        EXPECT_EQ(o.partialOutput, c.partial);
        EXPECT_EQ(o.message.lines.front(), c.first);
        const std::string all = joinedText(o.message);
        EXPECT_EQ(all.find("USCITA INCOMPLETA") != std::string::npos, c.partial) << all;
        EXPECT_EQ(all.find("NESSUN RISULTATO") != std::string::npos, !c.partial && std::string(c.first).find("CALCOLARE") != std::string::npos)
            << all;
    }
}

} // namespace
} // namespace dormal
