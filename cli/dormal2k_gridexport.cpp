// dormal2k-gridexport: writes the grids of one grid portion, or of a working set, in the
// formats PROJ and QGIS read (NTv2 and GeoTIFF), with the PROJ pipelines that convert as
// dormal2k-batch does.
//
// Exit status: 0 every file written; 1 the portions could not be read or a file could not
// be written (message on standard error); 2 the command line is wrong.

#include <clocale>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "conversion/grid_export.h"
#include "conversion/grid_messages.h"
#include "grid/portion_set.h"

#ifndef DORMAL2K_VERSION
#define DORMAL2K_VERSION "0"
#endif

namespace {

using namespace dormal;

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

constexpr const char* kUsage = "uso: dormal2k-gridexport [--grid FILE]... [--grid-dir CARTELLA]... --out CARTELLA\n"
                               "                         [--plane] [--zone ZONA]... [--roma40-monte-mario]\n"
                               "       dormal2k-gridexport --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Esporta le griglie di una porzione, o di piu' porzioni usate insieme, nei formati che\n"
    "leggono PROJ e QGIS, con le pipeline PROJ che convertono come dormal2k-batch.\n"
    "\n"
    "  --grid FILE             file di porzione di griglia (*.GK?). Ripetuto, usa tutte le\n"
    "                          porzioni indicate insieme, nell'ordine dato\n"
    "  --grid-dir CARTELLA     usa insieme tutte le porzioni della cartella (*.GK?, in ordine\n"
    "                          di nome), dopo gli eventuali --grid; come dormal2k-batch\n"
    "  --out CARTELLA          cartella dei file esportati (creata se manca; obbligatoria)\n"
    "  --plane                 aggiunge le pipeline da e verso le coordinate piane, per ogni\n"
    "                          fuso di ciascun sistema\n"
    "  --zone ZONA             con --plane, solo questi fusi (ripetibile): ovest o 32, est o\n"
    "                          33 (la stessa scelta: Gauss-Boaga per ROMA40, UTM per gli\n"
    "                          altri), 34, italia\n"
    "  --roma40-monte-mario    longitudini geografiche ROMA40 da Monte Mario, come le legge e\n"
    "                          le scrive dormal2k-batch; senza, da Greenwich come in PROJ\n"
    "                          (EPSG:4265)\n"
    "  --help                  questo testo\n"
    "  --version               la versione del programma\n"
    "\n"
    "File scritti nella cartella:\n"
    "  dormal2k_roma40_ed50.gsb        ROMA40 -> ED50 (NTv2)\n"
    "  dormal2k_roma40_etrf89.gsb      ROMA40 -> ETRF89 (NTv2)\n"
    "  dormal2k_etrf89_etrf2000.gsb    ETRF89 -> ETRF2000 (NTv2)\n"
    "  dormal2k_geoide_NNN_NOME.tif    ondulazione del geoide, una per porzione (GeoTIFF)\n"
    "  dormal2k_etrf89_etrf2000_h_NNN_NOME.tif\n"
    "                                  differenza di quota ellissoidica ETRF89 -> ETRF2000\n"
    "  pipelines.txt                   una pipeline PROJ per coppia di sistemi, nella forma\n"
    "                                  \"DA>A pipeline\", per esempio \"ROMA40:geo>ETRF2000:geo ...\",\n"
    "                                  sulle colonne Nord Est (latitudine longitudine) per cct\n"
    "  pipelines_qgis.txt              le stesse in ordine x,y (Est Nord, longitudine\n"
    "                                  latitudine, ROMA40 da Greenwich) per QGIS e GDAL, con i\n"
    "                                  codici EPSG dei sistemi\n"
    "  dormal2k_esportazione.txt       l'elenco dei file dell'esportazione\n"
    "Oltre 1023 porzioni ogni griglia NTv2 continua in altri file (..._2.gsb, ..._3.gsb),\n"
    "elencati in ordine nelle pipeline.\n"
    "\n"
    "L'esportazione si scrive prima in una cartella di lavoro (.dormal2k-esportazione-...)\n"
    "dentro la cartella indicata e i file si spostano al loro posto solo quando sono tutti\n"
    "scritti: se qualcosa non riesce, o il programma viene interrotto (Ctrl-C, SIGTERM,\n"
    "SIGHUP), la cartella resta com'era. Una nuova esportazione rimuove i file elencati in\n"
    "dormal2k_esportazione.txt che non riscrive; gli altri file della cartella non li tocca.\n"
    "\n"
    "Nei file NTv2 ogni porzione e' una sotto-griglia di primo livello, nell'ordine delle\n"
    "porzioni, e le griglie GeoTIFF sono elencate nello stesso ordine: dove due porzioni si\n"
    "sovrappongono PROJ usa la prima, come dormal2k-batch. PROJ sceglie pero' la porzione a\n"
    "ogni passo, dalla posizione del punto in quel passo, mentre dormal2k-batch ne sceglie\n"
    "una per punto: nelle sovrapposizioni i risultati differiscono al piu' di quanto\n"
    "riporta dormal2k-batch --check-set. PROJ rifiuta i punti fuori dalle griglie usate\n"
    "dalla pipeline (\"Coordinate to transform falls outside grid\"); dormal2k-batch\n"
    "rifiuta gia' i punti a meno di 5\" dai nodi esterni.\n"
    "\n"
    "Uso con PROJ (cct) e QGIS:\n"
    "  dormal2k-gridexport --grid-dir griglie --out export\n"
    "  echo 42.4 13.5 100 | PROJ_DATA=export:/usr/share/proj \\\n"
    "    cct -d 9 $(sed -n 's/^ROMA40:geo>ETRF2000:geo //p' export/pipelines.txt)\n"
    "In QGIS: i file .gsb e .tif nella cartella proj del profilo (per esempio\n"
    "~/.local/share/QGIS/QGIS3/profiles/default/proj) e, dalla console Python, la riga della\n"
    "coppia di pipelines_qgis.txt (non di pipelines.txt, che ha l'ordine Nord Est) come\n"
    "trasformazione del progetto tra i due codici EPSG (addCoordinateOperation sul\n"
    "transformContext del progetto; le righe da incollare sono nel README, \"Grid portions\n"
    "for PROJ and QGIS\").\n"
    "\n"
    "Le porzioni di griglia di esempio della cartella data/samples sono SINTETICHE: le griglie\n"
    "esportate da esse non valgono per lavori reali.\n"
    "\n"
    "Stato di uscita:\n"
    "  0  tutti i file scritti\n"
    "  1  porzioni illeggibili o file non scritti (con il messaggio; la cartella resta\n"
    "     com'era)\n"
    "  2  errore nella riga di comando\n";

struct UsageError {
    std::string reason;
};

struct Options {
    std::vector<std::string> grids;
    std::vector<std::string> gridDirs;
    std::optional<std::string> out;
    bool plane = false;
    std::vector<Zone> zones;
    bool monteMario = false;
    bool help = false;
    bool version = false;
};

Zone zoneFromWord(const std::string& w) {
    std::string l;
    for (char c : w) {
        l += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
    }
    if (l == "ovest" || l == "32") {
        return Zone::OvestOr32;
    }
    if (l == "est" || l == "33") {
        return Zone::EstOr33;
    }
    if (l == "34") {
        return Zone::Utm34;
    }
    if (l == "italia") {
        return Zone::Italia;
    }
    throw UsageError{"fuso sconosciuto \"" + w + "\""};
}

Options parseArguments(int argc, char** argv) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            o.help = true;
            continue;
        }
        if (arg == "--version") {
            o.version = true;
            continue;
        }
        if (arg == "--plane") {
            o.plane = true;
            continue;
        }
        if (arg == "--roma40-monte-mario") {
            o.monteMario = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        if (name != "--grid" && name != "--grid-dir" && name != "--out" && name != "--zone") {
            throw UsageError{arg.substr(0, 1) == "-" ? "opzione sconosciuta \"" + std::string(arg) + "\""
                                                     : "argomento in piu' \"" + std::string(arg) + "\""};
        }
        std::string value;
        if (eq != std::string_view::npos) {
            value = std::string(arg.substr(eq + 1));
        } else if (i + 1 < argc) {
            value = argv[++i];
        } else {
            throw UsageError{std::string(name) + " richiede un valore"};
        }
        if (value.empty()) {
            throw UsageError{std::string(name) + ": valore vuoto"};
        }
        if (name == "--grid") {
            o.grids.push_back(value);
        } else if (name == "--grid-dir") {
            o.gridDirs.push_back(value);
        } else if (name == "--zone") {
            o.zones.push_back(zoneFromWord(value));
        } else {
            if (o.out) {
                throw UsageError{"--out indicato piu' volte"};
            }
            o.out = value;
        }
    }
    if (!o.help && !o.version) {
        if (o.grids.empty() && o.gridDirs.empty()) {
            throw UsageError{"servono --grid o --grid-dir"};
        }
        if (!o.out) {
            throw UsageError{"manca --out (cartella dei file esportati)"};
        }
        if (!o.zones.empty() && !o.plane) {
            throw UsageError{"--zone vale solo con --plane"};
        }
    }
    return o;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    std::setlocale(LC_NUMERIC, "C"); // numbers in the pipelines with "." whatever the locale
    Options o;
    try {
        o = parseArguments(argc, argv);
    } catch (const UsageError& e) {
        std::cerr << "dormal2k-gridexport: " << e.reason << "\n\n"
                  << kUsage << "Per i dettagli: dormal2k-gridexport --help\n";
        return kExitUsage;
    }
    if (o.help) {
        std::cout << kUsage << kHelp;
        return kExitDone;
    }
    if (o.version) {
        std::cout << "dormal2k-gridexport " << DORMAL2K_VERSION << '\n';
        return kExitDone;
    }

    const PortionSetLoad load = loadPortionSet(o.grids, o.gridDirs);
    if (!load.ok()) {
        std::cerr << joinedText(portionSetMessage(*load.error)) << '\n';
        return kExitFailed;
    }
    std::error_code ec;
    std::filesystem::create_directories(*o.out, ec);
    if (ec || !std::filesystem::is_directory(*o.out)) {
        std::cerr << "IMPOSSIBILE CREARE LA CARTELLA " << *o.out << '\n';
        return kExitFailed;
    }
    // North East columns for cct; pipelines_qgis.txt (x,y, ROMA40 from Greenwich whatever
    // --roma40-monte-mario says) comes with every export.
    PipelineOptions popt;
    popt.roma40FromMonteMario = o.monteMario;
    const GridExportResult r = writeExport(load.set, *o.out, pipelineEnds(o.plane, o.zones), popt);
    if (!r.ok()) {
        std::cerr << "ESPORTAZIONE NON RIUSCITA: " << *r.error << '\n';
        return kExitFailed;
    }
    std::cout << "PORZIONI ESPORTATE: " << load.set.size() << '\n';
    for (const std::string& f : r.files) {
        std::cout << f << '\n';
    }
    return kExitDone;
}
