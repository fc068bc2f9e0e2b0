// ASCII data-file reading over arbitrary bytes, with or without the height field: no
// crash, no sanitizer report, the reader always moves on (every event uses up input), and
// how the input arrives does not matter: the whole stream and the same bytes handed out in
// small, odd amounts give the same events.
//
// The fuzz input is a recipe, so that short inputs reach long streams (lines past the 64 KiB
// bound, files across the reader's 128 KiB first block and 1 MiB blocks): a byte 0xFF
// followed by a count (2 bytes, little-endian), a length byte n and n + 1 bytes appends
// those bytes count times; any other byte is itself. The first byte sets the read amounts.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <sstream>
#include <string>

#include "conversion/data_source.h"
#include "conversion/io_detail.h"

namespace {

// Past the first block (128 KiB) and one large block (1 MiB), and no more, to keep runs fast.
constexpr std::size_t kMaxExpanded = 3u << 19;

std::string expand(const std::uint8_t* data, std::size_t size) {
    std::string out;
    std::size_t i = 0;
    while (i < size && out.size() < kMaxExpanded) {
        if (data[i] == 0xFF && i + 3 < size) {
            const std::size_t count = data[i + 1] | (std::size_t{data[i + 2]} << 8);
            const std::size_t len = std::min<std::size_t>(std::size_t{data[i + 3]} + 1, size - (i + 4));
            const char* chunk = reinterpret_cast<const char*>(data + i + 4);
            for (std::size_t k = 0; k < count && out.size() < kMaxExpanded; ++k) {
                out.append(chunk, std::min(len, kMaxExpanded - out.size()));
            }
            i += 4 + len;
        } else {
            out += static_cast<char>(data[i++]);
        }
    }
    return out;
}

// Hands out the text in amounts that vary with each call: 1 to 7 bytes for short texts (or
// by the seed), up to 70,000 for long ones, so that line ends fall at every place of a read.
dormal::detail::ByteReader oddReader(const std::string& text, std::uint8_t seed) {
    struct State {
        const std::string* text;
        std::size_t pos = 0;
        unsigned turn = 0;
        std::uint8_t seed;
    };
    auto st = std::make_shared<State>(State{&text, 0, 0, seed});
    return [st](char* to, std::size_t n) -> long {
        const unsigned t = st->turn++;
        const bool small = st->text->size() < (1u << 18) && st->seed % 2 == 1;
        const std::size_t want = 1 + ((t * 2654435761u) ^ st->seed) % (small ? 7u : 70000u);
        const std::size_t k = std::min({n, want, st->text->size() - st->pos});
        std::memcpy(to, st->text->data() + st->pos, k);
        st->pos += k;
        return static_cast<long>(k);
    };
}

bool sameEvent(const dormal::ReadEvent& a, const dormal::ReadEvent& b) {
    if (a.kind != b.kind) {
        return false;
    }
    if (a.kind == dormal::ReadEvent::Kind::Point) {
        return a.point.name == b.point.name && a.point.first == b.point.first && a.point.second == b.point.second &&
               a.point.height == b.point.height;
    }
    return a.message == b.message;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string bytes = expand(data, size);
    const std::uint8_t seed = size > 0 ? data[0] : 0;
    // The seed's second bit chooses the height field (and plane input), so that each run
    // reads its long stream twice only.
    {
        const bool readHeight = (seed & 2) != 0;
        std::istringstream in(bytes);
        dormal::DataReadOptions opt;
        opt.readHeight = readHeight;
        opt.inputKind = readHeight ? dormal::CoordKind::Plane : dormal::CoordKind::Geographic;
        const auto whole = dormal::makeAsciiSource(in, opt, "dati");
        const auto pieces = dormal::detail::makeAsciiSourceFromReader(oddReader(bytes, seed), opt, "dati");
        if (!whole || !pieces) {
            __builtin_trap();
        }
        dormal::ReadEvent ev;
        dormal::ReadEvent other;
        // A point or a reading error takes at least one byte of its line.
        std::size_t budget = bytes.size() + 2;
        for (;;) {
            whole->next(ev);
            pieces->next(other);
            if (!sameEvent(ev, other)) {
                __builtin_trap(); // the way the bytes arrived changed what was read
            }
            if (ev.kind == dormal::ReadEvent::Kind::End || ev.kind == dormal::ReadEvent::Kind::Failure) {
                break;
            }
            if (budget-- == 0) {
                __builtin_trap(); // more events than lines: the reader is not moving on
            }
        }
    }
    return 0;
}
