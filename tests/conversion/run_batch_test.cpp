// The batch run: file checks, summary, counting and marking, reading errors and progress,
// blocks, limits, and failures that leave an existing result file as it was.

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <xlsxwriter.h>

#include "conversion/batch_run.h"
#include "run_test_support.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;
using testing::ConstantGrids;
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
int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

const std::vector<std::string> kSame{"IL FILE DI INPUT E QUELLO  ", "DI OUTPUT SONO LO STESSO"};

TEST(BatchFileChecks, InOrderAndTheSameFileHoweverSpelled) {
    Scratch s;
    const std::string a = s.file("a.txt");
    write(a, "x\n");
    fs::create_directory(s.file("sub"));
    fs::create_symlink(a, s.file("link.txt"));
    fs::create_hard_link(a, s.file("hard.txt"));
    struct Case {
        const char* what;
        std::string data, result;
        std::vector<std::string> lines; // empty: passes
    };
    const Case cases[] = {
        {"no data file", "", a, {"NON E' STATO SELEZIONATO  ", "IL FILE DEI DATI DI INPUT"}},
        {"no result file", a, "", {"NON E' STATO INDICATO  ", "IL FILE SU CUI SCRIVERE I RISULTATI"}},
        {"neither: the data file first", "", "", {"NON E' STATO SELEZIONATO  ", "IL FILE DEI DATI DI INPUT"}},
        {"equal", a, a, kSame},
        {"equal ignoring case", a, s.file("A.TXT"), kSame},
        {"through ./ and ..", a, s.file("sub/.././a.txt"), kSame},
        {"through a folder that does not exist", a, s.file("none/../a.txt"), kSame},
        {"a symbolic link to it", a, s.file("link.txt"), kSame},
        {"a hard link to it", a, s.file("hard.txt"), kSame},
        {"a new result beside it", a, s.file("b.txt"), {}},
        {"standard input and output", "-", "-", {}},
    };
    for (const Case& c : cases) {
        const std::optional<Message> m = batchFileChecks(c.data, c.result);
        if (c.lines.empty()) {
            EXPECT_FALSE(m.has_value()) << c.what;
        } else {
            ASSERT_TRUE(m.has_value()) << c.what;
            EXPECT_EQ(m->lines, c.lines) << c.what;
            EXPECT_EQ(m->icon, MessageIcon::Warning) << c.what;
        }
    }
}

// A run over an ASCII file of geographic ETRF89 points (gg.ppssdddd, with heights).
struct RunLog {
    BatchOutcome outcome;
    std::vector<std::string> events; // "E<first line>" reading errors, "P<done>/<total>" progress
};

RunLog run(BatchRequest req) {
    RunLog r;
    BatchCallbacks cb;
    cb.onReadingError = [&r](const Message& m) { r.events.push_back("E" + m.lines.at(1)); };
    cb.onProgress = [&r](long done, long total) {
        r.events.push_back("P" + std::to_string(done) + "/" + std::to_string(total));
    };
    r.outcome = runBatch(req, cb);
    return r;
}

class BatchRun : public ::testing::Test {
protected:
    BatchRun() : grid_(portionAround(44.0, 11.0), RefSystem::Etrf89) {}

    BatchRequest request(const std::string& data, const std::string& result, bool heights = true) {
        BatchRequest req;
        req.ctx.sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000,
                                CoordKind::Plane, Zone::Auto);
        req.ctx.heights = heights;
        req.ctx.portion = &grid_.portion;
        req.ctx.limits = &grid_.limits;
        req.type = DataFileType::Ascii;
        req.dataPath = data;
        req.resultPath = result;
        return req;
    }

    Scratch s_;
    LoadedGrid grid_;
};

TEST_F(BatchRun, SummaryCountsAndMarksOutsidePoints) {
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    write(data, "/ prova\n"
                "A 44.00 11.00 100\n"
                "B 46.00 11.00 100\n" // two degrees north of the portion
                "C 44.01 11.02 100\n"
                "D 44.00 13.00 100\n"); // east of it
    const RunLog r = run(request(data, result));
    ASSERT_EQ(r.outcome.status, BatchStatus::Completed);
    EXPECT_EQ(r.outcome.pointCount, 4);
    EXPECT_EQ(r.outcome.outsideCount, 2);
    EXPECT_EQ(r.outcome.message.lines,
              (std::vector<std::string>{"PROCEDURA TERMINATA CON SUCCESSO:", "PUNTI TRATTATI:   4",
                                        "PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  2"}));
    EXPECT_EQ(r.outcome.message.icon, MessageIcon::Information);
    EXPECT_EQ(r.outcome.message.title, kAppTitle);
    const std::string report = read(result);
    EXPECT_EQ(countOf(report, "F. Grig."), 2) << report;
}

TEST_F(BatchRun, SummaryLinesBySystemsHeightsAndGeoidModel) {
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    write(data, "A 44.00 11.00 100\n");
    const std::string global = "ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE";
    struct Case {
        const char* what;
        bool sameSystems, heights;
        std::int16_t globalGeoid;
        std::size_t lines;
    };
    const Case cases[] = {
        {"equal systems: two lines", true, false, 1, 2},
        {"different systems: three lines", false, false, 0, 3},
        {"global model without heights: three lines", false, false, 1, 3},
        {"global model with heights: the note last", false, true, 1, 4},
        {"any flag other than 0 counts as global here", false, true, 2, 4},
        {"national model with heights", false, true, 0, 3},
    };
    for (const Case& c : cases) {
        grid_.portion.globalGeoid = c.globalGeoid;
        BatchRequest req = request(data, result, c.heights);
        if (c.sameSystems) {
            req.ctx.sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf89,
                                    CoordKind::Plane, Zone::Auto);
            req.ctx.portion = nullptr;
            req.ctx.limits = nullptr;
        }
        const RunLog r = run(req);
        ASSERT_EQ(r.outcome.status, BatchStatus::Completed) << c.what;
        ASSERT_EQ(r.outcome.message.lines.size(), c.lines) << c.what;
        EXPECT_EQ(r.outcome.message.lines.back() == global, c.lines == 4) << c.what;
    }
}

TEST_F(BatchRun, ReadingErrorsAsTheyHappenThenProgress) {
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    write(data, "A 44.00 11.00 1\n"
                "B 44.00\n"
                "C 44.00 11.01 2\n"
                "D 44.00 11.02\n"
                "E 44.00 11.03 3\n");
    const RunLog whole = run(request(data, result));
    ASSERT_EQ(whole.outcome.status, BatchStatus::Completed);
    EXPECT_EQ(whole.events,
              (std::vector<std::string>{"EALLA RIGA:     2    DEL FILE DI INPUT",
                                        "EALLA RIGA:     4    DEL FILE DI INPUT", "P1/3", "P2/3", "P3/3"}));
    const std::string wholeReport = read(result);

    // In blocks: errors and progress interleave, the total is not known, the file is the same.
    BatchRequest blocks = request(data, result);
    blocks.blockSize = 2;
    const RunLog b = run(blocks);
    ASSERT_EQ(b.outcome.status, BatchStatus::Completed);
    EXPECT_EQ(b.events, (std::vector<std::string>{"EALLA RIGA:     2    DEL FILE DI INPUT", "P1/0", "P2/0",
                                                  "EALLA RIGA:     4    DEL FILE DI INPUT", "P3/0"}));
    EXPECT_EQ(read(result), wholeReport);
    blocks.blockSize = 1;
    const RunLog one = run(blocks);
    EXPECT_EQ(one.events, (std::vector<std::string>{"P1/0", "EALLA RIGA:     2    DEL FILE DI INPUT", "P2/0",
                                                    "EALLA RIGA:     4    DEL FILE DI INPUT", "P3/0"}));
    EXPECT_EQ(read(result), wholeReport);
}

TEST_F(BatchRun, NoValidPointWritesNothing) {
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    write(data, "/ only comments\n' and a name alone:\nX\n");
    for (const long block : {0L, 3L}) {
        BatchRequest req = request(data, result);
        req.blockSize = block;
        const RunLog r = run(req);
        EXPECT_EQ(r.outcome.status, BatchStatus::Refused);
        EXPECT_EQ(r.outcome.message.lines,
                  (std::vector<std::string>{"IL FILE DATI NON CONTIENE", "NESSUN PUNTO VALIDO"}));
        EXPECT_EQ(r.outcome.message.icon, MessageIcon::Information);
        EXPECT_FALSE(fs::exists(result));
    }
}

TEST_F(BatchRun, MoreThanTheLimitIsRefusedBeforeWriting) {
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    write(data, "A 44.00 11.00 1\nB 44.00 11.01 1\nC 44.00 11.02 1\n");
    write(result, "old\n");
    BatchRequest req = request(data, result);
    req.maxPoints = 2;
    const RunLog r = run(req);
    EXPECT_EQ(r.outcome.status, BatchStatus::Failed);
    ASSERT_FALSE(r.outcome.message.lines.empty());
    EXPECT_EQ(r.outcome.message.lines[0], "IL FILE DATI CONTIENE PIU' DI 2 PUNTI:");
    EXPECT_EQ(r.outcome.message.lines[1], data);
    EXPECT_EQ(read(result), "old\n");
    EXPECT_TRUE(r.events.empty()) << "nothing written, no progress";
    req.maxPoints = 3;
    EXPECT_EQ(run(req).outcome.status, BatchStatus::Completed);
    EXPECT_EQ(kWindowPointLimit, 50000);
}

// Regression: the count of points outside the grid was a 16-bit number that overflowed
// past 32767 and ended the run.
TEST_F(BatchRun, OutsideCountPast16Bits) {
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    std::string t;
    for (int i = 0; i < 40000; ++i) {
        t += "P 46.00 11.00\n";
    }
    write(data, t);
    const RunLog r = run(request(data, result, false));
    ASSERT_EQ(r.outcome.status, BatchStatus::Completed);
    EXPECT_EQ(r.outcome.outsideCount, 40000);
    EXPECT_EQ(r.outcome.message.lines.at(2), "PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  40000");
}

// Regression: a point whose interpolation reached beyond the portion's nodes ended the run;
// it is outside, counted and marked, and the run goes on.
TEST_F(BatchRun, InterpolationBeyondTheNodesIsCountedNotFatal) {
    grid_.limits.planNorth = grid_.limits.geoidNorth = 1000; // let it past the coverage test
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    write(data, "A 44.00 11.00 1\nB 45.00 11.00 1\nC 44.01 11.00 1\n");
    const RunLog r = run(request(data, result));
    ASSERT_EQ(r.outcome.status, BatchStatus::Completed);
    EXPECT_EQ(r.outcome.pointCount, 3);
    EXPECT_EQ(r.outcome.outsideCount, 1);
    EXPECT_EQ(countOf(read(result), "Fuori Grig."), 2);
}

// Values that cannot be a point on the Earth are reading errors of their line (an ASCII
// line, a workbook row) with the value shown, in reading order; the run goes on. On one
// thread, in blocks through the pipeline with one and with several workers, and with the
// whole file read first, the messages, the counts and the result are the same.
TEST_F(BatchRun, ImpossibleValuesAreReadingErrorsInReadingOrder) {
    const std::vector<std::vector<std::string>> rows = {
        {"A", "44.00", "11.00", "1"},       {"B", "95", "11.00", "1"},        {"C", "44.60", "11.5960", "2"},
        {"D", "44.00", "360", "1"},         {"E", "44.01", "11.00", "1e308"}, {"F", "-90.0001", "11", "1"},
        {"G", "44.02", "11.00", "-100000"},
    };
    const auto error = [](const char* what, long line, const char* value) {
        return std::vector<std::string>{what, "ALLA RIGA:     " + std::to_string(line) + "    DEL FILE DI INPUT",
                                        std::string("VALORE NON CONSENTITO: ") + value};
    };
    const auto expected = [&](long first) {
        return std::vector<std::vector<std::string>>{
            error("ERRORE NELLA LETTURA NELLA LATITUDINE", first + 1, " 95"),
            error("ERRORE NELLA LETTURA NELLA LONGITUDINE", first + 3, " 360"),
            error("ERRORE NELLA LETTURA NELLA QUOTA", first + 4, " 1e+308"),
            error("ERRORE NELLA LETTURA NELLA LATITUDINE", first + 5, "-90.0001"),
        };
    };
    std::string text;
    for (const auto& r : rows) {
        text += r[0] + " " + r[1] + " " + r[2] + " " + r[3] + "\n";
    }
    const std::string ascii = s_.file("d.txt"), xlsx = s_.file("d.xlsx");
    write(ascii, text);
    {
        lxw_workbook* wb = workbook_new(xlsx.c_str());
        lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
        worksheet_write_string(ws, 0, 0, "Numero", nullptr);
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const auto row = static_cast<lxw_row_t>(i + 1);
            worksheet_write_string(ws, row, 0, rows[i][0].c_str(), nullptr);
            for (lxw_col_t c = 1; c <= 3; ++c) {
                worksheet_write_string(ws, row, c, rows[i][c].c_str(), nullptr); // number texts
            }
        }
        ASSERT_EQ(workbook_close(wb), LXW_NO_ERROR);
    }
    struct Way {
        const char* what;
        long blockSize;
        bool overlap;
        int workers;
    } const ways[] = {
        {"one thread", 2, false, 1},
        {"pipeline, one worker", 2, true, 1},
        {"pipeline, three workers", 2, true, 3},
        {"whole file first", 0, true, 2},
    };
    for (const bool workbook : {false, true}) {
        std::string firstResult;
        for (const Way& w : ways) {
            SCOPED_TRACE(std::string(w.what) + (workbook ? ", workbook" : ", ASCII"));
            const std::string result = s_.file(workbook ? "r.xlsx" : "r.txt");
            BatchRequest req = request(workbook ? xlsx : ascii, result);
            req.type = workbook ? DataFileType::Excel : DataFileType::Ascii;
            req.blockSize = w.blockSize;
            req.overlapWriting = w.overlap;
            req.workers = w.workers;
            req.maxPoints = 0;
            std::vector<std::vector<std::string>> messages;
            BatchCallbacks cb;
            cb.onReadingError = [&messages](const Message& m) { messages.push_back(m.lines); };
            const BatchOutcome o = runBatch(req, cb);
            ASSERT_EQ(o.status, BatchStatus::Completed) << joinedText(o.message);
            EXPECT_EQ(messages, expected(workbook ? 2 : 1));
            EXPECT_EQ(o.readingErrorCount, 4);
            EXPECT_EQ(o.pointCount, 3); // A, C (minutes and seconds of 60 read as ever) and G
            const std::string got = read(result);
            if (firstResult.empty()) {
                firstResult = got;
            } else if (!workbook) {
                EXPECT_EQ(got, firstResult);
            }
        }
    }
}

TEST_F(BatchRun, FailuresNameTheCauseAndLeaveTheOldResult) {
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    write(result, "old\n");
    struct Case {
        const char* what;
        std::string dataText;
        std::string dataPath, resultPath;
        const char* firstLine;
    };
    const Case cases[] = {
        {"data file missing", "", s_.file("none.txt"), result, "IMPOSSIBILE APRIRE IL FILE DEI DATI"},
        {"a point with no finite result", "A 44.00 11.00 1\nB 1e308 1e308 1\n", data, result,
         "IMPOSSIBILE CALCOLARE IL PUNTO B"},
        {"result in a folder that does not exist", "A 44.00 11.00 1\n", data, s_.file("none/r.txt"),
         "IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI"},
        {"result path is a folder", "A 44.00 11.00 1\n", data, s_.dir().string(),
         "IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI"},
        {"result path is a device", "A 44.00 11.00 1\n", data, "/dev/null",
         "IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI"},
    };
    for (const Case& c : cases) {
        if (!c.dataText.empty()) {
            write(data, c.dataText);
        }
        BatchRequest req = request(c.dataPath, c.resultPath);
        req.ctx.sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf89,
                                CoordKind::Plane, Zone::Auto); // no grid: 1e308 gets through
        // 1e308 goes to the conversion, which cannot compute it.
        req.checkValues = false;
        const RunLog r = run(req);
        EXPECT_EQ(r.outcome.status, BatchStatus::Failed) << c.what;
        ASSERT_FALSE(r.outcome.message.lines.empty()) << c.what;
        EXPECT_EQ(r.outcome.message.lines[0], c.firstLine) << c.what;
        EXPECT_EQ(read(result), "old\n") << c.what;
    }
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    // Nothing left beside the result.
    int entries = 0;
    for (const auto& e : fs::directory_iterator(s_.dir())) {
        entries += e.path().filename() != "d.txt";
    }
    EXPECT_EQ(entries, 1);
}

// The batch converter writes one block on a second thread while it converts the next: the
// same file, progress once a block, and a failure of the writing thread ends the run with
// its message and the old result in place.
TEST_F(BatchRun, WritingAlongsideConvertingGivesTheSameFile) {
    const std::string data = s_.file("d.txt"), result = s_.file("r.txt");
    std::string t;
    for (int i = 0; i < 1000; ++i) {
        char line[64];
        if (i % 7 == 3) {
            std::snprintf(line, sizeof line, "P%d 46.00 11.00 5\n", i); // outside
        } else {
            std::snprintf(line, sizeof line, "P%d 44.00 11.0%d 5\n", i, i % 10);
        }
        t += line;
    }
    write(data, t);
    BatchRequest plain = request(data, result);
    plain.blockSize = 64;
    const RunLog a = run(plain);
    ASSERT_EQ(a.outcome.status, BatchStatus::Completed);
    const std::string expected = read(result);

    BatchRequest overlap = plain;
    overlap.overlapWriting = true;
    const RunLog b = run(overlap);
    ASSERT_EQ(b.outcome.status, BatchStatus::Completed);
    EXPECT_EQ(read(result), expected);
    EXPECT_EQ(b.outcome.message, a.outcome.message);
    EXPECT_EQ(b.outcome.outsideCount, 143);
    ASSERT_EQ(b.events.size(), 16u); // ceil(1000 / 64) blocks
    EXPECT_EQ(b.events.back(), "P1000/0");

    // A file-size limit makes the writing thread fail part-way.
    write(result, "old\n");
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    rlimit small = saved;
    small.rlim_cur = 20000;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const RunLog c = run(overlap);
    ::setrlimit(RLIMIT_FSIZE, &saved);
    EXPECT_EQ(c.outcome.status, BatchStatus::Failed);
    ASSERT_FALSE(c.outcome.message.lines.empty());
    EXPECT_EQ(c.outcome.message.lines[0], "IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI");
    EXPECT_EQ(read(result), "old\n");
}

} // namespace
} // namespace dormal
