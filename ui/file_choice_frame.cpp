#include "ui/file_choice_frame.h"

namespace dormal::ui {

QString shortenedPath(const QString& path) { return path; }

struct FileChoiceFrame::Impl {
    UserDialogs& dialogs;
    DataFileType type = DataFileType::Excel;
    QString dataPath, resultPath;
};

FileChoiceFrame::FileChoiceFrame(UserDialogs& dialogs, QWidget* parent)
    : QGroupBox(QStringLiteral("Scelta dei file "), parent), d(new Impl{dialogs, DataFileType::Excel, {}, {}}) {
    setObjectName(QStringLiteral("Frame3"));
}

FileChoiceFrame::~FileChoiceFrame() = default;

DataFileType FileChoiceFrame::dataFileType() const { return d->type; }
QString FileChoiceFrame::dataFilePath() const { return d->dataPath; }
QString FileChoiceFrame::resultFilePath() const { return d->resultPath; }
void FileChoiceFrame::reset() {
    d->type = DataFileType::Excel;
    d->dataPath.clear();
    d->resultPath.clear();
}

} // namespace dormal::ui
