#include "ui/selection_rules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "conversion/selection_words.h"
#include "ui/coordinate_fields.h"

namespace dormal::ui {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// The value a list position gives, or nothing when the list has no such position.
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

QString inputGeographicCaption(RefSystem system, InputCaptionBy by) {
    switch (system) {
    case RefSystem::Roma40:
        return QStringLiteral("Input  ROMA40");
    case RefSystem::Ed50:
        return QStringLiteral("Input  ED50");
    case RefSystem::Etrf89:
        return QStringLiteral("Input  ETRF89");
    default:
        return by == InputCaptionBy::SystemRule ? QStringLiteral("Input ETRF2000") : QStringLiteral("Input  ETRF2000");
    }
}

QString inputPlaneCaption(RefSystem system, InputCaptionBy by) {
    switch (system) {
    case RefSystem::Roma40:
        return QStringLiteral("Input  Gauss-Boaga");
    case RefSystem::Ed50:
        return QStringLiteral("Input  UTM (ED50)");
    case RefSystem::Etrf89:
        return QStringLiteral("Input  UTM (ETRF89)");
    default:
        return by == InputCaptionBy::SystemRule ? QStringLiteral("Input UTM(ETRF2000)")
                                                : QStringLiteral("Input  UTM (ETRF2000)");
    }
}

QString outputGeographicCaption(RefSystem system) {
    switch (system) {
    case RefSystem::Roma40:
        return QStringLiteral("Output  ROMA40");
    case RefSystem::Ed50:
        return QStringLiteral("Output  ED50");
    case RefSystem::Etrf89:
        return QStringLiteral("Output  ETRF89");
    case RefSystem::Etrf2000:
        break;
    }
    return QStringLiteral("Output  ETRF2000");
}

QString outputPlaneCaption(RefSystem system) {
    switch (system) {
    case RefSystem::Roma40:
        return QStringLiteral("Output  Gauss-Boaga");
    case RefSystem::Ed50:
        return QStringLiteral("Output  UTM (ED50)");
    case RefSystem::Etrf89:
        return QStringLiteral("Output  UTM (ETRF89)");
    case RefSystem::Etrf2000:
        break;
    }
    return QStringLiteral("Output  UTM (ETRF2000)");
}

// The input zone list of a system: Combo3 ROMA40, Combo4 ED50, Combo5 ETRF89 and ETRF2000.
int inputZoneListOf(RefSystem system) {
    return system == RefSystem::Roma40 ? 3 : system == RefSystem::Ed50 ? 4 : 5;
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

SelectionRules::SelectionRules(const SelectionControls& controls, CoordinateFields& fields, SelectionHooks hooks,
                               QObject* parent)
    : QObject(parent), c_(controls), fields_(fields), hooks_(std::move(hooks)) {
    for (int n = 1; n <= 10; ++n)
        connect(combo(n), &QComboBox::activated, this, [this, n](int) { runListRule(n); });
    connect(c_.check1, &QCheckBox::toggled, this, [this](bool) { heightsRule(); });
}

void SelectionRules::setPosition(int n, int position) {
    {
        const QSignalBlocker blocker(combo(n));
        combo(n)->setCurrentIndex(position);
    }
    runListRule(n);
}

void SelectionRules::runListRule(int n) {
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

std::int16_t SelectionRules::inputMode() const {
    return hooks_.inputMode ? hooks_.inputMode() : 0;
}

void SelectionRules::clearOutputFields() {
    c_.text8->clear();
    c_.text9->clear();
    c_.text10->clear();
    c_.text1->clear();
}

void SelectionRules::hideInputZoneLists() {
    for (int n : {3, 4, 5})
        combo(n)->hide();
}

void SelectionRules::hideOutputZoneLists() {
    for (int n : {8, 9, 10})
        combo(n)->hide();
}

void SelectionRules::showOnlyInputZoneList(int shown) {
    for (int n : {3, 4, 5})
        combo(n)->setVisible(n == shown);
}

void SelectionRules::setHeightFieldsVisible(bool visible) {
    fields_.displayField(FieldRef::Height)->setVisible(visible);
    c_.text10->setVisible(visible);
}

void SelectionRules::applyPairTable() {
    const PairEntry entry = pairEntry(state_.inputSystem, state_.outputSystem);
    c_.frame5->setVisible(gridNeeded(entry));
    if (heightsAllowed(entry)) {
        c_.check1->setEnabled(true);
    } else {
        c_.check1->setEnabled(false);
        c_.check1->setChecked(false); // a change of tick runs the heights rule at once
    }
    c_.label5->setEnabled(heightsAllowed(entry));
    c_.label2->setEnabled(heightsAllowed(entry));
}

void SelectionRules::inputSystemRule() {
    c_.frame5->show();
    clearOutputFields();
    hideInputZoneLists();

    if (const std::optional<RefSystem> p = systemAt(combo(1)->currentIndex())) {
        state_.inputSystem = *p;
        if (state_.inputKind == CoordKind::Plane) {
            const int list = inputZoneListOf(*p);
            combo(list)->show();
            setPosition(list, 0);
            state_.inputZone = *p == RefSystem::Roma40 ? Zone::Auto : Zone::OvestOr32;
            c_.frame9->setTitle(inputPlaneCaption(*p, InputCaptionBy::SystemRule));
        } else {
            c_.frame9->setTitle(inputGeographicCaption(*p, InputCaptionBy::SystemRule));
        }
        c_.label5->setText(text(inputHeightCaption(state_.inputSystem)));
        c_.label6->setText(text(heightSymbol(state_.inputSystem)));
        applyPairTable();
        setHeightFieldsVisible(heightFieldsShown(state_.inputSystem, state_.outputSystem, c_.check1->isChecked()));
    }
    // Corners into the new system's convention, then the limit labels (or their hiding).
    if (hooks_.inputSystemPicked)
        hooks_.inputSystemPicked(state_.inputSystem, state_.inputKind);

    if (kindAt(combo(2)->currentIndex()) == CoordKind::Geographic)
        hideInputZoneLists();
}

void SelectionRules::inputKindRule() {
    fields_.clearCoordinates();
    clearOutputFields();

    const std::optional<CoordKind> p = kindAt(combo(2)->currentIndex());
    const std::optional<RefSystem> q = systemAt(combo(1)->currentIndex());
    if (p == CoordKind::Plane) {
        c_.label7->hide();
        c_.label8->hide();
        c_.label34->show();
        c_.label35->show();
        fields_.setCoordinateTooltips(CoordKind::Plane);
        if (q) {
            c_.frame9->setTitle(inputPlaneCaption(*q, InputCaptionBy::OtherRules));
            const int list = inputZoneListOf(*q);
            showOnlyInputZoneList(list);
            setPosition(list, 0);
            state_.inputZone = *q == RefSystem::Roma40 ? Zone::Auto : Zone::OvestOr32;
        }
        state_.inputKind = CoordKind::Plane;
    } else if (p == CoordKind::Geographic) {
        c_.label7->show();
        c_.label8->show();
        c_.label34->hide();
        c_.label35->hide();
        fields_.setCoordinateTooltips(CoordKind::Geographic);
        if (q)
            c_.frame9->setTitle(inputGeographicCaption(*q, InputCaptionBy::OtherRules));
        hideInputZoneLists();
        state_.inputKind = CoordKind::Geographic;
    } else {
        return;
    }
    if (hooks_.inputKindPicked)
        hooks_.inputKindPicked(state_.inputSystem, state_.inputKind);
}

void SelectionRules::inputZoneRule(int n) {
    const std::optional<Zone> zone = valueAt(zoneListItems(n), combo(n)->currentIndex());
    if (n == 5) { // ETRF89, ETRF2000: UTM 32, 33, 34, Fuso Italia
        const bool etrf89 = state_.inputSystem == RefSystem::Etrf89;
        const bool etrf2000 = state_.inputSystem == RefSystem::Etrf2000;
        if (etrf89)
            c_.frame9->setTitle(QStringLiteral("Input  UTM (ETRF89)"));
        else if (etrf2000)
            c_.frame9->setTitle(QStringLiteral("Input  UTM (ETRF2000)"));
        if (zone == Zone::Italia) {
            if (etrf89)
                c_.frame9->setTitle(QStringLiteral("Input  Fuso Italia (ETRF89)"));
            else if (etrf2000)
                c_.frame9->setTitle(QStringLiteral("Input  Fuso Italia (ETRF2000)"));
        }
    }
    if (zone)
        state_.inputZone = *zone;
}

void SelectionRules::outputSystemRule() {
    c_.frame5->show();
    clearOutputFields();
    hideOutputZoneLists();

    const std::optional<RefSystem> p = systemAt(combo(6)->currentIndex());
    if (!p)
        return;
    state_.outputSystem = *p;
    if (state_.outputKind == CoordKind::Plane) {
        switch (*p) {
        case RefSystem::Roma40:
            c_.frame10->setTitle(outputPlaneCaption(*p));
            setPosition(8, 0);
            combo(8)->show();
            break;
        case RefSystem::Ed50:
            c_.frame10->setTitle(outputPlaneCaption(*p));
            combo(9)->show();
            setPosition(9, 0);
            break;
        case RefSystem::Etrf89:
        case RefSystem::Etrf2000:
            combo(10)->show();
            setPosition(10, 0);
            c_.frame10->setTitle(outputPlaneCaption(*p));
            break;
        }
        state_.outputZone = Zone::Auto;
    } else {
        c_.frame10->setTitle(outputGeographicCaption(*p));
    }
    c_.label2->setText(text(outputHeightCaption(state_.outputSystem)));
    c_.label9->setText(text(heightSymbol(state_.outputSystem)));
    applyPairTable();
    setHeightFieldsVisible(heightFieldsShown(state_.outputSystem, state_.inputSystem, c_.check1->isChecked()));

    // The zone field belongs to the keyboard frame; in data-file mode it is left alone.
    if (inputMode() == 0) {
        c_.text1->setVisible(state_.outputKind == CoordKind::Plane);
        c_.label41->setVisible(state_.outputKind == CoordKind::Plane);
    }
}

void SelectionRules::outputKindRule() {
    clearOutputFields();

    const std::optional<CoordKind> p = kindAt(combo(7)->currentIndex());
    const std::optional<RefSystem> q = systemAt(combo(6)->currentIndex());
    if (p == CoordKind::Geographic) {
        c_.label11->show();
        c_.label12->show();
        c_.label36->hide();
        c_.label37->hide();
        if (q)
            c_.frame10->setTitle(outputGeographicCaption(*q));
        c_.text1->hide();
        c_.label41->hide();
        hideOutputZoneLists();
        state_.outputKind = CoordKind::Geographic;
    } else if (p == CoordKind::Plane) {
        c_.label11->hide();
        c_.label12->hide();
        c_.label36->show();
        c_.label37->show();
        if (q) {
            switch (*q) {
            case RefSystem::Roma40:
                c_.frame10->setTitle(outputPlaneCaption(*q));
                combo(8)->show();
                setPosition(8, 0);
                combo(9)->hide();
                combo(10)->hide();
                break;
            case RefSystem::Ed50:
                c_.frame10->setTitle(outputPlaneCaption(*q));
                combo(8)->hide();
                combo(9)->show();
                setPosition(9, 0);
                combo(10)->hide();
                break;
            case RefSystem::Etrf89:
            case RefSystem::Etrf2000:
                c_.frame10->setTitle(outputPlaneCaption(*q));
                combo(8)->hide();
                combo(9)->hide();
                combo(10)->show();
                setPosition(10, 0);
                break;
            }
        }
        c_.text1->show();
        c_.label41->show();
        state_.outputZone = Zone::Auto;
        state_.outputKind = CoordKind::Plane;
    }
}

void SelectionRules::outputZoneRule(int n) {
    clearOutputFields();
    const bool etrf89 = state_.outputSystem == RefSystem::Etrf89;
    const bool etrf2000 = state_.outputSystem == RefSystem::Etrf2000;
    if (n == 10) {
        if (etrf89)
            c_.frame10->setTitle(QStringLiteral("Output  UTM (ETRF89)"));
        else if (etrf2000)
            c_.frame10->setTitle(QStringLiteral("Output  UTM (ETRF2000)"));
    }
    c_.text1->hide();
    c_.label41->hide();

    // Combo8: Autom., Ovest, Est; Combo9: Automatico, 32, 33, 34; Combo10 adds Italia.
    const std::optional<Zone> zone = valueAt(zoneListItems(n), combo(n)->currentIndex());
    if (zone == Zone::Auto) {
        state_.outputZone = Zone::Auto;
        c_.text1->show();
        c_.label41->show();
    } else if (zone) {
        state_.outputZone = *zone;
        if (n == 10 && zone == Zone::Italia) {
            if (etrf89)
                c_.frame10->setTitle(QStringLiteral("Output  Fuso Italia (ETRF89)"));
            else if (etrf2000)
                c_.frame10->setTitle(QStringLiteral("Output  Fuso Italia (ETRF2000)"));
        }
    }
}

void SelectionRules::heightsRule() {
    const bool ticked = c_.check1->isChecked();
    fields_.displayField(FieldRef::Height)->setVisible(ticked);
    fields_.editField(FieldRef::Height)->setVisible(ticked);
    c_.text10->setVisible(ticked);
    c_.image4->setVisible(ticked);
}

} // namespace dormal::ui
