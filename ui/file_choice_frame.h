#pragma once
// "Scelta dei file " (Frame3): file type (Option4), data file (Command6, Text11) and
// result file (Command7, Text12).

#include <QGroupBox>

#include "conversion/data_source.h"
#include "ui/dialogs.h"

namespace dormal::ui {

// Shortened display of a long path ("/" separators): kept whole up to 55 characters.
QString shortenedPath(const QString& path);

class FileChoiceFrame : public QGroupBox {
    Q_OBJECT
public:
    // objectName "Frame3", title "Scelta dei file ".
    FileChoiceFrame(UserDialogs& dialogs, QWidget* parent = nullptr);
    ~FileChoiceFrame() override;
    Q_DISABLE_COPY_MOVE(FileChoiceFrame)

    DataFileType dataFileType() const;
    QString dataFilePath() const;
    QString resultFilePath() const;
    // Start-up: type Excel, both paths empty.
    void reset();

signals:
    // A result file was chosen (also when the dialog was cancelled): "Esegui" is enabled again.
    void resultFileChosen();
    void fileTypeChanged(dormal::DataFileType type);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace dormal::ui
