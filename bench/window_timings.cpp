// Timings of the window program, measured on the real main window under whatever platform Qt
// is given (offscreen, or an X server such as Xvfb). Built and run by window_timings.sh.
//
//   window_timings startup-click SAMPLES WORK   process start -> startup window painted, then a
//                                               click on it -> main window painted
//   window_timings startup-timer SAMPLES WORK   the same without the click (the 3000 ms timer)
//   window_timings point SAMPLES WORK [N]       "Esegui" -> output fields written, N typed points
//   window_timings batch-ascii SAMPLES WORK [N] "Esegui" -> summary box, 50,000 points, N runs
//   window_timings batch-excel SAMPLES WORK [N] the same from and to a workbook
//
// Each measure is printed as one line "name milliseconds". The process start is the time in
// DORMAL2K_T0_NS (CLOCK_REALTIME nanoseconds, set by the script just before it starts the
// program), or the start of main() without it.

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QTimer>

#include <xlsxwriter.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "ui/coordinate_fields.h"
#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/secondary_windows.h"
#include "ui/selection_binder.h"
#include "ui/working_zone_panel.h"

namespace {

using Clock = std::chrono::system_clock; // comparable with the script's `date +%s%N`

double msSince(Clock::time_point t0, Clock::time_point t1) {
    return std::chrono::duration<double, std::milli>(t1 - t0).count();
}

void print(const char* name, double ms) {
    std::printf("%s %.3f\n", name, ms);
    std::fflush(stdout);
}

// Boxes are answered at once; the time the last box arrived is kept (the summary of a run).
class TimingDialogs final : public dormal::ui::UserDialogs {
public:
    std::vector<dormal::Message> messages;
    Clock::time_point lastMessageAt;
    QString openAnswer, saveAnswer;

    void showMessage(QWidget*, const dormal::Message& m) override {
        lastMessageAt = Clock::now();
        messages.push_back(m);
    }
    QString openFileName(QWidget*, const QString&) override { return openAnswer; }
    QString saveFileName(QWidget*, const QString&) override { return saveAnswer; }
};

// Records when a widget is first painted, and calls `then` once the paint has been flushed
// (the next turn of the event loop).
class FirstPaint : public QObject {
public:
    FirstPaint(QWidget* w, std::function<void(Clock::time_point)> then) : then_(std::move(then)) {
        w->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject*, QEvent* e) override {
        if (e->type() == QEvent::Paint && !seen_) {
            seen_ = true;
            QTimer::singleShot(0, this, [this] { then_(Clock::now()); });
        }
        return false;
    }

private:
    std::function<void(Clock::time_point)> then_;
    bool seen_ = false;
};

int startup(int argc, char** argv, bool click, const QString& samples) {
    const Clock::time_point mainEntered = Clock::now();
    Clock::time_point t0 = mainEntered;
    if (const char* env = std::getenv("DORMAL2K_T0_NS"))
        t0 = Clock::time_point(std::chrono::duration_cast<Clock::duration>(std::chrono::nanoseconds(std::atoll(env))));
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dormal2k"));
    TimingDialogs dialogs;
    std::unique_ptr<dormal::ui::MainWindow> window;
    std::unique_ptr<FirstPaint> mainProbe;
    Clock::time_point clickedAt;

    const Clock::time_point created = Clock::now();
    auto* startupWindow = new dormal::ui::StartupWindow;
    startupWindow->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(startupWindow, &dormal::ui::StartupWindow::finished, &app, [&] {
        if (!click)
            print("startup_window_closed_after_creation", msSince(created, Clock::now()));
        window = std::make_unique<dormal::ui::MainWindow>(dialogs, samples);
        mainProbe = std::make_unique<FirstPaint>(window.get(), [&](Clock::time_point shown) {
            print("main_window_shown_from_process_start", msSince(t0, shown));
            if (click)
                print("main_window_shown_from_click", msSince(clickedAt, shown));
            QApplication::quit();
        });
        window->show();
    });
    FirstPaint startupProbe(startupWindow, [&](Clock::time_point shown) {
        print("startup_window_shown_from_process_start", msSince(t0, shown));
        print("startup_window_shown_from_main", msSince(mainEntered, shown));
        if (click) {
            clickedAt = Clock::now();
            QTest::mouseClick(startupWindow->findChild<QWidget*>(QStringLiteral("Picture1")), Qt::LeftButton);
        }
    });
    startupWindow->show();
    const int code = QApplication::exec();
    window.reset();
    return code;
}

// The full chain: ROMA40 Gauss-Boaga (automatic zone) -> ETRF2000 UTM (automatic zone) with
// heights, on the sample map sheet 0245.
void chooseFullChain(dormal::ui::MainWindow& w, const QString& samples) {
    dormal::ui::SelectionBinder& rules = w.rules();
    rules.setPosition(1, 0);  // ROMA40
    rules.setPosition(2, 1);  // Piane
    rules.setPosition(3, 0);  // Gauss-Boaga (automatic)
    rules.setPosition(6, 3);  // ETRF2000
    rules.setPosition(7, 1);  // Piane
    rules.setPosition(10, 0); // UTM Automatico
    w.findChild<QCheckBox*>(QStringLiteral("Check1"))->setChecked(true);
    w.workingZone()->openFolder(samples);
    if (!w.workingZone()->pickFile(QStringLiteral("0245.GK2"))) {
        std::fprintf(stderr, "no 0245.GK2 in %s\n", qPrintable(samples));
        std::exit(1);
    }
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

int point(int argc, char** argv, const QString& samples, int repeats) {
    QApplication app(argc, argv);
    TimingDialogs dialogs;
    dormal::ui::MainWindow w(dialogs, samples);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    chooseFullChain(w, samples);
    w.fields().enterText(dormal::FieldRef::First, QStringLiteral("4701696.111"));
    w.fields().enterText(dormal::FieldRef::Second, QStringLiteral("2401822.404"));
    w.fields().enterText(dormal::FieldRef::Height, QStringLiteral("206.915"));
    auto* command1 = w.findChild<QPushButton*>(QStringLiteral("Command1"));
    auto* text8 = w.findChild<QLineEdit*>(QStringLiteral("Text8"));
    QApplication::processEvents();

    std::vector<double> written, painted;
    for (int i = 0; i <= repeats; ++i) {
        const Clock::time_point t0 = Clock::now();
        QTest::mouseClick(command1, Qt::LeftButton);
        const Clock::time_point t1 = Clock::now();
        QApplication::processEvents(); // repaint of the fields
        const Clock::time_point t2 = Clock::now();
        if (text8->text().isEmpty() || !dialogs.messages.empty()) {
            std::fprintf(stderr, "the point was not converted\n");
            return 1;
        }
        if (i == 0) {
            print("point_first_run_fields_written", msSince(t0, t1));
            continue;
        }
        written.push_back(msSince(t0, t1));
        painted.push_back(msSince(t0, t2));
    }
    print("point_fields_written_median", median(written));
    print("point_fields_written_min", *std::min_element(written.begin(), written.end()));
    print("point_fields_painted_median", median(painted));
    std::printf("# %s -> %s %s (%s)\n", "4701696.111 2401822.404 206.915", qPrintable(text8->text()),
                qPrintable(w.findChild<QLineEdit*>(QStringLiteral("Text9"))->text()),
                qPrintable(w.findChild<QLineEdit*>(QStringLiteral("Text1"))->text()));
    return 0;
}

// 50,000 ROMA40 Gauss-Boaga points (zone Est) with heights, spread over the sample sheet.
constexpr int kPoints = 50000;

struct Pt {
    double north, east, height;
};

std::vector<Pt> makePoints() {
    std::vector<Pt> pts;
    unsigned long long s = 12345;
    auto next = [&s] {
        s = s * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<double>(s >> 11) / 9007199254740992.0;
    };
    for (int i = 0; i < kPoints; ++i)
        pts.push_back({4690000 + 25000 * next(), 2387000 + 27000 * next(), 200 + 1500 * next()});
    return pts;
}

void writeAscii(const std::string& path, const std::vector<Pt>& pts) {
    std::FILE* f = std::fopen(path.c_str(), "w");
    for (std::size_t i = 0; i < pts.size(); ++i)
        std::fprintf(f, "P%05zu %.3f %.3f %.3f\n", i + 1, pts[i].north, pts[i].east, pts[i].height);
    std::fclose(f);
}

void writeWorkbook(const std::string& path, const std::vector<Pt>& pts) {
    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook* wb = workbook_new_opt(path.c_str(), &options);
    lxw_worksheet* ws = workbook_add_worksheet(wb, nullptr);
    const char* headings[] = {"Numero", "Nord", "Est", "Quota"};
    for (lxw_col_t c = 0; c < 4; ++c)
        worksheet_write_string(ws, 0, c, headings[c], nullptr);
    char name[32];
    for (std::size_t i = 0; i < pts.size(); ++i) {
        const auto r = static_cast<lxw_row_t>(i + 1);
        std::snprintf(name, sizeof name, "P%05zu", i + 1);
        worksheet_write_string(ws, r, 0, name, nullptr);
        worksheet_write_number(ws, r, 1, pts[i].north, nullptr);
        worksheet_write_number(ws, r, 2, pts[i].east, nullptr);
        worksheet_write_number(ws, r, 3, pts[i].height, nullptr);
    }
    workbook_close(wb);
}

int batch(int argc, char** argv, const QString& samples, const QString& work, bool excel, int repeats) {
    QApplication app(argc, argv);
    const std::string data =
        (work + (excel ? QStringLiteral("/punti50000.xlsx") : QStringLiteral("/punti50000.txt"))).toStdString();
    if (excel)
        writeWorkbook(data, makePoints());
    else
        writeAscii(data, makePoints());

    TimingDialogs dialogs;
    dormal::ui::MainWindow w(dialogs, samples);
    w.show();
    if (!QTest::qWaitForWindowExposed(&w))
        return 1;
    chooseFullChain(w, samples);
    w.findChild<QRadioButton*>(QStringLiteral("Option3_1"))->click();
    w.findChild<QRadioButton*>(QString::fromLatin1(excel ? "Option4_0" : "Option4_1"))->click();
    dialogs.openAnswer = QString::fromStdString(data);
    dialogs.saveAnswer = work + (excel ? QStringLiteral("/risultati.xlsx") : QStringLiteral("/risultati.txt"));
    w.findChild<QPushButton*>(QStringLiteral("Command6"))->click();
    auto* command1 = w.findChild<QPushButton*>(QStringLiteral("Command1"));
    auto* command7 = w.findChild<QPushButton*>(QStringLiteral("Command7"));
    QApplication::processEvents();

    std::vector<double> toSummary;
    for (int i = 0; i < repeats; ++i) {
        command7->click(); // a result file chosen: "Esegui" enabled again
        dialogs.messages.clear();
        const Clock::time_point t0 = Clock::now();
        QTest::mouseClick(command1, Qt::LeftButton);
        if (dialogs.messages.empty() || dialogs.messages.back().lines.size() < 2 ||
            dialogs.messages.back().lines[1] != "PUNTI TRATTATI:   50000") {
            std::fprintf(stderr, "the run did not end with the summary of 50000 points: %s\n",
                         dialogs.messages.empty() ? "no box" : dormal::joinedText(dialogs.messages.back()).c_str());
            return 1;
        }
        toSummary.push_back(msSince(t0, dialogs.lastMessageAt));
    }
    const std::string name = std::string(excel ? "batch_excel" : "batch_ascii") + "_50000_to_summary";
    print((name + "_median").c_str(), median(toSummary));
    print((name + "_min").c_str(), *std::min_element(toSummary.begin(), toSummary.end()));
    std::string summary = dormal::joinedText(dialogs.messages.back());
    std::replace(summary.begin(), summary.end(), '\n', '/');
    std::printf("# %s\n", summary.c_str());
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 4) {
        std::fprintf(stderr, "uso: window_timings startup-click|startup-timer|point|batch-ascii|batch-excel "
                             "SAMPLES WORK [N]\n");
        return 2;
    }
    const std::string mode = argv[1];
    const QString samples = QString::fromLocal8Bit(argv[2]);
    const QString work = QString::fromLocal8Bit(argv[3]);
    const int repeats = argc > 4 ? std::max(1, std::atoi(argv[4])) : 0;
    int qtArgc = 1;
    if (mode == "startup-click" || mode == "startup-timer")
        return startup(qtArgc, argv, mode == "startup-click", samples);
    if (mode == "point")
        return point(qtArgc, argv, samples, repeats > 0 ? repeats : 200);
    if (mode == "batch-ascii" || mode == "batch-excel")
        return batch(qtArgc, argv, samples, work, mode == "batch-excel", repeats > 0 ? repeats : 3);
    std::fprintf(stderr, "modo sconosciuto: %s\n", mode.c_str());
    return 2;
}
