// dormal2k-screenshots: pictures of the windows for the README and for checking the layout by
// eye. Runs the startup window and the main window in the current folder, grabs them after a
// scripted set of picks into the folder named on the command line, and ends. Not installed.

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/qt_translations.h"
#include "ui/screenshot_tour.h"
#include "ui/secondary_windows.h"

namespace {

// Message boxes go to the standard error instead of waiting for a click that never comes.
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
    const QStringList args = QApplication::arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "uso: dormal2k-screenshots CARTELLA\n");
        return 2;
    }
    const QString folder = args.at(1);
    QDir().mkpath(folder);
    dormal::ui::installQtTranslations(app, QLocale());

    PrintingDialogs dialogs;
    std::unique_ptr<dormal::ui::MainWindow> window;
    auto* startup = new dormal::ui::StartupWindow;
    startup->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(startup, &dormal::ui::StartupWindow::finished, &app, [&] {
        window = std::make_unique<dormal::ui::MainWindow>(dialogs, QDir::currentPath());
        window->show();
        QTimer::singleShot(300, &app, [&] {
            for (const QString& file : dormal::ui::runScreenshotTour(*window, folder))
                std::printf("%s\n", qPrintable(file));
            QApplication::quit();
        });
    });
    startup->show();
    QTimer::singleShot(300, startup, [startup, folder] {
        startup->grab().save(QDir(folder).filePath(QStringLiteral("startup.png")));
        startup->finish();
    });
    const int code = QApplication::exec();
    window.reset();
    return code;
}
