#include "conversion/early_sync.h"

#include <cerrno>

#include <unistd.h>

namespace dormal {

EarlySync::EarlySync(int fd, std::uint64_t every, SyncFunction sync)
    : fd_(fd), every_(every), sync_(sync != nullptr ? sync : &::fdatasync) {}

EarlySync::~EarlySync() {
    (void)finish();
}

void EarlySync::appended(std::uint64_t bytes) {
    written_ += bytes;
    if (written_ - signalled_ < every_)
        return;
    signalled_ = written_;
    {
        const std::lock_guard<std::mutex> lock(m_);
        if (stop_)
            return;
        target_ = written_;
        if (!thread_.joinable())
            thread_ = std::thread([this] { loop(); });
    }
    cv_.notify_one();
}

int EarlySync::finish() {
    {
        const std::lock_guard<std::mutex> lock(m_);
        stop_ = true;
    }
    cv_.notify_one();
    if (thread_.joinable())
        thread_.join();
    return error_;
}

void EarlySync::loop() {
    std::unique_lock<std::mutex> lock(m_);
    std::uint64_t synced = 0;
    for (;;) {
        cv_.wait(lock, [&] { return stop_ || target_ > synced; });
        if (stop_)
            return;
        synced = target_;
        lock.unlock();
        const int r = sync_(fd_);
        const int err = r != 0 ? errno : 0;
        lock.lock();
        if (err != 0 && error_ == 0)
            error_ = err;
    }
}

} // namespace dormal
