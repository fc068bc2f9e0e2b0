// Dormal2k: the window program. Shows the startup window, then the main window working in
// the current folder.

#include <QApplication>
#include <QDir>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/screenshot_tour.h"
#include "ui/secondary_windows.h"

namespace {

// Message boxes of the scripted pictures go to the standard error instead of waiting for a
// click that never comes.
class PrintingDialogs final : public dormal::ui::UserDialogs {
public:
    void showMessage(QWidget*, const dormal::Message& message) override {
        std::fprintf(stderr, "[%s] %s\n", message.title.c_str(), dormal::joinedText(message).c_str());
    }
    QString openFileName(QWidget*, const QString&) override { return {}; }
    QString saveFileName(QWidget*, const QString&) override { return {}; }
};

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dormal2k"));

    // Hidden option for the manual's pictures: --screenshot-dir DIR grabs the windows after
    // a scripted set of picks and ends.
    QString screenshotDir;
    const QStringList args = QApplication::arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--screenshot-dir"));
    if (at >= 0 && at + 1 < args.size())
        screenshotDir = args.at(at + 1);

    dormal::ui::QtUserDialogs boxes;
    PrintingDialogs printed;
    dormal::ui::UserDialogs& dialogs = screenshotDir.isEmpty() ? static_cast<dormal::ui::UserDialogs&>(boxes) : printed;
    std::unique_ptr<dormal::ui::MainWindow> window;

    auto* startup = new dormal::ui::StartupWindow;
    startup->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(startup, &dormal::ui::StartupWindow::finished, &app, [&] {
        window = std::make_unique<dormal::ui::MainWindow>(dialogs, QDir::currentPath());
        QObject::connect(window.get(), &dormal::ui::MainWindow::exitRequested, &app, &QApplication::quit);
        window->show();
        if (!screenshotDir.isEmpty()) {
            QTimer::singleShot(300, &app, [&] {
                for (const QString& file : dormal::ui::runScreenshotTour(*window, screenshotDir))
                    std::printf("%s\n", qPrintable(file));
                QApplication::quit();
            });
        }
    });
    startup->show();

    if (!screenshotDir.isEmpty()) {
        QTimer::singleShot(300, startup, [startup, screenshotDir] {
            QDir().mkpath(screenshotDir);
            startup->grab().save(QDir(screenshotDir).filePath(QStringLiteral("startup.png")));
            startup->finish();
        });
    }
    const int code = QApplication::exec();
    window.reset();
    return code;
}
