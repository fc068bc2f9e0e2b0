#include "ui/coordinate_fields.h"

#include <QAbstractButton>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QLocale>
#include <QMouseEvent>
#include <QValidator>

#include "conversion/formats.h"
#include "conversion/typed_text.h"

namespace dormal::ui {

namespace {

const QString kLatTip = QStringLiteral("Latitudine in sessagesimali [gg.ppssdddd]");
const QString kLonTip = QStringLiteral("Longitudine in sessagesimali [gg.ppssdddd]");
const QString kNorthTip = QStringLiteral("Coordinata Nord in metri");
const QString kEastTip = QStringLiteral("Coordinata Est in metri");
const QString kHeightTip = QStringLiteral("Quota in metri");

// The decimal comma of an edit field, whatever way the text came in: the window's key
// filter sees typed keys only, while a paste (Ctrl+V, the context menu, the middle button),
// a drop or an input method's text reaches the field without a key. Every change of a
// field's text passes through its validator, which turns each "," into "." and refuses
// nothing.
class DecimalPointValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int&) const override {
        input.replace(QLatin1Char(','), QLatin1Char('.'));
        return Acceptable;
    }
};

// The value of a typed text: strictly read when it can be, else the number at its start
// (or 0), as the field has always shown it.
double typedValue(const QString& text, bool sexagesimal) {
    const std::string utf8 = text.toStdString();
    const std::optional<double> strict = sexagesimal ? readSexagesimal(utf8) : readPlainNumber(utf8);
    return strict ? *strict : parseTypedNumber(utf8);
}

QLineEdit* makeField(QWidget* parent, const char* name, bool display) {
    auto* field = new QLineEdit(parent);
    field->setObjectName(QLatin1String(name));
    if (display) {
        // Shows the formatted value; a click (or Tab into it) switches to its edit field.
        field->setReadOnly(true);
        field->setFocusPolicy(Qt::TabFocus);
    } else {
        field->setValidator(new DecimalPointValidator(field));
    }
    return field;
}

} // namespace

QString planeDisplayText(double metres, char sep) {
    return QString::fromStdString(formatPlaneField(metres, sep));
}

QString sexagesimalDisplayText(double gPPSSdddd, char sep) {
    return QString::fromStdString(formatSexagesimalField(sexagesimalDisplayNumber(gPPSSdddd), sep));
}

QString heightDisplayText(double metres, char sep) {
    return QString::fromStdString(formatHeightField(metres, sep));
}

CoordinateFields::CoordinateFields(QWidget* inputFrame, std::function<CoordKind()> inputKind)
    : QObject(inputFrame), inputKind_(std::move(inputKind)) {
    // Display fields first, so each edit field lies on top of its display field.
    first_.display = makeField(inputFrame, "Text2", true);
    second_.display = makeField(inputFrame, "Text4", true);
    height_.display = makeField(inputFrame, "Text6", true);
    first_.edit = makeField(inputFrame, "Text3", false);
    second_.edit = makeField(inputFrame, "Text5", false);
    height_.edit = makeField(inputFrame, "Text7", false);

    for (Pair* p : {&first_, &second_, &height_}) {
        p->edit->installEventFilter(this);
        p->display->installEventFilter(this);
        p->edit->hide();
    }
    height_.edit->setToolTip(kHeightTip);
    height_.display->setToolTip(kHeightTip);
    setCoordinateTooltips(CoordKind::Geographic);

    // Tab walks display, edit, display, edit...: reaching a display field starts editing.
    QWidget::setTabOrder(first_.display, first_.edit);
    QWidget::setTabOrder(first_.edit, second_.display);
    QWidget::setTabOrder(second_.display, second_.edit);
    QWidget::setTabOrder(second_.edit, height_.display);
    QWidget::setTabOrder(height_.display, height_.edit);
}

CoordinateFields::~CoordinateFields() = default;

void CoordinateFields::connectWindow(QAbstractButton* heightsBox, QWidget* executeButton,
                                     std::function<void()> clearOutputs) {
    heightsBox_ = heightsBox;
    executeButton_ = executeButton;
    clearOutputs_ = std::move(clearOutputs);
}

CoordinateFields::Pair& CoordinateFields::pair(FieldRef field) {
    switch (field) {
    case FieldRef::Second:
        return second_;
    case FieldRef::Height:
        return height_;
    case FieldRef::First:
    case FieldRef::None:
        break;
    }
    return first_;
}

const CoordinateFields::Pair& CoordinateFields::pair(FieldRef field) const {
    return const_cast<CoordinateFields*>(this)->pair(field);
}

QLineEdit* CoordinateFields::editField(FieldRef field) const {
    return pair(field).edit;
}
QLineEdit* CoordinateFields::displayField(FieldRef field) const {
    return pair(field).display;
}

bool CoordinateFields::firstFieldEmpty() const {
    return first_.edit->text().isEmpty();
}

std::optional<UnreadableField> CoordinateFields::firstUnreadableField(CoordKind inputKind, bool heights) const {
    const bool geographic = inputKind == CoordKind::Geographic;
    struct Check {
        FieldRef field;
        const char* name;
        bool sexagesimal;
    };
    const Check checks[] = {
        {FieldRef::First, geographic ? "Latitudine" : "Nord", geographic},
        {FieldRef::Second, geographic ? "Longitudine" : "Est", geographic},
        {FieldRef::Height, "Quota", false},
    };
    for (const Check& c : checks) {
        if (c.field == FieldRef::Height && !heights)
            continue;
        const std::string text = pair(c.field).edit->text().toStdString();
        const bool readable = c.sexagesimal ? readSexagesimal(text).has_value() : readPlainNumber(text).has_value();
        if (readable)
            continue;
        UnreadableField bad;
        bad.field = c.field;
        bad.message.icon = MessageIcon::Warning;
        bad.message.title = kTitleAttenzione;
        bad.message.lines = {std::string("VALORE NON VALIDO NEL CAMPO ") + c.name + ": " + text};
        return bad;
    }
    return std::nullopt;
}

void CoordinateFields::clearCoordinates() {
    first_.edit->clear();
    second_.edit->clear();
    first_.display->clear();
    second_.display->clear();
}

void CoordinateFields::setCoordinateTooltips(CoordKind inputKind) {
    const bool plane = inputKind == CoordKind::Plane;
    const QString& firstTip = plane ? kNorthTip : kLatTip;
    const QString& secondTip = plane ? kEastTip : kLonTip;
    first_.edit->setToolTip(firstTip);
    first_.display->setToolTip(firstTip);
    second_.edit->setToolTip(secondTip);
    second_.display->setToolTip(secondTip);
}

void CoordinateFields::focusEditField(FieldRef field) {
    QLineEdit* edit = pair(field).edit;
    edit->show();
    edit->raise();
    edit->setFocus(Qt::OtherFocusReason);
}

void CoordinateFields::beginEditing(FieldRef field) {
    if (clearOutputs_)
        clearOutputs_();
    Pair& p = pair(field);
    p.display->hide();
    p.edit->show();
    p.edit->raise();
    p.edit->setFocus(Qt::MouseFocusReason);
}

void CoordinateFields::commitFocusedField() {
    for (FieldRef f : {FieldRef::First, FieldRef::Second, FieldRef::Height}) {
        if (pair(f).edit->hasFocus() && !pair(f).edit->isHidden())
            leave(f);
    }
}

void CoordinateFields::enterText(FieldRef field, const QString& text) {
    Pair& p = pair(field);
    p.edit->setText(text);
    p.edit->show();
    leave(field);
}

void CoordinateFields::leave(FieldRef field) {
    Pair& p = pair(field);
    const bool plane = inputKind_ && inputKind_() == CoordKind::Plane;
    const double value = typedValue(p.edit->text(), field != FieldRef::Height && !plane);
    const char sep = localeDecimalSeparator();
    QString shown;
    if (field == FieldRef::Height) {
        values_.inputHeight = value;
        shown = heightDisplayText(value, sep);
    } else if (plane) {
        (field == FieldRef::First ? values_.inputNorth : values_.inputEast) = value;
        shown = planeDisplayText(value, sep);
    } else {
        (field == FieldRef::First ? values_.inputLat : values_.inputLon) = value;
        shown = sexagesimalDisplayText(value, sep);
    }
    p.display->setText(shown);
    // A field hidden by a rule while it had the focus keeps the visibility the rule gave.
    if (!p.edit->isHidden()) {
        p.edit->hide();
        p.display->show();
    }
}

void CoordinateFields::enterPressed(FieldRef field) {
    switch (field) {
    case FieldRef::First:
        focusEditField(FieldRef::Second);
        break;
    case FieldRef::Second:
        if (heightsBox_ && heightsBox_->isChecked())
            focusEditField(FieldRef::Height);
        else if (executeButton_)
            executeButton_->setFocus(Qt::OtherFocusReason);
        break;
    case FieldRef::Height:
        if (executeButton_)
            executeButton_->setFocus(Qt::OtherFocusReason);
        break;
    case FieldRef::None:
        break;
    }
}

FieldRef CoordinateFields::fieldOf(QObject* widget, bool& isEdit) const {
    for (FieldRef f : {FieldRef::First, FieldRef::Second, FieldRef::Height}) {
        const Pair& p = pair(f);
        if (widget == p.edit) {
            isEdit = true;
            return f;
        }
        if (widget == p.display) {
            isEdit = false;
            return f;
        }
    }
    return FieldRef::None;
}

bool CoordinateFields::eventFilter(QObject* watched, QEvent* event) {
    bool isEdit = false;
    const FieldRef field = fieldOf(watched, isEdit);
    if (field == FieldRef::None)
        return QObject::eventFilter(watched, event);

    if (isEdit) {
        if (event->type() == QEvent::KeyPress) {
            const auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter) {
                enterPressed(field);
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
            // Another window or a pop-up taking the focus does not leave the field.
            if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
                leave(field);
        }
        return QObject::eventFilter(watched, event);
    }

    // Display field.
    if (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonDblClick) {
        if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            beginEditing(field);
            return true;
        }
    } else if (event->type() == QEvent::FocusIn) {
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason)
            beginEditing(field);
    }
    return QObject::eventFilter(watched, event);
}

} // namespace dormal::ui
