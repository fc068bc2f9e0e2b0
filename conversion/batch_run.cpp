#include "conversion/batch_run.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <functional>
#include <future>
#include <iostream>
#include <new>
#include <system_error>
#include <utility>
#include <vector>

namespace dormal {

namespace {

namespace fs = std::filesystem;

std::string upperCase(std::string s) {
    std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return s;
}

// Whether two paths name the same file: equal ignoring case, the same file on disk (hard
// links, symbolic links), or the same place once "." and ".." and links are resolved.
bool sameFile(const std::string& a, const std::string& b) {
    if (upperCase(a) == upperCase(b)) {
        return true;
    }
    std::error_code ec;
    if (fs::equivalent(a, b, ec) && !ec) {
        return true;
    }
    ec.clear();
    const fs::path ca = fs::weakly_canonical(a, ec);
    if (ec) {
        return false;
    }
    const fs::path cb = fs::weakly_canonical(b, ec);
    if (ec) {
        return false;
    }
    return upperCase(ca.string()) == upperCase(cb.string());
}

Message info(std::vector<std::string> lines) {
    return Message{MessageIcon::Information, kAppTitle, std::move(lines)};
}

Message noPointMessage() {
    return info({"IL FILE DATI NON CONTIENE", "NESSUN PUNTO VALIDO"});
}

Message tooManyPointsMessage(const std::string& path, long limit) {
    return Message{MessageIcon::Warning,
                   kAppTitle,
                   {"IL FILE DATI CONTIENE PIU' DI " + std::to_string(limit) + " PUNTI:", path,
                    "DIVIDERE IL FILE: NESSUN RISULTATO E' STATO SCRITTO"}};
}

std::string shownResultPath(const std::string& path) {
    return path == "-" ? "(uscita standard)" : path;
}

Message writeFailureMessage(const std::string& path, const char* cause) {
    return Message{
        MessageIcon::Error, kTitleErrore, {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", shownResultPath(path), cause}};
}

// A writer's failure: its text already names the file and the cause, one line each.
Message writeErrorMessage(const std::string& path, const WriteError& e) {
    const std::string text = e.what();
    if (text.find('\n') == std::string::npos) {
        return writeFailureMessage(path, text.c_str());
    }
    Message m{MessageIcon::Error, kTitleErrore, {}};
    std::size_t from = 0;
    for (std::size_t nl; (nl = text.find('\n', from)) != std::string::npos; from = nl + 1) {
        m.lines.push_back(text.substr(from, nl - from));
    }
    m.lines.push_back(text.substr(from));
    return m;
}

// A result path that names something other than a file (a device, a pipe, a folder): the
// result is written beside it and renamed over it, which must never replace such a thing.
bool existsButNotAFile(const std::string& path) {
    std::error_code ec;
    const fs::file_status st = fs::status(path, ec);
    return !ec && fs::exists(st) && !fs::is_regular_file(st);
}

Message runFailureMessage(const char* cause) {
    return Message{MessageIcon::Error, kTitleErrore, {"ELABORAZIONE INTERROTTA:", cause}};
}

constexpr const char* kNothingWritten = "ELABORAZIONE INTERROTTA: NESSUN RISULTATO E' STATO SCRITTO";
constexpr const char* kOutputIncomplete = "ELABORAZIONE INTERROTTA: USCITA INCOMPLETA, I RISULTATI SCRITTI SONO PARZIALI";

Message pointFailedMessage(const DataPoint& p) {
    return Message{MessageIcon::Error,
                   kTitleErrore,
                   {"IMPOSSIBILE CALCOLARE IL PUNTO " + p.name, "IL CALCOLO HA DATO UN RISULTATO NON VALIDO",
                    kNothingWritten}};
}

// A run that stopped after part of the report went to standard output: whatever the
// failure, the output is incomplete; a line saying that nothing was written would be false.
void markOutputIncomplete(Message& m) {
    std::erase(m.lines, std::string(kNothingWritten));
    m.lines.emplace_back(kOutputIncomplete);
}

// A label followed by a count written with one leading blank (the sign place of a positive number).
std::string labelledCount(const char* label, long count) {
    std::string s(label);
    s += ' ';
    s += std::to_string(count);
    return s;
}

Message summaryMessage(const ConversionContext& ctx, long pointCount, long outsideCount) {
    Message m = info({"PROCEDURA TERMINATA CON SUCCESSO:", labelledCount("PUNTI TRATTATI:  ", pointCount)});
    if (ctx.sel.inputSystem != ctx.sel.outputSystem) {
        m.lines.push_back(labelledCount("PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA: ", outsideCount));
        if (ctx.heights && ctx.portion != nullptr && ctx.portion->globalGeoid != 0) {
            m.lines.emplace_back("ATTENZIONE: QUOTE GEOIDICHE RIFERITE AL MODELLO GLOBALE");
        }
    }
    return m;
}

enum class ReadState { More, End, Failure };

// Reads points into pts[0..] until `limit` points are held (limit 0: no limit) or the file
// ends. Reading errors go to the callback as they happen and are counted in
// `readingErrors`. The vector's strings are reused.
ReadState readPoints(DataSource& src, ReadEvent& ev, std::vector<DataPoint>& pts, std::size_t& n, std::size_t limit,
                     const BatchCallbacks& cb, Message& failure, long& readingErrors) {
    n = 0;
    while (limit == 0 || n < limit) {
        src.next(ev);
        switch (ev.kind) {
        case ReadEvent::Kind::Point:
            if (n < pts.size()) {
                pts[n] = ev.point;
            } else {
                pts.push_back(ev.point);
            }
            ++n;
            break;
        case ReadEvent::Kind::ReadingError:
            ++readingErrors;
            if (cb.onReadingError) {
                cb.onReadingError(ev.message);
            }
            break;
        case ReadEvent::Kind::End:
            return ReadState::End;
        case ReadEvent::Kind::Failure:
            failure = ev.message;
            return ReadState::Failure;
        }
    }
    return ReadState::More;
}

// Points read together, and their results.
struct Block {
    std::vector<DataPoint> pts;
    std::vector<PointResult> res;
    std::size_t n = 0;
};

// Converts the points of a block. Returns false (with `failure`) when a point cannot be
// computed; points outside the grid are counted.
bool convertBlock(const BatchRequest& req, Block& b, BatchOutcome& out, Message& failure) {
    if (b.res.size() < b.n) {
        b.res.resize(b.n);
    }
    for (std::size_t i = 0; i < b.n; ++i) {
        const DataPoint& p = b.pts[i];
        b.res[i] = convertPoint(req.ctx, PointInput{p.first, p.second, p.height}, RunKind::Batch);
        const PointStatus st = b.res[i].status;
        if (st == PointStatus::OutsideGrid) {
            ++out.outsideCount;
        } else if (st != PointStatus::Converted) {
            failure = pointFailedMessage(p);
            return false;
        }
    }
    out.pointCount += static_cast<long>(b.n);
    return true;
}

// Writes the points of a block; with a callback, progress point by point.
void writeBlock(ResultWriter& w, const Block& b, long& written, long total,
                const std::function<void(long, long)>* progress) {
    for (std::size_t i = 0; i < b.n; ++i) {
        w.writePoint(b.pts[i], b.res[i]);
        ++written;
        if (progress != nullptr) {
            (*progress)(written, total);
        }
    }
}

BatchOutcome failed(Message m, BatchStatus s = BatchStatus::Failed) {
    BatchOutcome o;
    o.status = s;
    o.message = std::move(m);
    return o;
}

// Reads, converts and writes every point (the passes of a run whose files passed their
// checks). `writer` is created here when the first point is read; the block being
// written on the other thread is waited for before this returns.
BatchOutcome readConvertWrite(const BatchRequest& req, const BatchCallbacks& cb, DataSource& src,
                              std::unique_ptr<ResultWriter>& writer) {
    const bool sameSystem = req.ctx.sel.inputSystem == req.ctx.sel.outputSystem;
    const ResultHeader header{req.ctx.sel, req.ctx.heights, sameSystem ? nullptr : req.ctx.portion,
                              req.decimalSeparator};
    const std::size_t block = req.blockSize > 0 ? static_cast<std::size_t>(req.blockSize) : 0;
    // Reading a whole file at once stops one point past the limit: enough to refuse it.
    const std::size_t readLimit =
        block != 0 ? block : (req.maxPoints > 0 ? static_cast<std::size_t>(req.maxPoints) + 1 : 0);

    BatchOutcome out;
    // Every way out of this function keeps the counts so far.
    const auto stopped = [&out](Message m) {
        BatchOutcome o = failed(std::move(m));
        o.pointCount = out.pointCount;
        o.outsideCount = out.outsideCount;
        o.readingErrorCount = out.readingErrorCount;
        return o;
    };
    Block blocks[2];
    std::future<void> writing; // the previous block, being written while this one is converted
    // A block still being written is waited for on every way out, before `blocks` go.
    struct Join {
        std::future<void>& f;
        ~Join() {
            if (f.valid()) {
                f.wait();
            }
        }
    } join{writing};
    const bool overlap = req.overlapWriting && block != 0;
    const std::function<void(long, long)>* progress = cb.onProgress && !overlap ? &cb.onProgress : nullptr;
    try {
        ReadEvent ev;
        Message failure;
        long readSoFar = 0;
        long written = 0;
        for (int cur = 0;; cur ^= 1) {
            Block& b = blocks[overlap ? cur : 0];
            if (block != 0 && b.pts.size() < block) {
                b.pts.resize(block);
            }
            const ReadState state = readPoints(src, ev, b.pts, b.n, readLimit, cb, failure, out.readingErrorCount);
            if (state == ReadState::Failure) {
                return stopped(std::move(failure));
            }
            readSoFar += static_cast<long>(b.n);
            if (req.maxPoints > 0 && readSoFar > req.maxPoints) {
                return stopped(tooManyPointsMessage(req.dataPath, req.maxPoints));
            }
            if (b.n > 0 && !writer) {
                writer = req.resultPath == "-" ? makeAsciiReportWriter(std::cout)
                                               : makeResultFileWriter(req.resultPath, req.type);
                if (!writer) {
                    return stopped(writeFailureMessage(req.resultPath, "SCRITTURA NON DISPONIBILE"));
                }
                writer->writeHeader(header);
            }
            if (b.n > 0 && !convertBlock(req, b, out, failure)) {
                return stopped(std::move(failure));
            }
            if (writing.valid()) {
                writing.get(); // a failure of the other thread comes out here
                if (cb.onProgress) {
                    cb.onProgress(written, 0);
                }
            }
            if (b.n > 0) {
                // The total is known only when the whole file was read before writing.
                const long total = block == 0 ? readSoFar : 0;
                if (overlap) {
                    writing = std::async(std::launch::async,
                                         [&w = *writer, &b, &written] { writeBlock(w, b, written, 0, nullptr); });
                } else {
                    writeBlock(*writer, b, written, total, progress);
                }
            }
            if (state == ReadState::End || block == 0) {
                break;
            }
        }
        if (writing.valid()) {
            writing.get();
            if (cb.onProgress) {
                cb.onProgress(written, 0);
            }
        }
        if (!writer) {
            BatchOutcome o = stopped(noPointMessage());
            o.status = BatchStatus::Refused;
            return o;
        }
        writer->finish();
    } catch (const WriteError& e) {
        return stopped(writeErrorMessage(req.resultPath, e));
    } catch (const std::bad_alloc&) {
        return stopped(runFailureMessage("MEMORIA INSUFFICIENTE"));
    } catch (const std::exception& e) {
        return stopped(runFailureMessage(e.what()));
    }

    out.status = BatchStatus::Completed;
    out.message = summaryMessage(req.ctx, out.pointCount, out.outsideCount);
    return out;
}

} // namespace

std::optional<Message> batchFileChecks(const std::string& dataPath, const std::string& resultPath,
                                       const std::string& gridPath) {
    if (dataPath.empty()) {
        return Message{MessageIcon::Warning, kAppTitle, {"NON E' STATO SELEZIONATO  ", "IL FILE DEI DATI DI INPUT"}};
    }
    if (resultPath.empty()) {
        return Message{
            MessageIcon::Warning, kAppTitle, {"NON E' STATO INDICATO  ", "IL FILE SU CUI SCRIVERE I RISULTATI"}};
    }
    // "-" names a standard stream (input or output), never a file shared with the other side.
    if (dataPath != "-" && resultPath != "-" && sameFile(dataPath, resultPath)) {
        return Message{MessageIcon::Warning, kAppTitle, {"IL FILE DI INPUT E QUELLO  ", "DI OUTPUT SONO LO STESSO"}};
    }
    // The report would replace the grid portion it was computed with.
    if (!gridPath.empty() && resultPath != "-" && sameFile(gridPath, resultPath)) {
        return Message{MessageIcon::Warning,
                       kAppTitle,
                       {"IL FILE DEI RISULTATI E QUELLO  ", "DELLA PORZIONE DI GRIGLIA SONO LO STESSO",
                        "FILE DEI RISULTATI: " + resultPath, "FILE DI GRIGLIA: " + gridPath}};
    }
    return std::nullopt;
}

BatchOutcome runBatch(const BatchRequest& req, const BatchCallbacks& cb) {
    const std::string gridPath = req.ctx.portion != nullptr ? req.ctx.portion->sourcePath : std::string();
    if (std::optional<Message> m = batchFileChecks(req.dataPath, req.resultPath, gridPath)) {
        return failed(std::move(*m), BatchStatus::Refused);
    }

    if (req.resultPath != "-" && existsButNotAFile(req.resultPath)) {
        return failed(writeFailureMessage(req.resultPath, "NON E' UN FILE ORDINARIO"));
    }

    const DataReadOptions opt{req.ctx.sel.inputKind, req.ctx.heights, req.allowStreams};
    std::unique_ptr<DataSource> src;
    if (req.dataPath == "-") {
        src = makeAsciiSource(std::cin, opt);
    } else {
        Message openFailure;
        src = openDataFile(req.dataPath, req.type, opt, openFailure);
        if (!src) {
            return failed(std::move(openFailure));
        }
    }
    if (!src) {
        return failed(runFailureMessage("LETTORE DEI DATI NON DISPONIBILE"));
    }

    // The writer outlives the passes: an unfinished writer leaves the result file as it was
    // when it goes, and it tells afterwards whether standard output received anything.
    std::unique_ptr<ResultWriter> writer;
    BatchOutcome out = readConvertWrite(req, cb, *src, writer);
    if (out.status == BatchStatus::Failed && req.resultPath == "-" && writer && writer->started()) {
        out.partialOutput = true;
        markOutputIncomplete(out.message);
    }
    return out;
}

} // namespace dormal
