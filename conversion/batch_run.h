#pragma once
// The batch run: file checks, reading, converting and writing every point, and the summary.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "conversion/data_source.h"
#include "conversion/point_conversion.h"
#include "conversion/result_writer.h"

namespace dormal {

inline constexpr long kWindowPointLimit = 50000;

struct BatchRequest {
    ConversionContext ctx;
    DataFileType type = DataFileType::Excel;
    std::string dataPath;   // "-" reads standard input (ASCII)
    std::string resultPath; // "-" writes standard output (ASCII)
    char decimalSeparator = '.';
    long maxPoints = kWindowPointLimit; // 0: no limit (batch converter)
    long blockSize = 0;                 // points read before converting/writing; 0: all at once
    // With blocks: the batch converter's pipeline. This thread reads; `workers` threads
    // convert blocks; a writing thread writes them in the order they were read. Results,
    // reading errors (reported on this thread as they are read) and counts are those of a
    // run on one thread. Progress then comes once a block, total 0. Without blocks (the
    // window's run), the whole file is read and judged on this thread first, then converted
    // and written by the same pipeline, progress once a block with the total.
    bool overlapWriting = false;
    int workers = 0; // conversion threads of the pipeline; 0: one for each core
    bool allowStreams = false; // ASCII data from pipes, FIFOs, devices (the batch converter)
    // Values that cannot be a point on the Earth are reading errors (PointValueCheck). Off:
    // every value goes to the conversion as read.
    bool checkValues = true;
    // DataFileType::Gis only. Delimited text: the columns of name, North (latitude), East
    // (longitude) and, with heights, height, each a header name or a 1-based column number;
    // empty: columns 1, 2, 3 and 4. `gisDelimiter` 0: found on the first line; ',', ';' or
    // '\t': the file's delimiter, and a text result's.
    std::vector<std::string> gisColumns;
    char gisDelimiter = 0;
    // DataFileType::Gis only. The input layers to convert (empty: every layer); the name of
    // the output layer (empty: the input layer's; one layer only); `gisUpdate`: a GeoPackage
    // result that exists keeps its other layers, the converted ones are added or replaced.
    std::vector<std::string> gisLayers;
    std::string gisLayerName;
    bool gisUpdate = false;
    // The EPSG code each side was named by, 0 when named by words. DataFileType::Gis: a
    // ROMA40 geographic side named 4806 reads or writes longitudes from Monte Mario (layers
    // otherwise hold them from Greenwich, 4265). The other types take 4265 through
    // ctx.inputLonFromGreenwich and ctx.outputLonFromGreenwich.
    int inputEpsg = 0;
    int outputEpsg = 0;
};

struct BatchCallbacks {
    // A reading error (shown as it happens; the run goes on).
    std::function<void(const Message&)> onReadingError;
    // Progress while writing: done points, total (0 when not known in advance). Both
    // callbacks are called on the thread that called runBatch.
    std::function<void(long done, long total)> onProgress;
};

enum class BatchStatus { Completed, Refused, Failed };

struct BatchOutcome {
    BatchStatus status = BatchStatus::Failed;
    Message message; // summary when Completed; the refusal or failure otherwise
    long pointCount = 0;
    long outsideCount = 0;
    long readingErrorCount = 0; // data lines (rows) refused with a reading error
    // GIS results: values and fields the result's format could not hold as they were
    // (cut, written as text, renamed, left empty); the summary says which.
    long changedValueCount = 0;
    // Standard output ("-") already received part of the report when the run stopped.
    bool partialOutput = false;
    // With a working set (ctx.set): points converted by each portion, in set order.
    std::vector<long> pointsPerPortion;
};

// File checks of a batch run, in order: no data file, no result file, the same file
// (also when spelled differently: links, "./", ".."), then a result that is the grid
// portion file `gridPath` (same identity test; empty: no grid file). Empty when they pass.
std::optional<Message> batchFileChecks(const std::string& dataPath, const std::string& resultPath,
                                       const std::string& gridPath = {});

// The whole batch after the common checks: file checks (the grid file is the loaded
// portion's sourcePath; with a working set, every portion's), read, convert, write, summary.
BatchOutcome runBatch(const BatchRequest& req, const BatchCallbacks& cb = {});

// The summary of a completed run ("PROCEDURA TERMINATA CON SUCCESSO:" ...) and the refusal
// of a data file without any valid point, for the runs that read through other paths.
Message batchSummaryMessage(const ConversionContext& ctx, long pointCount, long outsideCount);
Message batchNoPointMessage();

// Adds to a completed run's summary one line per portion of the working set with the points
// it converted: "PUNTI CALCOLATI CON 0245.GK2:  12" (the portion's file name). Beyond 20
// portions, the 20 with most points (ties in set order) and "altre N porzioni: n punti".
void addPortionCounts(Message& summary, const PortionSet& set, const BatchOutcome& outcome);

} // namespace dormal
