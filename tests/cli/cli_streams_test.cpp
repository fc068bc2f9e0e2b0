// dormal2k-batch reading its data from pipes and FIFOs, as shell pipelines give it: the
// report is the one the same data gives from a regular file; a workbook from a FIFO is
// refused with the open failure message.
#include <gtest/gtest.h>

#include "cli_support.h"

namespace dormal::clitest {
namespace {

// Runs a bash script (with `B` set to the converter) in `dir`; its exit status.
int runShell(const ScratchDir& dir, const std::string& script) {
    const std::string full = "cd '" + dir.path().string() + "' && B='" + batchExe() + "' && " + script;
    std::vector<std::string> store = {"bash", "-c", full};
    std::vector<char*> argv;
    for (std::string& a : store) {
        argv.push_back(a.data());
    }
    argv.push_back(nullptr);
    pid_t pid = -1;
    if (::posix_spawn(&pid, "/bin/bash", nullptr, nullptr, argv.data(), environ) != 0) {
        return -1;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

const char* const kArgs = "--from ETRF2000 --to ETRF2000 --to-kind plane";

std::string sampleData() {
    // The first point opens the data: the bytes a probe would take are part of it.
    std::string text;
    for (int i = 1; i <= 40; ++i) {
        text += "VERTICE" + std::to_string(i) + " 45." + std::to_string(1000 + i) + " 9." + std::to_string(500 + i) +
                (i % 3 ? "\n" : "\r\n");
        if (i == 20) {
            text += "/ seconda parte\r\n";
        }
    }
    return text;
}

// The same data through a pipe on /dev/stdin, a process substitution and a FIFO gives the
// report a regular file gives. Guards: the first 8 bytes of a pipe were lost, so the first
// point came out wrong and the run still ended with exit 0; a FIFO hung the open.
TEST(CliStreams, PipesAndFifosGiveTheFileReport) {
    ScratchDir dir;
    writeWholeFile(dir.file("p.txt"), sampleData());
    const std::string args = kArgs;
    ASSERT_EQ(runShell(dir, "$B " + args + " p.txt - > atteso.txt 2> atteso.err"), 0);
    const std::string want = readWholeFile(dir.file("atteso.txt"));
    const std::string wantErr = readWholeFile(dir.file("atteso.err"));
    ASSERT_NE(want.find(" VERTICE1 "), std::string::npos) << want;
    ASSERT_NE(want.find(" VERTICE40 "), std::string::npos) << want;

    struct Case {
        const char* what;
        std::string script;
    } const cases[] = {
        {"pipe on /dev/stdin", "cat p.txt | timeout 60 $B " + args + " /dev/stdin - > uscita.txt 2> uscita.err"},
        {"process substitution", "timeout 60 $B " + args + " <(cat p.txt) - > uscita.txt 2> uscita.err"},
        {"FIFO, writer after the open", "rm -f f && mkfifo f && { (sleep 0.3; cat p.txt > f) & } && timeout 60 $B " +
                                            args + " f - > uscita.txt 2> uscita.err; s=$?; wait; exit $s"},
        {"FIFO, writer first", "rm -f f && mkfifo f && { (cat p.txt > f) & } && sleep 0.3 && timeout 60 $B " + args +
                                   " f - > uscita.txt 2> uscita.err; s=$?; wait; exit $s"},
    };
    for (const auto& c : cases) {
        std::remove(dir.file("uscita.txt").c_str());
        EXPECT_EQ(runShell(dir, c.script), 0) << c.what;
        EXPECT_EQ(readWholeFile(dir.file("uscita.txt")), want) << c.what;
        EXPECT_EQ(readWholeFile(dir.file("uscita.err")), wantErr) << c.what;
    }
}

// A workbook is read from a regular file only: a FIFO given as one is refused at once with
// the open failure message, and the run exits 1 without waiting for a writer.
TEST(CliStreams, WorkbookFromAFifoRefused) {
    ScratchDir dir;
    const int rc = runShell(dir, "mkfifo dati.xlsx && timeout 20 $B " + std::string(kArgs) +
                                     " dati.xlsx uscita.xlsx > out.txt 2> err.txt");
    EXPECT_EQ(rc, 1);
    const std::string err = readWholeFile(dir.file("err.txt"));
    EXPECT_NE(err.find("IMPOSSIBILE APRIRE IL FILE DEI DATI\ndati.xlsx\nNon è un file regolare"), std::string::npos)
        << err;
    EXPECT_FALSE(fs::exists(dir.file("uscita.xlsx")));
}

} // namespace
} // namespace dormal::clitest
