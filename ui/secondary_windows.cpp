#include "ui/secondary_windows.h"

#include <QCloseEvent>
#include <QEvent>
#include <QFontDatabase>
#include <QFontMetrics>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPushButton>
#include <QRegularExpression>
#include <QTimer>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>

namespace dormal::ui {

namespace {

// Sizes of the pictures, drawn for a 13-pixel line: enlarged with a taller font.
class FontScale {
public:
    explicit FontScale(const QFont& font) : scale_(std::max(1.0, QFontMetrics(font).height() / 13.0)) {}
    // A length given in twips (1/15 of a pixel at the drawn size) in logical pixels.
    int px(int twips) const { return static_cast<int>(std::lround(twips / 15.0 * scale_)); }

private:
    double scale_;
};

struct NamedText {
    const char* name;
    const char* text;
};

// Information window, top to bottom after the name, version and date.
constexpr NamedText kInformationTexts[] = {
    {"Label1", "Dormal2k"},
    {"Label3", "versione  1.1"},
    {"Label2", "luglio 2009"},
    {"Label5", "Dormal2k consente:"},
    {"Label4",
     "- la trasformazione  fra sistemi di riferimento geodetici ROMA40, ED50, ETRF89 e         ETRF2000  di posizioni "
     "espresse sia in coordinate geografiche che piane (con               l'ausilio delle griglie);"},
    {"Label6", "- la trasformazione fra quote ellissoidiche e quote geoidiche;  "},
    {"Label8", "- la trasformazione fra coordinate geografiche e piane su tutto il territorio nazionale,      anche in "
               "fusi diversi da quello di appartenenza (senza l'ausilio delle griglie); "},
    {"Label10", "- la trasformazione fra coordinate geografiche e piane nel \"Fuso Italia\" (sistema ETRS);"},
};

// ASCII example, top to bottom.
constexpr NamedText kAsciiExampleTexts[] = {
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
    {"Label2", "I campi devono essere separati solo da spazi (in numero a piacere) o da tabulazione, il separatore dei "
               "decimali può essere il punto o la virgola."},
    {"Label6",
     "Il programma accetta al massimo 50000 punti da trasformare. Per quantità elevate di punti da trasformare è "
     "opportuno utilizzare il formato ASCII che offre tempi di elaborazione nettamente più brevi."},
};

// Workbook example, top to bottom; its last text is the ASCII example's Label6.
constexpr NamedText kExcelExampleTexts[] = {
    {"Label1", "Riga di intestazione ignorata dal programma."},
    {"Label2", "In colonna \"A\" va inserito il numero distintivo del punto (anche alfanumerico)."},
    {"Label3",
     "In colonna \"B\" va inserita la Latitudine del punto espressa in gradi sessagesimali (gg.ppssdddd), oppure la "
     "coordinata NORD espressa in metri; le coordinate devono essere tutte geografiche o tutte piane."},
    {"Label4",
     "In colonna \"C\" va inserita la Longitudine del punto espressa in gradi sessagesimali (gg.ppssdddd), oppure la "
     "coordinata EST espressa in metri; le coordinate devono essere tutte geografiche o tutte piane."},
    {"Label5", "In colonna \"D\" va inserita, se necessaria,  la quota espressa in metri."},
};

constexpr const char* kPublisherLine = "Dormal2k \u2014 progetto open source";
constexpr const char* kContactHeading = "Per informazioni rivolgersi a: ";
constexpr const char* kContactEntries = "Dormal2k \u2014 progetto open source\n"
                                        "segnalazioni e suggerimenti tramite il repository del progetto";

QString utf8(const char* s) {
    return QString::fromUtf8(s);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text, bool wrap) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setText(text);
    label->setWordWrap(wrap);
    return label;
}

const char* textOf(const NamedText* begin, const NamedText* end, const char* name) {
    for (const NamedText* t = begin; t != end; ++t)
        if (qstrcmp(t->name, name) == 0)
            return t->text;
    return "";
}

// A label whose text carries runs of blanks meant as line breaks (the information texts
// were laid out for a label of fixed width): text() keeps the text as it is, and the label
// draws each run of three or more blanks as a new line, indented under the leading "- ".
class BlankBreakLabel : public QLabel {
public:
    using QLabel::QLabel;

    QString shownText() const {
        static const QRegularExpression run(QStringLiteral(" {3,}"));
        QString shown = text();
        shown.replace(run, QStringLiteral("\n  "));
        return shown.trimmed();
    }
    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override {
        const QMargins m = contentsMargins();
        const QRect bounds = fontMetrics().boundingRect(QRect(0, 0, width - m.left() - m.right(), 100000),
                                                        Qt::TextWordWrap, shownText());
        return bounds.height() + m.top() + m.bottom();
    }
    QSize sizeHint() const override {
        const int w = maximumWidth() < QWIDGETSIZE_MAX ? maximumWidth() : 400;
        return {w, heightForWidth(w)};
    }
    QSize minimumSizeHint() const override { return sizeHint(); }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setPen(palette().color(QPalette::WindowText));
        p.drawText(contentsRect(), Qt::TextWordWrap | Qt::AlignLeft | Qt::AlignTop, shownText());
    }
};

QPushButton* makeOkButton(QWidget* window) {
    auto* ok = new QPushButton(QStringLiteral("OK"), window);
    ok->setObjectName(QStringLiteral("Command1"));
    ok->setDefault(true);
    QObject::connect(ok, &QPushButton::clicked, window, &QWidget::close);
    return ok;
}

QFont scaledFont(const QFont& base, double factor, bool bold) {
    QFont f = base;
    f.setPointSizeF(base.pointSizeF() * factor);
    f.setBold(bold);
    return f;
}

} // namespace

// --- Pictures ------------------------------------------------------------------------

Picture::Picture(Painter paint, QSize preferred, QWidget* parent)
    : QWidget(parent), paint_(std::move(paint)), preferred_(preferred) {
    setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Preferred);
}

void Picture::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    paint_(p, rect());
}

void paintStartupPicture(QPainter& p, const QRect& area) {
    p.save();
    QLinearGradient sky(area.topLeft(), area.bottomRight());
    sky.setColorAt(0.0, QColor(0x0b, 0x2a, 0x4a));
    sky.setColorAt(1.0, QColor(0x1d, 0x6a, 0x7a));
    p.fillRect(area, sky);

    // Graticule: meridians converging northward, parallels as gentle arcs.
    const double w = area.width(), h = area.height();
    const QPointF o = area.topLeft();
    p.setPen(QPen(QColor(255, 255, 255, 45), 1.0));
    for (int i = -2; i <= 10; ++i) {
        const double xBottom = o.x() + w * (i / 8.0);
        const double xTop = o.x() + w * 0.5 + (xBottom - o.x() - w * 0.5) * 0.78;
        p.drawLine(QPointF(xTop, o.y()), QPointF(xBottom, o.y() + h));
    }
    for (int j = 1; j <= 6; ++j) {
        const double y = o.y() + h * (j / 6.5);
        QPainterPath arc;
        arc.moveTo(o.x(), y + h * 0.05);
        arc.quadTo(o.x() + w * 0.5, y - h * 0.06, o.x() + w, y + h * 0.05);
        p.drawPath(arc);
    }

    // Grid nodes of a portion: a lattice of small crosses on the right.
    p.setPen(QPen(QColor(255, 255, 255, 90), 1.0));
    const double nodeStep = h / 14.0;
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 6; ++c) {
            const QPointF n(o.x() + w * 0.72 + c * nodeStep, o.y() + h * 0.08 + r * nodeStep);
            p.drawLine(n - QPointF(3, 0), n + QPointF(3, 0));
            p.drawLine(n - QPointF(0, 3), n + QPointF(0, 3));
        }

    // A small survey network: vertices joined by sight lines.
    static const QPointF vertices[] = {{0.42, 0.66}, {0.52, 0.50}, {0.60, 0.70}, {0.50, 0.80},
                                       {0.70, 0.55}, {0.78, 0.76}, {0.86, 0.58}, {0.94, 0.74}};
    static const int links[][2] = {{0, 1}, {0, 3}, {1, 2}, {2, 3}, {1, 4}, {2, 4},
                                   {4, 5}, {2, 5}, {4, 6}, {5, 6}, {6, 7}, {5, 7}};
    auto at = [&](int k) { return QPointF(o.x() + vertices[k].x() * w, o.y() + vertices[k].y() * h); };
    p.setPen(QPen(QColor(0xff, 0xd2, 0x7f, 170), 1.4));
    for (const auto& l : links)
        p.drawLine(at(l[0]), at(l[1]));
    p.setPen(QPen(QColor(0x60, 0x10, 0x10), 1.0));
    p.setBrush(QColor(0xe0, 0x3c, 0x31));
    const double s = std::max(4.0, h / 55.0);
    for (int k = 0; k < 8; ++k) {
        const QPointF c = at(k);
        const QPointF tri[] = {c + QPointF(0, -s), c + QPointF(s * 0.9, s * 0.6), c + QPointF(-s * 0.9, s * 0.6)};
        p.drawPolygon(tri, 3);
    }
    p.restore();
}

void paintEmblem(QPainter& p, const QRect& area) {
    p.save();
    const double side = std::min(area.width(), area.height()) - 4.0;
    const QRectF disc(area.center().x() - side / 2.0, area.center().y() - side / 2.0, side, side);
    QRadialGradient sea(disc.center(), side / 2.0, disc.center() - QPointF(side / 6.0, side / 6.0));
    sea.setColorAt(0.0, QColor(0x4f, 0xa3, 0xc7));
    sea.setColorAt(1.0, QColor(0x12, 0x4a, 0x73));
    p.setPen(QPen(QColor(0x0b, 0x2a, 0x4a), 1.5));
    p.setBrush(sea);
    p.drawEllipse(disc);
    p.setPen(QPen(QColor(255, 255, 255, 140), 1.0));
    p.setBrush(Qt::NoBrush);
    for (int i = 1; i <= 3; ++i) {
        const double k = i / 4.0;
        p.drawEllipse(QRectF(disc.center().x() - side * k / 2.0, disc.top(), side * k, side));
        const double y = disc.top() + side * k;
        const double half = std::sqrt(std::max(0.0, 0.25 - (k - 0.5) * (k - 0.5))) * side;
        p.drawLine(QPointF(disc.center().x() - half, y), QPointF(disc.center().x() + half, y));
    }
    p.drawLine(QPointF(disc.center().x(), disc.top()), QPointF(disc.center().x(), disc.bottom()));
    const double s = side / 9.0;
    const QPointF c = disc.center() + QPointF(side / 8.0, -side / 10.0);
    const QPointF tri[] = {c + QPointF(0, -s), c + QPointF(s * 0.9, s * 0.6), c + QPointF(-s * 0.9, s * 0.6)};
    p.setPen(QPen(QColor(0x60, 0x10, 0x10), 1.0));
    p.setBrush(QColor(0xe0, 0x3c, 0x31));
    p.drawPolygon(tri, 3);
    p.restore();
}

void paintContactPicture(QPainter& p, const QRect& area) {
    p.save();
    const QRectF r = QRectF(area).adjusted(3, area.height() * 0.2, -3, -area.height() * 0.2);
    p.setPen(QPen(QColor(0x33, 0x44, 0x55), 1.5));
    p.setBrush(QColor(0xf4, 0xf1, 0xe6));
    p.drawRect(r);
    p.drawLine(r.topLeft(), QPointF(r.center().x(), r.center().y() + r.height() * 0.1));
    p.drawLine(r.topRight(), QPointF(r.center().x(), r.center().y() + r.height() * 0.1));
    p.restore();
}

void paintArrow(QPainter& p, const QRect& area) {
    p.save();
    const QRectF r = QRectF(area).adjusted(1, 1, -1, -1);
    const double midY = r.center().y();
    const double shaft = r.height() * 0.18;
    const double headStart = r.left() + r.width() * 0.5;
    const QPointF arrow[] = {{r.left(), midY - shaft}, {headStart, midY - shaft}, {headStart, r.top()},
                             {r.right(), midY},        {headStart, r.bottom()},   {headStart, midY + shaft},
                             {r.left(), midY + shaft}};
    p.setPen(QPen(QColor(0x0b, 0x2a, 0x4a), 1.0));
    p.setBrush(QColor(0x2f, 0x7f, 0xb5));
    p.drawPolygon(arrow, 7);
    p.restore();
}

void paintBanner(QPainter& p, const QRect& area) {
    p.save();
    const QRectF r = QRectF(area).adjusted(0.5, 0.5, -0.5, -0.5);
    QLinearGradient band(r.topLeft(), r.topRight());
    band.setColorAt(0.0, QColor(0x0b, 0x2a, 0x4a));
    band.setColorAt(1.0, QColor(0x1d, 0x6a, 0x7a));
    p.setPen(Qt::NoPen);
    p.setBrush(band);
    p.drawRoundedRect(r, 6, 6);
    const int side = static_cast<int>(r.height() * 0.8);
    const QRect emblem(static_cast<int>(r.left() + r.height() * 0.1), static_cast<int>(r.top() + r.height() * 0.1),
                       side, side);
    paintEmblem(p, emblem);
    QFont title = p.font();
    title.setBold(true);
    title.setPixelSize(std::max(10, static_cast<int>(r.height() * 0.36)));
    const double textLeft = emblem.right() + r.height() * 0.25;
    const QString subtitleText = QStringLiteral("Conversione fra sistemi di riferimento geodetici");
    QFont subtitle = p.font();
    int subtitlePx = std::max(8, static_cast<int>(r.height() * 0.15));
    subtitle.setPixelSize(subtitlePx);
    while (subtitlePx > 7 && QFontMetricsF(subtitle).horizontalAdvance(subtitleText) > r.right() - textLeft - 6) {
        subtitle.setPixelSize(--subtitlePx);
    }
    p.setPen(Qt::white);
    p.setFont(title);
    p.drawText(QRectF(textLeft, r.top() + r.height() * 0.08, r.right() - textLeft, r.height() * 0.5),
               Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("Dormal2k"));
    p.setFont(subtitle);
    p.setPen(QColor(0xd8, 0xe8, 0xf0));
    p.drawText(QRectF(textLeft, r.top() + r.height() * 0.58, r.right() - textLeft, r.height() * 0.3),
               Qt::AlignLeft | Qt::AlignVCenter, subtitleText);
    p.restore();
}

void paintAsciiSample(QPainter& p, const QRect& area) {
    p.save();
    const QRectF page = QRectF(area).adjusted(2, 2, -3, -3);
    p.setPen(QPen(QColor(0x88, 0x88, 0x88), 1.0));
    p.setBrush(Qt::white);
    p.drawRect(page);

    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    const double lineHeight = page.height() / 9.5;
    mono.setPixelSize(std::max(8, static_cast<int>(lineHeight * 0.72)));
    const QFontMetricsF fm(mono);

    // Title strip with the file name.
    const QRectF strip(page.left(), page.top(), page.width(), lineHeight * 1.2);
    p.fillRect(strip.adjusted(1, 1, 0, 0), QColor(0xdd, 0xe6, 0xef));
    p.setFont(mono);
    p.setPen(QColor(0x22, 0x33, 0x44));
    p.drawText(strip.adjusted(6, 0, 0, 0), Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("rilievo.txt"));

    const QColor comment(0x2e, 0x7d, 0x32), data(0x10, 0x10, 0x10);
    static const char* const lines[] = {
        "/ Rilievo di prova, ETRF2000 geografiche",     "' punto    latitudine    longitudine   quota",
        "PT01     45.2530125    11.4512337    123.456", "PT02     45.2531874    11.4515012    124.010",
        "PT03     45.2533420    11.4518876    122.870", "CAPOS1   45.2536001    11.4520110    125.300",
        "PT05     45,2538113    11,4522941    126,105",
    };
    double y = strip.bottom() + lineHeight * 0.2;
    for (const char* line : lines) {
        const bool isComment = line[0] == '/' || line[0] == '\'';
        p.setPen(isComment ? comment : data);
        const QString shown = fm.elidedText(QString::fromLatin1(line), Qt::ElideRight, page.width() - 12);
        p.drawText(QRectF(page.left() + 6, y, page.width() - 12, lineHeight), Qt::AlignVCenter | Qt::AlignLeft, shown);
        y += lineHeight;
    }
    p.restore();
}

void paintWorkbookSample(QPainter& p, const QRect& area) {
    p.save();
    const QRectF sheet = QRectF(area).adjusted(2, 2, -3, -3);
    p.fillRect(sheet, Qt::white);

    const int rows = 8; // heading row of letters, then rows 1..7
    const double rowH = sheet.height() / rows;
    const double numW = sheet.width() * 0.09;
    const double colW[] = {0.18, 0.26, 0.26, 0.21}; // of the width, columns A to D
    double x[5];
    x[0] = sheet.left() + numW;
    for (int c = 0; c < 4; ++c)
        x[c + 1] = x[c] + colW[c] * sheet.width();

    const QColor headingFill(0xe8, 0xe8, 0xe8), gridLine(0xc8, 0xc8, 0xc8), headerRow(0xff, 0xf3, 0xc4);
    p.fillRect(QRectF(sheet.left(), sheet.top(), sheet.width(), rowH), headingFill);
    p.fillRect(QRectF(sheet.left(), sheet.top(), numW, sheet.height()), headingFill);
    p.fillRect(QRectF(x[0], sheet.top() + rowH, x[4] - x[0], rowH), headerRow);

    p.setPen(QPen(gridLine, 1.0));
    for (int r = 1; r < rows; ++r)
        p.drawLine(QPointF(sheet.left(), sheet.top() + r * rowH), QPointF(sheet.right(), sheet.top() + r * rowH));
    for (double cx : x)
        p.drawLine(QPointF(cx, sheet.top()), QPointF(cx, sheet.bottom()));

    QFont font = p.font();
    font.setPixelSize(std::max(8, static_cast<int>(rowH * 0.5)));
    p.setFont(font);
    p.setPen(QColor(0x33, 0x33, 0x33));
    static const char* const letters[] = {"A", "B", "C", "D"};
    for (int c = 0; c < 4; ++c)
        p.drawText(QRectF(x[c], sheet.top(), x[c + 1] - x[c], rowH), Qt::AlignCenter, QLatin1String(letters[c]));
    for (int r = 1; r < rows; ++r)
        p.drawText(QRectF(sheet.left(), sheet.top() + r * rowH, numW, rowH), Qt::AlignCenter, QString::number(r));

    static const char* const cells[][4] = {
        {"Punto", "Lat. / Nord", "Long. / Est", "Quota"},  {"PT01", "45.2530125", "11.4512337", "123.456"},
        {"PT02", "45.2531874", "11.4515012", "124.010"},   {"PT03", "45.2533420", "11.4518876", "122.870"},
        {"CAPOS1", "45.2536001", "11.4520110", "125.300"}, {"PT05", "45.2538113", "11.4522941", "126.105"},
    };
    p.setPen(QColor(0x10, 0x10, 0x10));
    for (int r = 0; r < 6; ++r)
        for (int c = 0; c < 4; ++c) {
            const QRectF cell(x[c] + 3, sheet.top() + (r + 1) * rowH, x[c + 1] - x[c] - 6, rowH);
            const Qt::Alignment align = (c == 0 || r == 0) ? Qt::AlignLeft : Qt::AlignRight;
            QFont f = font;
            f.setBold(r == 0);
            p.setFont(f);
            p.drawText(cell, align | Qt::AlignVCenter, QLatin1String(cells[r][c]));
        }

    // Lines marking the four columns the program reads.
    p.setPen(QPen(QColor(0xd3, 0x2f, 0x2f), 2.0));
    p.setBrush(Qt::NoBrush);
    for (int c = 0; c < 4; ++c)
        p.drawRoundedRect(QRectF(x[c] + 2, sheet.top() + rowH + 2, x[c + 1] - x[c] - 4, 6 * rowH - 4), 4, 4);
    p.setPen(QPen(QColor(0x88, 0x88, 0x88), 1.0));
    p.drawRect(sheet);
    p.restore();
}

// --- Startup window ------------------------------------------------------------------

StartupWindow::StartupWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("StartupWindow"));
    setWindowTitle(QStringLiteral("Avvio"));
    const FontScale tw(font());

    auto* picture = new Picture(paintStartupPicture, QSize(tw.px(7800), tw.px(4600)), this);
    picture->setObjectName(QStringLiteral("Picture1"));
    picture->setFixedSize(picture->sizeHint());
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    outer->addWidget(picture);

    auto* title = makeLabel(picture, "Label2", QStringLiteral("Dormal2k"), false);
    title->setFont(scaledFont(font(), 3.0, true));
    auto* subtitle =
        makeLabel(picture, "Label3", QStringLiteral("Conversione fra sistemi di riferimento geodetici"), true);
    subtitle->setFont(scaledFont(font(), 1.35, false));
    auto* publisher = makeLabel(picture, "Label1", utf8(kPublisherLine), false);
    for (QLabel* l : {title, subtitle, publisher})
        l->setStyleSheet(QStringLiteral("color: white; background: transparent;"));

    auto* inner = new QVBoxLayout(picture);
    inner->setContentsMargins(tw.px(480), tw.px(360), tw.px(480), tw.px(300));
    inner->addWidget(title);
    inner->addWidget(subtitle);
    inner->addStretch(1);
    inner->addWidget(publisher);

    for (QWidget* w : std::initializer_list<QWidget*>{picture, title, subtitle, publisher})
        w->installEventFilter(this);

    timer_ = new QTimer(this);
    timer_->setObjectName(QStringLiteral("Timer1"));
    timer_->setSingleShot(true);
    // A coarse timer may fire up to 5 % early; the startup window stays its full 3000 ms.
    timer_->setTimerType(Qt::PreciseTimer);
    timer_->setInterval(kIntervalMs);
    connect(timer_, &QTimer::timeout, this, &StartupWindow::finish);
    timer_->start();
}

bool StartupWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::MouseButtonPress) {
        finish();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void StartupWindow::closeEvent(QCloseEvent* event) {
    finish();
    event->accept();
}

void StartupWindow::finish() {
    if (done_)
        return;
    done_ = true;
    timer_->stop();
    // The main window opens before this one closes, so the program never has no window.
    emit finished();
    close();
}

// --- Information window --------------------------------------------------------------

InformationWindow::InformationWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("InformationWindow"));
    setWindowTitle(QStringLiteral("Informazioni su Dormal2k"));
    const FontScale tw(font());
    const int textWidth = tw.px(7800);
    const auto* begin = std::begin(kInformationTexts);
    const auto* end = std::end(kInformationTexts);

    auto* layout = new QVBoxLayout(this);

    auto* head = new QHBoxLayout;
    auto* image1 = new Picture(paintEmblem, QSize(tw.px(1000), tw.px(1000)), this);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setFixedSize(tw.px(1000), tw.px(1000));
    head->addWidget(image1);
    auto* names = new QVBoxLayout;
    auto* name = makeLabel(this, "Label1", utf8(textOf(begin, end, "Label1")), false);
    name->setFont(scaledFont(font(), 2.0, true));
    names->addWidget(name);
    names->addWidget(makeLabel(this, "Label3", utf8(textOf(begin, end, "Label3")), false));
    names->addWidget(makeLabel(this, "Label2", utf8(textOf(begin, end, "Label2")), false));
    head->addSpacing(tw.px(200));
    head->addLayout(names);
    head->addStretch(1);
    layout->addLayout(head);
    layout->addSpacing(tw.px(150));

    auto* label5 = makeLabel(this, "Label5", utf8(textOf(begin, end, "Label5")), false);
    label5->setFont(scaledFont(font(), 1.0, true));
    layout->addWidget(label5);
    for (const char* n : {"Label4", "Label6", "Label8", "Label10"}) {
        auto* l = new BlankBreakLabel(this);
        l->setObjectName(QLatin1String(n));
        l->setTextFormat(Qt::PlainText);
        l->setText(utf8(textOf(begin, end, n)));
        l->setFixedWidth(textWidth);
        layout->addWidget(l);
    }
    layout->addSpacing(tw.px(200));

    auto* contact = new QHBoxLayout;
    auto* image3 = new Picture(paintContactPicture, QSize(tw.px(600), tw.px(600)), this);
    image3->setObjectName(QStringLiteral("Image3"));
    image3->setFixedSize(tw.px(600), tw.px(600));
    contact->addWidget(image3, 0, Qt::AlignTop);
    auto* contactTexts = new QVBoxLayout;
    auto* heading = makeLabel(this, "Label7", utf8(kContactHeading), false);
    heading->setFont(scaledFont(font(), 1.0, true));
    contactTexts->addWidget(heading);
    contactTexts->addWidget(makeLabel(this, "Label9", utf8(kContactEntries), true));
    contact->addLayout(contactTexts, 1);
    contact->addWidget(makeOkButton(this), 0, Qt::AlignBottom);
    layout->addLayout(contact);
}

// --- Example windows -----------------------------------------------------------------

AsciiExampleWindow::AsciiExampleWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("AsciiExampleWindow"));
    setWindowTitle(QStringLiteral("esempio input  *.txt"));
    const FontScale tw(font());
    const auto* begin = std::begin(kAsciiExampleTexts);
    const auto* end = std::end(kAsciiExampleTexts);

    auto* layout = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    auto* label1 = makeLabel(this, "Label1", utf8(textOf(begin, end, "Label1")), true);
    label1->setFixedWidth(tw.px(2200));
    top->addWidget(label1, 0, Qt::AlignVCenter);
    auto* image1 = new Picture(paintAsciiSample, QSize(tw.px(5600), tw.px(2400)), this);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setFixedSize(tw.px(5600), tw.px(2400));
    top->addWidget(image1);
    layout->addLayout(top);
    layout->addSpacing(tw.px(120));

    const int textWidth = tw.px(7900);
    for (const char* n : {"Label3", "Label4", "Label5", "Label7", "Label9", "Label8", "Label2", "Label6"}) {
        auto* l = makeLabel(this, n, utf8(textOf(begin, end, n)), true);
        l->setFixedWidth(textWidth);
        layout->addWidget(l);
        if (qstrcmp(n, "Label9") == 0 || qstrcmp(n, "Label8") == 0 || qstrcmp(n, "Label2") == 0)
            layout->addSpacing(tw.px(90));
    }
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(makeOkButton(this));
    layout->addLayout(buttons);
}

ExcelExampleWindow::ExcelExampleWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
    setObjectName(QStringLiteral("ExcelExampleWindow"));
    setWindowTitle(QStringLiteral("esempio input Excel"));
    const FontScale tw(font());
    const auto* begin = std::begin(kExcelExampleTexts);
    const auto* end = std::end(kExcelExampleTexts);

    auto* layout = new QHBoxLayout(this);
    auto* image1 = new Picture(paintWorkbookSample, QSize(tw.px(5200), tw.px(3000)), this);
    image1->setObjectName(QStringLiteral("Image1"));
    image1->setFixedSize(tw.px(5200), tw.px(3000));
    layout->addWidget(image1, 0, Qt::AlignTop);

    auto* texts = new QVBoxLayout;
    const int textWidth = tw.px(4400);
    for (const char* n : {"Label1", "Label2", "Label3", "Label4", "Label5"}) {
        auto* l = makeLabel(this, n, utf8(textOf(begin, end, n)), true);
        l->setFixedWidth(textWidth);
        texts->addWidget(l);
    }
    auto* label6 = makeLabel(
        this, "Label6", utf8(textOf(std::begin(kAsciiExampleTexts), std::end(kAsciiExampleTexts), "Label6")), true);
    label6->setFixedWidth(textWidth);
    texts->addSpacing(tw.px(120));
    texts->addWidget(label6);
    texts->addStretch(1);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(makeOkButton(this));
    texts->addLayout(buttons);
    layout->addLayout(texts);
}

// --- One instance each ---------------------------------------------------------------

namespace {

template <typename Window> QWidget* showOnce(QPointer<QWidget>& slot) {
    if (!slot) {
        slot = new Window;
        slot->setAttribute(Qt::WA_DeleteOnClose);
    }
    slot->show();
    slot->raise();
    slot->activateWindow();
    return slot;
}

} // namespace

SecondaryWindows::SecondaryWindows(QObject* parent) : QObject(parent) {}

SecondaryWindows::~SecondaryWindows() {
    // The windows have no parent: they are discarded with the main window.
    delete information_.data();
    delete ascii_.data();
    delete excel_.data();
}

QWidget* SecondaryWindows::showInformation() {
    return showOnce<InformationWindow>(information_);
}

QWidget* SecondaryWindows::showExample(DataFileType type) {
    if (type == DataFileType::Ascii)
        return showOnce<AsciiExampleWindow>(ascii_);
    return showOnce<ExcelExampleWindow>(excel_);
}

void SecondaryWindows::closeAll() {
    for (QPointer<QWidget>* w : {&information_, &ascii_, &excel_})
        if (*w)
            (*w)->close();
}

} // namespace dormal::ui
