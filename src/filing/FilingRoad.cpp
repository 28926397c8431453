#include "filing/FilingRoad.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "display/texts.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/History.h"
#include "filing/texts.h"
#include "platform/ContentIndex.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"
#include "platform/WorkAside.h"
#include "values/StoragePaths.h"

#include <QSet>
#include <QWidget>
#include <algorithm>

namespace ztv {

namespace T = filingtexts;
using Why = FilingOutcome::Why;

QStringList FilingOutcome::clashed() const
{
    QStringList out;
    for (const NotFiled& n : notFiled)
        if (n.why == Why::Clash)
            out << n.path;
    return out;
}

namespace filing {

namespace {

// The same files, whatever order they were chosen in.
bool sameFiles(const QList<PictureChoice>& a, const QList<PictureChoice>& b)
{
    auto key = [](const QList<PictureChoice>& files) {
        QList<std::pair<QString, FileIdentity>> keys;
        for (const PictureChoice& c : files)
            keys.append({ c.path, c.identity });
        std::sort(keys.begin(), keys.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
        return keys;
    };
    return key(a) == key(b);
}

// The request's files as the source tab still chooses them, checked against the disk; none
// (said so, the tab's choice ended where a file changed) when the choice moved on since.
std::optional<QList<PictureChoice>> stillChosen(OperationContext& context, const FilingRequest& request)
{
    Prompts& prompts = context.services().prompts;
    BrowsingArea& tab = context.area(*request.source);
    if (request.single()) {
        // The picture shown decides, as it always did for one picture.
        const std::optional<PictureChoice> shown = tab.TabSelection();
        const PictureChoice& asked = request.files.first();
        if (!shown || shown->path != asked.path || shown->identity != asked.identity) {
            reportChoiceGone(prompts, texts::display::ChoiceChanged, T::FilingError);
            return std::nullopt;
        }
        if (!tab.fileToActOn(prompts, T::FilingError))
            return std::nullopt;
        return request.files;
    }
    if (!sameFiles(tab.Chosen(), request.files)) {
        reportChoiceGone(prompts, texts::display::ChoiceChanged, T::FilingError);
        return std::nullopt;
    }
    return tab.chosenToActOn(prompts, T::FilingError);
}

// Asks before filing files whose content the vault already holds: OK files them anyway,
// Cancel takes them out of files. False when nothing is left to file.
bool askAboutVaultCopies(OperationContext& context, QList<PictureChoice>& files)
{
    const ContentIndex* index = context.contentIndex();
    if (!index || files.isEmpty())
        return !files.isEmpty();
    QStringList paths;
    for (const PictureChoice& c : std::as_const(files))
        paths << c.path;
    // Hashing the files and comparing them with the index's candidates may take long on a slow
    // share: done aside, so the window keeps painting. The index answers from what it holds,
    // never walking the vault.
    const QStringList copies = waitAside<QStringList>([index, paths] { return index->copiesInVault(paths); });
    QList<qsizetype> held;
    QString firstCopy;
    for (qsizetype i = 0; i < copies.size(); ++i) {
        if (copies[i].isEmpty())
            continue;
        if (held.isEmpty())
            firstCopy = copies[i];
        held.append(i);
    }
    if (held.isEmpty())
        return true;
    const qsizetype cut = index->vaultRoot().lastIndexOf(QLatin1Char('/')) + 1;
    const QString text = files.size() == 1
        ? QString::fromUtf16(T::InVaultAsk).arg(displayName(firstCopy.mid(cut)))
        : QString::fromUtf16(T::InVaultSeveralAsk).arg(held.size());
    if (context.services().prompts.message(
            text, QString::fromUtf16(T::InVaultTitle), PromptIcon::None, PromptButtons::OkCancel)
        == PromptAnswer::Ok)
        return true;
    for (qsizetype k = held.size() - 1; k >= 0; --k)
        files.removeAt(held[k]);
    return !files.isEmpty();
}

// A refused copy or move of one picture: a name that is taken says so; any other failure says
// what failed.
void reportFilingFailure(OperationContext& context, const FileResult& result)
{
    if (result.error == FileError::Cancelled) {
        // Stopped by closing the window: nobody is left to read it.
        if (context.ownerWindow()->isVisible())
            context.services().prompts.message(QString::fromUtf16(T::CopyStopped));
        return;
    }
    showError(context,
        result.error == FileError::Exists ? QString::fromUtf16(T::FileExists)
                                          : failureText(result, T::FileExists),
        T::FilingError);
}

// The closing message: a single request's one failure as a single copy or move tells it, else
// one message for the batch.
void report(OperationContext& context, const FilingRequest& request, const FilingOutcome& outcome,
    qsizetype total, bool runCut)
{
    if (request.single()) {
        if (!outcome.notFiled.isEmpty()) {
            const FilingOutcome::NotFiled& n = outcome.notFiled.first();
            if (n.why == Why::Changed)
                reportChoiceGone(
                    context.services().prompts, texts::display::ChosenFileChanged, T::FilingError);
            else if (n.why == Why::Clash)
                showError(context, T::FileExists, T::FilingError);
            else
                reportFilingFailure(context, n.result);
        } else if (outcome.stopped) {
            reportFilingFailure(context, { FileError::Cancelled, QString::fromUtf16(T::CopyStopped) });
        }
        return;
    }
    BatchOutcome batch;
    batch.total = int(total + request.refused.size());
    batch.done = int(outcome.filed.size());
    batch.stopped = runCut;
    batch.problems = request.refused;
    for (const FilingOutcome::NotFiled& n : outcome.notFiled) {
        const QString reason = n.why == Why::Clash ? QString::fromUtf16(T::FileExists)
            : n.why == Why::Changed                ? QString::fromUtf16(T::ChangedSinceChosen)
                                                   : failureText(n.result, T::FilingError);
        batch.problems << QString::fromUtf16(T::BatchProblem).arg(displayName(GetFileTitle(n.path)), reason);
    }
    reportBatch(context, batch, T::BatchFiled, T::FilingError);
}

// Each side listed once: the source page a move took files from, then the vault tab at the
// box (or, for a key pressed on the vault tab, at the folder the user was looking at).
void listBothSides(OperationContext& context, const FilingRequest& request)
{
    const StoragePaths& paths = context.storagePaths();
    const bool move = request.mode == FilingRequest::Mode::Move;
    const bool withinVault = request.source == Area::Vault;
    if (move && request.source && !withinVault)
        reportBrowse(context,
            context.area(*request.source)
                .list(paths.AreaBasePath[*request.source] + request.sourceFolder,
                    BrowsingArea::ListHow::AfterChange));
    BrowsingArea& vault = context.area(Area::Vault);
    if (withinVault && request.who == FilingRequest::Who::Key) {
        vault.ReopenTreePath(request.sourceFolder);
        reportBrowse(context,
            vault.list(
                paths.AreaBasePath[Area::Vault] + request.sourceFolder, BrowsingArea::ListHow::AfterChange));
    } else {
        // The vault's choice ends with the listing it was made in.
        vault.ReopenTreePath(request.destination);
        reportBrowse(context,
            vault.list(paths.AreaBasePath[Area::Vault] + request.destination + QLatin1Char('/'),
                BrowsingArea::ListHow::AfterChange));
    }
    if (move)
        context.setPictureSelected(false);
}

} // namespace

FilingOutcome fileRequest(OperationContext& context, const FilingRequest& request)
{
    FilingOutcome outcome;
    QList<PictureChoice> files = request.files;
    if (request.source) {
        std::optional<QList<PictureChoice>> chosen = stillChosen(context, request);
        if (!chosen) {
            outcome.refused = true;
            return outcome;
        }
        files = *std::move(chosen);
    }
    // A move within the vault files nothing new into it: only files from outside are asked about.
    const qsizetype asked = files.size();
    if (request.source != Area::Vault && !askAboutVaultCopies(context, files) && request.refused.isEmpty()) {
        outcome.refused = true;
        outcome.skipped = int(asked);
        return outcome;
    }
    outcome.skipped = int(asked - files.size());

    const QString box = context.storagePaths().AreaBasePath[Area::Vault] + request.destination;
    FileOps& ops = context.services().fileOps;
    BrowsingArea& vault = context.area(Area::Vault);
    const bool copy = request.mode == FilingRequest::Mode::Copy;
    // Never onto a stored file: a name the box holds is refused before the journal hears of it
    // (and the copy or move refuses a name taken meanwhile).
    QSet<QString> taken = files.isEmpty() ? QSet<QString>() : FileNamesIn(box);
    QStringList planned;
    for (const PictureChoice& c : std::as_const(files))
        if (!taken.contains(GetFileTitle(c.path)))
            planned << c.path;
    std::optional<StepRecord> step;
    if (!planned.isEmpty())
        step.emplace(context, copy ? JournalStep::Kind::Copy : JournalStep::Kind::Move,
            StepRecord::plan(planned, box));

    // Files of another program run as a run of the vault tab, where they go.
    BrowsingArea& runner = context.area(request.source.value_or(Area::Vault));
    FolderFlushes folders;
    const int total = int(files.size());
    const int ran = runner.runSteps(total, QString::fromUtf16(T::FilingProgress), [&](int i) {
        const PictureChoice& file = files.at(i);
        const QString name = GetFileTitle(file.path);
        if (!file.isStillOnDisk()) {
            outcome.notFiled.append({ file.path, Why::Changed, {} });
            return;
        }
        if (taken.contains(name)) {
            outcome.notFiled.append({ file.path, Why::Clash, { FileError::Exists, {} } });
            return;
        }
        const QString to = box + QLatin1Char('/') + name;
        FileResult result;
        if (copy) {
            const FileIdentity before = FilingJournal::identityAt(file.path);
            // Created exclusively; a large file shows its progress, and Esc stops it.
            result = copyWatched(runner, ops, file.path, to, nullptr);
            if (result.ok()) {
                step->copied(file.path, to, before);
                vault.dropCacheEntries(to);
            }
        } else {
            // Across file systems the source goes only once the copy is complete and checked.
            result = copyWatched(runner, ops, file.path, to, &folders);
            // The thumbnails go with the files, so the vault's listing makes none again.
            if (result.ok()) {
                step->moved(file.path, to);
                vault.moveCacheEntries(file.path, to);
            }
        }
        if (result.ok()) {
            outcome.filed.append({ file.path, to });
            taken.insert(name);
        } else {
            outcome.notFiled.append(
                { file.path, result.error == FileError::Exists ? Why::Clash : Why::Failed, result });
        }
    });
    folders.flush();
    const bool runCut = ran < total;
    outcome.stopped = runCut
        || std::any_of(outcome.notFiled.cbegin(), outcome.notFiled.cend(),
            [](const FilingOutcome::NotFiled& n) { return n.result.error == FileError::Cancelled; });
    if (step) {
        // One step for the whole, marked done before anything is listed; a step that filed
        // nothing leaves the journal again.
        if (outcome.anyFiled())
            outcome.step = step->id();
        step.reset();
    }
    if (outcome.anyFiled())
        listBothSides(context, request);
    report(context, request, outcome, total, runCut);
    return outcome;
}

} // namespace filing
} // namespace ztv
