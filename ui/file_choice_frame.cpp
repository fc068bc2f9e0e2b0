#include "ui/file_choice_frame.h"

#include <QButtonGroup>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace dormal::ui {

namespace {

constexpr qsizetype kShownWhole = 55; // paths up to this length are shown whole
constexpr qsizetype kTailBudget = 53; // head and tail share this many characters

} // namespace

QString shortenedPath(const QString& path) {
    if (path.size() <= kShownWhole)
        return path;
    const qsizetype f = path.indexOf(QLatin1Char('/')) + 1; // position from 1; 0 when there is none
    const QString head = path.left(f);
    QString tail = f < kTailBudget ? path.right(kTailBudget - f) : QString();
    const qsizetype cut = tail.indexOf(QLatin1Char('/'));
    if (cut >= 0)
        tail = tail.mid(cut);
    return head + QStringLiteral(" ...  ... ") + tail;
}

QString resultPathWithExtension(const QString& path, DataFileType type) {
    if (path.isEmpty())
        return path;
    const QFileInfo info(path);
    const QString suffix = info.suffix();
    if (type == DataFileType::Ascii)
        return suffix.isEmpty() ? path + QStringLiteral(".txt") : path;
    // Result workbooks are written as .xlsx: a name ending in ".xls" would not open as what it holds.
    if (suffix.compare(QLatin1String("xlsx"), Qt::CaseInsensitive) == 0)
        return path;
    if (suffix.compare(QLatin1String("xls"), Qt::CaseInsensitive) == 0)
        return path.left(path.size() - suffix.size()) + QStringLiteral("xlsx");
    return path + QStringLiteral(".xlsx");
}

struct FileChoiceFrame::Impl {
    UserDialogs& dialogs;
    DataFileType type = DataFileType::Excel;
    QString dataPath, resultPath;
    QRadioButton* excel = nullptr;
    QRadioButton* ascii = nullptr;
    QPushButton* command6 = nullptr;
    QPushButton* command7 = nullptr;
    QLineEdit* text11 = nullptr;
    QLineEdit* text12 = nullptr;

    explicit Impl(UserDialogs& dlg) : dialogs(dlg) {}

    void showPaths() {
        text11->setText(shortenedPath(dataPath));
        text12->setText(shortenedPath(resultPath));
        text11->setToolTip(dataPath);
        text12->setToolTip(resultPath);
    }
};

FileChoiceFrame::FileChoiceFrame(UserDialogs& dialogs, QWidget* parent)
    : QGroupBox(QStringLiteral("Scelta dei file "), parent), d(std::make_unique<Impl>(dialogs)) {
    setObjectName(QStringLiteral("Frame3"));

    auto* typeCaption = new QLabel(QStringLiteral("Tipo di file:"), this);
    typeCaption->setObjectName(QStringLiteral("WzTypeCaption"));
    d->excel = new QRadioButton(QStringLiteral("MS-Excel"), this);
    d->excel->setObjectName(QStringLiteral("Option4_0"));
    d->ascii = new QRadioButton(QStringLiteral("Ascii"), this);
    d->ascii->setObjectName(QStringLiteral("Option4_1"));
    auto* group = new QButtonGroup(this);
    group->addButton(d->excel, 0);
    group->addButton(d->ascii, 1);
    d->excel->setChecked(true);

    d->command6 = new QPushButton(QStringLiteral("File dei dati"), this);
    d->command6->setObjectName(QStringLiteral("Command6"));
    d->command7 = new QPushButton(QStringLiteral("File dei risultati"), this);
    d->command7->setObjectName(QStringLiteral("Command7"));
    d->text11 = new QLineEdit(this);
    d->text11->setObjectName(QStringLiteral("Text11"));
    d->text12 = new QLineEdit(this);
    d->text12->setObjectName(QStringLiteral("Text12"));
    for (QLineEdit* t : {d->text11, d->text12}) {
        t->setReadOnly(true);
        t->setFocusPolicy(Qt::NoFocus);
    }

    auto* typeBox = new QVBoxLayout;
    typeBox->addWidget(typeCaption);
    typeBox->addWidget(d->excel);
    typeBox->addWidget(d->ascii);
    typeBox->addStretch(1);

    auto* files = new QGridLayout;
    files->addWidget(d->command6, 0, 0);
    files->addWidget(d->text11, 0, 1);
    files->addWidget(d->command7, 1, 0);
    files->addWidget(d->text12, 1, 1);
    files->setColumnStretch(1, 1);
    files->setRowStretch(2, 1);

    auto* outer = new QHBoxLayout(this);
    outer->addLayout(typeBox);
    outer->addLayout(files, 1);

    connect(group, &QButtonGroup::idToggled, this, [this](int id, bool checked) {
        if (checked)
            setDataFileType(id == 1 ? DataFileType::Ascii : DataFileType::Excel);
    });
    connect(d->command6, &QPushButton::clicked, this, &FileChoiceFrame::chooseDataFile);
    connect(d->command7, &QPushButton::clicked, this, &FileChoiceFrame::chooseResultFile);
}

FileChoiceFrame::~FileChoiceFrame() = default;

DataFileType FileChoiceFrame::dataFileType() const {
    return d->type;
}
QString FileChoiceFrame::dataFilePath() const {
    return d->dataPath;
}
QString FileChoiceFrame::resultFilePath() const {
    return d->resultPath;
}

void FileChoiceFrame::reset() {
    if (d->type != DataFileType::Excel || !d->excel->isChecked())
        d->excel->setChecked(true); // the option's rule discards the paths
    d->type = DataFileType::Excel;
    d->dataPath.clear();
    d->resultPath.clear();
    d->showPaths();
}

void FileChoiceFrame::setDataFileType(DataFileType type) {
    QRadioButton* button = type == DataFileType::Ascii ? d->ascii : d->excel;
    if (!button->isChecked()) {
        button->setChecked(true); // runs this again through the group's signal
        return;
    }
    // A new type needs both files chosen again: the old names name files of the other type.
    const bool changed = d->type != type;
    d->type = type;
    d->dataPath.clear();
    d->resultPath.clear();
    d->showPaths();
    if (changed)
        emit fileTypeChanged(type);
}

QString FileChoiceFrame::dataFileFilter() const {
    return d->type == DataFileType::Excel ? QStringLiteral("Excel (*.xlsx *.xls)") : QStringLiteral("Ascii (*)");
}

QString FileChoiceFrame::resultFileFilter() const {
    return d->type == DataFileType::Excel ? QStringLiteral("Excel (*.xlsx)") : QStringLiteral("Ascii (*.txt)");
}

void FileChoiceFrame::chooseDataFile() {
    d->dataPath = d->dialogs.openFileName(this, dataFileFilter()); // cancelled: empty
    d->showPaths();
}

void FileChoiceFrame::chooseResultFile() {
    const QString typed = d->dialogs.saveFileName(this, resultFileFilter()); // cancelled: empty
    QString path = resultPathWithExtension(typed, d->type);
    if (path != typed && QFileInfo::exists(path)) {
        // The dialog asked about the name as typed, not about the file the extension names:
        // never overwrite that one unasked.
        Message m;
        m.icon = MessageIcon::Warning;
        m.title = kTitleAttenzione;
        m.lines = {"IL FILE " + QFileInfo(path).fileName().toStdString() + " ESISTE GIA'",
                   "PER SOSTITUIRLO SCEGLIERLO CON IL NOME COMPLETO DI ESTENSIONE"};
        d->dialogs.showMessage(this, m);
        path.clear();
    }
    d->resultPath = path;
    d->showPaths();
    emit resultFileChosen();
}

} // namespace dormal::ui
