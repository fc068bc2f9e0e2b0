#include "ui/main_window.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <algorithm>

#include "conversion/selection_words.h"
#include "ui/coordinate_fields.h"
#include "ui/file_choice_frame.h"
#include "ui/secondary_windows.h"
#include "ui/selection_binder.h"
#include "ui/working_zone_panel.h"

namespace dormal::ui {

namespace {

// Client area of the window, twips.
constexpr int kClientWidth = 10035;
constexpr int kClientHeight = 8280;

template <typename W> W* named(W* w, const char* name) {
    w->setObjectName(QLatin1String(name));
    return w;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text) {
    auto* label = named(new QLabel(text, parent), name);
    label->setTextFormat(Qt::PlainText);
    return label;
}

QLineEdit* makeOutputField(QWidget* parent, const char* name) {
    auto* field = named(new QLineEdit(parent), name);
    field->setReadOnly(true);
    return field;
}

template <class T> void fillList(QComboBox* combo, std::span<const ListItem<T>> items) {
    for (const ListItem<T>& item : items)
        combo->addItem(QString::fromUtf8(item.text.data(), static_cast<qsizetype>(item.text.size())));
}

} // namespace

// --- Decimal comma ---------------------------------------------------------------------

DecimalCommaFilter::DecimalCommaFilter(QWidget* window) : QObject(window), window_(window) {
    qApp->installEventFilter(this);
}

DecimalCommaFilter::~DecimalCommaFilter() {
    qApp->removeEventFilter(this);
}

bool DecimalCommaFilter::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() != QEvent::KeyPress || !watched->isWidgetType())
        return false;
    auto* widget = static_cast<QWidget*>(watched);
    if (widget->window() != window_)
        return false;
    auto* key = static_cast<QKeyEvent*>(event);
    if (key->text() != QLatin1String(","))
        return false;
    // The widget receives a full stop instead; the comma itself goes no further.
    QKeyEvent point(QEvent::KeyPress, Qt::Key_Period, key->modifiers(), QStringLiteral("."), key->isAutoRepeat(),
                    static_cast<quint16>(key->count()));
    QCoreApplication::sendEvent(watched, &point);
    return true;
}

// --- Building ------------------------------------------------------------------------

MainWindow::MainWindow(UserDialogs& dialogs, const QString& workingFolder, QWidget* parent)
    : QWidget(parent), dialogs_(dialogs), tw_(Twips::forFont(font())), runController_(dialogs) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Dormal2k"));
    buildControls(workingFolder);
    commaFilter_ = new DecimalCommaFilter(this);
    startUp();
}

MainWindow::~MainWindow() {
    if (busyDepth_ > 0)
        QApplication::restoreOverrideCursor();
}

void MainWindow::buildSelectionFrame(QGroupBox* frame, int first, QLabel*& kindCaption, QLabel*& zoneCaption) {
    // System list, "Coordinate" and its kind list, "Proiezione" and the three zone lists
    // lying on top of one another.
    tw_.place(combo_[static_cast<std::size_t>(first)], 120, 360, 1935, 315);
    tw_.place(kindCaption, 120, 840, 1455, 255);
    tw_.place(combo_[static_cast<std::size_t>(first + 1)], 120, 1080, 1935, 315);
    tw_.place(zoneCaption, 120, 1560, 1455, 255);
    for (int n = first + 2; n <= first + 4; ++n)
        tw_.place(combo_[static_cast<std::size_t>(n)], 120, 1800, 1935, 315);
    (void)frame;
}

void MainWindow::fitScale() {
    // The arrangement was drawn for a narrower typeface: enlarge it until the widest list item
    // fits its list and the two panels built with layouts get at least their minimum size.
    QComboBox probe;
    for (RefSystem system : {RefSystem::Roma40, RefSystem::Ed50, RefSystem::Etrf89})
        for (auto list : {inputZoneList(system), outputZoneList(system)})
            fillList(&probe, list);
    fillList(&probe, systemList());
    fillList(&probe, kindList());
    double scale = tw_.scale();
    auto atLeast = [&scale](int pixels, int twips) { scale = std::max(scale, pixels * 15.0 / twips); };
    atLeast(probe.sizeHint().width(), 1935);
    atLeast(probe.sizeHint().height(), 315);
    atLeast(workingZone_->minimumSizeHint().width(), 5055);
    atLeast(workingZone_->minimumSizeHint().height(), 5535);
    atLeast(fileChoice_->minimumSizeHint().width(), 8655);
    atLeast(fileChoice_->minimumSizeHint().height(), 2175);
    tw_ = Twips(scale);
}

void MainWindow::buildControls(const QString& workingFolder) {
    // The panels built with layouts come first: their minimum sizes set the scale.
    workingZone_ = new WorkingZonePanel(dialogs_, workingFolder, this);
    fileChoice_ = new FileChoiceFrame(dialogs_, this);
    fitScale();
    setFixedSize(tw_.rect(0, 0, kClientWidth, kClientHeight).size());

    // Title banner at the top left.
    auto* banner = named(new Picture(paintBanner, tw_.rect(0, 0, 4695, 1095).size(), this), "Banner");
    tw_.place(banner, 120, 120, 4695, 1095);

    // Input and output choice, side by side.
    frame1_ = named(new QGroupBox(QStringLiteral("Dal Sistema"), this), "Frame1");
    frame12_ = named(new QGroupBox(QStringLiteral("Al Sistema"), this), "Frame12");
    tw_.place(frame1_, 120, 1320, 2175, 2295);
    tw_.place(frame12_, 2640, 1320, 2175, 2295);
    static const char* const comboNames[] = {"",       "Combo1", "Combo2", "Combo3", "Combo4", "Combo5",
                                             "Combo6", "Combo7", "Combo8", "Combo9", "Combo10"};
    for (int n = 1; n <= 10; ++n) {
        QWidget* frame = n <= 5 ? frame1_ : frame12_;
        auto* combo = named(new QComboBox(frame), comboNames[n]);
        combo->setEditable(false);
        combo_[static_cast<std::size_t>(n)] = combo;
    }
    label3_ = makeLabel(frame1_, "Label3", QStringLiteral("Coordinate"));
    label14_ = makeLabel(frame1_, "Label14", QStringLiteral("Proiezione"));
    label15_ = makeLabel(frame12_, "Label15", QStringLiteral("Coordinate"));
    label38_ = makeLabel(frame12_, "Label38", QStringLiteral("Proiezione"));
    buildSelectionFrame(frame1_, 1, label3_, label14_);
    buildSelectionFrame(frame12_, 6, label15_, label38_);
    image5_ = named(new Picture(paintArrow, tw_.rect(0, 0, 330, 375).size(), this), "Image5");
    tw_.place(image5_, 2280, 2400, 330, 375);

    // Height captions and the height box.
    frame2_ = named(new QGroupBox(this), "Frame2");
    frame6_ = named(new QGroupBox(this), "Frame6");
    tw_.place(frame2_, 120, 3600, 2175, 495);
    tw_.place(frame6_, 2640, 3600, 2175, 495);
    label5_ = makeLabel(frame2_, "Label5", QString());
    label2_ = makeLabel(frame6_, "Label2", QString());
    for (QLabel* l : {label5_, label2_}) {
        l->setAlignment(Qt::AlignCenter);
        tw_.place(l, 60, 90, 2055, 345);
    }
    image4_ = named(new Picture(paintArrow, tw_.rect(0, 0, 330, 375).size(), this), "Image4");
    tw_.place(image4_, 2280, 3720, 330, 375);
    check1_ = named(new QCheckBox(QStringLiteral("Trasforma le quote"), this), "Check1");
    tw_.place(check1_, 120, 4200, 4695, 375);

    // Keyboard or data file.
    frame4_ = named(new QGroupBox(QStringLiteral("Input/Output"), this), "Frame4");
    tw_.place(frame4_, 120, 4680, 4695, 735);
    option3Keyboard_ = named(new QRadioButton(QStringLiteral("Da tastiera"), frame4_), "Option3_0");
    option3File_ = named(new QRadioButton(QStringLiteral("Da file"), frame4_), "Option3_1");
    tw_.place(option3Keyboard_, 240, 300, 2040, 330);
    tw_.place(option3File_, 2520, 300, 2040, 330);

    // Working zone on the right.
    tw_.place(workingZone_, 4920, 0, 5055, 5535);

    // Keyboard frame and, in the same place, the file choice.
    buildKeyboardFrame();
    tw_.place(fileChoice_, 120, 5520, 8655, 2175);

    // Buttons and progress bar along the bottom.
    progressBar1_ = named(new QProgressBar(this), "ProgressBar1");
    tw_.place(progressBar1_, 120, 7830, 4695, 315);
    command3_ = named(new QPushButton(QStringLiteral("Esempio file dati"), this), "Command3");
    command4_ = named(new QPushButton(QStringLiteral("Informazioni"), this), "Command4");
    command1_ = named(new QPushButton(QStringLiteral("Esegui"), this), "Command1");
    command2_ = named(new QPushButton(QStringLiteral("Esci"), this), "Command2");
    tw_.place(command3_, 4920, 7800, 1455, 390);
    tw_.place(command4_, 6480, 7800, 1230, 390);
    tw_.place(command1_, 7815, 7800, 1020, 390);
    tw_.place(command2_, 8940, 7800, 975, 390);

    // Arrows over the frames' edges.
    image5_->raise();
    image4_->raise();

    // Wiring.
    fields_->connectWindow(check1_, command1_, [this] { clearOutputFields(); });

    SelectionControls c;
    c.combo = combo_;
    c.check1 = check1_;
    c.frame9 = frame9_;
    c.frame10 = frame10_;
    c.frame5 = workingZone_;
    c.label5 = label5_;
    c.label2 = label2_;
    c.label6 = label6_;
    c.label9 = label9_;
    c.label7 = label7_;
    c.label8 = label8_;
    c.label34 = label34_;
    c.label35 = label35_;
    c.label11 = label11_;
    c.label12 = label12_;
    c.label36 = label36_;
    c.label37 = label37_;
    c.label41 = label41_;
    c.text1 = text1_;
    c.text8 = text8_;
    c.text9 = text9_;
    c.text10 = text10_;
    c.image4 = image4_;
    SelectionHooks hooks;
    hooks.inputSystemPicked = [this](RefSystem system, CoordKind kind) {
        workingZone_->onInputSystemPicked(system, kind);
    };
    hooks.inputKindPicked = [this](RefSystem system, CoordKind kind) { workingZone_->onInputKindPicked(system, kind); };
    hooks.inputMode = [this] { return inputMode_; };
    rules_ = new SelectionBinder(c, *fields_, std::move(hooks), this);

    secondary_ = new SecondaryWindows(this);

    connect(option3Keyboard_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            inputModeRule(0);
    });
    connect(option3File_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            inputModeRule(1);
    });
    connect(command1_, &QPushButton::clicked, this, &MainWindow::execute);
    connect(command2_, &QPushButton::clicked, this, &MainWindow::exitProgram);
    connect(command3_, &QPushButton::clicked, this, [this] { secondary_->showExample(fileChoice_->dataFileType()); });
    connect(command4_, &QPushButton::clicked, this, [this] { secondary_->showInformation(); });
    connect(fileChoice_, &FileChoiceFrame::resultFileChosen, this, [this] { command1_->setEnabled(true); });

    // Tab order: choice, heights, mode, typed point, buttons.
    QWidget* order[] = {combo_[1],
                        combo_[2],
                        combo_[3],
                        combo_[4],
                        combo_[5],
                        combo_[6],
                        combo_[7],
                        combo_[8],
                        combo_[9],
                        combo_[10],
                        check1_,
                        option3Keyboard_,
                        option3File_,
                        fields_->displayField(FieldRef::First),
                        fields_->editField(FieldRef::First),
                        fields_->displayField(FieldRef::Second),
                        fields_->editField(FieldRef::Second),
                        fields_->displayField(FieldRef::Height),
                        fields_->editField(FieldRef::Height),
                        command1_,
                        command3_,
                        command4_,
                        command2_};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void MainWindow::buildKeyboardFrame() {
    frame8_ = named(new QGroupBox(QStringLiteral("Input/Output da tastiera"), this), "Frame8");
    tw_.place(frame8_, 120, 5520, 8655, 2175);
    frame9_ = named(new QGroupBox(QStringLiteral("Input"), frame8_), "Frame9");
    frame10_ = named(new QGroupBox(QStringLiteral("Output"), frame8_), "Frame10");
    tw_.place(frame9_, 240, 360, 3375, 1695);
    tw_.place(frame10_, 4200, 360, 4215, 1695);

    // Input side: symbols at 240, fields at 600; phi and "N =" share a place, as do lambda and "E =".
    label7_ = makeLabel(frame9_, "Label7", QStringLiteral("\u03c6 ="));
    label34_ = makeLabel(frame9_, "Label34", QStringLiteral("N ="));
    label8_ = makeLabel(frame9_, "Label8", QStringLiteral("\u03bb ="));
    label35_ = makeLabel(frame9_, "Label35", QStringLiteral("E ="));
    label6_ = makeLabel(frame9_, "Label6", QString());
    for (QLabel* l : {label7_, label34_})
        tw_.place(l, 240, 270, 360, 255);
    for (QLabel* l : {label8_, label35_})
        tw_.place(l, 240, 750, 360, 255);
    tw_.place(label6_, 240, 1230, 360, 255);
    fields_ =
        new CoordinateFields(frame9_, [this] { return rules_ ? rules_->state().inputKind : CoordKind::Geographic; });
    const FieldRef refs[] = {FieldRef::First, FieldRef::Second, FieldRef::Height};
    for (int i = 0; i < 3; ++i) {
        tw_.place(fields_->displayField(refs[i]), 600, 240 + 480 * i, 2175, 315);
        tw_.place(fields_->editField(refs[i]), 600, 240 + 480 * i, 2175, 315);
    }

    // Output side.
    label11_ = makeLabel(frame10_, "Label11", QStringLiteral("\u03c6 ="));
    label36_ = makeLabel(frame10_, "Label36", QStringLiteral("N ="));
    label12_ = makeLabel(frame10_, "Label12", QStringLiteral("\u03bb ="));
    label37_ = makeLabel(frame10_, "Label37", QStringLiteral("E ="));
    label9_ = makeLabel(frame10_, "Label9", QString());
    for (QLabel* l : {label11_, label36_})
        tw_.place(l, 240, 270, 360, 255);
    for (QLabel* l : {label12_, label37_})
        tw_.place(l, 240, 750, 360, 255);
    tw_.place(label9_, 240, 1230, 360, 255);
    text8_ = makeOutputField(frame10_, "Text8");
    text9_ = makeOutputField(frame10_, "Text9");
    text10_ = makeOutputField(frame10_, "Text10");
    tw_.place(text8_, 600, 240, 2175, 315);
    tw_.place(text9_, 600, 720, 2175, 315);
    tw_.place(text10_, 600, 1200, 2175, 315);
    label41_ = makeLabel(frame10_, "Label41", QStringLiteral("Fuso"));
    tw_.place(label41_, 3240, 360, 660, 240);
    label41_->setAlignment(Qt::AlignLeft | Qt::AlignBottom);
    text1_ = makeOutputField(frame10_, "Text1");
    text1_->setAlignment(Qt::AlignCenter);
    tw_.place(text1_, 3120, 600, 900, 315);
}

// --- Start-up ------------------------------------------------------------------------

void MainWindow::startUp() {
    // Coordinate symbols: phi and lambda on both sides.
    for (QLabel* l : {label7_, label8_, label11_, label12_})
        l->show();
    for (QLabel* l : {label34_, label35_, label36_, label37_})
        l->hide();

    // Keyboard frame in front, file choice and its example button away.
    command3_->hide();
    fileChoice_->hide();
    frame8_->show();

    label5_->setText(QStringLiteral("Da quote ellissoidiche"));
    label2_->setText(QStringLiteral("A quote geoidiche"));
    check1_->setEnabled(true);
    fileChoice_->reset();

    fields_->displayField(FieldRef::Height)->hide();
    fields_->editField(FieldRef::Height)->hide();
    text10_->hide();
    image4_->hide();
    fields_->displayField(FieldRef::First)->show();
    text1_->clear();
    progressBar1_->hide();

    // The ten lists.
    fillList(combo_[1], systemList());
    fillList(combo_[2], kindList());
    fillList(combo_[3], inputZoneList(RefSystem::Roma40));
    fillList(combo_[4], inputZoneList(RefSystem::Ed50));
    fillList(combo_[5], inputZoneList(RefSystem::Etrf89));
    fillList(combo_[6], systemList());
    fillList(combo_[7], kindList());
    fillList(combo_[8], outputZoneList(RefSystem::Roma40));
    fillList(combo_[9], outputZoneList(RefSystem::Ed50));
    fillList(combo_[10], outputZoneList(RefSystem::Etrf89));

    // The first choice, each variable set before its list so the list's rule sees it, as a
    // user's pick would.
    SelectionState& s = rules_->mutableState();
    s.inputSystem = RefSystem::Etrf89;
    rules_->setPosition(1, positionOf(systemList(), RefSystem::Etrf89));
    s.inputKind = CoordKind::Geographic;
    rules_->setPosition(2, positionOf(kindList(), CoordKind::Geographic));
    s.inputZone = Zone::Auto;
    for (int n : {3, 4, 5})
        rules_->setPosition(n, 0);
    s.outputSystem = RefSystem::Roma40;
    rules_->setPosition(6, positionOf(systemList(), RefSystem::Roma40));
    s.outputKind = CoordKind::Geographic;
    rules_->setPosition(7, positionOf(kindList(), CoordKind::Geographic));
    s.outputZone = Zone::Auto;
    for (int n : {10, 9, 8})
        rules_->setPosition(n, 0);

    // The Combo5 rule leaves "Input  UTM (ETRF89)"; the first choice is geographic.
    frame9_->setTitle(QStringLiteral("Input  ETRF89"));
    frame10_->setTitle(QStringLiteral("Output  ROMA40"));

    // Keyboard mode, Excel files.
    option3Keyboard_->setChecked(true);
    inputModeRule(0);
    fileChoice_->reset();

    for (int n : {3, 4, 5, 8, 9, 10})
        combo_[static_cast<std::size_t>(n)]->hide();
    text1_->hide();
    label41_->hide();
}

void MainWindow::inputModeRule(std::int16_t mode) {
    inputMode_ = mode;
    if (mode == 0) {
        frame8_->show();
        fileChoice_->hide();
        command3_->hide();
        command1_->setEnabled(true);
    } else {
        frame8_->hide();
        fileChoice_->show();
        command3_->show();
    }
}

// --- Run -----------------------------------------------------------------------------

RunInputs MainWindow::runInputs() const {
    RunInputs in;
    in.sel = rules_->state();
    in.heights = check1_->isChecked();
    in.inputMode = inputMode_;
    in.dataFileType = fileChoice_->dataFileType();
    in.dataFilePath = fileChoice_->dataFilePath();
    in.resultFilePath = fileChoice_->resultFilePath();
    const TypedValues& v = fields_->values();
    in.inputLat = v.inputLat;
    in.inputLon = v.inputLon;
    in.inputNorth = v.inputNorth;
    in.inputEast = v.inputEast;
    in.inputHeight = v.inputHeight;
    in.firstFieldEmpty = fields_->firstFieldEmpty();
    if (const std::optional<UnreadableField> bad = fields_->firstUnreadableField(in.sel.inputKind, in.heights)) {
        in.unreadableField = bad->field;
        in.unreadableMessage = bad->message;
    }
    in.portion = workingZone_->portion();
    in.limits = &workingZone_->limits();
    in.fileSelected = workingZone_->fileSelected();
    in.set = workingZone_->portionSet();
    in.decimalSeparator = QLatin1Char(localeDecimalSeparator());
    return in;
}

void MainWindow::execute() {
    // A field still being typed in counts as left, as when the button takes the focus.
    fields_->commitFocusedField();
    runController_.run(runInputs(), *this);
}

void MainWindow::exitProgram() {
    secondary_->closeAll();
    close();
    emit exitRequested();
}

void MainWindow::closeEvent(QCloseEvent* event) {
    secondary_->closeAll();
    event->accept();
}

void MainWindow::clearOutputFields() {
    rules_->clearOutputFields();
}

void MainWindow::setOutputFields(const QString& first, const QString& second, const QString& height,
                                 const QString& zone) {
    text8_->setText(first);
    text9_->setText(second);
    text10_->setText(height);
    text1_->setText(zone);
}

void MainWindow::focusInputField(FieldRef field) {
    fields_->focusEditField(field);
}

void MainWindow::setBusy(bool busy) {
    if (busy) {
        if (busyDepth_++ == 0)
            QApplication::setOverrideCursor(Qt::WaitCursor);
    } else if (busyDepth_ > 0 && --busyDepth_ == 0) {
        QApplication::restoreOverrideCursor();
    }
}

void MainWindow::setProgressVisible(bool visible, long maximum) {
    progressBar1_->setRange(0, static_cast<int>(std::clamp<long>(maximum, 0, INT_MAX)));
    progressBar1_->setValue(0);
    progressBar1_->setVisible(visible);
}

void MainWindow::setProgressValue(long value) {
    progressBar1_->setValue(static_cast<int>(std::clamp<long>(value, 0, progressBar1_->maximum())));
}

void MainWindow::setExecuteEnabled(bool enabled) {
    command1_->setEnabled(enabled);
}

} // namespace dormal::ui
