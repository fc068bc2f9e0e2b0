#pragma once
// The program's own windows besides the main one: the startup window, the information
// window and the two example windows that show how a data file must be laid out. None holds
// state; each shows fixed texts and pictures drawn by the program and closes with one action.

#include <QPointer>
#include <QWidget>
#include <functional>

#include "conversion/data_source.h"

class QPainter;
class QTimer;

namespace dormal::ui {

// A picture drawn by the program itself.
class Picture : public QWidget {
    Q_OBJECT
public:
    using Painter = std::function<void(QPainter&, const QRect&)>;
    Picture(Painter paint, QSize preferred, QWidget* parent = nullptr);
    QSize sizeHint() const override { return preferred_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    Painter paint_;
    QSize preferred_;
};

// The pictures, drawn into `area` (also used for the screenshots of the manual).
void paintStartupPicture(QPainter& p, const QRect& area); // graticule and survey network
void paintEmblem(QPainter& p, const QRect& area);         // the program's emblem
void paintContactPicture(QPainter& p, const QRect& area); // envelope beside the contacts
void paintArrow(QPainter& p, const QRect& area);          // the main window's arrows
void paintBanner(QPainter& p, const QRect& area);         // the main window's title banner
void paintAsciiSample(QPainter& p, const QRect& area);    // a sample ASCII data file
void paintWorkbookSample(QPainter& p, const QRect& area); // a sample data worksheet

// Caption "Avvio". Closes and emits `finished` once: when its 3000 ms timer fires or when
// the user clicks the picture or one of its three texts, whichever comes first.
class StartupWindow : public QWidget {
    Q_OBJECT
public:
    static constexpr int kIntervalMs = 3000;
    explicit StartupWindow(QWidget* parent = nullptr);
    Q_DISABLE_COPY_MOVE(StartupWindow)
    QTimer* timer() const { return timer_; }
    // Closes the window as the timer or a click would (once only).
    void finish();

signals:
    void finished();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    // Closing the window by its frame counts as a click: the main window opens.
    void closeEvent(QCloseEvent* event) override;

private:
    QTimer* timer_ = nullptr;
    bool done_ = false;
};

// Caption "Informazioni su Dormal2k".
class InformationWindow : public QWidget {
    Q_OBJECT
public:
    explicit InformationWindow(QWidget* parent = nullptr);
};

// Caption "esempio input  *.txt".
class AsciiExampleWindow : public QWidget {
    Q_OBJECT
public:
    explicit AsciiExampleWindow(QWidget* parent = nullptr);
};

// Caption "esempio input Excel".
class ExcelExampleWindow : public QWidget {
    Q_OBJECT
public:
    explicit ExcelExampleWindow(QWidget* parent = nullptr);
};

// Keeps each secondary window to one instance. A window is built when first asked for,
// brought forward when asked for again while open, and discarded when closed.
class SecondaryWindows : public QObject {
    Q_OBJECT
public:
    explicit SecondaryWindows(QObject* parent = nullptr);
    ~SecondaryWindows() override;
    Q_DISABLE_COPY_MOVE(SecondaryWindows)

    QWidget* showInformation();
    // The ASCII example for DataFileType::Ascii, the workbook example otherwise.
    QWidget* showExample(DataFileType type);
    void closeAll();

    QWidget* information() const { return information_; }
    QWidget* asciiExample() const { return ascii_; }
    QWidget* excelExample() const { return excel_; }

private:
    QPointer<QWidget> information_, ascii_, excel_;
};

} // namespace dormal::ui
