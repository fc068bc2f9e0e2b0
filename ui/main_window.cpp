#include "ui/main_window.h"

#include <QApplication>
#include <QBoxLayout>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QGridLayout>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSpacerItem>
#include <algorithm>
#include <utility>
#include <vector>

#include "conversion/selection_words.h"
#include "ui/coordinate_fields.h"
#include "ui/file_choice_frame.h"
#include "ui/secondary_windows.h"
#include "ui/selection_binder.h"
#include "ui/selection_model.h"
#include "ui/working_zone_panel.h"

namespace dormal::ui {

namespace {

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

// A control the selection rules show and hide keeps its room in the layout while hidden,
// so that the controls around it stay where they are.
void keepPlaceWhenHidden(QWidget* w) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
}

// Width of a coordinate field: room for the longest text it shows, "-12° 34' 56.7890''" or
// "4 850 123.457", with the frame's margins.
int fieldWidth(const QLineEdit* field) {
    const QFontMetrics m(field->font());
    return m.horizontalAdvance(QStringLiteral("-123\u00b0 34' 56.7890''")) + 12;
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
    : QWidget(parent), dialogs_(dialogs), runController_(dialogs) {
    setObjectName(QStringLiteral("MainWindow"));
    setWindowTitle(QStringLiteral("Dormal2k"));
    buildControls(workingFolder);
    commaFilter_ = new DecimalCommaFilter(this);
    startUp();
    // Opens in its compact arrangement; a larger window gives the room to the working zone.
    resize(minimumSizeHint());
}

MainWindow::~MainWindow() {
    if (busyDepth_ > 0)
        QApplication::restoreOverrideCursor();
}

// One side of the choice: system list, "Coordinate" and the kind list, "Proiezione" and the
// three zone lists sharing one place (only the one for the picked system is ever shown).
QGroupBox* MainWindow::buildChoiceFrame(const QString& title, const char* name, int firstList, QLabel* kindCaption,
                                        QLabel* projectionCaption) {
    auto* frame = named(new QGroupBox(title, this), name);
    static const char* const listNames[] = {"",       "Combo1", "Combo2", "Combo3", "Combo4", "Combo5",
                                            "Combo6", "Combo7", "Combo8", "Combo9", "Combo10"};
    for (int n = firstList; n < firstList + 5; ++n) {
        auto* list = named(new QComboBox(frame), listNames[n]);
        list->setEditable(false);
        list->setSizeAdjustPolicy(QComboBox::AdjustToContents);
        list->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
        keepPlaceWhenHidden(list);
        selectionLists_[static_cast<std::size_t>(n)] = list;
    }
    kindCaption->setParent(frame);
    projectionCaption->setParent(frame);
    keepPlaceWhenHidden(kindCaption);
    keepPlaceWhenHidden(projectionCaption);

    auto* column = new QGridLayout(frame);
    column->setVerticalSpacing(2);
    column->addWidget(selectionLists_[static_cast<std::size_t>(firstList)], 0, 0);
    column->addItem(new QSpacerItem(0, 6, QSizePolicy::Minimum, QSizePolicy::Fixed), 1, 0);
    column->addWidget(kindCaption, 2, 0);
    column->addWidget(selectionLists_[static_cast<std::size_t>(firstList + 1)], 3, 0);
    column->addItem(new QSpacerItem(0, 6, QSizePolicy::Minimum, QSizePolicy::Fixed), 4, 0);
    column->addWidget(projectionCaption, 5, 0);
    for (int n = firstList + 2; n < firstList + 5; ++n)
        column->addWidget(selectionLists_[static_cast<std::size_t>(n)], 6, 0);
    // The EPSG code of the choice, for the GIS programs the points go to or come from.
    auto* epsg = makeLabel(frame, firstList == 1 ? "LabelEpsgIn" : "LabelEpsgOut", QString());
    epsg->setToolTip(QStringLiteral("Codice EPSG del sistema, delle coordinate e del fuso scelti"));
    epsg->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // Room for the longest code text from the start, so that no later choice is cut short.
    int widest = 0;
    for (const auto& system : systemList())
        for (const auto& kind : kindList())
            for (const Zone zone : {Zone::Auto, Zone::OvestOr32, Zone::EstOr33, Zone::Utm34, Zone::Italia})
                widest = std::max(widest, epsg->fontMetrics().horizontalAdvance(QString::fromStdString(
                                              epsgCaption(system.value, kind.value, zone))));
    epsg->setMinimumWidth(widest + 2);
    (firstList == 1 ? inputEpsgLabel_ : outputEpsgLabel_) = epsg;
    column->addItem(new QSpacerItem(0, 6, QSizePolicy::Minimum, QSizePolicy::Fixed), 7, 0);
    column->addWidget(epsg, 8, 0);
    column->setRowStretch(9, 1);
    return frame;
}

void MainWindow::buildControls(const QString& workingFolder) {
    workingZone_ = new WorkingZonePanel(dialogs_, workingFolder, this);
    fileChoice_ = new FileChoiceFrame(dialogs_, this);

    // Title banner at the top left.
    auto* banner = named(new Picture(paintBanner, QSize(313, 73), this), "Banner");
    banner->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Fixed);
    banner->setMinimumHeight(banner->sizeHint().height());

    // Input and output choice, side by side, an arrow between them.
    inputKindCaption_ = makeLabel(this, "Label3", QStringLiteral("Coordinate"));
    inputProjectionCaption_ = makeLabel(this, "Label14", QStringLiteral("Proiezione"));
    outputKindCaption_ = makeLabel(this, "Label15", QStringLiteral("Coordinate"));
    outputProjectionCaption_ = makeLabel(this, "Label38", QStringLiteral("Proiezione"));
    inputChoiceFrame_ =
        buildChoiceFrame(QStringLiteral("Dal Sistema"), "Frame1", 1, inputKindCaption_, inputProjectionCaption_);
    outputChoiceFrame_ =
        buildChoiceFrame(QStringLiteral("Al Sistema"), "Frame12", 6, outputKindCaption_, outputProjectionCaption_);
    choiceArrow_ = named(new Picture(paintArrow, QSize(22, 25), this), "Image5");
    choiceArrow_->setFixedSize(choiceArrow_->sizeHint());

    // Height captions and the height box, an arrow between the captions.
    inputHeightFrame_ = named(new QGroupBox(this), "Frame2");
    outputHeightFrame_ = named(new QGroupBox(this), "Frame6");
    inputHeightCaption_ = makeLabel(inputHeightFrame_, "Label5", QString());
    outputHeightCaption_ = makeLabel(outputHeightFrame_, "Label2", QString());
    for (auto [frame, caption] :
         {std::pair{inputHeightFrame_, inputHeightCaption_}, std::pair{outputHeightFrame_, outputHeightCaption_}}) {
        caption->setAlignment(Qt::AlignCenter);
        caption->setWordWrap(true);
        auto* box = new QVBoxLayout(frame);
        box->setContentsMargins(4, 2, 4, 2);
        box->addWidget(caption);
    }
    heightArrow_ = named(new Picture(paintArrow, QSize(22, 25), this), "Image4");
    heightArrow_->setFixedSize(heightArrow_->sizeHint());
    keepPlaceWhenHidden(heightArrow_);
    heightsBox_ = named(new QCheckBox(QStringLiteral("Trasforma le quote"), this), "Check1");

    // Keyboard or data file.
    inputModeFrame_ = named(new QGroupBox(QStringLiteral("Input/Output"), this), "Frame4");
    keyboardModeButton_ = named(new QRadioButton(QStringLiteral("Da tastiera"), inputModeFrame_), "Option3_0");
    fileModeButton_ = named(new QRadioButton(QStringLiteral("Da file"), inputModeFrame_), "Option3_1");
    auto* modes = new QHBoxLayout(inputModeFrame_);
    modes->addWidget(keyboardModeButton_, 1);
    modes->addWidget(fileModeButton_, 1);

    // Keyboard frame and, in the same place, the file choice.
    buildKeyboardFrame();

    // Buttons and progress bar along the bottom.
    progressBar_ = named(new QProgressBar(this), "ProgressBar1");
    keepPlaceWhenHidden(progressBar_);
    exampleButton_ = named(new QPushButton(QStringLiteral("Esempio file dati"), this), "Command3");
    keepPlaceWhenHidden(exampleButton_);
    informationButton_ = named(new QPushButton(QStringLiteral("Informazioni"), this), "Command4");
    executeButton_ = named(new QPushButton(QStringLiteral("Esegui"), this), "Command1");
    exitButton_ = named(new QPushButton(QStringLiteral("Esci"), this), "Command2");
    // Enter presses the button that has the focus; "Esegui", where the typed point's Enter
    // chain ends, is drawn as the window's default button.
    for (QPushButton* b : {exampleButton_, informationButton_, executeButton_, exitButton_})
        b->setAutoDefault(true);
    executeButton_->setDefault(true);

    // The arrangement: on the left the banner, the two choice frames, the height row, the
    // height box and the input mode; on the right the working zone, which takes the room a
    // larger window gives; below both the keyboard frame (or the file choice), then the
    // progress bar under the left column and the buttons under the working zone.
    auto* choiceRow = new QHBoxLayout;
    choiceRow->setSpacing(0);
    choiceRow->addWidget(inputChoiceFrame_, 1);
    choiceRow->addWidget(choiceArrow_, 0, Qt::AlignCenter);
    choiceRow->addWidget(outputChoiceFrame_, 1);
    auto* heightRow = new QHBoxLayout;
    heightRow->setSpacing(0);
    heightRow->addWidget(inputHeightFrame_, 1);
    heightRow->addWidget(heightArrow_, 0, Qt::AlignCenter);
    heightRow->addWidget(outputHeightFrame_, 1);

    auto* left = new QVBoxLayout;
    left->setSpacing(4);
    left->addWidget(banner);
    left->addSpacing(4);
    left->addLayout(choiceRow);
    left->addLayout(heightRow);
    left->addWidget(heightsBox_);
    left->addWidget(inputModeFrame_);
    left->addStretch(1);

    auto* buttons = new QHBoxLayout;
    buttons->setSpacing(6);
    buttons->addWidget(exampleButton_);
    buttons->addWidget(informationButton_);
    buttons->addStretch(1);
    buttons->addWidget(executeButton_);
    buttons->addWidget(exitButton_);

    // The keyboard frame and the file choice share one place of one size, whichever is shown.
    keepPlaceWhenHidden(keyboardFrame_);
    keepPlaceWhenHidden(fileChoice_);
    auto* grid = new QGridLayout(this);
    grid->setContentsMargins(8, 4, 8, 8);
    grid->setHorizontalSpacing(8);
    grid->setVerticalSpacing(6);
    grid->addLayout(left, 0, 0);
    grid->addWidget(workingZone_, 0, 1);
    grid->addWidget(keyboardFrame_, 1, 0, 1, 2);
    grid->addWidget(fileChoice_, 1, 0, 1, 2);
    grid->addWidget(progressBar_, 2, 0);
    grid->addLayout(buttons, 2, 1);
    grid->setColumnStretch(0, 0);
    grid->setColumnStretch(1, 1);
    grid->setRowStretch(0, 1);

    // Wiring: the selection rules over the controls they show and hide.
    fields_->connectWindow(heightsBox_, executeButton_, [this] { clearOutputFields(); });

    SelectionControls c;
    c.combo = selectionLists_;
    c.check1 = heightsBox_;
    c.frame9 = inputPointFrame_;
    c.frame10 = outputPointFrame_;
    c.frame5 = workingZone_;
    c.label5 = inputHeightCaption_;
    c.label2 = outputHeightCaption_;
    c.label6 = inputHeightSymbol_;
    c.label9 = outputHeightSymbol_;
    c.label7 = inputLatSymbol_;
    c.label8 = inputLonSymbol_;
    c.label34 = inputNorthSymbol_;
    c.label35 = inputEastSymbol_;
    c.label11 = outputLatSymbol_;
    c.label12 = outputLonSymbol_;
    c.label36 = outputNorthSymbol_;
    c.label37 = outputEastSymbol_;
    c.label41 = outputZoneCaption_;
    c.text1 = outputZoneField_;
    c.text8 = outputFirstField_;
    c.text9 = outputSecondField_;
    c.text10 = outputHeightField_;
    c.image4 = heightArrow_;
    c.inputEpsg = inputEpsgLabel_;
    c.outputEpsg = outputEpsgLabel_;
    SelectionHooks hooks;
    hooks.inputSystemPicked = [this](RefSystem system, CoordKind kind) {
        workingZone_->onInputSystemPicked(system, kind);
    };
    hooks.inputKindPicked = [this](RefSystem system, CoordKind kind) { workingZone_->onInputKindPicked(system, kind); };
    hooks.inputMode = [this] { return inputMode_; };
    rules_ = new SelectionBinder(c, *fields_, std::move(hooks), this);

    secondary_ = new SecondaryWindows(this);
    wireControls();
    setTabChain();
}

void MainWindow::wireControls() {
    connect(keyboardModeButton_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            inputModeRule(0);
    });
    connect(fileModeButton_, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            inputModeRule(1);
    });
    connect(executeButton_, &QPushButton::clicked, this, &MainWindow::execute);
    connect(exitButton_, &QPushButton::clicked, this, &MainWindow::exitProgram);
    connect(exampleButton_, &QPushButton::clicked, this,
            [this] { secondary_->showExample(fileChoice_->dataFileType()); });
    connect(informationButton_, &QPushButton::clicked, this, [this] { secondary_->showInformation(); });
    connect(fileChoice_, &FileChoiceFrame::resultFileChosen, this, [this] { executeButton_->setEnabled(true); });
}

// Tab order: the choice, heights and mode, the working zone, the typed point, the file
// choice, then the buttons. The read-only results take the focus from a click only (to
// copy them), never from Tab.
void MainWindow::setTabChain() {
    for (QLineEdit* out : {outputFirstField_, outputSecondField_, outputHeightField_, outputZoneField_})
        out->setFocusPolicy(Qt::ClickFocus);
    std::vector<QWidget*> order(selectionLists_.begin() + 1, selectionLists_.end());
    order.insert(order.end(), {heightsBox_, keyboardModeButton_, fileModeButton_});
    for (const char* name : {"Drive1", "Dir1", "File1", "CheckAllPortions"})
        if (auto* w = workingZone_->findChild<QWidget*>(QLatin1String(name)))
            order.push_back(w);
    order.insert(order.end(), {fields_->displayField(FieldRef::First), fields_->editField(FieldRef::First),
                               fields_->displayField(FieldRef::Second), fields_->editField(FieldRef::Second),
                               fields_->displayField(FieldRef::Height), fields_->editField(FieldRef::Height)});
    for (const char* name : {"Option4_0", "Option4_1", "Command6", "Command7"})
        if (auto* w = fileChoice_->findChild<QWidget*>(QLatin1String(name)))
            order.push_back(w);
    order.insert(order.end(), {executeButton_, exampleButton_, informationButton_, exitButton_});
    for (std::size_t i = 1; i < order.size(); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
}

void MainWindow::buildKeyboardFrame() {
    keyboardFrame_ = named(new QGroupBox(QStringLiteral("Input/Output da tastiera"), this), "Frame8");
    inputPointFrame_ = named(new QGroupBox(QStringLiteral("Input"), keyboardFrame_), "Frame9");
    outputPointFrame_ = named(new QGroupBox(QStringLiteral("Output"), keyboardFrame_), "Frame10");

    // Input side: symbols, then fields; phi and "N =" share a place, as do lambda and "E =",
    // and each edit field lies over its display field.
    inputLatSymbol_ = makeLabel(inputPointFrame_, "Label7", QStringLiteral("\u03c6 ="));
    inputNorthSymbol_ = makeLabel(inputPointFrame_, "Label34", QStringLiteral("N ="));
    inputLonSymbol_ = makeLabel(inputPointFrame_, "Label8", QStringLiteral("\u03bb ="));
    inputEastSymbol_ = makeLabel(inputPointFrame_, "Label35", QStringLiteral("E ="));
    inputHeightSymbol_ = makeLabel(inputPointFrame_, "Label6", QString());
    fields_ = new CoordinateFields(inputPointFrame_,
                                   [this] { return rules_ ? rules_->state().inputKind : CoordKind::Geographic; });
    auto* in = new QGridLayout(inputPointFrame_);
    in->setColumnMinimumWidth(0, QFontMetrics(font()).horizontalAdvance(QStringLiteral("N = ")));
    const FieldRef refs[] = {FieldRef::First, FieldRef::Second, FieldRef::Height};
    const std::array<std::vector<QLabel*>, 3> inSymbols{
        {{inputLatSymbol_, inputNorthSymbol_}, {inputLonSymbol_, inputEastSymbol_}, {inputHeightSymbol_}}};
    for (int row = 0; row < 3; ++row) {
        for (QLabel* l : inSymbols[static_cast<std::size_t>(row)]) {
            keepPlaceWhenHidden(l);
            in->addWidget(l, row, 0);
        }
        for (QLineEdit* f : {fields_->displayField(refs[row]), fields_->editField(refs[row])}) {
            keepPlaceWhenHidden(f);
            f->setMinimumWidth(fieldWidth(f));
            in->addWidget(f, row, 1);
        }
    }
    in->setColumnStretch(1, 1);

    // Output side, and the zone field with its caption at the right.
    outputLatSymbol_ = makeLabel(outputPointFrame_, "Label11", QStringLiteral("\u03c6 ="));
    outputNorthSymbol_ = makeLabel(outputPointFrame_, "Label36", QStringLiteral("N ="));
    outputLonSymbol_ = makeLabel(outputPointFrame_, "Label12", QStringLiteral("\u03bb ="));
    outputEastSymbol_ = makeLabel(outputPointFrame_, "Label37", QStringLiteral("E ="));
    outputHeightSymbol_ = makeLabel(outputPointFrame_, "Label9", QString());
    outputFirstField_ = makeOutputField(outputPointFrame_, "Text8");
    outputSecondField_ = makeOutputField(outputPointFrame_, "Text9");
    outputHeightField_ = makeOutputField(outputPointFrame_, "Text10");
    outputZoneCaption_ = makeLabel(outputPointFrame_, "Label41", QStringLiteral("Fuso"));
    outputZoneCaption_->setAlignment(Qt::AlignHCenter | Qt::AlignBottom);
    outputZoneField_ = makeOutputField(outputPointFrame_, "Text1");
    outputZoneField_->setAlignment(Qt::AlignCenter);
    outputZoneField_->setMinimumWidth(QFontMetrics(font()).horizontalAdvance(QStringLiteral("Italia")) + 16);
    auto* out = new QGridLayout(outputPointFrame_);
    out->setColumnMinimumWidth(0, QFontMetrics(font()).horizontalAdvance(QStringLiteral("N = ")));
    const std::array<std::vector<QLabel*>, 3> outSymbols{
        {{outputLatSymbol_, outputNorthSymbol_}, {outputLonSymbol_, outputEastSymbol_}, {outputHeightSymbol_}}};
    const std::array<QLineEdit*, 3> outFields{outputFirstField_, outputSecondField_, outputHeightField_};
    for (int row = 0; row < 3; ++row) {
        for (QLabel* l : outSymbols[static_cast<std::size_t>(row)]) {
            keepPlaceWhenHidden(l);
            out->addWidget(l, row, 0);
        }
        QLineEdit* f = outFields[static_cast<std::size_t>(row)];
        keepPlaceWhenHidden(f);
        f->setMinimumWidth(fieldWidth(f));
        out->addWidget(f, row, 1);
    }
    for (QWidget* w : std::initializer_list<QWidget*>{outputZoneCaption_, outputZoneField_})
        keepPlaceWhenHidden(w);
    out->addWidget(outputZoneCaption_, 0, 2);
    out->addWidget(outputZoneField_, 1, 2);
    out->setColumnStretch(1, 1);

    auto* sides = new QHBoxLayout(keyboardFrame_);
    sides->addWidget(inputPointFrame_, 4);
    sides->addSpacing(24);
    sides->addWidget(outputPointFrame_, 5);
}

// --- Start-up ------------------------------------------------------------------------

void MainWindow::startUp() {
    // Coordinate symbols: phi and lambda on both sides.
    for (QLabel* l : {inputLatSymbol_, inputLonSymbol_, outputLatSymbol_, outputLonSymbol_})
        l->show();
    for (QLabel* l : {inputNorthSymbol_, inputEastSymbol_, outputNorthSymbol_, outputEastSymbol_})
        l->hide();

    // Keyboard frame in front, file choice and its example button away.
    exampleButton_->hide();
    fileChoice_->hide();
    keyboardFrame_->show();

    inputHeightCaption_->setText(QStringLiteral("Da quote ellissoidiche"));
    outputHeightCaption_->setText(QStringLiteral("A quote geoidiche"));
    heightsBox_->setEnabled(true);
    fileChoice_->reset();

    fields_->displayField(FieldRef::Height)->hide();
    fields_->editField(FieldRef::Height)->hide();
    outputHeightField_->hide();
    heightArrow_->hide();
    fields_->displayField(FieldRef::First)->show();
    outputZoneField_->clear();
    progressBar_->hide();

    // The ten lists.
    fillList(selectionLists_[1], systemList());
    fillList(selectionLists_[2], kindList());
    fillList(selectionLists_[3], inputZoneList(RefSystem::Roma40));
    fillList(selectionLists_[4], inputZoneList(RefSystem::Ed50));
    fillList(selectionLists_[5], inputZoneList(RefSystem::Etrf89));
    fillList(selectionLists_[6], systemList());
    fillList(selectionLists_[7], kindList());
    fillList(selectionLists_[8], outputZoneList(RefSystem::Roma40));
    fillList(selectionLists_[9], outputZoneList(RefSystem::Ed50));
    fillList(selectionLists_[10], outputZoneList(RefSystem::Etrf89));

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
    inputPointFrame_->setTitle(QStringLiteral("Input  ETRF89"));
    outputPointFrame_->setTitle(QStringLiteral("Output  ROMA40"));

    // Keyboard mode, Excel files.
    keyboardModeButton_->setChecked(true);
    inputModeRule(0);
    fileChoice_->reset();

    for (int n : {3, 4, 5, 8, 9, 10})
        selectionLists_[static_cast<std::size_t>(n)]->hide();
    outputZoneField_->hide();
    outputZoneCaption_->hide();
}

void MainWindow::inputModeRule(std::int16_t mode) {
    inputMode_ = mode;
    if (mode == 0) {
        keyboardFrame_->show();
        fileChoice_->hide();
        exampleButton_->hide();
        executeButton_->setEnabled(true);
    } else {
        keyboardFrame_->hide();
        fileChoice_->show();
        exampleButton_->show();
    }
}

// --- Run -----------------------------------------------------------------------------

RunInputs MainWindow::runInputs() const {
    RunInputs in;
    in.sel = rules_->state();
    in.heights = heightsBox_->isChecked();
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
    outputFirstField_->setText(first);
    outputSecondField_->setText(second);
    outputHeightField_->setText(height);
    outputZoneField_->setText(zone);
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
    progressBar_->setRange(0, static_cast<int>(std::clamp<long>(maximum, 0, INT_MAX)));
    progressBar_->setValue(0);
    progressBar_->setVisible(visible);
}

void MainWindow::setProgressValue(long value) {
    progressBar_->setValue(static_cast<int>(std::clamp<long>(value, 0, progressBar_->maximum())));
}

void MainWindow::setExecuteEnabled(bool enabled) {
    executeButton_->setEnabled(enabled);
}

} // namespace dormal::ui
