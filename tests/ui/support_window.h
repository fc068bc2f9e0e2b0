#pragma once
// The main window under test: made in a folder of its own, with dialogs that record every
// message and answer file dialogs from queues, and helpers that act as a user would.

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QString>
#include <QTemporaryDir>
#include <deque>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "conversion/selection_words.h"
#include "conversion/message.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"

namespace uitest {

// Where a user clicks a control: the middle, or the mark of a check box or option button.
QPoint clickPoint(QWidget* w);

class FakeDialogs final : public dormal::ui::UserDialogs {
public:
    std::vector<dormal::Message> messages;
    std::deque<QString> openAnswers, saveAnswers;
    QStringList openFilters, saveFilters;

    void showMessage(QWidget* parent, const dormal::Message& message) override;
    QString openFileName(QWidget* parent, const QString& filter) override;
    QString saveFileName(QWidget* parent, const QString& filter) override;
};

// A shown, active main window working in an empty temporary folder.
class WindowHarness {
public:
    WindowHarness();
    ~WindowHarness();

    dormal::ui::MainWindow& window() { return *window_; }
    FakeDialogs& dialogs() { return dialogs_; }
    QString folder() const { return dir_.path(); }

    template <typename T = QWidget> T* find(const char* name) const {
        T* w = window_->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(w, nullptr) << "no control " << name;
        return w;
    }
    QComboBox* combo(int n) const;
    QLineEdit* field(const char* name) const { return find<QLineEdit>(name); }
    QString text(const char* name) const; // QLineEdit, QLabel, QGroupBox title, button text
    // Not hidden (the window itself is shown): what the user sees, frames included.
    bool shown(const char* name) const;
    bool enabled(const char* name) const { return find<QWidget>(name)->isEnabled(); }

    // A user's pick of item `index` in list n, through the open list and Enter (a pick of
    // the current item runs the rule too).
    void pick(int n, int index);
    // Picks the item of a system or kind list (Combo1, Combo2, Combo6, Combo7) that gives `value`.
    void pick(int n, dormal::RefSystem value) { pick(n, dormal::positionOf(dormal::systemList(), value)); }
    void pick(int n, dormal::CoordKind value) { pick(n, dormal::positionOf(dormal::kindList(), value)); }
    // A user's pick by the item's text.
    void pick(int n, const char* item);
    void click(const char* name);
    // Clicks the display field and types `keys` into the edit field that appears.
    void typeInto(const char* displayName, const char* editName, const QString& keys);

private:
    QTemporaryDir dir_;
    FakeDialogs dialogs_;
    std::unique_ptr<dormal::ui::MainWindow> window_;
};

} // namespace uitest
