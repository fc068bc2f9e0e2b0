// The ASCII reader's line ends (LF, CR, CR LF, mixed, split across reads) and line numbers,
// point names in Windows Latin-1, and a property check over generated files read through
// inputs that give odd amounts at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/data_source.h"
#include "conversion/io_detail.h"

namespace dormal {
namespace {

std::vector<ReadEvent> drain(DataSource& src) {
    std::vector<ReadEvent> out;
    ReadEvent ev;
    for (int guard = 0; guard < 1000000; ++guard) {
        src.next(ev);
        out.push_back(ev);
        if (ev.kind == ReadEvent::Kind::End || ev.kind == ReadEvent::Kind::Failure)
            break;
    }
    return out;
}

std::vector<ReadEvent> readText(const std::string& text, DataReadOptions opt = {}) {
    std::istringstream in(text);
    auto src = makeAsciiSource(in, opt, "dati.txt");
    return drain(*src);
}

// A byte input that hands out the text in the given amounts, in turn (a pipe, a terminal).
detail::ByteReader chunkedReader(const std::string& text, std::vector<std::size_t> sizes) {
    struct State {
        std::string text;
        std::vector<std::size_t> sizes;
        std::size_t pos = 0, turn = 0;
    };
    auto st = std::make_shared<State>(State{text, std::move(sizes)});
    return [st](char* to, std::size_t n) -> long {
        const std::size_t want = st->sizes[st->turn++ % st->sizes.size()];
        const std::size_t k = std::min({n, want, st->text.size() - st->pos});
        std::memcpy(to, st->text.data() + st->pos, k);
        st->pos += k;
        return static_cast<long>(k);
    };
}

std::string atLine(long n) {
    return "ALLA RIGA:     " + std::to_string(n) + "    DEL FILE DI INPUT";
}

// What one line should give: a point, a reading error of the first coordinate, or nothing.
struct Want {
    enum Kind { Point, Error } kind;
    std::string name;
    double first = 0, second = 0;
    long line = 0;
};

void expectEvents(const std::vector<ReadEvent>& got, const std::vector<Want>& want, const std::string& what) {
    ASSERT_EQ(got.size(), want.size() + 1) << what;
    for (std::size_t i = 0; i < want.size(); ++i) {
        const ReadEvent& g = got[i];
        const Want& w = want[i];
        if (w.kind == Want::Point) {
            ASSERT_EQ(g.kind, ReadEvent::Kind::Point) << what << " event " << i << ": " << joinedText(g.message);
            EXPECT_EQ(g.point.name, w.name) << what << " event " << i;
            EXPECT_EQ(g.point.first, w.first) << what << " event " << i;
            EXPECT_EQ(g.point.second, w.second) << what << " event " << i;
        } else {
            ASSERT_EQ(g.kind, ReadEvent::Kind::ReadingError) << what << " event " << i;
            EXPECT_EQ(g.message.lines.at(1), atLine(w.line)) << what << " event " << i;
        }
    }
    EXPECT_EQ(got.back().kind, ReadEvent::Kind::End) << what;
}

// Every kind of line end ends a line, CR LF counts once, and reading errors carry the line
// an editor shows. Guards: CR-only files read as one line; mixed files lost points.
TEST(AsciiLineEnds, LineEndsAndLineNumbers) {
    struct Case {
        const char* what;
        std::string text;
        std::vector<Want> want;
    } const cases[] = {
        {"CR only",
         "A 1 2\rB 3 4\rC 5 6",
         {{Want::Point, "A", 1, 2}, {Want::Point, "B", 3, 4}, {Want::Point, "C", 5, 6}}},
        {"CR only, error on line 3",
         "/ titolo\rA 1 2\rSOLO\rB 3 4\r",
         {{Want::Point, "A", 1, 2}, {Want::Error, "", 0, 0, 3}, {Want::Point, "B", 3, 4}}},
        {"CR LF is one line end",
         "A 1 2\r\nB\r\nC 5 6\r\n",
         {{Want::Point, "A", 1, 2}, {Want::Error, "", 0, 0, 2}, {Want::Point, "C", 5, 6}}},
        {"mixed ends",
         "A 1 2\r\nB\rC 5 6\nD\r\rE 1 2\n\rF",
         {{Want::Point, "A", 1, 2},
          {Want::Error, "", 0, 0, 2},
          {Want::Point, "C", 5, 6},
          {Want::Error, "", 0, 0, 4},
          {Want::Point, "E", 1, 2},
          {Want::Error, "", 0, 0, 8}}},
        {"LF then CR is two ends", "\n\rX", {{Want::Error, "", 0, 0, 3}}},
        {"CR CR LF is two ends", "A 1 2\r\r\nX", {{Want::Point, "A", 1, 2}, {Want::Error, "", 0, 0, 3}}},
        {"a CR inside a line is a line end, not part of the last field",
         "A 1 2\rX\r\n",
         {{Want::Point, "A", 1, 2}, {Want::Error, "", 0, 0, 2}}},
        {"byte-order mark then CR",
         "\xEF\xBB\xBF"
         "A 1 2\rB\r",
         {{Want::Point, "A", 1, 2}, {Want::Error, "", 0, 0, 2}}},
    };
    for (const auto& c : cases) {
        expectEvents(readText(c.text), c.want, c.what);
        // The same text handed out one byte at a time, and in threes.
        for (const std::size_t step : {std::size_t(1), std::size_t(3)}) {
            auto src = detail::makeAsciiSourceFromReader(chunkedReader(c.text, {step}), {}, "dati.txt");
            expectEvents(drain(*src), c.want, std::string(c.what) + ", reads of " + std::to_string(step));
        }
    }
}

// A CR that is the last byte of the reader's first block (128 KiB) and the LF that is the
// first of the next one are one line end.
TEST(AsciiLineEnds, CrLfSplitAtTheFirstBlockEnd) {
    constexpr std::size_t kFirstBlock = 128 << 10;
    std::string text;
    long lines = 0;
    while (text.size() + 64 < kFirstBlock) {
        text += "F 1 2\r\n";
        ++lines;
    }
    // The last line of the block ends exactly at the block's end with its CR.
    std::string last = "G 3 4";
    last += std::string(kFirstBlock - text.size() - last.size() - 1, ' ');
    text += last + "\r";
    ASSERT_EQ(text.size(), kFirstBlock);
    text += "\nSOLO\n";
    const auto ev = readText(text);
    ASSERT_EQ(ev.size(), static_cast<std::size_t>(lines) + 3);
    EXPECT_EQ(ev[static_cast<std::size_t>(lines)].point.name, "G");
    const ReadEvent& err = ev[static_cast<std::size_t>(lines) + 1];
    ASSERT_EQ(err.kind, ReadEvent::Kind::ReadingError);
    EXPECT_EQ(err.message.lines[1], atLine(lines + 2));
}

// An overlong line is judged by its head alone, whether its end was already read or not:
// binary bytes past the head do not make it a binary file. Guards: the verdict depended on
// how the input arrived.
TEST(AsciiLineEnds, OverlongLineJudgedByItsHead) {
    std::string line = "P 1 2 " + std::string(70000, 'x');
    line[68000] = '\0';
    const std::string text = line + "\nQ 3 4\n";
    const std::vector<Want> want = {{Want::Error, "", 0, 0, 1}, {Want::Point, "Q", 3, 4}};
    expectEvents(readText(text), want, "whole");
    auto src = detail::makeAsciiSourceFromReader(chunkedReader(text, {4096}), {}, "dati.txt");
    expectEvents(drain(*src), want, "in pieces");
}

// Names that are not UTF-8 are taken as Windows Latin-1; valid UTF-8 is kept as it is.
// Guards: reports and workbooks received the raw bytes.
TEST(AsciiLineEnds, NamesBecomeUtf8) {
    struct Case {
        const char* line;
        const char* name;
    } const cases[] = {
        {"Citt\xE0 1 2", "Citt\xC3\xA0"},     // Latin-1 a grave
        {"Citt\xC3\xA0 1 2", "Citt\xC3\xA0"}, // already UTF-8
        {"\x80uro 1 2", "\xE2\x82\xAC"
                        "uro"},                           // Windows 0x80, the euro sign
        {"\xC3\xA0\xE0 1 2", "\xC3\x83\xC2\xA0\xC3\xA0"}, // one stray byte: the whole name as Latin-1
        {"PERCH\xC8, 1 2", "PERCH\xC3\x88."},             // comma after the name
    };
    for (const auto& c : cases) {
        const auto ev = readText(c.line);
        ASSERT_EQ(ev[0].kind, ReadEvent::Kind::Point) << c.line;
        EXPECT_EQ(ev[0].point.name, c.name) << c.line;
    }
}

// The reference: a file cut into lines at LF, CR and CR LF, by the plain definition.
std::vector<std::string> referenceSplit(const std::string& text) {
    std::vector<std::string> lines;
    std::string cur;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\n' || c == '\r') {
            lines.push_back(cur);
            cur.clear();
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            cur += c;
        }
    }
    if (!cur.empty())
        lines.push_back(cur);
    return lines;
}

// Property: for generated files of points, comments, blank lines, lines without
// coordinates and lines around the 64 KiB bound, with random line ends, the reader gives
// the points and reading errors each line calls for, at the line numbers of the reference
// split; read whole, and through inputs that give small and odd amounts at a time.
TEST(AsciiLineEnds, GeneratedFilesMatchTheReferenceSplit) {
    constexpr std::size_t kMaxLine = 64 * 1024;
    std::mt19937 rng(20240607);
    auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<unsigned>(n)); };
    const char* const kEnds[] = {"\n", "\r", "\r\n"};

    for (int round = 0; round < 40; ++round) {
        std::string text;
        std::vector<std::string> lines;
        std::vector<Want> want;
        std::string prevEnd;
        const int count = 50 + pick(400);
        for (int i = 1; i <= count; ++i) {
            std::string line;
            // Mostly short lines; the long ones are few, so that a round stays a few megabytes.
            const int draw = pick(48);
            const int kind = draw < 4    ? 0
                             : draw < 8  ? 1
                             : draw < 12 ? 2
                             : draw < 14 ? 3
                             : draw < 15 ? 4
                             : draw < 16 ? 5
                                         : 6;
            const std::string name = "N" + std::to_string(round) + "_" + std::to_string(i);
            const double first = pick(2000000) / 8.0 - 100000;
            const double second = pick(1000) / 4.0;
            char num[64];
            std::snprintf(num, sizeof num, "%.3f", first);
            std::string firstText = num;
            if (pick(2) == 0)
                std::replace(firstText.begin(), firstText.end(), '.', ',');
            std::snprintf(num, sizeof num, "%.2f", second);
            const std::string secondText = num;
            const std::string gap = pick(2) ? " " : std::string(1 + pick(3), '\t');
            switch (kind) {
            case 0:
                line = "";
                break;
            case 1:
                line = std::string(pick(4), ' ') + (pick(2) ? "/" : "'") + " commento " + name;
                break;
            case 2:
                line = name; // no coordinates
                want.push_back({Want::Error, "", 0, 0, i});
                break;
            case 3: {
                // Around the bound: fields, then filler up to a length just below or above it.
                const std::size_t len = kMaxLine - 4 + static_cast<std::size_t>(pick(9));
                line = name + gap + firstText + gap + secondText + " ";
                line += std::string(len - line.size(), 'x');
                if (len > kMaxLine)
                    want.push_back({Want::Error, "", 0, 0, i});
                else
                    want.push_back({Want::Point, name, first, second, i});
                break;
            }
            case 4: // far beyond the bound, across the reader's blocks
                line = name + " " + std::string(kMaxLine + static_cast<std::size_t>(pick(300000)), 'y');
                want.push_back({Want::Error, "", 0, 0, i});
                break;
            case 5: // a long comment is still a comment
                line = "/" + std::string(kMaxLine + static_cast<std::size_t>(pick(200000)), 'c');
                break;
            default:
                line = std::string(pick(3), ' ') + name + gap + firstText + gap + secondText;
                if (pick(3) == 0)
                    line += " 12.5 resto";
                want.push_back({Want::Point, name, first, second, i});
                break;
            }
            std::string end = kEnds[pick(3)];
            // An empty line ended by LF right after a CR would make a CR LF: not a line.
            if (line.empty() && prevEnd == "\r" && end == "\n")
                end = "\r";
            if (i == count && !line.empty() && pick(2) == 0)
                end.clear(); // the last line without a line end
            text += line + end;
            lines.push_back(line);
            prevEnd = end;
        }
        // The generator's lines are those of the reference split.
        if (prevEnd.empty() || !lines.back().empty()) {
            ASSERT_EQ(referenceSplit(text), lines) << "round " << round;
        }

        const std::string what = "round " + std::to_string(round);
        expectEvents(readText(text), want, what + ", whole");
        std::vector<std::size_t> sizes;
        for (int k = 0; k < 7; ++k)
            sizes.push_back(1 + static_cast<std::size_t>(pick(k < 4 ? 7 : 100000)));
        auto src = detail::makeAsciiSourceFromReader(chunkedReader(text, sizes), {}, "dati.txt");
        expectEvents(drain(*src), want, what + ", odd reads");
    }
}

} // namespace
} // namespace dormal
