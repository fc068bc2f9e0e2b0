// The .xls data-file reader: first sheet, rows from 2, columns A to D, ending at the first
// row whose A cell is empty. FreeXL, the reader of the format, crashes on some damaged
// files, so it runs in a helper process (dormal2k-xls-reader, conversion/xls_reader_main.cpp)
// that sends the cells over a pipe (conversion/xls_wire.h); this side checks every byte it
// receives, and a helper that dies, hangs or sends nonsense only makes the file unreadable.
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <string>

#include <fcntl.h>
#include <freexl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "conversion/data_source.h"
#include "conversion/formats.h"
#include "conversion/io_detail.h"
#include "conversion/system_error.h"
#include "conversion/xls_wire.h"

extern char** environ;

namespace dormal {

namespace {

using detail::FieldSlot;
namespace wire = xlswire;

// The cause given for a file the helper could not read to its end.
constexpr const char* kDamaged = "file .xls danneggiato o non leggibile";

std::string freexlCause(int code) {
    switch (code) {
    case FREEXL_FILE_NOT_FOUND:
        return "Il file non esiste o non è leggibile";
    case FREEXL_INSUFFICIENT_MEMORY:
        return "Memoria insufficiente";
    case FREEXL_INVALID_CFBF_HEADER:
    case FREEXL_CFBF_INVALID_SIGNATURE:
        return "Il file non è una cartella di lavoro .xls valida";
    case FREEXL_BIFF_WORKBOOK_NOT_FOUND:
        return "Il file non contiene una cartella di lavoro di Excel";
    case FREEXL_BIFF_ILLEGAL_SHEET_INDEX:
        return "La cartella di lavoro non contiene fogli di lavoro";
    case FREEXL_UNSUPPORTED_CHARSET:
    case FREEXL_INVALID_CHARACTER:
        return "La cartella di lavoro usa una codifica dei caratteri non supportata";
    case FREEXL_CRAFTED_FILE:
        return "La cartella di lavoro è gravemente danneggiata (file rifiutato)";
    default:
        break;
    }
    return "La cartella di lavoro .xls è danneggiata (codice FreeXL " + std::to_string(code) + ")";
}

// The text an error cell shows.
const char* errorText(std::uint8_t code) {
    switch (code) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    case 0x2A:
        return "#N/A";
    default:
        break;
    }
    return "#ERRORE";
}

// ---------------------------------------------------------------------------------------
// Finding the helper.

std::string dirOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash);
}

bool executable(const std::string& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && ::access(path.c_str(), X_OK) == 0;
}

// Beside the running program, then in ../libexec/dormal2k/ (an installed layout), then where
// the build put it (test programs live elsewhere in the build tree). Empty when not found.
std::string helperPath() {
    char self[4096];
    const ssize_t n = ::readlink("/proc/self/exe", self, sizeof self - 1);
    std::vector<std::string> candidates;
    if (n > 0) {
        const std::string dir = dirOf(std::string(self, static_cast<std::size_t>(n)));
        candidates.push_back(dir + "/" + wire::kHelperName);
        candidates.push_back(dir + "/../libexec/dormal2k/" + wire::kHelperName);
    }
#ifdef DORMAL2K_XLS_READER_BUILD_PATH
    candidates.emplace_back(DORMAL2K_XLS_READER_BUILD_PATH);
#endif
    for (const std::string& c : candidates)
        if (executable(c))
            return c;
    return {};
}

// ---------------------------------------------------------------------------------------
// The helper process and its pipe.

class Helper {
public:
    Helper() = default;
    Helper(const Helper&) = delete;
    Helper& operator=(const Helper&) = delete;
    ~Helper() { stop(); }

    // Starts the helper on `path`; false with errno's value in `err` when it cannot start.
    bool start(const std::string& exe, const std::string& path, int& err) {
        int fds[2];
        if (::pipe2(fds, O_CLOEXEC) != 0) {
            err = errno;
            return false;
        }
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_adddup2(&actions, fds[1], 1);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        posix_spawn_file_actions_addclosefrom_np(&actions, 3);
        posix_spawnattr_t attr;
        posix_spawnattr_init(&attr);
        // Signals the calling program blocks or ignores (SIGPIPE, often) back to normal.
        sigset_t none, all;
        sigemptyset(&none);
        sigfillset(&all);
        posix_spawnattr_setsigmask(&attr, &none);
        posix_spawnattr_setsigdefault(&attr, &all);
        posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
        std::string exeArg = exe;
        std::string pathArg = path;
        char* argv[] = {exeArg.data(), pathArg.data(), nullptr};
        const int rc = ::posix_spawn(&pid_, exe.c_str(), &actions, &attr, argv, environ);
        posix_spawnattr_destroy(&attr);
        posix_spawn_file_actions_destroy(&actions);
        ::close(fds[1]);
        if (rc != 0) {
            pid_ = -1;
            ::close(fds[0]);
            err = rc;
            return false;
        }
        fd_ = fds[0];
        ::fcntl(fd_, F_SETFL, ::fcntl(fd_, F_GETFL) | O_NONBLOCK);
        return true;
    }

    // Ends the helper (whatever it is doing) and collects it.
    void stop() {
        if (fd_ >= 0) {
            ::close(fd_);
            fd_ = -1;
        }
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            int status = 0;
            while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
            }
            pid_ = -1;
        }
    }

    // Makes at least `n` unread bytes available; false when the helper ends, fails or
    // stays silent past the deadline first.
    bool need(std::size_t n) {
        if (buf_.size() - pos_ >= n)
            return true;
        if (pos_ > 0) {
            buf_.erase(0, pos_);
            pos_ = 0;
        }
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(wire::kMessageDeadlineMs);
        while (buf_.size() < n) {
            if (fd_ < 0)
                return false;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                return false;
            pollfd p{fd_, POLLIN, 0};
            const int ready = ::poll(&p, 1, static_cast<int>(std::min<long long>(left, 1000)));
            if (ready < 0 && errno != EINTR)
                return false;
            if (ready <= 0)
                continue;
            char chunk[65536];
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got > 0)
                buf_.append(chunk, static_cast<std::size_t>(got));
            else if (got == 0 || (errno != EAGAIN && errno != EINTR))
                return false; // the helper closed its end: it has ended
        }
        return true;
    }

    std::uint8_t u8() { return static_cast<std::uint8_t>(buf_[pos_++]); }
    std::uint32_t u32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i)
            v |= static_cast<std::uint32_t>(u8()) << (8 * i);
        return v;
    }
    double f64() {
        std::uint64_t v = 0;
        for (int i = 0; i < 8; ++i)
            v |= static_cast<std::uint64_t>(u8()) << (8 * i);
        double d = 0;
        std::memcpy(&d, &v, sizeof d);
        return d;
    }
    void take(std::size_t n, std::string& out) {
        out.assign(buf_, pos_, n);
        pos_ += n;
    }

private:
    pid_t pid_ = -1;
    int fd_ = -1;
    std::string buf_; // received bytes; those before pos_ are read
    std::size_t pos_ = 0;
};

struct Cell {
    std::uint8_t type = wire::kEmpty;
    double number = 0;
    std::uint8_t code = 0;
    std::string text;
};

// One cell off the pipe; false when the bytes are not a cell.
bool readCell(Helper& h, Cell& c) {
    if (!h.need(1))
        return false;
    c.type = h.u8();
    switch (c.type) {
    case wire::kEmpty:
    case wire::kNoValue:
        return true;
    case wire::kNumber:
        if (!h.need(8))
            return false;
        c.number = h.f64();
        return true;
    case wire::kText:
    case wire::kDateTime: {
        if (!h.need(4))
            return false;
        const std::uint32_t len = h.u32();
        if (len > detail::kMaxCellTextBytes || !h.need(len))
            return false;
        h.take(len, c.text);
        return true;
    }
    case wire::kBool:
    case wire::kError:
        if (!h.need(1))
            return false;
        c.code = h.u8();
        return c.type == wire::kError || c.code <= 1;
    default:
        return false;
    }
}

class XlsSource final : public DataSource {
public:
    XlsSource(std::unique_ptr<Helper> helper, std::string name, const DataReadOptions& opt)
        : helper_(std::move(helper)), name_(std::move(name)), opt_(opt), check_(detail::valueCheckOf(opt)) {}

    // Reads up to the first row, or the end: a helper that fails before then fails the
    // opening. False with `cause` then.
    bool prime(std::string& cause) {
        auto& h = *helper_;
        char magic[sizeof wire::kMagic];
        if (!h.need(sizeof magic + 1)) {
            cause = kDamaged;
            return false;
        }
        for (char& m : magic)
            m = static_cast<char>(h.u8());
        if (std::memcmp(magic, wire::kMagic, sizeof magic) != 0) {
            cause = kDamaged;
            return false;
        }
        const std::uint8_t tag = h.u8();
        if (tag == wire::kOpenFailed) {
            cause = h.need(4) ? freexlCause(static_cast<int>(h.u32())) : kDamaged;
            return false;
        }
        if (tag != wire::kStarted || !readMessage()) {
            cause = kDamaged;
            return false;
        }
        return true;
    }

    void next(ReadEvent& ev) override {
        if (state_ == State::Done) {
            ev.kind = ReadEvent::Kind::End;
            return;
        }
        if (state_ == State::Idle && !readMessage()) {
            finish();
            detail::setFailure(ev, name_, kDamaged);
            return;
        }
        state_ = State::Idle;
        if (!haveRow_ || !nameOf(cells_[0], ev.point.name)) {
            finish();
            ev.kind = ReadEvent::Kind::End;
            return;
        }
        if (cells_[0].type == wire::kNoValue) {
            detail::setReadingError(ev, FieldSlot::Name, opt_.inputKind, row_);
            return;
        }
        static constexpr FieldSlot kSlots[3] = {FieldSlot::First, FieldSlot::Second, FieldSlot::Height};
        double* out[3] = {&ev.point.first, &ev.point.second, &ev.point.height};
        for (int col = 1; col <= 3; ++col) {
            if (!numberOf(cells_[col], *out[col - 1])) {
                detail::setReadingError(ev, kSlots[col - 1], opt_.inputKind, row_);
                return;
            }
        }
        if (detail::refuseImpossibleValues(ev, check_, opt_.inputKind, row_))
            return;
        ev.kind = ReadEvent::Kind::Point;
    }

private:
    enum class State { Pending, Idle, Done };

    // The next row (haveRow_) or the end (not haveRow_); false on anything else.
    bool readMessage() {
        auto& h = *helper_;
        if (!h.need(1))
            return false;
        const std::uint8_t tag = h.u8();
        if (tag == wire::kEnd) {
            haveRow_ = false;
            return true;
        }
        if (tag != wire::kRow || !h.need(4))
            return false;
        const std::uint32_t row = h.u32();
        if (row != static_cast<std::uint32_t>(row_ + 1) || row > wire::kMaxRow)
            return false;
        for (Cell& c : cells_)
            if (!readCell(h, c))
                return false;
        row_ = row;
        haveRow_ = true;
        return true;
    }

    void finish() {
        state_ = State::Done;
        helper_->stop();
    }

    // The name a row's A cell gives; false when the cell is empty (the end of the data).
    // A formula without a stored result names nothing but does not end the data either.
    static bool nameOf(const Cell& c, std::string& out) {
        out.clear();
        switch (c.type) {
        case wire::kNumber:
            detail::numberAsName(c.number, out);
            break;
        case wire::kText:
        case wire::kDateTime:
            out = c.text;
            break;
        case wire::kBool:
            out = c.code != 0 ? "VERO" : "FALSO";
            break;
        case wire::kError:
            out = errorText(c.code);
            break;
        case wire::kNoValue:
            return true;
        default:
            break;
        }
        return !out.empty();
    }

    // The number of a B, C or D cell; false when it is not a number.
    static bool numberOf(const Cell& c, double& out) {
        out = 0;
        switch (c.type) {
        case wire::kEmpty:
            return true; // an empty cell reads as 0
        case wire::kNumber:
            out = c.number;
            return std::isfinite(out);
        case wire::kText:
            return detail::parseCellText(c.text, out);
        default:
            return false; // booleans, dates and times, errors, formulas without a result
        }
    }

    std::unique_ptr<Helper> helper_;
    std::string name_;
    DataReadOptions opt_;
    PointValueCheck check_;
    State state_ = State::Pending; // Pending: the row read by prime() is not given out yet
    Cell cells_[wire::kColumns];
    long row_ = 1; // the row last received
    bool haveRow_ = false;
};

} // namespace

std::unique_ptr<DataSource> openXlsSource(const std::string& path, const DataReadOptions& opt, Message& failure) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        failure = detail::openFailureMessage(path, systemErrorText(errno));
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        failure = detail::openFailureMessage(path, systemErrorText(S_ISDIR(st.st_mode) ? EISDIR : EINVAL));
        return nullptr;
    }
    // FreeXL reads the whole file into memory.
    if (static_cast<unsigned long long>(st.st_size) > detail::kMaxXlsFileBytes) {
        failure = detail::openFailureMessage(path, "File .xls troppo grande (" + std::to_string(st.st_size) +
                                                       " byte): file rifiutato");
        return nullptr;
    }
    const std::string exe = helperPath();
    if (exe.empty()) {
        failure = detail::openFailureMessage(path, std::string("Programma di lettura dei file .xls (") +
                                                       xlswire::kHelperName + ") non trovato");
        return nullptr;
    }
    auto helper = std::make_unique<Helper>();
    int err = 0;
    if (!helper->start(exe, path, err)) {
        failure = detail::openFailureMessage(path, std::string("Impossibile avviare ") + xlswire::kHelperName +
                                                       ": " + systemErrorText(err));
        return nullptr;
    }
    auto source = std::make_unique<XlsSource>(std::move(helper), path, opt);
    std::string cause;
    if (!source->prime(cause)) {
        failure = detail::openFailureMessage(path, cause);
        return nullptr;
    }
    return source;
}

} // namespace dormal
