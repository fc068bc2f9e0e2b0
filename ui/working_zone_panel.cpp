#include "ui/working_zone_panel.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QSignalBlocker>
#include <QStorageInfo>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <dirent.h>
#include <functional>
#include <sys/stat.h>

#include "conversion/formats.h"
#include "conversion/grid_messages.h"
#include "geodesy/angles.h"
#include "geodesy/systems.h"
#include "geodesy/zones.h"
#include "grid/text_encoding.h"
#include "ui/wz_text.h"

namespace dormal::ui {

namespace {

// Longitude of the Rome meridian east of Greenwich (decimal degrees), as the limits row
// "Long. da Roma" uses it; the conversion itself uses the exact Monte Mario value.
constexpr double kRomeMeridianForDisplay = 12.4522;

constexpr int kIndentPerLevel = 2; // blanks per folder level in Dir1

// File systems that hold no user files: they are not offered in Drive1.
bool isPseudoFileSystem(const QByteArray& type) {
    static constexpr std::array<const char*, 24> kPseudo = {
        "proc",        "sysfs",    "devtmpfs",   "devpts", "cgroup",    "cgroup2",  "securityfs", "pstore",
        "debugfs",     "tracefs",  "bpf",        "mqueue", "hugetlbfs", "configfs", "fusectl",    "autofs",
        "binfmt_misc", "efivarfs", "rpc_pipefs", "nsfs",   "ramfs",     "squashfs", "selinuxfs",  "tmpfs"};
    for (const char* p : kPseudo)
        if (type == p)
            return true;
    return false;
}

// Why a folder cannot be listed, in the system's words; empty when it can.
QString listingFailure(const QString& folder) {
    const QByteArray name = QFile::encodeName(folder);
    DIR* dir = ::opendir(name.constData());
    if (dir == nullptr) {
        const int err = errno;
        return QString::fromLocal8Bit(std::strerror(err));
    }
    ::closedir(dir);
    return {};
}

QString cleanFolder(const QString& folder) {
    return QDir::cleanPath(QDir(folder).absolutePath());
}

// One of the diagram shapes: an outlined rectangle or ellipse, or a filled mark.
class WzShape final : public QWidget {
public:
    enum class Look { Rectangle, Ellipse, Mark };
    WzShape(Look look, QColor color, QWidget* parent) : QWidget(parent), look_(look), color_(color) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        p.setRenderHint(QPainter::Antialiasing, look_ != Look::Rectangle);
        const QRect r = rect().adjusted(0, 0, -1, -1);
        switch (look_) {
        case Look::Rectangle:
            p.setPen(QPen(color_, 1));
            p.drawRect(r);
            break;
        case Look::Ellipse:
            p.setPen(QPen(color_, 1));
            p.drawEllipse(r);
            break;
        case Look::Mark:
            p.setPen(Qt::NoPen);
            p.setBrush(color_);
            p.drawEllipse(r);
            break;
        }
    }

private:
    Look look_;
    QColor color_;
};

// The grid-file list. Enter on its current file is a pick (the file is read again if it
// is selected already); the other picks (click, Space, arrows) select a file and are seen
// through the selection.
class GridFileList final : public QListWidget {
public:
    using QListWidget::QListWidget;
    std::function<void(QListWidgetItem*)> enterPressed;

protected:
    void keyPressEvent(QKeyEvent* event) override {
        const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
        if (enter && currentItem() != nullptr && enterPressed) {
            enterPressed(currentItem());
            event->accept();
            return;
        }
        QListWidget::keyPressEvent(event);
    }
};

// File1's items are no wider than the list: a long name is elided (the view's elide mode)
// instead of widening the list or scrolling it sideways; the whole name is the tooltip.
class FitToViewDelegate final : public QStyledItemDelegate {
public:
    explicit FitToViewDelegate(QListView* view) : QStyledItemDelegate(view), view_(view) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        QSize s = QStyledItemDelegate::sizeHint(option, index);
        s.setWidth(std::min(s.width(), view_->viewport()->width()));
        return s;
    }

private:
    QListView* view_;
};

// A one-line label that never widens the window: it takes the room the layout gives it and
// draws its text elided in the middle when the text does not fit.
class ElidingLabel final : public QLabel {
public:
    explicit ElidingLabel(QWidget* parent) : QLabel(parent) {
        setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    }

protected:
    void paintEvent(QPaintEvent*) override {
        QPainter p(this);
        const QRect r = contentsRect();
        const QString shown = fontMetrics().elidedText(text(), Qt::ElideMiddle, r.width());
        style()->drawItemText(&p, r, static_cast<int>(alignment()), palette(), isEnabled(), shown, foregroundRole());
    }
};

// The bytes of File1's item (the name on disk, which its text may only show).
constexpr int kNameBytesRole = Qt::UserRole;

QByteArray nameBytes(const QListWidgetItem* item) {
    return item->data(kNameBytesRole).toByteArray();
}

// A label shown and hidden with the portion keeps its room in the layout while hidden.
void keepPlaceWhenHidden(QWidget* w) {
    QSizePolicy policy = w->sizePolicy();
    policy.setRetainSizeWhenHidden(true);
    w->setSizePolicy(policy);
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& text = {}) {
    auto* l = new QLabel(text, parent);
    l->setObjectName(QString::fromLatin1(name));
    return l;
}

} // namespace

struct WorkingZonePanel::Impl {
    WorkingZonePanel* self = nullptr;
    UserDialogs& dialogs;
    QString startFolder;
    QString startVolume; // the volume selected when the window opened
    QString folder;      // folder shown by Dir1 and File1 ("" before the first listing)
    std::optional<GridPortion> portion;
    ZoneLimits limits;
    std::optional<PortionSet> set; // every portion of the folder (CheckAllPortions ticked)
    ZoneLimits setLimits;          // outer limits of the set
    RefSystem inputSystem = RefSystem::Etrf89;
    CoordKind inputKind = CoordKind::Geographic;
    bool picking = false; // a pick or a cleared selection is in progress: ignore File1's signals

    QComboBox* drive1 = nullptr;
    QListWidget* dir1 = nullptr;
    GridFileList* file1 = nullptr;
    QCheckBox* checkAll = nullptr;
    QLabel *label10 = nullptr, *label13 = nullptr, *label17 = nullptr, *label18 = nullptr, *label19 = nullptr,
           *label20 = nullptr, *label21 = nullptr, *label22 = nullptr, *label23 = nullptr, *label24 = nullptr,
           *label25 = nullptr, *label26 = nullptr, *label27 = nullptr, *label28 = nullptr, *label29 = nullptr,
           *label30 = nullptr, *label31 = nullptr, *label39 = nullptr, *label40 = nullptr, *label42 = nullptr,
           *label43 = nullptr, *label44 = nullptr, *label45 = nullptr, *label46 = nullptr, *label47 = nullptr;
    WzShape *shape1 = nullptr, *shape2 = nullptr, *shape3 = nullptr, *shape4 = nullptr;

    Impl(WorkingZonePanel* s, UserDialogs& dlg) : self(s), dialogs(dlg) {}

    void build();
    void fillVolumes(const QStringList& roots);
    int volumeIndex(const QString& root) const;
    QString volumeOf(const QString& folder) const;
    void selectVolumeQuietly(const QString& root);

    void onVolumePicked(int index);
    bool showFolder(const QString& folder, bool reportFailure);
    void fillFolderList();
    void fillFileList();
    void clearFileSelection();
    void pickItem(QListWidgetItem* item);
    void setPortionText(const QString& text, bool withTooltip);

    void onFilePicked(const QByteArray& name);
    void onCheckAllToggled(bool checked);
    void loadSet();
    void resetFrame(bool emptyEpochs);
    void showPortion();
    void showZoneLimits();
    void setLimitLabelsVisible(bool visible);
    void setGeographicRowVisible(bool visible);
};

void WorkingZonePanel::Impl::build() {
    // The folder and file lists take whatever room the window gives the frame; every label
    // below them keeps its room while hidden, so showing a portion moves nothing.
    auto* outer = new QVBoxLayout(self);
    outer->setContentsMargins(8, 4, 8, 8);
    outer->setSpacing(3);

    drive1 = new QComboBox(self);
    drive1->setObjectName(QStringLiteral("Drive1"));
    drive1->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    drive1->setMinimumContentsLength(12);
    outer->addWidget(drive1);

    dir1 = new QListWidget(self);
    dir1->setObjectName(QStringLiteral("Dir1"));
    dir1->setMinimumSize(120, 60);
    outer->addWidget(dir1, 3);

    file1 = new GridFileList(self);
    file1->setObjectName(QStringLiteral("File1"));
    file1->setMinimumSize(120, 44);
    file1->setSelectionMode(QAbstractItemView::SingleSelection);
    file1->setTextElideMode(Qt::ElideMiddle); // the extension stays in sight
    file1->setResizeMode(QListView::Adjust);
    file1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    file1->setItemDelegate(new FitToViewDelegate(file1));
    outer->addWidget(file1, 2);

    checkAll = new QCheckBox(QStringLiteral("Usa tutte le porzioni della cartella"), self);
    checkAll->setObjectName(QStringLiteral("CheckAllPortions"));
    outer->addWidget(checkAll);

    auto* nameRow = new QHBoxLayout;
    label10 = makeLabel(self, "Label10");
    label13 = new ElidingLabel(self);
    label13->setObjectName(QStringLiteral("Label13"));
    QFont bold = label13->font();
    bold.setBold(true);
    label13->setFont(bold);
    nameRow->addWidget(label10);
    nameRow->addWidget(label13, 1);
    outer->addLayout(nameRow);

    // Limits around the diagram: longitudes above it (from Rome, then from Greenwich), west
    // at its left edge and east at its right with a gap between them, latitudes at its left,
    // the zone and the caption at its right.
    auto* limits = new QGridLayout;
    limits->setHorizontalSpacing(4);
    limits->setVerticalSpacing(0);
    label30 = makeLabel(self, "Label30", QStringLiteral("Long. da Roma"));
    label31 = makeLabel(self, "Label31", QStringLiteral("Long. da Greenwich"));
    label28 = makeLabel(self, "Label28");
    label29 = makeLabel(self, "Label29");
    label17 = makeLabel(self, "Label17");
    label18 = makeLabel(self, "Label18");
    label19 = makeLabel(self, "Label19");
    label20 = makeLabel(self, "Label20");
    // The caption on three lines of whole words.
    label21 = makeLabel(self, "Label21",
                        QStringLiteral("Limiti approssimativi\ndella zona in cui\n\u00e8 possibile operare"));
    label21->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    label39 = makeLabel(self, "Label39", QStringLiteral("fuso"));
    label40 = makeLabel(self, "Label40");
    for (QLabel* l : {label28, label17})
        l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    for (QLabel* l : {label29, label18})
        l->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    label19->setAlignment(Qt::AlignRight | Qt::AlignTop);
    label20->setAlignment(Qt::AlignRight | Qt::AlignBottom);

    auto* diagram = new QWidget(self);
    diagram->setObjectName(QStringLiteral("WzDiagram"));
    diagram->setFixedSize(104, 60);
    shape1 = new WzShape(WzShape::Look::Rectangle, QColor(0, 0, 128), diagram);
    shape1->setObjectName(QStringLiteral("Shape1"));
    shape1->setGeometry(8, 2, 88, 56);
    shape2 = new WzShape(WzShape::Look::Rectangle, QColor(0, 0, 128), diagram);
    shape2->setObjectName(QStringLiteral("Shape2"));
    shape2->setGeometry(14, 2, 76, 56);
    shape3 = new WzShape(WzShape::Look::Ellipse, QColor(0, 96, 0), diagram);
    shape3->setObjectName(QStringLiteral("Shape3"));
    shape3->setGeometry(36, 14, 32, 32);
    shape4 = new WzShape(WzShape::Look::Mark, QColor(Qt::red), diagram);
    shape4->setObjectName(QStringLiteral("Shape4"));
    shape4->setGeometry(49, 27, 6, 6); // centre of Shape3

    auto* side = new QVBoxLayout;
    side->setSpacing(0);
    side->setContentsMargins(QFontMetrics(self->font()).horizontalAdvance(QStringLiteral("M")), 0, 0, 0);
    side->addWidget(label21);
    side->addSpacing(4);
    side->addWidget(label39, 0, Qt::AlignLeft);
    side->addWidget(label40, 0, Qt::AlignLeft);
    side->addStretch(1);

    // Columns: 0 captions and latitudes, 1 west limits, 2 gap, 3 east limits, 4 the side.
    limits->addWidget(label30, 0, 0, Qt::AlignRight);
    limits->addWidget(label28, 0, 1);
    limits->addWidget(label29, 0, 3);
    limits->addWidget(label31, 1, 0, Qt::AlignRight);
    limits->addWidget(label17, 1, 1);
    limits->addWidget(label18, 1, 3);
    limits->addWidget(label19, 2, 0);
    limits->addWidget(label20, 3, 0);
    limits->addWidget(diagram, 2, 1, 2, 3, Qt::AlignCenter);
    limits->addLayout(side, 0, 4, 4, 1);
    const QFontMetrics metrics(self->font());
    const int limitWidth = metrics.horizontalAdvance(QStringLiteral("8 888 km"));
    limits->setColumnMinimumWidth(1, limitWidth);
    limits->setColumnMinimumWidth(2, metrics.horizontalAdvance(QStringLiteral("MM")));
    limits->setColumnMinimumWidth(3, limitWidth);
    limits->setColumnStretch(4, 1);
    outer->addLayout(limits);

    // The four grids, two a row: "Griglia" and the grid's name, its epoch below.
    auto* grids = new QGridLayout;
    grids->setHorizontalSpacing(8);
    grids->setVerticalSpacing(0);
    label42 = makeLabel(self, "Label42", QStringLiteral("Griglia"));
    label43 = makeLabel(self, "Label43", QStringLiteral("Griglia"));
    label45 = makeLabel(self, "Label45", QStringLiteral("Griglia"));
    label46 = makeLabel(self, "Label46", QStringLiteral("Griglia"));
    label22 = makeLabel(self, "Label22", QStringLiteral("ROMA40-ED50"));
    label23 = makeLabel(self, "Label23", QStringLiteral("ROMA40-ETRF89"));
    label44 = makeLabel(self, "Label44", QStringLiteral("ETRF89-ETRF2000"));
    label24 = makeLabel(self, "Label24", QStringLiteral("Geoide"));
    label25 = makeLabel(self, "Label25");
    label26 = makeLabel(self, "Label26");
    label47 = makeLabel(self, "Label47");
    label27 = makeLabel(self, "Label27");
    const std::array<std::array<QLabel*, 3>, 4> blocks{{{label42, label22, label25},
                                                        {label43, label23, label26},
                                                        {label45, label44, label47},
                                                        {label46, label24, label27}}};
    for (std::size_t b = 0; b < blocks.size(); ++b) {
        const int row = static_cast<int>(b / 2) * 2;
        const int col = static_cast<int>(b % 2) * 2;
        QLabel* caption = blocks[b][0];
        QLabel* name = blocks[b][1];
        QLabel* epoch = blocks[b][2];
        QFont small = epoch->font();
        small.setPointSizeF(small.pointSizeF() * 0.9);
        epoch->setFont(small);
        epoch->setWordWrap(true);
        epoch->setMinimumWidth(40);
        // Two lines are kept for every epoch, shown or not: an epoch read from a file wraps
        // into them without moving the lists above.
        epoch->setMinimumHeight(2 * QFontMetrics(small).lineSpacing());
        epoch->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        epoch->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
        grids->addWidget(caption, row, col);
        grids->addWidget(name, row, col + 1);
        grids->addWidget(epoch, row + 1, col, 1, 2);
    }
    grids->setColumnStretch(1, 1);
    grids->setColumnStretch(3, 1);
    outer->addLayout(grids);

    for (QWidget* w :
         std::initializer_list<QWidget*>{label17, label18, label19, label20, label21, label25, label26, label27,
                                         label28, label29, label30, label31, label39, label40, label47})
        keepPlaceWhenHidden(w);

    QObject::connect(drive1, &QComboBox::currentIndexChanged, self, [this](int index) { onVolumePicked(index); });
    QObject::connect(dir1, &QListWidget::itemActivated, self, [this](QListWidgetItem* item) {
        if (item == nullptr)
            return;
        const QString target = item->data(Qt::UserRole).toString();
        if (!target.isEmpty() && target != folder)
            self->openFolder(target);
    });
    // A portion is read when the user picks a file: a click, Space or an arrow key selects
    // it. The list's current item alone means nothing: Qt makes the first item current by
    // itself when the focus comes to a list without one (as it does when a message box about
    // a failed read closes), and reading that would show the box again, and again.
    QObject::connect(file1, &QListWidget::itemSelectionChanged, self, [this] {
        if (picking)
            return;
        const QList<QListWidgetItem*> selected = file1->selectedItems();
        if (!selected.isEmpty())
            onFilePicked(nameBytes(selected.constFirst()));
    });
    file1->enterPressed = [this](QListWidgetItem* item) { pickItem(item); };
    QObject::connect(checkAll, &QCheckBox::toggled, self, [this](bool checked) { onCheckAllToggled(checked); });
}

// ---- Volumes ---------------------------------------------------------------------------

void WorkingZonePanel::Impl::fillVolumes(const QStringList& roots) {
    const QSignalBlocker block(drive1);
    const QString current = drive1->currentData().toString();
    drive1->clear();
    for (const QString& root : roots) {
        const QStorageInfo info(root);
        QString text = root;
        if (info.isValid() && info.rootPath() == root && !info.name().isEmpty() && info.name() != root)
            text += QStringLiteral(" [%1]").arg(info.name());
        drive1->addItem(text, root);
    }
    const int keep = volumeIndex(current);
    drive1->setCurrentIndex(keep >= 0 ? keep : -1);
}

int WorkingZonePanel::Impl::volumeIndex(const QString& root) const {
    for (int i = 0; i < drive1->count(); ++i)
        if (drive1->itemData(i).toString() == root)
            return i;
    return -1;
}

// The volume of Drive1 holding `folder`: the listed root that is the longest prefix of it.
QString WorkingZonePanel::Impl::volumeOf(const QString& path) const {
    QString best;
    for (int i = 0; i < drive1->count(); ++i) {
        const QString root = drive1->itemData(i).toString();
        const bool under = path == root || root == QLatin1String("/") ||
                           path.startsWith(root.endsWith(QLatin1Char('/')) ? root : root + QLatin1Char('/'));
        if (under && root.size() > best.size())
            best = root;
    }
    return best;
}

void WorkingZonePanel::Impl::selectVolumeQuietly(const QString& root) {
    const QSignalBlocker block(drive1);
    int index = volumeIndex(root);
    if (index < 0 && !root.isEmpty()) {
        drive1->addItem(root, root);
        index = drive1->count() - 1;
    }
    drive1->setCurrentIndex(index);
}

void WorkingZonePanel::Impl::onVolumePicked(int index) {
    if (index < 0)
        return;
    const QString root = drive1->itemData(index).toString();
    QString reason = listingFailure(root);
    if (reason.isEmpty()) {
        const QStorageInfo info(root);
        if (info.isValid() && !info.isReady())
            reason = QStringLiteral("Il dispositivo non \u00e8 pronto.");
    }
    if (!reason.isEmpty()) {
        Message m;
        m.icon = MessageIcon::Error;
        m.title = kTitleErrore;
        m.lines = {("IMPOSSIBILE USARE IL VOLUME " + root).toStdString(), reason.toStdString()};
        dialogs.showMessage(self, m);
        // Back to the volume selected when the window opened, and to the folder it was in.
        selectVolumeQuietly(startVolume);
        if (showFolder(startFolder, false))
            resetFrame(true);
        else if (showFolder(startVolume, false))
            resetFrame(true);
        emit self->portionChanged();
        return;
    }
    if (!showFolder(root, true))
        selectVolumeQuietly(volumeOf(folder));
    resetFrame(true);
    emit self->portionChanged();
}

// ---- Folders and files -----------------------------------------------------------------

// Shows `target` in Dir1 and its grid files in File1. A folder that cannot be listed is
// reported (when asked) and the lists keep the folder shown before.
bool WorkingZonePanel::Impl::showFolder(const QString& target, bool reportFailure) {
    const QString clean = cleanFolder(target);
    const QString reason = listingFailure(clean);
    if (!reason.isEmpty()) {
        if (reportFailure) {
            Message m;
            m.icon = MessageIcon::Error;
            m.title = kTitleErrore;
            m.lines = {"IMPOSSIBILE ELENCARE I FILE DELLA CARTELLA", clean.toStdString(), reason.toStdString()};
            dialogs.showMessage(self, m);
        }
        clearFileSelection();
        return false;
    }
    folder = clean;
    selectVolumeQuietly(volumeOf(folder));
    fillFolderList();
    fillFileList();
    return true;
}

void WorkingZonePanel::Impl::fillFolderList() {
    const QSignalBlocker block(dir1);
    dir1->clear();
    const QString root = volumeOf(folder);
    QStringList chain; // folders from the volume root down to the current one
    QString relative = folder.mid(root.size());
    QString path = root;
    chain << root;
    for (const QString& part : relative.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        path = path.endsWith(QLatin1Char('/')) ? path + part : path + QLatin1Char('/') + part;
        chain << path;
    }
    const QIcon openIcon = self->style()->standardIcon(QStyle::SP_DirOpenIcon);
    const QIcon closedIcon = self->style()->standardIcon(QStyle::SP_DirIcon);
    int level = 0;
    QListWidgetItem* currentItem = nullptr;
    for (const QString& p : chain) {
        const QString name = level == 0 ? p : QFileInfo(p).fileName();
        auto* item = new QListWidgetItem(openIcon, QString(level * kIndentPerLevel, QLatin1Char(' ')) + name, dir1);
        item->setData(Qt::UserRole, p);
        currentItem = item;
        ++level;
    }
    const QDir dir(folder);
    // QDir's folder filter lets through links to anything that is neither a file nor a folder
    // (devices, FIFOs, dangling links): only what is a folder, or links to one, is offered.
    const QFileInfoList subfolders = dir.entryInfoList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::System,
                                                       QDir::Name | QDir::IgnoreCase | QDir::LocaleAware);
    for (const QFileInfo& sub : subfolders) {
        if (!sub.isDir())
            continue;
        auto* item =
            new QListWidgetItem(closedIcon, QString(level * kIndentPerLevel, QLatin1Char(' ')) + sub.fileName(), dir1);
        item->setData(Qt::UserRole, dir.filePath(sub.fileName()));
    }
    dir1->setCurrentItem(currentItem);
}

void WorkingZonePanel::Impl::fillFileList() {
    picking = true;
    file1->clear();
    // The names as the folder holds them, bytes and all, as the working set of the folder
    // reads them: a name that is not UTF-8 is offered too (shown with Latin-1 characters).
    const std::string folderName = toFileName(folder);
    int error = 0;
    std::vector<std::string> names = portionFileNames(folderName, error);
    std::stable_sort(names.begin(), names.end(),
                     [](const std::string& a, const std::string& b) { return asciiLowerCase(a) < asciiLowerCase(b); });
    for (const std::string& name : names) {
        // Regular files and links to them only: a FIFO, socket, device or dangling link under
        // a grid file's name is not offered (reading a FIFO would wait for a writer).
        struct stat st {};
        if (::stat(gridPortionPath(folderName, name).c_str(), &st) != 0 || !S_ISREG(st.st_mode))
            continue;
        const QString shown = shownFileName(name);
        auto* item = new QListWidgetItem(shown, file1);
        item->setToolTip(shown);
        item->setData(kNameBytesRole, QByteArray(name.data(), static_cast<qsizetype>(name.size())));
    }
    file1->setCurrentRow(-1);
    picking = false;
}

void WorkingZonePanel::Impl::clearFileSelection() {
    picking = true;
    file1->clearSelection();
    file1->setCurrentItem(nullptr);
    picking = false;
}

// Selects `item` without the selection's own reading, then reads it: exactly one read.
void WorkingZonePanel::Impl::pickItem(QListWidgetItem* item) {
    picking = true;
    file1->setCurrentItem(item);
    item->setSelected(true);
    picking = false;
    onFilePicked(nameBytes(item));
}

// Label13's text; a file's name also as its tooltip, whole.
void WorkingZonePanel::Impl::setPortionText(const QString& text, bool withTooltip) {
    label13->setText(text);
    label13->setToolTip(withTooltip ? text : QString());
}

void WorkingZonePanel::Impl::onFilePicked(const QByteArray& name) {
    resetFrame(false);
    const std::string fileName = name.toStdString();
    const std::string path = gridPortionPath(toFileName(folder), fileName);
    // The file may have been replaced since it was listed. Something that is not a regular
    // file is not handed to the reader: a FIFO would keep it waiting for a writer.
    struct stat st {};
    GridLoadResult result;
    const bool notRegular = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
    if (!notRegular)
        result = loadGridPortion(toFileName(folder), fileName);
    if (result.ok()) {
        portion = std::move(result.portion);
        limits = computeZoneLimits(*portion, inputSystem);
        showPortion();
        emit self->portionChanged();
        return;
    }
    // No portion loaded, and nothing selected: a later run is told that no grid portion
    // is selected instead of testing points against the limits of an earlier portion.
    portion.reset();
    limits = ZoneLimits{};
    const Message m = notRegular ? Message{MessageIcon::Warning, kTitleAttenzione, {"IL FILE NON E' UN FILE ORDINARIO"}}
                                 : gridLoadMessage(*result.error);
    dialogs.showMessage(self, namingFile(m, shownFileName(path).toStdString()));
    clearFileSelection();
    emit self->portionChanged();
}

// ---- The whole folder as a working set -------------------------------------------------

void WorkingZonePanel::Impl::onCheckAllToggled(bool checked) {
    clearFileSelection();
    portion.reset();
    limits = ZoneLimits{};
    file1->setEnabled(!checked);
    if (!checked)
        set.reset();
    resetFrame(true); // ticked: reads the folder's portions
    emit self->portionChanged();
}

// Reads every portion of the folder and shows the set: its number of portions, outer
// limits and zone, the epochs of its first portion. A folder without portions or with one
// that cannot be read is reported and the box is unticked.
void WorkingZonePanel::Impl::loadSet() {
    PortionSetLoad r = loadPortionSet({}, {toFileName(folder)});
    if (!r.ok()) {
        set.reset();
        {
            const QSignalBlocker block(checkAll);
            checkAll->setChecked(false);
        }
        file1->setEnabled(true);
        dialogs.showMessage(self, portionSetMessage(*r.error));
        resetFrame(true);
        return;
    }
    set = std::move(r.set);
    const SetBounds b = set->bounds();
    setLimits = zoneLimitsOfArea(b.south, b.west, b.north, b.east, inputSystem);
    const GridPortion& first = set->portion(0);
    label10->setText(QStringLiteral("Porzioni:"));
    setPortionText(QString::number(set->size()), false);
    label25->setText(fromFileText(first.roEdEpoch));
    label26->setText(fromFileText(first.roE89Epoch));
    label27->setText(fromFileText(first.geoidEpoch));
    label47->setText(fromFileText(first.e89E2000Epoch));
    label40->setText(QString::fromLatin1(zoneInfo(RefSystem::Ed50, setLimits.zone).text)); // "32", "33", "34"
    showZoneLimits();
    setLimitLabelsVisible(true);
}

// ---- The frame's states ----------------------------------------------------------------

void WorkingZonePanel::Impl::setLimitLabelsVisible(bool visible) {
    for (QLabel* l :
         {label17, label18, label19, label20, label21, label25, label26, label27, label39, label40, label47})
        l->setVisible(visible);
}

void WorkingZonePanel::Impl::setGeographicRowVisible(bool visible) {
    for (QLabel* l : {label28, label29, label30, label31})
        l->setVisible(visible);
}

void WorkingZonePanel::Impl::resetFrame(bool emptyEpochs) {
    setPortionText(QStringLiteral("non selezionata"), false);
    label10->setText(QStringLiteral("Zona:"));
    for (QWidget* s : std::initializer_list<QWidget*>{shape1, shape2, shape3, shape4})
        s->hide();
    setLimitLabelsVisible(false);
    setGeographicRowVisible(false);
    if (emptyEpochs)
        for (QLabel* l : {label25, label26, label27, label47})
            l->clear();
    if (checkAll->isChecked())
        loadSet();
}

void WorkingZonePanel::Impl::showPortion() {
    const GridPortion& g = *portion;
    label21->show();
    if (g.kind == PortionKind::Vertex) {
        label10->setText(QStringLiteral("Punto KVT95 n."));
        shape1->hide();
        shape2->show();
        shape3->show();
        shape4->show();
    } else {
        label10->setText(QStringLiteral("Foglio al 50.000 :"));
        shape1->show();
        shape2->hide();
        shape3->hide();
        shape4->hide();
    }
    label25->setText(fromFileText(g.roEdEpoch));
    label26->setText(fromFileText(g.roE89Epoch));
    label27->setText(fromFileText(g.geoidEpoch));
    label47->setText(fromFileText(g.e89E2000Epoch));
    label40->setText(QString::fromLatin1(zoneInfo(RefSystem::Ed50, limits.zone).text)); // "32", "33", "34"
    showZoneLimits();
    setLimitLabelsVisible(true);
    setPortionText(shownFileName(g.portionName), true);
}

// Fills the limit labels for the current input kind: degrees and minutes for geographic
// input (with the row of longitudes from Rome), kilometres of the corners for plane input.
void WorkingZonePanel::Impl::showZoneLimits() {
    const char sep = localeDecimalSeparator();
    auto dm = [sep](double decimalDegrees) {
        return QString::fromStdString(formatDegMin(degreesToSexagesimalMinutes(decimalDegrees), sep));
    };
    auto km = [sep](double metres) { return QString::fromStdString(formatKm(metres / 1000.0, sep)); };
    const ZoneLimits& limits = set ? setLimits : this->limits;
    if (inputKind == CoordKind::Geographic) {
        label17->setText(dm(limits.west));
        label18->setText(dm(limits.east));
        label28->setText(dm(limits.west - kRomeMeridianForDisplay));
        label29->setText(dm(limits.east - kRomeMeridianForDisplay));
        label19->setText(dm(limits.north));
        label20->setText(dm(limits.south));
        setGeographicRowVisible(true);
    } else {
        label17->setText(km(limits.nwEast));
        label18->setText(km(limits.seEast));
        label19->setText(km(limits.nwNorth));
        label20->setText(km(limits.seNorth));
        setGeographicRowVisible(false);
    }
}

// ---- Public face -------------------------------------------------------------------------

WorkingZonePanel::WorkingZonePanel(UserDialogs& dialogs, const QString& startFolder, QWidget* parent)
    : QGroupBox(QStringLiteral("Zona di lavoro"), parent), d(std::make_unique<Impl>(this, dialogs)) {
    setObjectName(QStringLiteral("Frame5"));
    d->build();

    QStringList roots;
    for (const QStorageInfo& v : QStorageInfo::mountedVolumes()) {
        if (!v.isValid() || !v.isReady())
            continue;
        const QString root = v.rootPath();
        if (root != QLatin1String("/") && isPseudoFileSystem(v.fileSystemType()))
            continue;
        if (!QFileInfo(root).isDir()) // a single file mounted over another (containers)
            continue;
        if (!roots.contains(root))
            roots << root;
    }
    // The volume of the starting folder is always offered, whatever its file system.
    const QString start = cleanFolder(startFolder.isEmpty() ? QDir::currentPath() : startFolder);
    const QString startRoot = QStorageInfo(start).isValid() ? QStorageInfo(start).rootPath() : QString();
    if (!startRoot.isEmpty() && !roots.contains(startRoot))
        roots << startRoot;
    if (roots.isEmpty())
        roots << QStringLiteral("/");
    std::sort(roots.begin(), roots.end());
    d->fillVolumes(roots);

    d->startFolder = start;
    d->resetFrame(true);
    if (!d->showFolder(start, true))
        d->showFolder(d->volumeOf(start).isEmpty() ? QStringLiteral("/") : d->volumeOf(start), false);
    d->startVolume = d->drive1->currentData().toString();
}

WorkingZonePanel::~WorkingZonePanel() = default;

const GridPortion* WorkingZonePanel::portion() const {
    return d->portion ? &*d->portion : nullptr;
}

const ZoneLimits& WorkingZonePanel::limits() const {
    return d->limits;
}

const PortionSet* WorkingZonePanel::portionSet() const {
    return d->set ? &*d->set : nullptr;
}

bool WorkingZonePanel::fileSelected() const {
    const QListWidgetItem* item = d->file1->currentItem();
    return item != nullptr && item->isSelected();
}

void WorkingZonePanel::onInputSystemPicked(RefSystem inputSystem, CoordKind inputKind) {
    d->inputSystem = inputSystem;
    d->inputKind = inputKind;
    d->limits = convertCornersForInputSystem(d->limits, inputSystem);
    d->setLimits = convertCornersForInputSystem(d->setLimits, inputSystem);
    if (d->portion || d->set) {
        d->setLimitLabelsVisible(true);
        d->showZoneLimits();
    } else {
        d->setLimitLabelsVisible(false);
        d->setGeographicRowVisible(false);
    }
}

void WorkingZonePanel::onInputKindPicked(RefSystem inputSystem, CoordKind inputKind) {
    d->inputSystem = inputSystem;
    d->inputKind = inputKind;
    if (!d->portion && !d->set)
        return;
    d->showZoneLimits();
    d->setLimitLabelsVisible(true);
}

void WorkingZonePanel::openFolder(const QString& folder) {
    d->showFolder(folder, true);
    d->resetFrame(true);
    emit portionChanged();
}

QString WorkingZonePanel::currentFolder() const {
    return d->folder;
}

bool WorkingZonePanel::pickFile(const QString& fileName) {
    const QByteArray bytes = QFile::encodeName(fileName);
    for (int i = 0; i < d->file1->count(); ++i) {
        QListWidgetItem* item = d->file1->item(i);
        if (nameBytes(item) == bytes || item->text() == fileName) {
            d->pickItem(item); // picked again: read again
            return true;
        }
    }
    return false;
}

QStringList WorkingZonePanel::volumeRoots() const {
    QStringList roots;
    for (int i = 0; i < d->drive1->count(); ++i)
        roots << d->drive1->itemData(i).toString();
    return roots;
}

void WorkingZonePanel::setVolumeRoots(const QStringList& roots) {
    d->fillVolumes(roots);
    d->selectVolumeQuietly(d->volumeOf(d->folder));
}

bool WorkingZonePanel::pickVolume(const QString& root) {
    const int index = d->volumeIndex(root);
    if (index < 0)
        return false;
    if (d->drive1->currentIndex() == index)
        d->onVolumePicked(index);
    else
        d->drive1->setCurrentIndex(index); // the list's signal runs the change
    return true;
}

RefSystem WorkingZonePanel::inputSystem() const {
    return d->inputSystem;
}
CoordKind WorkingZonePanel::inputKind() const {
    return d->inputKind;
}

} // namespace dormal::ui
