#pragma once
// Readers of data files: ASCII text (one point a line) and workbooks (.xlsx, .xls; first
// sheet, row 1 skipped, columns A to D, ending at the first empty A cell). A reader is not
// a window: it returns what it read and what went wrong, and the caller decides how to show it.

#include <cstdint>
#include <istream>
#include <memory>
#include <optional>
#include <string>

#include "geodesy/systems.h"
#include "conversion/message.h"

namespace dormal {

// Gis: delimited text and GIS layers through GDAL/OGR (gis_run.h); not a DataSource.
enum class DataFileType : std::int16_t { Excel = 0, Ascii = 1, Gis = 2 };

struct DataPoint {
    std::string name;
    double first = 0;  // latitude gg.ppssdddd or North, metres
    double second = 0; // longitude gg.ppssdddd or East, metres
    double height = 0; // metres (0 when not read)
};

struct ReadEvent {
    enum class Kind {
        Point,        // `point` holds the next point
        ReadingError, // `message`: "ERRORE NELLA LETTURA NELLA ..." / "ALLA RIGA: ..."; line dropped
        End,          // no more points
        Failure       // the file cannot be read further (damaged, I/O error): `message`
    };
    Kind kind = Kind::End;
    DataPoint point;
    Message message;
};

class DataSource {
public:
    virtual ~DataSource() = default;
    // Fills `ev`; reuses its strings so a long file reads without allocating per point.
    virtual void next(ReadEvent& ev) = 0;
};

struct DataReadOptions {
    CoordKind inputKind = CoordKind::Geographic; // names the value in reading-error messages
    bool readHeight = false;                     // ASCII: read the height field (Check1 ticked); every
                                                 // type: heights are converted, so checked
    // ASCII data may come from a pipe, a FIFO or a device (/dev/stdin, <(...)) and is then
    // read as it comes, waiting for the writer. Off (the window): anything that is not a
    // regular file is refused at once, so that a FIFO cannot block the window. Workbooks
    // are read from regular files only, whatever this says.
    bool allowStreams = false;
    // The input system and zone: with the kind and readHeight, what a point's values must be
    // to be a point on the Earth (PointValueCheck); a point that is not is a reading error.
    // No system: the values are given as read.
    std::optional<RefSystem> inputSystem;
    Zone inputZone = Zone::Auto;
};

// ASCII reader over a stream (a file or standard input). Lines end with LF, CR or CR LF
// (each one line end, so line numbers are those an editor shows). Line rules: leading blanks
// ignored; empty lines and lines starting with "/" or "'" are comments; tabs count as
// blanks, commas as decimal points; name, first, second [, height]. A field that is not
// wholly a number is a reading error for that value. A name that is not valid UTF-8 is
// taken as Windows Latin-1 and given in UTF-8.
std::unique_ptr<DataSource> makeAsciiSource(std::istream& in, const DataReadOptions& opt);
// The same, naming the stream in failure messages (a path, or "(ingresso standard)").
std::unique_ptr<DataSource> makeAsciiSource(std::istream& in, const DataReadOptions& opt, std::string name);

// Opens a data file by type: Ascii reads text; Excel reads a workbook, told apart by its
// content whatever the extension (a zip package .xlsx/.xlsm, or an OLE2 .xls through FreeXL).
// On failure returns null and sets `failure` to a message naming the file and cause:
// "IMPOSSIBILE APRIRE IL FILE DEI DATI" / path / cause (warning icon, "Dormal2k"). A file
// that fails later (damaged, I/O error, binary data in a text file) gives a Failure event
// "ERRORE NELLA LETTURA DEL FILE DEI DATI" / path / cause. Workbook parts are bounded in
// size and compression ratio and DOCTYPE declarations are refused.
std::unique_ptr<DataSource> openDataFile(const std::string& path, DataFileType type, const DataReadOptions& opt,
                                         Message& failure);

// Workbook readers, exposed for tests and fuzzing.
std::unique_ptr<DataSource> openXlsxSource(const std::string& path, const DataReadOptions& opt, Message& failure);
std::unique_ptr<DataSource> openXlsxSourceFromMemory(std::string bytes, const DataReadOptions& opt,
                                                     Message& failure);
std::unique_ptr<DataSource> openXlsSource(const std::string& path, const DataReadOptions& opt, Message& failure);

} // namespace dormal
