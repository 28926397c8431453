#include "filing/VaultTransfer.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "display/texts.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/History.h"
#include "filing/SetFolder.h"
#include "filing/texts.h"
#include "imaging/ThumbnailBrowser.h"
#include "platform/FileOps.h"
#include "platform/PathText.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

// A refused copy or move: a name that is taken says so; any other failure says what failed.
void reportFilingFailure(OperationContext& context, const FileResult& result)
{
    showError(context,
        result.error == FileError::Exists ? QString::fromUtf16(T::FileExists)
                                          : failureText(result, T::FileExists),
        T::FilingError);
}

} // namespace

void VaultTransfer::RCD_Fav_Copy_Click(OperationContext& context)
{
    request(context, Mode::Copy);
}

void VaultTransfer::R_Fav_Copy_Click(OperationContext& context)
{
    request(context, Mode::Move);
}

void VaultTransfer::request(OperationContext& context, Mode mode)
{
    if (!take(context, mode))
        return;
    // A chooser already open keeps its captions and acts on this request when pressed.
    if (!m_chooser)
        m_chooser = new SetFolder(
            context.ownerWindow(), context.storagePaths().AreaBasePath[Area::Vault], mode == Mode::Copy,
            [this, &context](const QString& destination) { fileInto(context, destination); },
            [this](SetFolder* closing) { chooserClosed(closing); });
    m_chooser->show();
    m_chooser->raise();
    m_chooser->activateWindow();
}

void VaultTransfer::fileByKey(OperationContext& context, const QString& destinationTreePath)
{
    const std::optional<Area> i = context.currentArea();
    if (!i || !take(context, *i == Area::Cd ? Mode::Copy : Mode::Move))
        return;
    fileInto(context, destinationTreePath);
}

bool VaultTransfer::take(OperationContext& context, Mode mode)
{
    const std::optional<Area> i = context.currentArea();
    if (!i || !context.pictureSelected())
        return false;
    BrowsingArea& area = context.area(*i);
    if (area.chosenCount() > 1) {
        const std::optional<QList<PictureChoice>> files
            = area.chosenToActOn(context.services().prompts, T::FilingError);
        if (!files)
            return false;
        TransferFiles = *files;
    } else {
        if (!area.fileToActOn(context.services().prompts, T::FilingError))
            return false;
        TransferFiles.clear();
    }
    TransferFile = area.TabSelection();
    TransferSourceArea = *i;
    // The folder the picture was listed from, which the move lists again.
    const QString base = context.storagePaths().AreaBasePath[*i];
    const QString folder = TransferFile->path.left(BackInstr(TransferFile->path, QStringLiteral("/")) - 1);
    TransferSourceFolder = folder.startsWith(base) ? folder.mid(base.size()) : area.CurrentNodePath();
    TransferMode = mode;
    return true;
}

SetFolder* VaultTransfer::chooser() const
{
    return m_chooser.data();
}

void VaultTransfer::chooserClosed(SetFolder* chooser)
{
    if (m_chooser == chooser)
        m_chooser = nullptr;
}

void VaultTransfer::fileInto(OperationContext& context, const QString& destinationTreePath)
{
    // The chooser may have stayed open while the user chose another picture on the tab, or
    // while the picture was moved, replaced or changed: then nothing is filed.
    Prompts& prompts = context.services().prompts;
    if (!TransferFiles.isEmpty()) {
        fileSeveralInto(context, destinationTreePath);
        return;
    }
    const std::optional<PictureChoice>& shown = context.area(TransferSourceArea).TabSelection();
    if (!TransferFile || !shown || shown->path != TransferFile->path
        || shown->identity != TransferFile->identity) {
        reportChoiceGone(prompts, texts::display::ChoiceChanged, T::FilingError);
        return;
    }
    if (!context.area(TransferSourceArea).fileToActOn(prompts, T::FilingError))
        return;
    const QString source = TransferFile->path;
    const QString file = context.storagePaths().AreaBasePath[Area::Vault] + destinationTreePath
        + QLatin1Char('/') + GetFileTitle(source);
    if (TransferMode == Mode::Copy)
        copyInto(context, destinationTreePath, source, file);
    else
        moveInto(context, destinationTreePath, source, file);
}

void VaultTransfer::copyInto(
    OperationContext& context, const QString& treePath, const QString& source, const QString& file)
{
    if (Dup_Check(file)) {
        showError(context, T::FileExists, T::FilingError);
        return;
    }
    StepRecord step(context, JournalStep::Kind::Copy, { { source, file, {}, {}, {}, false } });
    const FileIdentity before = FilingJournal::identityAt(source);
    // Created exclusively: a stored file whose name differs only in case on a file system
    // that ignores case is refused too, and a failed copy leaves nothing behind.
    const FileResult copied = context.services().fileOps.copyNoReplace(source, file);
    if (!copied.ok()) {
        reportFilingFailure(context, copied);
        return;
    }
    step.copied(source, file, before);
    context.area(Area::Vault).dropCacheEntries(file);
    openVaultAt(context, treePath);
}

void VaultTransfer::moveInto(
    OperationContext& context, const QString& treePath, const QString& source, const QString& file)
{
    // Never onto a stored file; across file systems the source goes only once the copy is
    // complete and checked.
    StepRecord step(context, JournalStep::Kind::Move, { { source, file, {}, {}, {}, false } });
    const FileResult moved = context.services().fileOps.moveNoReplace(source, file);
    if (!moved.ok()) {
        reportFilingFailure(context, moved);
        return;
    }
    step.moved(source, file);
    context.area(Area::Vault).moveCacheEntries(source, file);
    // A key files from the vault too: the page it was chosen on is the one listed again.
    relistAfterChange(context, TransferSourceArea,
        context.storagePaths().AreaBasePath[TransferSourceArea] + TransferSourceFolder, true);
    openVaultAt(context, treePath);
    context.setPictureSelected(false);
}

void VaultTransfer::fileSeveralInto(OperationContext& context, const QString& destinationTreePath)
{
    Prompts& prompts = context.services().prompts;
    BrowsingArea& source = context.area(TransferSourceArea);
    // The same files as asked, whatever order they were chosen in.
    auto key = [](const QList<PictureChoice>& files) {
        QList<std::pair<QString, FileIdentity>> keys;
        for (const PictureChoice& c : files)
            keys.append({ c.path, c.identity });
        std::sort(keys.begin(), keys.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
        return keys;
    };
    if (key(source.Chosen()) != key(TransferFiles)) {
        reportChoiceGone(prompts, texts::display::ChoiceChanged, T::FilingError);
        return;
    }
    const std::optional<QList<PictureChoice>> files = source.chosenToActOn(prompts, T::FilingError);
    if (!files)
        return;
    const QString box
        = context.storagePaths().AreaBasePath[Area::Vault] + destinationTreePath + QLatin1Char('/');
    FileOps& ops = context.services().fileOps;
    BrowsingArea& vault = context.area(Area::Vault);
    const bool copy = TransferMode == Mode::Copy;
    QStringList planned;
    for (const PictureChoice& c : *files)
        planned << c.path;
    std::optional<StepRecord> step;
    step.emplace(context, copy ? JournalStep::Kind::Copy : JournalStep::Kind::Move,
        StepRecord::plan(planned, box.chopped(1)));
    const BatchOutcome outcome = runBatch(source, *files, T::FilingProgress, [&](const QString& from) {
        const QString to = box + GetFileTitle(from);
        if (copy) {
            if (Dup_Check(to))
                return FileResult { FileError::Exists, {} };
            const FileIdentity before = FilingJournal::identityAt(from);
            const FileResult copied = ops.copyNoReplace(from, to);
            if (copied.ok()) {
                step->copied(from, to, before);
                vault.dropCacheEntries(to);
            }
            return copied;
        }
        const FileResult moved = ops.moveNoReplace(from, to);
        // The thumbnails go with the files, so the vault's listing makes none again.
        if (moved.ok()) {
            step->moved(from, to);
            vault.moveCacheEntries(from, to);
        }
        return moved;
    });
    step.reset(); // one step for the whole batch, marked done before anything is listed
    if (outcome.done > 0) {
        if (!copy)
            relistAfterChange(context, TransferSourceArea,
                context.storagePaths().AreaBasePath[TransferSourceArea] + TransferSourceFolder, true);
        openVaultAt(context, destinationTreePath);
        if (!copy)
            context.setPictureSelected(false);
    }
    reportBatch(context, outcome, T::BatchFiled, T::FilingError);
}

// The main window's vault tree opened at the destination and the vault page listing it; the
// vault's choice ends with the listing it was made in.
void VaultTransfer::openVaultAt(OperationContext& context, const QString& treePath)
{
    context.area(Area::Vault).ReopenTreePath(treePath);
    relistAfterChange(context, Area::Vault,
        context.storagePaths().AreaBasePath[Area::Vault] + treePath + QLatin1Char('/'), true);
}

} // namespace ztv
