// The selection rules without a window: events in, the described window out. The tables
// give, for every choice of system, kind and zone on each side, the captions, the visible
// lists, the positions and the codes a user must end up with.

#include <gtest/gtest.h>

#include <string>

#include "tests/support/print_enums.h"
#include "ui/selection_model.h"

namespace {

using dormal::CoordKind;
using dormal::RefSystem;
using dormal::SelectionState;
using dormal::Zone;
using dormal::ui::SelectionModel;
using dormal::ui::SelectionView;
using dormal::ui::ZoneNotice;

constexpr int kGeo = 0, kPlane = 1; // positions in Combo2 and Combo7

int systemPosition(RefSystem s) {
    return dormal::positionOf(dormal::systemList(), s);
}

bool listShown(const SelectionView& v, int n) {
    return v.lists[static_cast<std::size_t>(n)].visible.value();
}

// The one zone list of a side that shows (0 when none does).
int shownZoneList(const SelectionView& v, int first) {
    int shown = 0;
    for (int n = first; n < first + 3; ++n)
        if (listShown(v, n)) {
            EXPECT_EQ(shown, 0) << "two zone lists show: " << shown << " and " << n;
            shown = n;
        }
    return shown;
}

SelectionModel startedModel() {
    SelectionModel m;
    m.startUp();
    return m;
}

// --- Start-up ----------------------------------------------------------------------------

TEST(SelectionModelStartUp, LeavesTheFirstSelection) {
    SelectionModel m;
    const SelectionView& v = m.startUp();
    EXPECT_EQ(m.state().inputSystem, RefSystem::Etrf89);
    EXPECT_EQ(m.state().inputKind, CoordKind::Geographic);
    EXPECT_EQ(m.state().inputZone, Zone::OvestOr32) << "left by the Combo5 rule";
    EXPECT_EQ(m.state().outputSystem, RefSystem::Roma40);
    EXPECT_EQ(m.state().outputKind, CoordKind::Geographic);
    EXPECT_EQ(m.state().outputZone, Zone::Auto);

    EXPECT_EQ(v.inputCaption.value(), "Input  ETRF89");
    EXPECT_EQ(v.outputCaption.value(), "Output  ROMA40");
    EXPECT_EQ(v.inputHeightCaption.value(), "Da quote ellissoidiche");
    EXPECT_EQ(v.inputHeightSymbol.value(), "h");
    EXPECT_EQ(v.outputHeightCaption.value(), "A quote geoidiche");
    EXPECT_EQ(v.outputHeightSymbol.value(), "H");
    const int positions[] = {-1, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    for (int n = 1; n <= 10; ++n) {
        EXPECT_EQ(v.lists[static_cast<std::size_t>(n)].position, positions[n]) << "Combo" << n;
        EXPECT_EQ(listShown(v, n), n == 1 || n == 2 || n == 6 || n == 7) << "Combo" << n;
    }
    EXPECT_EQ(v.lists[1].items.size(), 4U);
    EXPECT_EQ(v.lists[10].items.back(), "Fuso Italia");
    EXPECT_TRUE(v.workingZoneVisible.value());
    EXPECT_TRUE(v.heightsBoxEnabled.value());
    EXPECT_FALSE(v.heightsBoxTicked.value());
    EXPECT_TRUE(v.heightCaptionsEnabled.value());
    for (const auto* w : {&v.inputHeightVisible, &v.inputHeightEditVisible, &v.outputHeightVisible,
                          &v.heightArrowVisible, &v.zoneFieldVisible})
        EXPECT_FALSE(w->value());
    EXPECT_EQ(v.inputSymbols.value(), CoordKind::Geographic);
    EXPECT_EQ(v.outputSymbols.value(), CoordKind::Geographic);
}

// --- Input side ----------------------------------------------------------------------------

struct InputCase {
    RefSystem system;
    int kind;            // Combo2 position, picked before the system
    int zonePick;        // position then picked in the shown zone list, -1 none
    const char* caption; // Frame9 afterwards
    int zoneList;        // the zone list shown (3, 4, 5) or 0
    int zoneNumber;      // inputZone, -1 when geographic (not checked)
};

// Kind first, then system, then zone: the system rule's own ETRF2000 captions survive only
// when no zone pick follows; Combo5's rule writes the two-blank form or the Fuso Italia one.
const InputCase kInputCases[] = {
    {RefSystem::Roma40, kGeo, -1, "Input  ROMA40", 0, -1},
    {RefSystem::Ed50, kGeo, -1, "Input  ED50", 0, -1},
    {RefSystem::Etrf89, kGeo, -1, "Input  ETRF89", 0, -1},
    {RefSystem::Etrf2000, kGeo, -1, "Input ETRF2000", 0, -1},
    {RefSystem::Roma40, kPlane, -1, "Input  Gauss-Boaga", 3, 0},
    {RefSystem::Roma40, kPlane, 0, "Input  Gauss-Boaga", 3, 0},
    {RefSystem::Roma40, kPlane, 1, "Input  Gauss-Boaga", 3, 1},
    {RefSystem::Roma40, kPlane, 2, "Input  Gauss-Boaga", 3, 2},
    {RefSystem::Ed50, kPlane, -1, "Input  UTM (ED50)", 4, 1},
    {RefSystem::Ed50, kPlane, 0, "Input  UTM (ED50)", 4, 1},
    {RefSystem::Ed50, kPlane, 1, "Input  UTM (ED50)", 4, 2},
    {RefSystem::Ed50, kPlane, 2, "Input  UTM (ED50)", 4, 3},
    {RefSystem::Etrf89, kPlane, -1, "Input  UTM (ETRF89)", 5, 1},
    {RefSystem::Etrf89, kPlane, 0, "Input  UTM (ETRF89)", 5, 1},
    {RefSystem::Etrf89, kPlane, 1, "Input  UTM (ETRF89)", 5, 2},
    {RefSystem::Etrf89, kPlane, 2, "Input  UTM (ETRF89)", 5, 3},
    {RefSystem::Etrf89, kPlane, 3, "Input  Fuso Italia (ETRF89)", 5, 4},
    {RefSystem::Etrf2000, kPlane, -1, "Input UTM(ETRF2000)", 5, 1},
    {RefSystem::Etrf2000, kPlane, 0, "Input  UTM (ETRF2000)", 5, 1},
    {RefSystem::Etrf2000, kPlane, 1, "Input  UTM (ETRF2000)", 5, 2},
    {RefSystem::Etrf2000, kPlane, 2, "Input  UTM (ETRF2000)", 5, 3},
    {RefSystem::Etrf2000, kPlane, 3, "Input  Fuso Italia (ETRF2000)", 5, 4},
};

TEST(SelectionModelInput, EveryChoiceGivesItsCaptionListAndZone) {
    for (const InputCase& c : kInputCases) {
        SCOPED_TRACE(testing::Message() << c.system << " kind " << c.kind << " zone pick " << c.zonePick);
        SelectionModel m = startedModel();
        m.setPosition(2, c.kind);
        const SelectionView& afterSystem = m.setPosition(1, systemPosition(c.system));
        EXPECT_TRUE(afterSystem.outputsEmptied);
        ASSERT_EQ(afterSystem.zoneNotices.size(), 1U);
        EXPECT_EQ(afterSystem.zoneNotices[0],
                  (ZoneNotice{ZoneNotice::Kind::InputSystemPicked, c.system,
                              c.kind == kPlane ? CoordKind::Plane : CoordKind::Geographic}));
        if (c.zonePick >= 0)
            m.setPosition(c.zoneList, c.zonePick);
        const SelectionView& v = m.view();

        EXPECT_EQ(m.state().inputSystem, c.system);
        EXPECT_EQ(m.state().inputKind, c.kind == kPlane ? CoordKind::Plane : CoordKind::Geographic);
        EXPECT_EQ(v.inputCaption.value(), c.caption);
        EXPECT_EQ(shownZoneList(v, 3), c.zoneList);
        if (c.zoneList != 0) {
            EXPECT_EQ(v.lists[static_cast<std::size_t>(c.zoneList)].position, c.zonePick < 0 ? 0 : c.zonePick);
        }
        if (c.zoneNumber >= 0) {
            EXPECT_EQ(static_cast<int>(m.state().inputZone), c.zoneNumber);
        }
        EXPECT_EQ(v.inputSymbols.value(), m.state().inputKind);
        const bool geoid = c.system == RefSystem::Roma40 || c.system == RefSystem::Ed50;
        EXPECT_EQ(v.inputHeightCaption.value(), geoid ? "Da quote geoidiche" : "Da quote ellissoidiche");
        EXPECT_EQ(v.inputHeightSymbol.value(), geoid ? "H" : "h");
        // The output side is not touched by input picks.
        EXPECT_EQ(v.outputCaption.value(), "Output  ROMA40");
        EXPECT_EQ(m.state().outputSystem, RefSystem::Roma40);
    }
}

TEST(SelectionModelInput, KindPickAfterSystemWritesTheTwoBlankCaptions) {
    // The same choices reached the other way round: system, then kind.
    const char* const geographic[] = {"Input  ROMA40", "Input  ED50", "Input  ETRF89", "Input  ETRF2000"};
    const char* const plane[] = {"Input  Gauss-Boaga", "Input  UTM (ED50)", "Input  UTM (ETRF89)",
                                 "Input  UTM (ETRF2000)"};
    for (RefSystem s : dormal::kAllSystems) {
        SCOPED_TRACE(testing::Message() << s);
        SelectionModel m = startedModel();
        m.setPosition(1, systemPosition(s));
        const SelectionView& toPlane = m.setPosition(2, kPlane);
        EXPECT_TRUE(toPlane.coordinatesEmptied);
        ASSERT_EQ(toPlane.zoneNotices.size(), 1U);
        EXPECT_EQ(toPlane.zoneNotices[0], (ZoneNotice{ZoneNotice::Kind::InputKindPicked, s, CoordKind::Plane}));
        EXPECT_EQ(m.view().inputCaption.value(), plane[static_cast<int>(s)]);
        EXPECT_EQ(static_cast<int>(m.state().inputZone), s == RefSystem::Roma40 ? 0 : 1);
        m.setPosition(2, kGeo);
        EXPECT_EQ(m.view().inputCaption.value(), geographic[static_cast<int>(s)]);
        EXPECT_EQ(shownZoneList(m.view(), 3), 0);
    }
}

TEST(SelectionModelInput, ZoneListsNeverShowForGeographicInput) {
    // Property over every sequence of two input picks.
    const int lists[] = {1, 2, 3, 4, 5};
    for (int a : lists)
        for (int pa = 0; pa < 4; ++pa)
            for (int b : lists)
                for (int pb = 0; pb < 4; ++pb) {
                    SelectionModel m = startedModel();
                    m.setPosition(a, pa);
                    m.setPosition(b, pb);
                    const int shown = shownZoneList(m.view(), 3);
                    if (m.state().inputKind == CoordKind::Geographic)
                        EXPECT_EQ(shown, 0) << a << ":" << pa << " " << b << ":" << pb;
                    else
                        EXPECT_NE(shown, 0) << a << ":" << pa << " " << b << ":" << pb;
                }
}

// --- Output side ---------------------------------------------------------------------------

struct OutputCase {
    RefSystem system;
    int kind;
    int zonePick;
    const char* caption;
    int zoneList;   // 8, 9, 10 or 0
    int zoneNumber; // outputZone
    bool zoneField; // Text1 and Label41 shown (keyboard mode)
};

const OutputCase kOutputCases[] = {
    {RefSystem::Roma40, kGeo, -1, "Output  ROMA40", 0, 0, false},
    {RefSystem::Ed50, kGeo, -1, "Output  ED50", 0, 0, false},
    {RefSystem::Etrf89, kGeo, -1, "Output  ETRF89", 0, 0, false},
    {RefSystem::Etrf2000, kGeo, -1, "Output  ETRF2000", 0, 0, false},
    {RefSystem::Roma40, kPlane, -1, "Output  Gauss-Boaga", 8, 0, true},
    {RefSystem::Roma40, kPlane, 0, "Output  Gauss-Boaga", 8, 0, true},
    {RefSystem::Roma40, kPlane, 1, "Output  Gauss-Boaga", 8, 1, false},
    {RefSystem::Roma40, kPlane, 2, "Output  Gauss-Boaga", 8, 2, false},
    {RefSystem::Ed50, kPlane, -1, "Output  UTM (ED50)", 9, 0, true},
    {RefSystem::Ed50, kPlane, 0, "Output  UTM (ED50)", 9, 0, true},
    {RefSystem::Ed50, kPlane, 1, "Output  UTM (ED50)", 9, 1, false},
    {RefSystem::Ed50, kPlane, 2, "Output  UTM (ED50)", 9, 2, false},
    {RefSystem::Ed50, kPlane, 3, "Output  UTM (ED50)", 9, 3, false},
    {RefSystem::Etrf89, kPlane, -1, "Output  UTM (ETRF89)", 10, 0, true},
    {RefSystem::Etrf89, kPlane, 0, "Output  UTM (ETRF89)", 10, 0, true},
    {RefSystem::Etrf89, kPlane, 1, "Output  UTM (ETRF89)", 10, 1, false},
    {RefSystem::Etrf89, kPlane, 3, "Output  UTM (ETRF89)", 10, 3, false},
    {RefSystem::Etrf89, kPlane, 4, "Output  Fuso Italia (ETRF89)", 10, 4, false},
    {RefSystem::Etrf2000, kPlane, -1, "Output  UTM (ETRF2000)", 10, 0, true},
    {RefSystem::Etrf2000, kPlane, 2, "Output  UTM (ETRF2000)", 10, 2, false},
    {RefSystem::Etrf2000, kPlane, 4, "Output  Fuso Italia (ETRF2000)", 10, 4, false},
};

TEST(SelectionModelOutput, EveryChoiceGivesItsCaptionListZoneAndZoneField) {
    for (const OutputCase& c : kOutputCases)
        for (int kindFirst = 0; kindFirst < 2; ++kindFirst) {
            SCOPED_TRACE(testing::Message() << c.system << " kind " << c.kind << " zone pick " << c.zonePick
                                            << (kindFirst ? " kind first" : " system first"));
            SelectionModel m = startedModel();
            if (kindFirst) {
                m.setPosition(7, c.kind);
                m.setPosition(6, systemPosition(c.system));
            } else {
                m.setPosition(6, systemPosition(c.system));
                m.setPosition(7, c.kind);
            }
            if (c.zonePick >= 0)
                m.setPosition(c.zoneList, c.zonePick);
            const SelectionView& v = m.view();
            EXPECT_EQ(m.state().outputSystem, c.system);
            EXPECT_EQ(m.state().outputKind, c.kind == kPlane ? CoordKind::Plane : CoordKind::Geographic);
            EXPECT_EQ(static_cast<int>(m.state().outputZone), c.zoneNumber);
            EXPECT_EQ(v.outputCaption.value(), c.caption);
            EXPECT_EQ(shownZoneList(v, 8), c.zoneList);
            EXPECT_EQ(v.zoneFieldVisible.value(), c.zoneField);
            EXPECT_EQ(v.outputSymbols.value(), m.state().outputKind);
            const bool geoid = c.system == RefSystem::Roma40 || c.system == RefSystem::Ed50;
            EXPECT_EQ(v.outputHeightCaption.value(), geoid ? "A quote geoidiche" : "A quote ellissoidiche");
            EXPECT_EQ(v.outputHeightSymbol.value(), geoid ? "H" : "h");
            EXPECT_EQ(v.inputCaption.value(), "Input  ETRF89");
            EXPECT_EQ(m.state().inputSystem, RefSystem::Etrf89);
        }
}

TEST(SelectionModelOutput, DataFileModeLeavesTheZoneFieldToTheKeyboardFrame) {
    SelectionModel m = startedModel();
    m.setPosition(7, kPlane);
    m.setPosition(8, 2); // zone field hidden
    m.setInputMode(1);
    m.setPosition(7, kGeo);
    const SelectionView& v = m.setPosition(6, systemPosition(RefSystem::Ed50));
    EXPECT_FALSE(v.zoneFieldVisible.written()) << "the system rule ends before the zone field in file mode";
    EXPECT_FALSE(v.zoneFieldVisible.value());
}

// --- Pair table and height fields ------------------------------------------------------------

enum class Entry { Same, GeoidPair, Open };
Entry expectedEntry(RefSystem in, RefSystem out) {
    if (in == out)
        return Entry::Same;
    if (in <= RefSystem::Ed50 && out <= RefSystem::Ed50)
        return Entry::GeoidPair;
    return Entry::Open;
}

TEST(SelectionModelPairs, EveryPairTickAndSide) {
    for (RefSystem in : dormal::kAllSystems)
        for (RefSystem out : dormal::kAllSystems)
            for (bool ticked : {false, true})
                for (int last : {1, 6}) {
                    SCOPED_TRACE(testing::Message()
                                 << "in " << in << " out " << out << " ticked " << ticked << " last Combo" << last);
                    SelectionModel m = startedModel(); // ETRF89 -> ROMA40: open
                    m.setPosition(1, systemPosition(in));
                    m.setPosition(6, systemPosition(out));
                    const Entry e = expectedEntry(in, out);
                    if (e == Entry::Open)
                        m.setHeightsTicked(ticked);
                    // The side picked last decides the height fields (its current item again).
                    const SelectionView& v = m.setPosition(last, systemPosition(last == 1 ? in : out));
                    const bool tick = e == Entry::Open && ticked;

                    EXPECT_EQ(v.workingZoneVisible.value(), e != Entry::Same);
                    EXPECT_EQ(v.heightsBoxEnabled.value(), e == Entry::Open);
                    EXPECT_EQ(v.heightCaptionsEnabled.value(), e == Entry::Open);
                    EXPECT_EQ(v.heightsBoxTicked.value(), tick);
                    EXPECT_EQ(v.inputHeightVisible.value(), v.outputHeightVisible.value());
                    if (e != Entry::Open) {
                        EXPECT_FALSE(v.inputHeightVisible.value());
                    } else if (tick) {
                        EXPECT_TRUE(v.inputHeightVisible.value());
                    } else {
                        // Unticked: only a geoid-height side picked against ETRF2000 shows them.
                        const RefSystem own = last == 1 ? in : out;
                        const RefSystem other = last == 1 ? out : in;
                        EXPECT_EQ(v.inputHeightVisible.value(), own <= RefSystem::Ed50 && other == RefSystem::Etrf2000);
                    }
                    // The state never carries the tick.
                    EXPECT_EQ(m.state().inputSystem, in);
                    EXPECT_EQ(m.state().outputSystem, out);
                }
}

TEST(SelectionModelPairs, UntickFromARuleHidesTheWholeHeightRowOnlyWhenItWasTicked) {
    SelectionModel m = startedModel();
    m.setHeightsTicked(true);
    const SelectionView& ticked = m.view();
    for (const auto* w : {&ticked.inputHeightVisible, &ticked.inputHeightEditVisible, &ticked.outputHeightVisible,
                          &ticked.heightArrowVisible})
        EXPECT_TRUE(w->value());
    const SelectionView& same = m.setPosition(6, systemPosition(RefSystem::Etrf89)); // same systems
    EXPECT_FALSE(same.heightsBoxTicked.value());
    EXPECT_TRUE(same.inputHeightEditVisible.written());
    EXPECT_FALSE(same.inputHeightEditVisible.value());
    EXPECT_FALSE(same.heightArrowVisible.value());

    // Already unticked: the box's rule does not run again, so the edit field is left alone.
    const SelectionView& again = m.setPosition(6, systemPosition(RefSystem::Etrf89));
    EXPECT_FALSE(again.inputHeightEditVisible.written());
    EXPECT_FALSE(again.heightArrowVisible.written());
}

TEST(SelectionModelPairs, HeightBoxChangesNoCode) {
    SelectionModel m = startedModel();
    const SelectionState before = m.state();
    m.setHeightsTicked(true);
    m.setHeightsTicked(false);
    EXPECT_EQ(m.state(), before);
}

// --- What an event writes ---------------------------------------------------------------------

// Regression: picking a zone or ticking the height box left results of the previous choice
// in the output fields.
TEST(SelectionModelEvents, EveryChangeOfTheChoiceEmptiesTheOutputs) {
    for (int n = 1; n <= 10; ++n) {
        SelectionModel m = startedModel();
        m.setPosition(2, kPlane);
        m.setPosition(7, kPlane);
        const std::size_t items = m.view().lists[static_cast<std::size_t>(n)].items.size();
        for (int p = 0; p < static_cast<int>(items); ++p) {
            const SelectionView& v = m.setPosition(n, p);
            EXPECT_TRUE(v.outputsEmptied) << "Combo" << n << " at " << p;
            EXPECT_EQ(v.coordinatesEmptied, n == 2) << "only the input kind empties the typed point";
        }
    }
    SelectionModel m = startedModel();
    EXPECT_TRUE(m.setHeightsTicked(true).outputsEmptied);
    EXPECT_TRUE(m.setHeightsTicked(false).outputsEmptied);
}

TEST(SelectionModelEvents, OnlyTheInputSystemAndKindTellTheWorkingZone) {
    for (int n = 3; n <= 10; ++n) {
        SelectionModel m = startedModel();
        EXPECT_TRUE(m.setPosition(n, 0).zoneNotices.empty()) << "Combo" << n;
    }
    SelectionModel m = startedModel();
    EXPECT_TRUE(m.setHeightsTicked(true).zoneNotices.empty());
}

TEST(SelectionModelEvents, ZoneAndKindPicksLeaveTheHeightRowAlone) {
    // The typed fields may be editing the height: rules that do not decide it must not
    // write its fields.
    SelectionModel m = startedModel();
    m.setHeightsTicked(true);
    for (int n : {2, 3, 4, 5, 7, 8, 9, 10}) {
        const SelectionView& v = m.setPosition(n, 1);
        EXPECT_FALSE(v.inputHeightVisible.written()) << "Combo" << n;
        EXPECT_FALSE(v.inputHeightEditVisible.written()) << "Combo" << n;
        EXPECT_FALSE(v.heightArrowVisible.written()) << "Combo" << n;
        EXPECT_FALSE(v.heightsBoxTicked.written()) << "Combo" << n;
    }
}

TEST(SelectionModelEvents, APositionOutsideTheListChangesNoCode) {
    for (int n = 1; n <= 10; ++n) {
        SelectionModel m = startedModel();
        const SelectionState before = m.state();
        const SelectionView& v = m.setPosition(n, 99);
        EXPECT_EQ(v.lists[static_cast<std::size_t>(n)].position, -1);
        EXPECT_EQ(m.state(), before) << "Combo" << n;
    }
}


// The EPSG code beside each side's lists: one code for a fixed zone or a geographic choice,
// every code the automatic zone picks from, and a plain word where EPSG names no code.
TEST(SelectionModelEpsg, CaptionForEveryKindOfChoice) {
    const struct {
        RefSystem system;
        CoordKind kind;
        Zone zone;
        const char* caption;
    } cases[] = {
        {RefSystem::Roma40, CoordKind::Geographic, Zone::OvestOr32, "EPSG 4806"}, // longitudes from Monte Mario
        {RefSystem::Roma40, CoordKind::Plane, Zone::OvestOr32, "EPSG 3003"},
        {RefSystem::Roma40, CoordKind::Plane, Zone::Auto, "EPSG 3003 / 3004"},
        {RefSystem::Ed50, CoordKind::Plane, Zone::Utm34, "EPSG 23034"},
        {RefSystem::Ed50, CoordKind::Plane, Zone::Auto, "EPSG 23032 / 23033 / 23034"},
        {RefSystem::Etrf89, CoordKind::Plane, Zone::Italia, "EPSG: nessun codice"},
        {RefSystem::Etrf2000, CoordKind::Plane, Zone::Italia, "EPSG 6875"},
        {RefSystem::Etrf2000, CoordKind::Geographic, Zone::Auto, "EPSG 6706"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dormal::ui::epsgCaption(c.system, c.kind, c.zone), c.caption)
            << static_cast<int>(c.system) << ' ' << static_cast<int>(c.kind) << ' ' << static_cast<int>(c.zone);
    }
}

} // namespace
