#pragma once
// Fixtures of the working-zone, file-choice and run tests: an application object, a
// dialog fake that records what was shown, and small grid portions written as text.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <cstdio>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "grid/grid_portion.h"
#include "conversion/message.h"
#include "ui/dialogs.h"

namespace wz {

// One QApplication for the whole program (the shared test support may have made it already).
inline void ensureApplication() {
    if (QApplication::instance() != nullptr)
        return;
    static int argc = 1;
    static char name[] = "dormal2k-ui-test";
    static char* argv[] = {name, nullptr};
    new QApplication(argc, argv);
}

// Every box shown, as "title|icon|line1\nline2"; file dialogs answered from queues.
class WzFakeDialogs final : public dormal::ui::UserDialogs {
public:
    std::vector<dormal::Message> shown;
    std::vector<std::string>* log = nullptr; // shared event log, when a test wants the order
    std::deque<QString> openAnswers, saveAnswers;
    QStringList openFilters, saveFilters;
    std::function<void()> onShow; // what the user does while a box is up, when a test says

    void showMessage(QWidget*, const dormal::Message& m) override {
        shown.push_back(m);
        if (log != nullptr)
            log->push_back("msg:" + dormal::joinedText(m));
        if (onShow)
            onShow();
    }
    QString openFileName(QWidget*, const QString& filter) override {
        openFilters << filter;
        if (openAnswers.empty())
            return {};
        QString a = openAnswers.front();
        openAnswers.pop_front();
        return a;
    }
    QString saveFileName(QWidget*, const QString& filter) override {
        saveFilters << filter;
        if (saveAnswers.empty())
            return {};
        QString a = saveAnswers.front();
        saveAnswers.pop_front();
        return a;
    }
    std::vector<std::string> texts() const {
        std::vector<std::string> out;
        for (const dormal::Message& m : shown)
            out.push_back(dormal::joinedText(m));
        return out;
    }
};

// A grid portion to write: origins in decimal degrees; constant shift values of a plausible
// size (seconds of arc, metres).
struct PortionFile {
    dormal::PortionKind kind = dormal::PortionKind::Vertex;
    double planLat = 0, planLon = 0;
    double geoidLat = 0, geoidLon = 0;
    int globalGeoid = 0;
    int extraValues = 0; // values added to the geoid array: a damaged file
    std::string roEdEpoch = "1995", roE89Epoch = "IGM95 (2004)", e2000Epoch = "ETRF2000 (2008)",
                geoidEpoch = "ITALGEO2005";
};

inline std::string number(double v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.17g", v); // reads back to the same double
    std::string s(buf);
    for (char& c : s)
        if (c == ',')
            c = '.'; // whatever the C locale of the test run
    return s;
}

inline std::string portionText(const PortionFile& p) {
    const bool vertex = p.kind == dormal::PortionKind::Vertex;
    const int n = vertex ? 16 : 36;
    const int m = (vertex ? 80 : 140) + p.extraValues;
    std::string t;
    auto values = [&](int count, double v) {
        for (int i = 0; i < count; ++i)
            t += number(v) + (i + 1 < count ? "," : "\n");
    };
    t += vertex ? "\"PUNTO\"\n" : "\"FOGLIO\"\n";
    t += "\"TAG\"\n\"ROMA40-ED50\"\n\"" + p.roEdEpoch + "\"\n";
    values(n, 5.0); // about 5" north
    values(n, 2.5); // about 2.5" east
    t += "\"ROMA40-ETRF89\"\n\"" + p.roE89Epoch + "\"\n";
    values(n, 2.35);
    values(n, -0.65);
    t += number(p.planLat) + "," + number(p.planLon) + "\n";
    t += "\"ETRF89-ETRF2000\"\n\"" + p.e2000Epoch + "\"\n";
    values(n, 0.0003);
    values(n, -0.0002);
    values(n, 0.02);
    t += number(p.planLat) + "," + number(p.planLon) + "\n";
    t += "\"GEOIDE\"\n\"" + p.geoidEpoch + "\"\n";
    values(m, 45.0);
    t += number(p.geoidLat) + "," + number(p.geoidLon) + "\n";
    t += std::to_string(p.globalGeoid) + "\n-11.99\n";
    return t;
}

inline void writeFile(const QString& path, const std::string& text) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
        return;
    f.write(text.data(), static_cast<qint64>(text.size()));
}

// sexagesimal degrees, minutes, seconds -> decimal degrees
inline double dms(double d, double m, double s) {
    return d + m / 60.0 + s / 3600.0;
}

// The vertex portion of the tests: ROMA40 grids from 45°00' N, 11°30' E; geoid grid from
// 45°00'30" N, 11°32' E. Limits: south 45°00'35", north 45°14'25", west 11°32'05",
// east 11°49'55"; zone 32.
inline PortionFile vertexPortion() {
    PortionFile p;
    p.kind = dormal::PortionKind::Vertex;
    p.planLat = 45.0;
    p.planLon = 11.5;
    p.geoidLat = dms(45, 0, 30);
    p.geoidLon = dms(11, 32, 0);
    return p;
}

// The map-sheet portion: ROMA40 grids from 40°30' N, 16°15' E; geoid grid from 40°33' N,
// 16°20' E. Limits: south 40°33'05", north 40°50'55", west 16°20'05", east 16°45'55"; zone 33.
inline PortionFile sheetPortion() {
    PortionFile p;
    p.kind = dormal::PortionKind::Sheet;
    p.planLat = 40.5;
    p.planLon = 16.25;
    p.geoidLat = dms(40, 33, 0);
    p.geoidLon = dms(16, 20, 0);
    p.roEdEpoch = "ED50 1996";
    return p;
}

} // namespace wz
