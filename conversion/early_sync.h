#pragma once
// Makes a result file durable while it is written, so that the fsync before it takes the
// result's name waits only for its last part.

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace dormal {

// Once every `every` bytes appended to the file, a thread of its own asks the system to
// write the data so far to the disk (fdatasync) while the run goes on: converting and
// writing continue, and the disk works at the same time instead of at the end. The first
// error of those syncs is kept: the system reports a write-back error only once, so a later
// fsync could return success after it.
class EarlySync {
public:
    using SyncFunction = int (*)(int fd); // fdatasync; tests give their own

    explicit EarlySync(int fd, std::uint64_t every = std::uint64_t{8} << 20, SyncFunction sync = nullptr);
    EarlySync(const EarlySync&) = delete;
    EarlySync& operator=(const EarlySync&) = delete;
    ~EarlySync();

    // The writing thread appended `bytes` more to the file.
    void appended(std::uint64_t bytes);

    // Stops the syncing thread after the sync in progress; the errno of the first sync that
    // failed, 0 when none did (or none ran).
    int finish();

private:
    void loop();

    int fd_;
    std::uint64_t every_;
    SyncFunction sync_;
    std::uint64_t written_ = 0;   // the writing thread's own count
    std::uint64_t signalled_ = 0; // written_ when the thread was last asked to sync
    std::mutex m_;
    std::condition_variable cv_;
    std::uint64_t target_ = 0; // bytes the thread is asked to make durable
    bool stop_ = false;
    int error_ = 0;
    std::thread thread_; // started at the first request
};

} // namespace dormal
