// The typed point: parsing, display in the locale's decimal separator, the window-wide
// comma filter, Enter navigation and the switch between display and edit fields.

#include <QCheckBox>
#include <QClipboard>
#include <QGuiApplication>
#include <QInputMethodEvent>
#include <QLocale>
#include <QMimeData>
#include <QPushButton>
#include <QTest>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "support_window.h"
#include "tests/support/print_enums.h"
#include "ui/coordinate_fields.h"
#include "ui/selection_binder.h"
#include "ui/working_zone_panel.h"
#include "wz_fixtures.h"

namespace {

using dormal::CoordKind;
using dormal::RefSystem;
using dormal::Zone;

using uitest::WindowHarness;

// The display as the user reads it: the pattern's "." is the locale's separator.
QString localised(const char* shown) {
    QString s = QString::fromUtf8(shown);
    s.replace(QLatin1Char('.'), QLocale().decimalPoint());
    return s;
}

struct DisplayCase {
    const char* typed;
    const char* shown;
    double stored;
};

// Geographic input: the display number carries seconds of 59.99995 into the minutes and
// minutes of 60 into the degrees; nothing else is corrected.
const DisplayCase kGeographic[] = {
    {"45.595999995", "46° 00' 00.0000''", 45.595999995},
    {"45.125999995", "45° 13' 00.0000''", 45.125999995},
    {"45.5959999", "45° 59' 59.9990''", 45.5959999},
    {"45.1234567", "45° 12' 34.5670''", 45.1234567},
    {"-7.3", "-7° 30' 00.0000''", -7.3},
    {"0", "0° 00' 00.0000''", 0},
    {"", "0° 00' 00.0000''", 0},
    {"45.75", "45° 75' 00.0000''", 45.75},
    {"45.1234x", "45° 12' 34.0000''", 45.1234},
    {"abc", "0° 00' 00.0000''", 0},
    {"4 5.1", "45° 10' 00.0000''", 45.1},
    {"12,27084", "12° 27' 08.4000''", 12.27084}, // the comma typed becomes a full stop
};

// The patterns' blanks stand even where the digits before them are missing.
const DisplayCase kPlane[] = {
    {"4850123.4567", "4 850 123.457", 4850123.4567},
    {"1500000", "1 500 000.000", 1500000},
    {"12,5", "  12.500", 12.5},
    {"-3.25", "-  3.250", -3.25},
    {"", "  0.000", 0},
};

const DisplayCase kHeights[] = {
    {"1234.5", "1 234.500", 1234.5},
    {"-12,25", "- 12.250", -12.25},
    {"0.0004", " 0.000", 0.0004},
};

// Types into the pair's edit field and leaves it by Enter.
void typeAndLeave(WindowHarness& h, const char* display, const char* edit, const char* typed) {
    h.typeInto(display, edit, QString::fromUtf8(typed));
    QTest::keyClick(h.field(edit), Qt::Key_Return);
}

TEST(CoordinateFields, GeographicValuesShownAsDegreesMinutesSeconds) {
    WindowHarness h;
    const auto& v = h.window().fields().values();
    for (const DisplayCase& c : kGeographic) {
        SCOPED_TRACE(c.typed);
        typeAndLeave(h, "Text2", "Text3", c.typed);
        EXPECT_EQ(h.text("Text2"), localised(c.shown));
        EXPECT_DOUBLE_EQ(v.inputLat, c.stored);
        typeAndLeave(h, "Text4", "Text5", c.typed);
        EXPECT_EQ(h.text("Text4"), localised(c.shown));
        EXPECT_DOUBLE_EQ(v.inputLon, c.stored);
    }
    EXPECT_EQ(v.inputNorth, 0) << "geographic values are not stored as plane ones";
}

TEST(CoordinateFields, PlaneValuesShownInGroupsOfThree) {
    WindowHarness h;
    h.pick(2, "Piane");
    const auto& v = h.window().fields().values();
    for (const DisplayCase& c : kPlane) {
        SCOPED_TRACE(c.typed);
        typeAndLeave(h, "Text2", "Text3", c.typed);
        EXPECT_EQ(h.text("Text2"), localised(c.shown));
        EXPECT_DOUBLE_EQ(v.inputNorth, c.stored);
        typeAndLeave(h, "Text4", "Text5", c.typed);
        EXPECT_EQ(h.text("Text4"), localised(c.shown));
        EXPECT_DOUBLE_EQ(v.inputEast, c.stored);
    }
    EXPECT_EQ(v.inputLat, 0);
}

TEST(CoordinateFields, HeightsShown) {
    WindowHarness h;
    h.click("Check1");
    const auto& v = h.window().fields().values();
    for (const DisplayCase& c : kHeights) {
        SCOPED_TRACE(c.typed);
        typeAndLeave(h, "Text6", "Text7", c.typed);
        EXPECT_EQ(h.text("Text6"), localised(c.shown));
        EXPECT_DOUBLE_EQ(v.inputHeight, c.stored);
    }
}

TEST(CoordinateFields, CommaTypedAnywhereInTheWindowBecomesAFullStop) {
    WindowHarness h;
    h.typeInto("Text2", "Text3", "12,5");
    EXPECT_EQ(h.text("Text3"), "12.5");
    // The replacement goes to the widget with the focus; other keys pass unchanged.
    QTest::keyClicks(h.field("Text3"), ",a;.");
    EXPECT_EQ(h.text("Text3"), "12.5.a;.");
    QTest::keyClick(h.field("Text3"), Qt::Key_Comma, Qt::KeypadModifier);
    EXPECT_EQ(h.text("Text3"), "12.5.a;..");
}

// Ways text enters an edit field besides the keys the window's filter sees.
struct Road {
    const char* what;
    bool (*put)(QLineEdit* field, const QString& text); // false when this platform lacks the road
};

const Road kRoads[] = {
    {"typed",
     [](QLineEdit* e, const QString& t) {
         QTest::keyClicks(e, t);
         return true;
     }},
    {"Ctrl+V",
     [](QLineEdit* e, const QString& t) {
         QGuiApplication::clipboard()->setText(t);
         QTest::keyClick(e, Qt::Key_V, Qt::ControlModifier);
         return true;
     }},
    {"Shift+Insert",
     [](QLineEdit* e, const QString& t) {
         QGuiApplication::clipboard()->setText(t);
         QTest::keyClick(e, Qt::Key_Insert, Qt::ShiftModifier);
         return true;
     }},
    {"context menu Paste", // the menu's action calls the field's paste()
     [](QLineEdit* e, const QString& t) {
         QGuiApplication::clipboard()->setText(t);
         QMetaObject::invokeMethod(e, "paste");
         return true;
     }},
    {"middle button",
     [](QLineEdit* e, const QString& t) {
         if (!QGuiApplication::clipboard()->supportsSelection())
             return false;
         QGuiApplication::clipboard()->setText(t, QClipboard::Selection);
         QTest::mouseClick(e, Qt::MiddleButton, {}, e->rect().center());
         return true;
     }},
    {"drop",
     [](QLineEdit* e, const QString& t) {
         QMimeData mime;
         mime.setText(t);
         const QPoint at = e->rect().center();
         QDragEnterEvent enter(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(e, &enter);
         QDragMoveEvent move(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(e, &move);
         QDropEvent drop(QPointF(at), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
         QApplication::sendEvent(e, &drop);
         return true;
     }},
    {"input method",
     [](QLineEdit* e, const QString& t) {
         QInputMethodEvent commit;
         commit.setCommitString(t);
         QApplication::sendEvent(e, &commit);
         return true;
     }},
};

// Fault guarded: pasted text skipped the comma rule, so "45,1234" pasted into a coordinate
// field was stored and shown as 45° 00' 00''.
TEST(CoordinateFields, CommaEnteringByAnyRoadBecomesAFullStop) {
    struct Field {
        const char *display, *edit;
        double dormal::ui::TypedValues::*value;
    };
    const Field fields[] = {{"Text2", "Text3", &dormal::ui::TypedValues::inputLat},
                            {"Text4", "Text5", &dormal::ui::TypedValues::inputLon},
                            {"Text6", "Text7", &dormal::ui::TypedValues::inputHeight}};
    struct Typed {
        const char* text;
        const char* inField; // the edit field's text afterwards
        double stored;
    };
    const Typed texts[] = {{"45,1234", "45.1234", 45.1234}, {"-7,3", "-7.3", -7.3}, {",5,", ".5.", 0.5}};
    WindowHarness h;
    h.click("Check1"); // the height pair too
    for (const Field& f : fields) {
        for (const Typed& t : texts) {
            QString shownWhenTyped;
            for (const Road& road : kRoads) {
                SCOPED_TRACE(std::string(f.edit) + " " + t.text + " " + road.what);
                h.typeInto(f.display, f.edit, QString());
                QLineEdit* e = h.field(f.edit);
                ASSERT_TRUE(e->hasFocus());
                e->selectAll();
                QTest::keyClick(e, Qt::Key_Delete);
                const bool entered = road.put(e, QString::fromLatin1(t.text));
                const QString inField = e->text();
                QTest::keyClick(e, Qt::Key_Return);
                if (!entered)
                    continue;
                EXPECT_EQ(inField, QLatin1String(t.inField));
                EXPECT_DOUBLE_EQ(h.window().fields().values().*f.value, t.stored);
                if (shownWhenTyped.isEmpty())
                    shownWhenTyped = h.text(f.display);
                EXPECT_EQ(h.text(f.display), shownWhenTyped) << "shown as when typed";
            }
        }
    }
}

TEST(CoordinateFields, EnterMovesThroughThePoint) {
    WindowHarness h;
    h.typeInto("Text2", "Text3", "45.1");
    QTest::keyClick(h.field("Text3"), Qt::Key_Return);
    EXPECT_EQ(h.text("Text3"), "45.1") << "Enter inserts nothing";
    EXPECT_TRUE(h.shown("Text5"));
    EXPECT_TRUE(h.field("Text5")->hasFocus());
    EXPECT_FALSE(h.shown("Text3")) << "left: the display field shows again";
    EXPECT_TRUE(h.shown("Text2"));

    // Box unticked: straight to "Esegui", the height is not visited.
    QTest::keyClicks(h.field("Text5"), "11.2");
    QTest::keyClick(h.field("Text5"), Qt::Key_Enter);
    EXPECT_TRUE(h.find<QPushButton>("Command1")->hasFocus());
    EXPECT_FALSE(h.shown("Text7"));

    // Box ticked: Text5 -> Text7 -> "Esegui".
    h.click("Check1");
    h.typeInto("Text4", "Text5", "11.3");
    QTest::keyClick(h.field("Text5"), Qt::Key_Return);
    EXPECT_TRUE(h.field("Text7")->isVisible());
    EXPECT_TRUE(h.field("Text7")->hasFocus());
    QTest::keyClicks(h.field("Text7"), "100");
    QTest::keyClick(h.field("Text7"), Qt::Key_Return);
    EXPECT_TRUE(h.find<QPushButton>("Command1")->hasFocus());
    EXPECT_DOUBLE_EQ(h.window().fields().values().inputHeight, 100);
}

TEST(CoordinateFields, ClickingADisplayFieldEmptiesTheOutputAndEditsTheLastText) {
    WindowHarness h;
    typeAndLeave(h, "Text2", "Text3", "45.1234");
    QTest::keyClick(h.field("Text5"), Qt::Key_Return); // leave Text5 too
    for (const char* display : {"Text2", "Text4"}) {
        SCOPED_TRACE(display);
        h.window().setOutputFields("a", "b", "c", "33");
        h.click(display);
        for (const char* out : {"Text8", "Text9", "Text10", "Text1"})
            EXPECT_TRUE(h.text(out).isEmpty()) << out;
        EXPECT_FALSE(h.shown(display));
    }
    EXPECT_TRUE(h.field("Text5")->hasFocus());
    h.click("Text2");
    EXPECT_TRUE(h.shown("Text3"));
    EXPECT_TRUE(h.field("Text3")->hasFocus());
    EXPECT_EQ(h.text("Text3"), "45.1234") << "the text last typed";
}

TEST(CoordinateFields, StoredKindFollowsTheKindWhenTheFieldIsLeft) {
    WindowHarness h;
    h.pick(2, "Piane");
    typeAndLeave(h, "Text2", "Text3", "5000000");
    EXPECT_DOUBLE_EQ(h.window().fields().values().inputNorth, 5000000);
    h.pick(2, "Geografiche");
    typeAndLeave(h, "Text2", "Text3", "45.3");
    EXPECT_DOUBLE_EQ(h.window().fields().values().inputLat, 45.3);
    EXPECT_DOUBLE_EQ(h.window().fields().values().inputNorth, 5000000) << "kept until the field is left again";
}

TEST(CoordinateFields, TabFromAnEditFieldEditsTheNextValue) {
    WindowHarness h;
    h.typeInto("Text2", "Text3", "45.2");
    QTest::keyClick(h.field("Text3"), Qt::Key_Tab);
    EXPECT_TRUE(h.field("Text5")->hasFocus());
    EXPECT_EQ(h.text("Text2"), localised("45° 20' 00.0000''"));
}

TEST(CoordinateFields, RunFocusShowsTheEditField) {
    WindowHarness h;
    h.window().focusInputField(dormal::FieldRef::Second);
    EXPECT_TRUE(h.shown("Text5"));
    EXPECT_TRUE(h.field("Text5")->hasFocus());
}

TEST(CoordinateFields, HeightFieldHiddenByARuleWhileTypedKeepsTheRulesVisibility) {
    WindowHarness h;
    h.click("Check1");
    h.typeInto("Text6", "Text7", "250");
    ASSERT_TRUE(h.field("Text7")->hasFocus());
    h.window().rules().setPosition(
        6, dormal::positionOf(dormal::systemList(), dormal::RefSystem::Etrf89)); // same systems: the box is unticked
    EXPECT_FALSE(h.shown("Text6"));
    EXPECT_FALSE(h.shown("Text7"));
    EXPECT_DOUBLE_EQ(h.window().fields().values().inputHeight, 250);
}

// --- The displayed form typed back, and texts that are no value --------------------------

// A window with the map-sheet portion loaded (ETRF89 geographic in, ROMA40 geographic out).
class TypedPointRun : public ::testing::Test {
protected:
    void SetUp() override {
        wz::writeFile(QDir(h.folder()).filePath(QStringLiteral("4567.GK2")), wz::portionText(wz::sheetPortion()));
        h.window().workingZone()->openFolder(h.folder());
        ASSERT_TRUE(h.window().workingZone()->pickFile(QStringLiteral("4567.GK2")));
    }
    std::vector<std::string> messages() {
        std::vector<std::string> out;
        for (const dormal::Message& m : h.dialogs().messages)
            out.push_back(dormal::joinedText(m));
        return out;
    }
    WindowHarness h;
};

// Regression: the displayed form typed (or pasted) back was read up to the degree sign.
TEST_F(TypedPointRun, DisplayedFormTypedBackIsReadWhole) {
    const auto& v = h.window().fields().values();
    typeAndLeave(h, "Text2", "Text3", "40\u00b0 40' 30.5000''");
    EXPECT_EQ(v.inputLat, 40.40305);
    EXPECT_EQ(h.text("Text2"), localised("40° 40' 30.5000''"));
    typeAndLeave(h, "Text4", "Text5", "16\u00b030'00");
    EXPECT_EQ(v.inputLon, 16.3);
    h.click("Command1");
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_FALSE(h.text("Text8").isEmpty()) << "the point inside the sheet is converted";
    EXPECT_FALSE(h.text("Text9").isEmpty());
}

struct Unreadable {
    int kind;        // Combo2 position
    bool heights;    // Check1 ticked
    const char* first, *second, *height; // typed texts
    const char* edit;    // the field that gets the focus
    const char* message; // the one message
};

const Unreadable kUnreadable[] = {
    {0, false, "abc", "16.3", "", "Text3", "VALORE NON VALIDO NEL CAMPO Latitudine: abc"},
    {0, false, "40.4", "45.1234x", "", "Text5", "VALORE NON VALIDO NEL CAMPO Longitudine: 45.1234x"},
    {0, false, "40.4", "", "", "Text5", "VALORE NON VALIDO NEL CAMPO Longitudine: "},
    {0, false, "40\u00b0 40' 3x''", "16.3", "", "Text3", "VALORE NON VALIDO NEL CAMPO Latitudine: 40\u00b0 40' 3x''"},
    {0, true, "40.4", "16.3", "12 m", "Text7", "VALORE NON VALIDO NEL CAMPO Quota: 12 m"},
    {0, true, "40.4", "16.3", "", "Text7", "VALORE NON VALIDO NEL CAMPO Quota: "},
    {1, false, "4485000,5", "2550000x", "", "Text5", "VALORE NON VALIDO NEL CAMPO Est: 2550000x"},
    {1, false, "40\u00b0 40'", "2550000", "", "Text3", "VALORE NON VALIDO NEL CAMPO Nord: 40\u00b0 40'"},
};

TEST_F(TypedPointRun, TextThatIsNoValueIsNamedFocusedAndNotConverted) {
    for (const Unreadable& c : kUnreadable) {
        SCOPED_TRACE(c.message);
        h.pick(2, c.kind);
        if (h.find<QCheckBox>("Check1")->isChecked() != c.heights)
            h.click("Check1");
        typeAndLeave(h, "Text2", "Text3", c.first);
        typeAndLeave(h, "Text4", "Text5", c.second);
        if (c.heights)
            typeAndLeave(h, "Text6", "Text7", c.height);
        h.window().setOutputFields("1", "2", "3", "33");
        h.dialogs().messages.clear();
        h.click("Command1");
        ASSERT_EQ(messages(), std::vector<std::string>{c.message});
        EXPECT_EQ(h.dialogs().messages[0].title, dormal::kTitleAttenzione);
        EXPECT_TRUE(h.shown(c.edit));
        EXPECT_TRUE(h.field(c.edit)->hasFocus());
        EXPECT_EQ(h.text("Text8"), "1") << "no conversion was made";
    }
}

TEST_F(TypedPointRun, UntickedHeightIsNotRead) {
    h.click("Check1");
    typeAndLeave(h, "Text6", "Text7", "xyz");
    h.click("Check1"); // unticked: the height plays no part
    typeAndLeave(h, "Text2", "Text3", "40.4");
    typeAndLeave(h, "Text4", "Text5", "16.3");
    h.click("Command1");
    EXPECT_EQ(messages(), std::vector<std::string>{});
    EXPECT_FALSE(h.text("Text8").isEmpty());
}

} // namespace
