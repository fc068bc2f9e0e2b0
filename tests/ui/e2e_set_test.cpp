// "Usa tutte le porzioni della cartella" in the working zone: the sample mosaic through the
// window (data file and typed points) against dormal2k-batch --grid-dir on the same folder,
// what the working zone shows, and a folder the set cannot use.
#include <QApplication>
#include <QCheckBox>
#include <QFile>
#include <QListWidget>
#include <QTest>
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "../cli/cli_support.h"
#include "support_window.h"
#include "ui/working_zone_panel.h"

namespace {

using namespace dormal;
namespace ct = dormal::clitest;
using uitest::WindowHarness;

const std::string kMosaic = std::string(DORMAL2K_SAMPLES_DIR) + "/mosaic";

const std::vector<std::string> kOptions = {"--from", "ROMA40", "--from-kind", "plane", "--from-zone", "auto",
                                           "--to", "ETRF2000", "--to-kind", "plane", "--to-zone", "auto",
                                           "--heights"};

// ROMA40 Gauss-Boaga (automatic) to ETRF2000 UTM (automatic) with heights, as the lists offer it.
void selectSampleConversion(WindowHarness& h) {
    h.pick(1, "ROMA40");
    h.pick(2, "Piane");
    h.pick(3, "Gauss-Boaga");
    h.pick(6, "ETRF2000");
    h.pick(7, "Piane");
    h.pick(10, "UTM Automatico");
    if (!h.find<QCheckBox>("Check1")->isChecked())
        h.click("Check1");
}

// The mosaic's portions copied into a folder of the test's own (with a damaged extra one
// when asked), opened in the working zone.
QString openMosaicCopy(WindowHarness& h, const char* extraName = nullptr, const std::string& extraText = {}) {
    const QString folder = h.folder() + QStringLiteral("/griglie");
    EXPECT_TRUE(QDir().mkpath(folder));
    for (const char* name : {"0245.GK2", "0246.GK2", "0247.GK2", "0248.GK2"})
        EXPECT_TRUE(QFile::copy(QString::fromStdString(kMosaic + "/" + name), folder + "/" + QLatin1String(name)));
    if (extraName != nullptr)
        ct::writeWholeFile((folder + "/" + QLatin1String(extraName)).toStdString(), extraText);
    h.window().workingZone()->openFolder(folder);
    return folder;
}

std::string batchRun(const std::string& folder, const std::string& data, const std::string& result, int& exitCode,
                     std::string& err) {
    std::vector<std::string> args = kOptions;
    args.insert(args.end(), {"--grid-dir", folder, data, result});
    const ct::ProcessResult p = ct::runBatchExe(args);
    exitCode = p.exitCode;
    err = p.err;
    return ct::readWholeFile(result);
}

// Ticked: the working zone shows the number of portions and the outer limits, File1 is
// unavailable; the data file gives the batch converter's report byte for byte and the
// summary adds the per-portion counts. Unticked: back to "non selezionata".
TEST(WindowSet, SampleMosaicFromFileAsTheBatchConverter) {
    ASSERT_TRUE(std::filesystem::exists(ct::batchExe())) << "build dormal2k-batch first";
    WindowHarness h;
    selectSampleConversion(h);
    const QString folder = openMosaicCopy(h);
    h.click("CheckAllPortions");
    ASSERT_TRUE(h.find<QCheckBox>("CheckAllPortions")->isChecked());
    EXPECT_TRUE(h.dialogs().messages.empty());
    EXPECT_EQ(h.text("Label10"), QStringLiteral("Porzioni:"));
    EXPECT_EQ(h.text("Label13"), QStringLiteral("4"));
    EXPECT_EQ(h.text("Label40"), QStringLiteral("33"));
    EXPECT_FALSE(h.enabled("File1"));
    ASSERT_NE(h.window().workingZone()->portionSet(), nullptr);
    // Outer limits: the corners of the whole mosaic, in km (plane input), shown.
    EXPECT_TRUE(h.shown("Label19"));
    EXPECT_FALSE(h.text("Label19").isEmpty());

    const std::string data = kMosaic + "/punti_mosaico.txt";
    const std::string windowResult = (h.folder() + "/finestra.txt").toStdString();
    h.click("Option3_1");
    h.click("Option4_1");
    h.dialogs().openAnswers.push_back(QString::fromStdString(data));
    h.dialogs().saveAnswers.push_back(QString::fromStdString(windowResult));
    h.click("Command6");
    h.click("Command7");
    h.dialogs().messages.clear();
    h.click("Command1");

    int exitCode = 0;
    std::string err;
    const std::string batch =
        batchRun(folder.toStdString(), data, (h.folder() + "/batch.txt").toStdString(), exitCode, err);
    EXPECT_EQ(exitCode, 3);
    EXPECT_EQ(ct::readWholeFile(windowResult), batch);
    ASSERT_EQ(h.dialogs().messages.size(), 1u);
    EXPECT_EQ(joinedText(h.dialogs().messages.back()) + "\n", err);

    h.click("CheckAllPortions");
    EXPECT_EQ(h.window().workingZone()->portionSet(), nullptr);
    EXPECT_TRUE(h.enabled("File1"));
    EXPECT_EQ(h.text("Label13"), QStringLiteral("non selezionata"));
}

// Typed points, one in each corner sheet and one in the overlap of all four: the window
// shows what the report of the folder gives for the same point.
TEST(WindowSet, TypedPointsAsTheBatchConverter) {
    WindowHarness h;
    selectSampleConversion(h);
    const QString folder = openMosaicCopy(h);
    h.click("CheckAllPortions");

    struct Typed {
        const char* name;
        const char *north, *east, *height;
    };
    // Points of punti_mosaico.txt: M001 (south-west), M005 (south-east), M021 (north-west),
    // M025 (north-east).
    std::map<std::string, Typed> typed;
    std::istringstream lines(ct::readWholeFile(kMosaic + "/punti_mosaico.txt"));
    std::vector<std::array<std::string, 4>> rows;
    for (std::string line; std::getline(lines, line);) {
        std::istringstream f(line);
        std::array<std::string, 4> r;
        if (f >> r[0] >> r[1] >> r[2] >> r[3] && (r[0] == "M001" || r[0] == "M005" || r[0] == "M021" || r[0] == "M025"))
            rows.push_back(r);
    }
    ASSERT_EQ(rows.size(), 4u);
    std::string data;
    for (const auto& r : rows)
        data += r[0] + " " + r[1] + " " + r[2] + " " + r[3] + "\n";
    ct::writeWholeFile((h.folder() + "/quattro.txt").toStdString(), data);
    int exitCode = 0;
    std::string err;
    const std::string report = batchRun(folder.toStdString(), (h.folder() + "/quattro.txt").toStdString(),
                                        (h.folder() + "/quattro-r.txt").toStdString(), exitCode, err);
    ASSERT_EQ(exitCode, 0) << err;

    // Shown with blanks between thousands and the locale's decimal separator.
    const auto value = [](QString s) {
        return s.remove(QLatin1Char(' ')).replace(QLatin1Char(','), QLatin1Char('.')).trimmed().toDouble();
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r[0]);
        h.typeInto("Text2", "Text3", QString::fromStdString(r[1]));
        QTest::keyClick(h.field("Text3"), Qt::Key_Return);
        h.typeInto("Text4", "Text5", QString::fromStdString(r[2]));
        QTest::keyClick(h.field("Text5"), Qt::Key_Return);
        h.typeInto("Text6", "Text7", QString::fromStdString(r[3]));
        QTest::keyClick(h.field("Text7"), Qt::Key_Return);
        h.dialogs().messages.clear();
        h.click("Command1");
        EXPECT_TRUE(h.dialogs().messages.empty()) << joinedText(h.dialogs().messages.front());
        // The report line of the point: name, input N E H, output N E H, zone.
        const std::size_t at = report.find(" " + r[0] + " ");
        ASSERT_NE(at, std::string::npos);
        std::istringstream f(report.substr(at, report.find('\n', at) - at));
        std::string name, n0, e0, h0, n1, e1, h1;
        f >> name >> n0 >> e0 >> h0 >> n1 >> e1 >> h1;
        EXPECT_NEAR(value(h.text("Text8")), std::stod(n1), 0.0015);
        EXPECT_NEAR(value(h.text("Text9")), std::stod(e1), 0.0015);
        EXPECT_NEAR(value(h.text("Text10")), std::stod(h1), 0.0015);
    }
}

// A folder with a damaged portion: the box names the file, the check box goes back to
// unticked and the working zone is as before.
TEST(WindowSet, DamagedPortionInFolderIsRefused) {
    WindowHarness h;
    openMosaicCopy(h, "0249.gk2", "FOGLIO\n\"0249\"\n1,2,3\n");
    h.click("CheckAllPortions");
    ASSERT_EQ(h.dialogs().messages.size(), 1u);
    const std::string shown = joinedText(h.dialogs().messages.front());
    EXPECT_NE(shown.find("LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE"), std::string::npos) << shown;
    EXPECT_NE(shown.find("0249.gk2"), std::string::npos) << shown;
    EXPECT_FALSE(h.find<QCheckBox>("CheckAllPortions")->isChecked());
    EXPECT_EQ(h.window().workingZone()->portionSet(), nullptr);
    EXPECT_TRUE(h.enabled("File1"));
    EXPECT_EQ(h.text("Label13"), QStringLiteral("non selezionata"));
}

// Whether a text would break a one-line label or reorder it: control characters, line and
// paragraph separators, bidirectional formatting characters.
bool safeInOneLine(const QString& text) {
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if (c.category() == QChar::Other_Control || u == 0x061C || u == 0x200E || u == 0x200F ||
            (u >= 0x2028 && u <= 0x202E) || (u >= 0x2066 && u <= 0x2069))
            return false;
    }
    return true;
}

// Portion files with awkward names (made here, the bytes as given): the longest name the file
// system takes (255 bytes), Latin-1 bytes that are not UTF-8, a newline, a right-to-left
// override. File1 lists every portion the folder's set uses, each shown on one line
// (undecodable bytes as Latin-1, control and bidi characters as U+FFFD) with the same text as
// tooltip; picking one reads the file by its real bytes; the window never grows wider.
TEST(WindowSet, AwkwardFileNamesListedSafelyAndRead) {
    WindowHarness h;
    const QString folder = h.folder() + QStringLiteral("/nomi");
    ASSERT_TRUE(QDir().mkpath(folder));
    const std::string dir = QFile::encodeName(folder).toStdString();
    const std::string longName(251, 'L');
    struct Case {
        std::string bytes;  // on disk
        QString shown;      // File1's text and tooltip
        const char* sample; // the mosaic portion it holds
    };
    const Case cases[] = {
        {longName + ".GK2", QString::fromStdString(longName) + QStringLiteral(".GK2"), "0245.GK2"},
        {"porzione_\xE8.GK2", QStringLiteral("porzione_\u00e8.GK2"), "0246.GK2"},
        {"riga\nnuova.GK2", QStringLiteral("riga\ufffdnuova.GK2"), "0247.GK2"},
        {"rtl\u202Eevil.GK2", QStringLiteral("rtl\ufffdevil.GK2"), "0248.GK2"},
    };
    for (const Case& c : cases) {
        std::ofstream(dir + "/" + c.bytes, std::ios::binary) << ct::readWholeFile(kMosaic + "/" + c.sample);
    }
    h.window().workingZone()->openFolder(folder);
    QApplication::processEvents();
    const int startWidth = h.window().width();
    const int startMinimum = h.window().minimumSizeHint().width();
    ASSERT_LE(startWidth, 1280);

    auto* list = h.find<QListWidget>("File1");
    h.click("CheckAllPortions");
    ASSERT_NE(h.window().workingZone()->portionSet(), nullptr);
    EXPECT_EQ(h.text("Label13"), QStringLiteral("4"));
    EXPECT_EQ(list->count(), 4);
    h.click("CheckAllPortions");
    for (const Case& c : cases) {
        const QList<QListWidgetItem*> found = list->findItems(c.shown, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << c.shown.toStdString();
        QListWidgetItem* item = found.front();
        EXPECT_EQ(item->toolTip(), c.shown);
        list->scrollToItem(item);
        EXPECT_LE(list->visualItemRect(item).width(), list->viewport()->width()) << c.shown.toStdString();
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
        const GridPortion* g = h.window().workingZone()->portion();
        ASSERT_NE(g, nullptr) << c.shown.toStdString();
        EXPECT_EQ(g->sourcePath, dir + "/" + c.bytes);
        const QString name = c.shown.section(QLatin1Char('.'), 0, 0);
        EXPECT_EQ(h.text("Label13"), name);
        EXPECT_EQ(h.find<QLabel>("Label13")->toolTip(), name);
        EXPECT_TRUE(safeInOneLine(item->text()) && safeInOneLine(h.text("Label13"))) << c.shown.toStdString();
        QApplication::processEvents();
        // The narrowest the window can be (what its layout asks for) and what it is.
        EXPECT_LE(std::max(h.window().width(), h.window().minimumSizeHint().width()), 1280) << c.shown.toStdString();
    }
    // The short names last: back to where it began.
    EXPECT_EQ(h.window().width(), startWidth);
    EXPECT_EQ(h.window().minimumSizeHint().width(), startMinimum);
    EXPECT_TRUE(h.dialogs().messages.empty());
    std::filesystem::remove_all(dir); // by its bytes: QTemporaryDir skips names that are not UTF-8
}

} // namespace
