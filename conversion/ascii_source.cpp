// The ASCII data-file reader: one point a line, read in large blocks and parsed in place.
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>

#include "conversion/data_source.h"
#include "conversion/formats.h"
#include "conversion/io_detail.h"
#include "grid/text_encoding.h"

namespace dormal {

namespace {

using detail::FieldSlot;

constexpr std::size_t kBlockSize = 256 << 10;      // bytes read from the stream at a time
constexpr std::size_t kFirstBlockSize = 128 << 10; // a small file needs no larger buffer
constexpr std::size_t kMaxLine = 64 * 1024;        // a longer line is a reading error

// Splits the next blank-separated token off [p, e): returns it and moves p past it and the
// blanks that follow.
std::string_view nextToken(char*& p, char* e) {
    char* b = p;
    while (p < e && *p != ' ')
        ++p;
    std::string_view tok(b, static_cast<std::size_t>(p - b));
    while (p < e && *p == ' ')
        ++p;
    return tok;
}

// What a line holds beyond plain printable ASCII, read eight bytes at a time.
struct LineBytes {
    bool special = false;  // a NUL, a tab or a comma: the line needs the careful pass
    bool nonAscii = false; // a byte above 127: the name may need re-encoding
};

constexpr std::uint64_t kOnes = 0x0101010101010101ULL;
constexpr std::uint64_t kHighs = 0x8080808080808080ULL;

// Whether a byte of `x` is zero (exact for the word as a whole).
constexpr std::uint64_t zeroByte(std::uint64_t x) {
    return (x - kOnes) & ~x & kHighs;
}

LineBytes scanLine(const char* p, std::size_t len) {
    std::uint64_t special = 0, high = 0;
    const auto word = [&](std::uint64_t x) {
        special |= zeroByte(x) | zeroByte(x ^ (kOnes * '\t')) | zeroByte(x ^ (kOnes * ','));
        high |= x & kHighs;
    };
    std::size_t i = 0;
    for (; i + 8 <= len; i += 8) {
        std::uint64_t x;
        std::memcpy(&x, p + i, 8);
        word(x);
    }
    // The last bytes one by one: copied into a blank word and read back as one, they made
    // the load wait for the copy's small stores (a stall that cost more than the rest).
    for (; i < len; ++i) {
        const auto c = static_cast<unsigned char>(p[i]);
        special |= static_cast<std::uint64_t>(c == 0 || c == '\t' || c == ',');
        high |= c & 0x80U;
    }
    return {special != 0, high != 0};
}

class AsciiSource final : public DataSource {
public:
    AsciiSource(detail::ByteReader read, const DataReadOptions& opt, std::string name)
        : read_(std::move(read)), opt_(opt), check_(detail::valueCheckOf(opt)), name_(std::move(name)),
          buf_(new char[kFirstBlockSize]) {}

    void next(ReadEvent& ev) override {
        if (done_) {
            ev.kind = ReadEvent::Kind::End;
            return;
        }
        for (;;) {
            char* line = nullptr;
            std::size_t len = 0;
            bool overlong = false;
            if (!nextLine(line, len, overlong)) {
                done_ = true;
                if (failed_)
                    detail::setFailure(ev, name_, "Errore di lettura (ingresso/uscita)");
                else
                    ev.kind = ReadEvent::Kind::End;
                return;
            }
            ++lineNumber_;
            if (lineNumber_ == 1 && len >= 3 && std::memcmp(line, "\xEF\xBB\xBF", 3) == 0) {
                // A UTF-8 byte-order mark, as some editors write it, is not part of the name.
                line += 3;
                len -= 3;
            }
            if (parseLine(line, len, overlong, ev))
                return;
        }
    }

private:
    static constexpr std::size_t kUnknown = static_cast<std::size_t>(-1);

    // Returns true when `ev` is filled (a point, a reading error or a failure).
    bool parseLine(char* p, std::size_t len, bool overlong, ReadEvent& ev) {
        const LineBytes bytes = scanLine(p, len);
        if (bytes.special && std::memchr(p, '\0', len)) {
            // Text files hold no NUL bytes: this is a binary file (or UTF-16 text).
            done_ = true;
            detail::setFailure(ev, name_,
                               "Il file non è un file di testo (contiene caratteri binari alla riga " +
                                   std::to_string(lineNumber_) + "; un testo UTF-16 va salvato come ANSI o UTF-8)");
            return true;
        }
        char* e = p + len;
        while (p < e && *p == ' ')
            ++p;
        if (p == e || *p == '/' || *p == '\'')
            return false; // empty or comment
        if (overlong) {
            detail::setReadingError(ev, FieldSlot::First, opt_.inputKind, lineNumber_);
            return true;
        }
        if (bytes.special) {
            for (char* c = p; c < e; ++c) {
                if (*c == '\t')
                    *c = ' ';
                else if (*c == ',')
                    *c = '.';
            }
        }
        while (p < e && *p == ' ')
            ++p;
        if (p == e)
            return false;

        const std::string_view name = nextToken(p, e);
        ev.point.name.assign(name.data(), name.size());
        // Names go into UTF-8 reports and workbooks; files from older Windows programs spell
        // accented names in Windows Latin-1.
        if (bytes.nonAscii)
            makeUtf8(ev.point.name);
        if (!readValue(p, e, ev.point.first, FieldSlot::First, ev) ||
            !readValue(p, e, ev.point.second, FieldSlot::Second, ev))
            return true;
        ev.point.height = 0;
        if (opt_.readHeight && !readValue(p, e, ev.point.height, FieldSlot::Height, ev))
            return true;
        if (detail::refuseImpossibleValues(ev, check_, opt_.inputKind, lineNumber_))
            return true;
        ev.kind = ReadEvent::Kind::Point;
        return true;
    }

    bool readValue(char*& p, char* e, double& out, FieldSlot slot, ReadEvent& ev) {
        if (p == e) {
            detail::setReadingError(ev, slot, opt_.inputKind, lineNumber_);
            return false;
        }
        // The usual short decimal is read in place; any other form as a whole token.
        if (const char* q = parseShortDataField(p, e, out)) {
            p += q - p;
            while (p < e && *p == ' ')
                ++p;
            return true;
        }
        const std::string_view tok = nextToken(p, e);
        if (!parseWholeNumber(tok, out)) {
            detail::setReadingError(ev, slot, opt_.inputKind, lineNumber_);
            return false;
        }
        return true;
    }

    // Reads more input after the unread bytes; false at the end of the input or on a read
    // error (then `failed_`). A reader may give fewer bytes than asked (a pipe, a terminal).
    bool fill() {
        if (eof_)
            return false;
        if (pos_ > 0) {
            std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
            end_ -= pos_;
            pos_ = 0;
        }
        if (cap_ < kBlockSize && filledOnce_) {
            // The input goes on beyond the first block: read it in large blocks.
            std::unique_ptr<char[]> big(new char[kBlockSize]);
            std::memcpy(big.get(), buf_.get(), end_);
            buf_ = std::move(big);
            cap_ = kBlockSize;
        }
        lfAt_ = crAt_ = kUnknown; // the bytes moved
        filledOnce_ = true;
        const long got = read_(buf_.get() + end_, cap_ - end_);
        if (got <= 0) {
            eof_ = true;
            failed_ = got < 0;
            return false;
        }
        end_ += static_cast<std::size_t>(got);
        return true;
    }

    // Offset of the first CR or LF at or after pos_, or end_ when there is none in the
    // buffer. Each kind is searched once per occurrence, so a file with only CR (or only LF)
    // line ends is not scanned again for the other kind at every line.
    std::size_t lineEnd() {
        char* b = buf_.get();
        if (lfAt_ == kUnknown || lfAt_ < pos_) {
            const void* f = std::memchr(b + pos_, '\n', end_ - pos_);
            lfAt_ = f ? static_cast<std::size_t>(static_cast<const char*>(f) - b) : end_;
        }
        if (crAt_ == kUnknown || crAt_ < pos_) {
            const void* f = std::memchr(b + pos_, '\r', end_ - pos_);
            crAt_ = f ? static_cast<std::size_t>(static_cast<const char*>(f) - b) : end_;
        }
        return lfAt_ < crAt_ ? lfAt_ : crAt_;
    }

    // Moves past the line end at offset `at`. A CR is a line end of its own; an LF right
    // after it (CR LF), even in the next block, belongs to the same line end.
    void passLineEnd(std::size_t at) {
        pos_ = at + 1;
        skipLf_ = buf_[at] == '\r';
    }

    // The next line, without its line end (LF, CR or CR LF); `overlong` when it exceeds
    // kMaxLine: then only its first kMaxLine bytes are given (and the rest of a line not yet
    // read to its end is skipped at the next call).
    bool nextLine(char*& line, std::size_t& len, bool& overlong) {
        overlong = false;
        for (;;) {
            if (skipping_) {
                // The rest of an overlong line: the caller is done with its head.
                const std::size_t at = lineEnd();
                if (at == end_) {
                    pos_ = end_;
                    if (!fill())
                        return false;
                    continue;
                }
                passLineEnd(at);
                skipping_ = false;
            }
            if (skipLf_) {
                if (pos_ == end_) {
                    if (!fill())
                        return false;
                    continue;
                }
                if (buf_[pos_] == '\n')
                    ++pos_;
                skipLf_ = false;
            }
            const std::size_t at = lineEnd();
            char* b = buf_.get() + pos_;
            if (at < end_) {
                line = b;
                len = at - pos_;
                passLineEnd(at);
                overlong = len > kMaxLine;
                if (overlong)
                    len = kMaxLine; // only the head, however the line arrived
                return true;
            }
            if (end_ - pos_ > kMaxLine) {
                // No line end within the bound: give the head, drop the rest of the line.
                line = b;
                len = kMaxLine;
                overlong = true;
                skipping_ = true;
                pos_ = end_;
                return true;
            }
            if (!fill()) {
                if (failed_ || end_ == pos_)
                    return false;
                // The last line, without a line end.
                line = buf_.get() + pos_;
                len = end_ - pos_;
                pos_ = end_;
                return true;
            }
        }
    }

    detail::ByteReader read_;
    DataReadOptions opt_;
    PointValueCheck check_;
    std::string name_;
    std::unique_ptr<char[]> buf_;
    std::size_t cap_ = kFirstBlockSize;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    std::size_t lfAt_ = kUnknown; // next LF at or after pos_ (end_: none in the buffer)
    std::size_t crAt_ = kUnknown; // next CR, likewise
    bool filledOnce_ = false;
    bool skipLf_ = false;   // the last line ended with CR: an LF next is part of that line end
    bool skipping_ = false; // inside the rest of an overlong line
    bool eof_ = false;
    bool failed_ = false;
    bool done_ = false;
    long lineNumber_ = 0;
};

// Reads an istream in full blocks (istream::read waits for all it was asked, or the end).
detail::ByteReader streamReader(std::istream& in) {
    return [&in](char* to, std::size_t n) -> long {
        in.read(to, static_cast<std::streamsize>(n));
        const auto got = static_cast<long>(in.gcount());
        if (got > 0)
            return got;
        return in.bad() ? -1 : 0;
    };
}

} // namespace

std::unique_ptr<DataSource> makeAsciiSource(std::istream& in, const DataReadOptions& opt) {
    return std::make_unique<AsciiSource>(streamReader(in), opt, detail::kStandardInputName);
}

std::unique_ptr<DataSource> makeAsciiSource(std::istream& in, const DataReadOptions& opt, std::string name) {
    return std::make_unique<AsciiSource>(streamReader(in), opt, std::move(name));
}

namespace detail {

std::unique_ptr<DataSource> makeAsciiSourceFromReader(ByteReader read, const DataReadOptions& opt, std::string name) {
    return std::make_unique<AsciiSource>(std::move(read), opt, std::move(name));
}

} // namespace detail

} // namespace dormal
