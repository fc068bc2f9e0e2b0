// The startup, information and example windows: their texts character for character, one
// instance each, the startup window's timer and click, "Esci" closing everything.

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include "support_window.h"
#include "ui/file_choice_frame.h"
#include "ui/secondary_windows.h"

namespace {

using dormal::ui::SecondaryWindows;
using dormal::ui::StartupWindow;
using uitest::WindowHarness;

struct NamedText {
    const char* label;
    const char* text;
};

// Blanks inside and at the end of the texts belong to them.
const NamedText kInformation[] = {
    {"Label1", "Dormal2k"},
    {"Label3", "versione  1.1"},
    {"Label2", "luglio 2009"},
    {"Label5", "Dormal2k consente:"},
    {"Label4", "- la trasformazione  fra sistemi di riferimento geodetici ROMA40, ED50, ETRF89 e         ETRF2000  di "
               "posizioni espresse sia in coordinate geografiche che piane (con               l'ausilio delle "
               "griglie);"},
    {"Label6", "- la trasformazione fra quote ellissoidiche e quote geoidiche;  "},
    {"Label8", "- la trasformazione fra coordinate geografiche e piane su tutto il territorio nazionale,      anche "
               "in fusi diversi da quello di appartenenza (senza l'ausilio delle griglie); "},
    {"Label10", "- la trasformazione fra coordinate geografiche e piane nel \"Fuso Italia\" (sistema ETRS);"},
    {"Label7", "Per informazioni rivolgersi a: "},
};

const char* const kAsciiLabel6 =
    "Il programma accetta al massimo 50000 punti da trasformare. Per quantità elevate di punti da trasformare è "
    "opportuno utilizzare il formato ASCII che offre tempi di elaborazione nettamente più brevi.";

const NamedText kAsciiExample[] = {
    {"Label1", "Le righe che hanno come primo carattere  la barra (/) o l'apice (') sono considerate di commento e "
               "vengono ignorate dal programma"},
    {"Label3", "Ogni riga contiene tutti e soli i dati relativi ad un punto; devono essere inseriti in sequenza:"},
    {"Label4", "- identificativo del punto, anche alfanumerico, senza spazi, massimo 8 caratteri;"},
    {"Label5",
     "- latitudine del punto in gradi sessagesimali (gg.ppssdddd), oppure coordinata Nord espressa in metri;"},
    {"Label7",
     "- longitudine del punto in gradi sessagesimali (gg.ppssdddd), oppure coordinata Est espressa in metri;"},
    {"Label9", "- quota del punto, se necessaria, espressa in metri."},
    {"Label8", "Le coordinate planimetriche devono essere tutte geografiche o tutte piane."},
    {"Label2", "I campi devono essere separati solo da spazi (in numero a piacere) o da tabulazione, il separatore "
               "dei decimali può essere il punto o la virgola."},
    {"Label6", kAsciiLabel6},
};

const NamedText kExcelExample[] = {
    {"Label1", "Riga di intestazione ignorata dal programma."},
    {"Label2", "In colonna \"A\" va inserito il numero distintivo del punto (anche alfanumerico)."},
    {"Label3", "In colonna \"B\" va inserita la Latitudine del punto espressa in gradi sessagesimali (gg.ppssdddd), "
               "oppure la coordinata NORD espressa in metri; le coordinate devono essere tutte geografiche o tutte "
               "piane."},
    {"Label4", "In colonna \"C\" va inserita la Longitudine del punto espressa in gradi sessagesimali (gg.ppssdddd), "
               "oppure la coordinata EST espressa in metri; le coordinate devono essere tutte geografiche o tutte "
               "piane."},
    {"Label5", "In colonna \"D\" va inserita, se necessaria,  la quota espressa in metri."},
    {"Label6", kAsciiLabel6},
};

template <std::size_t N> void expectTexts(QWidget* window, const NamedText (&texts)[N]) {
    for (const NamedText& t : texts) {
        SCOPED_TRACE(t.label);
        auto* label = window->findChild<QLabel*>(QString::fromLatin1(t.label));
        ASSERT_NE(label, nullptr);
        EXPECT_EQ(label->text(), QString::fromUtf8(t.text));
        EXPECT_TRUE(label->isVisible());
    }
    auto* ok = window->findChild<QPushButton*>(QStringLiteral("Command1"));
    ASSERT_NE(ok, nullptr);
    EXPECT_EQ(ok->text(), "OK");
    auto* image1 = window->findChild<QWidget*>(QStringLiteral("Image1"));
    ASSERT_NE(image1, nullptr);
    EXPECT_TRUE(image1->isVisible());
}

int topLevelsNamed(const char* name) {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name) && w->isVisible())
            ++n;
    return n;
}

void processDeletes() {
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QApplication::processEvents();
}

TEST(SecondaryWindows, InformationTextsAndOneInstance) {
    WindowHarness h;
    h.click("Command4");
    QWidget* info = h.window().secondaryWindows().information();
    ASSERT_NE(info, nullptr);
    EXPECT_EQ(info->windowTitle(), "Informazioni su Dormal2k");
    expectTexts(info, kInformation);
    EXPECT_NE(info->findChild<QWidget*>(QStringLiteral("Image3")), nullptr);
    EXPECT_FALSE(info->isModal());

    h.click("Command4");
    EXPECT_EQ(h.window().secondaryWindows().information(), info);
    EXPECT_EQ(topLevelsNamed("InformationWindow"), 1);

    // OK discards it; asking again builds a new one.
    QTest::mouseClick(info->findChild<QPushButton*>(QStringLiteral("Command1")), Qt::LeftButton);
    processDeletes();
    EXPECT_EQ(h.window().secondaryWindows().information(), nullptr);
    EXPECT_EQ(topLevelsNamed("InformationWindow"), 0);
    h.click("Command4");
    EXPECT_EQ(topLevelsNamed("InformationWindow"), 1);
}

TEST(SecondaryWindows, ExampleFollowsTheFileTypeWhenTheButtonIsPressed) {
    WindowHarness h;
    h.click("Option3_1");
    ASSERT_TRUE(h.shown("Command3"));
    h.click("Command3"); // Excel at start
    QWidget* excel = h.window().secondaryWindows().excelExample();
    ASSERT_NE(excel, nullptr);
    EXPECT_EQ(excel->windowTitle(), "esempio input Excel");
    expectTexts(excel, kExcelExample);
    EXPECT_EQ(h.window().secondaryWindows().asciiExample(), nullptr);

    h.find<QRadioButton>("Option4_1")->click(); // "Ascii"
    ASSERT_EQ(h.window().fileChoice()->dataFileType(), dormal::DataFileType::Ascii);
    h.click("Command3");
    QWidget* ascii = h.window().secondaryWindows().asciiExample();
    ASSERT_NE(ascii, nullptr);
    EXPECT_EQ(ascii->windowTitle(), "esempio input  *.txt");
    expectTexts(ascii, kAsciiExample);
    EXPECT_FALSE(ascii->isModal());

    h.click("Command3");
    EXPECT_EQ(topLevelsNamed("AsciiExampleWindow"), 1);
    EXPECT_EQ(topLevelsNamed("ExcelExampleWindow"), 1);
}

TEST(SecondaryWindows, EsciClosesEveryWindow) {
    WindowHarness h;
    QSignalSpy exit(&h.window(), &dormal::ui::MainWindow::exitRequested);
    h.click("Command4");
    h.click("Option3_1");
    h.click("Command3");
    ASSERT_EQ(topLevelsNamed("InformationWindow"), 1);
    ASSERT_EQ(topLevelsNamed("ExcelExampleWindow"), 1);
    h.click("Command2");
    processDeletes();
    EXPECT_EQ(exit.count(), 1);
    EXPECT_FALSE(h.window().isVisible());
    EXPECT_EQ(topLevelsNamed("InformationWindow"), 0);
    EXPECT_EQ(topLevelsNamed("ExcelExampleWindow"), 0);
    EXPECT_TRUE(h.dialogs().messages.empty()) << "no question is asked";
}

TEST(StartupWindow, CaptionAndTexts) {
    StartupWindow w;
    w.show();
    EXPECT_EQ(w.windowTitle(), "Avvio");
    EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("Label2"))->text(), "Dormal2k");
    EXPECT_EQ(w.findChild<QLabel*>(QStringLiteral("Label3"))->text(),
              "Conversione fra sistemi di riferimento geodetici");
    EXPECT_FALSE(w.findChild<QLabel*>(QStringLiteral("Label1"))->text().isEmpty());
    EXPECT_EQ(w.timer()->interval(), 3000);
    EXPECT_TRUE(w.timer()->isActive());
    EXPECT_TRUE(w.timer()->isSingleShot());
}

TEST(StartupWindow, AClickOnThePictureOrATextEndsItOnce) {
    for (const char* target : {"Picture1", "Label1", "Label2", "Label3"}) {
        SCOPED_TRACE(target);
        StartupWindow w;
        QSignalSpy finished(&w, &StartupWindow::finished);
        w.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.findChild<QWidget*>(QString::fromLatin1(target)), Qt::LeftButton);
        EXPECT_EQ(finished.count(), 1);
        EXPECT_FALSE(w.isVisible());
        EXPECT_FALSE(w.timer()->isActive()) << "the timer then has no effect";
        w.finish(); // what the timer would do
        QTest::mouseClick(w.findChild<QWidget*>(QStringLiteral("Picture1")), Qt::LeftButton);
        EXPECT_EQ(finished.count(), 1);
    }
}

TEST(StartupWindow, ClosingItByItsFrameOpensTheProgramAsAClickWould) {
    StartupWindow w;
    QSignalSpy finished(&w, &StartupWindow::finished);
    w.show();
    w.close();
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(w.timer()->isActive());
}

TEST(StartupWindow, TheTimerEndsItWithoutAClick) {
    StartupWindow w;
    QSignalSpy finished(&w, &StartupWindow::finished);
    w.timer()->setInterval(20); // the real 3000 ms would only slow the test
    w.timer()->start();
    w.show();
    EXPECT_TRUE(finished.wait(2000));
    EXPECT_EQ(finished.count(), 1);
    EXPECT_FALSE(w.isVisible());
}

} // namespace
