#include "support_window.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QRadioButton>
#include <QTest>

namespace uitest {

void FakeDialogs::showMessage(QWidget*, const dormal::Message& message) {
    messages.push_back(message);
}

QString FakeDialogs::openFileName(QWidget*, const QString& filter) {
    openFilters << filter;
    if (openAnswers.empty())
        return {};
    QString answer = openAnswers.front();
    openAnswers.pop_front();
    return answer;
}

QString FakeDialogs::saveFileName(QWidget*, const QString& filter) {
    saveFilters << filter;
    if (saveAnswers.empty())
        return {};
    QString answer = saveAnswers.front();
    saveAnswers.pop_front();
    return answer;
}

WindowHarness::WindowHarness() {
    window_ = std::make_unique<dormal::ui::MainWindow>(dialogs_, dir_.path());
    window_->show();
    window_->activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(window_.get()));
}

WindowHarness::~WindowHarness() {
    window_.reset();
    QApplication::processEvents();
}

QComboBox* WindowHarness::combo(int n) const {
    const QByteArray name = "Combo" + QByteArray::number(n);
    return find<QComboBox>(name.constData());
}

QString WindowHarness::text(const char* name) const {
    QWidget* w = find<QWidget>(name);
    if (auto* e = qobject_cast<QLineEdit*>(w))
        return e->text();
    if (auto* l = qobject_cast<QLabel*>(w))
        return l->text();
    if (auto* g = qobject_cast<QGroupBox*>(w))
        return g->title();
    if (auto* b = qobject_cast<QAbstractButton*>(w))
        return b->text();
    if (auto* c = qobject_cast<QComboBox*>(w))
        return c->currentText();
    ADD_FAILURE() << name << " has no text";
    return {};
}

bool WindowHarness::shown(const char* name) const {
    return find<QWidget>(name)->isVisible();
}

void WindowHarness::pick(int n, int index) {
    QComboBox* c = combo(n);
    ASSERT_TRUE(c->isVisible()) << "Combo" << n << " is hidden: a user cannot pick in it";
    ASSERT_LT(index, c->count());
    c->showPopup();
    QAbstractItemView* view = c->view();
    view->setCurrentIndex(c->model()->index(index, 0));
    QTest::keyClick(view, Qt::Key_Return);
    ASSERT_EQ(c->currentIndex(), index);
}

void WindowHarness::pick(int n, const char* item) {
    const int index = combo(n)->findText(QString::fromUtf8(item));
    ASSERT_GE(index, 0) << item << " is not an item of Combo" << n;
    pick(n, index);
}

void WindowHarness::click(const char* name) {
    QWidget* w = find<QWidget>(name);
    ASSERT_TRUE(w->isVisible()) << name << " is hidden";
    QTest::mouseClick(w, Qt::LeftButton, {}, clickPoint(w));
}

QPoint clickPoint(QWidget* w) {
    // Check boxes and option buttons take clicks on their mark and text only, not on the
    // empty rest of their width.
    if (qobject_cast<QCheckBox*>(w) != nullptr || qobject_cast<QRadioButton*>(w) != nullptr)
        return {6, w->height() / 2};
    return w->rect().center();
}

void WindowHarness::typeInto(const char* displayName, const char* editName, const QString& keys) {
    click(displayName);
    QLineEdit* edit = field(editName);
    ASSERT_TRUE(edit->isVisible());
    ASSERT_TRUE(edit->hasFocus());
    edit->selectAll();
    QTest::keyClick(edit, Qt::Key_Delete);
    QTest::keyClicks(edit, keys);
}

} // namespace uitest
