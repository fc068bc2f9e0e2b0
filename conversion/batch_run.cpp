#include "conversion/batch_run.h"


#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <exception>
#include <filesystem>
#include <functional>
#include <iostream>
#include <mutex>
#include <new>
#include <optional>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

#include "grid/text_encoding.h"

namespace dormal {

namespace {

namespace fs = std::filesystem;

// Whether two paths name the same file: equal ignoring case, the same file on disk (hard
// links, symbolic links), or the same place once "." and ".." and links are resolved.
bool sameFile(const std::string& a, const std::string& b) {
    if (asciiUpperCase(a) == asciiUpperCase(b)) {
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
    return asciiUpperCase(ca.string()) == asciiUpperCase(cb.string());
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

// A writer's failure names the file it was writing (or standard output) and the cause.
Message writeErrorMessage(const WriteError& e) {
    if (e.onStandardOutput()) {
        return Message{MessageIcon::Error, kTitleErrore, {"IMPOSSIBILE SCRIVERE I RISULTATI", "(uscita standard)", e.cause()}};
    }
    return Message{MessageIcon::Error, kTitleErrore, {"IMPOSSIBILE SCRIVERE IL FILE DEI RISULTATI", e.path(), e.cause()}};
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

// Whether the portion, or any portion of the working set, holds global-model geoid heights.
bool anyGlobalGeoid(const ConversionContext& ctx) {
    if (ctx.set != nullptr) {
        for (std::size_t i = 0; i < ctx.set->size(); ++i) {
            if (ctx.set->portion(i).globalGeoid != 0) {
                return true;
            }
        }
        return false;
    }
    return ctx.portion != nullptr && ctx.portion->globalGeoid != 0;
}

Message summaryMessage(const ConversionContext& ctx, long pointCount, long outsideCount) {
    Message m = info({"PROCEDURA TERMINATA CON SUCCESSO:", labelledCount("PUNTI TRATTATI:  ", pointCount)});
    if (ctx.sel.inputSystem != ctx.sel.outputSystem) {
        m.lines.push_back(labelledCount("PUNTI NON CALCOLATI PERCHE' FUORI DALLA GRIGLIA: ", outsideCount));
        if (ctx.heights && anyGlobalGeoid(ctx)) {
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
    // Set by the conversion: points outside the grid before the point that failed (all of
    // them when none did), and that point's index (n when none).
    long outside = 0;
    std::size_t failedAt = 0;
    // With a working set: the points each portion converted, in set order.
    std::vector<long> perPortion;
};

// Converts the points of a block, stopping at the first point that cannot be computed.
void convertPoints(const BatchRequest& req, Block& b) {
    if (b.res.size() < b.n) {
        b.res.resize(b.n);
    }
    b.outside = 0;
    b.failedAt = b.n;
    b.perPortion.assign(req.ctx.set != nullptr ? req.ctx.set->size() : 0, 0);
    for (std::size_t i = 0; i < b.n; ++i) {
        const DataPoint& p = b.pts[i];
        b.res[i] = convertPoint(req.ctx, PointInput{p.first, p.second, p.height}, RunKind::Batch);
        const PointStatus st = b.res[i].status;
        if (b.res[i].portionIndex >= 0) {
            ++b.perPortion[static_cast<std::size_t>(b.res[i].portionIndex)];
        }
        if (st == PointStatus::OutsideGrid) {
            ++b.outside;
        } else if (st != PointStatus::Converted) {
            b.failedAt = i;
            return;
        }
    }
}

// Adds a converted block to the counts. Returns false (with `failure`) when one of its points
// could not be computed; the points outside the grid before it are counted.
bool countBlock(const Block& b, BatchOutcome& out, Message& failure) {
    out.outsideCount += b.outside;
    if (out.pointsPerPortion.size() < b.perPortion.size()) {
        out.pointsPerPortion.resize(b.perPortion.size(), 0);
    }
    for (std::size_t i = 0; i < b.perPortion.size(); ++i) {
        out.pointsPerPortion[i] += b.perPortion[i];
    }
    if (b.failedAt < b.n) {
        failure = pointFailedMessage(b.pts[b.failedAt]);
        return false;
    }
    out.pointCount += static_cast<long>(b.n);
    return true;
}

// Converts the points of a block. Returns false (with `failure`) when a point cannot be
// computed; points outside the grid are counted.
bool convertBlock(const BatchRequest& req, Block& b, BatchOutcome& out, Message& failure) {
    convertPoints(req, b);
    return countBlock(b, out, failure);
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

// The converter's pipeline: the calling thread reads blocks and hands them over in order;
// a pool of workers converts them, any of them any block; one writing thread takes them back
// in the order they were read, counts them and writes them. A ring of blocks bounds the
// memory: the reader waits for a free block when every block is busy. A block whose
// conversion failed, or a writer's failure, stops the writing: later blocks are neither
// counted nor written, as in a run on one thread.
class Pipeline {
public:
    Pipeline(const BatchRequest& req, std::size_t blockSize, unsigned workers)
        : req_(req), blockSize_(blockSize), blocks_(2 * static_cast<std::size_t>(workers) + 2),
          state_(blocks_.size(), State::Free) {
        for (unsigned i = 0; i < workers; ++i) {
            threads_.emplace_back([this] { convertLoop(); });
        }
    }
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    ~Pipeline() {
        {
            const std::lock_guard<std::mutex> lock(m_);
            closing_ = true;
            stopped_ = true;
        }
        notifyEveryone();
        for (std::thread& t : threads_) {
            t.join();
        }
    }

    // A free block for the reader (the oldest free one, in ring order); null once the
    // writing stopped. Blocks until one is free. A block gets its room for points when it is
    // first used: a short file touches one block's memory, not the ring's.
    Block* nextFree() {
        Block* b = nullptr;
        {
            std::unique_lock<std::mutex> lock(m_);
            const std::size_t slot = slotOf(readSeq_);
            readerCv_.wait(lock, [&] { return stopped_ || state_[slot] == State::Free; });
            if (stopped_) {
                return nullptr;
            }
            b = &blocks_[slot];
        }
        if (b->pts.size() < blockSize_) {
            b->pts.resize(blockSize_); // a free block is the reader's alone
        }
        return b;
    }

    // Hands the block from nextFree() over, filled with b.n > 0 points. The first block
    // starts the writing thread, on `writer`.
    void submit(ResultWriter& writer) {
        {
            const std::lock_guard<std::mutex> lock(m_);
            state_[slotOf(readSeq_)] = State::Read;
            ++readSeq_;
        }
        if (!writerStarted_) {
            threads_.emplace_back([this, &writer] { writeLoop(writer); });
            writerStarted_ = true;
        }
        workerCv_.notify_one();
    }

    // Waits until every block handed over is written, or the writing stopped.
    void drain() {
        std::unique_lock<std::mutex> lock(m_);
        readerCv_.wait(lock, [&] { return stopped_ || writtenSeq_ == readSeq_; });
    }

    // Calls `progress(points written, 0)` once for every block written since the last call.
    void reportProgress(const std::function<void(long, long)>& progress) {
        std::vector<long> marks;
        {
            const std::lock_guard<std::mutex> lock(m_);
            marks.swap(progressMarks_);
        }
        for (const long w : marks) {
            progress(w, 0);
        }
    }

    // After drain(): the counts of the blocks written, and what stopped the writing.
    const BatchOutcome& counts() const { return counts_; }
    std::exception_ptr error() const { return error_; }
    const std::optional<Message>& failure() const { return failure_; }

private:
    enum class State { Free, Read, Converting, Converted };

    std::size_t slotOf(long seq) const { return static_cast<std::size_t>(seq % static_cast<long>(blocks_.size())); }

    // Each kind of thread waits on its own condition: a change wakes only the thread that
    // can go on (a thread woken for nothing costs a context switch). A stop wakes them all.
    void notifyEveryone() {
        readerCv_.notify_all();
        workerCv_.notify_all();
        writerCv_.notify_all();
    }

    void convertLoop() {
        std::unique_lock<std::mutex> lock(m_);
        for (;;) {
            workerCv_.wait(lock, [&] { return closing_ || convertSeq_ < readSeq_; });
            if (closing_) {
                return;
            }
            const std::size_t slot = slotOf(convertSeq_++);
            state_[slot] = State::Converting;
            lock.unlock();
            std::exception_ptr error;
            try {
                convertPoints(req_, blocks_[slot]);
            } catch (...) {
                error = std::current_exception(); // memory ran out
            }
            lock.lock();
            state_[slot] = State::Converted;
            if (error && !error_) {
                error_ = error;
                stopped_ = true;
                notifyEveryone();
            } else if (slot == slotOf(writtenSeq_)) {
                writerCv_.notify_one(); // the block the writer waits for
            }
        }
    }

    void writeLoop(ResultWriter& writer) {
        std::unique_lock<std::mutex> lock(m_);
        long written = 0;
        for (;;) {
            writerCv_.wait(lock, [&] { return stopped_ || state_[slotOf(writtenSeq_)] == State::Converted; });
            if (stopped_) {
                return;
            }
            Block& b = blocks_[slotOf(writtenSeq_)];
            lock.unlock();
            Message failure;
            bool ok = countBlock(b, counts_, failure);
            std::exception_ptr error;
            if (ok) {
                try {
                    writeBlock(writer, b, written, 0, nullptr);
                } catch (...) {
                    error = std::current_exception();
                }
            }
            lock.lock();
            if (!ok) {
                failure_ = std::move(failure);
                stopped_ = true;
            } else if (error) {
                if (!error_) {
                    error_ = error;
                }
                stopped_ = true;
            } else {
                progressMarks_.push_back(written);
                state_[slotOf(writtenSeq_)] = State::Free;
                ++writtenSeq_;
            }
            if (stopped_) {
                notifyEveryone();
            } else {
                readerCv_.notify_one(); // a free block, or the last one written
            }
        }
    }

    const BatchRequest& req_;
    std::size_t blockSize_;
    std::vector<Block> blocks_;
    std::vector<State> state_;
    std::vector<std::thread> threads_;
    bool writerStarted_ = false;
    std::mutex m_;
    std::condition_variable readerCv_; // the reading thread: a free block, or all written
    std::condition_variable workerCv_; // the workers: a block read
    std::condition_variable writerCv_; // the writing thread: its next block converted
    long readSeq_ = 0;    // blocks handed over
    long convertSeq_ = 0; // blocks taken by a worker
    long writtenSeq_ = 0; // blocks written
    bool stopped_ = false;
    bool closing_ = false;
    std::vector<long> progressMarks_;
    BatchOutcome counts_;
    std::optional<Message> failure_;
    std::exception_ptr error_;
};

BatchOutcome failed(Message m, BatchStatus s = BatchStatus::Failed) {
    BatchOutcome o;
    o.status = s;
    o.message = std::move(m);
    return o;
}

// Keeps the counts so far in a failed outcome.
BatchOutcome stoppedWith(const BatchOutcome& counts, Message m) {
    BatchOutcome o = failed(std::move(m));
    o.pointCount = counts.pointCount;
    o.outsideCount = counts.outsideCount;
    o.readingErrorCount = counts.readingErrorCount;
    o.pointsPerPortion = counts.pointsPerPortion;
    return o;
}

// The outcome of a run that the exception being handled ended: a write failure or a run
// failure, with the counts so far. Call only inside a catch block; anything that is not a
// standard exception goes on up.
BatchOutcome stoppedByException(const BatchOutcome& out) {
    try {
        throw;
    } catch (const WriteError& e) {
        return stoppedWith(out, writeErrorMessage(e));
    } catch (const std::bad_alloc&) {
        return stoppedWith(out, runFailureMessage("MEMORIA INSUFFICIENTE"));
    } catch (const std::exception& e) {
        return stoppedWith(out, runFailureMessage(e.what()));
    }
}

// The result writer of a run, made when the first point is read, with its header written.
bool startWriter(const BatchRequest& req, std::unique_ptr<ResultWriter>& writer) {
    const bool sameSystem = req.ctx.sel.inputSystem == req.ctx.sel.outputSystem;
    ResultHeader header;
    header.sel = req.ctx.sel;
    header.heights = req.ctx.heights;
    header.portion = sameSystem ? nullptr : req.ctx.portion;
    header.decimalSeparator = req.decimalSeparator;
    header.portionCount = sameSystem || req.ctx.set == nullptr ? 1 : req.ctx.set->size();
    writer = req.resultPath == "-" ? makeAsciiReportWriter(std::cout) : makeResultFileWriter(req.resultPath, req.type);
    if (!writer) {
        return false;
    }
    writer->writeHeader(header);
    return true;
}

// The end of every pass: no point at all, or the writer's last part.
BatchOutcome finishRun(const BatchRequest& req, BatchOutcome out, std::unique_ptr<ResultWriter>& writer) {
    if (!writer) {
        BatchOutcome o = stoppedWith(out, noPointMessage());
        o.status = BatchStatus::Refused;
        return o;
    }
    writer->finish();
    out.status = BatchStatus::Completed;
    out.message = summaryMessage(req.ctx, out.pointCount, out.outsideCount);
    return out;
}

unsigned workerCount(const BatchRequest& req) {
    return req.workers > 0 ? static_cast<unsigned>(req.workers) : std::max(1U, std::thread::hardware_concurrency());
}

// Points of the pipeline's blocks when the whole file was read first.
constexpr std::size_t kPooledBlock = 4096;

// Converts and writes the points of `all`, read from the whole file (the window's run: the
// file is judged whole before anything is converted), through the pipeline; their names
// are moved out. Progress once a block is written, with the total. False with `failure`
// when a point could not be computed (nothing after it is written, as on one thread);
// throws what the writing threw.
bool convertWritePooled(const BatchRequest& req, const BatchCallbacks& cb, Block& all, ResultWriter& writer,
                        BatchOutcome& out, Message& failure) {
    const long total = static_cast<long>(all.n);
    const std::function<void(long, long)> progress = [&](long done, long) { cb.onProgress(done, total); };
    std::exception_ptr error;
    std::optional<Message> pointFailure;
    {
        Pipeline pipe(req, kPooledBlock, workerCount(req));
        for (std::size_t at = 0; at < all.n;) {
            Block* b = pipe.nextFree();
            if (b == nullptr) {
                break; // the writing stopped
            }
            b->n = std::min(kPooledBlock, all.n - at);
            for (std::size_t i = 0; i < b->n; ++i) {
                b->pts[i] = std::move(all.pts[at + i]);
            }
            at += b->n;
            pipe.submit(writer);
            if (cb.onProgress) {
                pipe.reportProgress(progress);
            }
        }
        pipe.drain();
        if (cb.onProgress) {
            pipe.reportProgress(progress);
        }
        out.pointCount = pipe.counts().pointCount;
        out.outsideCount = pipe.counts().outsideCount;
        out.pointsPerPortion = pipe.counts().pointsPerPortion;
        error = pipe.error();
        pointFailure = pipe.failure();
    }
    if (pointFailure) {
        failure = std::move(*pointFailure);
        return false;
    }
    if (error) {
        std::rethrow_exception(error);
    }
    return true;
}

// Reads, converts and writes every point on the calling thread (the window's run), in
// blocks or all at once. All at once with `overlapWriting`, the points read are converted
// and written through the pipeline. `writer` is created here when the first point is read.
BatchOutcome readConvertWrite(const BatchRequest& req, const BatchCallbacks& cb, DataSource& src,
                              std::unique_ptr<ResultWriter>& writer) {
    const std::size_t block = req.blockSize > 0 ? static_cast<std::size_t>(req.blockSize) : 0;
    // Reading a whole file at once stops one point past the limit: enough to refuse it.
    const std::size_t readLimit =
        block != 0 ? block : (req.maxPoints > 0 ? static_cast<std::size_t>(req.maxPoints) + 1 : 0);

    BatchOutcome out;
    try {
        Block b;
        ReadEvent ev;
        Message failure;
        long readSoFar = 0;
        long written = 0;
        for (;;) {
            if (block != 0 && b.pts.size() < block) {
                b.pts.resize(block);
            }
            const ReadState state = readPoints(src, ev, b.pts, b.n, readLimit, cb, failure, out.readingErrorCount);
            if (state == ReadState::Failure) {
                return stoppedWith(out, std::move(failure));
            }
            readSoFar += static_cast<long>(b.n);
            if (req.maxPoints > 0 && readSoFar > req.maxPoints) {
                return stoppedWith(out, tooManyPointsMessage(req.dataPath, req.maxPoints));
            }
            if (b.n > 0 && !writer && !startWriter(req, writer)) {
                return stoppedWith(out, writeFailureMessage(req.resultPath, "SCRITTURA NON DISPONIBILE"));
            }
            if (b.n > 0 && block == 0 && req.overlapWriting) {
                if (!convertWritePooled(req, cb, b, *writer, out, failure)) {
                    return stoppedWith(out, std::move(failure));
                }
                break;
            }
            if (b.n > 0 && !convertBlock(req, b, out, failure)) {
                return stoppedWith(out, std::move(failure));
            }
            if (b.n > 0) {
                // The total is known only when the whole file was read before writing.
                const long total = block == 0 ? readSoFar : 0;
                writeBlock(*writer, b, written, total, cb.onProgress ? &cb.onProgress : nullptr);
            }
            if (state == ReadState::End || block == 0) {
                break;
            }
        }
        return finishRun(req, out, writer);
    } catch (...) {
        return stoppedByException(out);
    }
}

// The same through the pipeline (the batch converter): this thread reads, the workers
// convert, the writing thread writes. Reading errors are reported here, in line order, as
// they are read; progress once a block is written, total 0.
BatchOutcome readConvertWritePooled(const BatchRequest& req, const BatchCallbacks& cb, DataSource& src,
                                    std::unique_ptr<ResultWriter>& writer) {
    const auto block = static_cast<std::size_t>(req.blockSize);
    const unsigned workers = workerCount(req);

    BatchOutcome out;
    try {
        std::optional<Message> stop; // what stopped the reading: a read failure, too many points
        std::exception_ptr error;
        std::optional<Message> pointFailure;
        {
            Pipeline pipe(req, block, workers);
            ReadEvent ev;
            Message failure;
            long readSoFar = 0;
            for (;;) {
                Block* b = pipe.nextFree();
                if (b == nullptr) {
                    break; // the writing stopped
                }
                const ReadState state =
                    readPoints(src, ev, b->pts, b->n, block, cb, failure, out.readingErrorCount);
                if (cb.onProgress) {
                    pipe.reportProgress(cb.onProgress);
                }
                if (state == ReadState::Failure) {
                    stop = std::move(failure);
                    break;
                }
                readSoFar += static_cast<long>(b->n);
                if (req.maxPoints > 0 && readSoFar > req.maxPoints) {
                    stop = tooManyPointsMessage(req.dataPath, req.maxPoints);
                    break;
                }
                if (b->n > 0) {
                    if (!writer && !startWriter(req, writer)) {
                        stop = writeFailureMessage(req.resultPath, "SCRITTURA NON DISPONIBILE");
                        break;
                    }
                    pipe.submit(*writer);
                }
                if (state == ReadState::End) {
                    break;
                }
            }
            pipe.drain();
            if (cb.onProgress) {
                pipe.reportProgress(cb.onProgress);
            }
            out.pointCount = pipe.counts().pointCount;
            out.outsideCount = pipe.counts().outsideCount;
            out.pointsPerPortion = pipe.counts().pointsPerPortion;
            error = pipe.error();
            pointFailure = pipe.failure();
        } // the threads end here, before the writer is used again
        // An earlier block's point comes before anything the reading met later.
        if (pointFailure) {
            return stoppedWith(out, std::move(*pointFailure));
        }
        if (error) {
            std::rethrow_exception(error);
        }
        if (stop) {
            return stoppedWith(out, std::move(*stop));
        }
        return finishRun(req, out, writer);
    } catch (...) {
        return stoppedByException(out);
    }
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
    for (std::size_t i = 0; req.ctx.set != nullptr && i < req.ctx.set->size(); ++i) {
        if (std::optional<Message> m = batchFileChecks(req.dataPath, req.resultPath, req.ctx.set->portion(i).sourcePath)) {
            return failed(std::move(*m), BatchStatus::Refused);
        }
    }

    if (req.resultPath != "-" && existsButNotAFile(req.resultPath)) {
        return failed(writeFailureMessage(req.resultPath, "NON E' UN FILE ORDINARIO"));
    }

    DataReadOptions opt;
    opt.inputKind = req.ctx.sel.inputKind;
    opt.readHeight = req.ctx.heights;
    opt.allowStreams = req.allowStreams;
    if (req.checkValues) {
        opt.inputSystem = req.ctx.sel.inputSystem;
        opt.inputZone = req.ctx.sel.inputZone;
    }
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
    BatchOutcome out = req.overlapWriting && req.blockSize > 0 ? readConvertWritePooled(req, cb, *src, writer)
                                                               : readConvertWrite(req, cb, *src, writer);
    if (out.status == BatchStatus::Failed && req.resultPath == "-" && writer && writer->started()) {
        out.partialOutput = true;
        markOutputIncomplete(out.message);
    }
    return out;
}

Message batchSummaryMessage(const ConversionContext& ctx, long pointCount, long outsideCount) {
    return summaryMessage(ctx, pointCount, outsideCount);
}

Message batchNoPointMessage() {
    return noPointMessage();
}

void addPortionCounts(Message& summary, const PortionSet& set, const BatchOutcome& outcome) {
    // Up to kListedPortions every portion in set order; beyond, those with most points (ties
    // in set order), then one line for the rest, so that a large folder does not flood it.
    constexpr std::size_t kListedPortions = 20;
    const std::size_t n = std::min(set.size(), outcome.pointsPerPortion.size());
    std::vector<std::size_t> order(n);
    for (std::size_t i = 0; i < n; ++i) {
        order[i] = i;
    }
    if (n > kListedPortions) {
        std::stable_sort(order.begin(), order.end(), [&outcome](std::size_t a, std::size_t b) {
            return outcome.pointsPerPortion[a] > outcome.pointsPerPortion[b];
        });
    }
    long rest = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const std::size_t i = order[k];
        if (k >= kListedPortions) {
            rest += outcome.pointsPerPortion[i];
            continue;
        }
        const std::string& path = set.portion(i).sourcePath;
        const std::size_t slash = path.rfind('/');
        const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
        summary.lines.push_back("PUNTI CALCOLATI CON " + name + ":  " + std::to_string(outcome.pointsPerPortion[i]));
    }
    if (n > kListedPortions) {
        summary.lines.push_back("altre " + std::to_string(n - kListedPortions) + " porzioni: " + std::to_string(rest) +
                                " punti");
    }
}

} // namespace dormal
