// The scratch folder a GIS result is written in: removed with all it holds when the run ends
// or is stopped by a catchable signal, and, left by a run that was killed outright, removed
// by the next run; never a folder whose run is alive, never anything that is not one.

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <string>

#include <gtest/gtest.h>

#include "conversion/scratch_folder.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

class Folder {
public:
    Folder() {
        std::string t = (fs::temp_directory_path() / "dormal2k-scr-XXXXXX").string();
        if (::mkdtemp(t.data()) == nullptr) {
            throw std::runtime_error("mkdtemp");
        }
        dir_ = t;
    }
    ~Folder() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    const fs::path& path() const { return dir_; }
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

void write(const fs::path& p, const std::string& text) {
    std::ofstream(p) << text;
}

// What a run leaves in its working folder: files, a nested folder, and a link out of it
// (removed, never followed).
void fillLikeARun(const fs::path& work, const fs::path& outside) {
    write(work / "esito.gpkg", std::string(100000, 'x'));
    write(work / "esito.gpkg-journal", "j");
    fs::create_directories(work / "sub" / "deeper");
    write(work / "sub" / "deeper" / "f", "f");
    fs::create_symlink(outside, work / "link");
}

// A child process that makes a scratch folder beside `result`, fills it, tells the parent
// the working folder's name through a pipe, and then waits to be signalled.
pid_t startHolder(const fs::path& result, const fs::path& outside, std::string& work) {
    int p[2];
    if (::pipe(p) != 0) {
        return -1;
    }
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::close(p[0]);
        for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
            ::signal(sig, SIG_DFL);
        }
        ScratchFolder s(result);
        if (s.ok()) {
            fillLikeARun(s.path(), outside);
        }
        const std::string name = s.ok() ? s.path().string() + "\n" : "\n";
        (void)!::write(p[1], name.data(), name.size());
        for (;;) {
            ::pause();
        }
    }
    ::close(p[1]);
    work.clear();
    char c = 0;
    while (::read(p[0], &c, 1) == 1 && c != '\n') {
        work += c;
    }
    ::close(p[0]);
    return pid;
}

int endHolder(pid_t pid, int sig) {
    ::kill(pid, sig);
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFSIGNALED(status) ? WTERMSIG(status) : -1;
}

TEST(ScratchFolder, HoldsOnlyTheCallersFilesAndLeavesNothing) {
    Folder d;
    const fs::path outside = d.path() / "outside";
    write(outside, "kept");
    fs::path work;
    {
        ScratchFolder s(d.path() / "esito.gpkg");
        ASSERT_TRUE(s.ok());
        work = s.path();
        EXPECT_TRUE(fs::is_empty(work));
        EXPECT_EQ(work.parent_path().parent_path(), d.path());
        EXPECT_EQ(work.parent_path().filename().string().rfind(".dormal2k-", 0), 0U);
        fillLikeARun(work, outside);
        // A folder's whole contents may be renamed away: the rest still goes.
        fs::rename(work / "esito.gpkg", d.path() / "esito.gpkg");
    }
    EXPECT_EQ(d.names(), (std::set<std::string>{"esito.gpkg", "outside"}));
    EXPECT_EQ(fs::file_size(d.path() / "outside"), 4U);
}

// Fault guarded: a run stopped by SIGTERM, SIGINT or SIGHUP left its scratch folder and the
// partial result in it.
TEST(ScratchFolder, CatchableSignalsRemoveItAndKillLeavesItToTheNextRun) {
    struct Case {
        int sig;
        bool left;
    };
    const Case cases[] = {{SIGTERM, false}, {SIGINT, false}, {SIGHUP, false}, {SIGKILL, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sig);
        Folder d;
        write(d.path() / "outside", "kept");
        std::string work;
        const pid_t pid = startHolder(d.path() / "esito.gpkg", d.path() / "outside", work);
        ASSERT_GT(pid, 0);
        ASSERT_FALSE(work.empty());
        EXPECT_TRUE(fs::exists(fs::path(work) / "sub" / "deeper" / "f"));
        // Alive: another run beside it leaves it alone.
        EXPECT_EQ(detail::removeAbandonedScratchFolders(d.path()), 0);
        EXPECT_TRUE(fs::exists(work));
        EXPECT_EQ(endHolder(pid, c.sig), c.sig);
        EXPECT_EQ(fs::exists(work), c.left);
        { ScratchFolder next(d.path() / "altro.shp"); }
        EXPECT_EQ(d.names(), std::set<std::string>{"outside"});
        EXPECT_EQ(fs::file_size(d.path() / "outside"), 4U);
    }
}

// Only scratch folders of ended runs are removed: whatever else looks like one stays.
TEST(ScratchFolder, LeavesAloneWhatIsNotAnAbandonedScratchFolder) {
    Folder d;
    // The lock of a run that ended (a killed one's, copied).
    std::string deadLock;
    {
        std::string work;
        const pid_t pid = startHolder(d.path() / "x", d.path(), work);
        ASSERT_GT(pid, 0);
        endHolder(pid, SIGKILL);
        std::ifstream in(fs::path(work).parent_path() / "lock");
        std::getline(in, deadLock);
        fs::remove_all(fs::path(work).parent_path());
    }
    ASSERT_EQ(deadLock.rfind("dormal2k-scratch ", 0), 0U) << deadLock;
    struct Case {
        const char* name;
        const char* lock; // null: no lock file
        bool removed;
    };
    const std::string dead = deadLock + "\n";
    const Case cases[] = {
        {".dormal2k-Ab12cD", dead.c_str(), true},
        {".dormal2k-nolock", nullptr, false},              // someone else's, or a run starting
        {".dormal2k-halfwr", "dormal2k-scratch 1", false}, // a lock being written
        {".dormal2k-others", "not ours\n", false},
        {".dormal2k-toolong", dead.c_str(), false}, // not a name this program makes
        {".dormal2k-short", dead.c_str(), false},
        {"dormal2k-Ab12cD", dead.c_str(), false},
    };
    for (const Case& c : cases) {
        fs::create_directory(d.path() / c.name);
        write(d.path() / c.name / "payload", "p");
        if (c.lock != nullptr) {
            write(d.path() / c.name / "lock", c.lock);
        }
    }
    // A link named as a scratch folder, to a folder with a dead lock: neither is touched.
    fs::create_directory(d.path() / "target");
    write(d.path() / "target" / "lock", dead);
    fs::create_directory_symlink(d.path() / "target", d.path() / ".dormal2k-LnKlnk");
    // A plain file named as one.
    write(d.path() / ".dormal2k-aFile0", dead);

    EXPECT_EQ(detail::removeAbandonedScratchFolders(d.path()), 1);
    for (const Case& c : cases) {
        EXPECT_EQ(fs::exists(d.path() / c.name), !c.removed) << c.name;
    }
    EXPECT_TRUE(fs::exists(d.path() / "target" / "lock"));
    EXPECT_TRUE(fs::is_symlink(d.path() / ".dormal2k-LnKlnk"));
    EXPECT_TRUE(fs::is_regular_file(d.path() / ".dormal2k-aFile0"));
}

} // namespace
} // namespace dormal
