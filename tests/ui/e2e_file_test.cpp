// Data-file runs through the whole window ("Da file", file type, the two file dialogs,
// "Esegui") against dormal2k-batch on the same data and selection: the result file must be
// the same (byte for byte for ASCII, cell for cell for a workbook), the boxes the same as the
// converter's messages, the summary as the run gives it, and "Esegui" disabled afterwards
// until a result file or keyboard mode is chosen.

#include <QCheckBox>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <charconv>

#include "../cli/cli_support.h"
#include "geodesy/angles.h"
#include "conversion/selection_words.h"
#include "grid/zone_limits.h"
#include "support_window.h"
#include "ui/selection_binder.h"
#include "ui/working_zone_panel.h"

namespace {

using namespace dormal;
namespace ct = dormal::clitest;
using uitest::WindowHarness;

const QString kSamplesDir = QStringLiteral(DORMAL2K_SAMPLES_DIR);

std::string fixed(double v, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

// The number a text written by fixed() stands for, whatever the locale.
double number(const std::string& s) {
    double v = 0;
    std::from_chars(s.data(), s.data() + s.size(), v);
    return v;
}

// A selection as the lists offer it (item texts) and as the converter's options give it.
struct Selection {
    const char* what;
    const char *inSystem, *inKind, *inZone;    // inZone: item of the input zone list, or null
    const char *outSystem, *outKind, *outZone; // outZone: item of the output zone list, or null
    bool heights;
    const char* sample; // grid file; needed when the systems differ
    const char* sampleName;
    std::vector<std::string> options; // dormal2k-batch options for the same choice
    SelectionState sel;               // the same, as codes (to make the data)
};

const Selection kSelections[] = {
    {"ROMA40 Gauss-Boaga automatic -> ETRF2000 UTM automatic, heights",
     "ROMA40",
     "Piane",
     "Gauss-Boaga",
     "ETRF2000",
     "Piane",
     "UTM Automatico",
     true,
     "123456.GK1",
     "123456",
     {"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "auto", "--to", "ETRF2000", "--to-kind", "plane",
      "--to-zone", "auto", "--heights"},
     {RefSystem::Roma40, CoordKind::Plane, Zone::Auto, RefSystem::Etrf2000, CoordKind::Plane, Zone::Auto}},
    {"ETRF89 geographic -> ROMA40 geographic, heights on the global geoid",
     "ETRF89",
     "Geografiche",
     nullptr,
     "ROMA40",
     "Geografiche",
     nullptr,
     true,
     "654321.GK1",
     "654321",
     {"--from", "ETRF89", "--to", "ROMA40", "--heights"},
     {RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40, CoordKind::Geographic, Zone::Auto}},
    {"ED50 UTM 33 -> ETRF89 UTM 34 (fixed zone, marks), no heights",
     "ED50",
     "Piane",
     "UTM 33",
     "ETRF89",
     "Piane",
     "UTM 34",
     false,
     "0245.GK2",
     "0245",
     {"--from", "ED50", "--from-kind", "plane", "--from-zone", "33", "--to", "ETRF89", "--to-kind", "plane",
      "--to-zone", "34"},
     {RefSystem::Ed50, CoordKind::Plane, Zone::EstOr33, RefSystem::Etrf89, CoordKind::Plane, Zone::Utm34}},
    {"ETRF89 geographic -> ETRF2000 Fuso Italia, heights",
     "ETRF89",
     "Geografiche",
     nullptr,
     "ETRF2000",
     "Piane",
     "Fuso Italia",
     true,
     "0245.GK2",
     "0245",
     {"--from", "ETRF89", "--to", "ETRF2000", "--to-kind", "plane", "--to-zone", "italia", "--heights"},
     {RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane, Zone::Italia}},
    {"ETRF2000 UTM 32 -> ETRF2000 UTM automatic (no grid)",
     "ETRF2000",
     "Piane",
     "UTM 32",
     "ETRF2000",
     "Piane",
     "UTM Automatico",
     false,
     "123456.GK1",
     "123456",
     {"--from", "ETRF2000", "--from-kind", "plane", "--from-zone", "32", "--to", "ETRF2000", "--to-kind", "plane",
      "--to-zone", "auto"},
     {RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane, Zone::Auto}},
};

// ---- The data ----------------------------------------------------------------------------

// A point of the data file: its name and values as written (the input side's kind).
struct DataPoint {
    std::string name;
    std::string first, second, height;
    double firstValue, secondValue, heightValue;
};

// Centre of each sample's convertible area (ETRF89, decimal degrees).
struct Centre {
    const char* file;
    double lat, lon;
};
const Centre kCentres[] = {
    {"123456.GK1", 45.375, 9.1875}, {"0245.GK2", 42.4583, 13.5625}, {"654321.GK1", 40.125, 18.4375}};

// Names of 1, 2, 10, 11 and 20 characters; points inside the portion and two outside it (a
// degree or 100 km north or south of an inside one).
std::vector<DataPoint> makePoints(const Selection& s, const GridPortion& portion) {
    double lat0 = 0, lon0 = 0;
    for (const Centre& c : kCentres)
        if (std::string(c.file) == s.sample)
            lat0 = c.lat, lon0 = c.lon;
    const SelectionState& sel = s.sel;
    ConversionContext ctx;
    ctx.sel = SelectionState{RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32,
                             sel.inputSystem,   sel.inputKind,         sel.inputZone};
    ctx.heights = sel.inputSystem != RefSystem::Etrf89;
    const ZoneLimits limits = computeZoneLimits(portion, RefSystem::Etrf89);
    ctx.portion = &portion;
    ctx.limits = &limits;
    const bool plane = sel.inputKind == CoordKind::Plane;
    const auto point = [&](const std::string& name, double dLat, double dLon, double h, double shift) {
        double first = degreesToSexagesimal(lat0 + dLat), second = degreesToSexagesimal(lon0 + dLon), height = h;
        if (!(sel.inputSystem == RefSystem::Etrf89 && !plane)) {
            const PointResult r = convertPoint(ctx, PointInput{first, second, h}, RunKind::Batch);
            EXPECT_EQ(r.status, PointStatus::Converted) << name;
            first = r.outFirst;
            second = r.outSecond;
            height = ctx.heights ? r.outHeight : h;
        }
        first += shift * (plane ? 100000.0 : 1.0);
        const int decimals = plane ? 3 : 8;
        return DataPoint{name,
                         fixed(first, decimals),
                         fixed(second, decimals),
                         fixed(height, 3),
                         number(fixed(first, decimals)),
                         number(fixed(second, decimals)),
                         number(fixed(height, 3))};
    };
    return {
        point("1", 0, 0, 250.0, 0),
        point("P2", 0.05, -0.07, 1234.567, 0),
        point("ABCDEFGHIJ", -0.08, 0.10, -12.5, 0),
        point("ABCDEFGHIJK", 0.02, 0.03, 100.0, 1),
        point("PUNTO_MOLTO_LUNGO_20", 0.09, 0.02, 0.001, 0),
        point("F2", -0.03, -0.01, 55.0, -1),
    };
}

// The ASCII file: comment lines, a blank line, tabs and decimal commas, a height written
// whether or not it is read, and one line with a name only (a reading error on line 6).
std::string asciiText(const std::vector<DataPoint>& p) {
    const auto commas = [](std::string s) {
        std::replace(s.begin(), s.end(), '.', ',');
        return s;
    };
    std::string t = "/ punti di prova\n";
    t += p[0].name + " " + p[0].first + " " + p[0].second + " " + p[0].height + "\n";
    t += "  " + p[1].name + "\t" + commas(p[1].first) + "\t" + commas(p[1].second) + "\t" + commas(p[1].height) + "\n";
    t += "   ' commento\n";
    t += "\n";
    t += "SOLO\n";
    for (std::size_t i = 2; i < p.size(); ++i)
        t += p[i].name + "   " + p[i].first + " " + p[i].second + " " + p[i].height + " ignorato\n";
    return t;
}

// ---- Driving the window ----------------------------------------------------------------

void clickGridFile(WindowHarness& h, const char* file, const char* name) {
    ASSERT_TRUE(h.shown("Frame5"));
    h.window().workingZone()->openFolder(kSamplesDir);
    auto* list = h.find<QListWidget>("File1");
    const QList<QListWidgetItem*> found = list->findItems(QLatin1String(file), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << file;
    list->scrollToItem(found.front());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
    ASSERT_EQ(h.text("Label13"), QLatin1String(name));
}

int zoneCombo(const char* system, bool input) {
    const std::string s = system;
    return (input ? 3 : 8) + (s == "ROMA40" ? 0 : s == "ED50" ? 1 : 2);
}

void select(WindowHarness& h, const Selection& s) {
    h.pick(1, s.inSystem);
    h.pick(2, s.inKind);
    if (s.inZone != nullptr)
        h.pick(zoneCombo(s.inSystem, true), s.inZone);
    h.pick(6, s.outSystem);
    h.pick(7, s.outKind);
    if (s.outZone != nullptr)
        h.pick(zoneCombo(s.outSystem, false), s.outZone);
    if (h.find<QCheckBox>("Check1")->isChecked() != s.heights)
        h.click("Check1");
    ASSERT_EQ(h.find<QCheckBox>("Check1")->isChecked(), s.heights);
    const SelectionState& now = h.window().rules().state();
    ASSERT_EQ(now.inputSystem, s.sel.inputSystem);
    ASSERT_EQ(now.inputKind, s.sel.inputKind);
    ASSERT_TRUE(s.sel.inputKind == CoordKind::Geographic || now.inputZone == s.sel.inputZone);
    ASSERT_EQ(now.outputSystem, s.sel.outputSystem);
    ASSERT_EQ(now.outputKind, s.sel.outputKind);
    ASSERT_TRUE(s.sel.outputKind == CoordKind::Geographic || now.outputZone == s.sel.outputZone);
    if (std::string(s.inSystem) != s.outSystem)
        clickGridFile(h, s.sample, s.sampleName);
}

// "Da file", the file type, both dialogs answered, "Esegui".
void runFile(WindowHarness& h, bool ascii, const std::string& data, const std::string& result) {
    h.click("Option3_1");
    h.click(ascii ? "Option4_1" : "Option4_0");
    h.dialogs().openAnswers.push_back(QString::fromStdString(data));
    h.dialogs().saveAnswers.push_back(QString::fromStdString(result));
    h.click("Command6");
    h.click("Command7");
    ASSERT_TRUE(h.enabled("Command1"));
    h.dialogs().messages.clear();
    h.click("Command1");
}

std::string boxesAsPrinted(WindowHarness& h) {
    std::string out;
    for (const Message& m : h.dialogs().messages)
        out += joinedText(m) + "\n";
    return out;
}

// Runs `data` through the window and through dormal2k-batch with selection `s` and checks
// that both give the same result file and messages, the summary for `points` points of which
// `outside` outside the portion (and, for an ASCII file with `readingErrorLine`, the reading
// error of that line first), and that "Esegui" is then disabled until a result file or
// keyboard mode is chosen.
void compareWithBatch(const Selection& s, bool ascii, const std::string& data, int points, int outside,
                      int readingErrorLine) {
    const GridLoadResult loaded = loadGridPortion(DORMAL2K_SAMPLES_DIR, s.sample);
    ASSERT_TRUE(loaded.ok());
    WindowHarness h;
    const QChar sep = h.window().runInputs().decimalSeparator;
    ct::ScratchDir scratch;
    const std::string windowResult = scratch.file(ascii ? "risultati finestra.txt" : "risultati finestra.xlsx");
    const std::string batchResult = scratch.file(ascii ? "risultati batch.txt" : "risultati batch.xlsx");

    select(h, s);
    if (::testing::Test::HasFatalFailure())
        return;
    runFile(h, ascii, data, windowResult);

    std::vector<std::string> args = s.options;
    const bool sameSystem = std::string(s.inSystem) == s.outSystem;
    if (!sameSystem)
        args.insert(args.end(), {"--grid", (kSamplesDir + QLatin1Char('/') + QLatin1String(s.sample)).toStdString()});
    args.insert(args.end(), {"--type", ascii ? "ascii" : "excel", "--decimal-separator", std::string(1, sep.toLatin1()),
                             data, batchResult});
    const ct::ProcessResult batch = ct::runBatchExe(args);
    // 3: completed, with lines refused or points outside the grid (the summary counts them).
    ASSERT_TRUE(batch.exitCode == 0 || batch.exitCode == 3) << batch.err;

    // The same result file.
    ASSERT_TRUE(std::filesystem::exists(windowResult));
    if (ascii) {
        EXPECT_EQ(ct::readWholeFile(windowResult), ct::readWholeFile(batchResult));
    } else {
        const ct::Sheet a = ct::readFirstSheet(windowResult);
        const ct::Sheet b = ct::readFirstSheet(batchResult);
        EXPECT_EQ(a.size(), b.size());
        for (const auto& [at, cell] : b) {
            SCOPED_TRACE("row " + std::to_string(at.first) + " column " + std::to_string(at.second));
            ASSERT_TRUE(a.count(at));
            EXPECT_EQ(a.at(at).isNumber, cell.isNumber);
            EXPECT_EQ(a.at(at).number, cell.number);
            EXPECT_EQ(a.at(at).text, cell.text);
        }
        int marked = 0;
        for (const auto& [at, cell] : a)
            marked += at.second == 5 && cell.text == "Fuori Griglia" ? 1 : 0;
        EXPECT_EQ(marked, outside);
    }

    // The same messages: a reading error, then the summary; the converter adds the count
    // of refused lines to its summary.
    const std::string boxes = boxesAsPrinted(h);
    int refused = 0;
    for (std::size_t at = boxes.find("ALLA RIGA:"); at != std::string::npos; at = boxes.find("ALLA RIGA:", at + 1))
        ++refused;
    EXPECT_EQ(boxes + (refused > 0 ? "RIGHE SCARTATE PER ERRORI DI LETTURA:  " + std::to_string(refused) + "\n" : ""),
              batch.err);
    std::vector<std::string> summary{"PROCEDURA TERMINATA CON SUCCESSO:",
                                     "PUNTI TRATTATI:   " + std::to_string(points)};
    if (!sameSystem)
        summary.push_back("PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  " + std::to_string(outside));
    if (!sameSystem && s.heights && loaded.portion->globalGeoid != 0)
        summary.push_back("ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE");
    ASSERT_FALSE(h.dialogs().messages.empty());
    const Message& last = h.dialogs().messages.back();
    EXPECT_EQ(last.lines, summary);
    EXPECT_EQ(last.icon, MessageIcon::Information);
    EXPECT_EQ(last.title, "Dormal2k");
    if (ascii && readingErrorLine > 0) {
        ASSERT_EQ(h.dialogs().messages.size(), 2u);
        const bool plane = s.sel.inputKind == CoordKind::Plane;
        EXPECT_EQ(h.dialogs().messages[0].lines,
                  (std::vector<std::string>{
                      plane ? "ERRORE NELLA LETTURA NELLA COORD. NORD" : "ERRORE NELLA LETTURA NELLA LATITUDINE",
                      "ALLA RIGA:     " + std::to_string(readingErrorLine) + "    DEL FILE DI INPUT"}));
        EXPECT_EQ(h.dialogs().messages[0].icon, MessageIcon::Information);
    } else {
        EXPECT_EQ(h.dialogs().messages.size(), 1u);
    }
    EXPECT_FALSE(h.shown("ProgressBar1"));

    // "Esegui" stays disabled until a result file is chosen (a cancelled dialog counts)...
    EXPECT_FALSE(h.enabled("Command1"));
    h.click("Option3_1");
    EXPECT_FALSE(h.enabled("Command1"));
    h.click("Command7");
    EXPECT_TRUE(h.enabled("Command1"));
    // ...or keyboard mode is picked.
    h.click("Command1");
    EXPECT_EQ(joinedText(h.dialogs().messages.back()), "NON E' STATO INDICATO  \nIL FILE SU CUI SCRIVERE I RISULTATI");
    EXPECT_FALSE(h.enabled("Command1"));
    h.click("Option3_0");
    EXPECT_TRUE(h.enabled("Command1"));
}

class EndToEndFile : public ::testing::TestWithParam<std::tuple<int, bool>> {};

TEST_P(EndToEndFile, ResultFileAndSummaryMatchTheBatchConverter) {
    ASSERT_TRUE(std::filesystem::exists(ct::batchExe())) << "build dormal2k-batch first";
    const Selection& s = kSelections[std::get<0>(GetParam())];
    const bool ascii = std::get<1>(GetParam());
    SCOPED_TRACE(std::string(s.what) + (ascii ? ", ASCII" : ", workbook"));
    const GridLoadResult loaded = loadGridPortion(DORMAL2K_SAMPLES_DIR, s.sample);
    ASSERT_TRUE(loaded.ok());
    const std::vector<DataPoint> points = makePoints(s, *loaded.portion);

    ct::ScratchDir scratch;
    const std::string data = scratch.file(ascii ? "punti dati.txt" : "punti.xlsx");
    if (ascii) {
        ct::writeWholeFile(data, asciiText(points));
    } else {
        std::vector<ct::DataRow> rows;
        for (const DataPoint& p : points)
            rows.push_back({p.name, p.firstValue, p.secondValue, p.heightValue});
        ct::writeDataWorkbook(data, rows);
    }
    const bool sameSystem = std::string(s.inSystem) == s.outSystem;
    compareWithBatch(s, ascii, data, 6, sameSystem ? 0 : 2, 6);
}

INSTANTIATE_TEST_SUITE_P(Selections, EndToEndFile,
                         ::testing::Combine(::testing::Range(0, static_cast<int>(std::size(kSelections))),
                                            ::testing::Bool()),
                         [](const ::testing::TestParamInfo<std::tuple<int, bool>>& info) {
                             return "selection" + std::to_string(std::get<0>(info.param)) +
                                    (std::get<1>(info.param) ? "_ascii" : "_workbook");
                         });

// The sample data files shipped with the program: 26 ROMA40 Gauss-Boaga points over the
// sample sheet, one of them north of it.
TEST(EndToEndSampleData, ShippedDataFilesGiveWhatTheBatchConverterGives) {
    ASSERT_TRUE(std::filesystem::exists(ct::batchExe())) << "build dormal2k-batch first";
    const Selection s{
        "ROMA40 Gauss-Boaga automatic -> ETRF2000 UTM automatic, heights",
        "ROMA40",
        "Piane",
        "Gauss-Boaga",
        "ETRF2000",
        "Piane",
        "UTM Automatico",
        true,
        "0245.GK2",
        "0245",
        {"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "auto", "--to", "ETRF2000", "--to-kind", "plane",
         "--to-zone", "auto", "--heights"},
        {RefSystem::Roma40, CoordKind::Plane, Zone::Auto, RefSystem::Etrf2000, CoordKind::Plane, Zone::Auto}};
    for (const char* name : {"punti_roma40_gb.txt", "punti_roma40_gb.xlsx"}) {
        SCOPED_TRACE(name);
        const std::string data = std::string(DORMAL2K_SAMPLES_DIR) + "/" + name;
        if (!std::filesystem::exists(data))
            GTEST_SKIP() << data << " is not there";
        compareWithBatch(s, std::string(name).ends_with(".txt"), data, 26, 1, 0);
    }
}

} // namespace
