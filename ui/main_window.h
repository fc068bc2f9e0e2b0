#pragma once
// The main window: builds the controls in their arrangement, wires them to the selection
// rules, the typed fields, the working zone, the file choice and the run, and performs the
// start-up that leaves the first selection. The rules themselves live in SelectionModel and
// CoordinateFields; the run in RunController.

#include <QWidget>
#include <memory>

#include "ui/dialogs.h"
#include "ui/run_controller.h"
#include "ui/twips.h"

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
    const Twips& twips() const { return tw_; }

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
    void fitScale();
    void buildSelectionFrame(QGroupBox* frame, int first, QLabel*& kindCaption, QLabel*& zoneCaption);
    void buildKeyboardFrame();
    void startUp();
    void inputModeRule(std::int16_t mode);

    UserDialogs& dialogs_;
    Twips tw_;
    RunController runController_;
    std::int16_t inputMode_ = 0;
    int busyDepth_ = 0;

    std::array<QComboBox*, 11> combo_{};
    QGroupBox *frame1_ = nullptr, *frame12_ = nullptr, *frame2_ = nullptr, *frame6_ = nullptr;
    QGroupBox *frame4_ = nullptr, *frame8_ = nullptr, *frame9_ = nullptr, *frame10_ = nullptr;
    QLabel *label2_ = nullptr, *label3_ = nullptr, *label5_ = nullptr, *label6_ = nullptr, *label7_ = nullptr,
           *label8_ = nullptr, *label9_ = nullptr, *label11_ = nullptr, *label12_ = nullptr, *label14_ = nullptr,
           *label15_ = nullptr, *label34_ = nullptr, *label35_ = nullptr, *label36_ = nullptr, *label37_ = nullptr,
           *label38_ = nullptr, *label41_ = nullptr;
    QWidget *image4_ = nullptr, *image5_ = nullptr;
    QCheckBox* check1_ = nullptr;
    QRadioButton *option3Keyboard_ = nullptr, *option3File_ = nullptr;
    QLineEdit *text1_ = nullptr, *text8_ = nullptr, *text9_ = nullptr, *text10_ = nullptr;
    QPushButton *command1_ = nullptr, *command2_ = nullptr, *command3_ = nullptr, *command4_ = nullptr;
    QProgressBar* progressBar1_ = nullptr;

    WorkingZonePanel* workingZone_ = nullptr;
    FileChoiceFrame* fileChoice_ = nullptr;
    CoordinateFields* fields_ = nullptr;
    SelectionBinder* rules_ = nullptr;
    SecondaryWindows* secondary_ = nullptr;
    DecimalCommaFilter* commaFilter_ = nullptr;
};

} // namespace dormal::ui
