#include "conversion/scratch_folder.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "conversion/signal_cleanup.h"

namespace dormal {

namespace {

namespace fs = std::filesystem;

constexpr const char kPrefix[] = ".dormal2k-";
constexpr std::size_t kPrefixLength = sizeof kPrefix - 1;
constexpr const char kLockName[] = "lock";
constexpr const char kWorkName[] = "work";
constexpr const char kLockMagic[] = "dormal2k-scratch";

// mkdtemp's names: the prefix and six letters or digits.
bool scratchName(const char* name) {
    if (std::strncmp(name, kPrefix, kPrefixLength) != 0 || std::strlen(name) != kPrefixLength + 6) {
        return false;
    }
    for (const char* p = name + kPrefixLength; *p != '\0'; ++p) {
        const unsigned char c = static_cast<unsigned char>(*p);
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) {
            return false;
        }
    }
    return true;
}

std::string firstLineOf(const char* path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    return line;
}

// Field 22 of /proc/PID/stat: the process's start, in clock ticks after boot ("" when the
// process does not exist).
std::string startTimeOf(long pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const std::size_t close = stat.rfind(')');
    if (close == std::string::npos) {
        return {};
    }
    std::istringstream fields(stat.substr(close + 1));
    std::string f;
    for (int i = 3; i <= 22 && (fields >> f); ++i) {
        if (i == 22) {
            return f;
        }
    }
    return {};
}

std::string bootId() {
    return firstLineOf("/proc/sys/kernel/random/boot_id");
}

std::string hostName() {
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) {
        return "-";
    }
    return buf;
}

std::string lockLine() {
    const long pid = static_cast<long>(::getpid());
    const std::string start = startTimeOf(pid);
    const std::string boot = bootId();
    return std::string(kLockMagic) + " " + std::to_string(pid) + " " + (start.empty() ? "-" : start) + " " +
           (boot.empty() ? "-" : boot) + " " + hostName() + "\n";
}

std::string readAll(int fd) {
    std::string out;
    char buf[512];
    for (;;) {
        const ssize_t n = ::pread(fd, buf, sizeof buf, static_cast<off_t>(out.size()));
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || out.size() > 4096) {
            return out;
        }
        out.append(buf, static_cast<std::size_t>(n));
    }
}

// Whether a complete lock's run is gone, judged without the lock itself (a file system that
// refuses locks): only a run of this machine can be judged, by its process and start time.
bool runGoneByRecord(const std::string& record) {
    std::istringstream in(record);
    std::string magic, pid, start, boot, host;
    if (!(in >> magic >> pid >> start >> boot >> host) || magic != kLockMagic || host != hostName()) {
        return false;
    }
    if (boot != bootId()) {
        return true; // the machine started again since
    }
    char* end = nullptr;
    const long p = std::strtol(pid.c_str(), &end, 10);
    if (end == pid.c_str() || *end != '\0' || p <= 0) {
        return false;
    }
    const std::string now = startTimeOf(p);
    return now.empty() || now != start;
}

// Removes the scratch folder `name` of the folder open as `parentFd` when its run is gone.
bool removeIfAbandoned(int parentFd, const char* name) {
    const int fd = ::openat(parentFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        return false;
    }
    bool removed = false;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && st.st_uid == ::geteuid()) {
        const int lock = ::openat(fd, kLockName, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
        struct stat ls {};
        if (lock >= 0 && ::fstat(lock, &ls) == 0 && S_ISREG(ls.st_mode)) {
            const bool locked = ::flock(lock, LOCK_EX | LOCK_NB) == 0;
            const int lockErr = errno;
            // The line is written once the lock is held: an incomplete one is a run that is
            // starting (it waits for this lock to be let go).
            const std::string record = readAll(lock);
            const bool complete =
                record.rfind(std::string(kLockMagic) + " ", 0) == 0 && !record.empty() && record.back() == '\n';
            bool gone = false;
            if (complete && locked) {
                gone = true;
            } else if (complete && lockErr != EWOULDBLOCK) {
                gone = runGoneByRecord(record);
            }
            if (gone) {
                cleanup::removeFolderContents(fd);
                removed = ::unlinkat(parentFd, name, AT_REMOVEDIR) == 0;
            }
        }
        if (lock >= 0) {
            ::close(lock); // lets the lock go
        }
    }
    ::close(fd);
    return removed;
}

// The catchable signals, blocked while a folder is made and guarded: no moment in which a
// signal could leave it unguarded.
class SignalsBlocked {
public:
    SignalsBlocked() {
        sigset_t set;
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGHUP);
        ::pthread_sigmask(SIG_BLOCK, &set, &old_);
    }
    ~SignalsBlocked() { ::pthread_sigmask(SIG_SETMASK, &old_, nullptr); }
    SignalsBlocked(const SignalsBlocked&) = delete;
    SignalsBlocked& operator=(const SignalsBlocked&) = delete;

private:
    sigset_t old_;
};

} // namespace

namespace detail {

int removeAbandonedScratchFolders(const fs::path& folder) {
    const int parentFd = ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0) {
        return 0;
    }
    std::vector<std::string> names;
    if (DIR* d = ::fdopendir(::dup(parentFd))) {
        while (const dirent* e = ::readdir(d)) {
            if (scratchName(e->d_name) && (e->d_type == DT_DIR || e->d_type == DT_UNKNOWN)) {
                names.emplace_back(e->d_name);
            }
        }
        ::closedir(d);
    }
    int removed = 0;
    for (const std::string& n : names) {
        removed += removeIfAbandoned(parentFd, n.c_str()) ? 1 : 0;
    }
    ::close(parentFd);
    return removed;
}

} // namespace detail

ScratchFolder::ScratchFolder(const fs::path& resultPath) {
    const fs::path folder = resultPath.has_parent_path() ? resultPath.parent_path() : fs::path(".");
    detail::removeAbandonedScratchFolders(folder);
    std::error_code ec;
    const fs::path absolute = fs::absolute(folder, ec);
    if (ec) {
        return;
    }
    std::string pattern = (absolute / (std::string(kPrefix) + "XXXXXX")).string();
    {
        SignalsBlocked blocked;
        if (::mkdtemp(pattern.data()) == nullptr) {
            return;
        }
        folderFd_ = ::open(pattern.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (folderFd_ < 0) {
            ::rmdir(pattern.c_str());
            return;
        }
        outer_ = pattern;
        slot_ = cleanup::addFolder(folderFd_, outer_);
    }
    lockFd_ = ::openat(folderFd_, kLockName, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (lockFd_ < 0) {
        return;
    }
    // Blocking: only another run looking at this folder can hold the lock, for a moment.
    int rc = 0;
    while ((rc = ::flock(lockFd_, LOCK_EX)) != 0 && errno == EINTR) {
    }
    // Without a lock (a file system that refuses them) the record alone tells the run.
    const std::string line = lockLine();
    if (::pwrite(lockFd_, line.data(), line.size(), 0) != static_cast<ssize_t>(line.size())) {
        return;
    }
    if (::mkdirat(folderFd_, kWorkName, 0700) != 0) {
        return;
    }
    path_ = folder / fs::path(pattern).filename() / kWorkName;
}

ScratchFolder::~ScratchFolder() {
    if (folderFd_ < 0) {
        return;
    }
    cleanup::removeFolderContents(folderFd_);
    ::rmdir(outer_.c_str());
    cleanup::remove(slot_);
    if (lockFd_ >= 0) {
        ::close(lockFd_);
    }
    ::close(folderFd_);
}

} // namespace dormal
