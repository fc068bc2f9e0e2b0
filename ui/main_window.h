#pragma once
// The main window: builds the controls in Qt layouts, wires them to the selection
// rules, the typed fields, the working zone, the file choice and the run, and performs the
// start-up that leaves the first selection. The rules themselves live in SelectionModel and
// CoordinateFields; the run in RunController.

#include <QWidget>
#include <array>
#include <memory>

#include "ui/dialogs.h"
#include "ui/run_controller.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QRadioButton;

namespace dormal::ui {

class CoordinateFields;
class FileChoiceFrame;
class SecondaryWindows;
class SelectionBinder;
class WorkingZonePanel;

// Turns a typed "," into "." for every key pressed in `window` (and the widgets inside it),
// before the widget with the focus sees the key. Installed on the application.
class DecimalCommaFilter : public QObject {
    Q_OBJECT
public:
    explicit DecimalCommaFilter(QWidget* window);
    ~DecimalCommaFilter() override;
    Q_DISABLE_COPY_MOVE(DecimalCommaFilter)

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* window_;
};

class MainWindow : public QWidget, public RunView {
    Q_OBJECT
public:
    // `workingFolder`: where the working zone starts (the current directory at launch).
    MainWindow(UserDialogs& dialogs, const QString& workingFolder, QWidget* parent = nullptr);
    ~MainWindow() override;
    Q_DISABLE_COPY_MOVE(MainWindow)

    SelectionBinder& rules() { return *rules_; }
    CoordinateFields& fields() { return *fields_; }
    SecondaryWindows& secondaryWindows() { return *secondary_; }
    WorkingZonePanel* workingZone() const { return workingZone_; }
    FileChoiceFrame* fileChoice() const { return fileChoice_; }

    // 0 keyboard ("Da tastiera"), 1 data file ("Da file").
    std::int16_t inputMode() const { return inputMode_; }
    // What a run reads, taken now.
    RunInputs runInputs() const;

    // "Esegui".
    void execute();
    // "Esci": closes every window of the program and asks it to end.
    void exitProgram();

    // RunView.
    QWidget* dialogParent() override { return this; }
    void clearOutputFields() override;
    void setOutputFields(const QString& first, const QString& second, const QString& height,
                         const QString& zone) override;
    void focusInputField(FieldRef field) override;
    void setBusy(bool busy) override;
    void setProgressVisible(bool visible, long maximum) override;
    void setProgressValue(long value) override;
    void setExecuteEnabled(bool enabled) override;

signals:
    // "Esci" was pressed; main() ends the event loop.
    void exitRequested();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void buildControls(const QString& workingFolder);
    QGroupBox* buildChoiceFrame(const QString& title, const char* name, int firstList, QLabel* kindCaption,
                                QLabel* projectionCaption);
    void buildKeyboardFrame();
    void wireControls();
    void setTabChain();
    void startUp();
    void inputModeRule(std::int16_t mode);

    UserDialogs& dialogs_;
    RunController runController_;
    std::int16_t inputMode_ = 0;
    int busyDepth_ = 0;

    // The ten selection lists, indexed by their control number (Combo1 .. Combo10; 0 unused):
    // input system, kind, the three input zone lists, then the same five for the output.
    std::array<QComboBox*, 11> selectionLists_{};
    QGroupBox *inputChoiceFrame_ = nullptr, *outputChoiceFrame_ = nullptr;
    QGroupBox *inputHeightFrame_ = nullptr, *outputHeightFrame_ = nullptr;
    QGroupBox *inputModeFrame_ = nullptr, *keyboardFrame_ = nullptr;
    QGroupBox *inputPointFrame_ = nullptr, *outputPointFrame_ = nullptr;
    QLabel *inputKindCaption_ = nullptr, *inputProjectionCaption_ = nullptr;
    QLabel *outputKindCaption_ = nullptr, *outputProjectionCaption_ = nullptr;
    QLabel *inputEpsgLabel_ = nullptr, *outputEpsgLabel_ = nullptr; // LabelEpsgIn, LabelEpsgOut
    QLabel *inputHeightCaption_ = nullptr, *outputHeightCaption_ = nullptr;
    QLabel *inputLatSymbol_ = nullptr, *inputLonSymbol_ = nullptr, *inputNorthSymbol_ = nullptr,
           *inputEastSymbol_ = nullptr, *inputHeightSymbol_ = nullptr;
    QLabel *outputLatSymbol_ = nullptr, *outputLonSymbol_ = nullptr, *outputNorthSymbol_ = nullptr,
           *outputEastSymbol_ = nullptr, *outputHeightSymbol_ = nullptr;
    QLabel* outputZoneCaption_ = nullptr;
    QWidget *heightArrow_ = nullptr, *choiceArrow_ = nullptr;
    QCheckBox* heightsBox_ = nullptr;
    QRadioButton *keyboardModeButton_ = nullptr, *fileModeButton_ = nullptr;
    QLineEdit *outputFirstField_ = nullptr, *outputSecondField_ = nullptr, *outputHeightField_ = nullptr,
              *outputZoneField_ = nullptr;
    QPushButton *executeButton_ = nullptr, *exitButton_ = nullptr, *exampleButton_ = nullptr,
                *informationButton_ = nullptr;
    QProgressBar* progressBar_ = nullptr;

    WorkingZonePanel* workingZone_ = nullptr;
    FileChoiceFrame* fileChoice_ = nullptr;
    CoordinateFields* fields_ = nullptr;
    SelectionBinder* rules_ = nullptr;
    SecondaryWindows* secondary_ = nullptr;
    DecimalCommaFilter* commaFilter_ = nullptr;
};

} // namespace dormal::ui
