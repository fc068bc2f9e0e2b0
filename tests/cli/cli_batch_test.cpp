// dormal2k-batch end to end: the built program on synthetic grid portions and data files
// made here. Every choice the window offers converts, in both file types, and comes back;
// wrong command lines exit 2, refusals and failures exit 1 with the system's message.

#include <cmath>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include <gtest/gtest.h>

#include "cli_support.h"
#include "conversion/point_conversion.h"
#include "geodesy/angles.h"
#include "conversion/selection_words.h"
#include "geodesy/zones.h"
#include "grid/grid_portion.h"
#include "grid/zone_limits.h"
#include "tools/synthetic_grid.h"

namespace dormal::clitest {
namespace {

// One side of a selection: system, kind and (plane only) zone.
struct Side {
    RefSystem sys;
    CoordKind kind;
    Zone zone; // meaningful for plane only
};

const char* systemWord(RefSystem s) {
    switch (s) {
    case RefSystem::Roma40:
        return "ROMA40";
    case RefSystem::Ed50:
        return "ED50";
    case RefSystem::Etrf89:
        return "ETRF89";
    case RefSystem::Etrf2000:
        break;
    }
    return "ETRF2000";
}

std::string zoneWord(RefSystem sys, Zone z) {
    switch (z) {
    case Zone::Auto:
        return "auto";
    case Zone::OvestOr32:
        return sys == RefSystem::Roma40 ? "ovest" : "32";
    case Zone::EstOr33:
        return sys == RefSystem::Roma40 ? "est" : "33";
    case Zone::Utm34:
        return "34";
    case Zone::Italia:
        break;
    }
    return "italia";
}

std::string describe(const Side& s) {
    std::string d = systemWord(s.sys);
    d += s.kind == CoordKind::Plane ? " plane " + zoneWord(s.sys, s.zone) : " geo";
    return d;
}

// Every choice of one side the window's lists offer.
std::vector<Side> choices(bool input) {
    std::vector<Side> out;
    for (RefSystem sys : kAllSystems) {
        out.push_back({sys, CoordKind::Geographic, input ? inputZoneList(sys).front().value : Zone::Auto});
        for (const ListItem<Zone>& z : input ? inputZoneList(sys) : outputZoneList(sys)) {
            out.push_back({sys, CoordKind::Plane, z.value});
        }
    }
    return out;
}

void addSide(std::vector<std::string>& args, const char* prefix, const Side& s) {
    const std::string p(prefix);
    args.insert(args.end(),
                {"--" + p, systemWord(s.sys), "--" + p + "-kind", s.kind == CoordKind::Plane ? "plane" : "geo"});
    if (s.kind == CoordKind::Plane) {
        args.insert(args.end(), {"--" + p + "-zone", zoneWord(s.sys, s.zone)});
    }
}

bool refused(const Side& in, const Side& out) {
    return in.sys == out.sys && in.kind == out.kind && (in.kind == CoordKind::Geographic || in.zone == out.zone);
}

// A value of a point as the files hold it: the number and, for ASCII, its text as printed.
struct Value {
    double v = 0;
    std::string text;
};
struct FilePoint {
    std::string name;
    Value first, second, height;
    std::string zone;
};

std::string fixedText(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    std::string s(buf);
    for (char& c : s) {
        if (c == ',') {
            c = '.'; // whatever the test's own locale
        }
    }
    return s;
}

// The synthetic map-sheet portion all these runs use, around 41.5 N 15 E (zone 33, Est):
// every zone of every system lies within 6 degrees of its points.
class BatchCli : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = new ScratchDir();
        gridgen::PortionRecipe gen = testSheetRecipe();
        const std::string gridName = gridgen::defaultFileName(gen);
        gridPath_ = dir_->file(gridName);
        writeWholeFile(gridPath_, gridgen::portionText(gen));
        gen.globalGeoid = true;
        gen.name = "4322";
        globalGridPath_ = dir_->file(gridgen::defaultFileName(gen));
        writeWholeFile(globalGridPath_, gridgen::portionText(gen));
        GridLoadResult g = loadGridPortion(dir_->path().string(), gridName);
        ASSERT_TRUE(g.ok());
        limits_ = computeZoneLimits(*g.portion, RefSystem::Etrf89);
    }
    static void TearDownTestSuite() {
        delete dir_;
        dir_ = nullptr;
    }

    // Points (decimal degrees, Greenwich) in the middle half of the area the portion covers.
    static std::vector<std::pair<double, double>> basePoints() {
        std::vector<std::pair<double, double>> pts;
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 2; ++j) {
                const double lat = limits_.south + (limits_.north - limits_.south) * (0.25 + 0.25 * i);
                const double lon = limits_.west + (limits_.east - limits_.west) * (0.3 + 0.4 * j);
                pts.emplace_back(lat, lon);
            }
        }
        return pts;
    }

    // The base points in the form of an input side: gg.ppssdddd or North and East.
    static std::vector<FilePoint> pointsFor(const Side& s) {
        std::vector<FilePoint> out;
        int k = 0;
        for (const auto& [lat, lon] : basePoints()) {
            FilePoint p;
            p.name = "P" + std::to_string(++k);
            if (s.kind == CoordKind::Geographic) {
                p.first.v = degreesToSexagesimal(lat);
                p.second.v = degreesToSexagesimal(lon - (s.sys == RefSystem::Roma40 ? romeMeridian() : 0.0));
                p.first.text = fixedText(p.first.v, 10);
                p.second.text = fixedText(p.second.v, 10);
            } else {
                ConversionContext ctx;
                ctx.sel.inputSystem = ctx.sel.outputSystem = s.sys;
                ctx.sel.inputKind = CoordKind::Geographic;
                ctx.sel.outputKind = CoordKind::Plane;
                ctx.sel.outputZone = s.zone;
                const double lonTyped = lon - (s.sys == RefSystem::Roma40 ? romeMeridian() : 0.0);
                const PointResult r = convertPoint(ctx, {degreesToSexagesimal(lat), degreesToSexagesimal(lonTyped), 0}, RunKind::Batch);
                p.first.v = r.outFirst;
                p.second.v = r.outSecond;
                p.first.text = fixedText(p.first.v, 6);
                p.second.text = fixedText(p.second.v, 6);
            }
            p.height.v = 100.0 + 37.25 * k;
            p.height.text = fixedText(p.height.v, 4);
            out.push_back(p);
        }
        return out;
    }

    static void writeData(const std::string& path, bool excel, const std::vector<FilePoint>& pts) {
        if (excel) {
            std::vector<DataRow> rows;
            for (const FilePoint& p : pts) {
                rows.push_back({p.name, p.first.v, p.second.v, p.height.v});
            }
            writeDataWorkbook(path, rows);
            return;
        }
        std::string t = "/ punti di prova\n";
        for (const FilePoint& p : pts) {
            t += p.name + " " + p.first.text + "\t" + p.second.text + " " + p.height.text + "\n";
        }
        writeWholeFile(path, t);
    }

    // Points of a result file, as written.
    static std::vector<FilePoint> readResult(const std::string& path, bool excel, bool heights) {
        std::vector<FilePoint> out;
        if (excel) {
            const Sheet sheet = readFirstSheet(path);
            for (int row = 6;; ++row) {
                const auto name = sheet.find({row, 1});
                if (name == sheet.end()) {
                    break;
                }
                FilePoint p;
                p.name = name->second.isNumber ? fixedText(name->second.number, 0) : name->second.text;
                const auto num = [&](int col) {
                    const auto c = sheet.find({row, col});
                    return c != sheet.end() && c->second.isNumber ? c->second.number : std::nan("");
                };
                p.first.v = num(5);
                p.second.v = num(6);
                p.height.v = heights ? num(7) : 0;
                const auto zone = sheet.find({row, 8});
                p.zone = zone != sheet.end() ? zone->second.text : "";
                out.push_back(p);
            }
            return out;
        }
        std::istringstream in(readWholeFile(path));
        std::string line;
        while (std::getline(in, line)) {
            if (!line.empty() && line.back() == '\r') {
                line.pop_back();
            }
            if (line.empty() || line[0] == '/') {
                continue;
            }
            std::istringstream fields(line);
            std::vector<std::string> f;
            for (std::string w; fields >> w;) {
                f.push_back(w);
            }
            FilePoint p;
            const std::size_t outAt = heights ? 4 : 3;
            if (f.size() < outAt + 2) {
                ADD_FAILURE() << "short result line: " << line;
                continue;
            }
            p.name = f[0];
            const auto value = [](const std::string& t) {
                Value v;
                v.text = t;
                if (!parseNumber(t, v.v)) {
                    v.v = std::nan("");
                }
                return v;
            };
            p.first = value(f[outAt]);
            p.second = value(f[outAt + 1]);
            std::size_t next = outAt + 2;
            if (heights) {
                p.height = value(f[next++]);
            }
            p.zone = next < f.size() ? f[next] : "";
            out.push_back(p);
        }
        return out;
    }

    static std::vector<std::string> args(const Side& in, const Side& out, bool heights, const std::string& data,
                                         const std::string& result, const std::string& grid = gridPath_) {
        std::vector<std::string> a;
        addSide(a, "from", in);
        addSide(a, "to", out);
        if (heights) {
            a.push_back("--heights");
        }
        if (in.sys != out.sys) {
            a.insert(a.end(), {"--grid", grid});
        }
        a.insert(a.end(), {"--decimal-separator", ".", data, result});
        return a;
    }

    // Distance in metres between two values of one kind (plane metres, or sexagesimal).
    static double metres(const Side& s, const FilePoint& a, const FilePoint& b) {
        if (s.kind == CoordKind::Plane) {
            return std::hypot(a.first.v - b.first.v, a.second.v - b.second.v);
        }
        const double lat = sexagesimalToDegrees(a.first.v);
        const double dLat = (sexagesimalToDegrees(a.first.v) - sexagesimalToDegrees(b.first.v)) * 111320;
        const double dLon = (sexagesimalToDegrees(a.second.v) - sexagesimalToDegrees(b.second.v)) * 111320 * std::cos(lat * M_PI / 180);
        return std::hypot(dLat, dLon);
    }

    static ScratchDir* dir_;
    static std::string gridPath_, globalGridPath_;
    static ZoneLimits limits_;
};

ScratchDir* BatchCli::dir_ = nullptr;
std::string BatchCli::gridPath_;
std::string BatchCli::globalGridPath_;
ZoneLimits BatchCli::limits_;

std::string summaryCount(std::int16_t n) {
    return "PUNTI TRATTATI:   " + std::to_string(n);
}

// Every input choice to every output choice, both file types: converts every point, and
// the result converted back gives the original points. Tolerance 1 mm, plus for ASCII the
// resolution of the printed numbers (0.0005 m, or 0.00005" of arc, on each of the two runs).
class EveryChoice : public BatchCli, public ::testing::WithParamInterface<bool> {};

TEST_P(EveryChoice, ConvertsAndComesBack) {
    const bool excel = GetParam();
    const std::string ext = excel ? ".xlsx" : ".txt";
    struct Combination {
        Side in, out;
        bool heights;
        std::string result, back, backResult;
        std::vector<FilePoint> original, converted;
        Side backIn, backOut;
        bool comesBack = false;
    };
    std::vector<Combination> all;
    std::vector<std::vector<std::string>> forward;
    const std::vector<Side> inputs = choices(true);
    for (std::size_t i = 0; i < inputs.size(); ++i) {
        const std::string data = dir_->file("data-" + std::to_string(i) + ext);
        const std::vector<FilePoint> original = pointsFor(inputs[i]);
        writeData(data, excel, original);
        for (const Side& out : choices(false)) {
            if (refused(inputs[i], out)) {
                continue;
            }
            Combination c;
            c.in = inputs[i];
            c.out = out;
            c.heights = pairEntry(c.in.sys, c.out.sys) == PairEntry::Open;
            const std::string id = std::to_string(all.size());
            c.result = dir_->file("result-" + id + ext);
            c.back = dir_->file("back-" + id + ext);
            c.backResult = dir_->file("backresult-" + id + ext);
            c.original = original;
            forward.push_back(args(c.in, c.out, c.heights, data, c.result));
            all.push_back(std::move(c));
        }
    }
    ASSERT_EQ(all.size(), 360u);

    const std::vector<ProcessResult> there = runBatchExeMany(forward);
    std::vector<std::vector<std::string>> backward;
    std::vector<std::size_t> backOf;
    for (std::size_t k = 0; k < all.size(); ++k) {
        Combination& c = all[k];
        SCOPED_TRACE(describe(c.in) + " -> " + describe(c.out) + (excel ? " (excel)" : " (ascii)"));
        ASSERT_EQ(there[k].exitCode, 0) << there[k].err;
        EXPECT_NE(there[k].err.find(summaryCount(static_cast<std::int16_t>(c.original.size()))), std::string::npos)
            << there[k].err;
        if (c.in.sys != c.out.sys) {
            EXPECT_NE(there[k].err.find("PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  0"), std::string::npos)
                << there[k].err;
        }
        c.converted = readResult(c.result, excel, c.heights);
        ASSERT_EQ(c.converted.size(), c.original.size());

        // Back: the output side becomes the input side. An automatic output zone is read
        // back in the zone the result names (all points lie in one zone).
        c.backIn = c.out;
        if (c.out.kind == CoordKind::Plane && c.out.zone == Zone::Auto && c.out.sys != RefSystem::Roma40) {
            c.backIn.zone = c.converted[0].zone == "32"   ? Zone::OvestOr32
                            : c.converted[0].zone == "33" ? Zone::EstOr33
                                                          : Zone::Utm34;
        }
        c.backOut = c.in;
        if (refused(c.backIn, c.backOut)) {
            continue; // e.g. ROMA40 Est -> automatic: the same zone both ways
        }
        std::vector<FilePoint> again = c.converted;
        for (FilePoint& p : again) {
            if (!c.heights) {
                p.height = {};
                p.height.text = "0";
            }
        }
        writeData(c.back, excel, again);
        c.comesBack = true;
        backward.push_back(args(c.backIn, c.backOut, c.heights, c.back, c.backResult));
        backOf.push_back(k);
    }

    const std::vector<ProcessResult> home = runBatchExeMany(backward);
    for (std::size_t b = 0; b < backward.size(); ++b) {
        const Combination& c = all[backOf[b]];
        SCOPED_TRACE(describe(c.in) + " -> " + describe(c.out) + " and back" + (excel ? " (excel)" : " (ascii)"));
        ASSERT_EQ(home[b].exitCode, 0) << home[b].err;
        const std::vector<FilePoint> returned = readResult(c.backResult, excel, c.heights);
        ASSERT_EQ(returned.size(), c.original.size());
        const auto resolution = [excel](const Side& s) {
            return excel ? 0.0 : s.kind == CoordKind::Plane ? 0.0005 : 0.00005 * 30.9;
        };
        const double tol = 0.001 + resolution(c.out) + resolution(c.in);
        for (std::size_t k = 0; k < c.original.size(); ++k) {
            EXPECT_LE(metres(c.in, returned[k], c.original[k]), tol) << c.original[k].name;
            if (c.heights) {
                EXPECT_NEAR(returned[k].height.v, c.original[k].height.v, excel ? 0.001 : 0.002) << c.original[k].name;
            }
        }
    }
    EXPECT_GT(backward.size(), 340u);
}

INSTANTIATE_TEST_SUITE_P(FileTypes, EveryChoice, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Excel" : "Ascii"; });

// ---------------------------------------------------------------------------------------
TEST_F(BatchCli, UsageErrorsExit2WithTheReason) {
    struct Case {
        std::vector<std::string> args;
        const char* reason;
    };
    const std::string d = dir_->file("u.txt"), r = dir_->file("ur.txt");
    writeWholeFile(d, "P1 45.0 11.0\n");
    const Case cases[] = {
        {{}, "manca --from"},
        {{"--from", "ETRF89", d, r}, "manca --to"},
        {{"--from", "WGS84", "--to", "ETRF89", d, r}, "sistema sconosciuto"},
        {{"--from", "ETRF89", "--to", "ROMA40", "--to-kind", "piane", d, r}, "--to-kind"},
        {{"--from", "ED50", "--from-kind", "plane", "--from-zone", "ovest", "--to", "ED50", d, r}, "--from-zone"},
        {{"--from", "ETRF89", "--from-kind", "plane", "--from-zone", "auto", "--to", "ROMA40", d, r}, "--from-zone"},
        {{"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "32", "--to", "ED50", d, r}, "--from-zone"},
        {{"--from", "ETRF89", "--to", "ED50", "--to-kind", "plane", "--to-zone", "italia", d, r}, "--to-zone"},
        {{"--from", "ETRF89", "--to", "ROMA40", "--to-kind", "plane", "--to-zone", "34", d, r}, "--to-zone"},
        {{"--from", "ETRF89", "--from-zone", "32", "--to", "ROMA40", d, r}, "solo per coordinate piane"},
        {{"--from", "ROMA40", "--to", "ED50", "--heights", d, r}, "--heights"},
        {{"--from", "ETRF89", "--to", "ETRF89", "--to-kind", "plane", "--heights", d, r}, "--heights"},
        {{"--from", "ETRF89", "--to", "ROMA40", "--type", "csv", d, r}, "--type"},
        {{"--from", "ETRF89", "--to", "ROMA40", "--type", "excel", "-", r}, "standard"},
        {{"--from", "ETRF89", "--to", "ROMA40", d + ".xlsx", "-"}, "standard"},
        {{"--from", "ETRF89", "--to", "ROMA40", "--decimal-separator", ";", d, r}, "--decimal-separator"},
        {{"--from", "ETRF89", "--to", "ROMA40", d}, "servono"},
        {{"--from", "ETRF89", "--to", "ROMA40", d, r, r}, "troppi"},
        {{"--from", "ETRF89", "--to", "ROMA40", "--colour", d, r}, "sconosciuta"},
        {{"--from", "ETRF89", "--to", "ROMA40", d, r, "--grid"}, "richiede un valore"},
    };
    for (const Case& c : cases) {
        const ProcessResult p = runBatchExe(c.args);
        EXPECT_EQ(p.exitCode, 2) << c.reason;
        EXPECT_NE(p.err.find(c.reason), std::string::npos) << p.err;
        EXPECT_NE(p.err.find("uso: dormal2k-batch"), std::string::npos) << p.err;
        EXPECT_FALSE(fs::exists(r)) << c.reason;
    }
    const ProcessResult help = runBatchExe({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_NE(help.out.find("SINTETICHE"), std::string::npos);
    EXPECT_NE(help.out.find("--decimal-separator"), std::string::npos);
}

// Fault guarded: a repeated single-value option silently kept the last value, an empty
// --grid-dir meant the current folder, and --check-set ignored options that do not apply
// to it. Each is a usage error naming the option; no result is written.
TEST_F(BatchCli, RepeatedEmptyAndInapplicableOptions) {
    const std::string d = dir_->file("o.txt"), r = dir_->file("or.txt");
    writeWholeFile(d, "P1 45.0 11.0\n");
    const std::vector<std::string> run{"--from", "ETRF89", "--to", "ETRF89", "--to-kind", "plane"};
    const std::vector<std::string> check{"--check-set", "--grid", gridPath_};
    const struct {
        std::vector<std::string> base, extra;
        const char* reason;
    } cases[] = {
        {run, {"--from", "ED50", d, r}, "--from indicato piu' volte"},
        {run, {"--to-kind=plane", d, r}, "--to-kind indicato piu' volte"},
        {run, {"--type", "ascii", "--type", "ascii", d, r}, "--type indicato piu' volte"},
        {run, {"--decimal-separator", ".", "--decimal-separator=,", d, r}, "--decimal-separator indicato piu' volte"},
        {run, {"--grid-dir=", d, r}, "--grid-dir: valore vuoto"},
        {run, {"--grid", "", d, r}, "--grid: valore vuoto"},
        {run, {"--to-zone=", d, r}, "--to-zone: valore vuoto"},
        {check, {"--grid-dir="}, "--grid-dir: valore vuoto"},
        {check, {"--from", "ROMA40"}, "--from non vale con --check-set"},
        {check, {"--heights"}, "--heights non vale con --check-set"},
        {check, {"--type=ascii"}, "--type non vale con --check-set"},
        {check, {"--decimal-separator", ","}, "--decimal-separator non vale con --check-set"},
        {check, {"--columns", "1,2,3"}, "--columns non vale con --check-set"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.reason);
        std::vector<std::string> args = c.base;
        args.insert(args.end(), c.extra.begin(), c.extra.end());
        const ProcessResult p = runBatchExe(args);
        EXPECT_EQ(p.exitCode, 2) << p.err;
        EXPECT_NE(p.err.find(c.reason), std::string::npos) << p.err;
        EXPECT_FALSE(fs::exists(r));
    }
    EXPECT_EQ(runBatchExe(check).exitCode, 0);
    EXPECT_EQ(runBatchExe({"--check-set", "--grid", gridPath_, "--grid-dir", dir_->path().string()}).exitCode, 0);
}

TEST_F(BatchCli, RefusalsAndFailuresExit1WithTheSystemsMessage) {
    const std::string d = dir_->file("f.txt"), r = dir_->file("fr.txt");
    writeWholeFile(d, "P1 4600000 1500000 10\n");
    const std::string damaged = dir_->file("9.GK1");
    writeWholeFile(damaged, "PUNTO\n\"9\"\n1,2,3\n");
    const std::string comments = dir_->file("comments.txt");
    writeWholeFile(comments, "/ nothing but comments\n' and this\n\n");
    const std::string junk = dir_->file("junk.txt");
    std::string bytes;
    for (int i = 0; i < 4096; ++i) {
        bytes += static_cast<char>((i * 7919) % 256);
    }
    writeWholeFile(junk, bytes);
    const std::string junkBook = dir_->file("junk.xlsx");
    writeWholeFile(junkBook, bytes);

    struct Case {
        const char* what;
        std::vector<std::string> args;
        const char* message;
    };
    const Case cases[] = {
        {"nothing to convert", {"--from", "ETRF89", "--to", "ETRF89", d, r}, "TRASFORMAZIONE NON NECESSARIA"},
        {"same plane zone",
         {"--from", "ROMA40", "--from-kind", "plane", "--to", "ROMA40", "--to-kind", "plane", d, r},
         "TRASFORMAZIONE NON NECESSARIA"},
        {"no grid",
         {"--from", "ROMA40", "--from-kind", "plane", "--to", "ETRF2000", d, r},
         "NON E' STATO SELEZIONATO  \nNESSUN FILE CONTENENTE PORZIONI DI GRIGLIA"},
        {"damaged grid",
         {"--from", "ROMA40", "--to", "ETRF2000", "--grid", damaged, d, r},
         "LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE"},
        {"missing grid", {"--from", "ROMA40", "--to", "ETRF2000", "--grid", dir_->file("none.GK1"), d, r}, "none.GK1"},
        {"missing data",
         {"--from", "ETRF2000", "--from-kind", "plane", "--to", "ETRF2000", dir_->file("no.txt"), r},
         "IMPOSSIBILE APRIRE IL FILE DEI DATI"},
        {"same file",
         {"--from", "ROMA40", "--to", "ROMA40", "--to-kind", "plane", d, d},
         "IL FILE DI INPUT E QUELLO  \nDI OUTPUT SONO LO STESSO"},
        {"same file spelled differently",
         {"--from", "ROMA40", "--to", "ROMA40", "--to-kind", "plane", d, dir_->file("./sub/../f.txt")},
         "IL FILE DI INPUT E QUELLO  \nDI OUTPUT SONO LO STESSO"},
        {"no point",
         {"--from", "ROMA40", "--to", "ROMA40", "--to-kind", "plane", comments, r},
         "IL FILE DATI NON CONTIENE\nNESSUN PUNTO VALIDO"},
        {"binary junk", {"--from", "ROMA40", "--to", "ROMA40", "--to-kind", "plane", junk, r}, junk.c_str()},
        {"junk workbook",
         {"--from", "ROMA40", "--to", "ROMA40", "--to-kind", "plane", junkBook, dir_->file("fr.xlsx")},
         junkBook.c_str()},
    };
    for (const Case& c : cases) {
        const ProcessResult p = runBatchExe(c.args);
        EXPECT_EQ(p.exitCode, 1) << c.what << "\n" << p.err;
        EXPECT_NE(p.err.find(c.message), std::string::npos) << c.what << "\n" << p.err;
        EXPECT_FALSE(fs::exists(r)) << c.what;
    }
}

// Fault guarded: the ASCII report was written under a workbook's or a layer's name, and a
// workbook under a text file's name, both with exit 0. Such a name is a usage error naming
// the type the run writes; names without an extension or with an unknown one still work.
TEST_F(BatchCli, ResultNameWhoseExtensionContradictsTheRunType) {
    const std::string text = dir_->file("e.txt"), book = dir_->file("e.xlsx");
    writeWholeFile(text, "P1 45.0 11.0\n");
    writeDataWorkbook(book, {{"P1", 45.0, 11.0, 0}});
    const struct {
        std::string data, result;
        const char* said; // empty: the run goes through
    } cases[] = {
        {text, "r.xlsx", "ma l'elaborazione ascii scrive un rapporto di testo"},
        {text, "r.XLS", "di una cartella di lavoro excel (.xls)"},
        {text, "r.ods", "di una cartella di lavoro excel"},
        {text, "r.gpkg", "di un file gis (.gpkg)"},
        {text, "r.csv", "di un file gis (.csv)"},
        {book, "r.txt", "di un file di testo (.txt), ma l'elaborazione excel scrive una cartella di lavoro .xlsx"},
        {book, "r.csv", "di un file gis (.csv), ma l'elaborazione excel"},
        {book, "r.shp", "di un file gis"},
        {text, "r.txt", ""},
        {text, "r.out", ""},
        {text, "risultati", ""},
        {text, "-", ""},
        {book, "r.xlsx", ""},
        {book, "r.xls", ""},
        {book, "risultati", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.data + " -> " + c.result);
        const std::string r = c.result == "-" ? c.result : dir_->file("ext-" + c.result);
        if (r != "-") {
            writeWholeFile(r, "old result\n");
        }
        const ProcessResult p = runBatchExe({"--from", "ETRF89", "--to", "ETRF89", "--to-kind", "plane", c.data, r});
        if (*c.said == '\0') {
            EXPECT_EQ(p.exitCode, 0) << p.err;
            continue;
        }
        EXPECT_EQ(p.exitCode, 2) << p.err;
        EXPECT_NE(p.err.find(c.said), std::string::npos) << p.err;
        EXPECT_NE(p.err.find("\"" + r + "\""), std::string::npos) << p.err;
        EXPECT_EQ(readWholeFile(r), "old result\n");
    }
}

TEST_F(BatchCli, FailedWriteLeavesTheOldResultAsItWas) {
    // Enough points that the result passes the file-size limit given to the process.
    const std::string d = dir_->file("many.txt"), r = dir_->file("old-result.txt");
    std::string t;
    for (int i = 0; i < 3000; ++i) {
        char line[64];
        std::snprintf(line, sizeof line, "P%d 4600000.%03d 1500000 10\n", i, i % 1000);
        t += line;
    }
    writeWholeFile(d, t);
    writeWholeFile(r, "the old result\n");
    ProcessOptions opt;
    opt.fileSizeLimit = 64 * 1024;
    const ProcessResult p = runBatchExe(
        {"--from", "ROMA40", "--from-kind", "plane", "--to", "ROMA40", "--to-kind", "plane", "--to-zone", "est", d, r},
        opt);
    EXPECT_EQ(p.exitCode, 1) << p.err;
    EXPECT_NE(p.err.find("IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI"), std::string::npos) << p.err;
    EXPECT_NE(p.err.find(r), std::string::npos) << p.err;
    EXPECT_EQ(readWholeFile(r), "the old result\n");
    // No temporary file left behind next to it.
    int files = 0;
    for (const auto& e : fs::directory_iterator(dir_->path())) {
        files += e.path().filename().string().find("old-result") != std::string::npos;
    }
    EXPECT_EQ(files, 1);
}

TEST_F(BatchCli, ReadingErrorsOutsidePointsAndStreams) {
    // ROMA40 geographic (from Monte Mario) to ETRF2000 UTM with heights: a line without
    // its height, one point far outside the portion, the others converted.
    const auto pts = basePoints();
    const double mm = romeMeridian();
    std::string t = "/ prova\n";
    t += "A " + fixedText(degreesToSexagesimal(pts[0].first), 8) + " " + fixedText(degreesToSexagesimal(pts[0].second - mm), 8) + " 12.5\n";
    t += "B " + fixedText(degreesToSexagesimal(pts[1].first), 8) + " " + fixedText(degreesToSexagesimal(pts[1].second - mm), 8) + "\n";
    t += "C 45.00 -1.00 100\n";
    t += "D " + fixedText(degreesToSexagesimal(pts[2].first), 8) + " " + fixedText(degreesToSexagesimal(pts[2].second - mm), 8) + " 7\n";
    const std::string d = dir_->file("mixed.txt"), r = dir_->file("mixed-result.txt");
    writeWholeFile(d, t);
    const std::vector<std::string> a{"--from", "ROMA40",    "--to",   "ETRF2000", "--to-kind",
                                     "plane",  "--heights", "--grid", gridPath_,  "--decimal-separator",
                                     ",",      d,           r};
    const ProcessResult p = runBatchExe(a);
    // Completed, with a line refused and a point outside: not every line became a point.
    ASSERT_EQ(p.exitCode, 3) << p.err;
    EXPECT_NE(p.err.find("ERRORE NELLA LETTURA NELLA QUOTA\nALLA RIGA:     3    DEL FILE DI INPUT"), std::string::npos)
        << p.err;
    EXPECT_NE(p.err.find("PROCEDURA TERMINATA CON SUCCESSO:\nPUNTI TRATTATI:   3\n"
                         "PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  1"),
              std::string::npos)
        << p.err;
    EXPECT_EQ(p.err.find("MODELLO GLOBALE"), std::string::npos);
    const std::string report = readWholeFile(r);
    EXPECT_NE(report.find("Fuori Grig."), std::string::npos);
    EXPECT_NE(report.find(",000"), std::string::npos) << "decimal comma asked for";

    // The same through standard input and output, with the global-geoid portion.
    std::vector<std::string> s = a;
    s[8] = globalGridPath_;
    s[11] = "-";
    s[12] = "-";
    ProcessOptions opt;
    opt.stdinPath = d;
    const ProcessResult q = runBatchExe(s, opt);
    ASSERT_EQ(q.exitCode, 3) << q.err;
    EXPECT_NE(q.err.find("FUORI DALLA GRIGLIA:  1\nATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE"),
              std::string::npos)
        << q.err;
    EXPECT_NE(q.out.find("/Quote in metri (geoidiche sul modello globale)"), std::string::npos) << q.out;
    EXPECT_NE(q.out.find("Fuori Grig."), std::string::npos);
}

TEST_F(BatchCli, DecimalSeparatorFollowsTheLocale) {
    const std::string d = dir_->file("loc.txt"), r = dir_->file("loc-result.txt");
    writeWholeFile(d, "P1 4600000 1500000\n");
    const std::vector<std::string> a{"--from", "ROMA40", "--from-kind", "plane", "--to", "ROMA40", d, r};
    ProcessOptions c;
    c.env = {"LC_ALL=C"};
    ASSERT_EQ(runBatchExe(a, c).exitCode, 0);
    const std::string report = readWholeFile(r);
    EXPECT_NE(report.find("4600000.000"), std::string::npos) << report;
}

// Projection-only runs against GeographicLib-independent expectations: the zone's central
// meridian and false easting put a point on its central meridian at East = false easting.
TEST_F(BatchCli, CentralMeridiansAndFalseEastings) {
    struct Case {
        Side to;
        double lonGreenwich;
        double east;
    };
    const Case cases[] = {
        {{RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32}, 9, 500000},
        {{RefSystem::Etrf2000, CoordKind::Plane, Zone::EstOr33}, 15, 500000},
        {{RefSystem::Etrf2000, CoordKind::Plane, Zone::Utm34}, 21, 500000},
        {{RefSystem::Etrf2000, CoordKind::Plane, Zone::Italia}, 12, 7000000},
        {{RefSystem::Roma40, CoordKind::Plane, Zone::OvestOr32}, 9, 1500000},
        {{RefSystem::Roma40, CoordKind::Plane, Zone::EstOr33}, 15, 2520000},
        {{RefSystem::Ed50, CoordKind::Plane, Zone::EstOr33}, 15, 500000},
    };
    const std::string d = dir_->file("cm.txt"), r = dir_->file("cm-result.txt");
    for (const Case& c : cases) {
        const double typed = c.to.sys == RefSystem::Roma40 ? c.lonGreenwich - romeMeridian() : c.lonGreenwich;
        writeWholeFile(d, "M 42.00 " + fixedText(degreesToSexagesimal(typed), 10) + "\n");
        const ProcessResult p = runBatchExe(args({c.to.sys, CoordKind::Geographic, Zone::Auto}, c.to, false, d, r));
        ASSERT_EQ(p.exitCode, 0) << p.err;
        const std::vector<FilePoint> res = readResult(r, false, false);
        ASSERT_EQ(res.size(), 1u);
        EXPECT_NEAR(res[0].second.v, c.east, 0.0005) << describe(c.to);
    }
}

// The committed sample portions: points spread over the area each one documents convert
// with none outside, in the zone the portion lies in.
TEST_F(BatchCli, SamplePortionsCoverTheirArea) {
    struct Sample {
        const char* file;
        double south, north, west, east; // area that can be converted, decimal degrees
        const char* zone;
    };
    const Sample samples[] = {
        {"123456.GK1", 45.259722, 45.490278, 9.038889, 9.336111, "32"},
        {"0245.GK2", 42.309722, 42.606944, 13.347222, 13.777778, "33"},
        {"654321.GK1", 40.009722, 40.240278, 18.288889, 18.586111, "34"},
    };
    const std::string d = dir_->file("sample.txt"), r = dir_->file("sample-result.txt");
    for (const Sample& s : samples) {
        std::string t;
        for (int i = 0; i < 5; ++i) {
            for (int j = 0; j < 5; ++j) {
                const double lat = s.south + (s.north - s.south) * (0.1 + 0.2 * i);
                const double lon = s.west + (s.east - s.west) * (0.1 + 0.2 * j);
                t += 'S';
                t += std::to_string(i * 5 + j);
                t += ' ';
                t += fixedText(degreesToSexagesimal(lat), 8);
                t += ' ';
                t += fixedText(degreesToSexagesimal(lon), 8);
                t += " 250\n";
            }
        }
        writeWholeFile(d, t);
        const std::string grid = std::string(DORMAL2K_SAMPLES_DIR) + "/" + s.file;
        const ProcessResult p = runBatchExe(
            {"--from", "ETRF89", "--to", "ETRF2000", "--to-kind", "plane", "--heights", "--grid", grid, d, r});
        ASSERT_EQ(p.exitCode, 0) << s.file << "\n" << p.err;
        EXPECT_NE(p.err.find("PUNTI TRATTATI:   25\nPUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  0"),
                  std::string::npos)
            << s.file << "\n"
            << p.err;
        for (const FilePoint& fp : readResult(r, false, true)) {
            EXPECT_EQ(fp.zone, s.zone) << s.file;
        }
    }
}

} // namespace
} // namespace dormal::clitest
