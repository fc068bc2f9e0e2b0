#pragma once
// The rules that keep the ten selection lists, the height box Check1 and the rest of the
// main window consistent with the choice of input and output side.
//
// A list's rule runs when the user picks an item (even the current one) and when code sets
// the list's position (even to the position it already has): `setPosition` sets it with the
// list's signals blocked and then runs the rule itself, at once and to its end, before the
// caller goes on. Rules nest in that way (the system rule runs the zone rule of the list it
// shows), and the final captions and codes depend on that order. Check1's rule runs when
// its tick changes, by the user or from code.

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>

#include "geodesy/systems.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace dormal::ui {

class CoordinateFields;

// The controls the rules read and change (all owned by the main window).
struct SelectionControls {
    std::array<QComboBox*, 11> combo{}; // combo[1] .. combo[10] = Combo1 .. Combo10; [0] unused
    QCheckBox* check1 = nullptr;        // "Trasforma le quote"
    QGroupBox* frame9 = nullptr;        // input point frame, caption "Input  ..."
    QGroupBox* frame10 = nullptr;       // output frame, caption "Output  ..."
    QWidget* frame5 = nullptr;          // working zone
    QLabel* label5 = nullptr;           // input height caption
    QLabel* label2 = nullptr;           // output height caption
    QLabel* label6 = nullptr;           // input height symbol
    QLabel* label9 = nullptr;           // output height symbol
    QLabel* label7 = nullptr;           // input phi
    QLabel* label8 = nullptr;           // input lambda
    QLabel* label34 = nullptr;          // input "N ="
    QLabel* label35 = nullptr;          // input "E ="
    QLabel* label11 = nullptr;          // output phi
    QLabel* label12 = nullptr;          // output lambda
    QLabel* label36 = nullptr;          // output "N ="
    QLabel* label37 = nullptr;          // output "E ="
    QLabel* label41 = nullptr;          // "Fuso"
    QLineEdit* text1 = nullptr;         // output zone
    QLineEdit* text8 = nullptr;         // output first coordinate
    QLineEdit* text9 = nullptr;         // output second coordinate
    QLineEdit* text10 = nullptr;        // output height
    QWidget* image4 = nullptr;          // arrow between the height captions
};

// What the rules ask of the parts they do not own.
struct SelectionHooks {
    // Working zone: corners into the new input system's convention, then the limit labels.
    std::function<void(RefSystem inputSystem, CoordKind inputKind)> inputSystemPicked;
    // Working zone: limit labels for the new input kind.
    std::function<void(RefSystem inputSystem, CoordKind inputKind)> inputKindPicked;
    // inputMode: 0 keyboard, 1 data file.
    std::function<std::int16_t()> inputMode;
};

class SelectionRules : public QObject {
    Q_OBJECT
public:
    // Connects the user's picks (QComboBox::activated) and Check1's toggles to the rules.
    SelectionRules(const SelectionControls& controls, CoordinateFields& fields, SelectionHooks hooks,
                   QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(SelectionRules)

    const SelectionState& state() const { return state_; }
    // Start-up only: the variable is set before the list's position, as the first choice does.
    SelectionState& mutableState() { return state_; }

    // Sets list `n` (1..10) to `position` and runs its rule.
    void setPosition(int n, int position);
    // Runs the rule of list `n` for its current position (what a pick does).
    void runListRule(int n);

    // The rules, by list.
    void inputSystemRule();     // Combo1
    void inputKindRule();       // Combo2
    void inputZoneRule(int n);  // Combo3, Combo4, Combo5
    void outputSystemRule();    // Combo6
    void outputKindRule();      // Combo7
    void outputZoneRule(int n); // Combo8, Combo9, Combo10
    void heightsRule();         // Check1

    // Empties Text8, Text9, Text10 and Text1.
    void clearOutputFields();

private:
    QComboBox* combo(int n) const { return c_.combo[static_cast<std::size_t>(n)]; }
    void applyPairTable();
    void setHeightFieldsVisible(bool visible); // Text6 and Text10
    void hideInputZoneLists();
    void hideOutputZoneLists();
    void showOnlyInputZoneList(int n);
    std::int16_t inputMode() const;

    SelectionControls c_;
    CoordinateFields& fields_;
    SelectionHooks hooks_;
    SelectionState state_;
};

} // namespace dormal::ui
