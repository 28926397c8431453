#include "filing/PictureFiles.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/History.h"
#include "filing/texts.h"
#include "imaging/PictureDisplay.h"
#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/Prompts.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QClipboard>
#include <QGuiApplication>

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

} // namespace

void PictureFiles::deleteSelected(OperationContext& context)
{
    const std::optional<Area> tab = context.currentArea();
    // The CD tab's files lie on a disc, a card or a phone: never changed from here.
    if (!tab || *tab == Area::Cd || !context.pictureSelected() || !context.area(*tab).TabSelection())
        return;
    if (context.area(*tab).chosenCount() > 1) {
        deleteSeveral(context, *tab);
        return;
    }
    const Services& s = context.services();
    if (s.prompts.message(QString::fromUtf16(T::DeleteAsk), QString::fromUtf16(T::DeleteFileTitle),
            PromptIcon::None, PromptButtons::OkCancel)
        != PromptAnswer::Ok)
        return;
    // Checked after the question: the file may have changed while it was asked. The page
    // is listed again in any case: a file that was already gone must leave it too.
    if (const std::optional<QString> file = context.area(*tab).fileToActOn(s.prompts, T::DeleteError)) {
        // To the trash, so a wrong delete can be undone. Only where no trash can take the file
        // is it deleted for good, and only when the user says so once more.
        // None when the file changed while the second question was open: it stays, as told.
        StepRecord step(context, JournalStep::Kind::Delete, StepRecord::plan({ *file }));
        TrashedFile where;
        std::optional<FileResult> removed = s.fileOps.trashFile(*file, where);
        if (removed->ok())
            step.trashed(*file, where);
        if (removed->error == FileError::NoTrash) {
            if (s.prompts.message(QString::fromUtf16(T::DeleteForeverAsk),
                    QString::fromUtf16(T::DeleteFileTitle), PromptIcon::None, PromptButtons::OkCancel)
                != PromptAnswer::Ok)
                return;
            const std::optional<QString> still = context.area(*tab).fileToActOn(s.prompts, T::DeleteError);
            removed = still ? std::optional(s.fileOps.removeFile(*still)) : std::nullopt;
        }
        if (removed && !removed->ok())
            showError(context, failureText(*removed, T::DeleteFileFailed), T::DeleteError);
        else if (removed)
            context.area(*tab).dropCacheEntries(*file);
    }
    reportBrowse(context,
        context.area(*tab).list(context.area(*tab).currentFolder(), BrowsingArea::ListHow::AfterChange));
    context.setPictureSelected(false);
}

void PictureFiles::deleteSeveral(OperationContext& context, Area tab)
{
    const Services& s = context.services();
    BrowsingArea& area = context.area(tab);
    if (s.prompts.message(QString::fromUtf16(T::DeleteSeveralAsk).arg(area.chosenCount()),
            QString::fromUtf16(T::DeleteFileTitle), PromptIcon::None, PromptButtons::OkCancel)
        != PromptAnswer::Ok)
        return;
    const std::optional<QList<PictureChoice>> files = area.chosenToActOn(s.prompts, T::DeleteError);
    if (files) {
        QList<PictureChoice> noTrash;
        QStringList planned;
        for (const PictureChoice& c : *files)
            planned << c.path;
        std::optional<StepRecord> step;
        step.emplace(context, JournalStep::Kind::Delete, StepRecord::plan(planned));
        BatchOutcome outcome = runBatch(area, *files, T::DeletingProgress, [&](const QString& path) {
            TrashedFile where;
            FileResult r = s.fileOps.trashFile(path, where);
            if (r.ok())
                step->trashed(path, where);
            if (r.error == FileError::NoTrash) {
                // Asked about once for all of them, after the others went.
                if (std::optional<PictureChoice> c = PictureChoice::of(path))
                    noTrash << *c;
                return FileResult {};
            }
            return r;
        });
        // Deleted for good, they cannot be taken back: no part of the step.
        step.reset();
        for (const PictureChoice& c : std::as_const(noTrash))
            outcome.doneFiles.removeAll(c.path);
        outcome.done -= int(noTrash.size());
        if (!noTrash.isEmpty() && !outcome.stopped) {
            if (s.prompts.message(QString::fromUtf16(T::DeleteSeveralForeverAsk).arg(noTrash.size()),
                    QString::fromUtf16(T::DeleteFileTitle), PromptIcon::None, PromptButtons::OkCancel)
                == PromptAnswer::Ok) {
                const BatchOutcome forGood = runBatch(area, noTrash, T::DeletingProgress,
                    [&](const QString& path) { return s.fileOps.removeFile(path); });
                outcome.done += forGood.done;
                outcome.doneFiles << forGood.doneFiles;
                outcome.problems << forGood.problems;
                outcome.stopped = forGood.stopped;
            } else {
                outcome.total -= int(noTrash.size());
            }
        }
        for (const QString& file : std::as_const(outcome.doneFiles))
            area.dropCacheEntries(file);
        reportBrowse(context, area.list(area.currentFolder(), BrowsingArea::ListHow::AfterChange));
        reportBatch(context, outcome, T::BatchDeleted, T::DeleteError);
    } else {
        reportBrowse(context, area.list(area.currentFolder(), BrowsingArea::ListHow::AfterChange));
    }
    context.setPictureSelected(false);
}

void PictureFiles::RF_Mod_Click(OperationContext& context)
{
    const std::optional<Area> tab = context.currentArea();
    // The CD tab's files lie on a disc, a card or a phone: never changed from here.
    if (!tab || *tab == Area::Cd || !context.pictureSelected() || !context.area(*tab).TabSelection())
        return;
    const Services& s = context.services();
    const QString answer = s.prompts.input(
        QString::fromUtf16(T::RenameFilePrompt), QString::fromUtf16(T::RenameFileTitle), QString());
    if (answer.isEmpty())
        return;
    // A name beginning with "." would hide the file from every page; ".png" alone is refused
    // too rather than silently ignored.
    if (answer.mid(answer.lastIndexOf(u'/') + 1).startsWith(u'.')
        || RenameBaseName(answer).startsWith(u'.')) {
        showError(context, T::HiddenFileName, T::RenameError);
        return;
    }
    const QString base = RenameBaseName(answer);
    if (base.isEmpty())
        return;
    const std::optional<QString> oldPath = context.area(*tab).fileToActOn(s.prompts, T::RenameError);
    if (!oldPath)
        return;
    const QString newName = base + KeptExtension(*oldPath);
    // The file keeps its own folder: the page may show another folder than the tree's
    // current one (a collapsed node lists its folder without becoming current).
    const QString folder = oldPath->left(BackInstr(*oldPath, QStringLiteral("/")) - 1);
    const QString newPath = folder + u'/' + newName;
    // A refused name is no step of the journal.
    if (!isPlainName(newName)) {
        showError(context, T::FileExists, T::RenameError);
        return;
    }
    StepRecord step(context, JournalStep::Kind::Rename, { { *oldPath, newPath, {}, {}, {}, false } });
    if (!s.fileOps.moveNoReplace(*oldPath, newPath).ok()) {
        showError(context, T::FileExists, T::RenameError);
        return;
    }
    step.moved(*oldPath, newPath);
    context.area(*tab).moveCacheEntries(*oldPath, newPath);
    context.area(*tab).Dir1().refresh();
    context.area(*tab).list(context.area(*tab).currentFolder(), BrowsingArea::ListHow::AfterChange);
    context.setPictureSelected(false);
}

void PictureFiles::copyToClipboard(OperationContext& context, Area commandTab)
{
    const bool withFile = commandTab == Area::Vault;
    QGuiApplication::clipboard()->clear();
    const std::optional<Area> tab = context.currentArea();
    if (!tab || !context.pictureSelected())
        return;
    BrowsingArea& area = context.area(*tab);
    // The display holds the chosen file's picture; it goes only while that file is unchanged,
    // whole, or not at all.
    if (!area.fileToActOn(context.services().prompts))
        return;
    using Copy = PictureDisplay::CopyResult;
    const Copy copied = area.copyToClipboard(withFile);
    if (copied == Copy::TooLarge || copied == Copy::Unreadable)
        showError(context, copied == Copy::TooLarge ? T::CopyTooLarge : T::CopyUnreadable, T::CopyError);
}

} // namespace ztv
