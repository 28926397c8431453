#include "filing/FilingSteps.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "filing/texts.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"

#include <QCoreApplication>
#include <QKeyEvent>

#include <atomic>

namespace ztv::filing {

void reportBrowse(OperationContext& context, const BrowsingArea::Listing& listing)
{
    if (listing.done())
        return;
    const QString text = listing.result == BrowsingArea::ListResult::Stopped
        ? QString::fromUtf16(filingtexts::BrowseCancelled)
        : QString::fromUtf16(filingtexts::BrowseError) + QString::number(listing.code());
    context.services().prompts.message(text);
}

BatchOutcome runBatch(BrowsingArea& tab, const QList<PictureChoice>& files, const char16_t* progressText,
    const std::function<FileResult(const QString& path)>& act)
{
    BatchOutcome outcome;
    outcome.total = int(files.size());
    auto problem = [&](const QString& path, const QString& reason) {
        outcome.problems
            << QString::fromUtf16(filingtexts::BatchProblem).arg(displayName(GetFileTitle(path)), reason);
    };
    const int ran = tab.runSteps(outcome.total, QString::fromUtf16(progressText), [&](int i) {
        const PictureChoice& file = files.at(i);
        if (!file.isStillOnDisk()) {
            problem(file.path, QString::fromUtf16(filingtexts::ChangedSinceChosen));
            return;
        }
        const FileResult result = act(file.path);
        if (result.ok()) {
            ++outcome.done;
            outcome.doneFiles << file.path;
        } else {
            problem(file.path,
                result.error == FileError::Exists ? QString::fromUtf16(filingtexts::FileExists)
                                                  : failureText(result, filingtexts::FilingError));
        }
    });
    outcome.stopped = ran < outcome.total;
    return outcome;
}

namespace {

// What a copy running aside tells the window, and the window's Esc for it. Esc, and the
// window closing, are seen here as they arrive, ahead of the run's own watch, so the copy
// stops at its next block.
class CopyWatch final : public QObject {
public:
    explicit CopyWatch(QObject* window)
        : m_window(window)
    {
    }
    std::atomic<qint64> done { 0 };
    std::atomic<qint64> total { 0 };
    std::atomic<bool> stop { false };
    std::atomic<bool> linePending { false };

    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if ((event->type() == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            || (event->type() == QEvent::Close && watched == m_window))
            stop = true;
        return QObject::eventFilter(watched, event); // the run's watch sees it too
    }

private:
    QObject* m_window;
};

} // namespace

FileResult copyWatched(
    BrowsingArea& tab, FileOps& ops, const QString& from, const QString& to, FolderFlushes* later)
{
    CopyWatch watch(tab.window());
    QCoreApplication::instance()->installEventFilter(&watch);
    const QString line
        = QString::fromUtf16(filingtexts::CopyingProgress).arg(displayName(GetFileTitle(from)));
    constexpr qint64 MB = 1000 * 1000;
    auto showLine = [&] {
        watch.linePending = false;
        tab.showStepLine(line.arg(watch.done / MB).arg((watch.total + MB - 1) / MB));
    };
    // Called on the copy's thread: the line is shown on the window's, one request at a time.
    const CopyProgress progress = [&](qint64 done, qint64 total) {
        watch.done = done;
        watch.total = total;
        if (total >= LargeCopyBytes && !watch.linePending.exchange(true))
            QMetaObject::invokeMethod(&watch, showLine, Qt::QueuedConnection);
        return !watch.stop;
    };
    const FileResult result
        = later ? ops.moveNoReplace(from, to, *later, progress) : ops.copyNoReplace(from, to, progress);
    QCoreApplication::instance()->removeEventFilter(&watch);
    return result;
}

void reportBatch(
    OperationContext& context, const BatchOutcome& outcome, const char16_t* doneText, const char16_t* title)
{
    if (!outcome.stopped && outcome.problems.isEmpty())
        return;
    QStringList lines { QString::fromUtf16(doneText).arg(outcome.done).arg(outcome.total) };
    if (outcome.stopped)
        lines << QString::fromUtf16(filingtexts::BatchStopped);
    if (!outcome.problems.isEmpty()) {
        // A message box taller than the screen would hide its button.
        constexpr int shown = 20;
        lines << QString::fromUtf16(filingtexts::BatchNotDone);
        lines << outcome.problems.mid(0, shown);
        if (outcome.problems.size() > shown)
            lines << QString::fromUtf16(filingtexts::BatchMore).arg(outcome.problems.size() - shown);
        showError(context, lines.join(u'\r'), title);
        return;
    }
    context.services().prompts.message(lines.join(u'\r'));
}

void showError(OperationContext& context, const QString& text, const char16_t* title)
{
    context.services().prompts.message(
        text, QString::fromUtf16(title), PromptIcon::Critical, PromptButtons::Ok);
}

void showError(OperationContext& context, const char16_t* text, const char16_t* title)
{
    showError(context, QString::fromUtf16(text), title);
}

QString failureText(const FileResult& result, const char16_t* fallback)
{
    return result.detail.isEmpty() ? QString::fromUtf16(fallback) : result.detail;
}

} // namespace ztv::filing
