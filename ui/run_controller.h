#pragma once
// "Esegui": the common checks, then one typed point (keyboard mode) or a data file.
// Window-independent: it reads a snapshot of the window's state and acts through RunView.

#include <QString>

#include "conversion/batch_run.h"
#include "conversion/point_conversion.h"
#include "ui/dialogs.h"

namespace dormal::ui {

struct RunInputs {
    SelectionState sel;
    bool heights = false;       // Check1 ticked
    std::int16_t inputMode = 0; // 0 keyboard, 1 data file
    DataFileType dataFileType = DataFileType::Excel;
    QString dataFilePath, resultFilePath;
    // Stored typed values (gg.ppssdddd or metres), and whether Text3 is empty.
    double inputLat = 0, inputLon = 0, inputNorth = 0, inputEast = 0, inputHeight = 0;
    bool firstFieldEmpty = true;
    // The first typed field whose text is no value, and the message naming it (None: all read).
    FieldRef unreadableField = FieldRef::None;
    Message unreadableMessage;
    const GridPortion* portion = nullptr; // loaded portion or null
    const ZoneLimits* limits = nullptr;
    bool fileSelected = false; // a file is selected in File1
    // The folder's working set ("Usa tutte le porzioni della cartella" ticked), or null:
    // when given, it is used instead of the selected portion.
    const PortionSet* set = nullptr;
    QChar decimalSeparator = '.';
};

// What the run does to the window.
class RunView {
public:
    virtual ~RunView() = default;
    virtual QWidget* dialogParent() = 0;
    virtual void clearOutputFields() = 0; // Text8, Text9, Text10, Text1
    // Output fields; an empty QString leaves that field empty.
    virtual void setOutputFields(const QString& first, const QString& second, const QString& height,
                                 const QString& zone) = 0;
    // Makes the edit field visible and gives it the focus (Text3, Text5, Text7).
    virtual void focusInputField(FieldRef field) = 0;
    virtual void setBusy(bool busy) = 0; // busy pointer
    virtual void setProgressVisible(bool visible, long maximum) = 0;
    virtual void setProgressValue(long value) = 0;
    virtual void setExecuteEnabled(bool enabled) = 0; // Command1
};

class RunController {
public:
    explicit RunController(UserDialogs& dialogs) : dialogs_(dialogs) {}
    void run(const RunInputs& in, RunView& view);

private:
    void runKeyboard(const RunInputs& in, const ConversionContext& ctx, RunView& view);
    // Batch run; whatever way it ends, the busy pointer and progress bar go and Command1
    // is disabled (choosing a result file or keyboard mode enables it again).
    void runFile(const RunInputs& in, const ConversionContext& ctx, RunView& view);

    UserDialogs& dialogs_;
};

} // namespace dormal::ui
