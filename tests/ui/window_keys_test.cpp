// The main window driven from the keyboard and watched while it changes: Enter on "Esegui",
// the Tab chain, the grid-file list taking the focus, and the working zone's lists and
// limit labels when a portion is shown.

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "support_window.h"
#include "ui/working_zone_panel.h"
#include "wz_fixtures.h"

namespace {

using dormal::CoordKind;
using dormal::RefSystem;
using uitest::WindowHarness;

// Writes two small portions into the window's folder and shows them in the working zone.
void writePortions(WindowHarness& h) {
    wz::PortionFile sheet = wz::sheetPortion();
    sheet.geoidEpoch = "SINTETICA, NON PER RILIEVI";
    wz::writeFile(QDir(h.folder()).filePath(QStringLiteral("123456.GK1")), wz::portionText(wz::vertexPortion()));
    wz::writeFile(QDir(h.folder()).filePath(QStringLiteral("0245.GK2")), wz::portionText(sheet));
    h.window().workingZone()->openFolder(h.folder());
}

QString focusName() {
    QWidget* w = QApplication::focusWidget();
    return w == nullptr ? QString() : w->objectName();
}

// The names of the controls Tab visits from Combo1 until it comes back to it.
QStringList tabChain(WindowHarness& h) {
    h.combo(1)->setFocus(Qt::TabFocusReason);
    QStringList chain{focusName()};
    for (int i = 0; i < 80; ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        const QString name = focusName();
        if (name == chain.constFirst())
            break;
        chain << name;
    }
    return chain;
}

QRect inWindow(WindowHarness& h, const char* name) {
    QWidget* w = h.find<QWidget>(name);
    return QRect(w->mapTo(&h.window(), QPoint(0, 0)), w->size());
}

// Fault guarded: Enter on the focused "Esegui", where the fields' Enter chain ends, did
// nothing: a push button outside a dialog ignores Enter unless told otherwise.
TEST(EnterKey, TheFieldsChainEndsOnEseguiAndEnterPressesIt) {
    struct Case {
        const char* what;
        bool heights;
        Qt::Key lastKey;
    };
    const Case cases[] = {
        {"two coordinates, Return", false, Qt::Key_Return},
        {"two coordinates, keypad Enter", false, Qt::Key_Enter},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WindowHarness h;
        // ETRF2000 plane to ETRF2000 plane: no grid needed.
        h.pick(1, "ETRF2000");
        h.pick(2, "Piane");
        h.pick(6, "ETRF2000");
        h.pick(7, "Piane");
        if (c.heights)
            h.click("Check1");
        h.typeInto("Text2", "Text3", "5000000");
        QTest::keyClick(h.field("Text3"), Qt::Key_Return);
        ASSERT_TRUE(h.field("Text5")->hasFocus());
        QTest::keyClicks(h.field("Text5"), "500000");
        QTest::keyClick(h.field("Text5"), Qt::Key_Return);
        if (c.heights) {
            ASSERT_TRUE(h.field("Text7")->hasFocus());
            QTest::keyClicks(h.field("Text7"), "100");
            QTest::keyClick(h.field("Text7"), Qt::Key_Return);
        }
        auto* execute = h.find<QPushButton>("Command1");
        ASSERT_TRUE(execute->hasFocus()) << "focus on " << focusName().toStdString();
        EXPECT_TRUE(execute->isDefault() || execute->autoDefault()) << "the focused button is marked";
        EXPECT_TRUE(h.text("Text8").isEmpty());
        QTest::keyClick(execute, c.lastKey);
        EXPECT_TRUE(h.dialogs().messages.empty());
        EXPECT_EQ(h.text("Text1"), "32") << "Enter ran the conversion";
        EXPECT_FALSE(h.text("Text8").isEmpty());
    }
}

// Tab reaches the working zone's lists before the results, which it does not visit at all:
// they are read-only and only a click selects their text.
TEST(TabChain, WorkingZoneBeforeTheResultsWhichAreLeftOut) {
    WindowHarness h;
    writePortions(h);
    const QStringList chain = tabChain(h);
    SCOPED_TRACE(chain.join(QLatin1Char(' ')).toStdString());
    const qsizetype dir = chain.indexOf(QStringLiteral("Dir1"));
    const qsizetype file = chain.indexOf(QStringLiteral("File1"));
    ASSERT_GE(dir, 0);
    ASSERT_GT(file, dir);
    EXPECT_GT(std::max(chain.indexOf(QStringLiteral("Text2")), chain.indexOf(QStringLiteral("Text3"))), file)
        << "typed point after the working zone";
    for (const char* out : {"Text8", "Text9", "Text10", "Text1"})
        EXPECT_EQ(chain.indexOf(QLatin1String(out)), -1) << out;
    EXPECT_LT(chain.indexOf(QStringLiteral("Command1")), chain.indexOf(QStringLiteral("Command2")));
}

// Fault guarded: the focus coming to the grid-file list made its first file current, and a
// current file counted as a pick. Tabbing in reads nothing; Space then picks.
TEST(TabChain, TabbingIntoTheFileListReadsNothing) {
    WindowHarness h;
    writePortions(h);
    QSignalSpy reads(h.window().workingZone(), &dormal::ui::WorkingZonePanel::portionChanged);
    h.combo(1)->setFocus(Qt::TabFocusReason);
    for (int i = 0; i < 80 && focusName() != QLatin1String("File1"); ++i)
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(focusName(), "File1");
    EXPECT_EQ(reads.count(), 0);
    EXPECT_FALSE(h.window().workingZone()->fileSelected());
    EXPECT_EQ(h.window().workingZone()->portion(), nullptr);
    EXPECT_EQ(h.text("Label13"), "non selezionata");
    EXPECT_TRUE(h.dialogs().messages.empty());

    // Going on with Tab and back with Shift+Tab reads nothing either.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Backtab);
    ASSERT_EQ(focusName(), "File1");
    EXPECT_EQ(reads.count(), 0);

    QTest::keyClick(h.find<QListWidget>("File1"), Qt::Key_Space);
    EXPECT_EQ(reads.count(), 1);
    EXPECT_NE(h.window().workingZone()->portion(), nullptr);
}

// Fault guarded: the limit labels took their room only when a portion was shown, so the
// folder and file lists shrank under the pointer of the user who had just clicked a file.
TEST(WorkingZone, ListsKeepTheirPlaceWhenAPortionIsShown) {
    WindowHarness h;
    writePortions(h);
    auto* file1 = h.find<QListWidget>("File1");
    const QRect dirBefore = inWindow(h, "Dir1");
    const QRect fileBefore = inWindow(h, "File1");
    struct Step {
        const char* what;
        const char* file;
        CoordKind kind;
    };
    const Step steps[] = {
        {"sheet, geographic input", "0245.GK2", CoordKind::Geographic},
        {"vertex, geographic input", "123456.GK1", CoordKind::Geographic},
        {"vertex, plane input", "123456.GK1", CoordKind::Plane},
        {"sheet, plane input", "0245.GK2", CoordKind::Plane},
    };
    for (const Step& s : steps) {
        SCOPED_TRACE(s.what);
        if (h.combo(2)->currentIndex() != dormal::positionOf(dormal::kindList(), s.kind))
            h.pick(2, s.kind);
        QListWidgetItem* item = file1->findItems(QLatin1String(s.file), Qt::MatchExactly).value(0);
        ASSERT_NE(item, nullptr);
        QTest::mouseClick(file1->viewport(), Qt::LeftButton, {}, file1->visualItemRect(item).center());
        QApplication::processEvents();
        ASSERT_NE(h.window().workingZone()->portion(), nullptr);
        EXPECT_TRUE(h.shown("Label17"));
        EXPECT_EQ(inWindow(h, "Dir1"), dirBefore);
        EXPECT_EQ(inWindow(h, "File1"), fileBefore);
    }
    // The whole folder as a set shows the same labels: the lists stay too.
    h.click("CheckAllPortions");
    QApplication::processEvents();
    EXPECT_EQ(inWindow(h, "Dir1"), dirBefore);
    EXPECT_EQ(inWindow(h, "File1"), fileBefore);
}

// Where a label draws its text: the horizontal span of a one-line text, from its alignment.
std::pair<int, int> textSpan(QLabel* label) {
    const QRect r = label->contentsRect();
    const int advance = label->fontMetrics().horizontalAdvance(label->text());
    const int left = label->mapTo(label->window(), QPoint(0, 0)).x();
    if (label->alignment() & Qt::AlignRight)
        return {left + r.right() + 1 - advance, left + r.right() + 1};
    if (label->alignment() & Qt::AlignHCenter)
        return {left + r.center().x() - advance / 2, left + r.center().x() + advance / 2};
    return {left + r.left(), left + r.left() + advance};
}

// Faults guarded: the caption was cut by a hyphen in mid-line; the west and east limits
// ran together ("2 384 km 2 419 km"); a long epoch reached the frame's edge.
TEST(WorkingZone, LimitCaptionsAndValuesReadApart) {
    WindowHarness h;
    writePortions(h);
    const QString caption = h.text("Label21");
    EXPECT_FALSE(caption.contains(QStringLiteral("- "))) << caption.toStdString();
    EXPECT_TRUE(caption.contains(QStringLiteral("approssimativi")));

    struct Case {
        const char* what;
        RefSystem system;
        CoordKind kind;
        const char* file;
    };
    const Case cases[] = {
        {"ROMA40 plane, sheet", RefSystem::Roma40, CoordKind::Plane, "0245.GK2"},
        {"ROMA40 plane, vertex", RefSystem::Roma40, CoordKind::Plane, "123456.GK1"},
        {"ED50 plane, sheet", RefSystem::Ed50, CoordKind::Plane, "0245.GK2"},
        {"ROMA40 geographic, sheet", RefSystem::Roma40, CoordKind::Geographic, "0245.GK2"},
        {"ETRF89 geographic, vertex", RefSystem::Etrf89, CoordKind::Geographic, "123456.GK1"},
    };
    QWidget* frame = h.find<QWidget>("Frame5");
    h.pick(6, RefSystem::Etrf2000); // a grid is needed from every input system
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        h.pick(1, c.system);
        h.pick(2, c.kind);
        ASSERT_TRUE(h.window().workingZone()->pickFile(QLatin1String(c.file)));
        QApplication::processEvents();
        auto* label = h.find<QLabel>("Label21");
        const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->contentsRect().width(), 10000),
                                                               Qt::TextWordWrap, label->text());
        EXPECT_LE(needed.width(), label->contentsRect().width()) << "caption cut";
        EXPECT_LE(needed.height(), label->contentsRect().height()) << "caption cut";
        const int gap = h.find<QLabel>("Label17")->fontMetrics().horizontalAdvance(QStringLiteral("M"));
        for (auto [west, east] : {std::pair{"Label17", "Label18"}, std::pair{"Label28", "Label29"},
                                  std::pair{"Label18", "Label21"}, std::pair{"Label29", "Label21"}}) {
            auto* w = h.find<QLabel>(west);
            auto* e = h.find<QLabel>(east);
            if (!w->isVisible())
                continue;
            SCOPED_TRACE(w->text().toStdString() + " | " + e->text().toStdString());
            EXPECT_GE(textSpan(e).first - textSpan(w).second, gap);
        }
        auto* epoch = h.find<QLabel>("Label27");
        ASSERT_TRUE(epoch->isVisible());
        const QRect at(epoch->mapTo(frame, QPoint(0, 0)), epoch->size());
        const QRect text =
            epoch->fontMetrics().boundingRect(QRect(0, 0, epoch->width(), 10000), Qt::TextWordWrap, epoch->text());
        EXPECT_LE(text.width(), epoch->width());
        EXPECT_LE(text.height(), epoch->height());
        EXPECT_GE(frame->width() - at.right(), 6) << "room at the right edge";
        EXPECT_GE(frame->height() - (at.top() + text.height()), 6) << "room at the bottom edge";
    }
}

TEST(Window, ResizesAndGivesTheRoomToTheWorkingZoneLists) {
    WindowHarness h;
    const QSize start = h.window().size();
    EXPECT_LT(h.window().minimumSize().width(), h.window().maximumSize().width()) << "resizable";
    const QRect dir = inWindow(h, "Dir1");
    const QRect file = inWindow(h, "File1");
    const QRect execute = inWindow(h, "Command1");
    h.window().resize(start + QSize(300, 200));
    QApplication::processEvents();
    EXPECT_GT(inWindow(h, "Dir1").height(), dir.height());
    EXPECT_GT(inWindow(h, "File1").height(), file.height());
    EXPECT_GT(inWindow(h, "Dir1").width(), dir.width());
    EXPECT_TRUE(h.window().rect().contains(inWindow(h, "Command1")));
    EXPECT_GT(inWindow(h, "Command1").top(), execute.top()) << "buttons stay at the bottom";
    // Smaller than its minimum it does not go.
    h.window().resize(100, 100);
    EXPECT_GE(h.window().width(), h.window().minimumSizeHint().width());
    EXPECT_GE(h.window().height(), h.window().minimumSizeHint().height());
}

} // namespace
