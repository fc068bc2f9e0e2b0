// "Scelta dei file ": shortened paths, type switching, the dialogs' filters, result names.

#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include "ui/file_choice_frame.h"
#include "wz_fixtures.h"

namespace {

using dormal::DataFileType;
using dormal::ui::FileChoiceFrame;
using dormal::ui::resultPathWithExtension;
using dormal::ui::shortenedPath;

struct ShortCase {
    const char* path;
    const char* shown;
};

// Up to 55 characters whole; beyond, head to the first "/", then the tail of the last
// 53 - f characters starting at a "/".
const ShortCase kShortCases[] = {
    {"C:/Documents and Settings/utente/Desktop/rilievi/2009/campagna/p.txt",
     "C:/ ...  ... /utente/Desktop/rilievi/2009/campagna/p.txt"},
    {"/home/utente/rilievi/2009/campagna/punti.txt", "/home/utente/rilievi/2009/campagna/punti.txt"},
    // exactly 55 characters: whole
    {"/home/utente/rilievi/2009/campagna/primavera/pt1234.txt",
     "/home/utente/rilievi/2009/campagna/primavera/pt1234.txt"},
    // 56 characters: f = 1, tail = the last 52 ("ome/...") cut at its first "/"
    {"/home/utente/rilievi/2009/campagna/primavera/pt12345.txt",
     "/ ...  ... /utente/rilievi/2009/campagna/primavera/pt12345.txt"},
    // a tail without "/" is kept as it is
    {"/dati/un_nome_di_file_molto_lungo_senza_cartelle_in_mezzo_davvero.txt",
     "/ ...  ... file_molto_lungo_senza_cartelle_in_mezzo_davvero.txt"},
    // no "/" at all: no head, the last 53 characters
    {"un_nome_di_file_molto_lungo_senza_alcuna_cartella_in_mezzo_davvero.txt",
     " ...  ... olto_lungo_senza_alcuna_cartella_in_mezzo_davvero.txt"},
    // first "/" beyond position 53: no tail to show
    {"un_nome_di_cartella_lunghissimo_che_supera_i_53_caratteri/p.txt",
     "un_nome_di_cartella_lunghissimo_che_supera_i_53_caratteri/ ...  ... "},
};

TEST(FileChoiceShortenedPath, KeepsHeadAndWholeFoldersOfTheTail) {
    for (const ShortCase& c : kShortCases) {
        SCOPED_TRACE(c.path);
        EXPECT_EQ(shortenedPath(QString::fromUtf8(c.path)), QString::fromUtf8(c.shown));
    }
    EXPECT_EQ(QString::fromUtf8(kShortCases[0].path).size(), 68);
    EXPECT_EQ(QString::fromUtf8(kShortCases[2].path).size(), 55);
}

struct ExtCase {
    const char* typed;
    DataFileType type;
    const char* used;
};

const ExtCase kExtCases[] = {
    {"/d/risultati", DataFileType::Ascii, "/d/risultati.txt"},
    {"/d/risultati.txt", DataFileType::Ascii, "/d/risultati.txt"},
    {"/d/risultati.dat", DataFileType::Ascii, "/d/risultati.dat"},
    {"/d/v1.2/risultati", DataFileType::Ascii, "/d/v1.2/risultati.txt"},
    {"/d/risultati", DataFileType::Excel, "/d/risultati.xlsx"},
    {"/d/risultati.XLSX", DataFileType::Excel, "/d/risultati.XLSX"},
    {"/d/risultati.xls", DataFileType::Excel, "/d/risultati.xlsx"},
    {"/d/risultati.2009", DataFileType::Excel, "/d/risultati.2009.xlsx"},
    {"", DataFileType::Excel, ""},
};

TEST(FileChoiceResultName, GetsTheExtensionOfItsType) {
    for (const ExtCase& c : kExtCases) {
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(resultPathWithExtension(QString::fromUtf8(c.typed), c.type), QString::fromUtf8(c.used));
    }
}

class FileChoiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        wz::ensureApplication();
        frame = std::make_unique<FileChoiceFrame>(dialogs);
    }
    template <class T> T* child(const char* name) const {
        auto* w = frame->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
    wz::WzFakeDialogs dialogs;
    std::unique_ptr<FileChoiceFrame> frame;
};

TEST_F(FileChoiceTest, StartsAsExcelWithoutFiles) {
    EXPECT_EQ(frame->objectName(), "Frame3");
    EXPECT_EQ(frame->title(), "Scelta dei file ");
    EXPECT_EQ(child<QRadioButton>("Option4_0")->text(), "MS-Excel");
    EXPECT_EQ(child<QRadioButton>("Option4_1")->text(), "Ascii");
    EXPECT_TRUE(child<QRadioButton>("Option4_0")->isChecked());
    EXPECT_EQ(child<QPushButton>("Command6")->text(), "File dei dati");
    EXPECT_EQ(child<QPushButton>("Command7")->text(), "File dei risultati");
    EXPECT_TRUE(child<QLineEdit>("Text11")->isReadOnly());
    EXPECT_TRUE(child<QLineEdit>("Text12")->isReadOnly());
    EXPECT_EQ(frame->dataFileType(), DataFileType::Excel);
    EXPECT_TRUE(frame->dataFilePath().isEmpty());
    EXPECT_TRUE(frame->resultFilePath().isEmpty());
}

TEST_F(FileChoiceTest, ButtonsAskWithTheFiltersOfTheTypeAndShowShortenedPaths) {
    const QString data = "C:/Documents and Settings/utente/Desktop/rilievi/2009/campagna/p.txt";
    dialogs.openAnswers.push_back(data);
    dialogs.saveAnswers.push_back("/tmp/ris");
    QSignalSpy chosen(frame.get(), &FileChoiceFrame::resultFileChosen);

    QTest::mouseClick(child<QPushButton>("Command6"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("Command7"), Qt::LeftButton);
    EXPECT_EQ(dialogs.openFilters, QStringList{"Excel (*.xlsx *.xls)"});
    EXPECT_EQ(dialogs.saveFilters, QStringList{"Excel (*.xlsx)"});
    EXPECT_EQ(frame->dataFilePath(), data);
    EXPECT_EQ(child<QLineEdit>("Text11")->text(), "C:/ ...  ... /utente/Desktop/rilievi/2009/campagna/p.txt");
    EXPECT_EQ(frame->resultFilePath(), "/tmp/ris.xlsx");
    EXPECT_EQ(child<QLineEdit>("Text12")->text(), "/tmp/ris.xlsx");
    EXPECT_EQ(chosen.count(), 1);

    QTest::mouseClick(child<QRadioButton>("Option4_1"), Qt::LeftButton);
    ASSERT_EQ(frame->dataFileType(), DataFileType::Ascii);
    QTest::mouseClick(child<QPushButton>("Command6"), Qt::LeftButton);
    QTest::mouseClick(child<QPushButton>("Command7"), Qt::LeftButton); // cancelled
    EXPECT_EQ(dialogs.openFilters.last(), "Ascii (*)");
    EXPECT_EQ(dialogs.saveFilters.last(), "Ascii (*.txt)");
    EXPECT_EQ(chosen.count(), 2) << "a cancelled result dialog enables Esegui too";
    EXPECT_TRUE(frame->resultFilePath().isEmpty());
}

TEST_F(FileChoiceTest, SwitchingTheTypeDiscardsBothPaths) {
    QSignalSpy typeChanged(frame.get(), &FileChoiceFrame::fileTypeChanged);
    dialogs.openAnswers.push_back("/tmp/dati.xlsx");
    dialogs.saveAnswers.push_back("/tmp/risultati.xlsx");
    frame->chooseDataFile();
    frame->chooseResultFile();
    ASSERT_FALSE(frame->dataFilePath().isEmpty());
    ASSERT_FALSE(frame->resultFilePath().isEmpty());

    QTest::mouseClick(child<QRadioButton>("Option4_1"), Qt::LeftButton);
    EXPECT_EQ(frame->dataFileType(), DataFileType::Ascii);
    EXPECT_TRUE(frame->dataFilePath().isEmpty());
    EXPECT_TRUE(frame->resultFilePath().isEmpty());
    EXPECT_TRUE(child<QLineEdit>("Text11")->text().isEmpty());
    EXPECT_TRUE(child<QLineEdit>("Text12")->text().isEmpty());
    ASSERT_EQ(typeChanged.count(), 1);
    EXPECT_EQ(typeChanged.at(0).at(0).value<DataFileType>(), DataFileType::Ascii);

    dialogs.openAnswers.push_back("/tmp/dati.txt");
    frame->chooseDataFile();
    frame->reset();
    EXPECT_EQ(frame->dataFileType(), DataFileType::Excel);
    EXPECT_TRUE(child<QRadioButton>("Option4_0")->isChecked());
    EXPECT_TRUE(frame->dataFilePath().isEmpty());
    EXPECT_TRUE(child<QLineEdit>("Text11")->text().isEmpty());
}

// The dialog asked about "ris", not "ris.txt": an existing "ris.txt" is not taken unasked.
TEST_F(FileChoiceTest, ExtensionNamingAnExistingFileIsNotTakenUnasked) {
    QTemporaryDir dir;
    wz::writeFile(dir.filePath("ris.txt"), "old results\n");
    frame->setDataFileType(DataFileType::Ascii);
    dialogs.saveAnswers.push_back(dir.filePath("ris"));
    frame->chooseResultFile();
    EXPECT_TRUE(frame->resultFilePath().isEmpty());
    ASSERT_EQ(dialogs.shown.size(), 1u);
    EXPECT_EQ(dialogs.shown[0].lines.at(0), "IL FILE ris.txt ESISTE GIA'");

    dialogs.saveAnswers.push_back(dir.filePath("ris.txt")); // named in full: the dialog asked
    frame->chooseResultFile();
    EXPECT_EQ(frame->resultFilePath(), dir.filePath("ris.txt"));
    EXPECT_EQ(dialogs.shown.size(), 1u);
}

} // namespace
