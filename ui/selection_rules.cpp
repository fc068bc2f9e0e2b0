#include "ui/selection_rules.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "geodesy/selection.h"
#include "ui/coordinate_fields.h"

namespace dormal::ui {

namespace {

QString text(std::string_view s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

bool validSystem(int p) {
    return p >= kRoma40 && p <= kEtrf2000;
}

// Captions of the input frame. The system rule writes its own forms for ETRF2000 (one
// blank after "Input", none before the bracket); the kind and zone rules write the
// two-blank forms.
enum class InputCaptionBy { SystemRule, OtherRules };

QString inputGeographicCaption(int system, InputCaptionBy by) {
    switch (system) {
    case kRoma40:
        return QStringLiteral("Input  ROMA40");
    case kEd50:
        return QStringLiteral("Input  ED50");
    case kEtrf89:
        return QStringLiteral("Input  ETRF89");
    default:
        return by == InputCaptionBy::SystemRule ? QStringLiteral("Input ETRF2000") : QStringLiteral("Input  ETRF2000");
    }
}

QString inputPlaneCaption(int system, InputCaptionBy by) {
    switch (system) {
    case kRoma40:
        return QStringLiteral("Input  Gauss-Boaga");
    case kEd50:
        return QStringLiteral("Input  UTM (ED50)");
    case kEtrf89:
        return QStringLiteral("Input  UTM (ETRF89)");
    default:
        return by == InputCaptionBy::SystemRule ? QStringLiteral("Input UTM(ETRF2000)")
                                                : QStringLiteral("Input  UTM (ETRF2000)");
    }
}

QString outputGeographicCaption(int system) {
    static const char* const captions[] = {"Output  ROMA40", "Output  ED50", "Output  ETRF89", "Output  ETRF2000"};
    return QString::fromLatin1(captions[system]);
}

QString outputPlaneCaption(int system) {
    static const char* const captions[] = {"Output  Gauss-Boaga", "Output  UTM (ED50)", "Output  UTM (ETRF89)",
                                           "Output  UTM (ETRF2000)"};
    return QString::fromLatin1(captions[system]);
}

// The input zone list of a system: Combo3 ROMA40, Combo4 ED50, Combo5 ETRF89 and ETRF2000.
int inputZoneListOf(int system) {
    return system == kRoma40 ? 3 : system == kEd50 ? 4 : 5;
}

// Height fields Text6 and Text10, decided from the side whose rule runs: `own` is the
// system just picked, `other` the system of the other side.
bool heightFieldsShown(int own, int other, bool ticked) {
    switch (own) {
    case kRoma40:
    case kEd50:
        return (other == kEtrf89 && ticked) || other == kEtrf2000;
    case kEtrf89:
        return other != kEtrf89 && ticked;
    case kEtrf2000:
        return other != kEtrf2000 && ticked;
    default:
        return false;
    }
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

    const int p = combo(1)->currentIndex();
    if (validSystem(p)) {
        state_.inputSystem = static_cast<std::int16_t>(p);
        if (state_.inputKind == kPlane) {
            const int list = inputZoneListOf(p);
            combo(list)->show();
            setPosition(list, 0);
            state_.inputZone = p == kRoma40 ? kZoneAuto : kZoneOvest32;
            c_.frame9->setTitle(inputPlaneCaption(p, InputCaptionBy::SystemRule));
        } else {
            c_.frame9->setTitle(inputGeographicCaption(p, InputCaptionBy::SystemRule));
        }
        c_.label5->setText(text(inputHeightCaption(state_.inputSystem)));
        c_.label6->setText(text(heightSymbol(state_.inputSystem)));
        applyPairTable();
        setHeightFieldsVisible(heightFieldsShown(state_.inputSystem, state_.outputSystem, c_.check1->isChecked()));
    }
    // Corners into the new system's convention, then the limit labels (or their hiding).
    if (hooks_.inputSystemPicked)
        hooks_.inputSystemPicked(state_.inputSystem, state_.inputKind);

    if (combo(2)->currentIndex() == 0)
        hideInputZoneLists();
}

void SelectionRules::inputKindRule() {
    fields_.clearCoordinates();
    clearOutputFields();

    const int p = combo(2)->currentIndex();
    const int q = combo(1)->currentIndex();
    if (p == kPlane) {
        c_.label7->hide();
        c_.label8->hide();
        c_.label34->show();
        c_.label35->show();
        fields_.setCoordinateTooltips(kPlane);
        if (validSystem(q)) {
            c_.frame9->setTitle(inputPlaneCaption(q, InputCaptionBy::OtherRules));
            const int list = inputZoneListOf(q);
            showOnlyInputZoneList(list);
            setPosition(list, 0);
            state_.inputZone = q == kRoma40 ? kZoneAuto : kZoneOvest32;
        }
        state_.inputKind = kPlane;
    } else if (p == kGeographic) {
        c_.label7->show();
        c_.label8->show();
        c_.label34->hide();
        c_.label35->hide();
        fields_.setCoordinateTooltips(kGeographic);
        if (validSystem(q))
            c_.frame9->setTitle(inputGeographicCaption(q, InputCaptionBy::OtherRules));
        hideInputZoneLists();
        state_.inputKind = kGeographic;
    } else {
        return;
    }
    if (hooks_.inputKindPicked)
        hooks_.inputKindPicked(state_.inputSystem, state_.inputKind);
}

void SelectionRules::inputZoneRule(int n) {
    const int p = combo(n)->currentIndex();
    switch (n) {
    case 3: // ROMA40: automatic, Ovest, Est
        if (p >= 0 && p <= 2)
            state_.inputZone = static_cast<ZoneCode>(p);
        break;
    case 4: // ED50: UTM 32, 33, 34
        if (p >= 0 && p <= 2)
            state_.inputZone = static_cast<ZoneCode>(p + 1);
        break;
    case 5: { // ETRF89, ETRF2000: UTM 32, 33, 34, Fuso Italia
        const bool etrf89 = state_.inputSystem == kEtrf89;
        const bool etrf2000 = state_.inputSystem == kEtrf2000;
        if (etrf89)
            c_.frame9->setTitle(QStringLiteral("Input  UTM (ETRF89)"));
        else if (etrf2000)
            c_.frame9->setTitle(QStringLiteral("Input  UTM (ETRF2000)"));
        if (p >= 0 && p <= 2) {
            state_.inputZone = static_cast<ZoneCode>(p + 1);
        } else if (p == 3) {
            state_.inputZone = kZoneItalia;
            if (etrf89)
                c_.frame9->setTitle(QStringLiteral("Input  Fuso Italia (ETRF89)"));
            else if (etrf2000)
                c_.frame9->setTitle(QStringLiteral("Input  Fuso Italia (ETRF2000)"));
        }
        break;
    }
    default:
        break;
    }
}

void SelectionRules::outputSystemRule() {
    c_.frame5->show();
    clearOutputFields();
    hideOutputZoneLists();

    const int p = combo(6)->currentIndex();
    if (!validSystem(p))
        return;
    state_.outputSystem = static_cast<std::int16_t>(p);
    if (state_.outputKind == kPlane) {
        switch (p) {
        case kRoma40:
            c_.frame10->setTitle(outputPlaneCaption(p));
            setPosition(8, 0);
            combo(8)->show();
            break;
        case kEd50:
            c_.frame10->setTitle(outputPlaneCaption(p));
            combo(9)->show();
            setPosition(9, 0);
            break;
        default:
            combo(10)->show();
            setPosition(10, 0);
            c_.frame10->setTitle(outputPlaneCaption(p));
            break;
        }
        state_.outputZone = kZoneAuto;
    } else {
        c_.frame10->setTitle(outputGeographicCaption(p));
    }
    c_.label2->setText(text(outputHeightCaption(state_.outputSystem)));
    c_.label9->setText(text(heightSymbol(state_.outputSystem)));
    applyPairTable();
    setHeightFieldsVisible(heightFieldsShown(state_.outputSystem, state_.inputSystem, c_.check1->isChecked()));

    // The zone field belongs to the keyboard frame; in data-file mode it is left alone.
    if (inputMode() == 0) {
        c_.text1->setVisible(state_.outputKind == kPlane);
        c_.label41->setVisible(state_.outputKind == kPlane);
    }
}

void SelectionRules::outputKindRule() {
    clearOutputFields();

    const int p = combo(7)->currentIndex();
    const int q = combo(6)->currentIndex();
    if (p == kGeographic) {
        c_.label11->show();
        c_.label12->show();
        c_.label36->hide();
        c_.label37->hide();
        if (validSystem(q))
            c_.frame10->setTitle(outputGeographicCaption(q));
        c_.text1->hide();
        c_.label41->hide();
        hideOutputZoneLists();
        state_.outputKind = kGeographic;
    } else if (p == kPlane) {
        c_.label11->hide();
        c_.label12->hide();
        c_.label36->show();
        c_.label37->show();
        switch (q) {
        case kRoma40:
            c_.frame10->setTitle(outputPlaneCaption(q));
            combo(8)->show();
            setPosition(8, 0);
            combo(9)->hide();
            combo(10)->hide();
            break;
        case kEd50:
            c_.frame10->setTitle(outputPlaneCaption(q));
            combo(8)->hide();
            combo(9)->show();
            setPosition(9, 0);
            combo(10)->hide();
            break;
        case kEtrf89:
        case kEtrf2000:
            c_.frame10->setTitle(outputPlaneCaption(q));
            combo(8)->hide();
            combo(9)->hide();
            combo(10)->show();
            setPosition(10, 0);
            break;
        default:
            break;
        }
        c_.text1->show();
        c_.label41->show();
        state_.outputZone = kZoneAuto;
        state_.outputKind = kPlane;
    }
}

void SelectionRules::outputZoneRule(int n) {
    clearOutputFields();
    const bool etrf89 = state_.outputSystem == kEtrf89;
    const bool etrf2000 = state_.outputSystem == kEtrf2000;
    if (n == 10) {
        if (etrf89)
            c_.frame10->setTitle(QStringLiteral("Output  UTM (ETRF89)"));
        else if (etrf2000)
            c_.frame10->setTitle(QStringLiteral("Output  UTM (ETRF2000)"));
    }
    c_.text1->hide();
    c_.label41->hide();

    const int p = combo(n)->currentIndex();
    const int last = n == 8 ? 2 : n == 9 ? 3 : 4; // Combo8: Autom., Ovest, Est; Combo9 adds 34; Combo10 Italia
    if (p == 0) {
        state_.outputZone = kZoneAuto;
        c_.text1->show();
        c_.label41->show();
    } else if (p >= 1 && p <= last) {
        state_.outputZone = static_cast<ZoneCode>(p);
        if (n == 10 && p == kZoneItalia) {
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
