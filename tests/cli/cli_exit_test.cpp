// dormal2k-batch as a script sees it: an exit status to trust, a grid portion that is a FIFO
// or the result itself, runs killed half way, and result names as long as the file system
// allows.

#include <dirent.h>
#include <sys/stat.h>

#include <chrono>
#include <csignal>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "cli_support.h"
#include "grid/grid_portion.h"
#include "tools/synthetic_grid.h"

namespace dormal::clitest {
namespace {

using Clock = std::chrono::steady_clock;

// The names in a folder.
std::set<std::string> namesIn(const std::string& dir) {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(dir)) {
        out.insert(e.path().filename().string());
    }
    return out;
}

// Waits for a started process at most `limit`; kills it when it takes longer (a hang is a
// failure, never a test that does not end).
ProcessResult finishWithin(Started& st, std::chrono::seconds limit) {
    const auto until = Clock::now() + limit;
    for (;;) {
        // WNOWAIT: the process is left to finishBatchExe to reap, with its status.
        siginfo_t info{};
        if (::waitid(P_PID, static_cast<id_t>(st.pid), &info, WEXITED | WNOHANG | WNOWAIT) != 0 || info.si_pid != 0) {
            break;
        }
        if (Clock::now() > until) {
            ::kill(st.pid, SIGKILL);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return finishBatchExe(st); // reaps the killed one, or returns at once
}

std::string pointName(int i) {
    char name[32];
    std::snprintf(name, sizeof name, "P%d", i);
    return name;
}

std::string sameSystemLine(int i) {
    char line[64];
    std::snprintf(line, sizeof line, "P%d 45.%06d 9.30\n", i, i % 1000000);
    return line;
}

class ExitCli : public ::testing::Test {
protected:
    void SetUp() override {
        gridgen::PortionRecipe gen;
        gen.kind = PortionKind::Sheet;
        gen.southLat = 41.40;
        gen.westLon = 14.80;
        gen.name = "4321";
        grid_ = dir_.file(gridgen::defaultFileName(gen));
        writeWholeFile(grid_, gridgen::portionText(gen));
    }
    ScratchDir dir_;
    std::string grid_;
};

// Fault guarded: a run exited 0 although lines were refused or points lay outside the grid,
// so a script could not tell a complete result from a partial one.
TEST_F(ExitCli, StatusTellsWhetherEveryLineWasConverted) {
    const std::vector<std::string> same{"--from", "ETRF89", "--to", "ETRF89", "--to-kind", "plane"};
    const std::vector<std::string> withGrid{"--from", "ETRF89", "--to", "ROMA40", "--grid", grid_};
    struct Case {
        const char* what;
        std::vector<std::string> args;
        std::string data;
        int exit;
        std::vector<std::string> said; // on standard error
    };
    const std::string d = dir_.file("d.txt"), r = dir_.file("r.txt");
    const Case cases[] = {
        {"every line converted", same, "A 45.00 9.30\nB 45.10 9.40\n", 0, {"PUNTI TRATTATI:   2"}},
        {"a line refused",
         same,
         "A 45.00 9.30\nB 45.10\nC 45.20 9.50\n",
         3,
         {"ALLA RIGA:     2", "PUNTI TRATTATI:   2", "RIGHE SCARTATE PER ERRORI DI LETTURA:  1"}},
        {"a point outside the grid",
         withGrid,
         "A 45.00 -1.00\n",
         3,
         {"PUNTI TRATTATI:   1", "PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  1"}},
        {"refused run", {"--from", "ETRF89", "--to", "ETRF89"}, "A 45.00 9.30\n", 1, {"TRASFORMAZIONE NON NECESSARIA"}},
        {"no point", same, "/ nothing\n", 1, {"NESSUN PUNTO VALIDO"}},
        {"wrong command line", {"--from", "ETRF89"}, "A 45.00 9.30\n", 2, {"manca --to"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        writeWholeFile(d, c.data);
        std::vector<std::string> args = c.args;
        args.push_back(d);
        args.push_back(r);
        const ProcessResult p = runBatchExe(args);
        EXPECT_EQ(p.exitCode, c.exit) << p.err;
        for (const std::string& s : c.said) {
            EXPECT_NE(p.err.find(s), std::string::npos) << s << "\n" << p.err;
        }
        if (c.exit == 0) {
            EXPECT_EQ(p.err.find("RIGHE SCARTATE"), std::string::npos) << p.err;
        }
    }
    const ProcessResult help = runBatchExe({"--help"});
    EXPECT_NE(help.out.find("  3  elaborazione completata, ma con righe scartate"), std::string::npos) << help.out;
}

// Fault guarded: `--grid FIFO` waited for ever for a writer; a link to one too. The grid
// portion that is also the result was overwritten with the report. Failures to open a grid
// are told in Italian, naming the file once.
TEST_F(ExitCli, GridThatIsNotARegularFileOrIsTheResult) {
    const std::string fifo = dir_.file("fifo.GK1"), link = dir_.file("link.GK1");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    fs::create_symlink(fifo, link);
    const std::string d = dir_.file("d.txt");
    writeWholeFile(d, "A 45.00 9.30\n");
    const std::string gridBefore = readWholeFile(grid_);
    const struct {
        const char* what;
        std::string gridArg, result;
        std::vector<std::string> said;
    } cases[] = {
        {"a FIFO", fifo, dir_.file("r1.txt"), {"una coda (FIFO)", "FILE DI GRIGLIA: " + fifo}},
        {"a link to a FIFO", link, dir_.file("r2.txt"), {"una coda (FIFO)", "FILE DI GRIGLIA: " + link}},
        {"a folder", dir_.path().string(), dir_.file("r3.txt"), {"una cartella"}},
        {"missing", dir_.file("none.GK1"), dir_.file("r4.txt"), {"Il file o la cartella non esiste"}},
        {"the result itself",
         grid_,
         grid_,
         {"IL FILE DEI RISULTATI E QUELLO  \nDELLA PORZIONE DI GRIGLIA SONO LO STESSO", "FILE DI GRIGLIA: " + grid_}},
        {"the result through ./", grid_, (dir_.path() / "." / fs::path(grid_).filename()).string(),
         {"DELLA PORZIONE DI GRIGLIA SONO LO STESSO"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ProcessOptions opt;
        opt.env = {"LC_ALL=C"};
        Started st = startBatchExe({"--from", "ETRF89", "--to", "ROMA40", "--grid", c.gridArg, d, c.result}, opt);
        const auto started = Clock::now();
        const ProcessResult p = finishWithin(st, std::chrono::seconds(10));
        EXPECT_LT(Clock::now() - started, std::chrono::seconds(5));
        EXPECT_EQ(p.exitCode, 1) << p.err;
        for (const std::string& s : c.said) {
            EXPECT_NE(p.err.find(s), std::string::npos) << s << "\n" << p.err;
        }
        // The path is named once, by the reader or by the check.
        const std::string named = "FILE DI GRIGLIA: ";
        EXPECT_EQ(p.err.find(named), p.err.rfind(named)) << p.err;
        EXPECT_EQ(p.err.find("No such file"), std::string::npos) << p.err;
    }
    EXPECT_EQ(readWholeFile(grid_), gridBefore);
}

// Fault guarded: only the window answered --version. Every program does, on standard
// output with status 0, with the version of the build, and says so in its usage.
TEST(ProgramVersions, EveryProgramAnswersVersion) {
    const std::string bin = DORMAL2K_BINARY_DIR;
    const struct {
        std::string exe, name;
    } programs[] = {
        {bin + "/cli/dormal2k-batch", "dormal2k-batch"},
        {bin + "/cli/dormal2k-batch-gis", "dormal2k-batch-gis"},
        {bin + "/cli/dormal2k-gridexport", "dormal2k-gridexport"},
        {bin + "/tools/dormal2k-gridgen", "dormal2k-gridgen"},
    };
    for (const auto& p : programs) {
        SCOPED_TRACE(p.name);
        FILE* f = ::popen((p.exe + " --version 2>&1").c_str(), "r");
        ASSERT_NE(f, nullptr);
        std::string out;
        char buf[256];
        while (std::fgets(buf, sizeof buf, f) != nullptr) {
            out += buf;
        }
        const int status = ::pclose(f);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
        EXPECT_EQ(out, p.name + " " + DORMAL2K_VERSION + "\n");
    }
    EXPECT_NE(runBatchExe({"--help"}).out.find("--version"), std::string::npos);
}

// A started converter whose standard input the test writes.
struct Piped {
    Started st;
    int in = -1;
};
Piped startWithPipe(const std::vector<std::string>& args) {
    int fds[2];
    if (::pipe(fds) != 0) {
        throw std::runtime_error("pipe");
    }
    Piped p;
    const std::string self = "/dev/fd/" + std::to_string(fds[0]);
    // The child's standard input is the pipe's read end; the write end stays here only.
    ::fcntl(fds[1], F_SETFD, FD_CLOEXEC);
    ProcessOptions opt;
    opt.stdinPath = self;
    p.st = startBatchExe(args, opt);
    ::close(fds[0]);
    p.in = fds[1];
    return p;
}

// Whether the process holds a file of `dir` open (named, or unnamed "(deleted)").
bool holdsFileIn(pid_t pid, const std::string& dir) {
    const std::string fdDir = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code ec;
    for (const auto& e : fs::directory_iterator(fdDir, ec)) {
        const fs::path target = fs::read_symlink(e.path(), ec);
        if (!ec && target.string().rfind(dir + "/", 0) == 0) {
            return true;
        }
    }
    return false;
}

bool waitUntilHolding(pid_t pid, const std::string& dir) {
    const auto until = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < until) {
        if (holdsFileIn(pid, dir)) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

// Fault guarded: a run killed while writing left a hidden temporary result (over 100 MB
// for 2 million points) that nothing removed. Killed by any signal, SIGKILL included, a run
// leaves the result folder as it was: the old result untouched and nothing else.
TEST_F(ExitCli, KilledRunLeavesOnlyTheOldResult) {
    const int signals[] = {SIGTERM, SIGINT, SIGHUP, SIGKILL};
    // A shell may start tests with SIGINT or SIGHUP ignored, which the converter would
    // inherit: the child gets the default dispositions, as a terminal gives them.
    for (const int sig : signals) {
        if (sig != SIGKILL) {
            ::signal(sig, SIG_DFL);
        }
    }
    for (const int sig : signals) {
        SCOPED_TRACE(sig);
        ScratchDir out;
        const std::string old = out.file("old.txt");
        writeWholeFile(old, "the old result\n");
        Piped p = startWithPipe({"--from", "ETRF89", "--to", "ETRF89", "--to-kind", "plane", "-", old});
        std::string lines;
        for (int i = 0; i < 20000; ++i) {
            lines += sameSystemLine(i);
        }
        ASSERT_EQ(::write(p.in, lines.data(), lines.size()), static_cast<ssize_t>(lines.size()));
        // The first blocks are read and being written; the rest of the input never comes.
        const bool writing = waitUntilHolding(p.st.pid, out.path().string());
        ::kill(p.st.pid, sig);
        const ProcessResult r = finishWithin(p.st, std::chrono::seconds(10));
        ::close(p.in);
        EXPECT_TRUE(writing);
        EXPECT_EQ(r.exitCode, 128 + sig) << r.err;
        EXPECT_EQ(namesIn(out.path().string()), std::set<std::string>{"old.txt"});
        EXPECT_EQ(readWholeFile(old), "the old result\n");
    }
}

// The same for a workbook result, whose library keeps temporary files of its own there.
TEST_F(ExitCli, KilledWorkbookRunLeavesOnlyTheOldResult) {
    ScratchDir in;
    const std::string data = in.file("d.xlsx");
    std::vector<DataRow> rows;
    for (int i = 0; i < 60000; ++i) {
        rows.push_back({pointName(i), 45.0 + i * 1e-7, 9.3, 100});
    }
    writeDataWorkbook(data, rows);
    for (const int sig : {SIGTERM, SIGKILL}) {
        SCOPED_TRACE(sig);
        ScratchDir out;
        const std::string old = out.file("old.xlsx");
        writeWholeFile(old, "the old result\n");
        Started st = startBatchExe({"--from", "ETRF89", "--to", "ETRF89", "--to-kind", "plane", data, old});
        const bool writing = waitUntilHolding(st.pid, out.path().string());
        ::kill(st.pid, sig);
        const ProcessResult r = finishWithin(st, std::chrono::seconds(10));
        if (!writing || r.exitCode == 0) {
            GTEST_SKIP() << "the run ended before it could be killed";
        }
        EXPECT_EQ(r.exitCode, 128 + sig) << r.err;
        EXPECT_EQ(namesIn(out.path().string()), std::set<std::string>{"old.xlsx"});
        EXPECT_EQ(readWholeFile(old), "the old result\n");
    }
}

// Fault guarded: the temporary name was the result's name and 14 more bytes, so a result
// name near the file system's limit of 255 bytes could not be written.
TEST_F(ExitCli, ResultNamesUpTo255BytesAreWritten) {
    const std::string d = dir_.file("d.txt");
    writeWholeFile(d, "A 45.00 9.30\n");
    const std::string dx = dir_.file("d.xlsx");
    writeDataWorkbook(dx, {{"A", 45.0, 9.3, 100}});
    for (const bool excel : {false, true}) {
        for (const bool existing : {false, true}) {
            SCOPED_TRACE(std::string(excel ? "workbook" : "report") + (existing ? ", replacing" : ", new"));
            ScratchDir out;
            const std::string name = std::string(250, 'r') + (excel ? ".xlsx" : ".txts");
            ASSERT_EQ(name.size(), 255u);
            const std::string result = out.file(name);
            if (existing) {
                writeWholeFile(result, "old\n");
            }
            const ProcessResult p =
                runBatchExe({"--from", "ETRF89", "--to", "ETRF89", "--to-kind", "plane", excel ? dx : d, result});
            EXPECT_EQ(p.exitCode, 0) << p.err;
            EXPECT_EQ(namesIn(out.path().string()), std::set<std::string>{name});
            if (excel) {
                EXPECT_EQ(readFirstSheet(result).at({6, 1}).text, "A");
            } else {
                EXPECT_NE(readWholeFile(result).find(" A "), std::string::npos);
            }
        }
    }
}

// Fault guarded: the workbook library printed English lines ("[ERROR] ...") on the
// terminal, and its error codes came out in English. A workbook that cannot be written is
// told in Italian only.
TEST_F(ExitCli, WorkbookFailuresAreToldInItalianOnly) {
    ScratchDir in;
    const std::string data = in.file("d.xlsx");
    std::vector<DataRow> rows;
    for (int i = 0; i < 20000; ++i) {
        rows.push_back({pointName(i), 45.0 + i * 1e-7, 9.3, 100});
    }
    writeDataWorkbook(data, rows);
    ScratchDir out;
    const std::string result = out.file("r.xlsx");
    ProcessOptions opt;
    opt.fileSizeLimit = 64 * 1024;
    const ProcessResult p = runBatchExe({"--from", "ETRF89", "--to", "ETRF89", "--to-kind", "plane", data, result}, opt);
    EXPECT_EQ(p.exitCode, 1) << p.err;
    EXPECT_NE(p.err.find("IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI"), std::string::npos) << p.err;
    for (const char* english : {"[ERROR]", "[WARNING]", "System error", "Error creating", "workbook_close",
                                "lxw_", "File too large"}) {
        EXPECT_EQ(p.err.find(english), std::string::npos) << english << "\n" << p.err;
    }
    EXPECT_TRUE(namesIn(out.path().string()).empty());
}

} // namespace
} // namespace dormal::clitest
