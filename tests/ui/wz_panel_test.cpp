// The working zone: lists, the three states of the frame, the limits for both portion kinds
// and both input kinds, a damaged file, a folder that cannot be listed, a volume that
// cannot be used.

#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QLocale>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "geodesy/systems.h"
#include "tests/support/print_enums.h"
#include "ui/working_zone_panel.h"
#include "ui/wz_text.h"
#include "wz_fixtures.h"

namespace {

using dormal::CoordKind;
using dormal::RefSystem;
using dormal::Zone;

using dormal::ui::WorkingZonePanel;

class WorkingZoneTest : public ::testing::Test {
protected:
    void SetUp() override {
        wz::ensureApplication();
        ASSERT_TRUE(dir.isValid());
        wz::writeFile(dir.filePath("123.GK1"), wz::portionText(wz::vertexPortion()));
        wz::writeFile(dir.filePath("4567.gk2"), wz::portionText(wz::sheetPortion()));
        wz::PortionFile damaged = wz::vertexPortion();
        damaged.extraValues = 1; // one geoid value too many: the closing value read is a node value
        wz::writeFile(dir.filePath("999.GK1"), wz::portionText(damaged));
        wz::writeFile(dir.filePath("notes.txt"), "not a grid\n");
        wz::writeFile(dir.filePath("x.GK"), "too short an extension\n");
        wz::writeFile(dir.filePath("y.GK12"), "too long an extension\n");
        QDir(dir.path()).mkdir("GRIGLIE");
        QDir(dir.path()).mkdir("archivio");
        panel = std::make_unique<WorkingZonePanel>(dialogs, dir.path());
    }

    QLabel* label(const char* name) const {
        auto* l = panel->findChild<QLabel*>(QString::fromLatin1(name));
        EXPECT_NE(l, nullptr) << name;
        return l;
    }
    QString text(const char* name) const { return label(name)->text(); }
    bool shown(const char* name) const {
        auto* w = panel->findChild<QWidget*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w != nullptr && !w->isHidden();
    }
    QListWidget* list(const char* name) const { return panel->findChild<QListWidget*>(QString::fromLatin1(name)); }
    QStringList items(const char* name) const {
        QStringList out;
        for (int i = 0; i < list(name)->count(); ++i)
            out << list(name)->item(i)->text();
        return out;
    }
    // A limit text with the locale's decimal separator in place of ".".
    static QString local(QString s) {
        return s.replace(QLatin1Char('.'), QLatin1Char(dormal::ui::localeDecimalSeparator()));
    }

    void expectResetState() const {
        EXPECT_EQ(text("Label10"), "Zona:");
        EXPECT_EQ(text("Label13"), "non selezionata");
        for (const char* n :
             {"Shape1", "Shape2", "Shape3", "Shape4", "Label17", "Label18", "Label19", "Label20", "Label21", "Label25",
              "Label26", "Label27", "Label28", "Label29", "Label30", "Label31", "Label39", "Label40", "Label47"})
            EXPECT_FALSE(shown(n)) << n;
        // Grid names and their captions are always there.
        for (const char* n : {"Label22", "Label23", "Label44", "Label24", "Label42", "Label43", "Label45", "Label46"})
            EXPECT_TRUE(shown(n)) << n;
    }

    QTemporaryDir dir;
    wz::WzFakeDialogs dialogs;
    std::unique_ptr<WorkingZonePanel> panel;
};

TEST_F(WorkingZoneTest, StartsResetInTheStartFolderListingGridFilesWhateverTheirCase) {
    EXPECT_EQ(panel->objectName(), "Frame5");
    EXPECT_EQ(panel->title(), "Zona di lavoro");
    EXPECT_EQ(panel->currentFolder(), QDir::cleanPath(dir.path()));
    expectResetState();
    EXPECT_EQ(text("Label22"), "ROMA40-ED50");
    EXPECT_EQ(text("Label23"), "ROMA40-ETRF89");
    EXPECT_EQ(text("Label44"), "ETRF89-ETRF2000");
    EXPECT_EQ(text("Label24"), "Geoide");
    EXPECT_EQ(text("Label42"), "Griglia");
    EXPECT_EQ(text("Label21"), "Limiti approssimativi\ndella zona in cui\n\u00e8 possibile operare");
    EXPECT_EQ(text("Label30"), "Long. da Roma");
    EXPECT_EQ(text("Label31"), "Long. da Greenwich");
    EXPECT_EQ(text("Label39"), "fuso");

    EXPECT_EQ(items("File1"), (QStringList{"123.GK1", "4567.gk2", "999.GK1"}));
    EXPECT_FALSE(panel->fileSelected());
    EXPECT_EQ(panel->portion(), nullptr);
    EXPECT_TRUE(dialogs.shown.empty());

    // Dir1: the path from the volume root, indented, the current folder current, then its subfolders.
    const QStringList dirs = items("Dir1");
    ASSERT_GE(dirs.size(), 3);
    EXPECT_EQ(dirs.at(dirs.size() - 2).trimmed(), "archivio");
    EXPECT_EQ(dirs.last().trimmed(), "GRIGLIE");
    const QString current = list("Dir1")->currentItem()->text();
    EXPECT_EQ(current.trimmed(), QDir(dir.path()).dirName());
    EXPECT_GT(dirs.last().size() - dirs.last().trimmed().size(), current.size() - current.trimmed().size())
        << "subfolders are indented one level deeper";

    // Drive1 offers the volume of the start folder, selected.
    auto* drive1 = panel->findChild<QComboBox*>("Drive1");
    ASSERT_NE(drive1, nullptr);
    EXPECT_TRUE(panel->volumeRoots().contains(drive1->currentData().toString()));
    EXPECT_TRUE(QDir::cleanPath(dir.path()).startsWith(drive1->currentData().toString()));
}

struct LimitsCase {
    const char* file;
    RefSystem inputSystem;
    CoordKind inputKind;
    const char *label10, *label13, *label17, *label18, *label19, *label20, *label28, *label29, *label40;
    bool vertexShapes;
};

// Limits worked out by hand from the fixture origins (degrees and minutes, rounded to the
// whole minute, 30" down), and with an independent Transverse Mercator (PROJ cs2cs,
// International ellipsoid, k0 0.9996) for the corners in km.
const LimitsCase kLimitCases[] = {
    {"123.GK1", RefSystem::Etrf89, CoordKind::Geographic, "Punto KVT95 n.", "123", "11°.32'", "11°.50'", "45°.14'",
     "45°.01'", "-0°.55'", "-0°.37'", "32", true},
    {"123.GK1", RefSystem::Etrf89, CoordKind::Plane, "Punto KVT95 n.", "123", " 699 km", " 723 km", "5 013 km",
     "4 988 km", "", "", "32", true},
    {"123.GK1", RefSystem::Roma40, CoordKind::Plane, "Punto KVT95 n.", "123", "1 699 km", "1 723 km", "5 013 km",
     "4 988 km", "", "", "32", true},
    {"4567.gk2", RefSystem::Etrf89, CoordKind::Geographic, "Foglio al 50.000 :", "4567", "16°.20'", "16°.46'",
     "40°.51'", "40°.33'", "3°.53'", "4°.19'", "33", false},
    {"4567.gk2", RefSystem::Ed50, CoordKind::Plane, "Foglio al 50.000 :", "4567", " 613 km", " 649 km", "4 523 km",
     "4 491 km", "", "", "33", false},
    {"4567.gk2", RefSystem::Roma40, CoordKind::Plane, "Foglio al 50.000 :", "4567", "2 633 km", "2 669 km", "4 523 km",
     "4 491 km", "", "", "33", false},
};

TEST_F(WorkingZoneTest, ShowsEveryLabelOfBothPortionKindsForBothInputKinds) {
    for (const LimitsCase& c : kLimitCases) {
        SCOPED_TRACE(testing::Message() << c.file << " system " << c.inputSystem << " kind " << c.inputKind);
        panel->onInputSystemPicked(c.inputSystem, c.inputKind);
        panel->onInputKindPicked(c.inputSystem, c.inputKind);
        ASSERT_TRUE(panel->pickFile(QString::fromUtf8(c.file)));
        ASSERT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
        ASSERT_NE(panel->portion(), nullptr);
        EXPECT_TRUE(panel->fileSelected());

        EXPECT_EQ(text("Label10"), QString::fromUtf8(c.label10));
        EXPECT_EQ(text("Label13"), QString::fromUtf8(c.label13));
        EXPECT_EQ(text("Label17"), local(QString::fromUtf8(c.label17)));
        EXPECT_EQ(text("Label18"), local(QString::fromUtf8(c.label18)));
        EXPECT_EQ(text("Label19"), local(QString::fromUtf8(c.label19)));
        EXPECT_EQ(text("Label20"), local(QString::fromUtf8(c.label20)));
        EXPECT_EQ(text("Label40"), QString::fromUtf8(c.label40));
        const bool geographic = c.inputKind == CoordKind::Geographic;
        if (geographic) {
            EXPECT_EQ(text("Label28"), local(QString::fromUtf8(c.label28)));
            EXPECT_EQ(text("Label29"), local(QString::fromUtf8(c.label29)));
        }
        for (const char* n : {"Label28", "Label29", "Label30", "Label31"})
            EXPECT_EQ(shown(n), geographic) << n;
        for (const char* n : {"Label17", "Label18", "Label19", "Label20", "Label21", "Label25", "Label26", "Label27",
                              "Label39", "Label40", "Label47"})
            EXPECT_TRUE(shown(n)) << n;
        EXPECT_EQ(shown("Shape1"), !c.vertexShapes);
        for (const char* n : {"Shape2", "Shape3", "Shape4"})
            EXPECT_EQ(shown(n), c.vertexShapes) << n;

        const wz::PortionFile p = c.vertexShapes ? wz::vertexPortion() : wz::sheetPortion();
        EXPECT_EQ(text("Label25"), QString::fromStdString(p.roEdEpoch));
        EXPECT_EQ(text("Label26"), QString::fromStdString(p.roE89Epoch));
        EXPECT_EQ(text("Label47"), QString::fromStdString(p.e2000Epoch));
        EXPECT_EQ(text("Label27"), QString::fromStdString(p.geoidEpoch));
    }
}

// The red centre mark of the vertex diagram sits at the centre of Shape3.
TEST_F(WorkingZoneTest, VertexMarkSitsAtTheCentreOfItsShape) {
    auto* s3 = panel->findChild<QWidget*>("Shape3");
    auto* s4 = panel->findChild<QWidget*>("Shape4");
    ASSERT_TRUE(s3 && s4);
    EXPECT_EQ(s3->geometry().center(), s4->geometry().center());
}

// Switching the input system and kind after a pick rewrites only the texts (and the corner
// convention); the limits themselves stay.
TEST_F(WorkingZoneTest, InputSystemAndKindPicksRefillTheLimitsAfterAPick) {
    panel->onInputSystemPicked(RefSystem::Etrf89, CoordKind::Geographic);
    ASSERT_TRUE(panel->pickFile("123.GK1"));
    const double west = panel->limits().west;

    panel->onInputKindPicked(RefSystem::Etrf89, CoordKind::Plane);
    EXPECT_EQ(text("Label17"), local(" 699 km"));
    EXPECT_FALSE(shown("Label28"));
    panel->onInputSystemPicked(RefSystem::Roma40, CoordKind::Plane);
    EXPECT_EQ(text("Label17"), local("1 699 km"));
    EXPECT_EQ(text("Label18"), local("1 723 km"));
    panel->onInputSystemPicked(RefSystem::Roma40, CoordKind::Plane); // a second pick of ROMA40 changes nothing
    EXPECT_EQ(text("Label17"), local("1 699 km"));
    panel->onInputKindPicked(RefSystem::Roma40, CoordKind::Geographic);
    EXPECT_EQ(text("Label17"), local("11°.32'"));
    EXPECT_TRUE(shown("Label28") && shown("Label31"));
    panel->onInputSystemPicked(RefSystem::Etrf89, CoordKind::Plane);
    EXPECT_EQ(text("Label17"), local(" 699 km"));
    EXPECT_EQ(text("Label19"), local("5 013 km"));
    EXPECT_EQ(panel->limits().west, west);
    EXPECT_EQ(text("Label13"), "123");
}

TEST_F(WorkingZoneTest, SystemPickWithoutPortionHidesTheLimits) {
    panel->onInputSystemPicked(RefSystem::Roma40, CoordKind::Geographic);
    panel->onInputKindPicked(RefSystem::Roma40, CoordKind::Plane);
    expectResetState();
    EXPECT_EQ(panel->limits().nwEast, 0.0);
    EXPECT_EQ(panel->limits().zone, Zone::Auto);
}

// Fault guarded: after a failed read the file stayed selected, so a run compared points
// with the limits of the portion shown before.
TEST_F(WorkingZoneTest, DamagedFileIsRefusedWithItsMessageAndLeavesNothingSelected) {
    ASSERT_TRUE(panel->pickFile("123.GK1"));
    ASSERT_NE(panel->portion(), nullptr);
    ASSERT_TRUE(panel->pickFile("999.GK1"));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    ASSERT_EQ(dialogs.shown[0].lines.size(), 2u); // the reader's message, naming the file
    EXPECT_EQ(dialogs.shown[0].lines[0], "LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE");
    EXPECT_EQ(dialogs.shown[0].lines[1], "FILE DI GRIGLIA: " + QDir(dir.path()).filePath("999.GK1").toStdString());
    EXPECT_EQ(dialogs.shown[0].title, dormal::kTitleAttenzione);
    EXPECT_EQ(dialogs.shown[0].icon, dormal::MessageIcon::Warning);
    EXPECT_FALSE(panel->fileSelected());
    EXPECT_EQ(list("File1")->selectedItems().size(), 0);
    EXPECT_EQ(panel->portion(), nullptr);
    EXPECT_EQ(panel->limits().zone, Zone::Auto);
    expectResetState();

    // The window stays usable: the next good pick reads.
    ASSERT_TRUE(panel->pickFile("4567.gk2"));
    EXPECT_EQ(text("Label13"), "4567");
    EXPECT_TRUE(panel->fileSelected());
}

TEST_F(WorkingZoneTest, FileRemovedAfterListingIsRefusedWithAMessage) {
    ASSERT_TRUE(QFile::remove(dir.filePath("123.GK1")));
    ASSERT_TRUE(panel->pickFile("123.GK1"));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_FALSE(dialogs.shown[0].lines.empty());
    EXPECT_FALSE(panel->fileSelected());
    EXPECT_EQ(panel->portion(), nullptr);
    expectResetState();
}

// A folder change resets what is shown and the selection, not the portion read last.
TEST_F(WorkingZoneTest, FolderChangeResetsTheFrameButKeepsThePortion) {
    ASSERT_TRUE(panel->pickFile("123.GK1"));
    auto* dir1 = list("Dir1");
    QListWidgetItem* sub = dir1->findItems("GRIGLIE", Qt::MatchEndsWith).value(0);
    ASSERT_NE(sub, nullptr);
    emit dir1->itemActivated(sub);
    EXPECT_EQ(panel->currentFolder(), QDir::cleanPath(dir.filePath("GRIGLIE")));
    EXPECT_TRUE(items("File1").isEmpty());
    EXPECT_FALSE(panel->fileSelected());
    EXPECT_NE(panel->portion(), nullptr);
    expectResetState();
    for (const char* n : {"Label25", "Label26", "Label27", "Label47"})
        EXPECT_TRUE(text(n).isEmpty()) << n;

    // Back up through the path entry of the parent.
    QListWidgetItem* parent = dir1->item(dir1->currentRow() - 1);
    ASSERT_NE(parent, nullptr);
    emit dir1->itemActivated(parent);
    EXPECT_EQ(panel->currentFolder(), QDir::cleanPath(dir.path()));
    EXPECT_EQ(items("File1").size(), 3);
}

TEST_F(WorkingZoneTest, FolderThatCannotBeListedIsReportedAndTheWindowStaysUsable) {
    ASSERT_TRUE(panel->pickFile("123.GK1"));
    // A folder that vanished between listing and choice (running as root, permissions
    // would not stop a listing).
    ASSERT_TRUE(QDir(dir.filePath("archivio")).removeRecursively());
    QListWidgetItem* gone = list("Dir1")->findItems("archivio", Qt::MatchEndsWith).value(0);
    ASSERT_NE(gone, nullptr);
    emit list("Dir1")->itemActivated(gone);

    ASSERT_EQ(dialogs.shown.size(), 1u);
    const dormal::Message& m = dialogs.shown[0];
    EXPECT_EQ(m.title, dormal::kTitleErrore);
    EXPECT_EQ(m.icon, dormal::MessageIcon::Error);
    ASSERT_EQ(m.lines.size(), 3u);
    EXPECT_EQ(m.lines[0], "IMPOSSIBILE ELENCARE I FILE DELLA CARTELLA");
    EXPECT_EQ(m.lines[1], QDir::cleanPath(dir.filePath("archivio")).toStdString());
    EXPECT_FALSE(m.lines[2].empty()); // the system's reason
    expectResetState();
    EXPECT_FALSE(panel->fileSelected());
    EXPECT_EQ(panel->currentFolder(), QDir::cleanPath(dir.path()));
    ASSERT_TRUE(panel->pickFile("4567.gk2"));
    EXPECT_EQ(text("Label13"), "4567");

    panel->openFolder(dir.filePath("no/such/folder"));
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_FALSE(panel->fileSelected());
    expectResetState();
}

TEST_F(WorkingZoneTest, VolumeThatCannotBeUsedGivesErrorAndReturnsToTheStartingVolume) {
    auto* drive1 = panel->findChild<QComboBox*>("Drive1");
    const QString startVolume = drive1->currentData().toString();
    QStringList roots = panel->volumeRoots();
    roots << QStringLiteral("/media/dormal2k-no-medium");
    panel->setVolumeRoots(roots);
    EXPECT_EQ(drive1->currentData().toString(), startVolume);
    ASSERT_TRUE(panel->pickFile("123.GK1"));
    panel->openFolder(dir.filePath("GRIGLIE"));

    ASSERT_TRUE(panel->pickVolume(QStringLiteral("/media/dormal2k-no-medium")));
    ASSERT_EQ(dialogs.shown.size(), 1u);
    const dormal::Message& m = dialogs.shown[0];
    EXPECT_EQ(m.title, "Errore");
    EXPECT_EQ(m.icon, dormal::MessageIcon::Error);
    ASSERT_EQ(m.lines.size(), 2u);
    EXPECT_NE(m.lines[0].find("/media/dormal2k-no-medium"), std::string::npos);
    EXPECT_FALSE(m.lines[1].empty()); // the system's reason
    EXPECT_EQ(drive1->currentData().toString(), startVolume);
    EXPECT_EQ(panel->currentFolder(), QDir::cleanPath(dir.path()));
    expectResetState();
    EXPECT_EQ(items("File1").size(), 3);
}

TEST_F(WorkingZoneTest, UsableVolumeMovesTheListsToItsRoot) {
    auto* drive1 = panel->findChild<QComboBox*>("Drive1");
    ASSERT_TRUE(panel->pickFile("123.GK1"));
    QStringList roots = panel->volumeRoots();
    roots << dir.filePath("GRIGLIE"); // any listable folder serves as a volume root here
    panel->setVolumeRoots(roots);
    ASSERT_TRUE(panel->pickVolume(dir.filePath("GRIGLIE")));
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(drive1->currentData().toString(), dir.filePath("GRIGLIE"));
    EXPECT_EQ(panel->currentFolder(), QDir::cleanPath(dir.filePath("GRIGLIE")));
    EXPECT_EQ(list("Dir1")->count(), 1);
    expectResetState();
    EXPECT_NE(panel->portion(), nullptr);
}

// The grid portions shipped with the program read and show.
TEST_F(WorkingZoneTest, ShippedSamplePortionsShow) {
    QDir samples(QStringLiteral(DORMAL2K_SAMPLES_DIR));
    samples.setNameFilters({"*.GK?"});
    const QStringList files = samples.entryList(QDir::Files);
    if (files.isEmpty())
        GTEST_SKIP() << "no sample portions in " << DORMAL2K_SAMPLES_DIR;
    panel->openFolder(samples.path());
    for (const QString& f : files) {
        SCOPED_TRACE(f.toStdString());
        ASSERT_TRUE(panel->pickFile(f));
        ASSERT_TRUE(dialogs.shown.empty()) << dialogs.texts().front();
        ASSERT_NE(panel->portion(), nullptr);
        EXPECT_EQ(text("Label13"), f.section('.', 0, 0));
        const bool vertex = panel->portion()->kind == dormal::PortionKind::Vertex;
        EXPECT_EQ(text("Label10"), vertex ? "Punto KVT95 n." : "Foglio al 50.000 :");
        EXPECT_EQ(shown("Shape1"), !vertex);
        EXPECT_EQ(shown("Shape4"), vertex);
        const int zone = dormal::utmZoneNumber(panel->limits().zone);
        EXPECT_TRUE(zone == 32 || zone == 33 || zone == 34);
        EXPECT_EQ(text("Label40"), QString::number(zone));
        EXPECT_TRUE(text("Label17").endsWith("'"));
    }
}

// The shipped samples' limits as their notes give them (decimal degrees), shown in degrees
// and minutes; the zone-34 one also in km about 15° (ROMA40) and 21° (others), corners by
// an independent Transverse Mercator (PROJ cs2cs, International ellipsoid, k0 0.9996).
TEST_F(WorkingZoneTest, ShippedSamplesShowTheirDocumentedLimits) {
    struct SampleCase {
        const char* file;
        const char *l17, *l18, *l19, *l20, *l28, *l29, *zone;
    };
    const SampleCase cases[] = {
        {"123456.GK1", "9°.02'", "9°.20'", "45°.29'", "45°.16'", "-3°.25'", "-3°.07'", "32"},
        {"0245.GK2", "13°.21'", "13°.47'", "42°.36'", "42°.19'", "0°.54'", "1°.20'", "33"},
        {"654321.GK1", "18°.17'", "18°.35'", "40°.14'", "40°.01'", "5°.50'", "6°.08'", "34"},
    };
    const QDir samples(QStringLiteral(DORMAL2K_SAMPLES_DIR));
    panel->openFolder(samples.path());
    int checked = 0;
    for (const SampleCase& c : cases) {
        if (!samples.exists(QString::fromLatin1(c.file)))
            continue;
        SCOPED_TRACE(c.file);
        ++checked;
        panel->onInputSystemPicked(RefSystem::Etrf89, CoordKind::Geographic);
        panel->onInputKindPicked(RefSystem::Etrf89, CoordKind::Geographic);
        ASSERT_TRUE(panel->pickFile(QString::fromLatin1(c.file)));
        ASSERT_TRUE(dialogs.shown.empty());
        EXPECT_EQ(text("Label17"), local(QString::fromUtf8(c.l17)));
        EXPECT_EQ(text("Label18"), local(QString::fromUtf8(c.l18)));
        EXPECT_EQ(text("Label19"), local(QString::fromUtf8(c.l19)));
        EXPECT_EQ(text("Label20"), local(QString::fromUtf8(c.l20)));
        EXPECT_EQ(text("Label28"), local(QString::fromUtf8(c.l28)));
        EXPECT_EQ(text("Label29"), local(QString::fromUtf8(c.l29)));
        EXPECT_EQ(text("Label40"), QString::fromLatin1(c.zone));
        EXPECT_TRUE(text("Label25").startsWith("SINTETIC"));
    }
    if (checked == 0)
        GTEST_SKIP() << "no documented sample portions in " << DORMAL2K_SAMPLES_DIR;
    if (!samples.exists("654321.GK1"))
        return;
    panel->onInputSystemPicked(RefSystem::Roma40, CoordKind::Plane);
    panel->onInputKindPicked(RefSystem::Roma40, CoordKind::Plane);
    EXPECT_EQ(text("Label17"), local("2 800 km"));
    EXPECT_EQ(text("Label18"), local("2 826 km"));
    EXPECT_EQ(text("Label19"), local("4 460 km"));
    EXPECT_EQ(text("Label20"), local("4 435 km"));
    panel->onInputSystemPicked(RefSystem::Ed50, CoordKind::Plane);
    EXPECT_EQ(text("Label17"), local(" 269 km"));
    EXPECT_EQ(text("Label18"), local(" 294 km"));
    EXPECT_EQ(text("Label19"), local("4 458 km"));
    EXPECT_EQ(text("Label20"), local("4 432 km"));
}

} // namespace

namespace {

// The limits follow the user's locale: Italian gives a comma, the C locale a point.
TEST(WzText, DecimalSeparatorFollowsTheLocale) {
    wz::ensureApplication();
    const QByteArray lcAll = qgetenv("LC_ALL");
    if (lcAll.startsWith("it_IT")) {
        EXPECT_EQ(dormal::ui::localeDecimalSeparator(), ',');
    } else if (lcAll.startsWith("C")) {
        EXPECT_EQ(dormal::ui::localeDecimalSeparator(), '.');
    }
}

TEST(WzText, FileTextsThatAreNotUtf8ReadAsLatin1) {
    EXPECT_EQ(dormal::ui::fromFileText("ITALGEO2005"), "ITALGEO2005");
    EXPECT_EQ(dormal::ui::fromFileText("perch\xc3\xa8"), QString::fromUtf8("perch\u00e8"));
    EXPECT_EQ(dormal::ui::fromFileText("perch\xe8"), QString::fromUtf8("perch\u00e8"));
}

} // namespace
