#pragma once
// The typed point of keyboard mode: three pairs of overlapping fields in the "Input" frame
// (Frame9). The edit field (Text3, Text5, Text7) takes the plain number; the display field
// (Text2, Text4, Text6) shows it formatted once the edit field is left. Clicking a display
// field goes back to editing with the text last typed.

#include <QObject>
#include <cstdint>
#include <functional>
#include <optional>

#include "conversion/point_conversion.h"
#include "conversion/message.h"
#include "ui/wz_text.h" // localeDecimalSeparator

class QAbstractButton;
class QLineEdit;
class QWidget;

namespace dormal::ui {

// Values stored when their edit field was last left.
struct TypedValues {
    double inputLat = 0;    // latitude, sexagesimal gg.ppssdddd, signed, as typed
    double inputLon = 0;    // longitude, same notation (ROMA40: from Monte Mario)
    double inputNorth = 0;  // North, metres
    double inputEast = 0;   // East, metres (with false easting)
    double inputHeight = 0; // height, metres
};

// A typed field whose text is no value, and the message that names it.
struct UnreadableField {
    FieldRef field = FieldRef::None;
    Message message; // "VALORE NON VALIDO NEL CAMPO Latitudine: 45.1234x"
};

// Display texts, with the locale's separator `sep`.
QString planeDisplayText(double metres, char sep);          // "# ### ##0.000"
QString sexagesimalDisplayText(double gPPSSdddd, char sep); // "#0° 00' 00.0000''", seconds carried
QString heightDisplayText(double metres, char sep);         // "## ##0.000"

class CoordinateFields : public QObject {
    Q_OBJECT
public:
    // Creates Text2..Text7 as children of `inputFrame`. `inputKind` gives the current
    // CoordKind, read when a coordinate field is left.
    CoordinateFields(QWidget* inputFrame, std::function<CoordKind()> inputKind);
    ~CoordinateFields() override;
    Q_DISABLE_COPY_MOVE(CoordinateFields)

    // Enter in Text5 goes to Text7 when `heightsBox` is ticked, else to `executeButton`;
    // Enter in Text7 goes to `executeButton`. `clearOutputs` empties Text8, Text9, Text10, Text1.
    void connectWindow(QAbstractButton* heightsBox, QWidget* executeButton, std::function<void()> clearOutputs);

    QLineEdit* editField(FieldRef field) const;    // Text3, Text5, Text7
    QLineEdit* displayField(FieldRef field) const; // Text2, Text4, Text6

    const TypedValues& values() const { return values_; }
    bool firstFieldEmpty() const; // Text3 has no text
    // The first of Text3, Text5 and, when `heights`, Text7 whose text is not a value: a
    // number (blanks ignored, "." or ","), or for geographic input also the displayed form
    // D° M' S.ssss''. Leaving a field shows what can be made of any text; a run refuses it.
    std::optional<UnreadableField> firstUnreadableField(CoordKind inputKind, bool heights) const;

    // Empties both fields of the first and second coordinate (Text3, Text5, Text2, Text4);
    // the stored values stay.
    void clearCoordinates();
    // Tooltips of both fields of the first and second coordinate for a CoordKind.
    void setCoordinateTooltips(CoordKind inputKind);

    // Makes the edit field visible and gives it the focus (a run's failed check).
    void focusEditField(FieldRef field);
    // A click on the display field: empties the output fields, hides the display field and
    // edits with the text last typed.
    void beginEditing(FieldRef field);
    // Stores and shows the value of the edit field that has the focus, as leaving it would.
    void commitFocusedField();
    // Puts `text` into the edit field and leaves it, as typing it and moving on would
    // (scripted pictures of the window).
    void enterText(FieldRef field, const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct Pair {
        QLineEdit* edit = nullptr;
        QLineEdit* display = nullptr;
    };
    Pair& pair(FieldRef field);
    const Pair& pair(FieldRef field) const;
    FieldRef fieldOf(QObject* widget, bool& isEdit) const;
    void leave(FieldRef field);
    void enterPressed(FieldRef field);

    Pair first_, second_, height_;
    std::function<CoordKind()> inputKind_;
    std::function<void()> clearOutputs_;
    QAbstractButton* heightsBox_ = nullptr;
    QWidget* executeButton_ = nullptr;
    TypedValues values_;
};

} // namespace dormal::ui
