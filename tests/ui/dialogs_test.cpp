// The real message box and file dialogs, answered by a timer as a user would answer them.

#include <QAbstractButton>
#include <QApplication>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QElapsedTimer>
#include <QThread>
#include <QTimer>
#include <functional>

#include <gtest/gtest.h>

#include "conversion/message.h"
#include "ui/dialogs.h"

namespace {

using dormal::ui::QtUserDialogs;

// Runs `answer` on the modal window that is open once the event loop turns (repeatedly,
// until one is there).
void whenModalOpens(std::function<void(QWidget*)> answer) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, answer] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            timer->stop();
            timer->deleteLater();
            answer(modal);
        }
    });
    timer->start();
}

TEST(QtUserDialogs, MessageBoxHasTitleIconLinesAndOneOkButton) {
    dormal::Message m;
    m.icon = dormal::MessageIcon::Warning;
    m.title = dormal::kTitleAttenzione;
    m.lines = {"NON E' STATO SELEZIONATO  ", "NESSUN FILE CONTENENTE PORZIONI DI GRIGLIA"};
    QString title, text;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    int buttons = 0;
    whenModalOpens([&](QWidget* w) {
        auto* box = qobject_cast<QMessageBox*>(w);
        ASSERT_NE(box, nullptr);
        title = box->windowTitle();
        text = box->text();
        icon = box->icon();
        buttons = static_cast<int>(box->buttons().size());
        box->button(QMessageBox::Ok)->click();
    });
    QtUserDialogs().showMessage(nullptr, m);
    EXPECT_EQ(title, "ATTENZIONE:");
    EXPECT_EQ(text, "NON E' STATO SELEZIONATO  \nNESSUN FILE CONTENENTE PORZIONI DI GRIGLIA");
    EXPECT_EQ(icon, QMessageBox::Warning);
    EXPECT_EQ(buttons, 1);
}

class SaveDialog : public ::testing::Test {
protected:
    // Types `path` into the dialog's name field, in the folder of the file. The dialog opens
    // in the folder it showed last (an earlier test's, already removed) and lists a folder on
    // a thread of its own: a listing that arrives late empties the name field, and then
    // selectFile() no longer fills a field that has the focus. So the folder is set first and
    // the name typed again until it has stayed over several turns of the event loop.
    static void typeName(QFileDialog* dialog, const QString& path) {
        auto* nameField = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        ASSERT_NE(nameField, nullptr);
        dialog->setDirectory(QFileInfo(path).absolutePath());
        QElapsedTimer clock;
        clock.start();
        for (int steady = 0; steady < 5 && clock.elapsed() < 10000;) {
            if (nameField->text() != path) {
                nameField->setText(path);
                steady = 0;
            } else {
                ++steady;
            }
            QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
            QThread::msleep(5);
        }
    }

    QString save(const QString& filter, const QString& name, bool replace = true) {
        whenModalOpens([this, name, replace](QWidget* w) {
            auto* dialog = qobject_cast<QFileDialog*>(w);
            ASSERT_NE(dialog, nullptr);
            filterShown = dialog->nameFilters().join(";");
            typeName(dialog, dir.filePath(name));
            // An overwrite question opens inside accept(): answer it from a timer.
            QTimer question;
            question.setInterval(10);
            QObject::connect(&question, &QTimer::timeout, [&] {
                if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
                    asked = true;
                    box->button(replace ? QMessageBox::Yes : QMessageBox::No)->click();
                }
            });
            question.start();
            static_cast<QDialog*>(dialog)->accept();
            question.stop();
            if (dialog->isVisible()) // the user said no: the dialog waits for another name
                dialog->reject();
        });
        return QtUserDialogs().saveFileName(nullptr, filter);
    }
    QTemporaryDir dir;
    QString filterShown;
    bool asked = false;
};

TEST_F(SaveDialog, AddsTheFiltersExtensionToANameWithout) {
    EXPECT_EQ(save("Ascii (*.txt)", "risultati"), dir.filePath("risultati.txt"));
    EXPECT_EQ(filterShown, "Ascii (*.txt)");
    EXPECT_FALSE(asked);
}

TEST_F(SaveDialog, KeepsATypedExtension) {
    EXPECT_EQ(save("Ascii (*.txt)", "risultati.dat"), dir.filePath("risultati.dat"));
}

TEST_F(SaveDialog, AsksBeforeOverwritingTheFileThatWillBeWritten) {
    QFile existing(dir.filePath("vecchi.xls"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    EXPECT_EQ(save("Excel (*.xls)", "vecchi", true), dir.filePath("vecchi.xls"));
    EXPECT_TRUE(asked) << "the name with the added extension exists";
}

TEST_F(SaveDialog, RefusingToOverwriteGivesNoFile) {
    QFile existing(dir.filePath("vecchi.txt"));
    ASSERT_TRUE(existing.open(QIODevice::WriteOnly));
    existing.close();
    EXPECT_TRUE(save("Ascii (*.txt)", "vecchi.txt", false).isEmpty());
    EXPECT_TRUE(asked);
}

} // namespace
