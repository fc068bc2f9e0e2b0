// The temporary file a result is written through: never left behind, never in the way of a
// long result name, with an unnamed file and with the hidden named one some file systems need.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include <gtest/gtest.h>

#include "conversion/result_writer.h"
#include "geodesy/systems.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

class TempFolder {
public:
    TempFolder() {
        std::string t = (fs::temp_directory_path() / "dormal2k-tmp-XXXXXX").string();
        if (::mkdtemp(t.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        dir_ = t;
    }
    ~TempFolder() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string file(const std::string& name) const { return (dir_ / name).string(); }
    std::set<std::string> names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(dir_)) {
            out.insert(e.path().filename().string());
        }
        return out;
    }

private:
    fs::path dir_;
};

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// Both ways of writing: unnamed where possible, and the hidden named file.
class TempFileMode : public ::testing::TestWithParam<bool> {
protected:
    void SetUp() override { detail::setNamedTemporaryFilesOnly(GetParam()); }
    void TearDown() override { detail::setNamedTemporaryFilesOnly(false); }
};

ResultHeader sameSystemHeader() {
    ResultHeader h;
    h.sel.inputSystem = h.sel.outputSystem = RefSystem::Etrf89;
    h.sel.inputKind = CoordKind::Geographic;
    h.sel.outputKind = CoordKind::Plane;
    return h;
}

void writeSome(ResultWriter& w) {
    w.writeHeader(sameSystemHeader());
    PointResult r;
    r.outFirst = 5000000;
    r.outSecond = 500000;
    r.zoneText = "32";
    w.writePoint(DataPoint{"A", 45, 9, 0}, r);
}

// Fault guarded: "." + name + ".tmp-XXXXXXXX" passed the 255-byte limit of a file name,
// so a result name the file system accepts could not be written. Whatever the name's
// length, new or replacing, report or workbook, the folder ends with the result alone.
TEST_P(TempFileMode, ResultNamesUpToTheLimit) {
    for (const DataFileType type : {DataFileType::Ascii, DataFileType::Excel}) {
        for (const std::size_t length : {std::size_t{1} + 4, std::size_t{240}, std::size_t{255}}) {
            for (const bool existing : {false, true}) {
                SCOPED_TRACE(std::to_string(length) + (existing ? " replacing" : " new") +
                             (type == DataFileType::Excel ? " workbook" : " report"));
                TempFolder f;
                const std::string name = std::string(length - 4, 'n') + ".xlx";
                const std::string path = f.file(name);
                if (existing) {
                    std::ofstream(path) << "old\n";
                }
                {
                    auto w = makeResultFileWriter(path, type);
                    writeSome(*w);
                    w->finish();
                }
                EXPECT_EQ(f.names(), std::set<std::string>{name});
                EXPECT_NE(readAll(path), "old\n");
            }
        }
    }
}

// An unfinished writer leaves the folder as it was; while it writes, a named temporary
// file is short and hidden, an unnamed one does not show at all.
TEST_P(TempFileMode, UnfinishedWriterLeavesNothing) {
    for (const DataFileType type : {DataFileType::Ascii, DataFileType::Excel}) {
        TempFolder f;
        const std::string old = f.file("old.res");
        std::ofstream(old) << "old\n";
        {
            auto w = makeResultFileWriter(old, type);
            writeSome(*w);
            std::set<std::string> during = f.names();
            during.erase("old.res");
            if (GetParam()) {
                ASSERT_EQ(during.size(), 1u);
                EXPECT_EQ(during.begin()->front(), '.');
                EXPECT_LE(during.begin()->size(), 19u);
            } else {
                EXPECT_TRUE(during.empty());
            }
        }
        EXPECT_EQ(f.names(), std::set<std::string>{"old.res"});
        EXPECT_EQ(readAll(old), "old\n");
    }
}

// Fault guarded: a run ended by SIGINT, SIGTERM or SIGHUP left its hidden temporary result
// behind. The process still ends by the signal; the folder holds the old result alone.
TEST_P(TempFileMode, CatchableSignalsRemoveTheTemporaryFile) {
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        SCOPED_TRACE(sig);
        TempFolder f;
        const std::string old = f.file("old.res");
        std::ofstream(old) << "old\n";
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            ::signal(sig, SIG_DFL);
            auto w = makeResultFileWriter(old, DataFileType::Ascii);
            writeSome(*w);
            ::raise(sig);
            ::_exit(0); // not reached when the signal ends the process
        }
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFSIGNALED(status));
        if (WIFSIGNALED(status)) {
            EXPECT_EQ(WTERMSIG(status), sig);
        }
        EXPECT_EQ(f.names(), std::set<std::string>{"old.res"});
        EXPECT_EQ(readAll(old), "old\n");
    }
}

// Standard error (descriptor 2) kept in a file while a test runs.
class StderrToFile {
public:
    explicit StderrToFile(const std::string& path) : saved_(::dup(2)) {
        std::fflush(stderr);
        const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(fd, 2);
        ::close(fd);
    }
    ~StderrToFile() {
        std::fflush(stderr);
        ::dup2(saved_, 2);
        ::close(saved_);
    }
    StderrToFile(const StderrToFile&) = delete;
    StderrToFile& operator=(const StderrToFile&) = delete;

private:
    int saved_;
};

// Fault guarded: the workbook library printed "[ERROR] workbook_close(): ..." in English on
// the user's terminal, and its error code came out in English. Here the folder goes while
// the unnamed workbook is written: the failure is told in Italian, and nothing else is printed.
TEST(WorkbookFailure, ToldInItalianAndNothingOnTheTerminal) {
    detail::setNamedTemporaryFilesOnly(false);
    TempFolder keep;
    const fs::path dir = fs::path(keep.file("gone"));
    fs::create_directory(dir);
    const std::string captured = keep.file("stderr.txt");
    std::string what;
    {
        const StderrToFile redirect(captured);
        auto w = makeResultFileWriter((dir / "r.xlsx").string(), DataFileType::Excel);
        writeSome(*w);
        std::error_code ec;
        if (!fs::remove(dir, ec)) {
            GTEST_SKIP() << "the folder could not be removed while written (named temporary file)";
        }
        try {
            w->finish();
        } catch (const WriteError& e) {
            what = e.what();
        }
    }
    EXPECT_NE(what.find("IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI"), std::string::npos) << what;
    EXPECT_NE(what.find("Il file o la cartella non esiste"), std::string::npos) << what;
    EXPECT_EQ(what.find("Error"), std::string::npos) << what;
    EXPECT_EQ(readAll(captured), "");
}

INSTANTIATE_TEST_SUITE_P(Modes, TempFileMode, ::testing::Values(false, true),
                         [](const ::testing::TestParamInfo<bool>& i) { return i.param ? "Named" : "Unnamed"; });

} // namespace
} // namespace dormal
