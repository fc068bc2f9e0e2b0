// Opening data files that are not regular files: pipes keep every byte, FIFOs and devices
// are refused at once where streams are not wanted (the window) and read as they come where
// they are (the batch converter); workbooks are read from regular files only.
#include <chrono>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "conversion/data_source.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

class DataOpenTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string tmpl = (fs::temp_directory_path() / "dormal2k-open-XXXXXX").string();
        ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
        dir_ = tmpl;
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    static std::vector<ReadEvent> drain(DataSource& src) {
        std::vector<ReadEvent> out;
        ReadEvent ev;
        for (int guard = 0; guard < 100000; ++guard) {
            src.next(ev);
            out.push_back(ev);
            if (ev.kind == ReadEvent::Kind::End || ev.kind == ReadEvent::Kind::Failure)
                break;
        }
        return out;
    }

    fs::path dir_;
};

constexpr const char* kThreePoints = "P1 45.1234567 9.5\r\nP2 45.2 9.6\nP3 45.3 9.7";

void expectThreePoints(const std::vector<ReadEvent>& ev, const std::string& what) {
    ASSERT_EQ(ev.size(), 4u) << what << ": " << joinedText(ev.front().message);
    const char* names[] = {"P1", "P2", "P3"};
    const double firsts[] = {45.1234567, 45.2, 45.3};
    for (std::size_t i = 0; i < 3; ++i) {
        ASSERT_EQ(ev[i].kind, ReadEvent::Kind::Point) << what << " " << i << ": " << joinedText(ev[i].message);
        EXPECT_EQ(ev[i].point.name, names[i]) << what;
        EXPECT_EQ(ev[i].point.first, firsts[i]) << what;
    }
    EXPECT_EQ(ev[3].kind, ReadEvent::Kind::End) << what;
}

// A pipe named by /dev/fd/N (as /dev/stdin and <(...) are) is read from its first byte.
// Guards: the type probe read 8 bytes of the pipe and reopened it, so the first point came
// out wrong (or was dropped) and the run still ended well.
TEST_F(DataOpenTest, PipeKeepsItsFirstBytes) {
    int p[2];
    ASSERT_EQ(::pipe(p), 0);
    const std::string text = kThreePoints;
    ASSERT_EQ(::write(p[1], text.data(), text.size()), static_cast<ssize_t>(text.size()));
    ::close(p[1]);
    DataReadOptions opt;
    opt.allowStreams = true;
    Message failure;
    const std::string path = "/dev/fd/" + std::to_string(p[0]);
    auto src = openDataFile(path, DataFileType::Ascii, opt, failure);
    ::close(p[0]);
    ASSERT_NE(src, nullptr) << joinedText(failure);
    expectThreePoints(drain(*src), "pipe");
}

// Without streams allowed, anything but a regular file is refused at once, naming the file
// and why; a workbook is never read from a stream. Guards: a FIFO blocked the window forever.
TEST_F(DataOpenTest, NonRegularFilesRefusedAtOnce) {
    const fs::path fifo = dir_ / "dati.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const fs::path link = dir_ / "collegamento.txt";
    fs::create_symlink(fifo, link);
    const fs::path fifoXlsx = dir_ / "dati.xlsx";
    ASSERT_EQ(::mkfifo(fifoXlsx.c_str(), 0600), 0);
    struct Case {
        fs::path path;
        DataFileType type;
        bool allowStreams;
        const char* cause;
    } const cases[] = {
        {fifo, DataFileType::Ascii, false, "pipe (FIFO)"},
        {link, DataFileType::Ascii, false, "pipe (FIFO)"},
        {fifoXlsx, DataFileType::Excel, false, "pipe (FIFO)"},
        {fifoXlsx, DataFileType::Excel, true, "cartella di lavoro si legge solo da un file"},
        {"/dev/null", DataFileType::Ascii, false, "dispositivo"},
        {"/dev/null", DataFileType::Excel, true, "dispositivo"},
    };
    for (const auto& c : cases) {
        auto opening = std::async(std::launch::async, [&c] {
            DataReadOptions opt;
            opt.allowStreams = c.allowStreams;
            Message failure;
            const bool opened = openDataFile(c.path.string(), c.type, opt, failure) != nullptr;
            return std::make_pair(opened, failure);
        });
        if (opening.wait_for(5s) != std::future_status::ready) {
            // Let the blocked open (and any read after it) go by giving it writers that come
            // and go, then report the hang.
            do {
                const int w = ::open(c.path.c_str(), O_WRONLY | O_NONBLOCK);
                if (w >= 0)
                    ::close(w);
            } while (opening.wait_for(50ms) != std::future_status::ready);
            ADD_FAILURE() << c.path << ": the open waited for a writer";
            continue;
        }
        const auto [opened, failure] = opening.get();
        EXPECT_FALSE(opened) << c.path;
        ASSERT_EQ(failure.lines.size(), 3u) << c.path;
        EXPECT_EQ(failure.lines[0], "IMPOSSIBILE APRIRE IL FILE DEI DATI");
        EXPECT_EQ(failure.lines[1], c.path.string());
        EXPECT_NE(failure.lines[2].find("Non è un file regolare"), std::string::npos) << failure.lines[2];
        EXPECT_NE(failure.lines[2].find(c.cause), std::string::npos) << failure.lines[2];
    }
}

// With streams allowed, a FIFO opens at once and is read as its writer sends, also when the
// writer comes after the open and writes in pieces; a writer that goes without writing ends
// the data.
TEST_F(DataOpenTest, FifoReadWhenStreamsAreAllowed) {
    const fs::path fifo = dir_ / "dati.txt";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    DataReadOptions opt;
    opt.allowStreams = true;
    for (const bool writes : {true, false}) {
        Message failure;
        auto src = openDataFile(fifo.string(), DataFileType::Ascii, opt, failure);
        ASSERT_NE(src, nullptr) << joinedText(failure);
        std::thread writer([&fifo, writes] {
            std::this_thread::sleep_for(100ms);
            const int w = ::open(fifo.c_str(), O_WRONLY);
            const std::string text = kThreePoints;
            const std::size_t half = text.size() / 2;
            if (w >= 0 && writes) {
                EXPECT_EQ(::write(w, text.data(), half), static_cast<ssize_t>(half));
                std::this_thread::sleep_for(100ms);
                EXPECT_EQ(::write(w, text.data() + half, text.size() - half), static_cast<ssize_t>(text.size() - half));
            }
            if (w >= 0)
                ::close(w);
        });
        const auto ev = drain(*src);
        writer.join();
        if (writes) {
            expectThreePoints(ev, "FIFO");
        } else {
            ASSERT_EQ(ev.size(), 1u);
            EXPECT_EQ(ev[0].kind, ReadEvent::Kind::End);
        }
    }
}

// A regular file given as ASCII is read whole, from its first byte, through the same path.
TEST_F(DataOpenTest, RegularFileReadWhole) {
    const fs::path file = dir_ / "dati.txt";
    std::ofstream(file, std::ios::binary) << kThreePoints;
    for (const bool allowStreams : {false, true}) {
        DataReadOptions opt;
        opt.allowStreams = allowStreams;
        Message failure;
        auto src = openDataFile(file.string(), DataFileType::Ascii, opt, failure);
        ASSERT_NE(src, nullptr) << joinedText(failure);
        expectThreePoints(drain(*src), "regular file");
    }
}

} // namespace
} // namespace dormal
