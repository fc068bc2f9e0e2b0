#include "ui/run_controller.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QMetaObject>

#include <atomic>
#include <cmath>
#include <exception>
#include <functional>
#include <thread>

#include "conversion/formats.h"
#include "ui/wz_text.h"

namespace dormal::ui {

namespace {

char separatorByte(QChar c) {
    const char16_t u = c.unicode();
    return u > 0x20 && u < 0x7f ? static_cast<char>(u) : '.';
}

QString text(const std::string& s) {
    return QString::fromStdString(s);
}

bool finiteResult(const PointResult& r, bool heights) {
    return std::isfinite(r.outFirst) && std::isfinite(r.outSecond) && (!heights || std::isfinite(r.outHeight));
}

// Busy pointer, progress bar and "Esegui" as every batch run that passed the common checks
// leaves them, whichever way it ends (also when a called function throws).
class BatchEndGuard {
public:
    explicit BatchEndGuard(RunView& view) : view_(view) {}
    ~BatchEndGuard() {
        view_.setProgressVisible(false, 0);
        view_.setBusy(false);
        view_.setExecuteEnabled(false);
    }
    BatchEndGuard(const BatchEndGuard&) = delete;
    BatchEndGuard& operator=(const BatchEndGuard&) = delete;

private:
    RunView& view_;
};

Message unexpectedFailure(const char* what) {
    Message m;
    m.icon = MessageIcon::Error;
    m.title = kTitleErrore;
    m.lines = {"ELABORAZIONE INTERROTTA PER UN ERRORE IMPREVISTO:", what};
    return m;
}

// Runs the batch on a thread of its own while this (the window's) thread keeps its event
// loop going without user input: the window repaints, timers fire, the progress bar moves.
// A reading error waits on the run's thread until its box is answered here, so boxes come in
// the order the lines are read; progress comes queued, only the latest value when several
// are waiting.
void runOnItsThread(const BatchRequest& req, const std::function<void(const Message&)>& showWhileBusy,
                    const std::function<void(long, long)>& showProgress, BatchOutcome& outcome,
                    std::exception_ptr& thrown) {
    QEventLoop loop;
    std::atomic<long> latestDone{0};
    std::atomic<long> latestTotal{0};
    std::atomic<bool> progressQueued{false};
    // Declared last, so it goes first: calls still queued to it are dropped with it.
    QObject relay;

    BatchCallbacks cb;
    cb.onReadingError = [&](const Message& m) {
        QMetaObject::invokeMethod(
            &relay, [&] { showWhileBusy(m); }, Qt::BlockingQueuedConnection);
    };
    cb.onProgress = [&](long done, long total) {
        latestTotal.store(total);
        latestDone.store(done);
        if (!progressQueued.exchange(true)) {
            QMetaObject::invokeMethod(
                &relay,
                [&] {
                    progressQueued.store(false);
                    showProgress(latestDone.load(), latestTotal.load());
                },
                Qt::QueuedConnection);
        }
    };
    std::atomic<bool> finished{false};
    std::thread run([&] {
        try {
            outcome = runBatch(req, cb);
        } catch (...) {
            thrown = std::current_exception();
        }
        finished.store(true);
        QMetaObject::invokeMethod(
            &relay, [&] { loop.quit(); }, Qt::QueuedConnection);
    });
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    // The loop also ends when the application is asked to quit (its last window closed):
    // the run goes on to its end, and its reading-error boxes, which wait on this thread,
    // still need this thread to serve them, so it does until the run is over.
    while (!finished.load())
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::WaitForMoreEvents);
    run.join();
}

} // namespace

void RunController::run(const RunInputs& in, RunView& view) {
    const bool useSet = in.set != nullptr && !in.set->empty();
    const bool gridSelected = useSet || (in.fileSelected && in.portion != nullptr);
    if (const std::optional<Message> refusal = commonChecks(in.sel, gridSelected)) {
        dialogs_.showMessage(view.dialogParent(), *refusal);
        return;
    }
    ConversionContext ctx{in.sel, in.heights, gridSelected ? in.portion : nullptr, gridSelected ? in.limits : nullptr};
    if (useSet) {
        // The first portion names the set (its kind words the outside-grid message).
        ctx.set = in.set;
        ctx.portion = &in.set->portion(0);
        ctx.limits = &in.set->limits(0);
    }
    if (in.inputMode == 1)
        runFile(in, ctx, view);
    else
        runKeyboard(in, ctx, view);
}

void RunController::runKeyboard(const RunInputs& in, const ConversionContext& ctx, RunView& view) {
    if (in.firstFieldEmpty) {
        dialogs_.showMessage(view.dialogParent(), missingCoordinatesMessage());
        view.focusInputField(FieldRef::First);
        return;
    }
    if (in.unreadableField != FieldRef::None) {
        dialogs_.showMessage(view.dialogParent(), in.unreadableMessage);
        view.focusInputField(in.unreadableField);
        return;
    }
    view.clearOutputFields();

    PointInput point;
    if (in.sel.inputKind == CoordKind::Plane) {
        point.first = in.inputNorth;
        point.second = in.inputEast;
    } else {
        point.first = in.inputLat;
        point.second = in.inputLon;
    }
    point.height = in.inputHeight;
    const PointResult r = convertPoint(ctx, point, RunKind::SinglePoint);

    // Zero-corner boxes, then the failed check or the warnings, in the order they arose.
    for (const Message& m : singlePointMessages(ctx, r))
        dialogs_.showMessage(view.dialogParent(), m);
    if (r.status != PointStatus::Converted) {
        const FieldRef field = focusField(r.status);
        if (field != FieldRef::None)
            view.focusInputField(field);
        return;
    }
    if (!finiteResult(r, in.heights)) {
        // Never leave the fields empty without a word.
        dialogs_.showMessage(view.dialogParent(), pointFailureMessage());
        return;
    }

    const char sep = separatorByte(in.decimalSeparator);
    QString first, second, height, zone;
    if (in.sel.outputKind == CoordKind::Plane) {
        first = text(formatPlaneField(r.outFirst, sep));
        second = text(formatPlaneField(r.outSecond, sep));
        zone = QString::fromUtf8(r.zoneText);
    } else {
        first = text(formatSexagesimalField(r.outFirst * 10000.0, sep));
        second = text(formatSexagesimalField(r.outSecond * 10000.0, sep));
    }
    if (in.heights)
        height = text(formatHeightField(r.outHeight, sep));
    view.setOutputFields(first, second, height, zone);

    if (const std::optional<Message> note = globalGeoidMessage(ctx))
        dialogs_.showMessage(view.dialogParent(), *note);
}

void RunController::runFile(const RunInputs& in, const ConversionContext& ctx, RunView& view) {
    BatchEndGuard end(view);

    BatchRequest req;
    req.ctx = ctx;
    req.type = in.dataFileType;
    req.dataPath = toFileName(in.dataFilePath);
    req.resultPath = toFileName(in.resultFilePath);
    req.decimalSeparator = separatorByte(in.decimalSeparator);
    req.maxPoints = kWindowPointLimit;
    req.blockSize = 0;
    // The file is read and judged whole, then converted by a worker a core and written on
    // a thread of its own (the batch converter's pipeline).
    req.overlapWriting = true;
    req.workers = 0;

    bool progressShown = false;
    // A box shown while the run is busy gets the ordinary pointer; the busy one comes back
    // until the run ends.
    auto showWhileBusy = [&](const Message& m) {
        view.setBusy(false);
        dialogs_.showMessage(view.dialogParent(), m);
        view.setBusy(true);
    };
    auto showProgress = [&](long done, long total) {
        if (!progressShown) {
            view.setProgressVisible(true, total);
            view.setProgressValue(0);
            progressShown = true;
        }
        view.setProgressValue(done);
    };

    // The names are checked before the busy pointer comes, so a refusal is an ordinary box.
    const std::string gridPath = ctx.portion != nullptr ? ctx.portion->sourcePath : std::string();
    if (const std::optional<Message> refusal = batchFileChecks(req.dataPath, req.resultPath, gridPath)) {
        dialogs_.showMessage(view.dialogParent(), *refusal);
        return;
    }
    for (std::size_t i = 0; ctx.set != nullptr && i < ctx.set->size(); ++i) {
        const std::string& path = ctx.set->portion(i).sourcePath;
        if (const std::optional<Message> refusal = batchFileChecks(req.dataPath, req.resultPath, path)) {
            dialogs_.showMessage(view.dialogParent(), *refusal);
            return;
        }
    }
    view.setBusy(true);
    BatchOutcome outcome;
    std::exception_ptr thrown;
    if (QCoreApplication::instance() == nullptr) {
        // No event loop to keep running: the run stays on this thread.
        BatchCallbacks cb;
        cb.onReadingError = showWhileBusy;
        cb.onProgress = showProgress;
        try {
            outcome = runBatch(req, cb);
        } catch (...) {
            thrown = std::current_exception();
        }
    } else {
        runOnItsThread(req, showWhileBusy, showProgress, outcome, thrown);
    }
    if (thrown) {
        try {
            std::rethrow_exception(thrown);
        } catch (const std::exception& e) {
            showWhileBusy(unexpectedFailure(e.what()));
            return;
        }
    }
    if (outcome.status == BatchStatus::Completed && ctx.set != nullptr)
        addPortionCounts(outcome.message, *ctx.set, outcome);
    if (!outcome.message.lines.empty())
        showWhileBusy(outcome.message); // the summary, or why the run stopped
}

} // namespace dormal::ui
