// The window program as a Linux user starts it: --help and --version answered without a
// window, anything else refused with the usage line; and Qt's own dialogs in Italian.

#include <QCoreApplication>
#include <QLocale>
#include <QProcess>
#include <QProcessEnvironment>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "ui/qt_translations.h"

namespace {

struct Outcome {
    int exitCode = -1;
    QString out, err;
};

Outcome runProgram(const QStringList& args) {
    QTemporaryDir home;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("HOME"), home.path());
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), home.path());
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(home.path());
    p.start(QStringLiteral(DORMAL2K_BINARY_DIR "/ui/dormal2k"), args);
    Outcome o;
    if (!p.waitForFinished(10000)) {
        p.kill();
        p.waitForFinished();
        o.err = QStringLiteral("did not end");
        return o;
    }
    o.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    o.out = QString::fromUtf8(p.readAllStandardOutput());
    o.err = QString::fromUtf8(p.readAllStandardError());
    return o;
}

TEST(CommandLine, HelpAndVersionPrintAndEnd) {
    struct Case {
        QStringList args;
        const char* starts;
    };
    const Case cases[] = {
        {{QStringLiteral("--help")}, "uso: dormal2k"},
        {{QStringLiteral("-h")}, "uso: dormal2k"},
        {{QStringLiteral("--version")}, "dormal2k " DORMAL2K_VERSION_TEXT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(QLatin1Char(' ')).toStdString());
        const Outcome o = runProgram(c.args);
        EXPECT_EQ(o.exitCode, 0) << o.err.toStdString();
        EXPECT_TRUE(o.out.startsWith(QLatin1String(c.starts))) << o.out.toStdString();
        EXPECT_TRUE(o.err.isEmpty()) << o.err.toStdString();
    }
}

// Fault guarded: the program took a hidden option and silently ignored every other one.
TEST(CommandLine, AnythingElseIsRefusedWithTheUsageLine) {
    const QStringList refused[] = {
        {QStringLiteral("--screenshot-dir"), QStringLiteral("pictures")},
        {QStringLiteral("--bogus")},
        {QStringLiteral("dati.txt")},
        {QStringLiteral("-x")},
    };
    for (const QStringList& args : refused) {
        SCOPED_TRACE(args.join(QLatin1Char(' ')).toStdString());
        const Outcome o = runProgram(args);
        EXPECT_EQ(o.exitCode, 2);
        EXPECT_TRUE(o.out.isEmpty()) << o.out.toStdString();
        EXPECT_TRUE(o.err.contains(QLatin1String("uso: dormal2k"))) << o.err.toStdString();
        EXPECT_TRUE(o.err.contains(args.constFirst())) << "names what it refused";
    }
}

// Fault guarded: the standard file dialogs spoke English ("Look in", "Cancel") in an
// Italian window.
TEST(QtTranslations, ItalianLocaleGetsQtsOwnItalianTexts) {
    const QString lookIn = QCoreApplication::translate("QFileDialog", "Look in:");
    const QString cancel = QCoreApplication::translate("QPlatformTheme", "Cancel");
    EXPECT_FALSE(dormal::ui::installQtTranslations(*QCoreApplication::instance(), QLocale(QLocale::English)));
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), lookIn);

    ASSERT_TRUE(
        dormal::ui::installQtTranslations(*QCoreApplication::instance(), QLocale(QLocale::Italian, QLocale::Italy)))
        << "qtbase_it.qm missing (package qt6-translations-l10n)";
    EXPECT_EQ(QCoreApplication::translate("QFileDialog", "Look in:"), "Cerca in:");
    EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel"), "Annulla");
    EXPECT_NE(QCoreApplication::translate("QPlatformTheme", "Cancel"), cancel);
}

} // namespace
