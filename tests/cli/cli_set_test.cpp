// dormal2k-batch with several grid portions at once: repeated --grid, --grid-dir, the sample
// mosaic as its README runs it, refusals inside a folder, and --check-set.

#include <map>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "cli_support.h"
#include "geodesy/angles.h"
#include "grid/grid_portion.h"
#include "grid/zone_limits.h"
#include "tools/synthetic_grid.h"

namespace dormal::clitest {
namespace {

const std::string kSamples = DORMAL2K_SAMPLES_DIR;
const std::string kMosaic = kSamples + "/mosaic";

// The conversion of the sample data: ROMA40 Gauss-Boaga to ETRF2000 UTM with heights.
std::vector<std::string> sampleArgs(const std::vector<std::string>& gridArgs, const std::string& data,
                                    const std::string& result) {
    std::vector<std::string> a = {"--from", "ROMA40", "--from-kind", "plane", "--to",
                                  "ETRF2000", "--to-kind", "plane", "--heights"};
    a.insert(a.end(), gridArgs.begin(), gridArgs.end());
    a.push_back(data);
    a.push_back(result);
    return a;
}

int countOf(const std::string& text, const std::string& what) {
    int n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++n;
    }
    return n;
}

// The run of the mosaic README, and the same set spelled three ways: the report is the same
// whatever the spelling, names the number of portions, and the summary counts each portion.
TEST(CliSet, SampleMosaicAsTheReadmeRunsIt) {
    ScratchDir dir;
    const std::string data = kMosaic + "/punti_mosaico.txt";
    struct Case {
        const char* what;
        std::vector<std::string> grids;
    };
    const Case cases[] = {
        {"folder", {"--grid-dir", kMosaic}},
        {"files one by one", {"--grid", kMosaic + "/0245.GK2", "--grid", kMosaic + "/0246.GK2", "--grid",
                              kMosaic + "/0247.GK2", "--grid", kMosaic + "/0248.GK2"}},
        {"folder after the same first file", {"--grid", kMosaic + "/0245.GK2", "--grid-dir", kMosaic}},
    };
    std::string first;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string result = dir.file(std::string("r-") + std::to_string(&c - cases) + ".txt");
        const ProcessResult p = runBatchExe(sampleArgs(c.grids, data, result));
        EXPECT_EQ(p.exitCode, 3) << p.err; // FUORI1 is outside on purpose
        const std::string report = readWholeFile(result);
        EXPECT_EQ(countOf(report, "Fuori Grig."), 2); // its two coordinates
        EXPECT_NE(p.err.find("PUNTI TRATTATI:   38"), std::string::npos) << p.err;
        EXPECT_NE(p.err.find("PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  1"), std::string::npos);
        // 0245.GK2 given first and again in the folder is used once, in its first place.
        EXPECT_NE(report.find("/Porzioni di griglia usate: 4 (epoche della prima)\r\n"), std::string::npos);
        EXPECT_NE(p.err.find("PUNTI CALCOLATI CON 0245.GK2:  17\nPUNTI CALCOLATI CON 0246.GK2:  8\n"
                             "PUNTI CALCOLATI CON 0247.GK2:  8\nPUNTI CALCOLATI CON 0248.GK2:  4"),
                  std::string::npos)
            << p.err;
        if (first.empty()) {
            first = report;
        } else {
            EXPECT_EQ(report, first);
        }
    }
}

// Repeating --grid used to keep only the last file, so the points of the first came out
// outside the grid. With both, each point of either sheet is converted, exactly as with
// the sheet alone.
TEST(CliSet, RepeatedGridUsesEveryFile) {
    ScratchDir dir;
    const std::string data = kMosaic + "/punti_mosaico.txt";
    const std::string sw = kMosaic + "/0245.GK2", ne = kMosaic + "/0248.GK2";
    const ProcessResult both = runBatchExe(sampleArgs({"--grid", sw, "--grid", ne}, data, dir.file("both.txt")));
    const ProcessResult onlySw = runBatchExe(sampleArgs({"--grid", sw}, data, dir.file("sw.txt")));
    const ProcessResult onlyNe = runBatchExe(sampleArgs({"--grid", ne}, data, dir.file("ne.txt")));
    for (const ProcessResult* p : {&both, &onlySw, &onlyNe}) {
        EXPECT_EQ(p->exitCode, 3) << p->err;
    }
    // Report lines by point name (the header differs by the portion-count line).
    const auto lines = [](const std::string& text) {
        std::map<std::string, std::string> byName;
        std::istringstream in(text);
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line[0] == ' ') {
                byName[line.substr(0, line.find(' ', 1))] = line;
            }
        }
        return byName;
    };
    const auto b = lines(readWholeFile(dir.file("both.txt")));
    const auto s = lines(readWholeFile(dir.file("sw.txt")));
    const auto n = lines(readWholeFile(dir.file("ne.txt")));
    ASSERT_EQ(b.size(), 38u);
    int fromSw = 0, fromNe = 0;
    for (const auto& [name, line] : b) {
        const bool inSw = s.at(name).find("Fuori") == std::string::npos;
        const bool inNe = n.at(name).find("Fuori") == std::string::npos;
        SCOPED_TRACE(name);
        if (inSw) {
            EXPECT_EQ(line, s.at(name)); // the first file wins where both cover the point
            ++fromSw;
        } else if (inNe) {
            EXPECT_EQ(line, n.at(name));
            ++fromNe;
        } else {
            EXPECT_NE(line.find("Fuori Grig."), std::string::npos);
        }
    }
    EXPECT_GT(fromSw, 0);
    EXPECT_GT(fromNe, 0);
    EXPECT_NE(both.err.find("PUNTI CALCOLATI CON 0245.GK2:  " + std::to_string(fromSw)), std::string::npos);
}

// A folder the set cannot use is refused (status 1) with the grid message naming the file
// or folder; nothing is skipped silently.
TEST(CliSet, FolderRefusals) {
    const std::string good = readWholeFile(kMosaic + "/0245.GK2");
    struct Case {
        const char* what;
        std::vector<std::pair<std::string, std::string>> files;
        const char* expected;
    };
    const Case cases[] = {
        {"damaged portion", {{"0245.GK2", good}, {"0246.gk2", good.substr(0, 300)}},
         "LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE"},
        {"no portion", {{"punti.txt", "1 2 3\n"}}, "NESSUNA PORZIONE DI GRIGLIA (*.GK?) NELLA CARTELLA"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ScratchDir dir;
        fs::create_directory(dir.path() / "griglie");
        for (const auto& [name, text] : c.files) {
            writeWholeFile(dir.file("griglie/" + name), text);
        }
        const std::string result = dir.file("r.txt");
        const ProcessResult p = runBatchExe(
            sampleArgs({"--grid-dir", dir.file("griglie")}, kSamples + "/punti_roma40_gb.txt", result));
        EXPECT_EQ(p.exitCode, 1) << p.err;
        EXPECT_NE(p.err.find(c.expected), std::string::npos) << p.err;
        if (std::string(c.what) == "damaged portion") {
            EXPECT_NE(p.err.find("0246.gk2"), std::string::npos) << p.err;
        }
        EXPECT_FALSE(fs::exists(result));
    }
}

// --check-set: every overlapping pair with its differences; a consistent folder stays under
// a millimetre, a sheet from another field shows up; misuse is a usage error.
TEST(CliSet, CheckSet) {
    const ProcessResult sample = runBatchExe({"--check-set", "--grid-dir", kMosaic});
    EXPECT_EQ(sample.exitCode, 0) << sample.err;
    EXPECT_NE(sample.out.find("PORZIONI: 4\n"), std::string::npos) << sample.out;
    EXPECT_NE(sample.out.find("COPPIE CHE SI SOVRAPPONGONO: 6\n"), std::string::npos) << sample.out;
    EXPECT_NE(sample.out.find("0245.GK2 - 0246.GK2: punti confrontati "), std::string::npos);
    EXPECT_NE(sample.out.find("DIFFERENZA MASSIMA: 0.0"), std::string::npos) << sample.out;
    EXPECT_NE(sample.out.find("TOLLERANZA: 1.000 (1e-4\") in latitudine e longitudine, 1.000 mm in quota\n"
                              "COPPIE OLTRE LA TOLLERANZA: 0\n"),
              std::string::npos)
        << sample.out;
    EXPECT_EQ(sample.out.find("OLTRE LA TOLLERANZA\n"), std::string::npos) << sample.out;

    ScratchDir dir;
    gridgen::PortionRecipe stranger;
    stranger.kind = PortionKind::Sheet;
    stranger.southLat = 42.5;
    stranger.westLon = 13.625;
    stranger.name = "0999";
    stranger.seed = 9;
    writeWholeFile(dir.file("0999.GK2"), gridgen::portionText(stranger));
    const ProcessResult mixed = runBatchExe({"--check-set", "--grid-dir", kMosaic, "--grid", dir.file("0999.GK2")});
    EXPECT_EQ(mixed.exitCode, 3) << mixed.err; // beyond the tolerance
    // Files first: the stranger is the first of the set.
    EXPECT_NE(mixed.out.find("0999.GK2 - 0245.GK2"), std::string::npos) << mixed.out;
    EXPECT_EQ(mixed.out.find("DIFFERENZA MASSIMA: 0.0"), std::string::npos) << mixed.out;
    EXPECT_NE(mixed.out.find(" (1e-4\") OLTRE LA TOLLERANZA\n"), std::string::npos) << mixed.out;
    EXPECT_EQ(mixed.out.find("COPPIE OLTRE LA TOLLERANZA: 0\n"), std::string::npos) << mixed.out;

    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--check-set"},
          std::vector<std::string>{"--check-set", "--grid-dir", kMosaic, "dati.txt", "r.txt"}}) {
        EXPECT_EQ(runBatchExe(args).exitCode, 2);
    }
}

// Fault guarded: a portion named twice entered the set twice (the second copy never used,
// the report counting it, --check-set comparing it with itself). The same file, by device
// and inode, is used once in its first place, however it is spelled.
TEST(CliSet, SameFileGivenTwiceIsUsedOnce) {
    ScratchDir dir;
    fs::create_directory(dir.path() / "g");
    const std::string a = dir.file("g/0245.GK2"), b = dir.file("g/0246.GK2");
    fs::copy_file(kMosaic + "/0245.GK2", a);
    fs::copy_file(kMosaic + "/0246.GK2", b);
    fs::create_symlink(a, dir.file("link.GK2"));
    fs::create_hard_link(a, dir.file("hard.GK2"));
    const struct {
        std::vector<std::string> args;
        const char* said;
    } cases[] = {
        {{"--grid", a, "--grid", a}, "PORZIONI: 1\n"},
        {{"--grid", a, "--grid", dir.file("g/../g/./0245.GK2")}, "PORZIONI: 1\n"},
        {{"--grid", a, "--grid", dir.file("link.GK2")}, "PORZIONI: 1\n"},
        {{"--grid", dir.file("hard.GK2"), "--grid", a}, "PORZIONI: 1\n"},
        {{"--grid", b, "--grid-dir", dir.file("g")},
         "PORZIONI: 2\nCOPPIE CHE SI SOVRAPPONGONO: 1\n0246.GK2 - 0245.GK2"},
        {{"--grid-dir", dir.file("g"), "--grid-dir", dir.file("g/.")}, "PORZIONI: 2\n"},
        {{"--grid", a, "--grid", b}, "PORZIONI: 2\n"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--check-set"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        SCOPED_TRACE(c.args[1] + " " + c.args[3]);
        const ProcessResult p = runBatchExe(args);
        EXPECT_EQ(p.exitCode, 0) << p.err;
        EXPECT_NE(p.out.find(c.said), std::string::npos) << p.out;
    }
}

// More than 20 portions: the summary lists the 20 that converted most points (ties in set
// order) and one line for the others, instead of a line for every portion of the folder.
TEST(CliSet, MoreThanTwentyPortionsListTheTwentyWithMostPoints) {
    ScratchDir dir;
    fs::create_directory(dir.path() / "g");
    gridgen::PortionRecipe first;
    first.kind = PortionKind::Sheet;
    first.southLat = 42.0;
    first.westLon = 12.0;
    first.name = "1001";
    // Points at the middle of each portion, in set order (1001 ... 1025).
    const int counts[25] = {2, 0, 5, 1, 1, 3, 3, 0, 2, 1, 4, 1, 1, 1, 1, 2, 2, 0, 1, 1, 1, 1, 3, 0, 1};
    std::string data;
    int k = 0;
    for (const gridgen::PortionRecipe& r : gridgen::mosaicRecipes(first, 5, 5)) {
        const std::string text = gridgen::portionText(r);
        writeWholeFile(dir.file("g/" + gridgen::defaultFileName(r)), text);
        const GridLoadResult g = parseGridPortion(text, gridgen::defaultFileName(r));
        ASSERT_TRUE(g.ok());
        const ZoneLimits z = computeZoneLimits(*g.portion, RefSystem::Etrf89);
        for (int j = 0; j < counts[k]; ++j) {
            char line[96];
            std::snprintf(line, sizeof line, "P%d_%d %.8f %.8f\n", k, j, degreesToSexagesimal((z.south + z.north) / 2),
                          degreesToSexagesimal((z.west + z.east) / 2));
            data += line;
        }
        ++k;
    }
    ASSERT_EQ(k, 25);
    writeWholeFile(dir.file("d.txt"), data);
    const ProcessResult p = runBatchExe(
        {"--from", "ETRF89", "--to", "ETRF2000", "--grid-dir", dir.file("g"), dir.file("d.txt"), dir.file("r.txt")});
    EXPECT_EQ(p.exitCode, 0) << p.err;
    std::string expected;
    for (const auto& [name, n] :
         std::vector<std::pair<int, int>>{{1003, 5}, {1011, 4}, {1006, 3}, {1007, 3}, {1023, 3}, {1001, 2}, {1009, 2},
                                          {1016, 2}, {1017, 2}, {1004, 1}, {1005, 1}, {1010, 1}, {1012, 1}, {1013, 1},
                                          {1014, 1}, {1015, 1}, {1019, 1}, {1020, 1}, {1021, 1}, {1022, 1}}) {
        expected += "PUNTI CALCOLATI CON " + std::to_string(name) + ".GK2:  " + std::to_string(n) + "\n";
    }
    expected += "altre 5 porzioni: 1 punti\n";
    EXPECT_NE(p.err.find(expected), std::string::npos) << p.err;
    EXPECT_EQ(countOf(p.err, "PUNTI CALCOLATI CON "), 20) << p.err;
}

} // namespace
} // namespace dormal::clitest
