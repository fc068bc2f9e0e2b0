// The ASCII data-file reader: line rules, reading errors with their line numbers, bounds.
#include <charconv>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/data_source.h"

namespace dormal {
namespace {

std::vector<ReadEvent> readAll(const std::string& text, DataReadOptions opt = {}) {
    std::istringstream in(text);
    auto src = makeAsciiSource(in, opt, "dati.txt");
    std::vector<ReadEvent> out;
    ReadEvent ev;
    for (int guard = 0; guard < 1000000; ++guard) {
        src->next(ev);
        out.push_back(ev);
        if (ev.kind == ReadEvent::Kind::End || ev.kind == ReadEvent::Kind::Failure)
            break;
    }
    return out;
}

std::string atLine(long n) {
    return "ALLA RIGA:     " + std::to_string(n) + "    DEL FILE DI INPUT";
}

TEST(AsciiReader, CommaAfterNameTabsAndHeight) {
    DataReadOptions opt;
    opt.readHeight = true;
    const auto ev = readAll("  P1,  45,1234567\t9,5\t120\r\n", opt);
    ASSERT_EQ(ev.size(), 2u);
    ASSERT_EQ(ev[0].kind, ReadEvent::Kind::Point);
    EXPECT_EQ(ev[0].point.name, "P1.");
    EXPECT_EQ(ev[0].point.first, 45.1234567);
    EXPECT_EQ(ev[0].point.second, 9.5);
    EXPECT_EQ(ev[0].point.height, 120);
    EXPECT_EQ(ev[1].kind, ReadEvent::Kind::End);
}

// A tab, a comma, a byte above 127 or a NUL is noticed wherever it falls in the line (the
// line is looked at eight bytes at a time): every blank of a line turned into a tab, every
// point into a comma, a Windows Latin-1 letter at the end of names of every length, and a
// NUL at every offset.
TEST(AsciiReader, SpecialBytesAtEveryOffset) {
    DataReadOptions opt;
    opt.readHeight = true;
    const std::string base = "Punto 4616202.530 2525813.741 106";
    const auto expectPoint = [&](const std::string& line, const std::string& name) {
        const auto ev = readAll(line + "\n", opt);
        ASSERT_EQ(ev.size(), 2u) << line;
        ASSERT_EQ(ev[0].kind, ReadEvent::Kind::Point) << line;
        EXPECT_EQ(ev[0].point.name, name) << line;
        EXPECT_EQ(ev[0].point.first, 4616202.530) << line;
        EXPECT_EQ(ev[0].point.second, 2525813.741) << line;
        EXPECT_EQ(ev[0].point.height, 106) << line;
    };
    for (std::size_t i = 0; i < base.size(); ++i) {
        std::string line = base;
        if (line[i] == ' ')
            line[i] = '\t';
        else if (line[i] == '.')
            line[i] = ',';
        else
            continue;
        expectPoint(line, "Punto");
    }
    for (std::size_t len = 0; len < 18; ++len) {
        const std::string name = std::string(len, 'n');
        expectPoint(name + "\xE8" + base.substr(5), name + "\xC3\xA8");
    }
    for (std::size_t i = 0; i <= base.size(); ++i) {
        std::string line = base;
        line.insert(i, 1, '\0');
        const auto ev = readAll(line + "\n", opt);
        ASSERT_FALSE(ev.empty());
        EXPECT_EQ(ev[0].kind, ReadEvent::Kind::Failure) << i;
    }
}

// Lines that are read as points: with the height off a third and fourth field are ignored;
// only blanks go before the comment test, so a tab then a slash starts a name.
TEST(AsciiReader, PointLines) {
    struct Case {
        const char* line;
        bool readHeight;
        const char* name;
        double first, second, height;
    } const cases[] = {
        {"A 1 2", false, "A", 1, 2, 0},
        {"A 1 2 3", false, "A", 1, 2, 0},
        {"A 1 2 3 4 commento", false, "A", 1, 2, 0},
        {"A 1 2 3 commento", true, "A", 1, 2, 3},
        {"\t/P 45 9", false, "/P", 45, 9, 0},
        {"\t'P 45 9", false, "'P", 45, 9, 0},
        {"B\t\t-7,5   +12.25e1 \t -3", true, "B", -7.5, 122.5, -3},
        {"\xEF\xBB\xBF"
         "C 1 2",
         false, "C", 1, 2, 0},
        {"D 4850123.456 1523456.789\r", false, "D", 4850123.456, 1523456.789, 0},
    };
    for (const auto& c : cases) {
        DataReadOptions opt;
        opt.readHeight = c.readHeight;
        const auto ev = readAll(c.line, opt);
        ASSERT_EQ(ev[0].kind, ReadEvent::Kind::Point) << c.line;
        EXPECT_EQ(ev[0].point.name, c.name) << c.line;
        EXPECT_EQ(ev[0].point.first, c.first) << c.line;
        EXPECT_EQ(ev[0].point.second, c.second) << c.line;
        EXPECT_EQ(ev[0].point.height, c.height) << c.line;
    }
}

// A missing or non-numeric value drops the line with the message naming the value.
TEST(AsciiReader, ReadingErrors) {
    struct Case {
        const char* line;
        CoordKind kind;
        bool readHeight;
        const char* first;
    } const cases[] = {
        {"P1", CoordKind::Geographic, false, "ERRORE NELLA LETTURA NELLA LATITUDINE"},
        {"P1   ", CoordKind::Plane, false, "ERRORE NELLA LETTURA NELLA COORD. NORD"},
        {"P1 45", CoordKind::Geographic, false, "ERRORE NELLA LETTURA NELLA LONGITUDINE"},
        {"P1 45", CoordKind::Plane, false, "ERRORE NELLA LETTURA NELLA COOR. EST"},
        {"P1 45 9", CoordKind::Geographic, true, "ERRORE NELLA LETTURA NELLA QUOTA"},
        // Fields that are not wholly numbers: once read as 0 or a truncated number.
        {"P1 abc 9", CoordKind::Geographic, false, "ERRORE NELLA LETTURA NELLA LATITUDINE"},
        {"P1 45.12x 9", CoordKind::Plane, false, "ERRORE NELLA LETTURA NELLA COORD. NORD"},
        {"P1 45 9;5", CoordKind::Geographic, false, "ERRORE NELLA LETTURA NELLA LONGITUDINE"},
        {"P1 45 9 12m", CoordKind::Geographic, true, "ERRORE NELLA LETTURA NELLA QUOTA"},
        {"P1 45 9 1,5,2", CoordKind::Plane, true, "ERRORE NELLA LETTURA NELLA QUOTA"},
        {"P1 45 nan", CoordKind::Geographic, false, "ERRORE NELLA LETTURA NELLA LONGITUDINE"},
        {"P1 1e999 9", CoordKind::Geographic, false, "ERRORE NELLA LETTURA NELLA LATITUDINE"},
    };
    for (const auto& c : cases) {
        DataReadOptions opt;
        opt.inputKind = c.kind;
        opt.readHeight = c.readHeight;
        const auto ev = readAll(std::string(c.line) + "\nQ 1 2 3\n", opt);
        ASSERT_EQ(ev.size(), 3u) << c.line;
        ASSERT_EQ(ev[0].kind, ReadEvent::Kind::ReadingError) << c.line;
        EXPECT_EQ(ev[0].message.icon, MessageIcon::Information);
        EXPECT_EQ(ev[0].message.title, "Dormal2k");
        EXPECT_EQ(ev[0].message.lines, (std::vector<std::string>{c.first, atLine(1)})) << c.line;
        // The next good line is read.
        EXPECT_EQ(ev[1].kind, ReadEvent::Kind::Point);
        EXPECT_EQ(ev[1].point.name, "Q");
    }
}

TEST(AsciiReader, CommentsAndEmptyLinesCountInLineNumbers) {
    const std::string text = "/ intestazione\r\n"
                             "' commento\r\n"
                             "\r\n"
                             "    \r\n"
                             "   / rientrato\r\n"
                             "\t\r\n"
                             "P7\r\n"
                             "P8 1 2";
    const auto ev = readAll(text);
    ASSERT_EQ(ev.size(), 3u);
    EXPECT_EQ(ev[0].kind, ReadEvent::Kind::ReadingError);
    EXPECT_EQ(ev[0].message.lines[1], atLine(7));
    EXPECT_EQ(ev[1].kind, ReadEvent::Kind::Point);
    EXPECT_EQ(ev[1].point.name, "P8");
    EXPECT_EQ(ev[2].kind, ReadEvent::Kind::End);
}

// Many lines across the reader's block boundaries, LF and CR LF mixed.
TEST(AsciiReader, LongFileAcrossBlocks) {
    std::string text;
    const int n = 150000;
    for (int i = 1; i <= n; ++i)
        text += "PUNTO" + std::to_string(i) + "  45." + std::to_string(i) + "\t9,5" + (i % 2 ? "\n" : "\r\n");
    std::istringstream in(text);
    auto src = makeAsciiSource(in, {});
    ReadEvent ev;
    int count = 0;
    for (;;) {
        src->next(ev);
        if (ev.kind != ReadEvent::Kind::Point)
            break;
        ++count;
        ASSERT_EQ(ev.point.name, "PUNTO" + std::to_string(count));
        const std::string first = "45." + std::to_string(count);
        double want = 0;
        std::from_chars(first.data(), first.data() + first.size(), want);
        ASSERT_EQ(ev.point.first, want);
        ASSERT_EQ(ev.point.second, 9.5);
    }
    EXPECT_EQ(ev.kind, ReadEvent::Kind::End);
    EXPECT_EQ(count, n);
    src->next(ev);
    EXPECT_EQ(ev.kind, ReadEvent::Kind::End);
}

// A line beyond the length bound is a reading error (a comment line is still skipped), and
// reading goes on with the right line numbers; memory stays bounded.
TEST(AsciiReader, OverlongLines) {
    for (const std::size_t size : {std::size_t(70000), std::size_t(3) << 20}) {
        const std::string text =
            "A 1 2\n" + std::string("B 1 2 ") + std::string(size, 'x') + "\n/" + std::string(size, 'y') + "\nC 3 4\n";
        const auto ev = readAll(text);
        ASSERT_EQ(ev.size(), 4u) << size;
        EXPECT_EQ(ev[0].point.name, "A");
        EXPECT_EQ(ev[1].kind, ReadEvent::Kind::ReadingError);
        EXPECT_EQ(ev[1].message.lines[1], atLine(2));
        EXPECT_EQ(ev[2].kind, ReadEvent::Kind::Point);
        EXPECT_EQ(ev[2].point.name, "C");
        EXPECT_EQ(ev[2].point.second, 4);
    }
}

// Binary junk is refused with a message naming the file, never read as points.
TEST(AsciiReader, BinaryJunkIsAFailure) {
    std::string junk;
    unsigned x = 12345;
    for (int i = 0; i < 100000; ++i) {
        x = x * 1103515245u + 12345u;
        junk += static_cast<char>(x >> 24);
    }
    junk[10] = '\0';
    const auto ev = readAll(junk);
    ASSERT_FALSE(ev.empty());
    const auto& last = ev.back();
    ASSERT_EQ(last.kind, ReadEvent::Kind::Failure);
    EXPECT_EQ(last.message.lines.at(0), "ERRORE NELLA LETTURA DEL FILE DEI DATI");
    EXPECT_EQ(last.message.lines.at(1), "dati.txt");
    for (const auto& e : ev)
        EXPECT_NE(e.kind, ReadEvent::Kind::Point);
}

// An endless stream of NUL bytes without line ends (a device chosen as data file) is
// refused at its first block, not read forever.
TEST(AsciiReader, EndlessBinaryStreamStops) {
    struct Zeros : std::streambuf {
        char block[4096] = {};
        int_type underflow() override {
            setg(block, block, block + sizeof block);
            return 0;
        }
    } zeros;
    std::istream in(&zeros);
    auto src = makeAsciiSource(in, {}, "/dev/zero");
    ReadEvent ev;
    src->next(ev);
    EXPECT_EQ(ev.kind, ReadEvent::Kind::Failure);
    EXPECT_EQ(ev.message.lines.at(1), "/dev/zero");
}

TEST(AsciiReader, EmptyStream) {
    const auto ev = readAll("");
    ASSERT_EQ(ev.size(), 1u);
    EXPECT_EQ(ev[0].kind, ReadEvent::Kind::End);
}

} // namespace
} // namespace dormal
