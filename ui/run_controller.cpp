#include "ui/run_controller.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cmath>
#include <exception>

#include "conversion/formats.h"
#include "ui/wz_text.h"

namespace dormal::ui {

namespace {

// The window repaints the progress bar at most this often while a batch writes.
constexpr qint64 kRepaintIntervalMs = 50;

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

    bool progressShown = false;
    QElapsedTimer sinceRepaint;
    BatchCallbacks cb;
    // A box shown while the run is busy gets the ordinary pointer; the busy one comes back
    // until the run ends.
    auto showWhileBusy = [&](const Message& m) {
        view.setBusy(false);
        dialogs_.showMessage(view.dialogParent(), m);
        view.setBusy(true);
    };
    cb.onReadingError = showWhileBusy;
    cb.onProgress = [&](long done, long total) {
        if (!progressShown) {
            view.setProgressVisible(true, total);
            view.setProgressValue(0);
            progressShown = true;
            sinceRepaint.start();
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        }
        view.setProgressValue(done);
        if (sinceRepaint.elapsed() >= kRepaintIntervalMs || done == total) {
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
            sinceRepaint.restart();
        }
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
    try {
        outcome = runBatch(req, cb);
    } catch (const std::exception& e) {
        showWhileBusy(unexpectedFailure(e.what()));
        return;
    }
    if (outcome.status == BatchStatus::Completed && ctx.set != nullptr)
        addPortionCounts(outcome.message, *ctx.set, outcome);
    if (!outcome.message.lines.empty())
        showWhileBusy(outcome.message); // the summary, or why the run stopped
}

} // namespace dormal::ui
