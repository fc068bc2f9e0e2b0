#pragma once
// Result files: the fixed-column ASCII report (CR LF line ends) and the result workbook
// (.xlsx), with the same header and one line or row a point.

#include <memory>
#include <ostream>
#include <string>
#include <string_view>

#include "conversion/data_source.h"
#include "conversion/point_conversion.h"

namespace dormal {

struct ResultHeader {
    SelectionState sel;
    bool heights = false;                 // Check1
    const GridPortion* portion = nullptr; // epochs and globalGeoid (null when systems are equal)
    char decimalSeparator = '.';
    std::size_t portionCount = 1; // portions of the working set; above 1 the header says so
};

class ResultWriter {
public:
    virtual ~ResultWriter() = default;
    // Throw WriteError on any failure.
    virtual void writeHeader(const ResultHeader& h) = 0;
    virtual void writePoint(const DataPoint& in, const PointResult& r) = 0;
    // Completes the file; only after a successful finish is the result in place.
    virtual void finish() = 0;
    // Whether bytes already left for their destination before finish (a report onto a
    // stream, such as standard output, is then incomplete if the run stops).
    virtual bool started() const { return false; }
};

// A result that could not be written: which file (empty for standard output) and why, in
// Italian. what() gives the lines a message shows, joined by '\n': "IMPOSSIBILE SCRIVERE IL
// FILE DEI RISULTATI" / path / cause, or "IMPOSSIBILE SCRIVERE I RISULTATI" / "(uscita
// standard)" / cause.
class WriteError : public std::runtime_error {
public:
    WriteError(std::string path, std::string cause);
    const std::string& path() const { return path_; }
    const std::string& cause() const { return cause_; }
    bool onStandardOutput() const { return path_.empty(); }

private:
    std::string path_;
    std::string cause_;
};

// The zone column of a converted point as the report and the workbook write it: "Vero" or
// "Altro" (projected into the requested zone, its own or not) for a fixed output zone, the
// point's zone text for the automatic zone, empty when they have no zone column (geographic
// output, "Fuso Italia").
std::string_view reportZoneText(const SelectionState& sel, const PointResult& r);

// An output value that is not finite is written as "Errore".

// Report onto a stream (standard output, tests).
std::unique_ptr<ResultWriter> makeAsciiReportWriter(std::ostream& out);
// Report or workbook into `path`, written to a temporary file in the same folder and
// put in place of `path` by finish(); destroying an unfinished writer removes the temporary
// file and leaves an existing `path` as it was. The temporary file is unnamed where the file
// system allows (nothing is left however the process ends); elsewhere it is a hidden file
// with a short name, removed also when SIGINT, SIGTERM or SIGHUP ends the process. A result
// name of any length the file system accepts can be written.
std::unique_ptr<ResultWriter> makeResultFileWriter(const std::string& path, DataFileType type);

namespace detail {
// For tests: use the hidden named temporary file even where an unnamed one is possible.
void setNamedTemporaryFilesOnly(bool on);
} // namespace detail

} // namespace dormal
