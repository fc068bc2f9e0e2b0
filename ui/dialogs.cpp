#include "ui/dialogs.h"

#include <QFileDialog>
#include <QMessageBox>
#include <QRegularExpression>

namespace dormal::ui {

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Warning:
        return QMessageBox::Warning;
    case MessageIcon::Information:
        return QMessageBox::Information;
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

// The extension of the first pattern of a filter such as "Ascii (*.txt)" ("txt"); empty
// for "*.*" or a filter without a pattern.
QString filterExtension(const QString& filter) {
    static const QRegularExpression pattern(QStringLiteral(R"(\*\.([A-Za-z0-9]+))"));
    const QRegularExpressionMatch m = pattern.match(filter);
    return m.hasMatch() ? m.captured(1) : QString();
}

} // namespace

void QtUserDialogs::showMessage(QWidget* parent, const Message& message) {
    QStringList lines;
    for (const std::string& line : message.lines)
        lines << QString::fromStdString(line);
    QMessageBox box(boxIcon(message.icon), QString::fromStdString(message.title), lines.join(QLatin1Char('\n')),
                    QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

QString QtUserDialogs::openFileName(QWidget* parent, const QString& filter) {
    QFileDialog dialog(parent, QStringLiteral("Apri"), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

QString QtUserDialogs::saveFileName(QWidget* parent, const QString& filter) {
    // Qt's own dialog adds the default suffix before it checks for an existing file, so the
    // overwrite question names the file that will really be written.
    QFileDialog dialog(parent, QStringLiteral("Salva con nome"), QString(), filter);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setDefaultSuffix(filterExtension(filter));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return {};
    return dialog.selectedFiles().constFirst();
}

} // namespace dormal::ui
