// Opening a data file by type and content, and the helpers the readers share.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>

#include <fcntl.h>
#include <linux/magic.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include "conversion/data_source.h"
#include "conversion/formats.h"
#include "conversion/io_detail.h"
#include "conversion/system_error.h"

namespace dormal {
namespace detail {

namespace {

const char* fieldText(FieldSlot slot, CoordKind kind) {
    switch (slot) {
    case FieldSlot::Name:
        return "ERRORE NELLA LETTURA NEL NOME DEL PUNTO";
    case FieldSlot::First:
        return kind == CoordKind::Plane ? "ERRORE NELLA LETTURA NELLA COORD. NORD"
                                        : "ERRORE NELLA LETTURA NELLA LATITUDINE";
    case FieldSlot::Second:
        return kind == CoordKind::Plane ? "ERRORE NELLA LETTURA NELLA COOR. EST"
                                        : "ERRORE NELLA LETTURA NELLA LONGITUDINE";
    case FieldSlot::Height:
        break;
    }
    return "ERRORE NELLA LETTURA NELLA QUOTA";
}

} // namespace

void setReadingError(ReadEvent& ev, FieldSlot slot, CoordKind kind, long line) {
    ev.kind = ReadEvent::Kind::ReadingError;
    ev.message.icon = MessageIcon::Information;
    ev.message.title = kAppTitle;
    ev.message.lines.resize(2);
    ev.message.lines[0] = fieldText(slot, kind);
    // The number is written with one leading blank, the sign place of a positive number.
    ev.message.lines[1] = "ALLA RIGA:    ";
    ev.message.lines[1] += ' ';
    ev.message.lines[1] += std::to_string(line);
    ev.message.lines[1] += "    DEL FILE DI INPUT";
}

void setValueError(ReadEvent& ev, ValueFault fault, CoordKind kind, long line) {
    const FieldSlot slot = fault == ValueFault::First    ? FieldSlot::First
                           : fault == ValueFault::Second ? FieldSlot::Second
                                                         : FieldSlot::Height;
    const double value = fault == ValueFault::First    ? ev.point.first
                         : fault == ValueFault::Second ? ev.point.second
                                                       : ev.point.height;
    setReadingError(ev, slot, kind, line);
    ev.message.lines.push_back(valueNotAllowedLine(value));
}

std::string valueNotAllowedLine(double value) {
    // Fixed notation as far as it stays readable, then the exponent form; the shortest digits
    // that read back to the value.
    char buf[64];
    const std::chars_format form = std::fabs(value) < 1e15 ? std::chars_format::fixed : std::chars_format::scientific;
    const std::to_chars_result r = std::to_chars(buf, buf + sizeof buf, value, form);
    std::string line = "VALORE NON CONSENTITO: ";
    if (!std::signbit(value))
        line += ' ';
    line.append(buf, r.ptr);
    return line;
}

Message openFailureMessage(const std::string& path, const std::string& cause) {
    Message m;
    m.icon = MessageIcon::Warning;
    m.title = kAppTitle;
    m.lines = {"IMPOSSIBILE APRIRE IL FILE DEI DATI", path, cause};
    return m;
}

Message readFailureMessage(const std::string& path, const std::string& cause) {
    Message m;
    m.icon = MessageIcon::Warning;
    m.title = kAppTitle;
    m.lines = {"ERRORE NELLA LETTURA DEL FILE DEI DATI", path, cause};
    return m;
}

void setFailure(ReadEvent& ev, const std::string& path, const std::string& cause) {
    ev.kind = ReadEvent::Kind::Failure;
    ev.message = readFailureMessage(path, cause);
}

void numberAsName(double v, std::string& out) {
    char buf[64];
    std::to_chars_result r{};
    if (std::isfinite(v) && v == std::trunc(v) && std::fabs(v) < 1e15)
        r = std::to_chars(buf, buf + sizeof buf, static_cast<long long>(v));
    else
        r = std::to_chars(buf, buf + sizeof buf, v);
    out.assign(buf, r.ptr);
}

bool parseCellText(std::string_view text, double& value) {
    std::size_t b = 0;
    std::size_t e = text.size();
    while (b < e && (text[b] == ' ' || text[b] == '\t'))
        ++b;
    while (e > b && (text[e - 1] == ' ' || text[e - 1] == '\t'))
        --e;
    if (b == e) {
        value = 0;
        return true;
    }
    char buf[128];
    if (e - b > sizeof buf)
        return false;
    std::size_t n = 0;
    for (std::size_t i = b; i < e; ++i)
        buf[n++] = text[i] == ',' ? '.' : text[i];
    return parseWholeNumber(std::string_view(buf, n), value);
}

} // namespace detail

namespace {

bool startsWith(const unsigned char* head, std::size_t n, std::initializer_list<unsigned char> magic) {
    if (n < magic.size())
        return false;
    std::size_t i = 0;
    for (const unsigned char c : magic)
        if (head[i++] != c)
            return false;
    return true;
}

// The descriptor of an opened data file, closed with the last reader that holds it.
class DataFd {
public:
    explicit DataFd(int fd) : fd_(fd) {}
    ~DataFd() { ::close(fd_); }
    DataFd(const DataFd&) = delete;
    DataFd& operator=(const DataFd&) = delete;

    // The first read waits until there is something to read or the writer has gone.
    void waitForWriter() { waitForWriter_ = true; }

    long read(char* to, std::size_t n) {
        if (waitForWriter_) {
            // A FIFO opened without blocking: wait, as a blocking open and read would, until
            // a writer sends data or has come and gone (then the read below sees the end).
            waitForWriter_ = false;
            pollfd p{fd_, POLLIN, 0};
            while (::poll(&p, 1, -1) < 0 && errno == EINTR) {
            }
        }
        for (;;) {
            const ssize_t got = ::read(fd_, to, n);
            if (got >= 0)
                return static_cast<long>(got);
            if (errno != EINTR)
                return -1;
        }
    }

private:
    int fd_;
    bool waitForWriter_ = false;
};

// Why a file that is not a regular file is refused, in Italian.
std::string notRegularCause(mode_t mode) {
    if (S_ISFIFO(mode))
        return "Non è un file regolare ma una pipe (FIFO)";
    if (S_ISCHR(mode) || S_ISBLK(mode))
        return "Non è un file regolare ma un dispositivo";
    if (S_ISSOCK(mode))
        return "Non è un file regolare ma un socket";
    return "Non è un file regolare";
}

} // namespace

std::unique_ptr<DataSource> openDataFile(const std::string& path, DataFileType type, const DataReadOptions& opt,
                                         Message& failure) {
    // Opened without blocking, so that a FIFO with no writer cannot hold the caller; what
    // the descriptor is decides the rest.
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        failure = detail::openFailureMessage(path, systemErrorText(errno));
        return nullptr;
    }
    // Owns the descriptor from here on.
    auto file = std::make_shared<DataFd>(fd);
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        failure = detail::openFailureMessage(path, systemErrorText(errno));
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        failure = detail::openFailureMessage(path, systemErrorText(EISDIR));
        return nullptr;
    }
    if (!S_ISREG(st.st_mode)) {
        if (type == DataFileType::Excel) {
            failure = detail::openFailureMessage(
                path, notRegularCause(st.st_mode) + ": una cartella di lavoro si legge solo da un file su disco");
            return nullptr;
        }
        if (!opt.allowStreams) {
            failure = detail::openFailureMessage(path, notRegularCause(st.st_mode));
            return nullptr;
        }
    }
    // From here on reads wait for data, as any program reading a pipe does.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
        failure = detail::openFailureMessage(path, systemErrorText(errno));
        return nullptr;
    }

    if (type == DataFileType::Ascii) {
        // Read from this descriptor from its first byte: nothing is probed, nothing lost. A
        // named FIFO waits for its writer; an anonymous pipe (/dev/stdin, <(...)) has one.
        struct statfs fs {};
        if (S_ISFIFO(st.st_mode) && ::fstatfs(fd, &fs) == 0 && fs.f_type != PIPEFS_MAGIC)
            file->waitForWriter();
        return detail::makeAsciiSourceFromReader([file](char* to, std::size_t n) { return file->read(to, n); }, opt,
                                                 path);
    }

    // Workbooks are told apart by their content, whatever the extension says: a zip
    // package (.xlsx, .xlsm) or an OLE2 compound file (.xls).
    unsigned char head[8] = {};
    ssize_t got = 0;
    while ((got = ::pread(fd, head, sizeof head, 0)) < 0 && errno == EINTR) {
    }
    if (got < 0) {
        failure = detail::openFailureMessage(path, systemErrorText(errno));
        return nullptr;
    }
    file.reset();
    const auto n = static_cast<std::size_t>(got);
    if (startsWith(head, n, {'P', 'K', 0x03, 0x04}))
        return openXlsxSource(path, opt, failure);
    if (startsWith(head, n, {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1}))
        return openXlsSource(path, opt, failure);
    failure = detail::openFailureMessage(
        path, n == 0 ? "Il file è vuoto"
                     : "Il file non è una cartella di lavoro di Excel (.xlsx o .xls); per un file di testo "
                       "scegliere il tipo Ascii");
    return nullptr;
}

} // namespace dormal
