// Result files: the fixed-column ASCII report and the result workbook. Files are written to
// a temporary file in the result's folder (unnamed where the file system allows) and put in
// place of the result only when complete.
#include "conversion/result_writer.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <climits>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <random>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <zip.h>

#include "conversion/early_sync.h"
#include "conversion/formats.h"
#include "conversion/io_detail.h"
#include "conversion/selection_words.h"
#include "conversion/signal_cleanup.h"
#include "conversion/system_error.h"
#include "conversion/workbook_package.h"
#include "grid/text_encoding.h"

namespace dormal {

namespace {

constexpr const char* kCannotWrite = "IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI";
constexpr const char* kCannotWriteStream = "IMPOSSIBILE SCRIVERE I RISULTATI";
constexpr const char* kStandardOutput = "(uscita standard)";

std::string writeErrorText(const std::string& path, const std::string& cause) {
    return path.empty() ? std::string(kCannotWriteStream) + "\n" + kStandardOutput + "\n" + cause
                        : std::string(kCannotWrite) + "\n" + path + "\n" + cause;
}

[[noreturn]] void throwWrite(const std::string& path, const std::string& cause) {
    throw WriteError(path, cause);
}

} // namespace

WriteError::WriteError(std::string path, std::string cause)
    : std::runtime_error(writeErrorText(path, cause)), path_(std::move(path)), cause_(std::move(cause)) {}

namespace {

// ---------------------------------------------------------------------------------------
// The layout shared by both forms.

struct Layout {
    SelectionState sel;
    bool heights = false;
    int reportLayout = 0; // 0 no zone column; 1 "Vero"/"Altro"; 2 the point's zone text
    std::int16_t globalGeoid = 0;
    std::string roEd, roE89, e89E2000, geoid;
    char sep = '.';
    std::size_t portionCount = 1;
};

// 0 no zone column; 1 "Vero"/"Altro"; 2 the point's zone text.
int reportLayoutOf(const SelectionState& sel) {
    if (sel.outputKind == CoordKind::Geographic || sel.outputZone == Zone::Italia)
        return 0;
    return sel.outputZone == Zone::Auto ? 2 : 1;
}

Layout layoutOf(const ResultHeader& h) {
    Layout l;
    l.sel = h.sel;
    l.heights = h.heights;
    l.sep = h.decimalSeparator;
    l.portionCount = h.portionCount;
    l.reportLayout = reportLayoutOf(h.sel);
    if (h.portion) {
        l.globalGeoid = h.portion->globalGeoid;
        l.roEd = h.portion->roEdEpoch;
        l.roE89 = h.portion->roE89Epoch;
        l.e89E2000 = h.portion->e89E2000Epoch;
        l.geoid = h.portion->geoidEpoch;
    }
    return l;
}

std::string_view firstHeading(CoordKind kind) {
    return kind == CoordKind::Plane ? "Nord" : "Latit.";
}
std::string_view secondHeading(CoordKind kind) {
    return kind == CoordKind::Plane ? "    Est" : "Longit.";
}
constexpr std::string_view kPointHeading = "Numero";
constexpr std::string_view kZoneHeading = " Fuso";

// The zone text of a converted point, by the layout.
std::string_view zoneField(const Layout& l, const PointResult& r) {
    return reportZoneText(l.sel, r);
}

bool isOutside(const PointResult& r) {
    return r.status == PointStatus::OutsideGrid;
}

// ---------------------------------------------------------------------------------------
// Temporary file beside the result, renamed over it by commit().

std::string directoryOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

// The file a result path names: a link is followed, so the link stays and its file is replaced.
std::string resolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        if (char* real = ::realpath(path.c_str(), nullptr)) {
            std::string r(real);
            std::free(real);
            return r;
        }
    }
    return path;
}

// The process's file-creation mask, without changing it (read from /proc when it can be).
mode_t currentUmask() {
    if (std::FILE* f = std::fopen("/proc/self/status", "re")) {
        char line[256];
        while (std::fgets(line, sizeof line, f) != nullptr) {
            if (std::strncmp(line, "Umask:", 6) == 0) {
                std::fclose(f);
                return static_cast<mode_t>(std::strtoul(line + 6, nullptr, 8) & 0777);
            }
        }
        std::fclose(f);
    }
    const mode_t m = ::umask(022);
    ::umask(m);
    return m;
}

// A short hidden name in `dir` that leaves the result's name all the room the file system
// gives (".d2k-" and ten characters: 19 bytes whatever the result is called).
std::string temporaryName(const std::string& dir, std::mt19937_64& rng) {
    static constexpr char kChars[] = "abcdefghijklmnopqrstuvwxyz0123456789";
    std::string name = (dir == "/" ? std::string() : dir) + "/.d2k-";
    for (int i = 0; i < 10; ++i)
        name += kChars[rng() % (sizeof kChars - 1)];
    name += ".tmp";
    return name;
}

bool forceNamedTemporaryFiles = false;

// The result being written. Where the file system allows, an unnamed file in the result's
// folder (O_TMPFILE): a run that is killed, by any signal, leaves nothing; commit() gives it
// the result's name. Elsewhere a hidden named file beside the result, removed by the
// destructor and by the catchable signals, and renamed over the result by commit().
class TempFile {
public:
    explicit TempFile(const std::string& path)
        : shownPath_(path), target_(resolveTarget(path)), dir_(directoryOf(target_)),
          rng_(static_cast<unsigned long long>(std::chrono::steady_clock::now().time_since_epoch().count()) ^
               static_cast<unsigned long long>(::getpid())) {
        struct stat st {};
        if (::stat(target_.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode))
                throwWrite(shownPath_, systemErrorText(EISDIR));
            existingMode_ = static_cast<int>(st.st_mode & 07777);
        }
        // The unnamed file is reached by name through /proc (to link it, and by the workbook
        // library, which opens its output by name).
        if (!forceNamedTemporaryFiles && ::access("/proc/self/fd", X_OK) == 0) {
            static const mode_t mask = currentUmask();
            const int fd = ::open(dir_.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666 & ~mask);
            if (fd >= 0) {
                fd_ = fd;
                unnamed_ = true;
                tmp_ = "/proc/self/fd/" + std::to_string(fd_);
                fileOpened();
                return;
            }
            if (errno != EOPNOTSUPP && errno != EISDIR && errno != EINVAL)
                throwWrite(shownPath_, systemErrorText(errno));
        }
        for (int attempt = 0; attempt < 100; ++attempt) {
            std::string name = temporaryName(dir_, rng_);
            // Guarded before it exists: no moment in which a signal could leave it behind.
            const int slot = cleanup::add(name);
            const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                fd_ = fd;
                slot_ = slot;
                tmp_ = std::move(name);
                fileOpened();
                return;
            }
            const int err = errno;
            cleanup::remove(slot);
            if (err != EEXIST)
                throwWrite(shownPath_, systemErrorText(err));
        }
        throwWrite(shownPath_, systemErrorText(EEXIST));
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    ~TempFile() {
        sync_.reset(); // the syncing thread ends before the file is closed
        if (fd_ >= 0)
            ::close(fd_);
        if (!unnamed_ && !committed_ && !tmp_.empty())
            ::unlink(tmp_.c_str());
        cleanup::remove(slot_);
    }

    // A name the file can be opened by while it is written (for writers that open it
    // themselves): the hidden file's name, or /proc/self/fd/N of the unnamed one.
    const std::string& tempPath() const { return tmp_; }
    const std::string& shownPath() const { return shownPath_; }
    const std::string& folder() const { return dir_; }

    void write(const char* p, std::size_t n) {
        while (n > 0) {
            const ssize_t w = ::write(fd_, p, n);
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                throwWrite(shownPath_, systemErrorText(errno));
            }
            p += w;
            n -= static_cast<std::size_t>(w);
            sync_->appended(static_cast<std::uint64_t>(w));
        }
    }

    // Overwrites bytes already written, from `offset` (bytes from the file's start).
    void writeAt(std::uint64_t offset, const char* p, std::size_t n) {
        while (n > 0) {
            const ssize_t w = ::pwrite(fd_, p, n, static_cast<off_t>(offset));
            if (w < 0) {
                if (errno == EINTR)
                    continue;
                throwWrite(shownPath_, systemErrorText(errno));
            }
            p += w;
            offset += static_cast<std::uint64_t>(w);
            n -= static_cast<std::size_t>(w);
        }
    }

    // Makes the temporary file durable and puts it in place of the result.
    void commit() {
        if (const int err = sync_->finish(); err != 0)
            throwWrite(shownPath_, systemErrorText(err));
        if (::fsync(fd_) != 0)
            throwWrite(shownPath_, systemErrorText(errno));
        if (unnamed_)
            linkIntoPlace();
        const int fd = fd_;
        fd_ = -1;
        if (::close(fd) != 0 && !unnamed_)
            throwWrite(shownPath_, systemErrorText(errno));
        if (!unnamed_) {
            if (::rename(tmp_.c_str(), target_.c_str()) != 0)
                throwWrite(shownPath_, systemErrorText(errno));
            cleanup::remove(slot_);
            slot_ = -1;
        }
        committed_ = true;
        const int dfd = ::open(dir_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dfd >= 0) {
            (void)::fsync(dfd);
            ::close(dfd);
        }
    }

private:
    // Called once the file is open: its mode, and the syncing of what is written.
    void fileOpened() {
        sync_ = std::make_unique<EarlySync>(fd_);
        if (existingMode_ >= 0)
            (void)::fchmod(fd_, static_cast<mode_t>(existingMode_ | S_IWUSR));
    }

    // The unnamed file gets the result's name: directly when there is no result yet, else
    // through a hidden name (guarded like a named temporary file) renamed over the result.
    void linkIntoPlace() {
        if (::linkat(AT_FDCWD, tmp_.c_str(), AT_FDCWD, target_.c_str(), AT_SYMLINK_FOLLOW) == 0)
            return;
        if (errno != EEXIST)
            throwWrite(shownPath_, systemErrorText(errno));
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string name = temporaryName(dir_, rng_);
            const int slot = cleanup::add(name);
            if (::linkat(AT_FDCWD, tmp_.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                const bool moved = ::rename(name.c_str(), target_.c_str()) == 0;
                const int err = errno;
                if (!moved)
                    ::unlink(name.c_str());
                cleanup::remove(slot);
                if (!moved)
                    throwWrite(shownPath_, systemErrorText(err));
                return;
            }
            const int err = errno;
            cleanup::remove(slot);
            if (err != EEXIST)
                throwWrite(shownPath_, systemErrorText(err));
        }
        throwWrite(shownPath_, systemErrorText(EEXIST));
    }

    std::string shownPath_;
    std::string target_;
    std::string dir_;
    std::mt19937_64 rng_;
    std::string tmp_;
    int fd_ = -1;
    int slot_ = -1;
    int existingMode_ = -1;
    std::unique_ptr<EarlySync> sync_; // made with the file
    bool unnamed_ = false;
    bool committed_ = false;
};

// ---------------------------------------------------------------------------------------
// ASCII report.

class ByteSink {
public:
    virtual ~ByteSink() = default;
    virtual void write(const char* p, std::size_t n) = 0;
    virtual void commit() = 0;
};

class StreamSink final : public ByteSink {
public:
    explicit StreamSink(std::ostream& out) : out_(out) {}
    void write(const char* p, std::size_t n) override {
        out_.write(p, static_cast<std::streamsize>(n));
        check();
    }
    void commit() override {
        out_.flush();
        check();
    }

private:
    void check() {
        if (!out_)
            throw WriteError({}, "Errore di scrittura");
    }
    std::ostream& out_;
};

class FileSink final : public ByteSink {
public:
    explicit FileSink(const std::string& path) : tmp_(path) {}
    void write(const char* p, std::size_t n) override { tmp_.write(p, n); }
    void commit() override { tmp_.commit(); }

private:
    TempFile tmp_;
};

// Columns (1-based) of the report fields, with heights and without.
struct Columns {
    int in1, in2, inH, out1, out2, outH, zone;
};
constexpr Columns kWithHeights{12, 25, 38, 48, 61, 74, 84};
constexpr Columns kWithoutHeights{12, 25, 0, 38, 51, 0, 64};

constexpr std::size_t kFlushAt = 256 << 10;

// Characters a text takes on a line: UTF-8 continuation bytes take no column.
std::size_t columnsOf(std::string_view s) {
    std::size_t n = 0;
    for (const char c : s)
        n += (static_cast<unsigned char>(c) & 0xC0) == 0x80 ? 0 : 1;
    return n;
}

// The report's pending bytes: a plain buffer that a point's line is written into through a
// pointer, without the checks and zero fills of a string's appends.
class ReportBuffer {
public:
    explicit ReportBuffer(std::size_t capacity) : data_(new char[capacity]), cap_(capacity) {}
    const char* data() const { return data_.get(); }
    std::size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }
    void clear() { size_ = 0; }
    // Room for `n` more bytes: where they go. setEnd() then says how many were written.
    char* room(std::size_t n) {
        if (cap_ - size_ < n)
            grow(size_ + n);
        return data_.get() + size_;
    }
    void setEnd(const char* end) { size_ = static_cast<std::size_t>(end - data_.get()); }
    void append(std::string_view s) {
        std::memcpy(room(s.size()), s.data(), s.size());
        size_ += s.size();
    }

private:
    void grow(std::size_t need) {
        const std::size_t cap = std::max(need, 2 * cap_);
        std::unique_ptr<char[]> bigger(new char[cap]);
        std::memcpy(bigger.get(), data_.get(), size_);
        data_ = std::move(bigger);
        cap_ = cap;
    }
    std::unique_ptr<char[]> data_;
    std::size_t cap_;
    std::size_t size_ = 0;
};

// Room a report line needs beyond its name and zone text: seven fields of at most
// kReportNumberRoom bytes each, the blanks before and after them and the line breaks.
constexpr std::size_t kLineRoom = 8 * (kReportNumberRoom + 128);

class AsciiReportWriter final : public ResultWriter {
public:
    explicit AsciiReportWriter(std::unique_ptr<ByteSink> sink)
        : sink_(std::move(sink)), buf_(kFlushAt + kLineRoom + 4096) {}

    void writeHeader(const ResultHeader& h) override {
        l_ = layoutOf(h);
        const auto& s = l_.sel;
        if (s.inputSystem != s.outputSystem) {
            if (l_.portionCount > 1)
                line("/Porzioni di griglia usate: " + std::to_string(l_.portionCount) + " (epoche della prima)");
            line("/Epoca Griglie Plan.: ROMA40-ED50:" + l_.roEd + "; ROMA40-ETRF89:" + l_.roE89 +
                 "; ETRF89-ETRF2000:" + l_.e89E2000);
            if (l_.heights)
                line("/Epoca Griglia Geoide:" + l_.geoid);
        }
        if (s.inputKind == CoordKind::Plane)
            line("/Coordinate Input: " + std::string(systemName(s.inputSystem)) +
                 "; metri;   fuso indicato:   " + std::string(inputZoneName(s.inputSystem, s.inputZone)));
        else
            line("/Coordinate Input: " + std::string(systemName(s.inputSystem)) + "; gradi sessagesimali");
        if (s.outputKind == CoordKind::Plane)
            line("/Coordinate Output: " + std::string(systemName(s.outputSystem)) +
                 "; metri;  fuso richiesto:  " + std::string(outputZoneName(s.outputSystem, s.outputZone)));
        else
            line("/Coordinate Output: " + std::string(systemName(s.outputSystem)) + "; gradi sessagesimali");
        if (l_.heights)
            line(l_.globalGeoid == 1 ? "/Quote in metri (geoidiche sul modello globale)" : "/Quote in metri");
        else
            line("/");
        const std::size_t ruler = l_.heights ? (l_.reportLayout != 0 ? 88 : 81) : (l_.reportLayout != 0 ? 68 : 61);
        std::string rule(ruler, '=');
        rule[0] = '/';
        line(rule);

        std::string head = "/";
        head += kPointHeading;
        head += "       ";
        head += firstHeading(s.inputKind);
        head += "      ";
        head += secondHeading(s.inputKind);
        if (l_.heights) {
            head += "    ";
            head += heightHeading(s.inputSystem);
            head += "     ";
        } else {
            head += "       ";
        }
        head += firstHeading(s.outputKind);
        head += "      ";
        head += secondHeading(s.outputKind);
        if (l_.heights) {
            head += "     ";
            head += heightHeading(s.outputSystem);
            if (l_.reportLayout != 0) {
                head += "  ";
                head += kZoneHeading;
            }
        } else if (l_.reportLayout != 0) {
            head += "     ";
            head += kZoneHeading;
        }
        line(head);
        flushIfFull();
    }

    void writePoint(const DataPoint& in, const PointResult& r) override {
        const Columns& c = l_.heights ? kWithHeights : kWithoutHeights;
        const bool outside = isOutside(r);
        const std::string_view zone = !outside && l_.reportLayout != 0 ? zoneField(l_, r) : std::string_view();
        Line ln;
        ln.w = buf_.room(in.name.size() + zone.size() + kLineRoom);
        ln.start = ln.w;
        *ln.w++ = ' ';
        // A line break inside a name (a workbook cell may hold one) would split the line;
        // UTF-8 continuation bytes take no column.
        std::memcpy(ln.w, in.name.data(), in.name.size());
        std::size_t continuation = 0;
        for (char* q = ln.w; q != ln.w + in.name.size(); ++q) {
            const auto ch = static_cast<unsigned char>(*q);
            if (ch == '\r' || ch == '\n')
                *q = ' ';
            continuation += (ch & 0xC0) == 0x80 ? 1 : 0;
        }
        ln.w += in.name.size();
        ln.extra = continuation;

        const bool geoIn = l_.sel.inputKind == CoordKind::Geographic;
        const bool geoOut = l_.sel.outputKind == CoordKind::Geographic;
        number(ln, c.in1, in.first, geoIn);
        number(ln, c.in2, in.second, geoIn);
        if (l_.heights)
            height(ln, c.inH, in.height);
        if (outside) {
            text(ln, c.out1, "Fuori Grig.", 11);
            text(ln, c.out2, "Fuori Grig.", 11);
            if (l_.heights)
                text(ln, c.outH, "F. Grig.", 8);
            if (l_.reportLayout != 0)
                text(ln, c.zone, "", 0);
        } else {
            number(ln, c.out1, r.outFirst, geoOut);
            number(ln, c.out2, r.outSecond, geoOut);
            if (l_.heights)
                height(ln, c.outH, r.hasHeight ? r.outHeight : 0.0);
            if (l_.reportLayout != 0)
                text(ln, c.zone, zone, 0);
        }
        ln.w[0] = '\r';
        ln.w[1] = '\n';
        buf_.setEnd(ln.w + 2);
        flushIfFull();
    }

    void finish() override {
        if (finished_)
            return;
        flush();
        sink_->commit();
        finished_ = true;
    }

    bool started() const override { return started_; }

private:
    void line(const std::string& s) {
        buf_.append(s);
        buf_.append("\r\n");
    }

    // Where a point's line is being written: the next byte, the start of the line (of its
    // last part, when a field had to start on a new line) and the bytes of that part that
    // take no column.
    struct Line {
        char* w = nullptr;
        char* start = nullptr;
        std::size_t extra = 0;
    };

    // `n` blanks at `w`: the usual few with one fixed 32-byte copy (the line's room allows
    // writing past them), more with memset.
    static char* blanks(char* w, std::size_t n) {
        static constexpr char kBlanks[33] = "                                ";
        if (n <= 32)
            std::memcpy(w, kBlanks, 32);
        else
            std::memset(w, ' ', n);
        return w + n;
    }

    // Moves to column `col` (1-based): blanks fill the gap; when the line already reaches
    // or passes it, the field starts at that column of a new line. A text that ends right
    // before the column (a name of 10 characters, a number that fills its field) gets one
    // blank after it, so that the fields stay apart for whatever splits the line on blanks.
    static void moveTo(Line& ln, int col) {
        std::size_t cur = static_cast<std::size_t>(ln.w - ln.start) - ln.extra;
        const auto target = static_cast<std::size_t>(col - 1);
        if (cur > target) {
            *ln.w++ = '\r';
            *ln.w++ = '\n';
            ln.start = ln.w;
            ln.extra = 0;
            cur = 0;
        } else if (cur == target && cur > 0 && ln.w[-1] != ' ') [[unlikely]] {
            *ln.w++ = ' ';
            return;
        }
        ln.w = blanks(ln.w, target - cur);
    }

    // Blanks after a field of `len` bytes up to `width`.
    static void pad(Line& ln, std::size_t len, std::size_t width) {
        ln.w += len;
        if (len < width)
            ln.w = blanks(ln.w, width - len);
    }

    static void text(Line& ln, int col, std::string_view t, std::size_t width) {
        moveTo(ln, col);
        std::memcpy(ln.w, t.data(), t.size());
        pad(ln, t.size(), width);
    }

    static std::size_t errorText(char* out) {
        std::memcpy(out, "Errore", 6);
        return 6;
    }

    void number(Line& ln, int col, double v, bool geographic) const {
        moveTo(ln, col);
        std::size_t len = 0;
        if (!std::isfinite(v)) [[unlikely]]
            len = errorText(ln.w);
        else if (geographic)
            len = writeReportGeo(ln.w, v, l_.sep);
        else
            len = writeReportPlane(ln.w, v, l_.sep);
        pad(ln, len, 11);
    }

    void height(Line& ln, int col, double v) const {
        moveTo(ln, col);
        const std::size_t len = std::isfinite(v) ? writeReportHeight(ln.w, v, l_.sep) : errorText(ln.w);
        pad(ln, len, 8);
    }

    void flushIfFull() {
        if (buf_.size() >= kFlushAt)
            flush();
    }

    void flush() {
        if (!buf_.empty()) {
            started_ = true;
            sink_->write(buf_.data(), buf_.size());
        }
        buf_.clear();
    }

    std::unique_ptr<ByteSink> sink_;
    Layout l_;
    ReportBuffer buf_;
    bool started_ = false;
    bool finished_ = false;
};

// ---------------------------------------------------------------------------------------
// Result workbook.

// Workbook texts must be valid UTF-8 without the control characters XML forbids. A text that
// is not UTF-8 is taken as Windows Latin-1 (how older data files spell accented names).
const std::string& workbookText(std::string_view s, std::string& scratch) {
    if (isValidUtf8(s))
        scratch.assign(s);
    else
        utf8FromLatin1(s, scratch);
    for (char& ch : scratch) {
        const auto c = static_cast<unsigned char>(ch);
        // Tab, line feed and carriage return are allowed in XML; other controls are not.
        if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F)
            ch = '?';
    }
    return scratch;
}

// The check of a finished workbook, without reading its XML: the zip's central directory
// agrees with the entries (ZIP_CHECKCONS), every entry inflates to its stored size and CRC
// (libzip checks the CRC at the end of each entry), and the sheet ends with its closing tag
// after a last row numbered `lastRow`.
bool checkWorkbookFile(const std::string& path, long& lastRow, std::string& cause) {
    lastRow = 0;
    int err = 0;
    zip_t* zip = zip_open(path.c_str(), ZIP_RDONLY | ZIP_CHECKCONS, &err);
    const auto zipCause = [](int code) {
        zip_error_t ze;
        zip_error_init_with_code(&ze, code);
        std::string why = zip_error_strerror(&ze);
        zip_error_fini(&ze);
        return why;
    };
    if (zip == nullptr) {
        cause = "archivio compresso non valido (" + zipCause(err) + ")";
        return false;
    }
    constexpr std::string_view kSheet = "xl/worksheets/sheet1.xml";
    constexpr std::string_view kRowTag = "<row r=\"";
    bool sawSheet = false;
    std::vector<char> buf(1 << 16);
    std::string tail; // the sheet's last bytes
    const zip_int64_t entries = zip_get_num_entries(zip, 0);
    for (zip_int64_t i = 0; i < entries && cause.empty(); ++i) {
        const char* name = zip_get_name(zip, static_cast<zip_uint64_t>(i), 0);
        const bool sheet = name != nullptr && kSheet == name;
        zip_file_t* f = zip_fopen_index(zip, static_cast<zip_uint64_t>(i), 0);
        if (f == nullptr) {
            cause = "parte " + std::string(name ? name : "?") + " illeggibile (" + zip_strerror(zip) + ")";
            break;
        }
        for (;;) {
            const zip_int64_t n = zip_fread(f, buf.data(), buf.size());
            if (n < 0) {
                cause = "parte " + std::string(name ? name : "?") + " danneggiata (" + zip_file_strerror(f) + ")";
                break;
            }
            if (n == 0)
                break;
            if (sheet) {
                // Keep the last 4 KiB: the last row and the closing tags are in them.
                tail.append(buf.data(), static_cast<std::size_t>(n));
                if (tail.size() > 8192)
                    tail.erase(0, tail.size() - 4096);
            }
        }
        zip_fclose(f);
        sawSheet = sawSheet || sheet;
    }
    zip_discard(zip);
    if (!cause.empty())
        return false;
    const std::size_t row = tail.rfind(kRowTag);
    if (!sawSheet || tail.size() < 12 || tail.compare(tail.size() - 12, 12, "</worksheet>") != 0) {
        cause = "il foglio è incompleto o manca";
        return false;
    }
    if (row != std::string::npos)
        lastRow = std::strtol(tail.c_str() + row + kRowTag.size(), nullptr, 10);
    return true;
}


// The result workbook, written without a workbook library: the sheet XML is made here, row
// by row, and deflated into the package as it grows (workbook_package.h). Cells are those the
// workbook library wrote before: texts inline, numbers as the C library's "%.16G" writes them
// (the same values read back), no styles, no column widths.
class XlsxResultWriter final : public ResultWriter, private detail::PackageFile {
public:
    explicit XlsxResultWriter(const std::string& path) : tmp_(path), package_(*this, kSheetLevel) {
        xml_.reserve(kXmlChunk + 64 * 1024);
        const std::time_t now = std::time(nullptr);
        std::tm created{};
        gmtime_r(&now, &created);
        package_.begin(created);
    }

    void writeHeader(const ResultHeader& h) override {
        l_ = layoutOf(h);
        const auto& s = l_.sel;
        if (s.inputSystem != s.outputSystem) {
            startRow(0);
            str(0, "Epoca Gr.");
            str(1, "RO-ED:" + l_.roEd);
            str(2, "RO-E89:" + l_.roE89);
            str(3, "E89-E2000:" + l_.e89E2000);
            if (l_.heights) {
                str(4, "Geoide:");
                str(5, l_.geoid);
            }
            if (l_.portionCount > 1) {
                str(6, "Porzioni:");
                str(7, std::to_string(l_.portionCount));
            }
            endRow();
        }
        sideRow(1, "Input:", s.inputSystem, s.inputKind, "Fuso indicato:", inputZoneName(s.inputSystem, s.inputZone));
        sideRow(2, "Output:", s.outputSystem, s.outputKind,
                "Fuso richiesto:", outputZoneName(s.outputSystem, s.outputZone));
        if (l_.heights) {
            startRow(3);
            str(0, "Quote:");
            str(1, "metri");
            if (l_.globalGeoid == 1) {
                str(2, "(geoidiche ");
                str(3, "(sul mod.");
                str(4, "globale)");
            }
            endRow();
        }
        startRow(4);
        str(0, kPointHeading);
        str(1, firstHeading(s.inputKind));
        str(2, secondHeading(s.inputKind));
        if (l_.heights)
            str(3, heightHeading(s.inputSystem));
        str(4, firstHeading(s.outputKind));
        str(5, secondHeading(s.outputKind));
        if (l_.heights)
            str(6, heightHeading(s.outputSystem));
        if (l_.reportLayout != 0)
            str(7, kZoneHeading);
        endRow();
        flushIfFull();
    }

    void writePoint(const DataPoint& in, const PointResult& r) override {
        if (nextRow_ >= kSheetRows)
            throwWrite(tmp_.shownPath(),
                       "Il foglio di Excel non può contenere più di " + std::to_string(kSheetRows - 5) + " punti");
        startRow(nextRow_++);
        str(0, in.name);
        number(1, in.first);
        number(2, in.second);
        if (l_.heights)
            number(3, in.height);
        if (isOutside(r)) {
            str(4, "Fuori Griglia");
            str(5, "Fuori Griglia");
            if (l_.heights)
                str(6, "Fuori Griglia");
        } else {
            number(4, r.outFirst);
            number(5, r.outSecond);
            if (l_.heights)
                number(6, r.hasHeight ? r.outHeight : 0.0);
            if (l_.reportLayout != 0)
                str(7, zoneField(l_, r));
        }
        endRow();
        flushIfFull();
    }

    void finish() override {
        if (finished_)
            return;
        xml_ += "</sheetData><pageMargins left=\"0.7\" right=\"0.7\" top=\"0.75\" bottom=\"0.75\" header=\"0.3\" "
                "footer=\"0.3\"/></worksheet>";
        flush();
        package_.finish(dimension());
        tmp_.commit();
        finished_ = true;
    }

private:
    static constexpr long kSheetRows = 1048576; // rows of an Excel sheet
    static constexpr int kSheetLevel = 1;       // deflate level of the sheet: the fastest
    static constexpr std::size_t kXmlChunk = 256 * 1024;
    static constexpr std::size_t kMaxCellChars = 32767;

    // detail::PackageFile
    void write(const char* p, std::size_t n) override { tmp_.write(p, n); }
    void writeAt(std::uint64_t offset, const char* p, std::size_t n) override { tmp_.writeAt(offset, p, n); }
    [[noreturn]] void fail(const std::string& cause) override {
        throwWrite(tmp_.shownPath(), "Errore nella scrittura della cartella di lavoro: " + cause);
    }

    void startRow(long row) {
        rowText_.clear();
        appendUnsigned(rowText_, static_cast<unsigned long>(row + 1));
        row_ = row;
        rowOpen_ = false;
    }
    void endRow() {
        if (rowOpen_)
            xml_ += "</row>";
    }
    // "<c r="B6"" for a cell of the current row, the row's own tag first.
    void cellStart(int col) {
        if (!rowOpen_) {
            xml_ += "<row r=\"";
            xml_ += rowText_;
            xml_ += "\">";
            rowOpen_ = true;
        }
        minRow_ = std::min(minRow_, row_);
        maxRow_ = std::max(maxRow_, row_);
        minCol_ = std::min(minCol_, col);
        maxCol_ = std::max(maxCol_, col);
        xml_ += "<c r=\"";
        xml_ += static_cast<char>('A' + col);
        xml_ += rowText_;
        xml_ += '"';
    }

    void str(int col, std::string_view s) {
        if (s.empty())
            return;
        const std::string& t = workbookText(s, scratch_);
        if (t.size() > kMaxCellChars && columnsOf(t) > kMaxCellChars)
            throwWrite(tmp_.shownPath(),
                       "Errore nella scrittura della cartella di lavoro: testo più lungo di 32767 caratteri");
        cellStart(col);
        const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; };
        xml_ += blank(t.front()) || blank(t.back()) ? " t=\"inlineStr\"><is><t xml:space=\"preserve\">"
                                                    : " t=\"inlineStr\"><is><t>";
        for (const char c : t) {
            switch (c) {
            case '&':
                xml_ += "&amp;";
                break;
            case '<':
                xml_ += "&lt;";
                break;
            case '>':
                xml_ += "&gt;";
                break;
            default:
                xml_ += c;
            }
        }
        xml_ += "</t></is></c>";
    }

    void number(int col, double v) {
        if (!std::isfinite(v)) {
            str(col, "Errore");
            return;
        }
        cellStart(col);
        xml_ += "><v>";
        detail::appendSheetNumber(xml_, v);
        xml_ += "</v></c>";
    }

    void sideRow(long row, std::string_view side, RefSystem system, CoordKind kind, std::string_view zoneCaption,
                 std::string_view zoneName) {
        startRow(row);
        str(0, "Coordinate");
        str(1, side);
        str(2, systemName(system));
        if (kind == CoordKind::Plane) {
            str(3, "metri");
            str(4, zoneCaption);
            str(5, zoneName);
        } else {
            str(3, "gradi");
            str(4, "sessag.");
        }
        endRow();
    }

    static void appendUnsigned(std::string& out, unsigned long v) {
        char digits[24];
        const auto r = std::to_chars(digits, digits + sizeof digits, v);
        out.append(digits, r.ptr);
    }

    std::string cellName(long row, int col) const {
        std::string s(1, static_cast<char>('A' + col));
        appendUnsigned(s, static_cast<unsigned long>(row + 1));
        return s;
    }

    // The used range, as the workbook library wrote it.
    std::string dimension() const {
        if (maxRow_ < 0)
            return "A1";
        if (minRow_ == maxRow_ && minCol_ == maxCol_)
            return cellName(minRow_, minCol_);
        return cellName(minRow_, minCol_) + ":" + cellName(maxRow_, maxCol_);
    }

    void flushIfFull() {
        if (xml_.size() >= kXmlChunk)
            flush();
    }
    void flush() {
        package_.sheetBytes(xml_.data(), xml_.size());
        xml_.clear();
    }

    TempFile tmp_;
    detail::SheetPackage package_;
    Layout l_;
    std::string xml_;
    std::string scratch_;
    std::string rowText_;
    long row_ = 0;
    bool rowOpen_ = false;
    long minRow_ = kSheetRows, maxRow_ = -1;
    int minCol_ = 16384, maxCol_ = -1;
    long nextRow_ = 5; // points from row 6
    bool finished_ = false;
};

} // namespace

namespace detail {
void appendSheetNumber(std::string& out, double v) {
    // std::to_chars with a precision writes what printf("%.16g") writes; the exponent's
    // letter is made upper case as "%.16G" writes it.
    char digits[32];
    const auto r = std::to_chars(digits, digits + sizeof digits, v, std::chars_format::general, 16);
    for (char* c = digits; c != r.ptr; ++c)
        if (*c == 'e')
            *c = 'E';
    out.append(digits, r.ptr);
}

void setNamedTemporaryFilesOnly(bool on) {
    forceNamedTemporaryFiles = on;
}
bool checkWrittenWorkbook(const std::string& path, long& lastRow, std::string& cause) {
    return checkWorkbookFile(path, lastRow, cause);
}
} // namespace detail

std::unique_ptr<ResultWriter> makeAsciiReportWriter(std::ostream& out) {
    return std::make_unique<AsciiReportWriter>(std::make_unique<StreamSink>(out));
}

std::unique_ptr<ResultWriter> makeResultFileWriter(const std::string& path, DataFileType type) {
    if (type == DataFileType::Ascii)
        return std::make_unique<AsciiReportWriter>(std::make_unique<FileSink>(path));
    return std::make_unique<XlsxResultWriter>(path);
}

std::string_view reportZoneText(const SelectionState& sel, const PointResult& r) {
    switch (reportLayoutOf(sel)) {
    case 1:
        return r.zoneMismatch ? "Altro" : "Vero";
    case 2:
        return r.zoneText ? std::string_view(r.zoneText) : std::string_view();
    default:
        return {};
    }
}

} // namespace dormal
