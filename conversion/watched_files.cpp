#include "conversion/watched_files.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cpl_vsi.h>

namespace dormal {

namespace {

constexpr const char* kPrefix = "/vsidormalw/";
constexpr std::size_t kBufferSize = std::size_t{1} << 16;

int firstError = 0;

void remember(int err) {
    if (firstError == 0) {
        firstError = err != 0 ? err : EIO;
    }
}

std::string realPath(const char* name) {
    const std::size_t n = std::strlen(kPrefix);
    return std::strncmp(name, kPrefix, n) == 0 ? std::string(name + n) : std::string(name);
}

// One open file: its descriptor and the bytes written but not yet handed to the system
// (drivers write many small pieces).
struct Handle {
    int fd = -1;
    vsi_l_offset at = 0; // the position drivers see: the system's, plus what is pending
    std::string pending;
    bool eof = false;
    bool failed = false;

    bool flush() {
        std::size_t done = 0;
        while (done < pending.size()) {
            const ssize_t w = ::write(fd, pending.data() + done, pending.size() - done);
            if (w < 0 && errno == EINTR) {
                continue;
            }
            if (w <= 0) {
                remember(w < 0 ? errno : EIO);
                failed = true;
                pending.clear();
                return false;
            }
            done += static_cast<std::size_t>(w);
        }
        pending.clear();
        return true;
    }
};

void* openFile(void*, const char* name, const char* access) {
    const std::string path = realPath(name);
    const std::string a = access != nullptr ? access : "r";
    const bool plus = a.find('+') != std::string::npos;
    int flags = 0;
    if (a[0] == 'w') {
        flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC;
    } else if (a[0] == 'a') {
        flags = (plus ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND;
    } else {
        flags = plus ? O_RDWR : O_RDONLY;
    }
    const int fd = ::open(path.c_str(), flags | O_CLOEXEC, 0666);
    if (fd < 0) {
        return nullptr;
    }
    auto* h = new Handle;
    h->fd = fd;
    if ((flags & O_APPEND) != 0) {
        const off_t end = ::lseek(fd, 0, SEEK_END);
        h->at = end > 0 ? static_cast<vsi_l_offset>(end) : 0;
    }
    return h;
}

vsi_l_offset tellFile(void* file) {
    return static_cast<Handle*>(file)->at;
}

int seekFile(void* file, vsi_l_offset offset, int whence) {
    auto* h = static_cast<Handle*>(file);
    h->eof = false;
    // Drivers that write records (shapefiles) seek to where they already are before each
    // one: the pending bytes then stay pending.
    if ((whence == SEEK_SET && offset == h->at) || (whence == SEEK_CUR && offset == 0)) {
        return 0;
    }
    if (!h->flush()) {
        return -1;
    }
    const int w = whence == SEEK_END ? SEEK_END : whence == SEEK_CUR ? SEEK_CUR : SEEK_SET;
    const off_t at = ::lseek(h->fd, static_cast<off_t>(offset), w);
    if (at < 0) {
        remember(errno);
        return -1;
    }
    h->at = static_cast<vsi_l_offset>(at);
    return 0;
}

std::size_t readFile(void* file, void* buffer, std::size_t size, std::size_t count) {
    auto* h = static_cast<Handle*>(file);
    if (size == 0 || count == 0 || !h->flush()) {
        return 0;
    }
    const std::size_t want = size * count;
    std::size_t done = 0;
    while (done < want) {
        const ssize_t r = ::read(h->fd, static_cast<char*>(buffer) + done, want - done);
        if (r < 0 && errno == EINTR) {
            continue;
        }
        if (r <= 0) {
            h->eof = true;
            break;
        }
        done += static_cast<std::size_t>(r);
    }
    // What was not read is filled with line ends. GDAL's drawing writer, when it closes a
    // drawing, reads back a few bytes of its header into a small buffer on its stack and
    // looks for a line end in them without checking how many it got: after a failed write
    // (a full disk) the bytes are not there, and it would run past its buffer. A line end
    // stops it at once; the short count still tells every caller that nothing more came.
    if (done < want) {
        std::memset(static_cast<char*>(buffer) + done, '\n', want - done);
    }
    // A partial last element is given back to the file, as stdio would leave it unread.
    const std::size_t whole = done / size;
    if (done % size != 0) {
        (void)::lseek(h->fd, -static_cast<off_t>(done % size), SEEK_CUR);
    }
    h->at += whole * size;
    return whole;
}

int eofFile(void* file) {
    return static_cast<Handle*>(file)->eof ? 1 : 0;
}

std::size_t writeFile(void* file, const void* buffer, std::size_t size, std::size_t count) {
    auto* h = static_cast<Handle*>(file);
    if (h->failed) {
        return 0;
    }
    h->pending.append(static_cast<const char*>(buffer), size * count);
    h->at += size * count;
    if (h->pending.size() >= kBufferSize && !h->flush()) {
        return 0;
    }
    return count;
}

int flushFile(void* file) {
    return static_cast<Handle*>(file)->flush() ? 0 : -1;
}

int truncateFile(void* file, vsi_l_offset size) {
    auto* h = static_cast<Handle*>(file);
    if (!h->flush()) {
        return -1;
    }
    if (::ftruncate(h->fd, static_cast<off_t>(size)) != 0) {
        remember(errno);
        return -1;
    }
    return 0;
}

int closeFile(void* file) {
    auto* h = static_cast<Handle*>(file);
    bool ok = h->flush() && !h->failed;
    if (::close(h->fd) != 0) {
        remember(errno);
        ok = false;
    }
    delete h;
    return ok ? 0 : -1;
}

int statFile(void*, const char* name, VSIStatBufL* buf, int flags) {
    return VSIStatExL(realPath(name).c_str(), buf, flags);
}
int unlinkFile(void*, const char* name) {
    return VSIUnlink(realPath(name).c_str());
}
int renameFile(void*, const char* from, const char* to) {
    return VSIRename(realPath(from).c_str(), realPath(to).c_str());
}
int makeFolder(void*, const char* name, long mode) {
    return VSIMkdir(realPath(name).c_str(), mode);
}
int removeFolder(void*, const char* name) {
    return VSIRmdir(realPath(name).c_str());
}
char** readFolder(void*, const char* name, int maxFiles) {
    return VSIReadDirEx(realPath(name).c_str(), maxFiles);
}

void install() {
    static const bool installed = [] {
        VSIFilesystemPluginCallbacksStruct* cb = VSIAllocFilesystemPluginCallbacksStruct();
        cb->open = openFile;
        cb->tell = tellFile;
        cb->seek = seekFile;
        cb->read = readFile;
        cb->eof = eofFile;
        cb->write = writeFile;
        cb->flush = flushFile;
        cb->truncate = truncateFile;
        cb->close = closeFile;
        cb->stat = statFile;
        cb->unlink = unlinkFile;
        cb->rename = renameFile;
        cb->mkdir = makeFolder;
        cb->rmdir = removeFolder;
        cb->read_dir = readFolder;
        const bool ok = VSIInstallPluginHandler(kPrefix, cb) == 0;
        VSIFreeFilesystemPluginCallbacksStruct(cb);
        return ok;
    }();
    (void)installed;
}

} // namespace

std::string watchedPath(const std::string& path) {
    install();
    return kPrefix + path;
}

int watchedWriteError() {
    return firstError;
}

void resetWatchedWriteError() {
    firstError = 0;
}

} // namespace dormal
