// Which events of the grid-file list read a portion: only a user's pick (click, Space,
// Enter, arrow keys), never the focus coming back to the list after a message box nor Qt
// making an item current by itself. Which entries the list offers (regular files and links
// to them only), and that a failed read names the file.

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <thread>

#include <gtest/gtest.h>

#include "ui/working_zone_panel.h"
#include "ui/wz_text.h"
#include "wz_fixtures.h"

namespace {

using dormal::ui::WorkingZonePanel;

// Message boxes as a window manager runs them: while the box is up the focus is elsewhere
// (here: in `thief`); the focus comes back to the list only after the box has gone.
class FocusTakingDialogs final : public dormal::ui::UserDialogs {
public:
    QWidget* thief = nullptr;
    std::vector<dormal::Message> shown;

    void showMessage(QWidget*, const dormal::Message& m) override {
        shown.push_back(m);
        if (thief != nullptr)
            thief->setFocus(Qt::ActiveWindowFocusReason);
    }
    QString openFileName(QWidget*, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&) override { return {}; }
};

wz::PortionFile damagedPortion() {
    wz::PortionFile p = wz::vertexPortion();
    p.extraValues = 1; // the closing value read is a node value
    return p;
}

// The panel in a shown, active window, beside a field that takes the focus while a box is up.
class PickTest : public ::testing::Test {
protected:
    void SetUp() override {
        wz::ensureApplication();
        ASSERT_TRUE(dir.isValid());
    }

    void open() {
        host = std::make_unique<QWidget>();
        auto* layout = new QVBoxLayout(host.get());
        panel = new WorkingZonePanel(dialogs, folder.path(), host.get());
        thief = new QLineEdit(host.get());
        layout->addWidget(panel);
        layout->addWidget(thief);
        dialogs.thief = thief;
        host->show();
        host->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(host.get()));
        file1 = panel->findChild<QListWidget*>(QStringLiteral("File1"));
        ASSERT_NE(file1, nullptr);
    }

    QString text(const char* label) const { return panel->findChild<QLabel*>(QLatin1String(label))->text(); }
    QStringList listed(const char* list) const {
        auto* l = panel->findChild<QListWidget*>(QLatin1String(list));
        QStringList out;
        for (int i = 0; i < l->count(); ++i)
            out << l->item(i)->text().trimmed();
        return out;
    }
    void clickFile(const QString& name) {
        QListWidgetItem* item = file1->findItems(name, Qt::MatchExactly).value(0);
        ASSERT_NE(item, nullptr) << name.toStdString();
        file1->scrollToItem(item);
        QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, file1->visualItemRect(item).center());
    }
    void write(const char* name, const wz::PortionFile& p) { wz::writeFile(folder.filePath(name), wz::portionText(p)); }
    // A new empty folder for the next case of a table (the window's lists move to it).
    void freshFolder() {
        host.reset();
        folder = QDir(dir.filePath(QString::number(++cases)));
        ASSERT_TRUE(folder.mkpath(QStringLiteral(".")));
        dialogs.shown.clear();
    }

    QTemporaryDir dir;
    QDir folder{dir.path()};
    int cases = 0;
    FocusTakingDialogs dialogs;
    std::unique_ptr<QWidget> host;
    WorkingZonePanel* panel = nullptr;
    QLineEdit* thief = nullptr;
    QListWidget* file1 = nullptr;
};

struct DamagedCase {
    const char* what;
    std::vector<const char*> good; // readable portions beside the damaged one
    const char* damaged;
};

// Fault guarded: after a failed read the list's current item was cleared; when the box
// closed the focus came back to the list, Qt made row 0 current and the window read it
// again, box after box (or read a file the user had not picked).
TEST_F(PickTest, FocusComingBackAfterAFailedReadReadsNothing) {
    const DamagedCase cases[] = {
        {"damaged alone", {}, "000.GK1"},
        {"damaged first of a longer list", {"123.GK1", "456.GK1", "789.GK2"}, "000.GK1"},
        {"damaged between good portions", {"123.GK1", "789.GK2"}, "456.GK1"},
    };
    for (const DamagedCase& c : cases) {
        SCOPED_TRACE(c.what);
        freshFolder();
        for (const char* good : c.good)
            write(good, wz::vertexPortion());
        write(c.damaged, damagedPortion());
        open();

        clickFile(QString::fromLatin1(c.damaged));
        ASSERT_EQ(dialogs.shown.size(), 1u);
        ASSERT_TRUE(thief->hasFocus());

        // The box closes and the focus comes back, by every road it can take.
        QSignalSpy reads(panel, &WorkingZonePanel::portionChanged);
        for (Qt::FocusReason reason : {Qt::ActiveWindowFocusReason, Qt::TabFocusReason, Qt::OtherFocusReason,
                                       Qt::BacktabFocusReason, Qt::TabFocusReason}) {
            file1->setFocus(reason);
            QApplication::processEvents();
            thief->setFocus(Qt::ActiveWindowFocusReason);
            QApplication::processEvents();
        }
        EXPECT_EQ(dialogs.shown.size(), 1u) << "one message only";
        EXPECT_EQ(reads.count(), 0) << "nothing read again";
        EXPECT_EQ(panel->portion(), nullptr);
        EXPECT_FALSE(panel->fileSelected());
        EXPECT_EQ(text("Label10"), "Zona:");
        EXPECT_EQ(text("Label13"), "non selezionata");
    }
}

// The list getting the focus before any pick reads nothing either.
TEST_F(PickTest, FocusAloneReadsNothing) {
    write("123.GK1", wz::vertexPortion());
    write("4567.GK2", wz::sheetPortion());
    open();
    QSignalSpy reads(panel, &WorkingZonePanel::portionChanged);
    for (Qt::FocusReason reason : {Qt::TabFocusReason, Qt::ActiveWindowFocusReason, Qt::OtherFocusReason}) {
        file1->setFocus(reason);
        QApplication::processEvents();
        thief->setFocus(Qt::TabFocusReason);
    }
    EXPECT_EQ(reads.count(), 0);
    EXPECT_TRUE(dialogs.shown.empty());
    EXPECT_EQ(panel->portion(), nullptr);
    EXPECT_EQ(text("Label13"), "non selezionata");
}

// The user's picks by keyboard still read: Space on the item made current by the focus,
// arrows once a file is selected, Enter again on the selected file.
TEST_F(PickTest, KeyboardPicksRead) {
    write("123.GK1", wz::vertexPortion());
    write("4567.GK2", wz::sheetPortion());
    open();
    file1->setFocus(Qt::TabFocusReason);
    QApplication::processEvents();
    QSignalSpy reads(panel, &WorkingZonePanel::portionChanged);
    struct Step {
        Qt::Key key;
        const char* shows;
        int reads; // reads so far
    };
    const Step steps[] = {
        {Qt::Key_Space, "123", 1},  {Qt::Key_Down, "4567", 2}, {Qt::Key_Up, "123", 3},
        {Qt::Key_Return, "123", 4}, {Qt::Key_Enter, "123", 5}, {Qt::Key_End, "4567", 6},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.shows);
        QTest::keyClick(file1, s.key);
        EXPECT_EQ(text("Label13"), s.shows);
        EXPECT_EQ(reads.count(), s.reads);
        EXPECT_TRUE(panel->fileSelected());
    }
    EXPECT_TRUE(dialogs.shown.empty());
}

// A click on a damaged file after the failure shows the message again, once.
TEST_F(PickTest, ClickingTheDamagedFileAgainShowsOneMoreMessage) {
    write("000.GK1", damagedPortion());
    write("123.GK1", wz::vertexPortion());
    open();
    clickFile("000.GK1");
    file1->setFocus(Qt::ActiveWindowFocusReason);
    clickFile("000.GK1");
    EXPECT_EQ(dialogs.shown.size(), 2u);
    clickFile("123.GK1");
    EXPECT_EQ(dialogs.shown.size(), 2u);
    EXPECT_EQ(text("Label13"), "123");
}

// ---- What the list offers ----------------------------------------------------------------

bool makeFifo(const QString& path) {
    return ::mkfifo(QFile::encodeName(path).constData(), 0600) == 0;
}

// Fault guarded: links to devices and FIFOs named *.GK? were listed (in Dir1 as folders),
// and picking one handed a FIFO to the grid reader, which then waited for a writer forever.
TEST_F(PickTest, OnlyRegularFilesAndLinksToThemAreListed) {
    write("123.GK1", wz::vertexPortion());
    ASSERT_TRUE(QFile::link(folder.filePath("123.GK1"), folder.filePath("link.GK1")));
    ASSERT_TRUE(makeFifo(folder.filePath("pipe.GK1")));
    ASSERT_TRUE(QFile::link(folder.filePath("pipe.GK1"), folder.filePath("pipelink.GK2")));
    ASSERT_TRUE(QFile::link(QStringLiteral("/dev/null"), folder.filePath("null.GK1")));
    ASSERT_TRUE(QFile::link(folder.filePath("gone.txt"), folder.filePath("dangling.GK1")));
    ASSERT_TRUE(folder.mkdir(QStringLiteral("folder.GK3")));
    folder.mkdir(QStringLiteral("sub"));
    open();
    EXPECT_EQ(listed("File1"), (QStringList{"123.GK1", "link.GK1"}));
    const QStringList folders = listed("Dir1");
    for (const char* notAFolder : {"pipe.GK1", "pipelink.GK2", "null.GK1", "dangling.GK1", "123.GK1"})
        EXPECT_FALSE(folders.contains(QLatin1String(notAFolder))) << notAFolder;
    EXPECT_TRUE(folders.contains(QStringLiteral("folder.GK3")));
    EXPECT_TRUE(folders.contains(QStringLiteral("sub")));

    clickFile("link.GK1");
    EXPECT_EQ(text("Label13"), "link");
    EXPECT_TRUE(dialogs.shown.empty());
}

// A listed file replaced by something that is not a regular file before the pick: refused
// at once with a message naming it, nothing loaded. A FIFO must not make the pick wait: a
// guard thread opens it for writing after a while, which frees a reader stuck on it.
TEST_F(PickTest, FileReplacedByAFifoOrFolderIsRefusedWithoutWaiting) {
    struct Replacement {
        const char* what;
        bool (*make)(const QString& path);
    };
    const Replacement replacements[] = {
        {"fifo", makeFifo},
        {"link to a fifo", [](const QString& p) { return makeFifo(p + ".fifo") && QFile::link(p + ".fifo", p); }},
        {"link to /dev/null", [](const QString& p) { return QFile::link(QStringLiteral("/dev/null"), p); }},
        {"folder", [](const QString& p) { return QDir().mkdir(p); }},
    };
    for (const Replacement& r : replacements) {
        SCOPED_TRACE(r.what);
        freshFolder();
        write("123.GK1", wz::vertexPortion());
        write("4567.GK2", wz::sheetPortion());
        open();
        clickFile("4567.GK2");
        ASSERT_NE(panel->portion(), nullptr);
        const QString path = folder.filePath("123.GK1");
        ASSERT_TRUE(QFile::remove(path));
        ASSERT_TRUE(r.make(path));

        std::atomic<bool> done{false}, rescued{false};
        const QByteArray fifo = QFile::encodeName(QFileInfo(path).canonicalFilePath());
        std::thread guard([&] {
            const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(3);
            while (!done && std::chrono::steady_clock::now() < until)
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
            if (done)
                return;
            rescued = true;
            const int fd = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
            if (fd >= 0)
                ::close(fd);
        });
        EXPECT_TRUE(panel->pickFile("123.GK1"));
        done = true;
        guard.join();
        EXPECT_FALSE(rescued) << "the pick waited on the FIFO";
        ASSERT_EQ(dialogs.shown.size(), 1u);
        const std::string joined = dormal::joinedText(dialogs.shown[0]);
        EXPECT_NE(joined.find("123.GK1"), std::string::npos) << joined;
        EXPECT_EQ(panel->portion(), nullptr);
        EXPECT_FALSE(panel->fileSelected());
        EXPECT_EQ(text("Label13"), "non selezionata");
    }
}

// ---- The failure box names the file ----------------------------------------------------------

// Every failed read names the file in a line of its own, once.
TEST_F(PickTest, FailedReadNamesTheFile) {
    struct Failure {
        const char* what;
        void (*spoil)(const QString& path);
        const char* firstLine; // "" when the reader's own wording is not fixed here
    };
    const Failure failures[] = {
        {"damaged", [](const QString& p) { wz::writeFile(p, wz::portionText(damagedPortion())); },
         "LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE"},
        {"removed after listing", [](const QString& p) { QFile::remove(p); }, ""},
        {"cut short", [](const QString& p) { wz::writeFile(p, "\"PUNTO\"\n\"TAG\"\n"); }, ""},
    };
    for (const Failure& f : failures) {
        SCOPED_TRACE(f.what);
        freshFolder();
        write("123 prova.GK1", wz::vertexPortion());
        open();
        f.spoil(folder.filePath("123 prova.GK1"));
        clickFile("123 prova.GK1");
        ASSERT_EQ(dialogs.shown.size(), 1u);
        const std::vector<std::string>& lines = dialogs.shown[0].lines;
        if (*f.firstLine != '\0') {
            EXPECT_EQ(lines.at(0), f.firstLine);
        }
        const std::string path = QDir::toNativeSeparators(folder.filePath("123 prova.GK1")).toStdString();
        int naming = 0;
        for (const std::string& line : lines)
            naming += line.find("123 prova.GK1") != std::string::npos ? 1 : 0;
        EXPECT_EQ(naming, 1) << dormal::joinedText(dialogs.shown[0]);
        EXPECT_NE(dormal::joinedText(dialogs.shown[0]).find(path), std::string::npos);
    }
}

struct NamingCase {
    std::vector<std::string> lines;
    std::vector<std::string> expected;
};

// A message that names the file already is shown as it is; otherwise the path is added.
TEST(GridFailureMessage, AddsThePathUnlessTheMessageHasIt) {
    const std::string path = "/dati/griglie/123.GK1";
    const NamingCase cases[] = {
        {{"LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE"},
         {"LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE", "/dati/griglie/123.GK1"}},
        {{"LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE", "/dati/griglie/123.GK1"},
         {"LETTURA DELLA GRIGLIA NON AVVENUTA CORRETTAMENTE", "/dati/griglie/123.GK1"}},
        {{"No such file or directory: /dati/griglie/123.GK1"}, {"No such file or directory: /dati/griglie/123.GK1"}},
        {{"FILE /dati/griglie/123.GK1", "NON TROVATO"}, {"FILE /dati/griglie/123.GK1", "NON TROVATO"}},
        {{}, {"/dati/griglie/123.GK1"}},
        {{"/dati/griglie/123.GK"}, {"/dati/griglie/123.GK", "/dati/griglie/123.GK1"}},
    };
    for (const NamingCase& c : cases) {
        dormal::Message m{dormal::MessageIcon::Warning, dormal::kTitleAttenzione, c.lines};
        const dormal::Message named = dormal::ui::namingFile(m, path);
        EXPECT_EQ(named.lines, c.expected);
        EXPECT_EQ(named.title, m.title);
        EXPECT_EQ(named.icon, m.icon);
    }
}

} // namespace
