#include "ui/working_zone_panel.h"

namespace dormal::ui {

struct WorkingZonePanel::Impl {
    UserDialogs& dialogs;
    QString folder;
    ZoneLimits limits;
    std::optional<GridPortion> portion;
};

WorkingZonePanel::WorkingZonePanel(UserDialogs& dialogs, const QString& startFolder, QWidget* parent)
    : QGroupBox(QStringLiteral("Zona di lavoro"), parent), d(new Impl{dialogs, startFolder, {}, {}}) {
    setObjectName(QStringLiteral("Frame5"));
}

WorkingZonePanel::~WorkingZonePanel() = default;

const GridPortion* WorkingZonePanel::portion() const { return d->portion ? &*d->portion : nullptr; }
const ZoneLimits& WorkingZonePanel::limits() const { return d->limits; }
bool WorkingZonePanel::fileSelected() const { return false; }
void WorkingZonePanel::onInputSystemPicked(std::int16_t, std::int16_t) {}
void WorkingZonePanel::onInputKindPicked(std::int16_t, std::int16_t) {}
void WorkingZonePanel::openFolder(const QString& folder) { d->folder = folder; }
QString WorkingZonePanel::currentFolder() const { return d->folder; }
bool WorkingZonePanel::pickFile(const QString&) { return false; }

} // namespace dormal::ui
