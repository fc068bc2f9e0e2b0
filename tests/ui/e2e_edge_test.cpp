// Edge cases through the whole window, driven as a user drives it: the automatic Gauss-Boaga
// zone at East 2000000, a point exactly on a grid edge, the run's messages in their order
// with the focus where they put it, long paths shortened in the file fields, and a change of
// file type that discards both paths.

#include <QCheckBox>
#include <QListWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <cmath>

#include "../cli/cli_support.h"
#include "geodesy/angles.h"
#include "support_window.h"
#include "ui/file_choice_frame.h"
#include "ui/working_zone_panel.h"
#include "wz_fixtures.h"

namespace {

using namespace dormal;
namespace ct = dormal::clitest;
using uitest::WindowHarness;

const QString kSamplesDir = QStringLiteral(DORMAL2K_SAMPLES_DIR);

std::vector<std::string> shownTexts(WindowHarness& h) {
    std::vector<std::string> out;
    for (const Message& m : h.dialogs().messages)
        out.push_back(joinedText(m));
    return out;
}

// Clicks `file` in File1 of `folder`, as a user picks a grid file.
void clickGridFile(WindowHarness& h, const QString& folder, const char* file) {
    ASSERT_TRUE(h.shown("Frame5"));
    if (h.window().workingZone()->currentFolder() != folder)
        h.window().workingZone()->openFolder(folder);
    auto* list = h.find<QListWidget>("File1");
    const QList<QListWidgetItem*> found = list->findItems(QLatin1String(file), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << file;
    list->scrollToItem(found.front());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
    ASSERT_TRUE(h.window().workingZone()->fileSelected()) << file;
}

// Types `text` into an edit field (clicking its display field unless it has the focus
// already) and leaves it with Enter.
void enter(WindowHarness& h, const char* display, const char* edit, const QString& text) {
    QLineEdit* e = h.field(edit);
    if (e->isVisible() && e->hasFocus()) {
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, text);
    } else {
        h.typeInto(display, edit, text);
    }
    QTest::keyClick(e, Qt::Key_Return);
}

void typePoint(WindowHarness& h, const QString& first, const QString& second, const QString& height = {}) {
    enter(h, "Text2", "Text3", first);
    enter(h, "Text4", "Text5", second);
    if (!height.isEmpty())
        enter(h, "Text6", "Text7", height);
}

void setHeights(WindowHarness& h, bool on) {
    if (h.find<QCheckBox>("Check1")->isChecked() != on)
        h.click("Check1");
    ASSERT_EQ(h.find<QCheckBox>("Check1")->isChecked(), on);
}

// ---- Automatic Gauss-Boaga input --------------------------------------------------------

// East 1999999.999 is read in Ovest and East 2000000 in Est: the automatic zone gives the
// same output as the zone picked by name, another than the other zone gives, and the same
// as dormal2k-batch with --from-zone auto. Each point lies in the other zone: both warn.
TEST(EndToEndEdges, AutomaticGaussBoagaInputTurnsAtEast2000000) {
    ASSERT_TRUE(std::filesystem::exists(ct::batchExe())) << "build dormal2k-batch first";
    WindowHarness h;
    const QChar sep = h.window().runInputs().decimalSeparator;
    h.pick(1, "ROMA40");
    h.pick(2, "Piane");
    h.pick(6, "ROMA40");
    h.pick(7, "Geografiche");
    struct Case {
        const char* east;
        const char* ownZone;
        const char* otherZone;
    };
    const Case cases[] = {{"1999999.999", "Gauss-Boaga Ovest", "Gauss-Boaga Est"},
                          {"2000000", "Gauss-Boaga Est", "Gauss-Boaga Ovest"}};
    std::string data;
    std::vector<std::pair<QString, QString>> automatic;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.east);
        const auto run = [&](const char* zone) {
            h.pick(3, zone);
            typePoint(h, QStringLiteral("5000000"), QString::fromLatin1(c.east));
            h.dialogs().messages.clear();
            h.click("Command1");
            EXPECT_EQ(shownTexts(h), std::vector<std::string>{"IL PUNTO IN CALCOLO APPARTIENE AD UN FUSO DIVERSO\n"
                                                              "RISPETTO ALLE COORDINATE PIANE INTRODOTTE"});
            return std::pair{h.text("Text8"), h.text("Text9")};
        };
        const auto autoResult = run("Gauss-Boaga");
        EXPECT_FALSE(autoResult.first.isEmpty());
        EXPECT_EQ(run(c.ownZone), autoResult);
        EXPECT_NE(run(c.otherZone).second, autoResult.second);
        automatic.push_back(autoResult);
        data += std::string("P ") + "5000000 " + c.east + "\n";
    }

    ct::ScratchDir scratch;
    ct::writeWholeFile(scratch.file("gb.txt"), data);
    const ct::ProcessResult batch =
        ct::runBatchExe({"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "auto", "--to", "ROMA40", "--type",
                         "ascii", "--decimal-separator", std::string(1, sep.toLatin1()), scratch.file("gb.txt"), "-"});
    ASSERT_EQ(batch.exitCode, 0) << batch.err;
    // Report lines: name, North, East, latitude, longitude (gg.ppssdddd); the window shows
    // the same angles as degrees, minutes and seconds to 0.0001".
    const auto asField = [&](const std::string& gg) {
        QString s = QString::fromStdString(gg);
        s.replace(sep, QLatin1Char('.'));
        const double v = std::abs(s.toDouble());
        const long long units = std::llround(v * 1e8); // gg ppss dddd as one integer
        const long long d = units / 100000000, m = units / 1000000 % 100, sec = units / 10000 % 100,
                        frac = units % 10000;
        return QStringLiteral("%1%2\u00b0 %3' %4%5%6''")
            .arg(gg.front() == '-' ? QStringLiteral("-") : QString())
            .arg(d)
            .arg(m, 2, 10, QLatin1Char('0'))
            .arg(sec, 2, 10, QLatin1Char('0'))
            .arg(sep)
            .arg(frac, 4, 10, QLatin1Char('0'));
    };
    std::vector<std::string> lines;
    for (const QString& l : QString::fromStdString(batch.out).split(QStringLiteral("\r\n"), Qt::SkipEmptyParts))
        if (!l.startsWith(QLatin1Char('/')))
            lines.push_back(l.toStdString());
    ASSERT_EQ(lines.size(), 2u) << batch.out;
    for (std::size_t i = 0; i < 2; ++i) {
        const QStringList f = QString::fromStdString(lines[i]).split(QLatin1Char(' '), Qt::SkipEmptyParts);
        ASSERT_EQ(f.size(), 5) << lines[i];
        EXPECT_EQ(asField(f[3].toStdString()), automatic[i].first.trimmed());
        EXPECT_EQ(asField(f[4].toStdString()), automatic[i].second.trimmed());
    }
}

// ---- A point exactly on a grid edge -----------------------------------------------------

// A vertex portion whose geoid grid ends, 5" inside its outer nodes, exactly at the typed
// latitude 45°00'35" (south) and longitude 11°49'55" (east): the origins are nudged until
// origin + inset gives the typed value's double.
double originFor(double typed, double inset) {
    const double edge = sexagesimalToDegrees(typed);
    double origin = edge - sexagesimalToDegrees(inset);
    for (int i = 0; i < 64 && origin + sexagesimalToDegrees(inset) != edge; ++i)
        origin = std::nextafter(origin, origin + sexagesimalToDegrees(inset) < edge ? 90.0 : 0.0);
    return origin;
}

TEST(EndToEndEdges, PositionExactlyOnTheGridEdgeIsInside) {
    ASSERT_TRUE(std::filesystem::exists(ct::batchExe())) << "build dormal2k-batch first";
    WindowHarness h;
    wz::PortionFile p = wz::vertexPortion();
    p.geoidLat = originFor(45.0035, 0.0005);
    p.geoidLon = originFor(11.4955, 0.1755);
    const QString grid = QDir(h.folder()).filePath(QStringLiteral("777.GK1"));
    wz::writeFile(grid, wz::portionText(p));
    h.window().workingZone()->openFolder(h.folder()); // the folder again, listing the new file
    clickGridFile(h, h.folder(), "777.GK1");
    ASSERT_EQ(h.window().workingZone()->limits().geoidSouth, sexagesimalToDegrees(45.0035));
    ASSERT_EQ(h.window().workingZone()->limits().geoidEast, sexagesimalToDegrees(11.4955));
    const QChar sep = h.window().runInputs().decimalSeparator;

    // ETRF89 input: the geoid grid's edges are tested on the point itself.
    struct Case {
        const char *lat, *lon;
        bool inside;
    };
    const Case cases[] = {
        {"45.0035", "11.40", true},        // on the south edge
        {"45.07", "11.4955", true},        // on the east edge
        {"45.0035", "11.4955", true},      // on the south-east corner
        {"45.0034999999", "11.40", false}, // a ten-thousandth of a second south of it
        {"45.07", "11.4955000001", false}, // east of it
    };
    std::string data;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.lat) + " " + c.lon);
        typePoint(h, QString::fromLatin1(c.lat), QString::fromLatin1(c.lon));
        h.dialogs().messages.clear();
        h.click("Command1");
        if (c.inside) {
            EXPECT_TRUE(h.dialogs().messages.empty()) << shownTexts(h).front();
            EXPECT_FALSE(h.text("Text8").isEmpty());
        } else {
            ASSERT_EQ(h.dialogs().messages.size(), 1u);
            EXPECT_EQ(h.dialogs().messages[0].title, "Punto fuori Grigliato");
            EXPECT_EQ(shownTexts(h)[0], "Punto non calcolabile perch\u00e8 situato\nfuori della porzione di grigliato\n"
                                        "relativo al vertice KVT95 indicato");
            EXPECT_TRUE(h.text("Text8").isEmpty());
        }
        data += std::string("E ") + c.lat + " " + c.lon + "\n";
    }
    // The batch converter counts the same points outside.
    ct::ScratchDir scratch;
    ct::writeWholeFile(scratch.file("edge.txt"), data);
    const ct::ProcessResult batch =
        ct::runBatchExe({"--from", "ETRF89", "--to", "ROMA40", "--grid", grid.toStdString(), "--type", "ascii",
                         "--decimal-separator", std::string(1, sep.toLatin1()), scratch.file("edge.txt"), "-"});
    ASSERT_EQ(batch.exitCode, 3) << batch.err; // completed, with points outside the grid
    EXPECT_NE(batch.err.find("PUNTI TRATTATI:   5\nPUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA:  2\n"),
              std::string::npos)
        << batch.err;
}

// ---- The run's messages in order, with the focus ----------------------------------------

// A selection picked through the lists, Check1, and a grid file clicked in File1.
struct Selection {
    const char *inSystem, *inKind, *inZone;    // inZone: item of Combo5, or null
    const char *outSystem, *outKind, *outZone; // outZone: item of Combo10, or null
    bool heights;
    const char* grid; // sample file, or null
};
const Selection kNoGrid{"ETRF89", "Geografiche", nullptr, "ROMA40", "Geografiche", nullptr, false, nullptr};
const Selection kSameSystem{"ETRF89", "Geografiche", nullptr, "ETRF89", "Geografiche", nullptr, false, nullptr};
const Selection kGeo{"ETRF89", "Geografiche", nullptr, "ROMA40", "Geografiche", nullptr, false, "123456.GK1"};
const Selection kGeoHeights{"ETRF89", "Geografiche", nullptr, "ROMA40", "Geografiche", nullptr, true, "123456.GK1"};
const Selection kPlane{"ETRF89", "Piane", nullptr, "ROMA40", "Geografiche", nullptr, false, "123456.GK1"};
const Selection kSheet{"ETRF89", "Geografiche", nullptr, "ROMA40", "Geografiche", nullptr, false, "0245.GK2"};
// A Salento point typed in UTM 33 (its own zone is 34), asked in UTM 32, heights on the
// global geoid model.
const Selection kWarnings{"ETRF2000", "Piane", "UTM 33", "ETRF89", "Piane", "UTM 32", true, "654321.GK1"};

struct MessageCase {
    const char* what;
    const Selection* sel;
    const char *first, *second, *height; // typed; null leaves the field as it is
    std::vector<std::string> messages;
    const char* title; // of the first box
    const char* focus; // edit field made visible and focused, or null
};

const char* const kApp = "Dormal2k";
const char* const kNotSelected = "NON E' STATO SELEZIONATO  \nNESSUN FILE CONTENENTE PORZIONI DI GRIGLIA";
const char* const kOutsideVertex =
    "Punto non calcolabile perch\u00e8 situato\nfuori della porzione di grigliato\nrelativo al vertice KVT95 indicato";
const char* const kOutsideSheet = "Punto non calcolabile perch\u00e8 situato\nfuori della porzione di grigliato\n"
                                  "relativo al foglio al 50.000 indicato";
const char* const kLat = "VALORE DI LATITUDINE\nNON CONSENTITO";

const MessageCase kMessageCases[] = {
    // The common checks come before the empty first field.
    {"no grid portion, Text3 empty", &kNoGrid, nullptr, nullptr, nullptr, {kNotSelected}, kApp, nullptr},
    {"nothing to convert, Text3 empty",
     &kSameSystem,
     nullptr,
     nullptr,
     nullptr,
     {"TRASFORMAZIONE NON NECESSARIA"},
     kApp,
     nullptr},
    {"Text3 empty",
     &kGeo,
     nullptr,
     "9.1115",
     nullptr,
     {"INSERIRE LE COORDINATE  \nDEL PUNTO DA CALCOLARE"},
     kApp,
     "Text3"},
    // Range checks: the first failure in the order North, East, latitude, longitude, height.
    {"North and East both out of range",
     &kPlane,
     "2999999.999",
     "99999.999",
     nullptr,
     {"VALORE DELLA COORD. NORD\nNON CONSENTITO"},
     kApp,
     "Text3"},
    {"East out of range",
     &kPlane,
     "6000000",
     "8000000.001",
     nullptr,
     {"VALORE DELLA COORD. EST\nNON CONSENTITO"},
     kApp,
     "Text5"},
    {"North 3000000 passes, its latitude does not", &kPlane, "3000000", "500000", nullptr, {kLat}, kApp, "Text3"},
    {"latitude, longitude and height out of range",
     &kGeoHeights,
     "49.0001",
     "20.0001",
     "20000.001",
     {kLat},
     kApp,
     "Text3"},
    {"longitude and height out of range",
     &kGeoHeights,
     "45.2230",
     "4.5959999",
     "20000.001",
     {"VALORE DI LONGITUDINE\nNON CONSENTITO"},
     kApp,
     "Text5"},
    {"height out of range",
     &kGeoHeights,
     "45.2230",
     "9.1115",
     "-1000.001",
     {"VALORE DI QUOTA\nNON CONSENTITO"},
     kApp,
     "Text7"},
    // Values at the limits pass the range checks; such points lie outside the portion.
    {"lower limits, outside a vertex portion",
     &kGeoHeights,
     "34",
     "5",
     "20000",
     {kOutsideVertex},
     "Punto fuori Grigliato",
     nullptr},
    {"upper limits, outside a map-sheet portion",
     &kSheet,
     "48.5959999",
     "19.5959999",
     nullptr,
     {kOutsideSheet},
     "Punto fuori Grigliato",
     nullptr},
    // Warnings do not stop the run: input in another zone, then projection into another
    // zone, then, after the fields are written, the global-geoid note.
    {"three warnings in order",
     &kWarnings,
     "4447305.390",
     "792921.229",
     "250",
     {"IL PUNTO IN CALCOLO APPARTIENE AD UN FUSO DIVERSO\nRISPETTO ALLE COORDINATE PIANE INTRODOTTE",
      "E' STATA RICHIESTA LA PROIEZIONE DEL PUNTO\nIN UN FUSO DIVERSO DA QUELLO DI APPARTENENZA",
      "ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE"},
     "ATTENZIONE:",
     nullptr},
};

TEST(EndToEndEdges, RunMessagesComeInTheirOrderWithTheFocusOnTheirField) {
    for (const MessageCase& c : kMessageCases) {
        SCOPED_TRACE(c.what);
        WindowHarness h;
        const Selection& s = *c.sel;
        h.pick(1, s.inSystem);
        h.pick(2, s.inKind);
        if (s.inZone != nullptr)
            h.pick(5, s.inZone);
        h.pick(6, s.outSystem);
        h.pick(7, s.outKind);
        if (s.outZone != nullptr)
            h.pick(10, s.outZone);
        setHeights(h, s.heights);
        if (s.grid != nullptr)
            clickGridFile(h, kSamplesDir, s.grid);
        if (c.first != nullptr)
            enter(h, "Text2", "Text3", QString::fromLatin1(c.first));
        if (c.second != nullptr)
            enter(h, "Text4", "Text5", QString::fromLatin1(c.second));
        if (c.height != nullptr)
            enter(h, "Text6", "Text7", QString::fromLatin1(c.height));
        if (::testing::Test::HasFatalFailure())
            return;
        h.click("Command1");
        EXPECT_EQ(shownTexts(h), c.messages);
        ASSERT_FALSE(h.dialogs().messages.empty());
        EXPECT_EQ(h.dialogs().messages.front().title, c.title);
        EXPECT_EQ(h.dialogs().messages.front().icon, MessageIcon::Warning);
        if (c.focus != nullptr) {
            EXPECT_TRUE(h.field(c.focus)->isVisible()) << c.focus;
            EXPECT_TRUE(h.field(c.focus)->hasFocus()) << c.focus;
        }
        // Only warnings leave a result; the global-geoid note is an information.
        const bool converted = c.messages.front().starts_with("IL PUNTO IN CALCOLO");
        EXPECT_EQ(!h.text("Text8").isEmpty(), converted);
        EXPECT_EQ(!h.text("Text10").isEmpty(), converted);
        if (converted) {
            EXPECT_EQ(h.text("Text1"), QStringLiteral("32"));
            EXPECT_EQ(h.dialogs().messages.back().icon, MessageIcon::Information);
        }
    }
}

// ---- The file fields -------------------------------------------------------------------

// Paths as the dialogs answer them: 68 characters are shown shortened (the part up to the
// first "/", then a tail of whole folder names from the last 52 characters), 55 whole.
TEST(EndToEndEdges, LongPathsAreShownShortenedInTheFileFields) {
    WindowHarness h;
    h.click("Option3_1");
    h.click("Option4_1");
    const QString data = QStringLiteral("/d/Documents and Settings/utente/Desktop/rilievi/2009/campagna/p.txt");
    const QString result = QStringLiteral("/d/Documents and Settings/utente/Desktop/rilievi/2009/campagna/r.txt");
    ASSERT_EQ(data.size(), 68);
    h.dialogs().openAnswers.push_back(data);
    h.dialogs().saveAnswers.push_back(result);
    h.click("Command6");
    h.click("Command7");
    EXPECT_EQ(h.text("Text11"), QStringLiteral("/ ...  ... /utente/Desktop/rilievi/2009/campagna/p.txt"));
    EXPECT_EQ(h.text("Text12"), QStringLiteral("/ ...  ... /utente/Desktop/rilievi/2009/campagna/r.txt"));
    EXPECT_EQ(h.window().fileChoice()->dataFilePath(), data) << "the run uses the whole path";
    EXPECT_EQ(h.window().fileChoice()->resultFilePath(), result);

    const QString whole = QStringLiteral("/d/Documents and Settings/utente/Desktop/rilievi/pp.txt");
    ASSERT_EQ(whole.size(), 55);
    h.dialogs().openAnswers.push_back(whole);
    h.click("Command6");
    EXPECT_EQ(h.text("Text11"), whole);
}

// A new file type discards both paths; the run then asks for the data file first, then
// the result file, and leaves "Esegui" disabled until a result file is chosen.
TEST(EndToEndEdges, SwitchingTheFileTypeDiscardsBothPaths) {
    WindowHarness h;
    clickGridFile(h, kSamplesDir, "123456.GK1");
    h.click("Option3_1");
    h.click("Option4_1");
    ct::ScratchDir scratch;
    ct::writeWholeFile(scratch.file("p.txt"), "P1 45.2230 9.1115\n");
    for (const char* type : {"Option4_0", "Option4_1"}) {
        SCOPED_TRACE(type);
        h.dialogs().openAnswers.push_back(QString::fromStdString(scratch.file("p.txt")));
        h.dialogs().saveAnswers.push_back(QString::fromStdString(scratch.file("r.txt")));
        h.click("Command6");
        h.click("Command7");
        ASSERT_FALSE(h.text("Text11").isEmpty());
        ASSERT_FALSE(h.text("Text12").isEmpty());
        h.click(type);
        EXPECT_TRUE(h.text("Text11").isEmpty());
        EXPECT_TRUE(h.text("Text12").isEmpty());
        EXPECT_TRUE(h.window().fileChoice()->dataFilePath().isEmpty());
        EXPECT_TRUE(h.window().fileChoice()->resultFilePath().isEmpty());

        h.dialogs().messages.clear();
        h.click("Command1");
        EXPECT_EQ(shownTexts(h), std::vector<std::string>{"NON E' STATO SELEZIONATO  \nIL FILE DEI DATI DI INPUT"});
        EXPECT_FALSE(h.enabled("Command1"));
        h.dialogs().saveAnswers.push_back({}); // a cancelled dialog enables "Esegui" too
        h.click("Command7");
        EXPECT_TRUE(h.enabled("Command1"));
        h.dialogs().openAnswers.push_back(QString::fromStdString(scratch.file("p.txt")));
        h.click("Command6");
        h.click("Command1");
        EXPECT_EQ(shownTexts(h).back(), "NON E' STATO INDICATO  \nIL FILE SU CUI SCRIVERE I RISULTATI");
        EXPECT_FALSE(h.enabled("Command1"));
        h.dialogs().saveAnswers.push_back({});
        h.click("Command7");
    }
    EXPECT_FALSE(std::filesystem::exists(scratch.file("r.txt"))) << "no run got as far as writing";
}

} // namespace
