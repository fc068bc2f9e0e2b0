// Thousands of damaged .xls workbooks through the reader and its helper process: none may
// take the reading program down, leave a process or descriptor behind, or give anything but
// points, reading errors and the file's message. The workbooks are made from one that
// make_test_xls.py (python3-xlwt) writes at test time.
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/data_source.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

const fs::path kScript = fs::path(DORMAL2K_TESTS_DIR) / "conversion" / "make_test_xls.py";
constexpr const char* kDamaged = "file .xls danneggiato o non leggibile";

std::string slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

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

class XlsMutationTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "dormal2k-xlsmut-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
        std::string cmd = "/usr/bin/python3 '";
        cmd += kScript.string();
        cmd += "' '";
        cmd += dir_.string();
        cmd += "'";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << "python3-xlwt is needed to write the test workbooks";
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string file(const char* name) const { return (dir_ / name).string(); }

    fs::path dir_;
};

// How one damaged workbook went.
struct Outcome {
    bool refused = false;         // not opened: the message is the opening one
    bool helperFailed = false;    // the cause is the helper's (dead, killed, data malformed)
    bool readToEnd = false;       // opened, read to the end of the data
    int points = 0;
    std::string problem;          // empty when everything seen is as it should be
};

Outcome readDamaged(const std::string& path) {
    Outcome o;
    Message failure;
    auto src = openXlsSource(path, {}, failure);
    if (!src) {
        o.refused = true;
        if (failure.lines.size() != 3 || failure.lines[0] != "IMPOSSIBILE APRIRE IL FILE DEI DATI" ||
            failure.lines[1] != path || failure.lines[2].empty())
            o.problem = "opening message: " + joinedText(failure);
        o.helperFailed = failure.lines.size() == 3 && failure.lines[2] == kDamaged;
        return o;
    }
    const auto ev = readAll(*src);
    long lastRow = 1;
    for (const ReadEvent& e : ev) {
        if (e.kind == ReadEvent::Kind::Point) {
            ++o.points;
            if (e.point.name.empty())
                o.problem = "a point without a name";
        } else if (e.kind == ReadEvent::Kind::ReadingError) {
            const long row = e.message.lines.size() == 2 ? std::atol(e.message.lines[1].c_str() + 10) : 0;
            if (row <= lastRow) // rows in order, none twice
                o.problem = "reading error out of order: " + joinedText(e.message);
            lastRow = row;
        }
    }
    if (ev.back().kind == ReadEvent::Kind::End) {
        o.readToEnd = true;
    } else if (ev.back().kind != ReadEvent::Kind::Failure) {
        o.problem = "the reader did not end";
    } else {
        o.helperFailed = true;
        if (ev.back().message.lines !=
            std::vector<std::string>{"ERRORE NELLA LETTURA DEL FILE DEI DATI", path, kDamaged})
            o.problem = "reading failure: " + joinedText(ev.back().message);
    }
    return o;
}

// Damaged workbooks, made from cells.xls by a fixed-seed mix of bit flips, byte and 16-bit
// overwrites and truncations. Whatever FreeXL does with them, this process goes on; each
// file opens and reads to an end or to the file's failure message, or is refused at opening
// with a message naming it. Processes and descriptors do not pile up. Four files are read
// at a time, as most of the time goes in starting helpers.
TEST_F(XlsMutationTest, DamagedWorkbooksNeverTakeTheReaderDown) {
    const std::string good = slurp(dir_ / "cells.xls");
    ASSERT_GT(good.size(), 2000u);
    constexpr int kFiles = 2000;
    constexpr int kThreads = 4;
    std::mt19937 rng(20240611);
    const auto pick = [&rng](std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); };
    std::vector<std::string> mutants;
    for (int n = 0; n < kFiles; ++n) {
        std::string bytes = good;
        const int edits = 1 + static_cast<int>(pick(4));
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = pick(bytes.size() - 1);
            switch (pick(4)) {
            case 0:
                bytes[at] = static_cast<char>(bytes[at] ^ (1 << pick(8)));
                break;
            case 1:
                bytes[at] = static_cast<char>(pick(256));
                break;
            case 2: { // small and boundary 16-bit values, as in sizes and counts
                static const unsigned kValues[] = {0, 1, 2, 0x200, 0x7FFF, 0x8000, 0xFFFF, 0xFFFE};
                const unsigned v = kValues[pick(std::size(kValues))];
                bytes[at] = static_cast<char>(v & 0xFF);
                bytes[at + 1] = static_cast<char>(v >> 8);
                break;
            }
            default:
                bytes.resize(std::max<std::size_t>(8, at));
                break;
            }
        }
        mutants.push_back(std::move(bytes));
    }

    const std::size_t fds = openFdCount();
    std::vector<Outcome> outcomes(kFiles);
    std::vector<std::thread> workers;
    for (int t = 0; t < kThreads; ++t) {
        workers.emplace_back([&, t] {
            const std::string path = file(("mutant" + std::to_string(t) + ".xls").c_str());
            for (int n = t; n < kFiles; n += kThreads) {
                std::ofstream(path, std::ios::binary | std::ios::trunc) << mutants[static_cast<std::size_t>(n)];
                outcomes[static_cast<std::size_t>(n)] = readDamaged(path);
            }
        });
    }
    for (std::thread& w : workers)
        w.join();

    int refused = 0, helperFailed = 0, readToEnd = 0, points = 0;
    for (int n = 0; n < kFiles; ++n) {
        const Outcome& o = outcomes[static_cast<std::size_t>(n)];
        EXPECT_EQ(o.problem, "") << "damaged file " << n;
        refused += o.refused;
        helperFailed += o.helperFailed;
        readToEnd += o.readToEnd;
        points += o.points;
    }
    std::cout << "[ damaged .xls ] " << kFiles << " files: " << readToEnd << " read to the end (" << points
              << " points), " << refused << " refused at opening, " << helperFailed
              << " with the helper dead or its data malformed\n";
    // The mix reaches every outcome, the helper's failures included: the test is not vacuous.
    EXPECT_GT(readToEnd, 0);
    EXPECT_GT(refused, 0);
    EXPECT_GT(helperFailed, 0);
    EXPECT_TRUE(noChildren());
    EXPECT_EQ(openFdCount(), fds);
}

} // namespace
} // namespace dormal
