#pragma once
// Ties the selection rules (SelectionModel) to the main window's controls: a user's pick in
// one of the ten lists (QComboBox::activated) or a toggle of Check1 goes to the model, and
// what the model says the window looks like afterwards is applied to the controls. Only the
// items the rules wrote are applied; the rest keep what they show.

#include <QObject>
#include <array>
#include <cstdint>
#include <functional>

#include "geodesy/systems.h"
#include "ui/selection_model.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QWidget;

namespace dormal::ui {

class CoordinateFields;

// The controls the rules change (all owned by the main window).
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
    QLabel* inputEpsg = nullptr;        // EPSG code of the input choice (may be null)
    QLabel* outputEpsg = nullptr;       // EPSG code of the output choice (may be null)
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

class SelectionBinder : public QObject {
    Q_OBJECT
public:
    // Connects the user's picks (QComboBox::activated) and Check1's toggles to the model.
    SelectionBinder(const SelectionControls& controls, CoordinateFields& fields, SelectionHooks hooks,
                    QObject* parent = nullptr);
    Q_DISABLE_COPY_MOVE(SelectionBinder)

    const SelectionModel& model() const { return model_; }
    const SelectionState& state() const { return model_.state(); }
    // Start-up only: the variable is set before the list's position, as the first choice does.
    SelectionState& mutableState() { return model_.mutableState(); }

    // Sets list `n` (1..10) to `position` and runs its rule, as code in the window does.
    void setPosition(int n, int position);

    // Empties Text8, Text9, Text10 and Text1.
    void clearOutputFields();
    // The EPSG codes of the current choice into their labels (after every event, and once
    // the start-up has set the choice).
    void showEpsgCodes();

private:
    QComboBox* combo(int n) const { return c_.combo[static_cast<std::size_t>(n)]; }
    void syncInputMode();
    void apply(const SelectionView& view);

    SelectionControls c_;
    CoordinateFields& fields_;
    SelectionHooks hooks_;
    SelectionModel model_;
};

} // namespace dormal::ui
