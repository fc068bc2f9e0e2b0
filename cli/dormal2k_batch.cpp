// dormal2k-batch: converts a data file of points from one reference system, coordinate kind
// and zone to another, as the window's "Da file" run does, from the command line.
//
// Exit status: 0 every data line became a converted point; 3 the run completed but lines
// were refused with reading errors or points lay outside the grid (summary with the counts
// on standard error); 1 the run was refused or failed (message on standard error); 2 the
// command line is wrong (reason and usage on standard error).
//
// Built twice: dormal2k-batch itself, without GDAL, and dormal2k-batch-gis (DORMAL2K_GIS),
// which also reads and writes GIS layers. dormal2k-batch hands a GIS run over to the latter
// (same arguments), so that the tens of megabytes and the start-up time of loading GDAL are
// spent only on runs that use it.

#include <algorithm>
#include <cctype>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <cerrno>
#include <unistd.h>

#include "conversion/batch_run.h"
#include "conversion/epsg.h"
#include "conversion/gis_run.h"
#include "conversion/grid_messages.h"
#include "conversion/selection_words.h"
#include "conversion/system_error.h"
#include "grid/grid_portion.h"
#include "grid/portion_set.h"
#include "grid/text_encoding.h"
#include "grid/zone_limits.h"

namespace {

using namespace dormal;

#ifndef DORMAL2K_VERSION
#define DORMAL2K_VERSION "0"
#endif
#ifdef DORMAL2K_GIS
constexpr const char* kProgramName = "dormal2k-batch-gis";
#else
constexpr const char* kProgramName = "dormal2k-batch";
#endif

constexpr int kExitDone = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitIncomplete = 3;

// Points read, converted and written at a time: memory stays flat whatever the file's size.
constexpr long kBlockSize = 4096;

constexpr const char* kUsage = "uso: dormal2k-batch --from SISTEMA [--from-kind geo|plane] [--from-zone ZONA]\n"
                               "                    --to SISTEMA [--to-kind geo|plane] [--to-zone ZONA]\n"
                               "                    [--heights] [--grid FILE]... [--grid-dir CARTELLA]...\n"
                               "                    [--type ascii|excel|gis] [--decimal-separator .|,]\n"
                               "                    [--columns NOME,N,E[,H]] [--delimiter ,|;|tab]\n"
                               "                    [--layer NOME]... [--nln NOME] [--update] DATI RISULTATI\n"
                               "       dormal2k-batch --check-set [--grid FILE]... [--grid-dir CARTELLA]...\n"
                               "       dormal2k-batch --help | --version\n";

constexpr const char* kHelp =
    "\n"
    "Converte tutti i punti di un file dati da un sistema di riferimento a un altro, come\n"
    "il comando \"Esegui\" della finestra principale con l'opzione \"Da file\".\n"
    "\n"
    "Sistemi (SISTEMA): ROMA40, ED50, ETRF89, ETRF2000 (maiuscole o minuscole), oppure un\n"
    "codice EPSG (EPSG:3003) che indica insieme sistema, tipo e fuso; un --from-kind o\n"
    "--from-zone (--to-kind, --to-zone) in contrasto con il codice e' un errore. Codici:\n"
    "  ROMA40    geografiche 4806 (longitudini da Monte Mario) e 4265 (longitudini da\n"
    "            Greenwich), Gauss-Boaga Ovest 3003, Est 3004\n"
    "  ED50      geografiche 4230, UTM 32/33/34 23032/23033/23034\n"
    "  ETRF89    (IGM95) geografiche 4670, UTM 32/33/34 3064/3065/9716; si accettano anche\n"
    "            ETRS89 4258 e 25832/25833/25834; il Fuso Italia non ha codice EPSG\n"
    "  ETRF2000  (RDN2008) geografiche 6706, UTM 32/33/34 6707/6708/6709, Fuso Italia 6875;\n"
    "            si accettano anche 7791/7792/7793/7794 (Est prima del Nord)\n"
    "I codici \"si accettano anche\" valgono in --from e, per i file ascii ed excel (che non\n"
    "riportano codici), in --to; un livello gis dei risultati ha sempre il codice della\n"
    "tabella (per esempio 3065, non 25833), quindi --to con uno di quei codici e' un errore.\n"
    "\n"
    "  --from SISTEMA          sistema dei punti del file dati (obbligatorio, salvo per un\n"
    "                          livello gis nel sistema di riferimento di uno dei sistemi del\n"
    "                          programma, che lo indica da se')\n"
    "  --from-kind geo|plane   coordinate geografiche (gg.ppssdddd; per ROMA40 longitudini\n"
    "                          da Monte Mario) o piane (Nord ed Est in metri); predefinito geo\n"
    "  --from-zone ZONA        fuso delle coordinate piane in ingresso:\n"
    "                            ROMA40: auto (dall'Est: Est se >= 2000000), ovest, est\n"
    "                            ED50: 32, 33, 34\n"
    "                            ETRF89, ETRF2000: 32, 33, 34, italia\n"
    "                          predefinito il primo della lista (auto o 32)\n"
    "  --to SISTEMA            sistema dei risultati (obbligatorio)\n"
    "  --to-kind geo|plane     tipo delle coordinate in uscita; predefinito geo\n"
    "  --to-zone ZONA          fuso delle coordinate piane in uscita:\n"
    "                            ROMA40: auto, ovest, est\n"
    "                            ED50: auto, 32, 33, 34\n"
    "                            ETRF89, ETRF2000: auto, 32, 33, 34, italia\n"
    "                          predefinito auto (il fuso del punto)\n"
    "  --heights               trasforma le quote (\"Trasforma le quote\"); ammesso solo tra\n"
    "                          sistemi diversi e non tra ROMA40 e ED50\n"
    "  --grid FILE             file di porzione di griglia (*.GK?); necessario (o --grid-dir)\n"
    "                          quando i due sistemi sono diversi. Ripetuto, usa tutte le\n"
    "                          porzioni indicate insieme, nell'ordine dato; lo stesso file\n"
    "                          ripetuto (anche con un altro nome, per un collegamento o in\n"
    "                          una --grid-dir) si usa una volta, al suo primo posto\n"
    "  --grid-dir CARTELLA     usa insieme tutte le porzioni della cartella: i file *.GK?\n"
    "                          (maiuscole o minuscole), in ordine di nome (byte per byte);\n"
    "                          dopo gli eventuali --grid. Una cartella senza porzioni o con\n"
    "                          una porzione illeggibile o danneggiata e' rifiutata\n"
    "  --check-set             senza file dati: confronta le porzioni indicate con --grid e\n"
    "                          --grid-dir e, per ogni coppia che si sovrappone, scrive la\n"
    "                          differenza massima dei loro risultati sull'area comune (mm e\n"
    "                          decimillesimi di secondo). Tolleranza: 0.0001\" (l'ultima\n"
    "                          cifra dei valori delle griglie, circa 3 mm) in latitudine e\n"
    "                          longitudine, 1 mm in quota; stato di uscita 3 se una coppia\n"
    "                          la supera, 0 altrimenti. Le altre opzioni non vi si applicano\n"
    "                          e sono un errore\n"
    "  --type ascii|excel|gis  tipo del file dati e del file dei risultati; predefinito dal\n"
    "                          nome del file dati: .xls e .xlsx excel; .csv, .gpkg, .shp,\n"
    "                          .geojson e .dxf gis; altrimenti ascii.\n"
    "                          I risultati excel si scrivono in formato .xlsx. Un file dei\n"
    "                          risultati con l'estensione di un altro tipo (un rapporto\n"
    "                          ascii .xlsx, .ods o .gpkg, una cartella excel .txt o .csv)\n"
    "                          e' un errore; un nome senza estensione o con un'estensione\n"
    "                          diversa da queste vale per ogni tipo\n"
    "  --columns NOME,N,E[,H]  gis, file .csv: le colonne del nome, del Nord (latitudine),\n"
    "                          dell'Est (longitudine) e della quota, per nome d'intestazione o\n"
    "                          numero (da 1); predefinito 1,2,3,4. La prima riga e'\n"
    "                          un'intestazione se una colonna e' data per nome o se ne' il\n"
    "                          suo Nord ne' il suo Est sono numeri (uno solo: errore di\n"
    "                          lettura di quella riga)\n"
    "  --delimiter ,|;|tab     gis, file .csv: separatore delle colonne; predefinito quello\n"
    "                          trovato nella prima riga (tab se c'e', poi ;, altrimenti ,);\n"
    "                          vale anche per un file dei risultati .csv\n"
    "  --layer NOME            gis: converte il livello NOME del file dati; ripetuto, piu'\n"
    "                          livelli; predefinito tutti i livelli (piu' livelli solo in\n"
    "                          un risultato .gpkg)\n"
    "  --nln NOME              gis: nome del livello dei risultati (un solo livello);\n"
    "                          predefinito il nome del livello dei dati\n"
    "  --update                gis, risultato .gpkg esistente: aggiunge o sostituisce solo i\n"
    "                          livelli convertiti, tutti gli altri restano; senza, un\n"
    "                          GeoPackage con altri livelli e' rifiutato\n"
    "  --decimal-separator .|, separatore decimale dei risultati; predefinito quello della\n"
    "                          lingua dell'utente (LC_ALL, LC_NUMERIC, LANG)\n"
    "  --help                  questo testo\n"
    "  --version               la versione del programma\n"
    "\n"
    "Le opzioni con un valore si danno una volta sola, salvo --grid e --grid-dir; un\n"
    "valore vuoto (--grid-dir=) e' un errore.\n"
    "\n"
    "DATI \"-\" legge i punti dallo standard input, RISULTATI \"-\" scrive il rapporto sullo\n"
    "standard output (solo ascii). Un file dei risultati esistente viene sostituito solo a\n"
    "elaborazione riuscita; altrimenti resta com'era.\n"
    "\n"
    "File dati ascii: un punto per riga, \"nome primo secondo [quota]\" separati da spazi o\n"
    "tabulazioni; le righe vuote o che iniziano con / o ' sono commenti; la virgola vale\n"
    "come punto decimale. La quota si legge solo con --heights. File dati excel: primo\n"
    "foglio, dalla riga 2, colonne A nome, B e C coordinate, D quota; i dati finiscono alla\n"
    "prima cella A vuota.\n"
    "\n"
    "File gis (letti e scritti con GDAL/OGR): ogni livello del file dati (o quelli di\n"
    "--layer), ciascuno in un livello con il suo nome; i risultati nel formato dato\n"
    "dall'estensione del file dei risultati (.csv, .gpkg, .shp, .geojson, .dxf), con tutti\n"
    "gli attributi, la geometria convertita (con Z quando si trasformano le quote, che si\n"
    "leggono dalla Z), il codice EPSG dei risultati come sistema di riferimento e due campi\n"
    "aggiunti: ZONA (come la colonna del fuso del rapporto: Vero, o Altro se proiettato\n"
    "fuori dal fuso del punto; con coordinate geografiche il fuso del punto) e STATO\n"
    "(convertito, fuori griglia, scartato, senza geometria). Le coordinate geografiche sono\n"
    "in gradi decimali da Greenwich, non in gg.ppssdddd (ROMA40 da Monte Mario in un\n"
    "livello EPSG:4806 e con --to EPSG:4806). Di linee e poligoni si converte\n"
    "ogni vertice; un elemento con anche un solo vertice fuori dalla griglia resta senza\n"
    "geometria, STATO fuori griglia. Un elemento o una riga illeggibile e' segnalato (riga\n"
    "del .csv o numero dell'elemento) e scritto senza geometria con STATO scartato; un\n"
    "elemento senza geometria resta con STATO senza geometria. Un .dxf non puo' tenere\n"
    "elementi senza geometria: il riepilogo li conta. Un valore che il formato dei\n"
    "risultati non puo' tenere (in uno shapefile testi oltre 254 byte, numeri troppo\n"
    "lunghi, date con ora, liste; un campo con il nome di una colonna del formato, come fid\n"
    "e geom di un GeoPackage) e' scritto in altro modo e segnalato nel riepilogo campo per\n"
    "campo. Nei .csv le coordinate dei risultati\n"
    "sostituiscono quelle delle colonne N ed E (e H); con ; o tab come separatore la\n"
    "virgola vale come punto decimale. Con coordinate piane in uscita serve un fuso\n"
    "(--to-zone o un codice EPSG): un livello ha un solo sistema di riferimento. Un .csv\n"
    "dei risultati ha sempre la riga d'intestazione (field_1, field_2 ... se i dati non\n"
    "l'hanno); un .dxf dei risultati ha le sole geometrie, senza attributi ne' sistema\n"
    "di riferimento. Un livello con un sistema di riferimento diverso da quello di --from\n"
    "(per esempio 3003 con --from EPSG:3004, o WGS84 4326) e' rifiutato; un livello senza\n"
    "sistema di riferimento si legge in quello di --from. Un file che GDAL legge solo in\n"
    "parte (danneggiato o troncato) e' un errore di lettura. Un .csv si legge solo da un\n"
    "file su disco; le sue colonne numeriche sono campi numerici nei risultati .gpkg, .shp\n"
    "e .geojson, mentre un .csv dei risultati ha i valori come li aveva il file dati.\n"
    "\n"
    "Piu' porzioni insieme: ogni punto si calcola con la PRIMA porzione, nell'ordine\n"
    "sopra (prima i --grid, poi le cartelle), la cui area di copertura lo comprende (la\n"
    "stessa verifica che fa una porzione sola); un punto che nessuna porzione comprende e'\n"
    "fuori dalla griglia. Il rapporto dice quante porzioni sono state usate e riporta le\n"
    "epoche della prima; il riepilogo aggiunge i punti calcolati con ciascuna porzione.\n"
    "\n"
    "Il riepilogo e i messaggi di errore di lettura vanno sullo standard error. I punti\n"
    "fuori dalla porzione di griglia sono segnati nel file dei risultati e contati nel\n"
    "riepilogo. Non c'e' limite al numero di punti: il file si elabora a blocchi.\n"
    "\n"
    "Stato di uscita:\n"
    "  0  elaborazione completata: ogni riga di dati e' diventata un punto calcolato\n"
    "  3  elaborazione completata, ma con righe scartate per errori di lettura, con punti\n"
    "     fuori dalla porzione di griglia o (gis) con valori cambiati per il formato dei\n"
    "     risultati (il riepilogo ne riporta il numero); con --check-set, una coppia di\n"
    "     porzioni che differisce oltre la tolleranza\n"
    "  1  elaborazione rifiutata o fallita (con il suo messaggio, per esempio\n"
    "     \"TRASFORMAZIONE NON NECESSARIA\"); il file dei risultati resta com'era\n"
    "  2  errore nella riga di comando\n"
    "\n"
    "Le porzioni di griglia di esempio della cartella data/samples sono SINTETICHE: valori\n"
    "inventati per provare il programma, non griglie ufficiali; non usarle per lavori reali.\n"
    "\n"
    "Esempio: da ROMA40 Gauss-Boaga (fuso dall'Est) a ETRF2000 UTM (fuso automatico), quote:\n"
    "  dormal2k-batch --from ROMA40 --from-kind plane --to ETRF2000 --to-kind plane \\\n"
    "      --heights --grid 123.GK1 punti.txt risultati.txt\n"
    "Un livello GeoPackage da Gauss-Boaga Est a ETRF2000 UTM 33:\n"
    "  dormal2k-batch --from EPSG:3004 --to EPSG:6708 --grid 123.GK1 particelle.gpkg nuove.gpkg\n";

struct UsageError {
    std::string reason;
};

// Option values are compared in lower case (the library's one case-folding helper).
std::string lower(std::string_view s) {
    return asciiLowerCase(s);
}

RefSystem systemFromWord(std::string_view option, std::string_view word) {
    if (const std::optional<RefSystem> s = parseSystemWord(word)) {
        return *s;
    }
    throw UsageError{std::string(option) + ": sistema sconosciuto \"" + std::string(word) +
                     "\" (ROMA40, ED50, ETRF89, ETRF2000 o EPSG:codice)"};
}

CoordKind kindFromWord(std::string_view option, std::string_view word) {
    const std::string w = lower(word);
    if (w == "geo") {
        return CoordKind::Geographic;
    }
    if (w == "plane") {
        return CoordKind::Plane;
    }
    throw UsageError{std::string(option) + ": \"" + std::string(word) + "\" non e' geo ne' plane"};
}

// Zone word of one system to its zone, or nothing when the system has no such zone:
// ROMA40 names its zones ovest and est, the other systems 32, 33, 34 and italia.
std::optional<Zone> zoneFromWord(RefSystem system, std::string_view word) {
    const std::optional<Zone> z = parseZoneWord(word);
    if (!z || *z == Zone::Auto) {
        return z;
    }
    const std::string w = lower(word);
    const bool roma40Word = w == "ovest" || w == "est";
    return roma40Word == (system == RefSystem::Roma40) ? z : std::nullopt;
}

std::string listWords(RefSystem system, std::span<const ListItem<Zone>> list) {
    std::string s;
    for (const ListItem<Zone>& item : list) {
        if (!s.empty()) {
            s += ", ";
        }
        switch (item.value) {
        case Zone::Auto:
            s += "auto";
            break;
        case Zone::OvestOr32:
            s += system == RefSystem::Roma40 ? "ovest" : "32";
            break;
        case Zone::EstOr33:
            s += system == RefSystem::Roma40 ? "est" : "33";
            break;
        case Zone::Utm34:
            s += "34";
            break;
        default:
            s += "italia";
            break;
        }
    }
    return s;
}

// The zone as the window's list for that side and system offers it; default its first item.
Zone zoneFor(std::string_view option, RefSystem system, const std::optional<std::string>& word,
             std::span<const ListItem<Zone>> list) {
    if (!word) {
        return list.front().value;
    }
    const std::optional<Zone> z = zoneFromWord(system, *word);
    const bool offered =
        std::any_of(list.begin(), list.end(), [z](const ListItem<Zone>& i) { return z && i.value == *z; });
    if (!offered) {
        throw UsageError{std::string(option) + ": il fuso \"" + *word + "\" non e' tra quelli di " +
                         std::string(systemName(system)) + " (" + listWords(system, list) + ")"};
    }
    return *z;
}

struct Options {
    std::optional<std::string> from, fromKind, fromZone, to, toKind, toZone, type, separator, columns, delimiter, nln;
    std::vector<std::string> layers; // --layer, in the order given
    bool update = false;
    std::vector<std::string> grids;    // --grid, in the order given
    std::vector<std::string> gridDirs; // --grid-dir, in the order given
    bool heights = false;
    bool help = false;
    bool checkSet = false;
    bool version = false;
    std::vector<std::string> paths;
    std::vector<std::string> given; // the names of the options given, in order
};

Options parseArguments(int argc, char** argv) {
    Options o;
    const std::pair<std::string_view, std::optional<std::string> Options::*> valued[] = {
        {"--from", &Options::from},          {"--from-kind", &Options::fromKind},
        {"--from-zone", &Options::fromZone}, {"--to", &Options::to},
        {"--to-kind", &Options::toKind},     {"--to-zone", &Options::toZone},
        {"--type", &Options::type},          {"--decimal-separator", &Options::separator},
        {"--columns", &Options::columns},    {"--delimiter", &Options::delimiter},
        {"--nln", &Options::nln},
    };
    const std::pair<std::string_view, std::vector<std::string> Options::*> repeated[] = {
        {"--grid", &Options::grids},
        {"--grid-dir", &Options::gridDirs},
        {"--layer", &Options::layers},
    };
    bool optionsDone = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (!optionsDone && (arg == "--help" || arg == "-h")) {
            o.help = true;
            continue;
        }
        if (optionsDone || arg == "-" || arg.size() < 2 || arg.substr(0, 2) != "--") {
            if (!optionsDone && arg.size() > 1 && arg[0] == '-' && arg != "-") {
                throw UsageError{"opzione sconosciuta \"" + std::string(arg) + "\""};
            }
            o.paths.emplace_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsDone = true;
            continue;
        }
        if (!optionsDone && arg == "--version") {
            o.version = true;
            continue;
        }
        const std::size_t eq = arg.find('=');
        const std::string_view name = arg.substr(0, eq);
        o.given.emplace_back(name);
        if (arg == "--heights") {
            o.heights = true;
            continue;
        }
        if (arg == "--update") {
            o.update = true;
            continue;
        }
        if (arg == "--check-set") {
            o.checkSet = true;
            continue;
        }
        // The value after "=" or in the next argument; an empty one is refused (an unset
        // variable in a script, `--grid-dir=` would otherwise mean the current folder).
        const auto value = [&]() {
            std::string v;
            if (eq != std::string_view::npos) {
                v = arg.substr(eq + 1);
            } else if (i + 1 < argc) {
                v = argv[++i];
            } else {
                throw UsageError{std::string(name) + " richiede un valore"};
            }
            if (v.empty()) {
                throw UsageError{std::string(name) + ": valore vuoto"};
            }
            return v;
        };
        bool known = false;
        for (const auto& [optName, member] : repeated) {
            if (name == optName) {
                known = true;
                (o.*member).push_back(value());
            }
        }
        for (const auto& [optName, member] : valued) {
            if (name != optName) {
                continue;
            }
            known = true;
            if (o.*member) {
                throw UsageError{std::string(name) + " indicato piu' volte (vale una volta sola)"};
            }
            o.*member = value();
        }
        if (!known) {
            throw UsageError{"opzione sconosciuta \"" + std::string(arg) + "\""};
        }
    }
    return o;
}

bool endsWithNoCase(const std::string& s, std::string_view suffix) {
    return s.size() >= suffix.size() && lower(s.substr(s.size() - suffix.size())) == suffix;
}

// One side of the conversion from its words: a system word with --*-kind and --*-zone, or an
// EPSG code that names system, kind and zone at once (a kind or zone given beside it must
// agree with it). epsg: the code, or 0 for words.
void resolveSide(std::string_view option, const std::string& systemWord, const std::optional<std::string>& kindWord,
                 const std::optional<std::string>& zoneWord, bool input, RefSystem& system, CoordKind& kind, Zone& zone,
                 int& epsg) {
    epsg = 0;
    const std::string kindOption = std::string(option) + "-kind";
    const std::string zoneOption = std::string(option) + "-zone";
    const auto zoneList = [input](RefSystem s) { return input ? inputZoneList(s) : outputZoneList(s); };
    if (const std::optional<int> code = parseEpsgWord(systemWord)) {
        const std::optional<EpsgCrs> crs = crsFromEpsg(*code);
        if (!crs) {
            throw UsageError{std::string(option) + ": il codice EPSG " + std::to_string(*code) +
                             " non e' di un sistema di riferimento del programma"};
        }
        epsg = *code;
        system = crs->system;
        kind = crs->kind;
        zone = kind == CoordKind::Plane ? crs->zone : zoneList(system).front().value;
        if (kindWord && kindFromWord(kindOption, *kindWord) != kind) {
            throw UsageError{kindOption + ": in contrasto con " + systemWord};
        }
        if (zoneWord && (kind != CoordKind::Plane || zoneFromWord(system, *zoneWord) != zone)) {
            throw UsageError{zoneOption + ": in contrasto con " + systemWord};
        }
        return;
    }
    system = systemFromWord(option, systemWord);
    kind = kindWord ? kindFromWord(kindOption, *kindWord) : CoordKind::Geographic;
    if (zoneWord && kind != CoordKind::Plane) {
        throw UsageError{zoneOption + " vale solo per coordinate piane (" + kindOption + " plane)"};
    }
    zone = zoneFor(zoneOption, system, zoneWord, zoneList(system));
}

// The name of a choice in messages: "ETRF89 UTM 33", "ETRF2000 Fuso Italia", "ETRF89 geografiche".
std::string choiceName(RefSystem system, CoordKind kind, Zone zone) {
    std::string s(systemName(system));
    if (kind == CoordKind::Geographic) {
        return s + " geografiche";
    }
    switch (zone) {
    case Zone::OvestOr32:
        return s + (system == RefSystem::Roma40 ? " Gauss-Boaga Ovest" : " UTM 32");
    case Zone::EstOr33:
        return s + (system == RefSystem::Roma40 ? " Gauss-Boaga Est" : " UTM 33");
    case Zone::Utm34:
        return s + " UTM 34";
    case Zone::Italia:
        return s + " Fuso Italia";
    case Zone::Auto:
        break;
    }
    return s;
}

// A layer of results carries the code the program gives for its system, kind and zone; the
// codes accepted for the same frame and projection when read (ETRS89 4258 and 25832..25834,
// RDN2008 easting first 7791..7794) would name another reference than the one written, so
// `--to` with one of them is refused, naming the code the layer would carry.
void checkLayerCode(const Options& o) {
    const std::optional<int> asked = parseEpsgWord(*o.to);
    const std::optional<EpsgCrs> crs = asked ? crsFromEpsg(*asked) : std::nullopt;
    if (!crs) {
        return;
    }
    const std::optional<int> given = epsgCode(crs->system, crs->kind, crs->zone, crs->fromMonteMario);
    if (given && *given != *asked) {
        throw UsageError{
            "--to: un livello dei risultati in " + choiceName(crs->system, crs->kind, crs->zone) +
            " ha il codice EPSG " + std::to_string(*given) + ", non " + std::to_string(*asked) +
            " (accettato solo per i dati e per i risultati ascii ed excel): usare --to EPSG:" + std::to_string(*given)};
    }
}

// --columns, --delimiter and the output zone a layer needs.
void gisOptions(const Options& o, BatchRequest& req) {
    checkLayerCode(o);
    if (o.columns) {
        std::string_view rest = *o.columns;
        for (;;) {
            const std::size_t comma = rest.find(',');
            req.gisColumns.emplace_back(rest.substr(0, comma));
            if (req.gisColumns.back().empty()) {
                throw UsageError{"--columns: colonna vuota in \"" + *o.columns + "\""};
            }
            if (comma == std::string_view::npos) {
                break;
            }
            rest.remove_prefix(comma + 1);
        }
        if (req.gisColumns.size() < 3 || req.gisColumns.size() > 4) {
            throw UsageError{"--columns: servono NOME,N,E oppure NOME,N,E,H"};
        }
        if (req.ctx.heights && req.gisColumns.size() != 4) {
            throw UsageError{"--columns: con --heights serve anche la colonna della quota (NOME,N,E,H)"};
        }
    }
    if (o.delimiter) {
        const std::string d = lower(*o.delimiter);
        if (d == "," || d == "comma") {
            req.gisDelimiter = ',';
        } else if (d == ";" || d == "semicolon") {
            req.gisDelimiter = ';';
        } else if (d == "tab" || d == "\t") {
            req.gisDelimiter = '\t';
        } else {
            throw UsageError{"--delimiter: \"" + *o.delimiter + "\" non e' \",\", \";\" ne' tab"};
        }
    }
    req.gisLayers = o.layers; // empty values were refused with the options
    req.gisLayerName = o.nln.value_or(std::string());
    if (o.update && !endsWithNoCase(req.resultPath, ".gpkg")) {
        throw UsageError{"--update vale solo per un file dei risultati .gpkg"};
    }
    req.gisUpdate = o.update;
    if (req.ctx.sel.outputKind == CoordKind::Plane && req.ctx.sel.outputZone == Zone::Auto) {
        throw UsageError{"--type gis: un livello ha un solo sistema di riferimento, indicare il fuso dei risultati "
                         "(--to-zone o --to EPSG:codice)"};
    }
}

// A result name whose extension says another type than the run writes: a text report named
// as a workbook or a GIS layer, a workbook named as a text file or a layer. Names without an
// extension or with one the program does not know stay allowed. A GIS run chooses its output
// format from the extension and refuses an unknown one itself.
void checkResultExtension(DataFileType type, const std::string& resultPath) {
    if (type == DataFileType::Gis) {
        return;
    }
    static constexpr std::string_view kWorkbook[] = {".xlsx", ".xls", ".xlsm", ".xlsb", ".ods"};
    static constexpr std::string_view kText[] = {".txt", ".text", ".asc", ".dat", ".prn", ".tsv"};
    const std::string ext = gisExtension(resultPath);
    const auto among = [&ext](std::span<const std::string_view> list) {
        return std::find(list.begin(), list.end(), ext) != list.end();
    };
    const char* named = nullptr;
    if (isGisPath(resultPath)) {
        named = "di un file gis";
    } else if (type == DataFileType::Ascii && among(kWorkbook)) {
        named = "di una cartella di lavoro excel";
    } else if (type == DataFileType::Excel && among(kText)) {
        named = "di un file di testo";
    }
    if (named == nullptr) {
        return;
    }
    const std::string writes = type == DataFileType::Ascii
                                   ? "l'elaborazione ascii scrive un rapporto di testo (per esempio .txt)"
                                   : "l'elaborazione excel scrive una cartella di lavoro .xlsx";
    throw UsageError{"il file dei risultati \"" + resultPath + "\" ha l'estensione " + named + " (" + ext + "), ma " +
                     writes};
}

// The request the window would make, or a UsageError saying why it could not.
BatchRequest buildRequest(const Options& o, char localeSeparator) {
    // A GIS layer whose reference is one of the program's systems says itself what --from would.
    const bool gisData = o.type ? lower(*o.type) == "gis"
                                : !o.paths.empty() && isGisPath(o.paths[0]) && !endsWithNoCase(o.paths[0], ".csv");
    if (!o.from && !gisData) {
        throw UsageError{"manca --from (sistema dei dati)"};
    }
    if (!o.to) {
        throw UsageError{"manca --to (sistema dei risultati)"};
    }
    if (o.paths.size() != 2) {
        throw UsageError{o.paths.size() < 2 ? "servono il file dati e il file dei risultati"
                                            : "troppi argomenti: servono solo il file dati e il file dei risultati"};
    }
    BatchRequest req;
    SelectionState& sel = req.ctx.sel;
    std::string fromWord = o.from.value_or("");
#ifdef DORMAL2K_GIS
    if (!o.from) {
        std::string why;
        const std::optional<int> code = gisLayerEpsg(o.paths[0], why);
        if (!code) {
            throw UsageError{"manca --from (sistema dei dati): " + why};
        }
        fromWord = "EPSG:" + std::to_string(*code);
    }
#else
    // The GIS program, which this one hands the run over to, reads the layer's reference and
    // checks the rest of the command line with it.
    if (!o.from) {
        req.type = DataFileType::Gis;
        return req;
    }
#endif
    resolveSide("--from", fromWord, o.fromKind, o.fromZone, true, sel.inputSystem, sel.inputKind, sel.inputZone,
                req.inputEpsg);
    resolveSide("--to", *o.to, o.toKind, o.toZone, false, sel.outputSystem, sel.outputKind, sel.outputZone,
                req.outputEpsg);

    if (o.heights) {
        const PairEntry pair = pairEntry(sel.inputSystem, sel.outputSystem);
        if (pair == PairEntry::Same) {
            throw UsageError{"--heights: con lo stesso sistema in ingresso e in uscita le quote non si trasformano"};
        }
        if (!heightsAllowed(pair)) {
            throw UsageError{"--heights: tra ROMA40 e ED50 le quote non si trasformano (entrambi hanno quote "
                             "geoidiche)"};
        }
    }
    req.ctx.heights = o.heights;

    req.dataPath = o.paths[0];
    req.resultPath = o.paths[1];
    if (o.type) {
        const std::string t = lower(*o.type);
        if (t == "ascii") {
            req.type = DataFileType::Ascii;
        } else if (t == "excel") {
            req.type = DataFileType::Excel;
        } else if (t == "gis") {
            req.type = DataFileType::Gis;
        } else {
            throw UsageError{"--type: \"" + *o.type + "\" non e' ascii, excel ne' gis"};
        }
    } else {
        const bool workbook = endsWithNoCase(req.dataPath, ".xls") || endsWithNoCase(req.dataPath, ".xlsx");
        req.type = workbook ? DataFileType::Excel : isGisPath(req.dataPath) ? DataFileType::Gis : DataFileType::Ascii;
    }
    if (req.type != DataFileType::Ascii && (req.dataPath == "-" || req.resultPath == "-")) {
        throw UsageError{"lo standard input e lo standard output valgono solo per file ascii"};
    }
    checkResultExtension(req.type, req.resultPath);
    if (req.type != DataFileType::Gis && (o.columns || o.delimiter)) {
        throw UsageError{std::string(o.columns ? "--columns" : "--delimiter") + " vale solo per --type gis"};
    }
    if (req.type != DataFileType::Gis && (!o.layers.empty() || o.nln || o.update)) {
        const char* option = !o.layers.empty() ? "--layer" : o.nln ? "--nln" : "--update";
        throw UsageError{std::string(option) + " vale solo per --type gis"};
    }
    if (req.type == DataFileType::Gis) {
        gisOptions(o, req);
    } else {
        // Data files and reports count ROMA40 longitudes from Monte Mario; EPSG:4265 from Greenwich.
        req.ctx.inputLonFromGreenwich = req.inputEpsg == kEpsgRoma40Greenwich;
        req.ctx.outputLonFromGreenwich = req.outputEpsg == kEpsgRoma40Greenwich;
    }

    if (o.separator) {
        if (*o.separator != "." && *o.separator != ",") {
            throw UsageError{"--decimal-separator: \"" + *o.separator + "\" non e' \".\" ne' \",\""};
        }
        req.decimalSeparator = (*o.separator)[0];
    } else {
        req.decimalSeparator = localeSeparator;
    }
    req.maxPoints = 0;
    req.blockSize = kBlockSize;
    req.overlapWriting = true;
    req.allowStreams = true; // pipes, FIFOs, /dev/stdin and <(...) are how pipelines give data
    return req;
}

void printMessage(const Message& m) {
    std::cerr << joinedText(m) << '\n';
}

// The decimal separator of the user's locale ("." or ","). The numeric locale is then put
// back to "C" so that no library reads or writes numbers the locale's way by accident: the
// converter's own formatting takes the separator explicitly.
char localeDecimalSeparator() {
    std::setlocale(LC_ALL, "");
    const std::lconv* lc = std::localeconv();
    const char sep = lc != nullptr && lc->decimal_point != nullptr && lc->decimal_point[0] == ',' ? ',' : '.';
    std::setlocale(LC_NUMERIC, "C");
    return sep;
}

std::string fixed(double v, int decimals) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
    return buf;
}

// --check-set: how much every pair of overlapping portions of the set disagrees.
int checkSet(const Options& o) {
    for (const std::string& name : o.given) {
        if (name != "--check-set" && name != "--grid" && name != "--grid-dir") {
            throw UsageError{name + " non vale con --check-set (che prende solo --grid e --grid-dir)"};
        }
    }
    if (!o.paths.empty()) {
        throw UsageError{"--check-set non vuole file dati ne' file dei risultati"};
    }
    if (o.grids.empty() && o.gridDirs.empty()) {
        throw UsageError{"--check-set richiede --grid o --grid-dir"};
    }
    const PortionSetLoad load = loadPortionSet(o.grids, o.gridDirs);
    if (!load.ok()) {
        printMessage(portionSetMessage(*load.error));
        return kExitFailed;
    }
    const std::vector<PortionDisagreement> pairs = comparePortions(load.set);
    const auto fileName = [&load](std::size_t i) {
        return std::filesystem::path(load.set.portion(i).sourcePath).filename().string();
    };
    std::cout << "PORZIONI: " << load.set.size() << "\n";
    std::cout << "COPPIE CHE SI SOVRAPPONGONO: " << pairs.size() << "\n";
    double worstMm = 0, worstHeightMm = 0, worstAngle = 0;
    std::size_t beyond = 0;
    for (const PortionDisagreement& d : pairs) {
        const bool over = beyondSetTolerance(d);
        beyond += over ? 1 : 0;
        std::cout << fileName(d.first) << " - " << fileName(d.second) << ": punti confrontati " << d.samples
                  << "; differenza massima " << fixed(d.maxHorizontalMm, 3) << " mm in planimetria, "
                  << fixed(d.maxHeightMm, 3) << " mm in quota, " << fixed(d.maxAngle1e4, 3) << " (1e-4\")"
                  << (over ? " OLTRE LA TOLLERANZA" : "") << "\n";
        worstMm = std::max(worstMm, d.maxHorizontalMm);
        worstHeightMm = std::max(worstHeightMm, d.maxHeightMm);
        worstAngle = std::max(worstAngle, d.maxAngle1e4);
    }
    std::cout << "DIFFERENZA MASSIMA: " << fixed(worstMm, 3) << " mm in planimetria, " << fixed(worstHeightMm, 3)
              << " mm in quota, " << fixed(worstAngle, 3) << " (1e-4\")\n";
    std::cout << "TOLLERANZA: " << fixed(kSetToleranceAngle1e4, 3) << " (1e-4\") in latitudine e longitudine, "
              << fixed(kSetToleranceHeightMm, 3) << " mm in quota\n";
    std::cout << "COPPIE OLTRE LA TOLLERANZA: " << beyond << "\n";
    return beyond == 0 ? kExitDone : kExitIncomplete;
}

} // namespace

#ifndef DORMAL2K_GIS
// Runs dormal2k-batch-gis with these arguments in place of this process: beside this
// program (the build tree), then where the package installs it. Returns only on failure,
// with the reason.
int handOverToGisProgram(char** argv) {
    std::error_code ec;
    const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", ec);
    const std::filesystem::path dir = ec ? std::filesystem::path() : self.parent_path();
    int err = ENOENT;
    for (const std::filesystem::path& candidate :
         {dir / "dormal2k-batch-gis", dir / ".." / "libexec" / "dormal2k" / "dormal2k-batch-gis"}) {
        ::execv(candidate.c_str(), argv);
        if (errno != ENOENT) {
            err = errno;
        }
    }
    printMessage(
        Message{MessageIcon::Error,
                kTitleErrore,
                {"IMPOSSIBILE AVVIARE IL PROGRAMMA DEI LIVELLI GIS (dormal2k-batch-gis)", systemErrorText(err)}});
    return kExitFailed;
}
#endif

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    const char localeSeparator = localeDecimalSeparator();

    Options options;
    BatchRequest req;
    try {
        options = parseArguments(argc, argv);
        if (options.help) {
            std::cout << kUsage << kHelp;
            return kExitDone;
        }
        if (options.version) {
            std::cout << kProgramName << ' ' << DORMAL2K_VERSION << '\n';
            return kExitDone;
        }
        if (options.checkSet) {
            return checkSet(options);
        }
        req = buildRequest(options, localeSeparator);
    } catch (const UsageError& e) {
        std::cerr << "dormal2k-batch: " << e.reason << "\n\n" << kUsage << "Per i dettagli: dormal2k-batch --help\n";
        return kExitUsage;
    }

#ifndef DORMAL2K_GIS
    if (req.type == DataFileType::Gis) {
        std::cout.flush();
        return handOverToGisProgram(argv);
    }
#endif

    // The grid portion, needed only between different systems (the window hides its
    // working zone for equal ones). Several files or a folder make a working set.
    std::optional<GridPortion> portion;
    ZoneLimits limits;
    PortionSetLoad setLoad;
    const bool useSet = options.grids.size() > 1 || !options.gridDirs.empty();
    const bool sameSystem = req.ctx.sel.inputSystem == req.ctx.sel.outputSystem;
    if (!sameSystem && useSet) {
        setLoad = loadPortionSet(options.grids, options.gridDirs);
        if (!setLoad.ok()) {
            printMessage(portionSetMessage(*setLoad.error));
            return kExitFailed;
        }
        req.ctx.set = &setLoad.set;
        req.ctx.portion = &setLoad.set.portion(0);
        req.ctx.limits = &setLoad.set.limits(0);
    } else if (!sameSystem && !options.grids.empty()) {
        const std::string& grid = options.grids.front();
        const std::filesystem::path gridPath(grid);
        // No folder: the name alone, relative to the current folder, as the user wrote it.
        const std::string folder = gridPath.has_parent_path() ? gridPath.parent_path().string() : std::string();
        GridLoadResult loaded = loadGridPortion(folder, gridPath.filename().string());
        if (!loaded.ok()) {
            // The reader's message names the file and says why, in Italian.
            printMessage(gridLoadMessage(*loaded.error));
            return kExitFailed;
        }
        portion = std::move(loaded.portion);
        limits = computeZoneLimits(*portion, req.ctx.sel.inputSystem);
        req.ctx.portion = &*portion;
        req.ctx.limits = &limits;
    }

    if (std::optional<Message> m = commonChecks(req.ctx.sel, req.ctx.portion != nullptr)) {
        printMessage(*m);
        return kExitFailed;
    }

    BatchCallbacks cb;
    cb.onReadingError = [](const Message& m) { printMessage(m); };
#ifdef DORMAL2K_GIS
    // GIS layers go through GDAL/OGR, every other type through the reading loops.
    const BatchOutcome outcome = req.type == DataFileType::Gis ? runGisBatch(req, cb) : runBatch(req, cb);
#else
    const BatchOutcome outcome = runBatch(req, cb);
#endif

    if (outcome.status == BatchStatus::Completed && req.resultPath == "-") {
        std::cout.flush();
        if (!std::cout) {
            printMessage(Message{MessageIcon::Error,
                                 kTitleErrore,
                                 {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", "(uscita standard)",
                                  "SCRITTURA NON RIUSCITA", "ELABORAZIONE INTERROTTA: USCITA INCOMPLETA"}});
            return kExitFailed;
        }
    }
    Message shown = outcome.message;
    if (outcome.status == BatchStatus::Completed && outcome.readingErrorCount > 0) {
        // One leading blank before the number, as the summary writes its counts.
        shown.lines.push_back("RIGHE SCARTATE PER ERRORI DI LETTURA:  " + std::to_string(outcome.readingErrorCount));
    }
    if (outcome.status == BatchStatus::Completed && req.ctx.set != nullptr) {
        addPortionCounts(shown, *req.ctx.set, outcome);
    }
    printMessage(shown);
    if (outcome.status != BatchStatus::Completed) {
        return kExitFailed;
    }
    return outcome.readingErrorCount == 0 && outcome.outsideCount == 0 && outcome.changedValueCount == 0
               ? kExitDone
               : kExitIncomplete;
}
