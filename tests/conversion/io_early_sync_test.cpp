// The syncing of a result file while it is written: when it syncs, on which thread, and
// that a failed sync is not lost.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/early_sync.h"

namespace dormal {
namespace {

// A stand-in for fdatasync: counts its calls, notes the thread and descriptor, and fails
// with EIO at the call numbered `failOn` (1 for the first; 0 never).
struct FakeSync {
    std::atomic<int> calls{0};
    std::atomic<int> failOn{0};
    std::atomic<int> lastFd{-1};
    std::atomic<bool> onWritingThread{false};
    std::thread::id writingThread;
};
FakeSync fake;

int fakeSync(int fd) {
    fake.lastFd = fd;
    if (std::this_thread::get_id() == fake.writingThread)
        fake.onWritingThread = true;
    const int n = ++fake.calls;
    if (n == fake.failOn) {
        errno = EIO;
        return -1;
    }
    return 0;
}

// Waits (up to 5 s) for the syncing thread to have made `n` calls.
bool waitForCalls(int n) {
    for (int i = 0; i < 5000 && fake.calls < n; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return fake.calls >= n;
}

TEST(EarlySync, SyncsOnItsOwnThreadAndKeepsTheFirstFailure) {
    const struct {
        const char* what;
        std::vector<std::uint64_t> appends; // sizes appended, every one 100 bytes apart
        int failOn;
        int waitFor;     // calls to wait for before finishing
        int maxCalls;    // thresholds crossed: never more calls than that
        int finishError; // what finish() says
    } cases[] = {
        {"below the threshold: no sync at all", {40, 59}, 0, 0, 0, 0},
        {"one threshold crossed", {60, 60}, 0, 1, 1, 0},
        {"one large append crosses it once", {1000}, 0, 1, 1, 0},
        {"several thresholds, each synced or merged", {100, 100, 100, 100}, 0, 1, 4, 0},
        {"the failed sync is reported by finish", {100}, 1, 1, 1, EIO},
        {"a failure stays reported after later syncs succeed", {100, 100, 100}, 1, 3, 3, EIO},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        fake.calls = 0;
        fake.failOn = c.failOn;
        fake.lastFd = -1;
        fake.onWritingThread = false;
        fake.writingThread = std::this_thread::get_id();
        EarlySync sync(42, 100, &fakeSync);
        for (const std::uint64_t n : c.appends) {
            const int before = fake.calls;
            sync.appended(n);
            // One sync at a time: let each requested one happen before the next request.
            if (c.waitFor > 1) {
                ASSERT_TRUE(waitForCalls(std::min(c.waitFor, before + 1))) << fake.calls;
            }
        }
        ASSERT_TRUE(waitForCalls(c.waitFor)) << fake.calls;
        EXPECT_EQ(sync.finish(), c.finishError);
        EXPECT_LE(fake.calls, c.maxCalls);
        EXPECT_FALSE(fake.onWritingThread);
        if (fake.calls > 0) {
            EXPECT_EQ(fake.lastFd, 42);
        }
        // Nothing more happens after finish, and a second finish says the same.
        const int calls = fake.calls;
        sync.appended(1000);
        EXPECT_EQ(sync.finish(), c.finishError);
        EXPECT_EQ(fake.calls, calls);
    }
}

} // namespace
} // namespace dormal
