#pragma once
// Qt's own texts (file dialogs, message box buttons, context menus) in the user's language.

class QCoreApplication;
class QLocale;

namespace dormal::ui {

// Installs Qt's translations for `locale` into `app` when the locale is Italian and Qt's
// translation files for it are installed; true when they were installed. Other languages
// keep Qt's English texts, as the window's own texts are Italian anyway.
bool installQtTranslations(QCoreApplication& app, const QLocale& locale);

} // namespace dormal::ui
