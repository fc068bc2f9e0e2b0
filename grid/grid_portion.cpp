#include "grid/grid_portion.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "geodesy/angles.h"
#include "grid/interpolation.h"
#include "grid/text_encoding.h"

namespace dormal {

namespace {

// A real portion is a few kilobytes; anything far larger is not a grid portion.
constexpr std::size_t kMaxFileBytes = 1024 * 1024;
// The longest item of a real portion is an epoch text of a few dozen characters.
constexpr std::size_t kMaxItemChars = 512;

constexpr double kClosingValue = -11.99;
constexpr double kClosingTolerance = 0.000001;

FileType fileTypeOf(mode_t mode) {
    if (S_ISDIR(mode)) {
        return FileType::Folder;
    }
    if (S_ISFIFO(mode)) {
        return FileType::Fifo;
    }
    if (S_ISSOCK(mode)) {
        return FileType::Socket;
    }
    if (S_ISCHR(mode) || S_ISBLK(mode)) {
        return FileType::Device;
    }
    return S_ISREG(mode) ? FileType::Regular : FileType::Other;
}

// Closes a descriptor on every way out of the read.
class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

GridLoadResult failure(GridLoadFailure why, const std::string& path, int errorNumber = 0,
                       FileType type = FileType::Regular) {
    GridLoadResult r;
    r.error = GridLoadError{why, errorNumber, type, path};
    return r;
}

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}
bool isLineEnd(char c) {
    return c == '\n' || c == '\r';
}

// Reads the file item by item. Items are separated by a comma or by line ends (several
// line ends in a row count as one); blanks around an item are dropped; an item that opens
// with a double quote runs to the closing quote and may hold commas and line ends.
class ItemReader {
public:
    explicit ItemReader(std::string_view text) : text_(text) {
        if (text_.substr(0, 3) == "\xEF\xBB\xBF") { // UTF-8 byte order mark
            pos_ = 3;
        }
    }

    // The next item, or nullopt at the end of the text or on a malformed item
    // (too long, quote not closed, characters after the closing quote).
    std::optional<std::string_view> next() {
        if (!atItemStart_) {
            return std::nullopt;
        }
        skipBlanksAndLineEnds();
        if (pos_ >= text_.size()) {
            return std::nullopt; // nothing left
        }
        std::string_view item;
        if (text_[pos_] == '"') {
            const std::size_t close = text_.find('"', pos_ + 1);
            if (close == std::string_view::npos) {
                return fail();
            }
            item = text_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
            while (pos_ < text_.size() && isBlank(text_[pos_])) {
                ++pos_;
            }
            if (pos_ < text_.size() && text_[pos_] != ',' && !isLineEnd(text_[pos_])) {
                return fail();
            }
        } else {
            const std::size_t start = pos_;
            while (pos_ < text_.size() && text_[pos_] != ',' && !isLineEnd(text_[pos_])) {
                ++pos_;
            }
            std::size_t end = pos_;
            while (end > start && isBlank(text_[end - 1])) {
                --end;
            }
            item = text_.substr(start, end - start);
        }
        if (item.size() > kMaxItemChars) {
            return fail();
        }
        if (pos_ < text_.size() && text_[pos_] == ',') {
            ++pos_; // the separator; a comma right before a line end ends the item too
        }
        return item;
    }

private:
    void skipBlanksAndLineEnds() {
        while (pos_ < text_.size() && (isBlank(text_[pos_]) || isLineEnd(text_[pos_]))) {
            ++pos_;
        }
    }
    std::optional<std::string_view> fail() {
        atItemStart_ = false;
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t pos_ = 0;
    bool atItemStart_ = true;
};

// A number with "." as the decimal separator, whatever the locale; the whole item must be
// the number. A leading "+" is accepted; infinities and NaN are not numbers here.
std::optional<double> parseNumber(std::string_view item) {
    if (!item.empty() && item.front() == '+') {
        item.remove_prefix(1);
        if (!item.empty() && (item.front() == '-' || item.front() == '+')) {
            return std::nullopt;
        }
    }
    if (item.empty()) {
        return std::nullopt;
    }
    double v = 0;
    const auto [ptr, ec] = std::from_chars(item.data(), item.data() + item.size(), v, std::chars_format::general);
    if (ec != std::errc() || ptr != item.data() + item.size() || !std::isfinite(v)) {
        return std::nullopt;
    }
    return v;
}

class PortionParser {
public:
    explicit PortionParser(std::string_view text) : items_(text) {}

    bool text(std::string* out) {
        const auto item = items_.next();
        if (!item) {
            return false;
        }
        if (out != nullptr) {
            // Texts of old portions may be in Windows Latin-1 rather than UTF-8.
            *out = utf8FromLatin1(*item);
        }
        return true;
    }

    bool number(double& out) {
        const auto item = items_.next();
        if (!item) {
            return false;
        }
        const auto v = parseNumber(*item);
        if (!v) {
            return false;
        }
        out = *v;
        return true;
    }

    // Nodes 1 to count of an array (index 0 stays unused).
    template <std::size_t N> bool nodes(std::array<double, N>& values, int count) {
        for (int k = 1; k <= count; ++k) {
            if (!number(values[static_cast<std::size_t>(k)])) {
                return false;
            }
        }
        return true;
    }

    // A 16-bit integer item, rounded to the nearest whole number (halves to even).
    bool integer16(std::int16_t& out) {
        double v = 0;
        if (!number(v)) {
            return false;
        }
        const double r = std::nearbyint(v);
        if (r < -32768.0 || r > 32767.0) {
            return false;
        }
        out = static_cast<std::int16_t>(r);
        return true;
    }

    ItemReader& items() { return items_; }

private:
    ItemReader items_;
};

// Reads every item of the layout into `g`. False for a damaged file.
bool readItems(std::string_view text, GridPortion& g) {
    PortionParser p(text);

    const auto kindWord = p.items().next();
    if (!kindWord) {
        return false;
    }
    if (*kindWord == "PUNTO") {
        g.kind = PortionKind::Vertex;
        g.planNodeCount = 16;
        g.geoidNodeCount = 80;
        g.planNodesPerRow = 4;
        g.geoidNodesPerRow = 10;
    } else if (*kindWord == "FOGLIO") {
        g.kind = PortionKind::Sheet;
        g.planNodeCount = 36;
        g.geoidNodeCount = 140;
        g.planNodesPerRow = 6;
        g.geoidNodesPerRow = 14;
    } else {
        return false;
    }
    const int n = g.planNodeCount;
    const int m = g.geoidNodeCount;

    double closing = 0;
    const bool complete = p.text(nullptr)                                             // 2 tag
                          && p.text(nullptr) && p.text(&g.roEdEpoch)                  // 3, 4
                          && p.nodes(g.roEdDLat, n) && p.nodes(g.roEdDLon, n)         // 5, 6
                          && p.text(nullptr) && p.text(&g.roE89Epoch)                 // 7, 8
                          && p.nodes(g.roE89DLat, n) && p.nodes(g.roE89DLon, n)       // 9, 10
                          && p.number(g.planOriginLat) && p.number(g.planOriginLon)   // 11, 12
                          && p.text(nullptr) && p.text(&g.e89E2000Epoch)              // 13, 14
                          && p.nodes(g.e89E2000DLat, n) && p.nodes(g.e89E2000DLon, n) // 15, 16
                          && p.nodes(g.e89E2000DH, n)                                 // 17
                          && p.number(g.e2000OriginLat) && p.number(g.e2000OriginLon) // 18, 19
                          && p.text(nullptr) && p.text(&g.geoidEpoch)                 // 20, 21
                          && p.nodes(g.geoidN, m)                                     // 22
                          && p.number(g.geoidOriginLat) && p.number(g.geoidOriginLon) // 23, 24
                          && p.integer16(g.globalGeoid)                               // 25
                          && p.number(closing);                                       // 26
    if (!complete) {
        return false;
    }
    // The closing value tells that the file held exactly the layout its first item
    // announced: one value too many or too few anywhere shifts it off -11.99.
    return std::fabs(closing - kClosingValue) <= kClosingTolerance;
}

std::string nameBeforeFirstStop(const std::string& fileName) {
    return fileName.substr(0, fileName.find('.'));
}

} // namespace

std::string gridPortionPath(const std::string& folder, const std::string& fileName) {
    if (folder.empty()) {
        return fileName;
    }
    if (folder.back() == '/') {
        return folder + fileName;
    }
    return folder + "/" + fileName;
}

GridLoadResult parseGridPortion(std::string_view text, const std::string& fileName) {
    if (text.size() > kMaxFileBytes) {
        return failure(GridLoadFailure::Damaged, {});
    }
    GridPortion g; // every node array starts at zero
    if (!readItems(text, g)) {
        return failure(GridLoadFailure::Damaged, {});
    }
    // 0 14' (vertex) or 0 18' (sheet): the geoid grid's 8 or 10 rows, 2' apart, above its south edge.
    g.geoidTopLat = g.geoidOriginLat + sexagesimalToDegrees(g.kind == PortionKind::Vertex ? 0.14 : 0.18);
    g.portionName = nameBeforeFirstStop(fileName);
    prepareInterpolation(g);
    GridLoadResult r;
    r.portion = std::move(g);
    return r;
}

GridLoadResult loadGridPortion(const std::string& folder, const std::string& fileName) {
    const std::string path = gridPortionPath(folder, fileName);
    // Opened without waiting, then checked: a FIFO (or a link to one) would block an
    // ordinary open until some writer came, and a device could be read for ever. Only a
    // regular file is read, through this very descriptor.
    const Descriptor fd(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0) {
        const int err = errno; // taken before anything else can change it
        return failure(GridLoadFailure::SystemError, path, err);
    }
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0) {
        const int err = errno;
        return failure(GridLoadFailure::SystemError, path, err);
    }
    if (!S_ISREG(st.st_mode)) {
        return failure(GridLoadFailure::NotARegularFile, path, 0, fileTypeOf(st.st_mode));
    }
    // Read at most one byte beyond the size limit: enough to tell that the file is too large.
    // The buffer starts at the file's size and one byte (a portion is a few kilobytes: a
    // buffer of the whole limit would cost a megabyte of fresh pages) and grows, up to the
    // limit and one byte, only if the file has more to read than it said.
    std::string text(std::min(static_cast<std::size_t>(std::max<off_t>(st.st_size, 0)), kMaxFileBytes) + 1, '\0');
    std::size_t got = 0;
    for (;;) {
        if (got == text.size()) {
            if (text.size() > kMaxFileBytes) {
                break;
            }
            text.resize(std::min(2 * text.size(), kMaxFileBytes + 1));
        }
        const ssize_t r = ::read(fd.get(), text.data() + got, text.size() - got);
        if (r < 0) {
            if (errno == EINTR) {
                continue;
            }
            const int err = errno;
            return failure(GridLoadFailure::SystemError, path, err);
        }
        if (r == 0) {
            break;
        }
        got += static_cast<std::size_t>(r);
    }
    text.resize(got);
    GridLoadResult r = parseGridPortion(text, fileName);
    if (!r.ok()) {
        r.error->path = path;
    }
    if (r.ok()) {
        r.portion->sourcePath = path;
    }
    return r;
}

} // namespace dormal
