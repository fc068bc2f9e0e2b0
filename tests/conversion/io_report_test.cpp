// The ASCII result report: header lines, rulers, heading layouts, fixed columns, marks for
// points outside the grid; and the result file written whole or not at all.
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/formats.h"
#include "conversion/result_writer.h"

namespace dormal {
namespace {

namespace fs = std::filesystem;

SelectionState selection(RefSystem inSys, CoordKind inKind, Zone inZone, RefSystem outSys, CoordKind outKind,
                         Zone outZone) {
    SelectionState s;
    s.inputSystem = inSys;
    s.inputKind = inKind;
    s.inputZone = inZone;
    s.outputSystem = outSys;
    s.outputKind = outKind;
    s.outputZone = outZone;
    return s;
}

GridPortion epochs(std::int16_t globalGeoid) {
    GridPortion p;
    p.globalGeoid = globalGeoid;
    p.roEdEpoch = "1994";
    p.roE89Epoch = "1995";
    p.e89E2000Epoch = "2008";
    p.geoidEpoch = "2005";
    return p;
}

struct Pt {
    DataPoint in;
    PointResult r;
};

Pt converted(std::string name, double a, double b, double h, double oa, double ob, double oh, const char* zone = "",
             bool mismatch = false) {
    Pt p;
    p.in.name = std::move(name);
    p.in.first = a;
    p.in.second = b;
    p.in.height = h;
    p.r.outFirst = oa;
    p.r.outSecond = ob;
    p.r.hasHeight = true;
    p.r.outHeight = oh;
    p.r.zoneText = zone;
    p.r.zoneMismatch = mismatch;
    return p;
}

Pt outside(std::string name, double a, double b, double h) {
    Pt p = converted(std::move(name), a, b, h, 0, 0, 0);
    p.r.status = PointStatus::OutsideGrid;
    p.r.hasHeight = false;
    return p;
}

std::string report(const ResultHeader& h, const std::vector<Pt>& pts) {
    std::ostringstream out;
    auto w = makeAsciiReportWriter(out);
    w->writeHeader(h);
    for (const auto& p : pts)
        w->writePoint(p.in, p.r);
    w->finish();
    return out.str();
}

// Lines split at CR LF; a lone LF or CR would fail the test.
std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::size_t b = 0;
    while (b < text.size()) {
        const std::size_t e = text.find("\r\n", b);
        EXPECT_NE(e, std::string::npos) << "last line without CR LF";
        if (e == std::string::npos)
            break;
        out.push_back(text.substr(b, e - b));
        EXPECT_EQ(out.back().find_first_of("\r\n"), std::string::npos);
        b = e + 2;
    }
    return out;
}

TEST(AsciiReport, GeographicRunWithGlobalGeoidHeights) {
    const GridPortion portion = epochs(1);
    ResultHeader h;
    h.sel = selection(RefSystem::Roma40, CoordKind::Geographic, Zone::Auto, RefSystem::Etrf2000, CoordKind::Geographic,
                      Zone::Auto);
    h.heights = true;
    h.portion = &portion;
    const auto got = lines(report(h, {converted("P1", 45.1234567, 9.5, 120, 45.1, 9.2, 170.123)}));
    const std::vector<std::string> expected = {
        "/Epoca Griglie Plan.: ROMA40-ED50:1994; ROMA40-ETRF89:1995; ETRF89-ETRF2000:2008",
        "/Epoca Griglia Geoide:2005",
        "/Coordinate Input: ROMA40; gradi sessagesimali",
        "/Coordinate Output: ETRF2000; gradi sessagesimali",
        "/Quote in metri (geoidiche sul modello globale)",
        "/" + std::string(80, '='),
        "/Numero       Latit.      Longit.    H geoid.     Latit.      Longit.     h ellis.",
        " P1        45.12345670  9.50000000   120.000   45.10000000  9.20000000   170.123 ",
    };
    EXPECT_EQ(got, expected);
}

TEST(AsciiReport, PlaneRunWithinOneSystemAutomaticZone) {
    ResultHeader h;
    h.sel = selection(RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                      Zone::Auto);
    const auto got = lines(report(h, {converted("101", 5000000, 500000, 0, 5000123.456, 1500000, 0, "32"),
                                      converted("102", 5000000, 500000, 0, 4000000, 600000, 0, "34")}));
    const std::vector<std::string> expected = {
        "/Coordinate Input: ETRF2000; metri;   fuso indicato:   32",
        "/Coordinate Output: ETRF2000; metri;  fuso richiesto:  Automatico",
        "/",
        "/" + std::string(67, '='),
        "/Numero       Nord          Est       Nord          Est      Fuso",
        " 101       5000000.000  500000.000   5000123.456  1500000.000  32",
        " 102       5000000.000  500000.000   4000000.000  600000.000   34",
    };
    EXPECT_EQ(got, expected);
}

// Ruler length and heading line for each combination of heights and zone column.
TEST(AsciiReport, RulersAndHeadingLayouts) {
    const GridPortion portion = epochs(0);
    struct Case {
        SelectionState sel;
        bool heights;
        std::size_t ruler;
        const char* heading;
    } const cases[] = {
        {selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::Auto, RefSystem::Roma40, CoordKind::Plane,
                   Zone::OvestOr32),
         true, 88, "/Numero       Latit.      Longit.    h ellis.     Nord          Est     H geoid.   Fuso"},
        {selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::Auto, RefSystem::Etrf2000, CoordKind::Plane,
                   Zone::Auto),
         true, 88, nullptr},
        {selection(RefSystem::Roma40, CoordKind::Geographic, Zone::Auto, RefSystem::Etrf2000, CoordKind::Geographic,
                   Zone::Auto),
         true, 81, "/Numero       Latit.      Longit.    H geoid.     Latit.      Longit.     h ellis."},
        {selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::Auto, RefSystem::Etrf2000, CoordKind::Plane,
                   Zone::Italia),
         true, 81, nullptr},
        {selection(RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                   Zone::Auto),
         false, 68, "/Numero       Nord          Est       Nord          Est      Fuso"},
        {selection(RefSystem::Ed50, CoordKind::Plane, Zone::EstOr33, RefSystem::Roma40, CoordKind::Plane,
                   Zone::EstOr33),
         false, 68, nullptr},
        {selection(RefSystem::Roma40, CoordKind::Geographic, Zone::Auto, RefSystem::Ed50, CoordKind::Geographic,
                   Zone::Auto),
         false, 61, "/Numero       Latit.      Longit.       Latit.      Longit."},
        {selection(RefSystem::Etrf89, CoordKind::Plane, Zone::Italia, RefSystem::Etrf89, CoordKind::Plane,
                   Zone::Italia),
         false, 61, nullptr},
    };
    for (const auto& c : cases) {
        ResultHeader h;
        h.sel = c.sel;
        h.heights = c.heights;
        h.portion = &portion;
        const auto got = lines(report(h, {}));
        ASSERT_GE(got.size(), 2u);
        const std::string& ruler = got[got.size() - 2];
        EXPECT_EQ(ruler.size(), c.ruler);
        EXPECT_EQ(ruler.find_first_not_of('=', 1), std::string::npos);
        EXPECT_EQ(ruler[0], '/');
        if (c.heading) {
            EXPECT_EQ(got.back(), c.heading);
        }
    }
}

TEST(AsciiReport, HeaderLinesByKindAndHeights) {
    const GridPortion portion = epochs(0);
    ResultHeader h;
    h.sel =
        selection(RefSystem::Roma40, CoordKind::Plane, Zone::Auto, RefSystem::Etrf89, CoordKind::Plane, Zone::Utm34);
    h.heights = true;
    h.portion = &portion;
    const auto got = lines(report(h, {}));
    ASSERT_EQ(got.size(), 7u);
    EXPECT_EQ(got[2], "/Coordinate Input: ROMA40; metri;   fuso indicato:   Automatico");
    EXPECT_EQ(got[3], "/Coordinate Output: ETRF89; metri;  fuso richiesto:  34");
    EXPECT_EQ(got[4], "/Quote in metri");
}

// A point outside: marks at columns 48, 61 and 74, an empty zone field at 84.
TEST(AsciiReport, PointOutsideTheGrid) {
    const GridPortion portion = epochs(0);
    ResultHeader h;
    h.sel =
        selection(RefSystem::Roma40, CoordKind::Plane, Zone::Auto, RefSystem::Etrf2000, CoordKind::Plane, Zone::Auto);
    h.heights = true;
    h.portion = &portion;
    const auto got = lines(report(h, {outside("X9", 4850123.4567, 1523456.789, 12.5)}));
    const std::string& l = got.back();
    EXPECT_EQ(l, " X9        4850123.457  1523456.789  12.500    Fuori Grig.  Fuori Grig.  F. Grig.  ");
    EXPECT_EQ(l.substr(47, 11), "Fuori Grig.");
    EXPECT_EQ(l.substr(60, 11), "Fuori Grig.");
    EXPECT_EQ(l.substr(73, 8), "F. Grig.");
    EXPECT_EQ(l.size(), 83u);
}

// Names of 10 characters put the first coordinate one blank after them, at column 13 of the
// same line; 11 push it to column 12 of a new line. Fixed zones write "Vero" or "Altro".
TEST(AsciiReport, LongNamesAndFixedZoneMarks) {
    ResultHeader h;
    h.sel = selection(RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                      Zone::EstOr33);
    h.decimalSeparator = ',';
    const auto got = lines(report(h, {converted("ABCDEFGHIJ", 5000000, 500000, 0, 5000001.5, 300000, 0, "33", false),
                                      converted("ABCDEFGHIJK", 5000000, 500000, 0, 5000001.5, 300000, 0, "33", true)}));
    ASSERT_EQ(got.size(), 8u);
    EXPECT_EQ(got[5], " ABCDEFGHIJ 5000000,000 500000,000   5000001,500  300000,000   Vero");
    EXPECT_EQ(got[6], " ABCDEFGHIJK");
    EXPECT_EQ(got[7], "           5000000,000  500000,000   5000001,500  300000,000   Altro");
}

// Generated points with names and numbers of every width, in the four layouts: split on
// blanks, each point gives back its fields in order; a point whose texts all leave a blank
// before the next column is written at the fixed columns, byte for byte.
TEST(AsciiReport, FieldsStaySeparatedByBlanks) {
    struct Layout {
        bool heights;
        CoordKind in, out;
        Zone outZone;
    } const layouts[] = {
        {true, CoordKind::Geographic, CoordKind::Plane, Zone::Auto},
        {false, CoordKind::Plane, CoordKind::Plane, Zone::EstOr33},
        {true, CoordKind::Plane, CoordKind::Geographic, Zone::Auto},
        {false, CoordKind::Geographic, CoordKind::Geographic, Zone::Auto},
    };
    // Texts from 5 to 15 characters wide, signs included.
    std::vector<double> plane, geo, heights;
    for (double p = 1; p < 1e11; p *= 10) {
        plane.insert(plane.end(), {p + 0.25, -p - 0.5});
        heights.insert(heights.end(), {p / 10 + 0.125, -p / 10});
    }
    for (double p = 0.1; p < 1e3; p *= 10) {
        geo.insert(geo.end(), {p + 0.12345678, -p - 0.5});
    }
    const auto pick = [](const std::vector<double>& v, std::size_t i) { return v[i % v.size()]; };
    std::size_t fitting = 0, touching = 0;
    for (const Layout& lay : layouts) {
        ResultHeader h;
        h.sel = selection(RefSystem::Etrf2000, lay.in, Zone::OvestOr32, RefSystem::Etrf2000, lay.out, lay.outZone);
        h.heights = lay.heights;
        const bool zoneColumn = lay.out == CoordKind::Plane;
        const std::vector<int> cols =
            lay.heights ? std::vector<int>{12, 25, 38, 48, 61, 74, 84} : std::vector<int>{12, 25, 38, 51, 64};
        const std::string headerOnly = report(h, {});
        for (std::size_t i = 0; i < 420; ++i) {
            const std::vector<double>& inValues = lay.in == CoordKind::Plane ? plane : geo;
            const std::vector<double>& outValues = lay.out == CoordKind::Plane ? plane : geo;
            const auto fmt = [](CoordKind k, double v) {
                return k == CoordKind::Plane ? formatReportPlane(v, '.') : formatReportGeo(v, '.');
            };
            const std::string name = std::string("ABCDEFGHIJKLMNO").substr(0, 1 + i % 14);
            const double in1 = pick(inValues, i / 3), in2 = pick(inValues, i / 5 + 1), inH = pick(heights, i / 7);
            const double out1 = pick(outValues, i / 11 + 2), out2 = pick(outValues, i / 2),
                         outH = pick(heights, i / 13 + 3);
            const char* zone = lay.outZone == Zone::Auto ? "33" : "Vero";
            Pt pt = converted(name, in1, in2, inH, out1, out2, outH, zone);
            std::vector<std::string> fields = {name, fmt(lay.in, in1), fmt(lay.in, in2)};
            if (lay.heights)
                fields.push_back(formatReportHeight(inH, '.'));
            fields.insert(fields.end(), {fmt(lay.out, out1), fmt(lay.out, out2)});
            if (lay.heights)
                fields.push_back(formatReportHeight(outH, '.'));
            if (zoneColumn)
                fields.push_back(zone);
            SCOPED_TRACE(::testing::PrintToString(fields));

            const std::string text = report(h, {pt});
            ASSERT_EQ(text.compare(0, headerOnly.size(), headerOnly), 0);
            const std::string body = text.substr(headerOnly.size());
            std::istringstream words(body);
            std::vector<std::string> got;
            for (std::string w; words >> w;)
                got.push_back(w);
            EXPECT_EQ(got, fields);

            // The fixed columns, each text padded to its field's width, when everything fits.
            std::string line = " " + name;
            bool fits = true;
            for (std::size_t f = 1; f < fields.size(); ++f) {
                const auto col = static_cast<std::size_t>(cols[f - 1]);
                fits = fits && line.size() + 2 <= col;
                line.resize(std::max(line.size(), col - 1), ' ');
                line += fields[f];
                const bool heightField = lay.heights && (f == 3 || f == 6);
                const std::size_t width = f == fields.size() - 1 && zoneColumn ? 0 : heightField ? 8 : 11;
                if (fields[f].size() < width)
                    line.append(width - fields[f].size(), ' ');
            }
            if (fits) {
                ++fitting;
                EXPECT_EQ(body, line + "\r\n");
            } else {
                ++touching;
            }
        }
    }
    EXPECT_GT(fitting, 200u);
    EXPECT_GT(touching, 200u);
}

// A name with accented letters in UTF-8 takes one column a letter.
TEST(AsciiReport, Utf8NamesCountLetters) {
    ResultHeader h;
    h.sel = selection(RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                      Zone::Italia);
    const auto got = lines(report(h, {converted("Citt\xC3\xA0", 1, 2, 0, 3, 4, 0)}));
    EXPECT_EQ(got.back(), " Citt\xC3\xA0     1.000        2.000        3.000        4.000      ");
}

// A name holding a line break (from a workbook cell) stays on its line.
TEST(AsciiReport, LineBreakInNameKeepsTheLine) {
    ResultHeader h;
    h.sel = selection(RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                      Zone::Italia);
    const auto got = lines(report(h, {converted("A\r\nB", 1, 2, 0, 3, 4, 0)}));
    EXPECT_EQ(got.back(), " A  B      1.000        2.000        3.000        4.000      ");
}

TEST(AsciiReport, NoTrailerAndEmptyReport) {
    ResultHeader h;
    h.sel = selection(RefSystem::Etrf2000, CoordKind::Geographic, Zone::Auto, RefSystem::Etrf89, CoordKind::Geographic,
                      Zone::Auto);
    const std::string text = report(h, {converted("A", 45, 9, 0, 45, 9, 0)});
    ASSERT_GE(text.size(), 2u);
    EXPECT_EQ(text.substr(text.size() - 2), "\r\n");
    EXPECT_EQ(lines(text).back().substr(0, 2), " A");
}

TEST(AsciiReport, FailingStreamThrows) {
    std::ostringstream out;
    out.setstate(std::ios::badbit);
    auto w = makeAsciiReportWriter(out);
    ResultHeader h;
    w->writeHeader(h);
    EXPECT_THROW(w->finish(), WriteError);
}

class ResultFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("dormal_io_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::size_t filesInDir() const {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_))
            ++n;
        return n;
    }

    static std::string slurp(const fs::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir_;
};

// The result appears only at finish(); an unfinished writer leaves the old file as it was
// and no temporary file behind.
TEST_F(ResultFileTest, WrittenWholeOrNotAtAll) {
    for (const DataFileType type : {DataFileType::Ascii, DataFileType::Excel}) {
        const fs::path target = dir_ / (type == DataFileType::Ascii ? "ris.txt" : "ris.xlsx");
        { std::ofstream(target) << "vecchio"; }
        ResultHeader h;
        h.sel = selection(RefSystem::Etrf2000, CoordKind::Geographic, Zone::Auto, RefSystem::Etrf89,
                          CoordKind::Geographic, Zone::Auto);
        const Pt p = converted("A", 45, 9, 0, 45, 9, 0);
        {
            auto w = makeResultFileWriter(target.string(), type);
            w->writeHeader(h);
            w->writePoint(p.in, p.r);
            EXPECT_EQ(slurp(target), "vecchio");
        } // destroyed unfinished
        EXPECT_EQ(slurp(target), "vecchio");
        EXPECT_EQ(filesInDir(), 1u);

        auto w = makeResultFileWriter(target.string(), type);
        w->writeHeader(h);
        w->writePoint(p.in, p.r);
        EXPECT_EQ(slurp(target), "vecchio");
        w->finish();
        const std::string text = slurp(target);
        EXPECT_EQ(text.substr(0, 2), type == DataFileType::Ascii ? "/E" : "PK");
        EXPECT_EQ(filesInDir(), 1u);
        fs::remove(target);
    }
}

// Failures name the file and the cause, in Italian.
TEST_F(ResultFileTest, UnwritablePathsAreReported) {
    const std::string missingFolder = (dir_ / "manca" / "ris.txt").string();
    const std::string folder = dir_.string();
    for (const DataFileType type : {DataFileType::Ascii, DataFileType::Excel}) {
        for (const std::string& path : {missingFolder, folder}) {
            try {
                auto w = makeResultFileWriter(path, type);
                w->writeHeader({});
                w->finish();
                ADD_FAILURE() << "no error for " << path;
            } catch (const WriteError& e) {
                const std::string what = e.what();
                EXPECT_EQ(what, "IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI\n" + path + "\n" + e.cause());
                EXPECT_EQ(e.path(), path);
                EXPECT_FALSE(e.cause().empty());
                EXPECT_EQ(e.cause().find('\n'), std::string::npos) << e.cause();
            }
        }
    }
}

} // namespace
} // namespace dormal
