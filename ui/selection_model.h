#pragma once
// The rules that keep the ten selection lists, the height box Check1 and the rest of the
// main window consistent with the choice of input and output side, as a plain class: an
// event goes in (list n set to position p by the user or by code, Check1 ticked or
// unticked, the input mode changed), a description of the window comes out.
//
// A list's rule runs when the user picks an item (even the current one) and when code sets
// the list's position (even to the position it already has). Rules nest: the system rule
// sets the zone list it shows to its first item, which runs that list's rule at once and to
// its end before the system rule goes on; unticking Check1 from a rule runs Check1's rule
// the same way. The final captions and codes depend on that order.
//
// Every event empties the output fields (Text8, Text9, Text10, Text1), the zone picks and
// Check1 included: a result shown beside a choice it was not computed for would be misread.
//
// No widget here: SelectionBinder applies a description to the window's controls.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "conversion/selection_words.h"
#include "geodesy/systems.h"

namespace dormal::ui {

// One item of the window that the rules write: its value, and whether the last event wrote
// it. Items an event did not write keep their value, and the binder leaves their control
// alone (another part of the window may have changed it meanwhile, as the typed fields do
// with the height pair while it is edited).
template <class T> class Written {
public:
    Written() = default;
    explicit Written(T value) : value_(std::move(value)) {}
    const T& value() const { return value_; }
    bool written() const { return written_; }
    void set(T value) {
        value_ = std::move(value);
        written_ = true;
    }
    void forget() { written_ = false; }

private:
    T value_{};
    bool written_ = false;
};

// One of the ten lists (Combo1 .. Combo10).
struct ListView {
    std::vector<std::string_view> items; // texts, in order
    int position = 0;                    // current item, -1 none
    Written<bool> visible{true};
};

// What the working zone must be told (the window's SelectionHooks).
struct ZoneNotice {
    enum class Kind { InputSystemPicked, InputKindPicked };
    Kind kind;
    RefSystem inputSystem;
    CoordKind inputKind;
    friend bool operator==(const ZoneNotice&, const ZoneNotice&) = default;
};

// The window as the rules leave it. Control names in the comments.
struct SelectionView {
    std::array<ListView, 11> lists; // [1] .. [10] = Combo1 .. Combo10; [0] unused

    Written<std::string> inputCaption;        // Frame9, "Input  ..."
    Written<std::string> outputCaption;       // Frame10, "Output  ..."
    Written<std::string> inputHeightCaption;  // Label5, "Da quote ..."
    Written<std::string> inputHeightSymbol;   // Label6, "H" or "h"
    Written<std::string> outputHeightCaption; // Label2, "A quote ..."
    Written<std::string> outputHeightSymbol;  // Label9

    Written<bool> workingZoneVisible{true};    // Frame5
    Written<bool> heightsBoxEnabled{true};     // Check1 enabled
    Written<bool> heightsBoxTicked{false};     // Check1 ticked
    Written<bool> heightCaptionsEnabled{true}; // Label5 and Label2

    // Input symbols (Label7, Label8 for geographic; Label34, Label35 for plane) and the
    // tooltips of the first and second input field pairs.
    Written<CoordKind> inputSymbols{CoordKind::Geographic};
    // Output symbols (Label11, Label12 for geographic; Label36, Label37 for plane).
    Written<CoordKind> outputSymbols{CoordKind::Geographic};

    Written<bool> zoneFieldVisible{false};       // Text1 and its caption Label41
    Written<bool> inputHeightVisible{false};     // Text6, the input height display field
    Written<bool> inputHeightEditVisible{false}; // Text7, the input height edit field
    Written<bool> outputHeightVisible{false};    // Text10
    Written<bool> heightArrowVisible{false};     // Image4

    bool outputsEmptied = false;         // Text8, Text9, Text10, Text1 emptied
    bool coordinatesEmptied = false;     // Text3, Text5, Text2, Text4 emptied (the height stays)
    std::vector<ZoneNotice> zoneNotices; // in the order the rules made them

    // Clears every "written" mark and the event's own records.
    void forget();
};

// The EPSG code of one side of the choice as the window shows it beside the lists:
// "EPSG 3003"; for plane coordinates with the automatic zone the codes of the zones it picks
// from ("EPSG 3003 / 3004"); "EPSG: nessun codice" for a zone EPSG does not name (ETRF89
// "Fuso Italia"). A GIS user reads there which code the points have.
std::string epsgCaption(RefSystem system, CoordKind kind, Zone zone);

class SelectionModel {
public:
    SelectionModel();

    const SelectionState& state() const { return state_; }
    // Start-up only: the variable is set before the list's position, as the first choice does.
    SelectionState& mutableState() { return state_; }
    const SelectionView& view() const { return view_; }
    bool heightsTicked() const { return view_.heightsBoxTicked.value(); }

    // List `n` (1..10) set to `position` by a user's pick or by code; its rule runs.
    const SelectionView& setPosition(int n, int position);
    // Check1 ticked or unticked by the user; its rule runs.
    const SelectionView& setHeightsTicked(bool ticked);
    // inputMode: 0 keyboard, 1 data file. No rule runs; the output-system rule reads it.
    void setInputMode(std::int16_t mode) { inputMode_ = mode; }

    // The first selection of the window's start-up: ETRF89 geographic in, ROMA40
    // geographic out, each variable set before its list, zone lists hidden at their first
    // items, captions "Input  ETRF89" and "Output  ROMA40". The description covers the whole
    // sequence.
    const SelectionView& startUp();

private:
    void beginEvent();
    void setList(int n, int position); // a rule sets a list's position: its rule runs
    void runListRule(int n);
    void inputSystemRule();
    void inputKindRule();
    void inputZoneRule(int n);
    void outputSystemRule();
    void outputKindRule();
    void outputZoneRule(int n);
    void heightsRule();
    void untickHeights();
    void applyPairTable();
    void setHeightFieldsVisible(bool visible);
    void showList(int n, bool visible) { view_.lists[static_cast<std::size_t>(n)].visible.set(visible); }
    int position(int n) const { return view_.lists[static_cast<std::size_t>(n)].position; }

    SelectionState state_;
    SelectionView view_;
    std::int16_t inputMode_ = 0;
};

} // namespace dormal::ui
