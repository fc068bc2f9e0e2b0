#pragma once
// Pictures of the windows for the manual: the main window after start-up and after a few
// picks, and the secondary windows, each grabbed from the program's own drawing into PNG
// files. Run by the program dormal2k-screenshots.

#include <QString>
#include <QStringList>

namespace dormal::ui {

class MainWindow;

// Writes the pictures into `folder` (created if missing); returns the files written.
QStringList runScreenshotTour(MainWindow& window, const QString& folder);

} // namespace dormal::ui
