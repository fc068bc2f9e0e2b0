#include "conversion/signal_cleanup.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

namespace dormal::cleanup {

namespace {

// The handler may only make async-signal-safe calls: it walks fixed slots and removes what
// is registered there. Handlers are installed only over the default disposition (an ignored
// SIGHUP stays ignored).
constexpr int kSlots = 16;
enum State { kFree = 0, kFilling = 1, kHeld = 2, kInUse = 3 };
enum Kind { kFile = 0, kFolder = 1 };
struct Slot {
    std::atomic<int> state{kFree};
    int kind = kFile;
    int fd = -1;
    char path[PATH_MAX + 1] = {};
};
Slot gSlots[kSlots];
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
// Nesting followed when a folder is emptied (scratch folders hold a level or two).
constexpr int kMaxDepth = 8;

bool removeContentsAt(int dirFd, int depth) {
    alignas(8) char buf[4096];
    // Entries removed while the folder is read may make the reading skip others: it starts
    // again until a pass finds nothing it can remove.
    for (int pass = 0; pass < 1000; ++pass) {
        if (::lseek(dirFd, 0, SEEK_SET) < 0) {
            return false;
        }
        bool any = false, removed = false;
        for (;;) {
            const ssize_t n = ::getdents64(dirFd, buf, sizeof buf);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                if (n < 0) {
                    return false;
                }
                break;
            }
            for (ssize_t off = 0; off < n;) {
                const auto* d = reinterpret_cast<const struct dirent64*>(buf + off);
                off += d->d_reclen;
                const char* name = d->d_name;
                if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) {
                    continue;
                }
                any = true;
                if (::unlinkat(dirFd, name, 0) == 0) {
                    removed = true;
                    continue;
                }
                if ((errno == EISDIR || errno == EPERM) && depth < kMaxDepth) {
                    const int sub = ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                    if (sub >= 0) {
                        removeContentsAt(sub, depth + 1);
                        ::close(sub);
                    }
                    if (::unlinkat(dirFd, name, AT_REMOVEDIR) == 0) {
                        removed = true;
                    }
                }
            }
        }
        if (!any) {
            return true;
        }
        if (!removed) {
            return false;
        }
    }
    return false;
}

extern "C" void removeRegisteredAndRaise(int sig) {
    const int saved = errno;
    for (Slot& s : gSlots) {
        int expected = kHeld;
        if (s.state.compare_exchange_strong(expected, kInUse)) {
            if (s.kind == kFolder) {
                removeContentsAt(s.fd, 0);
                ::rmdir(s.path);
            } else {
                ::unlink(s.path);
            }
        }
    }
    errno = saved;
    // SA_RESETHAND put the default action back; the signal raised here is delivered with
    // it as soon as this handler returns.
    ::raise(sig);
}

// Checked at every new name: a disposition put back to the default since (by the program,
// or by the handler's own SA_RESETHAND) gets the handler again.
void install() {
    for (const int sig : kSignals) {
        struct sigaction old {};
        if (::sigaction(sig, nullptr, &old) != 0 || (old.sa_flags & SA_SIGINFO) != 0 || old.sa_handler != SIG_DFL) {
            continue;
        }
        struct sigaction sa {};
        sa.sa_handler = removeRegisteredAndRaise;
        sigemptyset(&sa.sa_mask);
        sa.sa_flags = SA_RESETHAND;
        ::sigaction(sig, &sa, nullptr);
    }
}

int addSlot(int kind, int fd, const std::string& path) {
    if (path.size() > PATH_MAX) {
        return -1;
    }
    install();
    for (int i = 0; i < kSlots; ++i) {
        int expected = kFree;
        if (gSlots[i].state.compare_exchange_strong(expected, kFilling)) {
            gSlots[i].kind = kind;
            gSlots[i].fd = fd;
            std::memcpy(gSlots[i].path, path.c_str(), path.size() + 1);
            gSlots[i].state.store(kHeld);
            return i;
        }
    }
    return -1;
}

} // namespace

int add(const std::string& path) {
    return addSlot(kFile, -1, path);
}

int addFolder(int folderFd, const std::string& path) {
    return folderFd >= 0 ? addSlot(kFolder, folderFd, path) : -1;
}

void remove(int slot) {
    if (slot < 0) {
        return;
    }
    int expected = kHeld;
    if (!gSlots[slot].state.compare_exchange_strong(expected, kFree)) {
        // A handler on another thread is removing this slot's name and ends the process
        // when done: the descriptor it uses must stay open until then.
        for (;;) {
            ::pause();
        }
    }
}

bool removeFolderContents(int folderFd) {
    return removeContentsAt(folderFd, 0);
}

} // namespace dormal::cleanup
