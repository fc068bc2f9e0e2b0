#pragma once
// "Scelta dei file " (Frame3): file type (Option4), data file (Command6, Text11) and
// result file (Command7, Text12).

#include <QGroupBox>
#include <memory>

#include "conversion/data_source.h"
#include "ui/dialogs.h"

namespace dormal::ui {

// Shortened display of a long path ("/" separators): kept whole up to 55 characters;
// longer ones keep the part up to the first "/" and a tail of whole folder names, joined
// by " ...  ... ".
QString shortenedPath(const QString& path);

// A result file name as it is used: without an extension it gets ".txt" (ASCII) or
// ".xlsx" (Excel, which also replaces any extension other than ".xlsx").
QString resultPathWithExtension(const QString& path, dormal::DataFileType type);

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

    // The buttons' actions, as a click runs them (also used by tests).
    void setDataFileType(dormal::DataFileType type); // Option4: discards both paths
    void chooseDataFile();                           // Command6 "File dei dati"
    void chooseResultFile();                         // Command7 "File dei risultati"

    // Dialog filters for the current type.
    QString dataFileFilter() const;
    QString resultFileFilter() const;

signals:
    // A result file was chosen (also when the dialog was cancelled): "Esegui" is enabled again.
    void resultFileChosen();
    void fileTypeChanged(dormal::DataFileType type);

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace dormal::ui
