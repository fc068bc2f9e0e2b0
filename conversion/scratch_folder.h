// A hidden folder beside a result, in which the result is written before it is put in
// place: `.dormal2k-XXXXXX/` holding a lock and the working folder path(). Whatever is left
// is removed when the object is destroyed and when SIGINT, SIGTERM or SIGHUP ends the
// process. A run that ends otherwise (SIGKILL, a power cut) leaves its folder: the next
// scratch folder made in the same place removes those whose run is gone.
//
// The lock is a file held with flock() for the whole run: the kernel lets it go when the
// process ends, however it ends, so a folder is taken as abandoned exactly when nobody holds
// its lock (a process id could have been given to another process since, a start time read
// from /proc says nothing of a run on another machine sharing the folder). The lock also
// records the run's process id, start time, boot and host: they are the evidence on file
// systems that refuse locks, and tell a person whose folder it is.
#pragma once

#include <filesystem>
#include <string>

namespace dormal {

class ScratchFolder {
public:
    // Made in the folder of `resultPath` (the current folder for a bare name).
    explicit ScratchFolder(const std::filesystem::path& resultPath);
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    ~ScratchFolder();

    bool ok() const { return !path_.empty(); }
    // The working folder: empty when made, everything in it is the caller's. Its entries may
    // be renamed into place one by one, or the folder itself renamed whole (it is on the
    // result's file system); what is left is removed with it.
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
    std::string outer_; // the hidden folder itself, absolute
    int folderFd_ = -1;
    int lockFd_ = -1;
    int slot_ = -1;
};

namespace detail {
// Removes the scratch folders in `folder` whose run has ended; how many were removed.
// Anything else is left alone: names of another form, links, folders of other users,
// folders without a complete lock, and those whose lock is held.
int removeAbandonedScratchFolders(const std::filesystem::path& folder);
} // namespace detail

} // namespace dormal
