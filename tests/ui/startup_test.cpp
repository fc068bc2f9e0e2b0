// The main window right after start-up: what a user sees and what a run would read.

#include <QApplication>
#include <QCheckBox>
#include <QRadioButton>

#include <gtest/gtest.h>

#include "support_window.h"
#include "tests/support/print_enums.h"
#include "ui/coordinate_fields.h"
#include "ui/file_choice_frame.h"
#include "ui/selection_binder.h"
#include "ui/working_zone_panel.h"

namespace {

using dormal::CoordKind;
using dormal::RefSystem;
using dormal::Zone;

using uitest::WindowHarness;

TEST(StartUp, SelectionStateIsTheFirstChoice) {
    WindowHarness h;
    const dormal::SelectionState& s = h.window().rules().state();
    // UTM 32 is what the Combo5 rule leaves; neither zone matters while both kinds are geographic.
    EXPECT_EQ(s.inputSystem, dormal::RefSystem::Etrf89);
    EXPECT_EQ(s.inputKind, dormal::CoordKind::Geographic);
    EXPECT_EQ(s.inputZone, Zone::OvestOr32);
    EXPECT_EQ(s.outputSystem, dormal::RefSystem::Roma40);
    EXPECT_EQ(s.outputKind, dormal::CoordKind::Geographic);
    EXPECT_EQ(s.outputZone, Zone::Auto);
    EXPECT_EQ(h.window().inputMode(), 0);
    EXPECT_EQ(h.window().fileChoice()->dataFileType(), dormal::DataFileType::Excel);
    EXPECT_TRUE(h.window().fileChoice()->dataFilePath().isEmpty());
    EXPECT_TRUE(h.window().fileChoice()->resultFilePath().isEmpty());
    EXPECT_EQ(h.window().workingZone()->portion(), nullptr);
    EXPECT_EQ(h.window().workingZone()->limits().zone, Zone::Auto);
}

struct ListCase {
    int combo;
    std::vector<const char*> items;
    int position;
    bool shown;
};

// Items in order, the position left by start-up, and whether the list shows.
const ListCase kLists[] = {
    {1, {"ROMA40", "ED50", "ETRF89", "ETRF2000"}, 2, true},
    {2, {"Geografiche", "Piane"}, 0, true},
    {3, {"Gauss-Boaga", "Gauss-Boaga Ovest", "Gauss-Boaga Est"}, 0, false},
    {4, {"UTM 32", "UTM 33", "UTM 34"}, 0, false},
    {5, {"UTM 32", "UTM 33", "UTM 34", "Fuso Italia"}, 0, false},
    {6, {"ROMA40", "ED50", "ETRF89", "ETRF2000"}, 0, true},
    {7, {"Geografiche", "Piane"}, 0, true},
    {8, {"Gauss-Boaga Autom.", "Gauss-Boaga Ovest", "Gauss-Boaga Est"}, 0, false},
    {9, {"UTM Automatico", "UTM 32", "UTM 33", "UTM 34"}, 0, false},
    {10, {"UTM Automatico", "UTM 32", "UTM 33", "UTM 34", "Fuso Italia"}, 0, false},
};

TEST(StartUp, ListsHoldTheirItemsAtTheFirstChoice) {
    WindowHarness h;
    for (const ListCase& c : kLists) {
        SCOPED_TRACE("Combo" + std::to_string(c.combo));
        QComboBox* combo = h.combo(c.combo);
        ASSERT_EQ(combo->count(), static_cast<int>(c.items.size()));
        for (int i = 0; i < combo->count(); ++i)
            EXPECT_EQ(combo->itemText(i), QString::fromUtf8(c.items[static_cast<std::size_t>(i)]));
        EXPECT_EQ(combo->currentIndex(), c.position);
        EXPECT_EQ(combo->isVisible(), c.shown);
        EXPECT_FALSE(combo->isEditable()) << "pick-only lists";
    }
}

struct TextCase {
    const char* control;
    const char* text;
};

const TextCase kTexts[] = {
    {"Frame1", "Dal Sistema"},
    {"Frame12", "Al Sistema"},
    {"Frame9", "Input  ETRF89"}, // not "Input  UTM (ETRF89)", which the Combo5 rule leaves
    {"Frame10", "Output  ROMA40"},
    {"Frame8", "Input/Output da tastiera"},
    {"Frame4", "Input/Output"},
    {"Frame5", "Zona di lavoro"},
    {"Frame3", "Scelta dei file "},
    {"Label5", "Da quote ellissoidiche"},
    {"Label6", "h"},
    {"Label2", "A quote geoidiche"},
    {"Label9", "H"},
    {"Label3", "Coordinate"},
    {"Label15", "Coordinate"},
    {"Label14", "Proiezione"},
    {"Label38", "Proiezione"},
    {"Label34", "N ="},
    {"Label35", "E ="},
    {"Label36", "N ="},
    {"Label37", "E ="},
    {"Label41", "Fuso"},
    {"Check1", "Trasforma le quote"},
    {"Option3_0", "Da tastiera"},
    {"Option3_1", "Da file"},
    {"Command1", "Esegui"},
    {"Command2", "Esci"},
    {"Command3", "Esempio file dati"},
    {"Command4", "Informazioni"},
    {"Text1", ""},
    {"Text2", ""},
    {"Text3", ""},
    {"Text4", ""},
    {"Text5", ""},
    {"Text8", ""},
    {"Text9", ""},
    {"Text10", ""},
};

TEST(StartUp, CaptionsAndFields) {
    WindowHarness h;
    for (const TextCase& c : kTexts) {
        SCOPED_TRACE(c.control);
        EXPECT_EQ(h.text(c.control), QString::fromUtf8(c.text));
    }
}

struct ShownCase {
    const char* control;
    bool shown;
};

const ShownCase kShown[] = {
    // phi and lambda on both sides, "N =" and "E =" hidden
    {"Label7", true},
    {"Label8", true},
    {"Label11", true},
    {"Label12", true},
    {"Label34", false},
    {"Label35", false},
    {"Label36", false},
    {"Label37", false},
    // no height field, no arrow between the height captions
    {"Text6", false},
    {"Text7", false},
    {"Text10", false},
    {"Image4", false},
    // display fields shown, edit fields behind them hidden
    {"Text2", true},
    {"Text4", true},
    {"Text3", false},
    {"Text5", false},
    {"Text1", false},
    {"Label41", false},
    {"Frame5", true}, // the systems differ
    {"Frame8", true},
    {"Frame9", true},
    {"Frame10", true},
    {"Frame3", false},
    {"Command3", false},
    {"Command1", true},
    {"Command2", true},
    {"Command4", true},
    {"ProgressBar1", false},
    {"Image5", true},
    {"Check1", true},
};

TEST(StartUp, WhatIsShown) {
    WindowHarness h;
    for (const ShownCase& c : kShown) {
        SCOPED_TRACE(c.control);
        EXPECT_EQ(h.shown(c.control), c.shown);
    }
}

TEST(StartUp, HeightsAndModes) {
    WindowHarness h;
    auto* check1 = h.find<QCheckBox>("Check1");
    EXPECT_TRUE(check1->isEnabled());
    EXPECT_FALSE(check1->isChecked());
    EXPECT_TRUE(h.enabled("Label5"));
    EXPECT_TRUE(h.enabled("Label2"));
    EXPECT_TRUE(h.enabled("Command1"));
    EXPECT_TRUE(h.find<QRadioButton>("Option3_0")->isChecked());
    EXPECT_FALSE(h.find<QRadioButton>("Option3_1")->isChecked());
}

TEST(StartUp, TooltipsAskForSexagesimalLatitudeAndLongitude) {
    WindowHarness h;
    for (const char* name : {"Text3", "Text2"})
        EXPECT_EQ(h.field(name)->toolTip(), QStringLiteral("Latitudine in sessagesimali [gg.ppssdddd]")) << name;
    for (const char* name : {"Text5", "Text4"})
        EXPECT_EQ(h.field(name)->toolTip(), QStringLiteral("Longitudine in sessagesimali [gg.ppssdddd]")) << name;
    for (const char* name : {"Text7", "Text6"})
        EXPECT_EQ(h.field(name)->toolTip(), QStringLiteral("Quota in metri")) << name;
}

TEST(StartUp, ControlsKeepTheirArrangement) {
    WindowHarness h;
    auto at = [&h](const char* name) {
        QWidget* w = h.find<QWidget>(name);
        return QRect(w->mapTo(&h.window(), QPoint(0, 0)), w->size());
    };
    // Choice frames side by side at one height, the arrow between them; the working zone on
    // their right; the keyboard frame below both, and the file frame in its place.
    EXPECT_EQ(at("Frame1").top(), at("Frame12").top());
    EXPECT_LT(at("Frame1").right(), at("Image5").left());
    EXPECT_LT(at("Image5").right(), at("Frame12").left());
    EXPECT_LT(at("Frame12").right(), at("Frame5").left());
    EXPECT_LT(at("Banner").bottom(), at("Frame1").top());
    EXPECT_LT(at("Frame1").bottom(), at("Frame2").top());
    EXPECT_EQ(at("Frame2").top(), at("Frame6").top());
    EXPECT_LT(at("Frame2").bottom(), at("Check1").top());
    EXPECT_LT(at("Check1").bottom(), at("Frame4").top());
    EXPECT_LT(at("Frame4").bottom(), at("Frame8").top());
    EXPECT_LT(at("Frame5").bottom(), at("Frame8").top());
    EXPECT_LT(at("Frame9").right(), at("Frame10").left());
    // Buttons in a row below the keyboard frame, "Esegui" before "Esci".
    EXPECT_LT(at("Frame8").bottom(), at("Command1").top());
    EXPECT_EQ(at("Command1").top(), at("Command2").top());
    EXPECT_LT(at("Command1").right(), at("Command2").left());
    // The three zone lists of a side share one place. Only the shown one is laid out again
    // as the window changes; a hidden one keeps its last size, so the place is its corner.
    EXPECT_EQ(h.combo(3)->geometry().topLeft(), h.combo(4)->geometry().topLeft());
    EXPECT_EQ(h.combo(4)->geometry().topLeft(), h.combo(5)->geometry().topLeft());
    EXPECT_EQ(h.combo(8)->geometry().topLeft(), h.combo(10)->geometry().topLeft());
    // Each edit field lies exactly over its display field.
    EXPECT_EQ(h.field("Text3")->geometry(), h.field("Text2")->geometry());
    EXPECT_EQ(h.field("Text7")->geometry(), h.field("Text6")->geometry());
    // Every control fits inside the window.
    const QRect client = h.window().rect();
    for (const char* name :
         {"Frame1", "Frame12", "Frame5", "Frame8", "Command1", "Command2", "Command3", "Command4", "ProgressBar1"})
        EXPECT_TRUE(client.contains(at(name))) << name;
    // In file mode the file frame takes the keyboard frame's place.
    const QRect keyboardFrame = at("Frame8");
    h.click("Option3_1");
    QApplication::processEvents();
    EXPECT_EQ(at("Frame3"), keyboardFrame);
}

} // namespace
