#pragma once
// Modal message boxes and file dialogs behind a small interface, so the window can be
// driven headless by tests that answer the boxes and record what was shown.

#include <QString>
#include <QStringList>

#include "conversion/message.h"

class QWidget;

namespace dormal::ui {

class UserDialogs {
public:
    virtual ~UserDialogs() = default;
    // A modal box with the message's title, icon and lines (joined by line breaks), one OK button.
    virtual void showMessage(QWidget* parent, const Message& message) = 0;
    // Open-file dialog; empty when cancelled. `filter` as Qt writes it ("Excel (*.xlsx *.xls)").
    virtual QString openFileName(QWidget* parent, const QString& filter) = 0;
    // Save-file dialog that asks before overwriting; empty when cancelled.
    virtual QString saveFileName(QWidget* parent, const QString& filter) = 0;
};

// The real thing: QMessageBox and QFileDialog.
class QtUserDialogs final : public UserDialogs {
public:
    void showMessage(QWidget* parent, const Message& message) override;
    QString openFileName(QWidget* parent, const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& filter) override;
};

} // namespace dormal::ui
