#include "ui/selection_model.h"

#include <optional>
#include <span>
#include <string>

#include "conversion/epsg.h"

namespace dormal::ui {

namespace {

std::optional<RefSystem> systemAt(int position) {
    return valueAt(systemList(), position);
}
std::optional<CoordKind> kindAt(int position) {
    return valueAt(kindList(), position);
}

// Captions of the input frame. The system rule writes its own forms for ETRF2000 (one
// blank after "Input", none before the bracket); the kind and zone rules write the
// two-blank forms.
enum class InputCaptionBy { SystemRule, OtherRules };

std::string inputGeographicCaption(RefSystem system, InputCaptionBy by) {
    switch (system) {
    case RefSystem::Roma40:
        return "Input  ROMA40";
    case RefSystem::Ed50:
        return "Input  ED50";
    case RefSystem::Etrf89:
        return "Input  ETRF89";
    case RefSystem::Etrf2000:
        break;
    }
    return by == InputCaptionBy::SystemRule ? "Input ETRF2000" : "Input  ETRF2000";
}

std::string inputPlaneCaption(RefSystem system, InputCaptionBy by) {
    switch (system) {
    case RefSystem::Roma40:
        return "Input  Gauss-Boaga";
    case RefSystem::Ed50:
        return "Input  UTM (ED50)";
    case RefSystem::Etrf89:
        return "Input  UTM (ETRF89)";
    case RefSystem::Etrf2000:
        break;
    }
    return by == InputCaptionBy::SystemRule ? "Input UTM(ETRF2000)" : "Input  UTM (ETRF2000)";
}

std::string outputGeographicCaption(RefSystem system) {
    return "Output  " + std::string(systemName(system));
}

std::string outputPlaneCaption(RefSystem system) {
    switch (system) {
    case RefSystem::Roma40:
        return "Output  Gauss-Boaga";
    case RefSystem::Ed50:
        return "Output  UTM (ED50)";
    case RefSystem::Etrf89:
        return "Output  UTM (ETRF89)";
    case RefSystem::Etrf2000:
        break;
    }
    return "Output  UTM (ETRF2000)";
}

// The input zone list of a system: Combo3 ROMA40, Combo4 ED50, Combo5 ETRF89 and ETRF2000.
int inputZoneListOf(RefSystem system) {
    return system == RefSystem::Roma40 ? 3 : system == RefSystem::Ed50 ? 4 : 5;
}
// The output zone list of a system: Combo8, Combo9, Combo10.
int outputZoneListOf(RefSystem system) {
    return system == RefSystem::Roma40 ? 8 : system == RefSystem::Ed50 ? 9 : 10;
}

// The items of zone list `n`: Combo3 to Combo5 input, Combo8 to Combo10 output.
std::span<const ListItem<Zone>> zoneListItems(int n) {
    switch (n) {
    case 3:
        return inputZoneList(RefSystem::Roma40);
    case 4:
        return inputZoneList(RefSystem::Ed50);
    case 5:
        return inputZoneList(RefSystem::Etrf89);
    case 8:
        return outputZoneList(RefSystem::Roma40);
    case 9:
        return outputZoneList(RefSystem::Ed50);
    case 10:
        return outputZoneList(RefSystem::Etrf89);
    default:
        return {};
    }
}

template <class T> std::vector<std::string_view> textsOf(std::span<const ListItem<T>> list) {
    std::vector<std::string_view> texts;
    for (const ListItem<T>& item : list)
        texts.push_back(item.text);
    return texts;
}

// Height fields Text6 and Text10, decided from the side whose rule runs: `own` is the
// system just picked, `other` the system of the other side.
bool heightFieldsShown(RefSystem own, RefSystem other, bool ticked) {
    switch (own) {
    case RefSystem::Roma40:
    case RefSystem::Ed50:
        return (other == RefSystem::Etrf89 && ticked) || other == RefSystem::Etrf2000;
    case RefSystem::Etrf89:
        return other != RefSystem::Etrf89 && ticked;
    case RefSystem::Etrf2000:
        return other != RefSystem::Etrf2000 && ticked;
    }
    return false;
}

} // namespace

void SelectionView::forget() {
    for (ListView& l : lists)
        l.visible.forget();
    for (Written<std::string>* w : {&inputCaption, &outputCaption, &inputHeightCaption, &inputHeightSymbol,
                                    &outputHeightCaption, &outputHeightSymbol})
        w->forget();
    for (Written<bool>* w :
         {&workingZoneVisible, &heightsBoxEnabled, &heightsBoxTicked, &heightCaptionsEnabled, &zoneFieldVisible,
          &inputHeightVisible, &inputHeightEditVisible, &outputHeightVisible, &heightArrowVisible})
        w->forget();
    inputSymbols.forget();
    outputSymbols.forget();
    outputsEmptied = false;
    coordinatesEmptied = false;
    zoneNotices.clear();
}

SelectionModel::SelectionModel() {
    view_.lists[1].items = textsOf(systemList());
    view_.lists[2].items = textsOf(kindList());
    view_.lists[6].items = textsOf(systemList());
    view_.lists[7].items = textsOf(kindList());
    for (int n : {3, 4, 5, 8, 9, 10})
        view_.lists[static_cast<std::size_t>(n)].items = textsOf(zoneListItems(n));
}

void SelectionModel::beginEvent() {
    view_.forget();
    // Any change of the choice empties the results: they belong to the choice before it.
    view_.outputsEmptied = true;
}

const SelectionView& SelectionModel::setPosition(int n, int position) {
    beginEvent();
    setList(n, position);
    return view_;
}

const SelectionView& SelectionModel::setHeightsTicked(bool ticked) {
    beginEvent();
    view_.heightsBoxTicked.set(ticked);
    heightsRule();
    return view_;
}

const SelectionView& SelectionModel::startUp() {
    beginEvent();
    view_.inputSymbols.set(CoordKind::Geographic);
    view_.outputSymbols.set(CoordKind::Geographic);
    view_.inputHeightCaption.set("Da quote ellissoidiche");
    view_.outputHeightCaption.set("A quote geoidiche");
    view_.heightsBoxEnabled.set(true);
    view_.inputHeightVisible.set(false);
    view_.inputHeightEditVisible.set(false);
    view_.outputHeightVisible.set(false);
    view_.heightArrowVisible.set(false);

    state_.inputSystem = RefSystem::Etrf89;
    setList(1, positionOf(systemList(), RefSystem::Etrf89));
    state_.inputKind = CoordKind::Geographic;
    setList(2, positionOf(kindList(), CoordKind::Geographic));
    state_.inputZone = Zone::Auto;
    for (int n : {3, 4, 5})
        setList(n, 0);
    state_.outputSystem = RefSystem::Roma40;
    setList(6, positionOf(systemList(), RefSystem::Roma40));
    state_.outputKind = CoordKind::Geographic;
    setList(7, positionOf(kindList(), CoordKind::Geographic));
    state_.outputZone = Zone::Auto;
    for (int n : {10, 9, 8})
        setList(n, 0);

    // The Combo5 rule leaves "Input  UTM (ETRF89)"; the first choice is geographic.
    view_.inputCaption.set("Input  ETRF89");
    view_.outputCaption.set("Output  ROMA40");
    for (int n : {3, 4, 5, 8, 9, 10})
        showList(n, false);
    view_.zoneFieldVisible.set(false);
    return view_;
}

void SelectionModel::setList(int n, int position) {
    if (n < 1 || n > 10)
        return;
    ListView& list = view_.lists[static_cast<std::size_t>(n)];
    list.position = position >= 0 && static_cast<std::size_t>(position) < list.items.size() ? position : -1;
    runListRule(n);
}

void SelectionModel::runListRule(int n) {
    switch (n) {
    case 1:
        inputSystemRule();
        break;
    case 2:
        inputKindRule();
        break;
    case 3:
    case 4:
    case 5:
        inputZoneRule(n);
        break;
    case 6:
        outputSystemRule();
        break;
    case 7:
        outputKindRule();
        break;
    case 8:
    case 9:
    case 10:
        outputZoneRule(n);
        break;
    default:
        break;
    }
}

void SelectionModel::setHeightFieldsVisible(bool visible) {
    view_.inputHeightVisible.set(visible);
    view_.outputHeightVisible.set(visible);
}

void SelectionModel::untickHeights() {
    // Only a change of tick runs the box's rule.
    if (!view_.heightsBoxTicked.value()) {
        view_.heightsBoxTicked.set(false);
        return;
    }
    view_.heightsBoxTicked.set(false);
    heightsRule();
}

void SelectionModel::applyPairTable() {
    const PairEntry entry = pairEntry(state_.inputSystem, state_.outputSystem);
    view_.workingZoneVisible.set(gridNeeded(entry));
    if (heightsAllowed(entry)) {
        view_.heightsBoxEnabled.set(true);
    } else {
        view_.heightsBoxEnabled.set(false);
        untickHeights();
    }
    view_.heightCaptionsEnabled.set(heightsAllowed(entry));
}

void SelectionModel::inputSystemRule() {
    view_.workingZoneVisible.set(true);
    view_.outputsEmptied = true;
    for (int n : {3, 4, 5})
        showList(n, false);

    if (const std::optional<RefSystem> p = systemAt(position(1))) {
        state_.inputSystem = *p;
        if (state_.inputKind == CoordKind::Plane) {
            const int list = inputZoneListOf(*p);
            showList(list, true);
            setList(list, 0);
            state_.inputZone = *p == RefSystem::Roma40 ? Zone::Auto : Zone::OvestOr32;
            view_.inputCaption.set(inputPlaneCaption(*p, InputCaptionBy::SystemRule));
        } else {
            view_.inputCaption.set(inputGeographicCaption(*p, InputCaptionBy::SystemRule));
        }
        view_.inputHeightCaption.set(std::string(inputHeightCaption(state_.inputSystem)));
        view_.inputHeightSymbol.set(std::string(heightSymbol(state_.inputSystem)));
        applyPairTable();
        setHeightFieldsVisible(heightFieldsShown(state_.inputSystem, state_.outputSystem, heightsTicked()));
    }
    // Corners into the new system's convention, then the limit labels (or their hiding).
    view_.zoneNotices.push_back({ZoneNotice::Kind::InputSystemPicked, state_.inputSystem, state_.inputKind});

    if (kindAt(position(2)) == CoordKind::Geographic)
        for (int n : {3, 4, 5})
            showList(n, false);
}

void SelectionModel::inputKindRule() {
    view_.coordinatesEmptied = true;
    view_.outputsEmptied = true;

    const std::optional<CoordKind> p = kindAt(position(2));
    const std::optional<RefSystem> q = systemAt(position(1));
    if (p == CoordKind::Plane) {
        view_.inputSymbols.set(CoordKind::Plane);
        if (q) {
            view_.inputCaption.set(inputPlaneCaption(*q, InputCaptionBy::OtherRules));
            const int list = inputZoneListOf(*q);
            for (int n : {3, 4, 5})
                showList(n, n == list);
            setList(list, 0);
            state_.inputZone = *q == RefSystem::Roma40 ? Zone::Auto : Zone::OvestOr32;
        }
        state_.inputKind = CoordKind::Plane;
    } else if (p == CoordKind::Geographic) {
        view_.inputSymbols.set(CoordKind::Geographic);
        if (q)
            view_.inputCaption.set(inputGeographicCaption(*q, InputCaptionBy::OtherRules));
        for (int n : {3, 4, 5})
            showList(n, false);
        state_.inputKind = CoordKind::Geographic;
    } else {
        return;
    }
    view_.zoneNotices.push_back({ZoneNotice::Kind::InputKindPicked, state_.inputSystem, state_.inputKind});
}

void SelectionModel::inputZoneRule(int n) {
    const std::optional<Zone> zone = valueAt(zoneListItems(n), position(n));
    if (n == 5) { // ETRF89, ETRF2000: UTM 32, 33, 34, Fuso Italia
        const bool etrf89 = state_.inputSystem == RefSystem::Etrf89;
        const bool etrf2000 = state_.inputSystem == RefSystem::Etrf2000;
        if (etrf89)
            view_.inputCaption.set("Input  UTM (ETRF89)");
        else if (etrf2000)
            view_.inputCaption.set("Input  UTM (ETRF2000)");
        if (zone == Zone::Italia) {
            if (etrf89)
                view_.inputCaption.set("Input  Fuso Italia (ETRF89)");
            else if (etrf2000)
                view_.inputCaption.set("Input  Fuso Italia (ETRF2000)");
        }
    }
    if (zone)
        state_.inputZone = *zone;
}

void SelectionModel::outputSystemRule() {
    view_.workingZoneVisible.set(true);
    view_.outputsEmptied = true;
    for (int n : {8, 9, 10})
        showList(n, false);

    const std::optional<RefSystem> p = systemAt(position(6));
    if (!p)
        return;
    state_.outputSystem = *p;
    if (state_.outputKind == CoordKind::Plane) {
        const int list = outputZoneListOf(*p);
        showList(list, true);
        setList(list, 0);
        // After the zone list's rule: the Combo10 rule writes a caption of its own.
        view_.outputCaption.set(outputPlaneCaption(*p));
        state_.outputZone = Zone::Auto;
    } else {
        view_.outputCaption.set(outputGeographicCaption(*p));
    }
    view_.outputHeightCaption.set(std::string(outputHeightCaption(state_.outputSystem)));
    view_.outputHeightSymbol.set(std::string(heightSymbol(state_.outputSystem)));
    applyPairTable();
    setHeightFieldsVisible(heightFieldsShown(state_.outputSystem, state_.inputSystem, heightsTicked()));

    // The zone field belongs to the keyboard frame; in data-file mode it is left alone.
    if (inputMode_ == 0)
        view_.zoneFieldVisible.set(state_.outputKind == CoordKind::Plane);
}

void SelectionModel::outputKindRule() {
    view_.outputsEmptied = true;

    const std::optional<CoordKind> p = kindAt(position(7));
    const std::optional<RefSystem> q = systemAt(position(6));
    if (p == CoordKind::Geographic) {
        view_.outputSymbols.set(CoordKind::Geographic);
        if (q)
            view_.outputCaption.set(outputGeographicCaption(*q));
        view_.zoneFieldVisible.set(false);
        for (int n : {8, 9, 10})
            showList(n, false);
        state_.outputKind = CoordKind::Geographic;
    } else if (p == CoordKind::Plane) {
        view_.outputSymbols.set(CoordKind::Plane);
        if (q) {
            view_.outputCaption.set(outputPlaneCaption(*q));
            const int list = outputZoneListOf(*q);
            for (int n : {8, 9, 10})
                showList(n, n == list);
            setList(list, 0);
        }
        view_.zoneFieldVisible.set(true);
        state_.outputZone = Zone::Auto;
        state_.outputKind = CoordKind::Plane;
    }
}

void SelectionModel::outputZoneRule(int n) {
    view_.outputsEmptied = true;
    const bool etrf89 = state_.outputSystem == RefSystem::Etrf89;
    const bool etrf2000 = state_.outputSystem == RefSystem::Etrf2000;
    if (n == 10) {
        if (etrf89)
            view_.outputCaption.set("Output  UTM (ETRF89)");
        else if (etrf2000)
            view_.outputCaption.set("Output  UTM (ETRF2000)");
    }
    view_.zoneFieldVisible.set(false);

    // Combo8: Autom., Ovest, Est; Combo9: Automatico, 32, 33, 34; Combo10 adds Italia.
    const std::optional<Zone> zone = valueAt(zoneListItems(n), position(n));
    if (zone == Zone::Auto) {
        state_.outputZone = Zone::Auto;
        view_.zoneFieldVisible.set(true);
    } else if (zone) {
        state_.outputZone = *zone;
        if (n == 10 && zone == Zone::Italia) {
            if (etrf89)
                view_.outputCaption.set("Output  Fuso Italia (ETRF89)");
            else if (etrf2000)
                view_.outputCaption.set("Output  Fuso Italia (ETRF2000)");
        }
    }
}

void SelectionModel::heightsRule() {
    const bool ticked = heightsTicked();
    view_.inputHeightVisible.set(ticked);
    view_.inputHeightEditVisible.set(ticked);
    view_.outputHeightVisible.set(ticked);
    view_.heightArrowVisible.set(ticked);
}

std::string epsgCaption(RefSystem system, CoordKind kind, Zone zone) {
    if (kind == CoordKind::Plane && zone == Zone::Auto) {
        // The automatic zone is one of the system's own zones (never "Fuso Italia").
        std::string codes;
        for (const Zone z : {Zone::OvestOr32, Zone::EstOr33, Zone::Utm34}) {
            if (const std::optional<int> code = epsgCode(system, kind, z)) {
                codes += (codes.empty() ? "EPSG " : " / ") + std::to_string(*code);
            }
        }
        return codes.empty() ? std::string("EPSG: nessun codice") : codes;
    }
    // The window counts ROMA40 longitudes from Monte Mario: ROMA40 geographic is 4806.
    const std::optional<int> code = epsgCode(system, kind, zone, true);
    return code ? "EPSG " + std::to_string(*code) : std::string("EPSG: nessun codice");
}

} // namespace dormal::ui
