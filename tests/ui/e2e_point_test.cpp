// One typed point through the whole window against dormal2k-batch: for every ordered pair of
// systems, every item of every zone list on both sides, with and without heights, the window
// is driven as a user drives it (lists, a grid file clicked in File1, typed fields, "Esegui")
// and the output fields must show what the batch converter writes for the same point.

#include <QCheckBox>
#include <QListWidget>
#include <QRegularExpression>
#include <QTest>

#include <gtest/gtest.h>

#include <charconv>
#include <optional>
#include <set>

#include "../cli/cli_support.h"
#include "conversion/selection_words.h"
#include "grid/zone_limits.h"
#include "support_window.h"
#include "tests/support/print_enums.h"
#include "ui/selection_binder.h"
#include "ui/working_zone_panel.h"

namespace {

using namespace dormal;
namespace ct = dormal::clitest;
using uitest::WindowHarness;

const QString kSamplesDir = QStringLiteral(DORMAL2K_SAMPLES_DIR);

// The shipped samples and a point well inside each (ETRF89, gg.ppssdddd).
struct Sample {
    const char* file;
    const char* name;
    bool globalGeoid;
    double lat, lon;
};
const Sample kSamples[] = {
    {"123456.GK1", "123456", false, 45.22301234, 9.11151234}, // zone 32, near Milan
    {"0245.GK2", "0245", false, 42.27304321, 13.33453210},    // zone 33, Abruzzo
    {"654321.GK1", "654321", true, 40.07302468, 18.26151357}, // zone 34, Salento
};

// ---- Reading the digits shown and written ---------------------------------------------

// Plane coordinates and heights in millimetres: "5 012 345,678", "-424 794.633", "56,353".
std::optional<long long> millimetres(QString text, QChar sep) {
    text.remove(QLatin1Char(' '));
    if (text.count(sep) != 1)
        return std::nullopt;
    text.replace(sep, QLatin1Char('.'));
    static const QRegularExpression re(QStringLiteral("^(-?)(\\d+)\\.(\\d{3})$"));
    const QRegularExpressionMatch m = re.match(text);
    if (!m.hasMatch())
        return std::nullopt;
    const long long v = m.captured(2).toLongLong() * 1000 + m.captured(3).toLongLong();
    return m.captured(1).isEmpty() ? v : -v;
}

long long tenThousandths(const QRegularExpressionMatch& m) {
    const long long v =
        ((m.captured(2).toLongLong() * 60 + m.captured(3).toLongLong()) * 60 + m.captured(4).toLongLong()) * 10000 +
        m.captured(5).toLongLong();
    return m.captured(1).isEmpty() ? v : -v;
}

// An angle field "45° 30' 15,1234''" in ten-thousandths of a second of arc.
std::optional<long long> fieldAngle(const QString& text, QChar sep) {
    const QRegularExpression re(QStringLiteral("^\\s*(-?)\\s*(\\d+)\u00b0\\s*(\\d{2})'\\s*(\\d{2})") +
                                QRegularExpression::escape(QString(sep)) + QStringLiteral("(\\d{4})''$"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? std::optional(tenThousandths(m)) : std::nullopt;
}

// A report angle gg.ppssdddd ("45,30151234") in the same unit.
std::optional<long long> reportAngle(const QString& text, QChar sep) {
    const QRegularExpression re(QStringLiteral("^(-?)(\\d+)") + QRegularExpression::escape(QString(sep)) +
                                QStringLiteral("(\\d{2})(\\d{2})(\\d{4})$"));
    const QRegularExpressionMatch m = re.match(text);
    return m.hasMatch() ? std::optional(tenThousandths(m)) : std::nullopt;
}

// The point lines of a report (header lines begin with "/"), split at blanks: a field pushed
// to a new line by a long text before it stays in order.
QStringList reportFields(const std::string& report) {
    QStringList fields;
    for (const QString& line : QString::fromStdString(report).split(QStringLiteral("\r\n"))) {
        if (!line.startsWith(QLatin1Char('/')))
            fields += line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    }
    return fields;
}

std::string fixed(double v, int decimals) {
    char buf[64];
    const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed, decimals);
    return std::string(buf, r.ptr);
}

// ---- The cases ---------------------------------------------------------------------------

// One side of a selection: geographic, or plane with the zone at list position `zonePos`.
struct Side {
    CoordKind kind = CoordKind::Geographic;
    int zonePos = -1;
};

int inputZoneCombo(RefSystem system) {
    return system == RefSystem::Roma40 ? 3 : system == RefSystem::Ed50 ? 4 : 5;
}
int outputZoneCombo(RefSystem system) {
    return system == RefSystem::Roma40 ? 8 : system == RefSystem::Ed50 ? 9 : 10;
}

std::vector<Side> sides(std::span<const ListItem<Zone>> zones) {
    std::vector<Side> out{Side{}};
    for (int i = 0; i < static_cast<int>(zones.size()); ++i)
        out.push_back(Side{CoordKind::Plane, i});
    return out;
}

std::string zoneWord(RefSystem system, Zone zone) {
    switch (zone) {
    case Zone::Auto:
        return "auto";
    case Zone::OvestOr32:
        return system == RefSystem::Roma40 ? "ovest" : "32";
    case Zone::EstOr33:
        return system == RefSystem::Roma40 ? "est" : "33";
    case Zone::Utm34:
        return "34";
    case Zone::Italia:
        break;
    }
    return "italia";
}

const char* systemWord(RefSystem system) {
    return system == RefSystem::Roma40   ? "ROMA40"
           : system == RefSystem::Ed50   ? "ED50"
           : system == RefSystem::Etrf89 ? "ETRF89"
                                         : "ETRF2000";
}

// The zone text the window writes into Text1 for a fixed output zone.
const char* fixedZoneText(RefSystem system, Zone zone) {
    if (system == RefSystem::Roma40)
        return zone == Zone::OvestOr32 ? "Ovest" : "Est";
    return zone == Zone::OvestOr32 ? "32" : zone == Zone::EstOr33 ? "33" : zone == Zone::Utm34 ? "34" : "Italia";
}

struct Case {
    SelectionState sel;
    bool heights = false;
    int sample = 0;
};

// Every ordered pair of systems; within a pair as many cases as the longer of the two side
// lists (at least two where heights can be converted, once with and once without), pairing
// the input items with the output items at an offset that differs from pair to pair (and
// never pairs an item with its like on the same system); then three pairs that need no
// conversion.
std::vector<Case> allCases() {
    std::vector<Case> cases;
    int rotation = 0;
    for (RefSystem in : kAllSystems) {
        for (RefSystem out : kAllSystems) {
            const std::vector<Side> ins = sides(inputZoneList(in));
            const std::vector<Side> outs = sides(outputZoneList(out));
            const bool heightsOk = heightsAllowed(pairEntry(in, out));
            const std::size_t n = std::max({ins.size(), outs.size(), std::size_t{heightsOk ? 2u : 1u}});
            for (std::size_t i = 0; i < n; ++i) {
                const Side a = ins[i % ins.size()];
                const Side b = outs[(i + static_cast<std::size_t>(positionOf(systemList(), in) + (in == out ? 1 : 0))) %
                                    outs.size()];
                Case c;
                c.sel = SelectionState{
                    in,
                    a.kind,
                    a.kind == CoordKind::Plane ? inputZoneList(in)[static_cast<std::size_t>(a.zonePos)].value
                                               : Zone::OvestOr32,
                    out,
                    b.kind,
                    b.kind == CoordKind::Plane ? outputZoneList(out)[static_cast<std::size_t>(b.zonePos)].value
                                               : Zone::Auto};
                c.heights = heightsOk && i % 2 == 1;
                // A fixed input zone takes the sample that lies in it, so its plane
                // coordinates are in range; other choices go round the three samples.
                const bool fixedZone =
                    a.kind == CoordKind::Plane && c.sel.inputZone != Zone::Auto && c.sel.inputZone != Zone::Italia;
                if (fixedZone && in == RefSystem::Roma40)
                    c.sample = c.sel.inputZone == Zone::OvestOr32 ? 0 : 1 + rotation % 2;
                else if (fixedZone)
                    c.sample = zoneNumber(c.sel.inputZone) - 1;
                else
                    c.sample = rotation % 3;
                ++rotation;
                cases.push_back(c);
            }
        }
    }
    // Nothing to convert: both refuse alike.
    cases.push_back(Case{SelectionState{RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32, RefSystem::Etrf89,
                                        CoordKind::Geographic, Zone::Auto},
                         false, 0});
    cases.push_back(Case{SelectionState{RefSystem::Roma40, CoordKind::Plane, Zone::Auto, RefSystem::Roma40,
                                        CoordKind::Plane, Zone::Auto},
                         false, 1});
    cases.push_back(Case{SelectionState{RefSystem::Ed50, CoordKind::Plane, Zone::EstOr33, RefSystem::Ed50,
                                        CoordKind::Plane, Zone::EstOr33},
                         false, 1});
    return cases;
}

// The sample's point as typed on the case's input side: converted from ETRF89 by the
// library (the window and the batch converter then both start from the same text).
struct Typed {
    std::string first, second, height;
};

Typed typedPoint(const Case& c, const GridPortion& portion) {
    const Sample& s = kSamples[c.sample];
    const SelectionState& sel = c.sel;
    if (sel.inputSystem == RefSystem::Etrf89 && sel.inputKind == CoordKind::Geographic)
        return {fixed(s.lat, 8), fixed(s.lon, 8), "250.000"};
    ConversionContext ctx;
    ctx.sel = SelectionState{RefSystem::Etrf89, CoordKind::Geographic, Zone::OvestOr32,
                             sel.inputSystem,   sel.inputKind,         sel.inputZone};
    ctx.heights = sel.inputSystem != RefSystem::Etrf89;
    const ZoneLimits limits = computeZoneLimits(portion, RefSystem::Etrf89);
    ctx.portion = &portion;
    ctx.limits = &limits;
    const PointResult r = convertPoint(ctx, PointInput{s.lat, s.lon, 250.0}, RunKind::Batch);
    EXPECT_EQ(r.status, PointStatus::Converted);
    const int decimals = sel.inputKind == CoordKind::Plane ? 3 : 8;
    return {fixed(r.outFirst, decimals), fixed(r.outSecond, decimals), fixed(ctx.heights ? r.outHeight : 250.0, 3)};
}

// ---- Driving the window ----------------------------------------------------------------

// Picks the case's selection through the lists and Check1, then checks the state it left.
void select(WindowHarness& h, const Case& c) {
    const SelectionState& s = c.sel;
    h.pick(1, s.inputSystem);
    h.pick(2, s.inputKind);
    if (s.inputKind == CoordKind::Plane) {
        const auto list = inputZoneList(s.inputSystem);
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].value == s.inputZone)
                h.pick(inputZoneCombo(s.inputSystem), static_cast<int>(i));
    }
    h.pick(6, s.outputSystem);
    h.pick(7, s.outputKind);
    if (s.outputKind == CoordKind::Plane) {
        const auto list = outputZoneList(s.outputSystem);
        for (std::size_t i = 0; i < list.size(); ++i)
            if (list[i].value == s.outputZone)
                h.pick(outputZoneCombo(s.outputSystem), static_cast<int>(i));
    }
    auto* check1 = h.find<QCheckBox>("Check1");
    ASSERT_EQ(check1->isEnabled(), heightsAllowed(pairEntry(s.inputSystem, s.outputSystem)));
    if (check1->isChecked() != c.heights)
        h.click("Check1");
    ASSERT_EQ(check1->isChecked(), c.heights);
    const SelectionState& now = h.window().rules().state();
    ASSERT_EQ(now.inputSystem, s.inputSystem);
    ASSERT_EQ(now.inputKind, s.inputKind);
    if (s.inputKind == CoordKind::Plane) {
        ASSERT_EQ(now.inputZone, s.inputZone);
    }
    ASSERT_EQ(now.outputSystem, s.outputSystem);
    ASSERT_EQ(now.outputKind, s.outputKind);
    if (s.outputKind == CoordKind::Plane) {
        ASSERT_EQ(now.outputZone, s.outputZone);
    }
}

// Clicks a grid file in File1 of the sample folder, as a user picks it.
void clickGridFile(WindowHarness& h, const Sample& s) {
    ASSERT_TRUE(h.shown("Frame5"));
    if (h.window().workingZone()->fileSelected() && h.text("Label13") == QLatin1String(s.name))
        return;
    if (h.window().workingZone()->currentFolder() != kSamplesDir)
        h.window().workingZone()->openFolder(kSamplesDir);
    auto* list = h.find<QListWidget>("File1");
    const QList<QListWidgetItem*> found = list->findItems(QLatin1String(s.file), Qt::MatchExactly);
    ASSERT_EQ(found.size(), 1) << s.file;
    list->scrollToItem(found.front());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(found.front()).center());
    ASSERT_EQ(h.text("Label13"), QLatin1String(s.name));
}

// Types into the edit field that has the focus, or clicks its display field first, then Enter.
void enter(WindowHarness& h, const char* display, const char* edit, const std::string& text) {
    QLineEdit* e = h.field(edit);
    if (e->isVisible() && e->hasFocus()) {
        e->selectAll();
        QTest::keyClick(e, Qt::Key_Delete);
        QTest::keyClicks(e, QString::fromStdString(text));
    } else {
        h.typeInto(display, edit, QString::fromStdString(text));
    }
    QTest::keyClick(e, Qt::Key_Return);
}

void typePoint(WindowHarness& h, const Typed& t, bool heights) {
    enter(h, "Text2", "Text3", t.first);
    enter(h, "Text4", "Text5", t.second);
    if (heights)
        enter(h, "Text6", "Text7", t.height);
}

// ---- The batch converter ---------------------------------------------------------------

std::vector<std::string> batchArguments(const Case& c, QChar sep) {
    const SelectionState& s = c.sel;
    std::vector<std::string> args{"--from", systemWord(s.inputSystem), "--to", systemWord(s.outputSystem)};
    if (s.inputKind == CoordKind::Plane)
        args.insert(args.end(), {"--from-kind", "plane", "--from-zone", zoneWord(s.inputSystem, s.inputZone)});
    if (s.outputKind == CoordKind::Plane)
        args.insert(args.end(), {"--to-kind", "plane", "--to-zone", zoneWord(s.outputSystem, s.outputZone)});
    if (c.heights)
        args.emplace_back("--heights");
    if (s.inputSystem != s.outputSystem)
        args.insert(
            args.end(),
            {"--grid", (kSamplesDir + QLatin1Char('/') + QLatin1String(kSamples[c.sample].file)).toStdString()});
    args.insert(args.end(), {"--type", "ascii", "--decimal-separator", std::string(1, sep.toLatin1())});
    return args;
}

std::string describe(const Case& c) {
    const SelectionState& s = c.sel;
    std::string d = std::string(systemWord(s.inputSystem)) +
                    (s.inputKind == CoordKind::Plane ? " plane " + zoneWord(s.inputSystem, s.inputZone) : " geo") +
                    " -> " + systemWord(s.outputSystem) +
                    (s.outputKind == CoordKind::Plane ? " plane " + zoneWord(s.outputSystem, s.outputZone) : " geo");
    return d + (c.heights ? ", heights" : "") + ", sample " + kSamples[c.sample].file;
}

constexpr const char* kOtherZoneInput = "IL PUNTO IN CALCOLO APPARTIENE AD UN FUSO DIVERSO";
constexpr const char* kMismatch = "E' STATA RICHIESTA LA PROIEZIONE DEL PUNTO";
constexpr const char* kGlobalNote = "ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE";

// What was covered: converted items of each list (by combo and position), pairs of systems,
// and pairs converted with and without heights.
struct Coverage {
    std::set<std::pair<int, int>> items;
    std::set<std::pair<RefSystem, RefSystem>> pairs;
    std::set<std::tuple<RefSystem, RefSystem, bool>> heightPairs;
};

void runCase(WindowHarness& h, const Case& c, const ct::ScratchDir& scratch, Coverage& cov) {
    const Sample& sample = kSamples[c.sample];
    const QChar sep = h.window().runInputs().decimalSeparator;
    const SelectionState& s = c.sel;
    const bool sameSystem = s.inputSystem == s.outputSystem;
    const bool refused = sameSystem && s.inputKind == s.outputKind &&
                         (s.inputKind == CoordKind::Geographic || s.inputZone == s.outputZone);

    const GridLoadResult loaded = loadGridPortion(DORMAL2K_SAMPLES_DIR, sample.file);
    ASSERT_TRUE(loaded.ok());
    const Typed typed = typedPoint(c, *loaded.portion);

    select(h, c);
    if (!sameSystem)
        clickGridFile(h, sample);
    if (::testing::Test::HasFatalFailure())
        return;
    typePoint(h, typed, c.heights);
    h.dialogs().messages.clear();
    h.click("Command1");
    std::vector<std::string> shown;
    for (const Message& m : h.dialogs().messages)
        shown.push_back(joinedText(m));

    const std::string data = scratch.file("punto.txt");
    ct::writeWholeFile(data, "P1 " + typed.first + " " + typed.second + (c.heights ? " " + typed.height : "") + "\n");
    std::vector<std::string> args = batchArguments(c, sep);
    args.insert(args.end(), {data, "-"});
    const ct::ProcessResult batch = ct::runBatchExe(args);

    if (refused) {
        EXPECT_EQ(shown, std::vector<std::string>{"TRASFORMAZIONE NON NECESSARIA"});
        EXPECT_EQ(batch.exitCode, 1);
        EXPECT_EQ(batch.err, "TRASFORMAZIONE NON NECESSARIA\n");
        return;
    }
    // 3: completed, with the point outside the grid.
    ASSERT_TRUE(batch.exitCode == 0 || batch.exitCode == 3) << batch.err;
    if (!sameSystem) {
        EXPECT_NE(batch.err.find("FUORI DALLA GRIGLIA:  0\n"), std::string::npos) << batch.err;
    }

    // The window's boxes: only the warnings and the global-geoid note, in this order.
    std::size_t at = 0;
    const bool otherZone = at < shown.size() && shown[at].starts_with(kOtherZoneInput);
    at += otherZone ? 1 : 0;
    const bool mismatch = at < shown.size() && shown[at].starts_with(kMismatch);
    at += mismatch ? 1 : 0;
    const bool note = at < shown.size() && shown[at] == kGlobalNote;
    at += note ? 1 : 0;
    EXPECT_EQ(at, shown.size()) << "unexpected box: " << (at < shown.size() ? shown[at] : "");
    EXPECT_EQ(note, c.heights && sample.globalGeoid);
    EXPECT_FALSE(otherZone && s.inputKind == CoordKind::Geographic);

    // Report fields: name, two input values, [input height], two outputs, [height], [zone].
    const int layout = s.outputKind == CoordKind::Geographic || s.outputZone == Zone::Italia ? 0
                       : s.outputZone == Zone::Auto                                          ? 2
                                                                                             : 1;
    const QStringList f = reportFields(batch.out);
    const qsizetype expectedCount = 5 + (c.heights ? 2 : 0) + (layout != 0 ? 1 : 0);
    ASSERT_EQ(f.size(), expectedCount) << batch.out;
    const qsizetype out1 = c.heights ? 4 : 3;
    const auto same = [&](const char* field, const QString& report, bool angle) {
        const QString shownText = h.text(field);
        const auto a = angle ? fieldAngle(shownText, sep) : millimetres(shownText, sep);
        const auto b = angle ? reportAngle(report, sep) : millimetres(report, sep);
        ASSERT_TRUE(a.has_value()) << field << " shows \"" << shownText.toStdString() << "\"";
        ASSERT_TRUE(b.has_value()) << "report writes \"" << report.toStdString() << "\"";
        EXPECT_EQ(*a, *b) << field << " \"" << shownText.toStdString() << "\", report \"" << report.toStdString()
                          << "\"";
    };
    const bool geo = s.outputKind == CoordKind::Geographic;
    same("Text8", f[out1], geo);
    same("Text9", f[out1 + 1], geo);
    if (c.heights) {
        same("Text10", f[out1 + 2], false);
    } else {
        EXPECT_TRUE(h.text("Text10").isEmpty());
    }

    if (geo) {
        EXPECT_TRUE(h.text("Text1").isEmpty());
    } else if (layout == 0) {
        EXPECT_EQ(h.text("Text1"), QStringLiteral("Italia"));
    } else if (layout == 2) {
        EXPECT_EQ(h.text("Text1"), f.back());
    } else {
        EXPECT_EQ(h.text("Text1"), QLatin1String(fixedZoneText(s.outputSystem, s.outputZone)));
    }
    // The single point chooses the mismatch rules by the input system, the batch by the
    // output system: where both choose the same rules, the warning and "Altro" go together.
    if (layout == 1 && (s.inputSystem == RefSystem::Roma40) == (s.outputSystem == RefSystem::Roma40)) {
        EXPECT_EQ(mismatch, f.back() == QLatin1String("Altro")) << "report zone " << f.back().toStdString();
    }
    if (layout != 1) {
        EXPECT_FALSE(mismatch);
    }

    cov.items.insert({2, positionOf(kindList(), s.inputKind)});
    cov.items.insert({7, positionOf(kindList(), s.outputKind)});
    if (s.inputKind == CoordKind::Plane)
        cov.items.insert({inputZoneCombo(s.inputSystem), h.combo(inputZoneCombo(s.inputSystem))->currentIndex()});
    if (s.outputKind == CoordKind::Plane)
        cov.items.insert({outputZoneCombo(s.outputSystem), h.combo(outputZoneCombo(s.outputSystem))->currentIndex()});
    cov.pairs.insert({s.inputSystem, s.outputSystem});
    cov.heightPairs.insert({s.inputSystem, s.outputSystem, c.heights});
}

TEST(EndToEndPoint, EveryPairAndListItemMatchesTheBatchConverter) {
    ASSERT_TRUE(std::filesystem::exists(ct::batchExe())) << "build dormal2k-batch first: " << ct::batchExe();
    const std::vector<Case> cases = allCases();
    ct::ScratchDir scratch;
    Coverage cov;
    // One window for each input system: the picks of one case follow those of the one before.
    std::unique_ptr<WindowHarness> h;
    std::optional<RefSystem> windowFor;
    for (const Case& c : cases) {
        SCOPED_TRACE(describe(c));
        if (c.sel.inputSystem != windowFor) {
            h.reset();
            h = std::make_unique<WindowHarness>();
            windowFor = c.sel.inputSystem;
        }
        runCase(*h, c, scratch, cov);
    }
    std::cout << "[          ] " << cases.size() << " typed points compared with dormal2k-batch\n";

    // The table covers every list item on both sides, every ordered pair of systems, and
    // each pair that converts heights both with and without them.
    for (int combo : {3, 4, 5, 8, 9, 10}) {
        const int count = h->combo(combo)->count();
        for (int i = 0; i < count; ++i) {
            EXPECT_TRUE(cov.items.count({combo, i})) << "Combo" << combo << " item " << i << " never converted";
        }
    }
    for (int combo : {2, 7}) {
        for (CoordKind kind : {CoordKind::Geographic, CoordKind::Plane}) {
            EXPECT_TRUE(cov.items.count({combo, positionOf(kindList(), kind)})) << "Combo" << combo << " kind " << kind;
        }
    }
    for (RefSystem in : kAllSystems) {
        for (RefSystem out : kAllSystems) {
            EXPECT_TRUE(cov.pairs.count({in, out})) << "pair " << in << " -> " << out;
            if (heightsAllowed(pairEntry(in, out))) {
                EXPECT_TRUE(cov.heightPairs.count({in, out, true})) << "pair with heights " << in << " -> " << out;
                EXPECT_TRUE(cov.heightPairs.count({in, out, false})) << "pair without heights " << in << " -> " << out;
            }
        }
    }
}

} // namespace
