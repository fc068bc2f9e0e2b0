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

    dormal::ui::QtUserDialogs dialogs;
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
