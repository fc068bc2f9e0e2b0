// The .xls reader through its helper process: the cell rules (booleans, dates, errors,
// formulas with and without a stored result), a workbook that crashes FreeXL, and a reader
// given up early; none may take the reading program down or leave a process behind.
// Thousands of damaged workbooks: xls_mutation_test.cpp.
// The workbooks are written at test time by make_test_xls.py (python3-xlwt).
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/data_source.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

const fs::path kScript = fs::path(DORMAL2K_TESTS_DIR) / "conversion" / "make_test_xls.py";
constexpr const char* kDamaged = "file .xls danneggiato o non leggibile";

std::size_t openFdCount() {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator("/proc/self/fd"), {}));
}

// No child of this process is left, running or unreaped.
bool noChildren() {
    int status = 0;
    return ::waitpid(-1, &status, WNOHANG) < 0 && errno == ECHILD;
}

std::vector<ReadEvent> readAll(DataSource& src, std::size_t guard = 70000) {
    std::vector<ReadEvent> out;
    ReadEvent ev;
    while (guard-- > 0) {
        src.next(ev);
        out.push_back(ev);
        if (ev.kind == ReadEvent::Kind::End || ev.kind == ReadEvent::Kind::Failure)
            break;
    }
    return out;
}

std::string rowLine(long row) {
    std::string s = "ALLA RIGA:     ";
    s += std::to_string(row);
    s += "    DEL FILE DI INPUT";
    return s;
}

class XlsTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        std::string tmpl = (fs::temp_directory_path() / "dormal2k-xls-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        std::string cmd = "/usr/bin/python3 '";
        cmd += kScript.string();
        cmd += "' '";
        cmd += dir_.string();
        cmd += "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "python3-xlwt is needed to write the test workbooks";
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }

    static std::string file(const char* name) { return (dir_ / name).string(); }

    static fs::path dir_;
};
fs::path XlsTest::dir_;

// The workbook that makes FreeXL 1.0.6 crash (SIGSEGV): refused with the file's message,
// through openXlsSource and through openDataFile, which tells it apart by its content.
TEST_F(XlsTest, CrashingWorkbookGivesTheMessage) {
    const std::string path = file("crash.xls");
    for (const bool byContent : {false, true}) {
        Message failure;
        auto src = byContent ? openDataFile(path, DataFileType::Excel, {}, failure) : openXlsSource(path, {}, failure);
        EXPECT_EQ(src, nullptr);
        EXPECT_EQ(failure.lines, (std::vector<std::string>{"IMPOSSIBILE APRIRE IL FILE DEI DATI", path, kDamaged}));
        EXPECT_EQ(failure.icon, MessageIcon::Warning);
    }
    // The same workbook undamaged: the two rows under the heading row.
    Message failure;
    auto src = openXlsSource(file("base.xls"), {}, failure);
    ASSERT_NE(src, nullptr) << joinedText(failure);
    const auto ev = readAll(*src);
    ASSERT_EQ(ev.size(), 3u);
    const char* const names[] = {"N1", "N2"};
    for (std::size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(ev[i].kind, ReadEvent::Kind::Point);
        EXPECT_EQ(ev[i].point.name, names[i]);
        EXPECT_EQ(ev[i].point.first, 45.3);
        EXPECT_EQ(ev[i].point.second, 9.1);
        EXPECT_EQ(ev[i].point.height, 0);
    }
    EXPECT_EQ(ev[2].kind, ReadEvent::Kind::End);
    EXPECT_TRUE(noChildren());
}

// One rule for every cell kind, row by row of cells.xls (see make_test_xls.py): numbers and
// number texts read, an empty cell reads 0; booleans, dates, times, error cells and formulas
// without a stored result are reading errors of their row and column; a formula gives its
// stored result. In column A a formula without a result is a reading error and the data
// goes on; the first empty A cell ends it.
TEST_F(XlsTest, CellRules) {
    struct Want {
        long row;
        const char* name;          // a point: its name; nullptr: a reading error
        double first, second, height;
        const char* error = "";    // first line of the reading error (plane input)
    };
    const char* north = "ERRORE NELLA LETTURA NELLA COORD. NORD";
    const char* east = "ERRORE NELLA LETTURA NELLA COOR. EST";
    const char* height = "ERRORE NELLA LETTURA NELLA QUOTA";
    const char* name = "ERRORE NELLA LETTURA NEL NOME DEL PUNTO"; // as the .xlsx reader says it
    const std::vector<Want> want = {
        {2, "num", 45.5, 9.25, 120},
        {3, "int", 7, -3, 0},
        {4, "text", 45.5, 9.25, 0},
        {5, nullptr, 0, 0, 0, north},  // "abc"
        {6, nullptr, 0, 0, 0, north},  // TRUE
        {7, nullptr, 0, 0, 0, east},   // FALSE
        {8, nullptr, 0, 0, 0, north},  // date
        {9, nullptr, 0, 0, 0, east},   // time
        {10, nullptr, 0, 0, 0, height}, // date and time
        {11, nullptr, 0, 0, 0, north}, // #DIV/0!
        {12, nullptr, 0, 0, 0, height}, // #N/A
        {13, nullptr, 0, 0, 0, north}, // formula, nothing stored
        {14, "fnum", 12.5, 1, -2},     // formulas with stored numbers
        {15, nullptr, 0, 0, 0, north}, // formula, stored TRUE
        {16, nullptr, 0, 0, 0, east},  // formula, stored #DIV/0!
        {17, nullptr, 0, 0, 0, name},  // name: formula, nothing stored
        {18, "101", 4, 5, 6},          // name: formula, stored 101
        {19, "VERO", 7, 8, 9},         // name: TRUE
        {20, "#REF!", 10, 11, 12},     // name: an error cell
        {21, "101.5", 1, 2, 3},
    };
    Message failure;
    DataReadOptions opt;
    opt.inputKind = CoordKind::Plane;
    auto src = openXlsSource(file("cells.xls"), opt, failure);
    ASSERT_NE(src, nullptr) << joinedText(failure);
    const auto got = readAll(*src);
    ASSERT_EQ(got.size(), want.size() + 1);
    for (std::size_t i = 0; i < want.size(); ++i) {
        const Want& w = want[i];
        const ReadEvent& g = got[i];
        SCOPED_TRACE("row " + std::to_string(w.row));
        if (w.name != nullptr) {
            ASSERT_EQ(g.kind, ReadEvent::Kind::Point) << joinedText(g.message);
            EXPECT_EQ(g.point.name, w.name);
            EXPECT_EQ(g.point.first, w.first);
            EXPECT_EQ(g.point.second, w.second);
            EXPECT_EQ(g.point.height, w.height);
        } else {
            ASSERT_EQ(g.kind, ReadEvent::Kind::ReadingError);
            EXPECT_EQ(g.message.lines, (std::vector<std::string>{w.error, rowLine(w.row)}));
            EXPECT_EQ(g.message.icon, MessageIcon::Information);
        }
    }
    EXPECT_EQ(got.back().kind, ReadEvent::Kind::End); // row 22 has an empty A cell
    src.reset();
    EXPECT_TRUE(noChildren());
}

// A reader given up before the end (the run stops at its first failure) ends its helper.
TEST_F(XlsTest, AbandonedReaderLeavesNoProcess) {
    const std::size_t fds = openFdCount();
    for (int i = 0; i < 20; ++i) {
        Message failure;
        auto src = openXlsSource(file("cells.xls"), {}, failure);
        ASSERT_NE(src, nullptr);
        ReadEvent ev;
        for (int k = 0; k < i % 5; ++k)
            src->next(ev);
    }
    EXPECT_TRUE(noChildren());
    EXPECT_EQ(openFdCount(), fds);
}

} // namespace
} // namespace dormal
