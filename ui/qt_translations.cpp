#include "ui/qt_translations.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace dormal::ui {

bool installQtTranslations(QCoreApplication& app, const QLocale& locale) {
    if (locale.language() != QLocale::Italian)
        return false;
    auto* translator = new QTranslator(&app);
    // Finds qtbase_it_IT.qm or qtbase_it.qm in Qt's translation folder.
    if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                          QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        delete translator;
        return false;
    }
    return QCoreApplication::installTranslator(translator);
}

} // namespace dormal::ui
