// The window's texts fit and its controls do not overlap, in every state a user reaches by
// picking every position of every selection list, the height box, the input mode and a
// grid portion; with the default font and with a 14-point one. Registered at Qt scale 1 and
// 2 (QT_SCALE_FACTOR in the test's environment).

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStyleOptionComboBox>

#include <gtest/gtest.h>

#include "support_window.h"
#include "ui/working_zone_panel.h"
#include "wz_fixtures.h"

namespace {

using uitest::WindowHarness;

bool isControl(const QWidget* w) {
    return qobject_cast<const QLabel*>(w) || qobject_cast<const QAbstractButton*>(w) ||
           qobject_cast<const QComboBox*>(w) || qobject_cast<const QLineEdit*>(w) ||
           qobject_cast<const QAbstractItemView*>(w) || qobject_cast<const QGroupBox*>(w) ||
           qobject_cast<const QProgressBar*>(w);
}

// What is wrong with one control's text, empty when it fits.
std::string clipped(QWidget* w) {
    const QFontMetrics fm = w->fontMetrics();
    const std::string name = w->objectName().toStdString();
    if (auto* l = qobject_cast<QLabel*>(w)) {
        if (l->text().isEmpty())
            return {};
        const QRect r = l->contentsRect();
        if (l->wordWrap()) {
            const QRect need = fm.boundingRect(QRect(0, 0, r.width(), 100000), Qt::TextWordWrap, l->text());
            if (need.width() > r.width() || need.height() > r.height())
                return name + " \"" + l->text().toStdString() + "\" needs " + std::to_string(need.width()) + "x" +
                       std::to_string(need.height()) + " in " + std::to_string(r.width()) + "x" +
                       std::to_string(r.height());
            return {};
        }
        // One line, or lines broken by the text itself.
        const QSize need = fm.size(0, l->text());
        if (need.width() > r.width() || need.height() > r.height())
            return name + " \"" + l->text().toStdString() + "\" needs " + std::to_string(need.width()) + "x" +
                   std::to_string(need.height()) + " in " + std::to_string(r.width()) + "x" +
                   std::to_string(r.height());
        return {};
    }
    if (qobject_cast<QCheckBox*>(w) || qobject_cast<QRadioButton*>(w) || qobject_cast<QPushButton*>(w)) {
        // Mark or bevel, margins and text: the width the style asks for to draw the text whole.
        auto* b = static_cast<QAbstractButton*>(w);
        const int need = std::max(w->minimumSizeHint().width(), fm.horizontalAdvance(b->text()));
        if (w->width() < need || w->height() < fm.height())
            return name + " \"" + b->text().toStdString() + "\" needs " + std::to_string(need) + " in " +
                   std::to_string(w->width());
        return {};
    }
    if (auto* c = qobject_cast<QComboBox*>(w)) {
        QStyleOptionComboBox opt;
        opt.initFrom(c);
        opt.editable = false;
        opt.frame = true;
        const QRect field = c->style()->subControlRect(QStyle::CC_ComboBox, &opt, QStyle::SC_ComboBoxEditField, c);
        for (int i = 0; i < c->count(); ++i) {
            const int need = fm.horizontalAdvance(c->itemText(i));
            if (need > field.width())
                return name + " item \"" + c->itemText(i).toStdString() + "\" needs " + std::to_string(need) + " in " +
                       std::to_string(field.width());
        }
        return {};
    }
    if (auto* g = qobject_cast<QGroupBox*>(w)) {
        const int need = fm.horizontalAdvance(g->title());
        if (!g->title().isEmpty() && need + 8 > w->width())
            return name + " title \"" + g->title().toStdString() + "\" needs " + std::to_string(need);
    }
    return {};
}

// Every fault of the window as it is now: clipped texts, overlapping visible siblings.
std::vector<std::string> layoutFaults(QWidget* window) {
    std::vector<std::string> faults;
    QList<QWidget*> all = window->findChildren<QWidget*>();
    for (QWidget* w : all) {
        if (!w->isVisible() || !isControl(w))
            continue;
        if (std::string f = clipped(w); !f.empty())
            faults.push_back("clipped: " + f);
        if (w->parentWidget() != window && !w->parentWidget()->rect().contains(w->geometry()))
            faults.push_back("outside its parent: " + w->objectName().toStdString());
    }
    for (qsizetype i = 0; i < all.size(); ++i) {
        QWidget* a = all[i];
        if (!a->isVisible() || !isControl(a) || a->objectName().isEmpty())
            continue;
        for (qsizetype j = i + 1; j < all.size(); ++j) {
            QWidget* b = all[j];
            if (b->parentWidget() != a->parentWidget() || !b->isVisible() || !isControl(b) || b->objectName().isEmpty())
                continue;
            if (a->geometry().intersects(b->geometry()))
                faults.push_back("overlap: " + a->objectName().toStdString() + " and " + b->objectName().toStdString());
        }
    }
    return faults;
}

class LayoutTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override {
        saved = QApplication::font();
        if (GetParam() > 0) {
            QFont f = saved;
            f.setPointSize(GetParam());
            QApplication::setFont(f);
        }
    }
    void TearDown() override { QApplication::setFont(saved); }

    // Checks the window now; `state` says how it got there.
    void check(WindowHarness& h, const std::string& state) {
        QApplication::processEvents();
        for (const std::string& f : layoutFaults(&h.window()))
            ADD_FAILURE() << state << ": " << f;
        ++states;
    }

    QFont saved;
    int states = 0;
};

TEST_P(LayoutTest, EveryListPositionFitsWithoutOverlap) {
    WindowHarness h;
    wz::PortionFile sheet = wz::sheetPortion();
    sheet.geoidEpoch = "SINTETICA, NON PER RILIEVI";
    wz::writeFile(QDir(h.folder()).filePath(QStringLiteral("0245.GK2")), wz::portionText(sheet));
    h.window().workingZone()->openFolder(h.folder());
    check(h, "start-up");

    for (bool portion : {false, true}) {
        if (portion) {
            ASSERT_TRUE(h.window().workingZone()->pickFile(QStringLiteral("0245.GK2")));
            check(h, "portion shown");
        }
        for (bool heights : {false, true}) {
            if (h.find<QCheckBox>("Check1")->isChecked() != heights && h.enabled("Check1"))
                h.click("Check1");
            for (int n = 1; n <= 10; ++n) {
                QComboBox* list = h.combo(n);
                for (int i = 0; i < list->count(); ++i) {
                    if (!list->isVisible())
                        break;
                    h.pick(n, i);
                    check(h, "Combo" + std::to_string(n) + " at " + std::to_string(i) + (heights ? ", heights" : "") +
                                 (portion ? ", portion" : ""));
                }
            }
        }
    }
    h.click("Option3_1");
    check(h, "Da file");
    h.window().resize(h.window().size() * 3 / 2);
    check(h, "Da file, enlarged");
    h.click("Option3_0");
    check(h, "Da tastiera, enlarged");
    EXPECT_GT(states, 60);
}

// 0: the application's own font.
INSTANTIATE_TEST_SUITE_P(Fonts, LayoutTest, ::testing::Values(0, 14), [](const ::testing::TestParamInfo<int>& info) {
    return info.param == 0 ? std::string("DefaultFont") : "Points" + std::to_string(info.param);
});

} // namespace
