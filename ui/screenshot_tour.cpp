#include "ui/screenshot_tour.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QRadioButton>

#include "conversion/selection_words.h"
#include "geodesy/angles.h"
#include "ui/coordinate_fields.h"
#include "ui/main_window.h"
#include "ui/secondary_windows.h"
#include "ui/selection_binder.h"
#include "ui/working_zone_panel.h"

namespace dormal::ui {

namespace {

void settle() {
    for (int i = 0; i < 5; ++i)
        QApplication::processEvents();
}

} // namespace

QStringList runScreenshotTour(MainWindow& window, const QString& folder) {
    QStringList written;
    QDir().mkpath(folder);
    const QDir dir(folder);
    auto shoot = [&](QWidget* w, const QString& name) {
        settle();
        const QString path = dir.filePath(name);
        if (w->grab().save(path))
            written << path;
    };

    window.show();
    shoot(&window, QStringLiteral("main-startup.png"));

    // A grid portion of the working folder, and a point in its middle converted from ETRF89
    // geographic to ROMA40 Gauss-Boaga with heights.
    SelectionBinder& rules = window.rules();
    const QStringList grids =
        QDir(window.workingZone()->currentFolder())
            .entryList({QStringLiteral("*.GK?"), QStringLiteral("*.gk?")}, QDir::Files, QDir::Name);
    if (!grids.isEmpty() && window.workingZone()->pickFile(grids.constFirst())) {
        shoot(&window, QStringLiteral("main-zone.png"));
        const ZoneLimits& l = window.workingZone()->limits();
        rules.setPosition(7, positionOf(kindList(), CoordKind::Plane));
        if (auto* check1 = window.findChild<QCheckBox*>(QStringLiteral("Check1")))
            check1->setChecked(true);
        window.fields().enterText(FieldRef::First,
                                  QString::number(degreesToSexagesimal((l.south + l.north) / 2), 'f', 8));
        window.fields().enterText(FieldRef::Second,
                                  QString::number(degreesToSexagesimal((l.west + l.east) / 2), 'f', 8));
        window.fields().enterText(FieldRef::Height, QStringLiteral("250.000"));
        window.execute();
        shoot(&window, QStringLiteral("main-converted.png"));
    }

    // The same window enlarged to 1600 x 1000 (logical pixels): the working zone takes the room.
    const QSize compact = window.size();
    window.resize(1600, 1000);
    shoot(&window, QStringLiteral("main-enlarged.png"));
    window.resize(compact);

    // ROMA40 plane to ETRF2000 plane with heights, a point typed.
    rules.setPosition(1, positionOf(systemList(), RefSystem::Roma40));
    rules.setPosition(2, positionOf(kindList(), CoordKind::Plane));
    rules.setPosition(6, positionOf(systemList(), RefSystem::Etrf2000));
    rules.setPosition(7, positionOf(kindList(), CoordKind::Plane));
    if (auto* check1 = window.findChild<QCheckBox*>(QStringLiteral("Check1")))
        check1->setChecked(true);
    window.fields().enterText(FieldRef::First, QStringLiteral("4850123.4567"));
    window.fields().enterText(FieldRef::Second, QStringLiteral("1520321.25"));
    window.fields().enterText(FieldRef::Height, QStringLiteral("123.4"));
    shoot(&window, QStringLiteral("main-plane-heights.png"));

    // ETRF89 in Fuso Italia to ED50 geographic.
    rules.setPosition(1, positionOf(systemList(), RefSystem::Etrf89));
    rules.setPosition(5, 3);
    rules.setPosition(6, positionOf(systemList(), RefSystem::Ed50));
    rules.setPosition(7, positionOf(kindList(), CoordKind::Geographic));
    shoot(&window, QStringLiteral("main-fuso-italia.png"));

    // Data-file mode.
    if (auto* file = window.findChild<QRadioButton*>(QStringLiteral("Option3_1")))
        file->setChecked(true);
    shoot(&window, QStringLiteral("main-file-mode.png"));

    SecondaryWindows& secondary = window.secondaryWindows();
    shoot(secondary.showInformation(), QStringLiteral("information.png"));
    shoot(secondary.showExample(DataFileType::Ascii), QStringLiteral("example-ascii.png"));
    shoot(secondary.showExample(DataFileType::Excel), QStringLiteral("example-excel.png"));
    secondary.closeAll();
    settle();
    return written;
}

} // namespace dormal::ui
