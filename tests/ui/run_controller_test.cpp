// "Esegui" through the run controller, with a grid portion picked in the working zone:
// common checks, typed points (messages in order, focus, output fields), data files.

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>

#include <gtest/gtest.h>
#include <xlsxwriter.h>
#include <zip.h>

#include <clocale>
#include <algorithm>
#include <cmath>
#include <random>
#include <set>
#include <locale.h>

#include "conversion/formats.h"
#include "geodesy/angles.h"
#include "geodesy/systems.h"
#include "tests/support/print_enums.h"
#include "ui/run_controller.h"
#include "ui/working_zone_panel.h"
#include "ui/wz_text.h"
#include "wz_fixtures.h"

namespace {

using dormal::CoordKind;
using dormal::RefSystem;
using dormal::Zone;

using namespace dormal;
using dormal::ui::RunController;
using dormal::ui::RunInputs;
using dormal::ui::RunView;

// Everything the run does to the window, in order, in one log shared with the dialogs.
class WzFakeRunView final : public RunView {
public:
    explicit WzFakeRunView(std::vector<std::string>& log) : log_(log) {}
    QWidget* dialogParent() override { return nullptr; }
    void clearOutputFields() override {
        fields = {};
        log_.push_back("clear");
    }
    void setOutputFields(const QString& first, const QString& second, const QString& height,
                         const QString& zone) override {
        fields = {first, second, height, zone};
        log_.push_back("fields");
    }
    void focusInputField(FieldRef field) override {
        log_.push_back("focus:" + std::to_string(static_cast<int>(field)));
    }
    void setBusy(bool busy) override { log_.push_back(busy ? "busy:on" : "busy:off"); }
    void setProgressVisible(bool visible, long maximum) override {
        log_.push_back(visible ? "progress:show:" + std::to_string(maximum) : "progress:hide");
    }
    void setProgressValue(long value) override {
        lastProgress = value;
        progressValues.push_back(value);
    }
    void setExecuteEnabled(bool enabled) override { log_.push_back(enabled ? "exec:on" : "exec:off"); }

    std::array<QString, 4> fields; // Text8, Text9, Text10, Text1
    long lastProgress = -1;
    std::vector<long> progressValues;

private:
    std::vector<std::string>& log_;
};

constexpr const char* kNoGrid = "msg:NON E' STATO SELEZIONATO  \nNESSUN FILE CONTENENTE PORZIONI DI GRIGLIA";
constexpr const char* kNotNeeded = "msg:TRASFORMAZIONE NON NECESSARIA";
constexpr const char* kOtherZoneInput =
    "msg:IL PUNTO IN CALCOLO APPARTIENE AD UN FUSO DIVERSO\nRISPETTO ALLE COORDINATE PIANE INTRODOTTE";
constexpr const char* kMismatch =
    "msg:E' STATA RICHIESTA LA PROIEZIONE DEL PUNTO\nIN UN FUSO DIVERSO DA QUELLO DI APPARTENENZA";
constexpr const char* kGlobalGeoid = "msg:ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE";

SelectionState selection(RefSystem inSys, CoordKind inKind, Zone inZone, RefSystem outSys, CoordKind outKind,
                         Zone outZone) {
    return SelectionState{inSys, inKind, inZone, outSys, outKind, outZone};
}

class RunControllerTest : public ::testing::Test {
protected:
    void SetUp() override {
        wz::ensureApplication();
        ASSERT_TRUE(dir.isValid());
        wz::writeFile(dir.filePath("123.GK1"), wz::portionText(wz::vertexPortion()));
        wz::PortionFile global = wz::vertexPortion();
        global.globalGeoid = 1;
        wz::writeFile(dir.filePath("124.GK1"), wz::portionText(global));
        dialogs.log = &log;
        panel = std::make_unique<ui::WorkingZonePanel>(dialogs, dir.path());
    }

    // The window's snapshot: selection, typed values, and what the working zone holds.
    RunInputs inputs(const SelectionState& sel) const {
        RunInputs in;
        in.sel = sel;
        in.portion = panel->portion();
        in.limits = &panel->limits();
        in.fileSelected = panel->fileSelected();
        in.decimalSeparator = QLatin1Char(sep);
        return in;
    }
    void pick(const char* file, RefSystem inputSystem = RefSystem::Etrf89,
              CoordKind inputKind = CoordKind::Geographic) {
        panel->onInputSystemPicked(inputSystem, inputKind);
        ASSERT_TRUE(panel->pickFile(QString::fromLatin1(file)));
        ASSERT_NE(panel->portion(), nullptr);
        log.clear();
    }
    void run(const RunInputs& in) {
        RunController rc(dialogs);
        rc.run(in, view);
    }
    ConversionContext context(const RunInputs& in) const {
        return ConversionContext{in.sel, in.heights, in.portion, in.limits};
    }
    QString q(const std::string& s) const { return QString::fromStdString(s); }

    const char sep = ui::localeDecimalSeparator();
    QTemporaryDir dir;
    std::vector<std::string> log;
    wz::WzFakeDialogs dialogs;
    WzFakeRunView view{log};
    std::unique_ptr<ui::WorkingZonePanel> panel;
};

using Log = std::vector<std::string>;

// The common checks, in their order, leave the output fields as they were.
TEST_F(RunControllerTest, CommonChecksComeFirstInTheirOrder) {
    struct Case {
        const char* what;
        SelectionState sel;
        bool pickPortion;
        std::int16_t mode;
        Log expected;
    };
    const Case cases[] = {
        {"systems differ, nothing picked",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40, CoordKind::Geographic,
                   Zone::Auto),
         false,
         0,
         {kNoGrid}},
        {"systems differ, file mode",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40, CoordKind::Geographic,
                   Zone::Auto),
         false,
         1,
         {kNoGrid}},
        {"same system, both geographic",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf89, CoordKind::Geographic,
                   Zone::Auto),
         false,
         0,
         {kNotNeeded}},
        {"same system, plane, same zone",
         selection(RefSystem::Etrf2000, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                   Zone::OvestOr32),
         true,
         0,
         {kNotNeeded}},
        {"same system, file mode",
         selection(RefSystem::Ed50, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Ed50, CoordKind::Geographic,
                   Zone::Auto),
         true,
         1,
         {kNotNeeded}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.pickPortion)
            pick("123.GK1");
        log.clear();
        RunInputs in = inputs(c.sel);
        in.inputMode = c.mode;
        in.firstFieldEmpty = false;
        run(in);
        EXPECT_EQ(log, c.expected);
    }
}

// Fault guarded: a failed read left the file selected and the run compared points with
// the limits of the portion read before.
TEST_F(RunControllerTest, FailedReadMeansNoGridPortionSelected) {
    pick("123.GK1");
    wz::PortionFile damaged = wz::vertexPortion();
    damaged.extraValues = 1;
    wz::writeFile(dir.filePath("123.GK1"), wz::portionText(damaged));
    ASSERT_TRUE(panel->pickFile("123.GK1"));
    log.clear();
    RunInputs in = inputs(selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40,
                                    CoordKind::Geographic, Zone::Auto));
    in.firstFieldEmpty = false;
    in.inputLat = 45.07;
    in.inputLon = 11.40;
    run(in);
    EXPECT_EQ(log, (Log{kNoGrid}));

    // Even a window that still passed the file as selected gets no grid without a portion.
    in.fileSelected = true;
    log.clear();
    run(in);
    EXPECT_EQ(log, (Log{kNoGrid}));
}

TEST_F(RunControllerTest, EmptyFirstFieldAsksForCoordinatesAndFocusesIt) {
    pick("123.GK1");
    RunInputs in = inputs(selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40,
                                    CoordKind::Geographic, Zone::Auto));
    in.firstFieldEmpty = true;
    run(in);
    EXPECT_EQ(log, (Log{"msg:INSERIRE LE COORDINATE  \nDEL PUNTO DA CALCOLARE", "focus:1"}));
}

// Range checks: the fields are emptied first, the message names the value, the focus goes
// to its field; plane values are checked before the position they give.
TEST_F(RunControllerTest, RangeFailuresGiveTheirMessageAndFocus) {
    pick("123.GK1");
    struct Case {
        SelectionState sel;
        double first, second, height;
        bool heights;
        const char* message;
        const char* focus;
    };
    const SelectionState planeIn = selection(RefSystem::Etrf89, CoordKind::Plane, Zone::OvestOr32, RefSystem::Etrf89,
                                             CoordKind::Geographic, Zone::Auto);
    const SelectionState geoIn = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40,
                                           CoordKind::Geographic, Zone::Auto);
    const Case cases[] = {
        {planeIn, 2999999.999, 700000, 0, false, "msg:VALORE DELLA COORD. NORD\nNON CONSENTITO", "focus:1"},
        {planeIn, 6000000.001, 700000, 0, false, "msg:VALORE DELLA COORD. NORD\nNON CONSENTITO", "focus:1"},
        {planeIn, 5000000, 99999.999, 0, false, "msg:VALORE DELLA COORD. EST\nNON CONSENTITO", "focus:2"},
        // North 3000000 passes its own check, but lies near 27°: latitude refused
        {planeIn, 3000000, 500000, 0, false, "msg:VALORE DI LATITUDINE\nNON CONSENTITO", "focus:1"},
        {geoIn, 33.5959, 11.40, 0, false, "msg:VALORE DI LATITUDINE\nNON CONSENTITO", "focus:1"},
        {geoIn, 45.07, 20.0001, 0, false, "msg:VALORE DI LONGITUDINE\nNON CONSENTITO", "focus:2"},
        {geoIn, 45.07, 11.40, 20000.001, true, "msg:VALORE DI QUOTA\nNON CONSENTITO", "focus:3"},
        {geoIn, 45.07, 11.40, -1000.001, true, "msg:VALORE DI QUOTA\nNON CONSENTITO", "focus:3"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message + std::string(" ") + std::to_string(c.first) + " " + std::to_string(c.second));
        log.clear();
        RunInputs in = inputs(c.sel);
        in.firstFieldEmpty = false;
        in.heights = c.heights;
        (c.sel.inputKind == CoordKind::Plane ? in.inputNorth : in.inputLat) = c.first;
        (c.sel.inputKind == CoordKind::Plane ? in.inputEast : in.inputLon) = c.second;
        in.inputHeight = c.height;
        run(in);
        EXPECT_EQ(log, (Log{"clear", c.message, c.focus}));
    }
}

// Automatic Gauss-Boaga input: East 1999999.999 is read in Ovest, 2000000 in Est; each
// lies in the other zone, so both warn before the fields are written.
TEST_F(RunControllerTest, AutomaticGaussBoagaInputTakesTheZoneFromTheEasting) {
    for (const auto& [east, zoneUsed] : {std::pair{1999999.999, Zone{1}}, std::pair{2000000.0, Zone{2}}}) {
        SCOPED_TRACE(east);
        log.clear();
        RunInputs in = inputs(selection(RefSystem::Roma40, CoordKind::Plane, Zone::Auto, RefSystem::Roma40,
                                        CoordKind::Geographic, Zone::Auto));
        in.firstFieldEmpty = false;
        in.inputNorth = 5000000;
        in.inputEast = east;
        run(in);
        EXPECT_EQ(log, (Log{"clear", kOtherZoneInput, "fields"}));

        RunInputs explicitZone = in;
        explicitZone.sel.inputZone = zoneUsed;
        const PointResult r =
            convertPoint(context(explicitZone), PointInput{in.inputNorth, in.inputEast, 0}, RunKind::SinglePoint);
        ASSERT_EQ(r.status, PointStatus::Converted);
        EXPECT_EQ(r.inZoneUsed, zoneUsed);
        EXPECT_EQ(view.fields[0], q(formatSexagesimalField(r.outFirst * 10000.0, sep)));
        EXPECT_EQ(view.fields[1], q(formatSexagesimalField(r.outSecond * 10000.0, sep)));
        EXPECT_TRUE(view.fields[2].isEmpty());
        EXPECT_TRUE(view.fields[3].isEmpty());
    }
}

TEST_F(RunControllerTest, PositionExactlyOnTheGridEdgeIsInsideAndJustBeyondIsOutside) {
    // A portion whose geoid grid ends, 5" inside its southern nodes, exactly at the typed
    // latitude 45°00'35": the origin is chosen so that origin + 5" gives that double.
    const double typed = 45.0035;
    const double edge = sexagesimalToDegrees(typed);
    const double inset = sexagesimalToDegrees(0.0005);
    double origin = edge - inset;
    for (int i = 0; i < 64 && origin + inset != edge; ++i)
        origin = std::nextafter(origin, origin + inset < edge ? 90.0 : 0.0);
    ASSERT_EQ(origin + inset, edge);
    wz::PortionFile p = wz::vertexPortion();
    p.geoidLat = origin;
    wz::writeFile(dir.filePath("125.GK1"), wz::portionText(p));
    panel->openFolder(dir.path()); // list the new file
    pick("125.GK1");
    ASSERT_EQ(panel->limits().geoidSouth, edge);

    // ETRF89 input: the geoid grid's edges are tested on the point itself.
    RunInputs in = inputs(selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40,
                                    CoordKind::Geographic, Zone::Auto));
    in.firstFieldEmpty = false;
    in.inputLat = typed;
    in.inputLon = 11.40;
    run(in);
    EXPECT_EQ(log, (Log{"clear", "fields"}));
    const PointResult r = convertPoint(context(in), PointInput{in.inputLat, in.inputLon, 0}, RunKind::SinglePoint);
    EXPECT_EQ(view.fields[0], q(formatSexagesimalField(r.outFirst * 10000.0, sep)));

    log.clear();
    in.inputLat = 45.0034999999; // a ten-thousandth of a second south of the edge
    run(in);
    EXPECT_EQ(log, (Log{"clear", "msg:Punto non calcolabile perch\u00e8 situato\nfuori della porzione di grigliato\n"
                                 "relativo al vertice KVT95 indicato"}));
    EXPECT_EQ(dialogs.shown.back().title, "Punto fuori Grigliato");
    EXPECT_TRUE(view.fields[0].isEmpty());
}

// Output fields are convertPoint's result in the fixed patterns, with the locale's
// separator; the global-geoid note comes after them.
TEST_F(RunControllerTest, OutputFieldsFormatTheConvertedPoint) {
    struct Case {
        const char* file;
        SelectionState sel;
        bool heights;
        Log expected;
        const char* zone;
    };
    const Case cases[] = {
        {"123.GK1",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40, CoordKind::Geographic,
                   Zone::Auto),
         false,
         {"clear", "fields"},
         ""},
        {"123.GK1",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                   Zone::Auto),
         true,
         {"clear", "fields"},
         "32"},
        {"124.GK1",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000, CoordKind::Plane,
                   Zone::Auto),
         true,
         {"clear", "fields", kGlobalGeoid},
         "32"},
        {"124.GK1",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40, CoordKind::Plane,
                   Zone::Auto),
         false,
         {"clear", "fields"},
         "Ovest"},
        {"124.GK1",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Ed50, CoordKind::Plane,
                   Zone::EstOr33),
         false,
         {"clear", kMismatch, "fields"},
         "33"},
        {"123.GK1",
         selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf89, CoordKind::Plane,
                   Zone::Italia),
         false,
         {"clear", "fields"},
         "Italia"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.file << " to system " << c.sel.outputSystem << " kind "
                                        << c.sel.outputKind);
        pick(c.file);
        RunInputs in = inputs(c.sel);
        in.firstFieldEmpty = false;
        in.heights = c.heights;
        in.inputLat = 45.07;
        in.inputLon = 11.40;
        in.inputHeight = 100.5;
        run(in);
        EXPECT_EQ(log, c.expected);

        const PointResult r =
            convertPoint(context(in), PointInput{in.inputLat, in.inputLon, in.inputHeight}, RunKind::SinglePoint);
        ASSERT_EQ(r.status, PointStatus::Converted);
        if (c.sel.outputKind == CoordKind::Plane) {
            EXPECT_EQ(view.fields[0], q(formatPlaneField(r.outFirst, sep)));
            EXPECT_EQ(view.fields[1], q(formatPlaneField(r.outSecond, sep)));
        } else {
            EXPECT_EQ(view.fields[0], q(formatSexagesimalField(r.outFirst * 10000.0, sep)));
            EXPECT_EQ(view.fields[1], q(formatSexagesimalField(r.outSecond * 10000.0, sep)));
        }
        EXPECT_TRUE(view.fields[0].contains(QLatin1Char(sep)));
        EXPECT_EQ(view.fields[2], c.heights ? q(formatHeightField(r.outHeight, sep)) : QString());
        EXPECT_EQ(view.fields[3], QString::fromUtf8(c.zone));
    }
}

// A point the computation cannot give (a zone its system does not have) is said so, not
// left as empty fields without a word.
TEST_F(RunControllerTest, PointThatCannotBeComputedIsReported) {
    RunInputs in = inputs(
        selection(RefSystem::Ed50, CoordKind::Plane, Zone::Italia, RefSystem::Ed50, CoordKind::Geographic, Zone::Auto));
    in.firstFieldEmpty = false;
    in.inputNorth = 5000000;
    in.inputEast = 500000;
    run(in);
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "clear");
    EXPECT_EQ(dialogs.shown.back(), pointFailureMessage());
    EXPECT_TRUE(view.fields[0].isEmpty());
}

// ---- Data files ------------------------------------------------------------------------

// One entry of a zip archive (a workbook part), empty when it cannot be read.
std::string zippedEntry(const QString& archive, const char* entry) {
    int err = 0;
    zip_t* z = zip_open(ui::toFileName(archive).c_str(), ZIP_RDONLY, &err);
    if (z == nullptr)
        return {};
    std::string out;
    if (zip_file_t* f = zip_fopen(z, entry, 0)) {
        char buf[4096];
        for (zip_int64_t n; (n = zip_fread(f, buf, sizeof buf)) > 0;)
            out.append(buf, static_cast<std::size_t>(n));
        zip_fclose(f);
    }
    zip_close(z);
    return out;
}

class RunFileTest : public RunControllerTest {
protected:
    RunInputs fileInputs(const SelectionState& sel, DataFileType type, const QString& data, const QString& result) {
        RunInputs in = inputs(sel);
        in.inputMode = 1;
        in.dataFileType = type;
        in.dataFilePath = data;
        in.resultFilePath = result;
        return in;
    }
    // How every batch run that passed the common checks ends.
    static void expectBatchEnd(const Log& log) {
        ASSERT_GE(log.size(), 3u);
        EXPECT_EQ(log[log.size() - 3], "progress:hide");
        EXPECT_EQ(log[log.size() - 2], "busy:off");
        EXPECT_EQ(log[log.size() - 1], "exec:off");
    }
};

TEST_F(RunFileTest, AsciiFileGivesResultFileAndSummaryThenDisablesEsegui) {
    pick("123.GK1");
    const QString data = dir.filePath("punti.txt");
    const QString result = dir.filePath("risultati.txt");
    wz::writeFile(data, "P1 45.07 11.40\n"
                        "P2 45.10 11.45\n"
                        "' comment\n"
                        "P3\n"
                        "P4 45.12 11.48\n"
                        "P5 46.00 11.40\n");
    run(fileInputs(selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40,
                             CoordKind::Geographic, Zone::Auto),
                   DataFileType::Ascii, data, result));

    const std::string readingError = "msg:ERRORE NELLA LETTURA NELLA LATITUDINE\nALLA RIGA:     4    DEL FILE DI INPUT";
    const std::string summary = "msg:PROCEDURA TERMINATA CON SUCCESSO:\nPUNTI TRATTATI:   4\n"
                                "PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  1";
    EXPECT_EQ(log, (Log{"busy:on", "busy:off", readingError, "busy:on", "progress:show:4", "busy:off", summary,
                        "busy:on", "progress:hide", "busy:off", "exec:off"}));
    EXPECT_EQ(view.lastProgress, 4);
    EXPECT_EQ(dialogs.shown.front().icon, MessageIcon::Information);
    EXPECT_EQ(dialogs.shown.back().icon, MessageIcon::Information);
    EXPECT_EQ(dialogs.shown.back().title, kAppTitle);
    ASSERT_TRUE(QFileInfo::exists(result));
    EXPECT_GT(QFileInfo(result).size(), 0);
}

TEST_F(RunFileTest, ExcelFileGivesWorkbookAndSummary) {
    pick("124.GK1");
    const QString data = dir.filePath("punti.xlsx");
    const QString result = dir.filePath("risultati.xlsx");
    {
        // The writing library prints numbers with the C library's locale: write them in "C".
        const locale_t cLocale = newlocale(LC_ALL_MASK, "C", static_cast<locale_t>(nullptr));
        const locale_t previous = uselocale(cLocale);
        lxw_workbook* wb = workbook_new(ui::toFileName(data).c_str());
        ASSERT_NE(wb, nullptr);
        lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
        worksheet_write_string(ws, 0, 0, "Punto", nullptr);
        worksheet_write_string(ws, 0, 1, "Lat", nullptr);
        worksheet_write_string(ws, 0, 2, "Lon", nullptr);
        worksheet_write_string(ws, 0, 3, "h", nullptr);
        const double pts[3][3] = {{45.07, 11.40, 100}, {45.10, 11.45, 120}, {45.12, 11.48, 140}};
        const char* names[3] = {"P1", "P2", "P3"};
        for (lxw_row_t r = 0; r < 3; ++r) {
            worksheet_write_string(ws, r + 1, 0, names[r], nullptr);
            for (lxw_col_t c = 0; c < 3; ++c)
                worksheet_write_number(ws, r + 1, c + 1, pts[r][c], nullptr);
        }
        const lxw_error closed = workbook_close(wb);
        uselocale(previous);
        freelocale(cLocale);
        ASSERT_EQ(closed, LXW_NO_ERROR);
    }
    RunInputs in = fileInputs(selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000,
                                        CoordKind::Plane, Zone::Auto),
                              DataFileType::Excel, data, result);
    in.heights = true;
    run(in);
    const std::string summary = "msg:PROCEDURA TERMINATA CON SUCCESSO:\nPUNTI TRATTATI:   3\n"
                                "PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  0\n"
                                "ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE";
    EXPECT_EQ(log, (Log{"busy:on", "progress:show:3", "busy:off", summary, "busy:on", "progress:hide", "busy:off",
                        "exec:off"}));
    EXPECT_EQ(view.lastProgress, 3);
    ASSERT_TRUE(QFileInfo::exists(result));
    EXPECT_GT(QFileInfo(result).size(), 0);

    // Fault guarded: under a comma-decimal locale the cells held "45,07", which no
    // spreadsheet reads as a number.
    const std::string sheet = zippedEntry(result, "xl/worksheets/sheet1.xml");
    ASSERT_FALSE(sheet.empty());
    EXPECT_NE(sheet.find("<v>45.07</v>"), std::string::npos);
    for (std::size_t at = sheet.find("<v>"); at != std::string::npos; at = sheet.find("<v>", at + 1))
        EXPECT_EQ(sheet.substr(at, sheet.find("</v>", at) - at).find(','), std::string::npos) << sheet.substr(at, 30);
}

TEST_F(RunFileTest, SameSystemSummaryHasTwoLinesAndNeedsNoGrid) {
    const QString data = dir.filePath("punti.txt");
    wz::writeFile(data, "A 45.07 11.40\nB 44.30 9.10\n");
    run(fileInputs(selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf89,
                             CoordKind::Plane, Zone::Auto),
                   DataFileType::Ascii, data, dir.filePath("piane.txt")));
    EXPECT_EQ(log, (Log{"busy:on", "progress:show:2", "busy:off",
                        "msg:PROCEDURA TERMINATA CON SUCCESSO:\nPUNTI TRATTATI:   2", "busy:on", "progress:hide",
                        "busy:off", "exec:off"}));
}

// Every batch run that passed the common checks ends with Esegui disabled, a refusal too.
TEST_F(RunFileTest, FileRefusalsAndFailuresAlsoDisableEsegui) {
    pick("123.GK1");
    const SelectionState sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40,
                                         CoordKind::Geographic, Zone::Auto);
    const QString data = dir.filePath("punti.txt");
    wz::writeFile(data, "' only a comment\n");
    struct Case {
        QString data, result;
        std::string message;
    };
    const Case cases[] = {
        {"", dir.filePath("r.txt"), "msg:NON E' STATO SELEZIONATO  \nIL FILE DEI DATI DI INPUT"},
        {data, "", "msg:NON E' STATO INDICATO  \nIL FILE SU CUI SCRIVERE I RISULTATI"},
        {data, dir.filePath("./punti.txt"), "msg:IL FILE DI INPUT E QUELLO  \nDI OUTPUT SONO LO STESSO"},
        {data, dir.filePath("r.txt"), "msg:IL FILE DATI NON CONTIENE\nNESSUN PUNTO VALIDO"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.message);
        log.clear();
        run(fileInputs(sel, DataFileType::Ascii, c.data, c.result));
        const bool nameRefusal = &c != &cases[3];
        const Log expected =
            nameRefusal // names are refused before the busy pointer
                ? Log{c.message, "progress:hide", "busy:off", "exec:off"}
                : Log{"busy:on", "busy:off", c.message, "busy:on", "progress:hide", "busy:off", "exec:off"};
        EXPECT_EQ(log, expected);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("r.txt")));

    // A data file that cannot be opened: said so, and the same end.
    log.clear();
    run(fileInputs(sel, DataFileType::Ascii, dir.filePath("manca.txt"), dir.filePath("r.txt")));
    ASSERT_EQ(log.size(), 7u);
    EXPECT_EQ(log[2].rfind("msg:", 0), 0u);
    expectBatchEnd(log);
}

// A window run of 50,000 points: the window's event loop keeps running while the pool
// converts (a timer ticks, the progress bar takes several values up to the total), and the
// result is the one the batch run gives on one thread, byte for byte (the workbook's cells are
// compared in the conversion tests' pooled runs).
// Fault guarded: the application asked to quit while a run's reading-error box was up (the
// window closed meanwhile) ended the window's wait; the run's next box then waited for a
// thread that waited for the run. The run now goes to its end, every box shown in order.
TEST_F(RunFileTest, QuitDuringARunLetsItEndWithEveryBox) {
    pick("123.GK1");
    const QString data = dir.filePath("punti.txt");
    const QString result = dir.filePath("risultati.txt");
    wz::writeFile(data, "P1 45.07 11.40\nP2\nP3 45.10 11.45\nP4\nP5\nP6 45.12 11.48\n");
    bool asked = false;
    dialogs.onShow = [&asked] {
        if (!asked) {
            asked = true;
            QCoreApplication::exit(0);
        }
    };
    run(fileInputs(selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40,
                             CoordKind::Geographic, Zone::Auto),
                   DataFileType::Ascii, data, result));
    dialogs.onShow = nullptr;
    ASSERT_EQ(dialogs.shown.size(), 4u); // three reading errors, then the summary
    EXPECT_NE(joinedText(dialogs.shown[2]).find("ALLA RIGA:     5"), std::string::npos);
    EXPECT_NE(joinedText(dialogs.shown[3]).find("PUNTI TRATTATI:   3"), std::string::npos);
    EXPECT_TRUE(QFileInfo::exists(result));
    // The quit is spent, so that the other tests' event loops run.
    QTimer::singleShot(0, [] { QCoreApplication::exit(0); });
    QCoreApplication::exec();
}

TEST_F(RunFileTest, LargeRunKeepsTheEventLoopAndGivesTheSameResult) {
    pick("124.GK1");
    const QString data = dir.filePath("molti.txt");
    {
        std::string text;
        std::mt19937 rng(5);
        std::uniform_int_distribution<int> latMin(4, 14), lonMin(35, 50), sec(0, 5999);
        char line[80];
        for (int i = 0; i < 50000; ++i) {
            std::snprintf(line, sizeof line, "P%d 45.%02d%04d 11.%02d%04d %d\n", i, latMin(rng), sec(rng), lonMin(rng),
                          sec(rng), i % 700);
            text += line;
        }
        wz::writeFile(data, text);
    }
    const SelectionState sel = selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf2000,
                                         CoordKind::Plane, Zone::Auto);
    {
        const QString result = dir.filePath("finestra.txt");
        const QString reference = dir.filePath("riferimento.txt");
        RunInputs in = fileInputs(sel, DataFileType::Ascii, data, result);
        in.heights = true;
        log.clear();
        view.progressValues.clear();
        int ticks = 0;
        QTimer timer;
        QObject::connect(&timer, &QTimer::timeout, [&ticks] { ++ticks; });
        timer.start(1);
        run(in);
        timer.stop();
        EXPECT_GT(ticks, 0) << "the event loop stood still during the run";
        ASSERT_FALSE(view.progressValues.empty());
        EXPECT_GT(std::set<long>(view.progressValues.begin(), view.progressValues.end()).size(), 3u);
        EXPECT_TRUE(std::is_sorted(view.progressValues.begin(), view.progressValues.end()));
        EXPECT_EQ(view.lastProgress, 50000);
        ASSERT_GE(log.size(), 4u);
        EXPECT_EQ(log[log.size() - 5].rfind("msg:PROCEDURA TERMINATA CON SUCCESSO:\nPUNTI TRATTATI:   50000", 0), 0u)
            << log[log.size() - 5];

        BatchRequest req;
        req.ctx = ConversionContext{sel, true, panel->portion(), &panel->limits()};
        req.type = in.dataFileType;
        req.dataPath = ui::toFileName(data);
        req.resultPath = ui::toFileName(reference);
        req.decimalSeparator = sep;
        const BatchOutcome one = runBatch(req);
        ASSERT_EQ(one.status, BatchStatus::Completed);
        QFile a(result), b(reference);
        ASSERT_TRUE(a.open(QIODevice::ReadOnly));
        ASSERT_TRUE(b.open(QIODevice::ReadOnly));
        EXPECT_TRUE(a.readAll() == b.readAll()) << "the window's result differs from the one-thread run";
    }
}

// A shipped sample portion picked in File1 converts a point at the centre of its limits.
TEST_F(RunControllerTest, ShippedSamplePortionConvertsItsCentre) {
    QDir samples(QStringLiteral(DORMAL2K_SAMPLES_DIR));
    samples.setNameFilters({"*.GK?"});
    const QStringList files = samples.entryList(QDir::Files);
    if (files.isEmpty())
        GTEST_SKIP() << "no sample portions in " << DORMAL2K_SAMPLES_DIR;
    panel->openFolder(samples.path());
    for (const QString& f : files) {
        SCOPED_TRACE(f.toStdString());
        pick(f.toLatin1().constData());
        const ZoneLimits& lim = panel->limits();
        RunInputs in = inputs(selection(RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Roma40,
                                        CoordKind::Geographic, Zone::Auto));
        in.firstFieldEmpty = false;
        in.inputLat = degreesToSexagesimal((lim.south + lim.north) / 2);
        in.inputLon = degreesToSexagesimal((lim.west + lim.east) / 2);
        run(in);
        EXPECT_EQ(log, (Log{"clear", "fields"}));
        const PointResult r = convertPoint(context(in), PointInput{in.inputLat, in.inputLon, 0}, RunKind::SinglePoint);
        EXPECT_EQ(view.fields[0], q(formatSexagesimalField(r.outFirst * 10000.0, sep)));
        EXPECT_EQ(view.fields[1], q(formatSexagesimalField(r.outSecond * 10000.0, sep)));
    }
}

} // namespace
