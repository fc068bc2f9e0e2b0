// Opening a data file by type and content, and the helpers the readers share.
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstring>
#include <fstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "conversion/data_source.h"
#include "conversion/formats.h"
#include "conversion/io_detail.h"

namespace dormal {
namespace detail {

namespace {

const char* fieldText(FieldSlot slot, CoordKindCode kind) {
    switch (slot) {
    case FieldSlot::First:
        return kind == kPlane ? "ERRORE NELLA LETTURA NELLA COORD. NORD" : "ERRORE NELLA LETTURA NELLA LATITUDINE";
    case FieldSlot::Second:
        return kind == kPlane ? "ERRORE NELLA LETTURA NELLA COOR. EST" : "ERRORE NELLA LETTURA NELLA LONGITUDINE";
    case FieldSlot::Height:
        break;
    }
    return "ERRORE NELLA LETTURA NELLA QUOTA";
}

} // namespace

void setReadingError(ReadEvent& ev, FieldSlot slot, CoordKindCode kind, long line) {
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

std::string systemErrorText(int err) {
    switch (err) {
    case ENOENT:
        return "Il file o la cartella non esiste";
    case EACCES:
    case EPERM:
        return "Permesso negato";
    case EISDIR:
        return "Il percorso indica una cartella, non un file";
    case ENOTDIR:
        return "Una parte del percorso non è una cartella";
    case ENOSPC:
        return "Spazio esaurito sul disco";
    case EDQUOT:
        return "Quota del disco superata";
    case EROFS:
        return "Il disco è di sola lettura";
    case EIO:
        return "Errore di ingresso/uscita del disco";
    case ENAMETOOLONG:
        return "Nome del file troppo lungo";
    case EMFILE:
    case ENFILE:
        return "Troppi file aperti";
    case EFBIG:
        return "File troppo grande";
    case ENOMEM:
        return "Memoria insufficiente";
    case EXDEV:
        return "Il file temporaneo e il file dei risultati sono su dischi diversi";
    default:
        break;
    }
    return std::string("Errore di sistema: ") + std::strerror(err);
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

} // namespace

std::unique_ptr<DataSource> openDataFile(const std::string& path, DataFileType type, const DataReadOptions& opt,
                                         Message& failure) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        failure = detail::openFailureMessage(path, detail::systemErrorText(errno));
        return nullptr;
    }
    if (S_ISDIR(st.st_mode)) {
        failure = detail::openFailureMessage(path, detail::systemErrorText(EISDIR));
        return nullptr;
    }
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        failure = detail::openFailureMessage(path, detail::systemErrorText(errno));
        return nullptr;
    }
    unsigned char head[8] = {};
    const ssize_t got = ::read(fd, head, sizeof head);
    const int readErr = errno;
    ::close(fd);
    if (got < 0) {
        failure = detail::openFailureMessage(path, detail::systemErrorText(readErr));
        return nullptr;
    }
    const auto n = static_cast<std::size_t>(got);

    if (type == DataFileType::Ascii) {
        auto in = std::make_unique<std::ifstream>(path, std::ios::binary);
        if (!*in) {
            failure = detail::openFailureMessage(path, detail::systemErrorText(errno ? errno : EIO));
            return nullptr;
        }
        return detail::makeOwningAsciiSource(std::move(in), opt, path);
    }

    // Workbooks are told apart by their content, whatever the extension says: a zip
    // package (.xlsx, .xlsm) or an OLE2 compound file (.xls).
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
