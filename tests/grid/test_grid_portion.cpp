#include <gtest/gtest.h>

#include <cerrno>
#include <charconv>
#include <clocale>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include "geodesy/angles.h"
#include "grid/grid_portion.h"
#include "conversion/grid_messages.h"
#include "conversion/system_error.h"
#include "grid_fixtures.h"

namespace dormal {
namespace {

const GridLoadError kDamaged{GridLoadFailure::Damaged, 0, FileType::Regular, ""};

// The reader reports a status; the run words it. Both halves are checked together here.
Message messageOf(const GridLoadResult& r) {
    return gridLoadMessage(*r.error);
}

std::vector<std::string> vertexItems() {
    return test::generatedItems(PortionKind::Vertex, 45.25, 9.0);
}
std::vector<std::string> sheetItems() {
    return test::generatedItems(PortionKind::Sheet, 42.25, 13.25);
}

// A file value as the C locale reads it (std::stod would follow the user's locale).
double num(const std::string& s) {
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

// Item positions in a vertex file (0-based): kind 0, tag 1, heading 2, epoch 3, roEdDLat 4..19,
// roEdDLon 20..35, heading 36, epoch 37, roE89DLat 38..53, ..., closing value last.
constexpr std::size_t kFirstRoEdDLat = 4;

// --- Reading ----------------------------------------------------------------------------

TEST(GridPortionRead, VertexFileFillsEveryField) {
    const GridLoadResult r = parseGridPortion(test::joinItems(vertexItems(), "\n"), "123456.GK1");
    ASSERT_TRUE(r.ok());
    EXPECT_FALSE(r.error.has_value());
    const GridPortion& g = *r.portion;
    EXPECT_EQ(g.kind, PortionKind::Vertex);
    EXPECT_EQ(g.planNodeCount, 16);
    EXPECT_EQ(g.geoidNodeCount, 80);
    EXPECT_EQ(g.planNodesPerRow, 4);
    EXPECT_EQ(g.geoidNodesPerRow, 10);
    EXPECT_EQ(g.planOriginLat, 45.25);
    EXPECT_EQ(g.planOriginLon, 9.0);
    EXPECT_EQ(g.geoidTopLat, g.geoidOriginLat + sexagesimalToDegrees(0.14));
    EXPECT_EQ(g.roEdEpoch, "SINTETICA, NON PER RILIEVI"); // a quoted text keeps its comma
    EXPECT_EQ(g.geoidEpoch, "SINTETICO, NON PER RILIEVI");
    EXPECT_EQ(g.globalGeoid, 0);
    EXPECT_EQ(g.portionName, "123456");
    const auto items = vertexItems();
    EXPECT_EQ(g.roEdDLat[1], num(items[kFirstRoEdDLat]));
    EXPECT_EQ(g.roEdDLat[16], num(items[kFirstRoEdDLat + 15]));
    EXPECT_EQ(g.roEdDLon[1], num(items[kFirstRoEdDLat + 16]));
    EXPECT_EQ(g.roEdDLat[0], 0.0);  // index 0 is never used
    EXPECT_EQ(g.roEdDLat[17], 0.0); // beyond a vertex portion's 16 nodes
    EXPECT_NE(g.geoidN[80], 0.0);
    EXPECT_EQ(g.geoidN[81], 0.0);
}

TEST(GridPortionRead, SheetFileSetsSheetCountsAndTopRow) {
    const GridLoadResult r = parseGridPortion(test::joinItems(sheetItems(), "\n"), "0245.GK2");
    ASSERT_TRUE(r.ok());
    const GridPortion& g = *r.portion;
    EXPECT_EQ(g.kind, PortionKind::Sheet);
    EXPECT_EQ(g.planNodeCount, 36);
    EXPECT_EQ(g.geoidNodeCount, 140);
    EXPECT_EQ(g.planNodesPerRow, 6);
    EXPECT_EQ(g.geoidNodesPerRow, 14);
    EXPECT_EQ(g.geoidTopLat, g.geoidOriginLat + sexagesimalToDegrees(0.18));
    EXPECT_NE(g.e89E2000DH[36], 0.0);
    EXPECT_NE(g.geoidN[140], 0.0);
    EXPECT_EQ(g.portionName, "0245");
}

// Only the order of the items matters: every layout reads to the same portion.
TEST(GridPortionRead, AnyLayoutOfSeparatorsReadsAlike) {
    const auto items = sheetItems();
    const GridPortion reference = *parseGridPortion(test::joinItems(items, "\n"), "1.GK2").portion;
    const struct {
        const char* what;
        std::string sep;
    } layouts[] = {
        {"all on one line", ","},      {"blanks around items", " ,  "},           {"tabs around items", "\t,\t"},
        {"Windows line ends", "\r\n"}, {"blank lines between items", "\n\n  \n"}, {"comma then line end", ",\r\n"},
    };
    for (const auto& l : layouts) {
        SCOPED_TRACE(l.what);
        const GridLoadResult r = parseGridPortion("  " + test::joinItems(items, l.sep) + "  \n", "1.GK2");
        ASSERT_TRUE(r.ok());
        EXPECT_EQ(r.portion->roE89DLon, reference.roE89DLon);
        EXPECT_EQ(r.portion->geoidN, reference.geoidN);
        EXPECT_EQ(r.portion->geoidOriginLon, reference.geoidOriginLon);
        EXPECT_EQ(r.portion->e89E2000Epoch, reference.e89E2000Epoch);
    }
}

// The closing value passes within 0.000001 of -11.99, on both sides; anything after it is ignored.
TEST(GridPortionRead, ClosingValueIsTestedOnBothSides) {
    const struct {
        const char* closing;
        bool ok;
    } cases[] = {
        {"-11.99", true}, {"-11.990000", true}, {"-11.9900009", true}, {"-11.9899991", true}, {"-11.98", false},
        {"-12", false},   {"-100", false},      {"11.99", false},      {"-11.990002", false}, {"0", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.closing);
        auto items = vertexItems();
        items.back() = c.closing;
        const GridLoadResult r = parseGridPortion(test::joinItems(items, "\n") + "\nextra, items\n", "1.GK1");
        EXPECT_EQ(r.ok(), c.ok);
        if (!c.ok) {
            EXPECT_EQ(r.error, kDamaged);
        }
    }
}

// Numbers use "." whatever the user's locale; a comma is always a separator.
TEST(GridPortionRead, NumbersIgnoreTheLocale) {
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous != nullptr ? previous : "C";
    bool commaLocale = false;
    for (const char* name : {"it_IT.UTF-8", "it_IT.utf8", "de_DE.UTF-8", "fr_FR.UTF-8"}) {
        if (std::setlocale(LC_NUMERIC, name) != nullptr) {
            commaLocale = true;
            break;
        }
    }
    auto items = vertexItems();
    items[kFirstRoEdDLat] = "4.5";
    const GridLoadResult r = parseGridPortion(test::joinItems(items, "\n"), "1.GK1");
    std::setlocale(LC_NUMERIC, saved.c_str());
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.portion->roEdDLat[1], 4.5);
    if (!commaLocale) {
        GTEST_SKIP() << "no comma-decimal locale installed; read in the C locale only";
    }
}

TEST(GridPortionRead, TextsInLatin1AreShownAsUtf8) {
    auto items = vertexItems();
    items[3] = "PERCH\xC8";      // Latin-1 E grave
    items[37] = "PERCH\xC3\x88"; // already UTF-8
    const GridLoadResult r = parseGridPortion(test::joinItems(items, "\n"), "1.GK1");
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.portion->roEdEpoch, "PERCH\xC3\x88");
    EXPECT_EQ(r.portion->roE89Epoch, "PERCH\xC3\x88");
}

// --- Damaged files ----------------------------------------------------------------------

// Every damaged file is refused with the same warning and leaves no portion loaded.
TEST(GridPortionRead, DamagedFilesAreRefused) {
    using Items = std::vector<std::string>;
    const struct {
        const char* what;
        std::function<std::string()> text;
    } cases[] = {
        {"empty file", [] { return std::string(); }},
        {"only blanks and line ends", [] { return std::string(" \n\r\n  \n"); }},
        {"kind word in lower case",
         [] {
             Items i = vertexItems();
             i[0] = "punto";
             return test::joinItems(i, "\n");
         }},
        {"unknown kind word",
         [] {
             Items i = vertexItems();
             i[0] = "FOGLI";
             return test::joinItems(i, "\n");
         }},
        {"sheet word over vertex layout",
         [] {
             Items i = vertexItems();
             i[0] = "FOGLIO";
             return test::joinItems(i, "\n");
         }},
        {"ends before the closing value",
         [] {
             Items i = vertexItems();
             i.pop_back();
             return test::joinItems(i, "\n");
         }},
        {"ends in the middle of an array",
         [] {
             Items i = vertexItems();
             i.resize(kFirstRoEdDLat + 7);
             return test::joinItems(i, "\n");
         }},
        {"one value too many",
         [] {
             Items i = vertexItems();
             i.insert(i.begin() + kFirstRoEdDLat, "1.0");
             return test::joinItems(i, "\n");
         }},
        {"one value too few",
         [] {
             Items i = vertexItems();
             i.erase(i.begin() + kFirstRoEdDLat);
             return test::joinItems(i, "\n");
         }},
        {"decimal comma splits a value",
         [] {
             std::string t = test::joinItems(vertexItems(), "\n");
             return t.replace(t.find("\n4.") + 2, 1, ",");
         }},
        {"word where a number belongs",
         [] {
             Items i = vertexItems();
             i[kFirstRoEdDLat + 3] = "abc";
             return test::joinItems(i, "\n");
         }},
        {"number with trailing characters",
         [] {
             Items i = vertexItems();
             i[kFirstRoEdDLat + 3] = "4.25x";
             return test::joinItems(i, "\n");
         }},
        {"two decimal points",
         [] {
             Items i = vertexItems();
             i[kFirstRoEdDLat] = "4.2.5";
             return test::joinItems(i, "\n");
         }},
        {"empty item between commas",
         [] {
             Items i = vertexItems();
             i[kFirstRoEdDLat] = "";
             return test::joinItems(i, ",");
         }},
        {"not a number",
         [] {
             Items i = vertexItems();
             i[kFirstRoEdDLat] = "nan";
             return test::joinItems(i, "\n");
         }},
        {"infinity",
         [] {
             Items i = vertexItems();
             i[kFirstRoEdDLat] = "inf";
             return test::joinItems(i, "\n");
         }},
        {"origin latitude not a number",
         [] {
             Items i = vertexItems();
             i[kFirstRoEdDLat + 4 * 16 + 2] = "N45";
             return test::joinItems(i, "\n");
         }},
        {"global-geoid flag beyond 16 bits",
         [] {
             Items i = vertexItems();
             i[i.size() - 2] = "40000";
             return test::joinItems(i, "\n");
         }},
        {"quote never closed",
         [] {
             Items i = vertexItems();
             std::string t = test::joinItems(i, "\n");
             return t.replace(t.find("\"SINTETICA"), 1, "");
         }},
        {"characters after a closing quote",
         [] {
             std::string t = test::joinItems(vertexItems(), "\n");
             return t.replace(t.find("RILIEVI\"") + 8, 0, "x");
         }},
        {"an item of 600 characters",
         [] {
             Items i = vertexItems();
             i[1] = std::string(600, '7');
             return test::joinItems(i, "\n");
         }},
        {"a valid portion followed by more than 1 MiB",
         [] { return test::joinItems(vertexItems(), "\n") + "\n" + std::string(1024 * 1024, ' '); }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const GridLoadResult r = parseGridPortion(c.text(), "1.GK1");
        EXPECT_FALSE(r.ok());
        EXPECT_FALSE(r.portion.has_value());
        EXPECT_EQ(r.error, kDamaged);
    }
}

// --- Files, paths, names ----------------------------------------------------------------

TEST(GridPortionFile, PathJoinsFolderAndName) {
    const struct {
        const char* folder;
        const char* name;
        const char* path;
    } cases[] = {
        {"/", "1234.GK1", "/1234.GK1"},
        {"/media/griglie", "1234.GK1", "/media/griglie/1234.GK1"},
        {"/media/griglie/", "1234.GK1", "/media/griglie/1234.GK1"},
        {"", "1234.GK1", "1234.GK1"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(gridPortionPath(c.folder, c.name), c.path) << c.folder;
    }
}

TEST(GridPortionFile, NameIsTheFileNameUpToItsFirstStop) {
    const struct {
        const char* file;
        const char* name;
    } cases[] = {{"123.A.GK1", "123"}, {"0245.GK2", "0245"}, {"NOSTOP", "NOSTOP"}, {".GK1", ""}};
    const std::string text = test::joinItems(vertexItems(), "\n");
    for (const auto& c : cases) {
        EXPECT_EQ(parseGridPortion(text, c.file).portion->portionName, c.name) << c.file;
    }
}

TEST(GridPortionFile, LoadsFromDiskAndReportsWhatTheSystemSays) {
    namespace fs = std::filesystem;
    std::string tmpl = (fs::temp_directory_path() / "dormal_grid_XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    const fs::path dir = tmpl;
    fs::create_directories(dir / "sub.GK1");
    std::ofstream(dir / "0245.GK2", std::ios::binary) << test::joinItems(sheetItems(), "\r\n");

    const GridLoadResult ok = loadGridPortion(dir.string() + "/", "0245.GK2");
    ASSERT_TRUE(ok.ok());
    EXPECT_EQ(ok.portion->kind, PortionKind::Sheet);
    EXPECT_EQ(ok.portion->portionName, "0245");

    const GridLoadResult missing = loadGridPortion(dir.string(), "9999.GK1");
    EXPECT_FALSE(missing.ok());
    ASSERT_TRUE(missing.error.has_value());
    EXPECT_EQ(missing.error->errorNumber, ENOENT);
    // In Italian whatever the locale, and naming the file.
    EXPECT_EQ(messageOf(missing), (Message{MessageIcon::Error,
                                         "Errore",
                                         {"Il file o la cartella non esiste",
                                          "FILE DI GRIGLIA: " + (dir / "9999.GK1").string()}}));

    // The reading buffer follows the file's size; the size limit still holds on disk, and
    // a file that says it is empty (as /proc's do) is read to its end.
    std::ofstream(dir / "big.GK2", std::ios::binary)
        << test::joinItems(sheetItems(), "\r\n") << "\n" << std::string(1024 * 1024, ' ');
    for (const auto& [folderName, file] : {std::pair<std::string, std::string>{dir.string(), "big.GK2"},
                                           {"/proc/self", "status"}}) {
        const GridLoadResult r = loadGridPortion(folderName, file);
        EXPECT_FALSE(r.ok()) << file;
        ASSERT_TRUE(r.error.has_value()) << file;
        EXPECT_EQ(r.error->failure, GridLoadFailure::Damaged) << file;
    }

    const GridLoadResult folder = loadGridPortion(dir.string(), "sub.GK1");
    EXPECT_FALSE(folder.ok());
    ASSERT_TRUE(folder.error.has_value());
    EXPECT_EQ(folder.error->fileType, FileType::Folder);
    EXPECT_EQ(messageOf(folder).title, "Errore");
    EXPECT_EQ(messageOf(folder).icon, MessageIcon::Error);

    fs::remove_all(dir);
}

// Fault guarded: a grid portion that was a FIFO (or a link to one) blocked the read for
// ever. Anything but a regular file is refused at once, with the file named; a damaged
// file and an unreadable one name it too.
TEST(GridPortionFile, OnlyRegularFilesAreReadAndFailuresNameTheFile) {
    namespace fs = std::filesystem;
    std::string tmpl = (fs::temp_directory_path() / "dormal_grid_XXXXXX").string();
    ASSERT_NE(::mkdtemp(tmpl.data()), nullptr);
    const fs::path dir = tmpl;
    const std::string d = dir.string();
    std::ofstream(dir / "ok.GK1", std::ios::binary) << test::joinItems(vertexItems(), "\n");
    std::ofstream(dir / "damaged.GK1", std::ios::binary) << "PUNTO\n1,2\n";
    ASSERT_EQ(::mkfifo((dir / "fifo.GK1").c_str(), 0600), 0);
    fs::create_symlink(dir / "fifo.GK1", dir / "tofifo.GK1");
    fs::create_symlink(dir / "ok.GK1", dir / "took.GK1");
    fs::create_directory(dir / "folder.GK1");
    // A socket file (bound in the folder), which cannot be opened.
    const int sock = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string sockPath = (dir / "sock.GK1").string();
    const bool haveSocket = sock >= 0 && sockPath.size() < sizeof addr.sun_path;
    if (haveSocket) {
        std::memcpy(addr.sun_path, sockPath.c_str(), sockPath.size() + 1);
        ASSERT_EQ(::bind(sock, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    }
    // A writer holds the FIFO open, so a plain open would not block but its read would;
    // should it, the writer goes after a while and the read ends with the wrong message
    // instead of hanging the test.
    const int writer = ::open((dir / "fifo.GK1").c_str(), O_RDWR | O_NONBLOCK);
    ASSERT_GE(writer, 0);
    std::atomic<bool> done{false};
    std::thread watchdog([writer, &done] {
        for (int i = 0; i < 300 && !done; ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        ::close(writer);
    });

    const std::string fifoCause = "Il percorso non indica un file ordinario ma una coda (FIFO)";
    const struct {
        const char* file;
        bool ok;
        MessageIcon icon;
        std::string first; // first line of the message
    } cases[] = {
        {"ok.GK1", true, MessageIcon::None, ""},
        {"took.GK1", true, MessageIcon::None, ""},
        {"fifo.GK1", false, MessageIcon::Error, fifoCause},
        {"tofifo.GK1", false, MessageIcon::Error, fifoCause},
        {"folder.GK1", false, MessageIcon::Error, "Il percorso non indica un file ordinario ma una cartella"},
        {"sock.GK1", false, MessageIcon::Error, systemErrorText(ENXIO)},
        {"none.GK1", false, MessageIcon::Error, "Il file o la cartella non esiste"},
        {"damaged.GK1", false, MessageIcon::Warning, "LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE"},
    };
    for (const auto& c : cases) {
        if (std::string(c.file) == "sock.GK1" && !haveSocket) {
            continue;
        }
        SCOPED_TRACE(c.file);
        const auto started = std::chrono::steady_clock::now();
        const GridLoadResult r = loadGridPortion(d, c.file);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(2));
        ASSERT_EQ(r.ok(), c.ok);
        if (c.ok) {
            EXPECT_EQ(r.portion->sourcePath, d + "/" + c.file);
            continue;
        }
        ASSERT_TRUE(r.error.has_value());
        EXPECT_EQ(r.error->path, d + "/" + c.file);
        const Message m = messageOf(r);
        EXPECT_EQ(m.icon, c.icon);
        EXPECT_EQ(m.title, c.icon == MessageIcon::Error ? "Errore" : "ATTENZIONE:");
        EXPECT_EQ(m.lines, (std::vector<std::string>{c.first, "FILE DI GRIGLIA: " + d + "/" + c.file}));
    }
    done = true;
    watchdog.join();
    if (sock >= 0) {
        ::close(sock);
    }
    fs::remove_all(dir);
}

// Italian descriptions whatever the locale, for the errors a file can meet.
TEST(GridPortionFile, SystemErrorsInItalian) {
    const struct {
        int err;
        const char* text;
    } cases[] = {
        {ENOENT, "Il file o la cartella non esiste"},
        {EACCES, "Permesso negato"},
        {EISDIR, "Il percorso indica una cartella, non un file"},
        {ENOSPC, "Spazio esaurito sul disco"},
        {ENAMETOOLONG, "Nome del file troppo lungo"},
        {ELOOP, "Troppi collegamenti simbolici nel percorso"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(systemErrorText(c.err), c.text) << c.err;
    }
    // Rare values still say something, in a sentence that starts in Italian.
    EXPECT_EQ(systemErrorText(EPROTO).rfind("Errore di sistema: ", 0), 0u);
}

// A read always starts from zeroed arrays: nothing of a sheet read survives a vertex read.
TEST(GridPortionFile, VertexReadAfterSheetReadLeavesExtraNodesZero) {
    GridPortion held = *parseGridPortion(test::joinItems(sheetItems(), "\n"), "0245.GK2").portion;
    ASSERT_NE(held.roEdDLat[36], 0.0);
    held = *parseGridPortion(test::joinItems(vertexItems(), "\n"), "123456.GK1").portion;
    for (const auto* a : {&held.roEdDLat, &held.roEdDLon, &held.roE89DLat, &held.roE89DLon, &held.e89E2000DLat,
                          &held.e89E2000DLon, &held.e89E2000DH}) {
        for (int k = 17; k <= 36; ++k) {
            EXPECT_EQ((*a)[static_cast<std::size_t>(k)], 0.0) << k;
        }
    }
    for (int k = 81; k <= 140; ++k) {
        EXPECT_EQ(held.geoidN[static_cast<std::size_t>(k)], 0.0) << k;
    }
}

} // namespace
} // namespace dormal
