// Dormal2k: the window program. Shows the startup window, then the main window working in
// the current folder. The command line takes only --help and --version.

#include <QApplication>
#include <QDir>
#include <QLocale>
#include <cstdio>
#include <cstring>
#include <memory>

#include "ui/dialogs.h"
#include "ui/main_window.h"
#include "ui/qt_translations.h"
#include "ui/secondary_windows.h"

#ifndef DORMAL2K_VERSION
#define DORMAL2K_VERSION "0"
#endif

namespace {

constexpr const char* kUsage = "uso: dormal2k [--help | --version]\n";

constexpr const char* kHelp = "\n"
                              "Converte coordinate tra i sistemi di riferimento italiani (ROMA40, ED50, ETRF89,\n"
                              "ETRF2000) con le porzioni di griglia della cartella di lavoro. La finestra parte\n"
                              "nella cartella corrente; per convertire file dalla riga di comando: dormal2k-batch.\n"
                              "\n"
                              "  --help      questo testo\n"
                              "  --version   la versione del programma\n";

} // namespace

int main(int argc, char** argv) {
    // --help and --version are answered before any window system is asked for.
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        }
        if (std::strcmp(argv[i], "--version") == 0) {
            std::printf("dormal2k %s\n", DORMAL2K_VERSION);
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Dormal2k"));
    QApplication::setApplicationVersion(QStringLiteral(DORMAL2K_VERSION));
    // What is left once Qt has taken its own options (-platform, -style ...) is not ours.
    const QStringList args = QApplication::arguments();
    if (args.size() > 1) {
        std::fprintf(stderr, "dormal2k: opzione non riconosciuta: %s\n%s", qPrintable(args.at(1)), kUsage);
        return 2;
    }
    // Qt's own dialogs (file choice, message boxes) in Italian too.
    dormal::ui::installQtTranslations(app, QLocale());

    dormal::ui::QtUserDialogs dialogs;
    std::unique_ptr<dormal::ui::MainWindow> window;

    auto* startup = new dormal::ui::StartupWindow;
    startup->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(startup, &dormal::ui::StartupWindow::finished, &app, [&] {
        window = std::make_unique<dormal::ui::MainWindow>(dialogs, QDir::currentPath());
        QObject::connect(window.get(), &dormal::ui::MainWindow::exitRequested, &app, &QApplication::quit);
        window->show();
    });
    startup->show();

    const int code = QApplication::exec();
    window.reset();
    return code;
}
