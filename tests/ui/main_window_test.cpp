// The main window as a whole: input mode buttons, "Esegui" handing the typed point to the
// run, and what the run writes back.

#include <QCheckBox>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <gtest/gtest.h>

#include "conversion/message.h"
#include "support_window.h"
#include "tests/support/print_enums.h"
#include "ui/coordinate_fields.h"
#include "ui/selection_binder.h"

namespace {

using dormal::CoordKind;
using dormal::RefSystem;
using dormal::Zone;

using uitest::WindowHarness;

std::string lastMessage(WindowHarness& h) {
    return h.dialogs().messages.empty() ? std::string() : dormal::joinedText(h.dialogs().messages.back());
}

TEST(InputMode, FileModeSwapsTheFramesAndShowsTheExampleButton) {
    WindowHarness h;
    h.click("Option3_1");
    EXPECT_EQ(h.window().inputMode(), 1);
    EXPECT_FALSE(h.shown("Frame8"));
    EXPECT_TRUE(h.shown("Frame3"));
    EXPECT_TRUE(h.shown("Command3"));

    h.window().setExecuteEnabled(false); // as a finished data-file run leaves it
    h.click("Option3_1");
    EXPECT_FALSE(h.enabled("Command1")) << "file mode leaves Esegui as it is";

    h.click("Option3_0");
    EXPECT_EQ(h.window().inputMode(), 0);
    EXPECT_TRUE(h.shown("Frame8"));
    EXPECT_FALSE(h.shown("Frame3"));
    EXPECT_FALSE(h.shown("Command3"));
    EXPECT_TRUE(h.enabled("Command1")) << "keyboard mode enables Esegui";
}

TEST(Execute, CommonChecksComeFirst) {
    WindowHarness h;
    h.click("Command1"); // ETRF89 -> ROMA40, no grid portion
    EXPECT_EQ(lastMessage(h), "NON E' STATO SELEZIONATO  \nNESSUN FILE CONTENENTE PORZIONI DI GRIGLIA");
    h.pick(6, "ETRF89");
    EXPECT_FALSE(h.find<QCheckBox>("Check1")->isEnabled());
    h.click("Command1");
    EXPECT_EQ(lastMessage(h), "TRASFORMAZIONE NON NECESSARIA");
    EXPECT_EQ(h.dialogs().messages.size(), 2u);
}

TEST(Execute, EmptyFirstFieldIsRefusedAndFocused) {
    WindowHarness h;
    h.pick(6, "ETRF2000");
    h.pick(1, "ETRF2000");
    h.pick(2, "Piane");
    h.pick(7, "Piane");
    h.click("Command1");
    EXPECT_EQ(lastMessage(h), "INSERIRE LE COORDINATE  \nDEL PUNTO DA CALCOLARE");
    EXPECT_TRUE(h.shown("Text3"));
    EXPECT_TRUE(h.field("Text3")->hasFocus());
}

TEST(Execute, APointStillBeingTypedIsTakenAndConvertedWithoutGrid) {
    WindowHarness h;
    // ETRF2000 UTM 32 to ETRF2000 UTM automatic: no grid, through latitude and longitude.
    h.pick(1, "ETRF2000");
    h.pick(2, "Piane");
    h.pick(6, "ETRF2000");
    h.pick(7, "Piane");
    h.typeInto("Text2", "Text3", "5000000");
    QTest::keyClick(h.field("Text3"), Qt::Key_Return);
    QTest::keyClicks(h.field("Text5"), "500000"); // still typing when Esegui is pressed
    h.click("Command1");
    EXPECT_TRUE(h.dialogs().messages.empty()) << lastMessage(h);
    EXPECT_DOUBLE_EQ(h.window().fields().values().inputEast, 500000);
    // On the central meridian of zone 32 the point stays in zone 32 with the same coordinates.
    const QString sep = QLocale().decimalPoint();
    EXPECT_EQ(h.text("Text8"), "5 000 000" + sep + "000");
    EXPECT_EQ(h.text("Text9"), " 500 000" + sep + "000"); // the pattern's first blank stands
    EXPECT_EQ(h.text("Text1"), "32");
    EXPECT_TRUE(h.text("Text10").isEmpty()) << "heights not asked for";
}

TEST(Execute, RunInputsAreASnapshotOfTheWindow) {
    WindowHarness h;
    h.pick(1, "ROMA40");
    h.pick(6, "ETRF89");
    h.click("Check1");
    h.typeInto("Text2", "Text3", "41.5");
    QTest::keyClick(h.field("Text3"), Qt::Key_Return);
    QTest::keyClicks(h.field("Text5"), "-0.3");
    QTest::keyClick(h.field("Text5"), Qt::Key_Return);
    const dormal::ui::RunInputs in = h.window().runInputs();
    EXPECT_EQ(in.sel.inputSystem, dormal::RefSystem::Roma40);
    EXPECT_EQ(in.sel.outputSystem, dormal::RefSystem::Etrf89);
    EXPECT_TRUE(in.heights);
    EXPECT_DOUBLE_EQ(in.inputLat, 41.5);
    EXPECT_DOUBLE_EQ(in.inputLon, -0.3);
    EXPECT_FALSE(in.firstFieldEmpty);
    EXPECT_FALSE(in.fileSelected);
    EXPECT_EQ(in.portion, nullptr);
    EXPECT_EQ(in.inputMode, 0);
    EXPECT_EQ(in.decimalSeparator, QLocale().decimalPoint().at(0));
}

TEST(RunView, ProgressBarAndBusyPointer) {
    WindowHarness h;
    auto* bar = h.find<QProgressBar>("ProgressBar1");
    h.window().setProgressVisible(true, 50000);
    EXPECT_TRUE(bar->isVisible());
    EXPECT_EQ(bar->maximum(), 50000);
    h.window().setProgressValue(1234);
    EXPECT_EQ(bar->value(), 1234);
    h.window().setProgressVisible(false, 0);
    EXPECT_FALSE(bar->isVisible());
    h.window().setBusy(true);
    EXPECT_NE(QApplication::overrideCursor(), nullptr);
    h.window().setBusy(false);
    EXPECT_EQ(QApplication::overrideCursor(), nullptr);
}

} // namespace
