// The selection rules driven as a user drives them: picks in the ten lists and ticks of
// Check1, with what the window shows afterwards.

#include <QCheckBox>
#include <QRadioButton>
#include <QTest>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "support_window.h"
#include "tests/support/print_enums.h"
#include "ui/selection_binder.h"
#include "ui/working_zone_panel.h"
#include "wz_fixtures.h"

namespace {

using dormal::CoordKind;
using dormal::RefSystem;
using dormal::Zone;

using uitest::WindowHarness;

const dormal::SelectionState& state(WindowHarness& h) {
    return h.window().rules().state();
}
QCheckBox* check1(WindowHarness& h) {
    return h.find<QCheckBox>("Check1");
}

void tick(WindowHarness& h, bool on) {
    if (check1(h)->isChecked() != on)
        QTest::mouseClick(check1(h), Qt::LeftButton, {}, uitest::clickPoint(check1(h)));
    ASSERT_EQ(check1(h)->isChecked(), on);
}

// --- Input side ----------------------------------------------------------------------

TEST(InputRules, CaptionFollowsTheNestedRules) {
    WindowHarness h;
    h.pick(2, "Piane");
    EXPECT_EQ(h.text("Frame9"), "Input  UTM (ETRF89)");
    EXPECT_TRUE(h.shown("Combo5"));
    EXPECT_EQ(h.combo(5)->currentText(), "UTM 32");
    EXPECT_EQ(zoneNumber(state(h).inputZone), 1);

    // The system rule's own text for ETRF2000 replaces the one the Combo5 rule wrote...
    h.pick(1, "ETRF2000");
    EXPECT_EQ(h.text("Frame9"), "Input UTM(ETRF2000)");
    EXPECT_EQ(zoneNumber(state(h).inputZone), 1);
    // ...and picking "Piane" again (the current item) runs the kind rule all the same.
    h.pick(2, "Piane");
    EXPECT_EQ(h.text("Frame9"), "Input  UTM (ETRF2000)");

    h.pick(5, "Fuso Italia");
    EXPECT_EQ(zoneNumber(state(h).inputZone), 4);
    EXPECT_EQ(h.text("Frame9"), "Input  Fuso Italia (ETRF2000)");
    h.pick(5, "UTM 34");
    EXPECT_EQ(zoneNumber(state(h).inputZone), 3);
    EXPECT_EQ(h.text("Frame9"), "Input  UTM (ETRF2000)");

    // Back to geographic: the system rule's geographic text for ETRF2000 has one blank.
    h.pick(2, "Geografiche");
    EXPECT_EQ(h.text("Frame9"), "Input  ETRF2000");
    h.pick(1, "ETRF2000");
    EXPECT_EQ(h.text("Frame9"), "Input ETRF2000");
}

struct InputCase {
    RefSystem system;
    int kind;
    const char* caption;  // after picking the system, then the kind
    const char* zoneList; // shown zone list, or null
    int inputZone;
    const char* label5;
    const char* label6;
};

const InputCase kInputCases[] = {
    {RefSystem::Roma40, 0, "Input  ROMA40", nullptr, -1, "Da quote geoidiche", "H"},
    {RefSystem::Ed50, 0, "Input  ED50", nullptr, -1, "Da quote geoidiche", "H"},
    {RefSystem::Etrf89, 0, "Input  ETRF89", nullptr, -1, "Da quote ellissoidiche", "h"},
    {RefSystem::Etrf2000, 0, "Input  ETRF2000", nullptr, -1, "Da quote ellissoidiche", "h"},
    {RefSystem::Roma40, 1, "Input  Gauss-Boaga", "Combo3", 0, "Da quote geoidiche", "H"},
    {RefSystem::Ed50, 1, "Input  UTM (ED50)", "Combo4", 1, "Da quote geoidiche", "H"},
    {RefSystem::Etrf89, 1, "Input  UTM (ETRF89)", "Combo5", 1, "Da quote ellissoidiche", "h"},
    {RefSystem::Etrf2000, 1, "Input  UTM (ETRF2000)", "Combo5", 1, "Da quote ellissoidiche", "h"},
};

TEST(InputRules, SystemThenKindGiveCaptionZoneListAndHeightTexts) {
    WindowHarness h;
    for (const InputCase& c : kInputCases) {
        SCOPED_TRACE(c.caption);
        h.pick(1, c.system);
        h.pick(2, c.kind);
        EXPECT_EQ(state(h).inputSystem, c.system);
        EXPECT_EQ(dormal::positionOf(dormal::kindList(), state(h).inputKind), c.kind);
        EXPECT_EQ(h.text("Frame9"), QString::fromUtf8(c.caption));
        EXPECT_EQ(h.text("Label5"), QString::fromUtf8(c.label5));
        EXPECT_EQ(h.text("Label6"), QString::fromUtf8(c.label6));
        for (const char* list : {"Combo3", "Combo4", "Combo5"})
            EXPECT_EQ(h.shown(list), c.zoneList != nullptr && qstrcmp(list, c.zoneList) == 0) << list;
        if (c.inputZone >= 0) {
            EXPECT_EQ(zoneNumber(state(h).inputZone), c.inputZone);
        }
        const bool plane = c.kind == 1;
        EXPECT_EQ(h.shown("Label7"), !plane);
        EXPECT_EQ(h.shown("Label8"), !plane);
        EXPECT_EQ(h.shown("Label34"), plane);
        EXPECT_EQ(h.shown("Label35"), plane);
        EXPECT_EQ(h.field("Text3")->toolTip(),
                  plane ? "Coordinata Nord in metri" : "Latitudine in sessagesimali [gg.ppssdddd]");
        EXPECT_EQ(h.field("Text4")->toolTip(),
                  plane ? "Coordinata Est in metri" : "Longitudine in sessagesimali [gg.ppssdddd]");
    }
}

TEST(InputRules, ZoneListsNeverShowForGeographicInput) {
    WindowHarness h;
    h.pick(2, "Piane");
    for (int system = 0; system < 4; ++system) {
        h.pick(1, system);
        EXPECT_EQ(h.shown("Combo3") + h.shown("Combo4") + h.shown("Combo5"), 1) << "plane, system " << system;
    }
    h.pick(2, "Geografiche");
    for (int system = 0; system < 4; ++system) {
        h.pick(1, system);
        EXPECT_FALSE(h.shown("Combo3") || h.shown("Combo4") || h.shown("Combo5")) << "system " << system;
    }
}

TEST(InputRules, ZoneListPicksGiveTheirCodes) {
    WindowHarness h;
    h.pick(2, "Piane");
    h.pick(1, "ROMA40");
    for (int p = 0; p < 3; ++p) {
        h.pick(3, p);
        EXPECT_EQ(zoneNumber(state(h).inputZone), p);
    }
    h.pick(1, "ED50");
    for (int p = 0; p < 3; ++p) {
        h.pick(4, p);
        EXPECT_EQ(zoneNumber(state(h).inputZone), p + 1);
        EXPECT_EQ(h.text("Frame9"), "Input  UTM (ED50)");
    }
    h.pick(1, "ETRF89");
    h.pick(5, "Fuso Italia");
    EXPECT_EQ(zoneNumber(state(h).inputZone), 4);
    EXPECT_EQ(h.text("Frame9"), "Input  Fuso Italia (ETRF89)");
    // A system pick starts the list from its first item again.
    h.pick(1, "ETRF89");
    EXPECT_EQ(h.combo(5)->currentText(), "UTM 32");
    EXPECT_EQ(zoneNumber(state(h).inputZone), 1);
    EXPECT_EQ(h.text("Frame9"), "Input  UTM (ETRF89)");
}

TEST(InputRules, KindChangeEmptiesTheTypedCoordinatesButNotTheHeight) {
    WindowHarness h;
    h.window().setOutputFields("1", "2", "3", "33");
    tick(h, true);
    h.typeInto("Text2", "Text3", "45.1234");
    h.typeInto("Text4", "Text5", "11.3");
    h.typeInto("Text6", "Text7", "123.5");
    QTest::keyClick(h.field("Text7"), Qt::Key_Return); // leaves the height field
    EXPECT_FALSE(h.text("Text6").isEmpty());
    h.pick(2, "Piane");
    for (const char* name : {"Text2", "Text3", "Text4", "Text5", "Text8", "Text9", "Text10", "Text1"})
        EXPECT_TRUE(h.text(name).isEmpty()) << name;
    EXPECT_EQ(h.text("Text7"), "123.5");
    EXPECT_FALSE(h.text("Text6").isEmpty());
}

TEST(InputRules, SystemPickEmptiesTheOutputFieldsOnly) {
    WindowHarness h;
    h.typeInto("Text2", "Text3", "45.1234");
    QTest::keyClick(h.field("Text3"), Qt::Key_Return);
    h.window().setOutputFields("1", "2", "3", "33");
    h.pick(1, "ED50");
    for (const char* name : {"Text8", "Text9", "Text10", "Text1"})
        EXPECT_TRUE(h.text(name).isEmpty()) << name;
    EXPECT_EQ(h.text("Text3"), "45.1234");
}

// Regression: a zone pick on the input side or a tick of Check1 left the results of the
// previous choice in the output fields.
TEST(OutputFields, EmptiedByEveryChangeOfTheChoiceWhileTheTypedPointStays) {
    WindowHarness h;
    h.pick(2, "Piane"); // the input kind empties the typed point by design: before typing
    h.typeInto("Text2", "Text3", "4850123.5");
    QTest::keyClick(h.field("Text3"), Qt::Key_Return);
    struct Change {
        const char* what;
        std::function<void()> act;
    };
    const Change changes[] = {
        {"Combo5 UTM 33", [&] { h.pick(5, "UTM 33"); }},
        {"Combo5 Fuso Italia", [&] { h.pick(5, "Fuso Italia"); }},
        {"input ROMA40", [&] { h.pick(1, "ROMA40"); }},
        {"Combo3 Est", [&] { h.pick(3, "Gauss-Boaga Est"); }},
        {"input ED50", [&] { h.pick(1, "ED50"); }},
        {"Combo4 UTM 34", [&] { h.pick(4, "UTM 34"); }},
        {"output ETRF2000", [&] { h.pick(6, "ETRF2000"); }},
        {"output plane", [&] { h.pick(7, "Piane"); }},
        {"Combo10 UTM 33", [&] { h.pick(10, "UTM 33"); }},
        {"Check1 ticked", [&] { tick(h, true); }},
        {"Check1 unticked", [&] { tick(h, false); }},
    };
    for (const Change& c : changes) {
        SCOPED_TRACE(c.what);
        const QString typed = h.text("Text3");
        h.window().setOutputFields("1", "2", "3", "33");
        c.act();
        for (const char* name : {"Text8", "Text9", "Text10", "Text1"})
            EXPECT_TRUE(h.text(name).isEmpty()) << name;
        EXPECT_EQ(h.text("Text3"), typed) << "the typed point stays";
    }
}

// --- Pair table --------------------------------------------------------------------------

enum Entry { Same, GeoidPair, Open };
Entry expectedEntry(RefSystem in, RefSystem out) {
    if (in == out)
        return Same;
    if (in <= RefSystem::Ed50 && out <= RefSystem::Ed50)
        return GeoidPair;
    return Open;
}

TEST(PairTable, EveryPairFromEitherSide) {
    WindowHarness h;
    for (int lastSide = 0; lastSide < 2; ++lastSide)
        for (RefSystem in : dormal::kAllSystems)
            for (RefSystem out : dormal::kAllSystems) {
                SCOPED_TRACE(testing::Message() << "in " << in << " out " << out << " last " << lastSide);
                // Start from an open pair with the box ticked, then set the pair.
                h.pick(1, RefSystem::Etrf89);
                h.pick(6, RefSystem::Roma40);
                tick(h, true);
                if (lastSide == 0) {
                    h.pick(6, out);
                    h.pick(1, in);
                } else {
                    h.pick(1, in);
                    h.pick(6, out);
                }
                const Entry e = expectedEntry(in, out);
                EXPECT_EQ(h.shown("Frame5"), e != Same);
                EXPECT_EQ(h.enabled("Check1"), e == Open);
                EXPECT_EQ(h.enabled("Label5"), e == Open);
                EXPECT_EQ(h.enabled("Label2"), e == Open);
                if (e != Open) {
                    // Unticking ran the box's rule: the height pair and the arrow went away.
                    EXPECT_FALSE(check1(h)->isChecked());
                    EXPECT_FALSE(h.shown("Text7"));
                    EXPECT_FALSE(h.shown("Image4"));
                } else {
                    // The tick stays unless the pair passed through on the way was not open.
                    const Entry passed =
                        lastSide == 0 ? expectedEntry(RefSystem::Etrf89, out) : expectedEntry(in, RefSystem::Roma40);
                    EXPECT_EQ(check1(h)->isChecked(), passed == Open);
                }
            }
}

TEST(PairTable, SameSystemsOnTheOutputSideHideEverythingOfTheHeights) {
    WindowHarness h;
    h.pick(6, "ETRF2000");
    tick(h, true);
    for (const char* name : {"Text6", "Text7", "Text10", "Image4"})
        EXPECT_TRUE(h.shown(name)) << name;
    h.pick(6, "ETRF89"); // input is ETRF89
    EXPECT_FALSE(h.shown("Frame5"));
    EXPECT_FALSE(check1(h)->isEnabled());
    EXPECT_FALSE(check1(h)->isChecked());
    for (const char* name : {"Text6", "Text7", "Text10", "Image4"})
        EXPECT_FALSE(h.shown(name)) << name;
}

// --- Height fields: the last rule run wins -------------------------------------------------

struct HeightCase {
    const char* what;
    RefSystem in, out; // the pair
    int lastList; // 1 or 6: the side whose rule runs last (picking its current item)
    bool ticked;  // Check1 before that pick
    bool shown;   // Text6 and Text10 after it
};

const HeightCase kHeightCases[] = {
    {"input ROMA40 picked, output ETRF2000, unticked", RefSystem::Roma40, RefSystem::Etrf2000, 1, false, true},
    {"output ETRF2000 picked, input ROMA40, unticked", RefSystem::Roma40, RefSystem::Etrf2000, 6, false, false},
    {"input ETRF2000 picked, output ROMA40, unticked", RefSystem::Etrf2000, RefSystem::Roma40, 1, false, false},
    {"output ROMA40 picked, input ETRF2000, unticked", RefSystem::Etrf2000, RefSystem::Roma40, 6, false, true},
    {"input ED50 picked, output ETRF89, ticked", RefSystem::Ed50, RefSystem::Etrf89, 1, true, true},
    {"input ED50 picked, output ETRF89, unticked", RefSystem::Ed50, RefSystem::Etrf89, 1, false, false},
    {"output ETRF89 picked, input ED50, ticked", RefSystem::Ed50, RefSystem::Etrf89, 6, true, true},
    {"input ETRF89 picked, output ED50, ticked", RefSystem::Etrf89, RefSystem::Ed50, 1, true, true},
    {"input ETRF89 picked, output ED50, unticked", RefSystem::Etrf89, RefSystem::Ed50, 1, false, false},
    {"output ED50 picked, input ETRF2000, unticked", RefSystem::Etrf2000, RefSystem::Ed50, 6, false, true},
    {"output ETRF89 picked, input ETRF2000, ticked", RefSystem::Etrf2000, RefSystem::Etrf89, 6, true, true},
    {"output ETRF89 picked, input ETRF2000, unticked", RefSystem::Etrf2000, RefSystem::Etrf89, 6, false, false},
    {"input ETRF2000 picked, output ETRF89, unticked", RefSystem::Etrf2000, RefSystem::Etrf89, 1, false, false},
};

TEST(HeightFields, DecidedByTheLastRuleRun) {
    WindowHarness h;
    for (const HeightCase& c : kHeightCases) {
        SCOPED_TRACE(c.what);
        h.pick(1, c.in);
        h.pick(6, c.out);
        tick(h, c.ticked);
        h.pick(c.lastList, c.lastList == 1 ? c.in : c.out);
        ASSERT_EQ(check1(h)->isChecked(), c.ticked);
        EXPECT_EQ(h.shown("Text6"), c.shown);
        EXPECT_EQ(h.shown("Text10"), c.shown);
    }
}

TEST(HeightFields, TickShowsTheHeightPairAndArrowUntickHidesThem) {
    WindowHarness h; // input ETRF89, output ROMA40
    tick(h, true);
    for (const char* name : {"Text6", "Text7", "Text10", "Image4"})
        EXPECT_TRUE(h.shown(name)) << name;
    tick(h, false);
    for (const char* name : {"Text6", "Text7", "Text10", "Image4"})
        EXPECT_FALSE(h.shown(name)) << name;
    EXPECT_EQ(state(h), dormal::SelectionState{}) << "the box changes no code";
}

// --- Output side ---------------------------------------------------------------------

TEST(OutputRules, PlaneRoma40ThenAFixedZone) {
    WindowHarness h;
    h.pick(7, "Piane");
    EXPECT_TRUE(h.shown("Combo8"));
    EXPECT_EQ(h.combo(8)->currentText(), "Gauss-Boaga Autom.");
    EXPECT_EQ(zoneNumber(state(h).outputZone), 0);
    EXPECT_TRUE(h.shown("Text1"));
    EXPECT_TRUE(h.shown("Label41"));
    EXPECT_EQ(h.text("Frame10"), "Output  Gauss-Boaga");
    EXPECT_FALSE(h.shown("Label11"));
    EXPECT_TRUE(h.shown("Label36"));

    h.window().setOutputFields("1", "2", "3", "Ovest");
    h.pick(8, "Gauss-Boaga Ovest");
    EXPECT_FALSE(h.shown("Text1"));
    EXPECT_FALSE(h.shown("Label41"));
    EXPECT_EQ(zoneNumber(state(h).outputZone), 1);
    for (const char* name : {"Text8", "Text9", "Text10", "Text1"})
        EXPECT_TRUE(h.text(name).isEmpty()) << name;
    h.pick(8, "Gauss-Boaga Autom.");
    EXPECT_TRUE(h.shown("Text1"));
    EXPECT_EQ(zoneNumber(state(h).outputZone), 0);
}

TEST(OutputRules, FusoItaliaCaptionComesAndGoes) {
    WindowHarness h;
    h.pick(6, "ETRF89");
    h.pick(7, "Piane");
    EXPECT_EQ(h.text("Frame10"), "Output  UTM (ETRF89)");
    h.pick(10, "Fuso Italia");
    EXPECT_EQ(zoneNumber(state(h).outputZone), 4);
    EXPECT_EQ(h.text("Frame10"), "Output  Fuso Italia (ETRF89)");
    h.pick(10, "UTM 33");
    EXPECT_EQ(zoneNumber(state(h).outputZone), 2);
    EXPECT_EQ(h.text("Frame10"), "Output  UTM (ETRF89)");
}

struct OutputCase {
    RefSystem system;
    int kind;
    const char* caption;
    const char* zoneList;
    const char* label2;
    const char* label9;
};

const OutputCase kOutputCases[] = {
    {RefSystem::Roma40, 0, "Output  ROMA40", nullptr, "A quote geoidiche", "H"},
    {RefSystem::Ed50, 0, "Output  ED50", nullptr, "A quote geoidiche", "H"},
    {RefSystem::Etrf89, 0, "Output  ETRF89", nullptr, "A quote ellissoidiche", "h"},
    {RefSystem::Etrf2000, 0, "Output  ETRF2000", nullptr, "A quote ellissoidiche", "h"},
    {RefSystem::Roma40, 1, "Output  Gauss-Boaga", "Combo8", "A quote geoidiche", "H"},
    {RefSystem::Ed50, 1, "Output  UTM (ED50)", "Combo9", "A quote geoidiche", "H"},
    {RefSystem::Etrf89, 1, "Output  UTM (ETRF89)", "Combo10", "A quote ellissoidiche", "h"},
    {RefSystem::Etrf2000, 1, "Output  UTM (ETRF2000)", "Combo10", "A quote ellissoidiche", "h"},
};

TEST(OutputRules, KindThenSystemGiveCaptionZoneListAndHeightTexts) {
    WindowHarness h;
    for (const OutputCase& c : kOutputCases) {
        SCOPED_TRACE(c.caption);
        h.pick(7, c.kind);
        h.pick(6, c.system); // the system rule, with the kind already set
        EXPECT_EQ(state(h).outputSystem, c.system);
        EXPECT_EQ(dormal::positionOf(dormal::kindList(), state(h).outputKind), c.kind);
        EXPECT_EQ(zoneNumber(state(h).outputZone), 0);
        EXPECT_EQ(h.text("Frame10"), QString::fromUtf8(c.caption));
        EXPECT_EQ(h.text("Label2"), QString::fromUtf8(c.label2));
        EXPECT_EQ(h.text("Label9"), QString::fromUtf8(c.label9));
        for (const char* list : {"Combo8", "Combo9", "Combo10"})
            EXPECT_EQ(h.shown(list), c.zoneList != nullptr && qstrcmp(list, c.zoneList) == 0) << list;
        if (c.zoneList != nullptr) {
            EXPECT_EQ(h.find<QComboBox>(c.zoneList)->currentIndex(), 0);
        }
        EXPECT_EQ(h.shown("Text1"), c.kind == 1); // automatic zone: the run writes the zone there
        EXPECT_EQ(h.shown("Label41"), c.kind == 1);
    }
}

TEST(OutputRules, DataFileModeLeavesTheZoneFieldToTheKeyboardFrame) {
    WindowHarness h;
    h.pick(7, "Piane");
    h.pick(8, "Gauss-Boaga Est"); // Text1 hidden
    h.click("Option3_1");
    ASSERT_EQ(h.window().inputMode(), 1);
    h.pick(7, "Geografiche");
    h.pick(6, "ED50");
    EXPECT_TRUE(h.find<QWidget>("Text1")->isHidden());
    EXPECT_FALSE(h.shown("Frame8"));
}

// The EPSG code of each side follows every pick, and the start-up shows the first choice's.
TEST(OutputRules, EpsgCodesFollowThePicks) {
    WindowHarness h;
    EXPECT_EQ(h.text("LabelEpsgIn"), QStringLiteral("EPSG 4670"));  // ETRF89 geographic
    EXPECT_EQ(h.text("LabelEpsgOut"), QStringLiteral("EPSG 4806")); // ROMA40 geographic, from Monte Mario
    h.pick(1, "ROMA40");
    EXPECT_EQ(h.text("LabelEpsgIn"), QStringLiteral("EPSG 4806"));
    h.pick(2, "Piane");
    EXPECT_EQ(h.text("LabelEpsgIn"), QStringLiteral("EPSG 3003 / 3004"));
    h.pick(3, "Gauss-Boaga Est");
    EXPECT_EQ(h.text("LabelEpsgIn"), QStringLiteral("EPSG 3004"));
    h.pick(6, "ETRF2000");
    h.pick(7, "Piane");
    h.pick(10, "Fuso Italia");
    EXPECT_EQ(h.text("LabelEpsgOut"), QStringLiteral("EPSG 6875"));
}

// --- Binder: the window shows what the rules describe ------------------------------------

// A user's random walk through the lists and the box, replayed on a model of its own: after
// every step the window shows what the model describes (captions, lists, box, height row).
TEST(Binder, WindowFollowsTheModelOverARandomWalk) {
    WindowHarness h;
    dormal::ui::SelectionModel model;
    model.startUp();
    std::mt19937 random(20091);
    auto compare = [&](int step) {
        const dormal::ui::SelectionView& v = model.view();
        SCOPED_TRACE(testing::Message() << "step " << step);
        ASSERT_EQ(state(h), model.state());
        EXPECT_EQ(h.text("Frame9").toStdString(), v.inputCaption.value());
        EXPECT_EQ(h.text("Frame10").toStdString(), v.outputCaption.value());
        EXPECT_EQ(h.text("Label5").toStdString(), v.inputHeightCaption.value());
        EXPECT_EQ(h.text("Label2").toStdString(), v.outputHeightCaption.value());
        for (int n = 1; n <= 10; ++n) {
            const dormal::ui::ListView& list = v.lists[static_cast<std::size_t>(n)];
            EXPECT_EQ(h.combo(n)->currentIndex(), list.position) << "Combo" << n;
            EXPECT_EQ(h.combo(n)->isVisible(), list.visible.value()) << "Combo" << n;
        }
        EXPECT_EQ(h.shown("Frame5"), v.workingZoneVisible.value());
        EXPECT_EQ(check1(h)->isEnabled(), v.heightsBoxEnabled.value());
        EXPECT_EQ(check1(h)->isChecked(), v.heightsBoxTicked.value());
        EXPECT_EQ(h.enabled("Label5"), v.heightCaptionsEnabled.value());
        EXPECT_EQ(h.shown("Label34"), v.inputSymbols.value() == CoordKind::Plane);
        EXPECT_EQ(h.shown("Label11"), v.outputSymbols.value() == CoordKind::Geographic);
        EXPECT_EQ(h.shown("Text1"), v.zoneFieldVisible.value());
        EXPECT_EQ(h.shown("Text6"), v.inputHeightVisible.value());
        EXPECT_EQ(h.shown("Text7"), v.inputHeightEditVisible.value());
        EXPECT_EQ(h.shown("Text10"), v.outputHeightVisible.value());
        EXPECT_EQ(h.shown("Image4"), v.heightArrowVisible.value());
    };
    compare(0);
    for (int step = 1; step <= 150; ++step) {
        std::vector<int> choices; // 1..10 lists, 11 the box
        for (int n = 1; n <= 10; ++n)
            if (h.combo(n)->isVisible())
                choices.push_back(n);
        if (check1(h)->isEnabled())
            choices.push_back(11);
        const int n = choices[random() % choices.size()];
        if (n == 11) {
            const bool on = !check1(h)->isChecked();
            tick(h, on);
            model.setHeightsTicked(on);
        } else {
            const int p = static_cast<int>(random() % static_cast<unsigned>(h.combo(n)->count()));
            h.pick(n, p);
            model.setPosition(n, p);
        }
        compare(step);
        if (HasFailure())
            return;
    }
}

// --- Working zone ----------------------------------------------------------------------

class WorkingZoneFollowsInput : public ::testing::Test {
protected:
    void load(const char* fileName, const wz::PortionFile& portion) {
        wz::writeFile(QDir(h.folder()).filePath(QString::fromLatin1(fileName)), wz::portionText(portion));
        h.window().workingZone()->openFolder(h.folder());
        ASSERT_TRUE(h.window().workingZone()->pickFile(QString::fromLatin1(fileName)));
        ASSERT_NE(h.window().workingZone()->portion(), nullptr);
    }
    const dormal::ZoneLimits& limits() { return h.window().workingZone()->limits(); }
    WindowHarness h;
};

TEST_F(WorkingZoneFollowsInput, Zone33CornersMoveBetweenConventions) {
    h.pick(1, "ED50");
    load("4567.GK2", wz::sheetPortion()); // zone 33
    ASSERT_EQ(dormal::utmZoneNumber(limits().zone), 33);
    const double utmEast = limits().nwEast;
    const double utmSeEast = limits().seEast;
    const double north = limits().nwNorth;
    EXPECT_LT(utmEast, 1000000);

    h.pick(1, "ROMA40");
    EXPECT_DOUBLE_EQ(limits().nwEast, utmEast + 2020000);
    EXPECT_DOUBLE_EQ(limits().seEast, utmSeEast + 2020000);
    EXPECT_DOUBLE_EQ(limits().nwNorth, north);
    h.pick(1, "ROMA40"); // the same pick again changes nothing
    EXPECT_DOUBLE_EQ(limits().nwEast, utmEast + 2020000);
    h.pick(1, "ETRF89");
    EXPECT_DOUBLE_EQ(limits().nwEast, utmEast);
    EXPECT_DOUBLE_EQ(limits().seEast, utmSeEast);
}

TEST_F(WorkingZoneFollowsInput, LimitLabelsFollowTheInputKind) {
    load("4567.GK2", wz::sheetPortion());
    EXPECT_TRUE(h.shown("Label21"));
    EXPECT_TRUE(h.shown("Label28")); // longitude from Rome: geographic display only
    h.pick(2, "Piane");
    EXPECT_TRUE(h.shown("Label17"));
    EXPECT_FALSE(h.shown("Label28"));
    EXPECT_TRUE(h.text("Label17").endsWith(" km"));
    h.pick(2, "Geografiche");
    EXPECT_TRUE(h.shown("Label28"));
}

TEST(WorkingZone, SystemPickBeforeAnyPortionHidesTheLimitsAndKeepsCornersAtZero) {
    WindowHarness h;
    h.pick(1, "ROMA40");
    for (const char* name : {"Label17", "Label18", "Label19", "Label20", "Label21", "Label28", "Label39", "Label40"})
        EXPECT_FALSE(h.shown(name)) << name;
    const dormal::ZoneLimits& l = h.window().workingZone()->limits();
    EXPECT_EQ(l.nwEast, 0);
    EXPECT_EQ(l.seEast, 0);
    EXPECT_EQ(l.nwNorth, 0);
}

} // namespace
