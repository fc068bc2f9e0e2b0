// The ASCII data-file reader: one point a line, read in large blocks and parsed in place.
#include <cstring>
#include <memory>

#include "conversion/data_source.h"
#include "conversion/formats.h"
#include "conversion/io_detail.h"

namespace dormal {

namespace {

using detail::FieldSlot;

constexpr std::size_t kBlockSize = 1 << 20;        // bytes read from the stream at a time
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

class AsciiSource final : public DataSource {
public:
    AsciiSource(std::istream& in, const DataReadOptions& opt, std::string name)
        : in_(in), opt_(opt), name_(std::move(name)), buf_(new char[kFirstBlockSize]) {}

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
    // Returns true when `ev` is filled (a point, a reading error or a failure).
    bool parseLine(char* p, std::size_t len, bool overlong, ReadEvent& ev) {
        if (std::memchr(p, '\0', len)) {
            // Text files hold no NUL bytes: this is a binary file (or UTF-16 text).
            done_ = true;
            detail::setFailure(ev, name_,
                               "Il file non è un file di testo (contiene caratteri binari alla riga " +
                                   std::to_string(lineNumber_) + "; un testo UTF-16 va salvato come ANSI o UTF-8)");
            return true;
        }
        char* e = p + len;
        while (e > p && e[-1] == '\r')
            --e;
        while (p < e && *p == ' ')
            ++p;
        if (p == e || *p == '/' || *p == '\'')
            return false; // empty or comment
        if (overlong) {
            detail::setReadingError(ev, FieldSlot::First, opt_.inputKind, lineNumber_);
            return true;
        }
        for (char* c = p; c < e; ++c) {
            if (*c == '\t')
                *c = ' ';
            else if (*c == ',')
                *c = '.';
        }
        while (p < e && *p == ' ')
            ++p;
        if (p == e)
            return false;

        const std::string_view name = nextToken(p, e);
        ev.point.name.assign(name.data(), name.size());
        if (!readValue(p, e, ev.point.first, FieldSlot::First, ev) ||
            !readValue(p, e, ev.point.second, FieldSlot::Second, ev))
            return true;
        ev.point.height = 0;
        if (opt_.readHeight && !readValue(p, e, ev.point.height, FieldSlot::Height, ev))
            return true;
        ev.kind = ReadEvent::Kind::Point;
        return true;
    }

    bool readValue(char*& p, char* e, double& out, FieldSlot slot, ReadEvent& ev) {
        if (p == e) {
            detail::setReadingError(ev, slot, opt_.inputKind, lineNumber_);
            return false;
        }
        const std::string_view tok = nextToken(p, e);
        if (!parseWholeNumber(tok, out)) {
            detail::setReadingError(ev, slot, opt_.inputKind, lineNumber_);
            return false;
        }
        return true;
    }

    // Reads more of the stream after the unread bytes; false at the end of the stream.
    bool fill() {
        if (eof_)
            return false;
        if (pos_ > 0) {
            std::memmove(buf_.get(), buf_.get() + pos_, end_ - pos_);
            end_ -= pos_;
            pos_ = 0;
        }
        if (cap_ < kBlockSize && filledOnce_) {
            // The stream goes on beyond the first block: read it in large blocks.
            std::unique_ptr<char[]> big(new char[kBlockSize]);
            std::memcpy(big.get(), buf_.get(), end_);
            buf_ = std::move(big);
            cap_ = kBlockSize;
        }
        in_.read(buf_.get() + end_, static_cast<std::streamsize>(cap_ - end_));
        const auto got = static_cast<std::size_t>(in_.gcount());
        filledOnce_ = true;
        end_ += got;
        if (in_.bad()) {
            failed_ = true;
            eof_ = true;
        } else if (!in_) {
            eof_ = true;
        }
        return got > 0;
    }

    // The next line, without its LF; `overlong` when it exceeds kMaxLine (then only its
    // head is given, and the rest is skipped).
    bool nextLine(char*& line, std::size_t& len, bool& overlong) {
        overlong = false;
        for (;;) {
            char* b = buf_.get() + pos_;
            const std::size_t avail = end_ - pos_;
            if (auto* nl = static_cast<char*>(std::memchr(b, '\n', avail))) {
                line = b;
                len = static_cast<std::size_t>(nl - b);
                pos_ += len + 1;
                overlong = len > kMaxLine;
                return true;
            }
            if (avail >= kMaxLine && avail == cap_) {
                // No line end in a full block: keep the head, drop the rest of the line.
                line = b;
                len = kMaxLine;
                overlong = true;
                if (std::memchr(b, '\0', avail))
                    pos_ = end_; // binary data: refused by the caller, no need to look further
                else
                    skipRestOfLine();
                return true;
            }
            if (!fill() || failed_) {
                if (failed_)
                    return false;
                if (end_ > pos_) {
                    line = buf_.get() + pos_;
                    len = end_ - pos_;
                    pos_ = end_;
                    overlong = len > kMaxLine;
                    return true;
                }
                return false;
            }
        }
    }

    // Drops everything up to and including the next LF. The line's head stays at the front
    // of the buffer until the caller has looked at it: skipped bytes go to a scratch area.
    void skipRestOfLine() {
        // Keep the first kMaxLine bytes; reuse the rest of the buffer for skipping.
        char* scratch = buf_.get() + kMaxLine;
        const std::size_t scratchSize = cap_ - kMaxLine;
        for (;;) {
            in_.read(scratch, static_cast<std::streamsize>(scratchSize));
            const auto got = static_cast<std::size_t>(in_.gcount());
            if (auto* nl = static_cast<char*>(std::memchr(scratch, '\n', got))) {
                // Bytes after the LF belong to the next lines: move them behind the head.
                const std::size_t rest = got - static_cast<std::size_t>(nl + 1 - scratch);
                std::memmove(scratch, nl + 1, rest);
                pos_ = kMaxLine; // the caller reads the head at offset 0; the next line follows
                end_ = kMaxLine + rest;
                if (in_.bad())
                    failed_ = true;
                if (!in_)
                    eof_ = true;
                return;
            }
            if (in_.bad()) {
                failed_ = true;
                eof_ = true;
            }
            if (!in_ || got == 0) {
                eof_ = true;
                pos_ = end_ = kMaxLine;
                return;
            }
        }
    }

    std::istream& in_;
    DataReadOptions opt_;
    std::string name_;
    std::unique_ptr<char[]> buf_;
    std::size_t cap_ = kFirstBlockSize;
    std::size_t pos_ = 0;
    std::size_t end_ = 0;
    bool filledOnce_ = false;
    bool eof_ = false;
    bool failed_ = false;
    bool done_ = false;
    long lineNumber_ = 0;
};

class OwningAsciiSource final : public DataSource {
public:
    OwningAsciiSource(std::unique_ptr<std::istream> in, const DataReadOptions& opt, std::string name)
        : in_(std::move(in)), src_(*in_, opt, std::move(name)) {}
    void next(ReadEvent& ev) override { src_.next(ev); }

private:
    std::unique_ptr<std::istream> in_;
    AsciiSource src_;
};

} // namespace

std::unique_ptr<DataSource> makeAsciiSource(std::istream& in, const DataReadOptions& opt) {
    return std::make_unique<AsciiSource>(in, opt, detail::kStandardInputName);
}

std::unique_ptr<DataSource> makeAsciiSource(std::istream& in, const DataReadOptions& opt, std::string name) {
    return std::make_unique<AsciiSource>(in, opt, std::move(name));
}

namespace detail {

std::unique_ptr<DataSource> makeOwningAsciiSource(std::unique_ptr<std::istream> in, const DataReadOptions& opt,
                                                  std::string name) {
    return std::make_unique<OwningAsciiSource>(std::move(in), opt, std::move(name));
}

} // namespace detail

} // namespace dormal
