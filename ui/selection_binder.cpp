#include "ui/selection_binder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSignalBlocker>

#include "ui/coordinate_fields.h"

namespace dormal::ui {

namespace {

QString text(const std::string& s) {
    return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

void applyVisible(const Written<bool>& w, std::initializer_list<QWidget*> widgets) {
    if (!w.written())
        return;
    for (QWidget* widget : widgets)
        widget->setVisible(w.value());
}

void applyText(const Written<std::string>& w, QLabel* label) {
    if (w.written())
        label->setText(text(w.value()));
}

void applyTitle(const Written<std::string>& w, QGroupBox* frame) {
    if (w.written())
        frame->setTitle(text(w.value()));
}

} // namespace

SelectionBinder::SelectionBinder(const SelectionControls& controls, CoordinateFields& fields, SelectionHooks hooks,
                                 QObject* parent)
    : QObject(parent), c_(controls), fields_(fields), hooks_(std::move(hooks)) {
    for (int n = 1; n <= 10; ++n)
        connect(combo(n), &QComboBox::activated, this, [this, n](int) {
            syncInputMode();
            apply(model_.setPosition(n, combo(n)->currentIndex()));
        });
    connect(c_.check1, &QCheckBox::toggled, this, [this](bool ticked) {
        syncInputMode();
        apply(model_.setHeightsTicked(ticked));
    });
}

void SelectionBinder::syncInputMode() {
    model_.setInputMode(hooks_.inputMode ? hooks_.inputMode() : 0);
}

void SelectionBinder::setPosition(int n, int position) {
    syncInputMode();
    apply(model_.setPosition(n, position));
}

void SelectionBinder::clearOutputFields() {
    c_.text8->clear();
    c_.text9->clear();
    c_.text10->clear();
    c_.text1->clear();
}

void SelectionBinder::showEpsgCodes() {
    const SelectionState& st = model_.state();
    if (c_.inputEpsg != nullptr)
        c_.inputEpsg->setText(QString::fromStdString(epsgCaption(st.inputSystem, st.inputKind, st.inputZone)));
    if (c_.outputEpsg != nullptr)
        c_.outputEpsg->setText(QString::fromStdString(epsgCaption(st.outputSystem, st.outputKind, st.outputZone)));
}

void SelectionBinder::apply(const SelectionView& v) {
    for (int n = 1; n <= 10; ++n) {
        const ListView& list = v.lists[static_cast<std::size_t>(n)];
        QComboBox* box = combo(n);
        if (box->currentIndex() != list.position && list.position < box->count()) {
            const QSignalBlocker blocker(box);
            box->setCurrentIndex(list.position);
        }
        applyVisible(list.visible, {box});
    }
    if (v.outputsEmptied)
        clearOutputFields();
    if (v.coordinatesEmptied)
        fields_.clearCoordinates();

    applyTitle(v.inputCaption, c_.frame9);
    applyTitle(v.outputCaption, c_.frame10);
    applyText(v.inputHeightCaption, c_.label5);
    applyText(v.inputHeightSymbol, c_.label6);
    applyText(v.outputHeightCaption, c_.label2);
    applyText(v.outputHeightSymbol, c_.label9);

    applyVisible(v.workingZoneVisible, {c_.frame5});
    if (v.heightsBoxEnabled.written())
        c_.check1->setEnabled(v.heightsBoxEnabled.value());
    if (v.heightsBoxTicked.written() && c_.check1->isChecked() != v.heightsBoxTicked.value()) {
        // The model has run the box's rule already.
        const QSignalBlocker blocker(c_.check1);
        c_.check1->setChecked(v.heightsBoxTicked.value());
    }
    if (v.heightCaptionsEnabled.written()) {
        c_.label5->setEnabled(v.heightCaptionsEnabled.value());
        c_.label2->setEnabled(v.heightCaptionsEnabled.value());
    }

    if (v.inputSymbols.written()) {
        const bool plane = v.inputSymbols.value() == CoordKind::Plane;
        c_.label7->setVisible(!plane);
        c_.label8->setVisible(!plane);
        c_.label34->setVisible(plane);
        c_.label35->setVisible(plane);
        fields_.setCoordinateTooltips(v.inputSymbols.value());
    }
    if (v.outputSymbols.written()) {
        const bool plane = v.outputSymbols.value() == CoordKind::Plane;
        c_.label11->setVisible(!plane);
        c_.label12->setVisible(!plane);
        c_.label36->setVisible(plane);
        c_.label37->setVisible(plane);
    }
    applyVisible(v.zoneFieldVisible, {c_.text1, c_.label41});
    applyVisible(v.inputHeightVisible, {fields_.displayField(FieldRef::Height)});
    applyVisible(v.inputHeightEditVisible, {fields_.editField(FieldRef::Height)});
    applyVisible(v.outputHeightVisible, {c_.text10});
    applyVisible(v.heightArrowVisible, {c_.image4});

    showEpsgCodes();

    for (const ZoneNotice& notice : v.zoneNotices) {
        const auto& hook =
            notice.kind == ZoneNotice::Kind::InputSystemPicked ? hooks_.inputSystemPicked : hooks_.inputKindPicked;
        if (hook)
            hook(notice.inputSystem, notice.inputKind);
    }
}

} // namespace dormal::ui
