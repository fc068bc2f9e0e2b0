#pragma once
// The working zone ("Zona di lavoro", Frame5): volume, folder and grid-file lists, the
// loaded portion's name, diagram, limits, zone and grid epochs.

#include <QGroupBox>
#include <QStringList>
#include <cstdint>
#include <memory>
#include <optional>

#include "geodesy/systems.h"
#include "grid/grid_portion.h"
#include "grid/portion_set.h"
#include "grid/zone_limits.h"
#include "ui/dialogs.h"

class QComboBox;
class QListWidget;
class QLabel;

namespace dormal::ui {

class WorkingZonePanel : public QGroupBox {
    Q_OBJECT
public:
    // objectName "Frame5", title "Zona di lavoro". Starts in `startFolder`.
    WorkingZonePanel(UserDialogs& dialogs, const QString& startFolder, QWidget* parent = nullptr);
    ~WorkingZonePanel() override;
    Q_DISABLE_COPY_MOVE(WorkingZonePanel)

    // The loaded portion (null when none: window start, failed read).
    const GridPortion* portion() const;
    const ZoneLimits& limits() const;
    // A file is selected in File1 (and, since a failed read clears the selection, loaded).
    bool fileSelected() const;
    // The working set of every portion of the folder, when "Usa tutte le porzioni della
    // cartella" (CheckAllPortions) is ticked and the folder's portions were read; else null.
    // Ticking clears File1's selection and disables it; a folder change reads the set again.
    const PortionSet* portionSet() const;

    // Called by the input-system rule after inputSystem changed: converts the corner
    // coordinates to the new system's convention, then shows or hides the limit labels
    // and fills them for `inputKind`.
    void onInputSystemPicked(RefSystem inputSystem, CoordKind inputKind);
    // Called by the input-kind rule: refills the limit labels for the kind (no corner change).
    void onInputKindPicked(RefSystem inputSystem, CoordKind inputKind);

    // Navigation used by the window's start-up and by tests.
    void openFolder(const QString& folder);
    QString currentFolder() const;
    // Selects `fileName` in File1 as a user's pick would (reads it). False if not listed.
    bool pickFile(const QString& fileName);

    // Volumes offered in Drive1 (their root folders). The list is built from the mounted
    // volumes at construction; tests replace it to offer a volume that cannot be used.
    QStringList volumeRoots() const;
    void setVolumeRoots(const QStringList& roots);
    // Picks a volume in Drive1 as a user's pick would. False if not listed.
    bool pickVolume(const QString& root);
    // The input system and kind the limits are shown for (kept from the two calls above;
    // ETRF89 geographic until the first).
    RefSystem inputSystem() const;
    CoordKind inputKind() const;

signals:
    void portionChanged();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace dormal::ui
