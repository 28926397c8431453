#include "filing/VaultTransfer.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "display/PictureDrag.h"
#include "display/texts.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/History.h"
#include "filing/SetFolder.h"
#include "filing/texts.h"
#include "imaging/FolderListing.h"
#include "imaging/ThumbnailBrowser.h"
#include "platform/ContentIndex.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"
#include "platform/WorkAside.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QWidget>

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

// A refused copy or move: a name that is taken says so; any other failure says what failed.
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

// The folder a file was listed from, as a tree path of its area; fallback when the file lies
// outside the area.
QString treeFolderOf(OperationContext& context, Area area, const QString& file, const QString& fallback)
{
    const QString base = context.storagePaths().AreaBasePath[area];
    const QString folder = file.left(BackInstr(file, QStringLiteral("/")) - 1);
    return folder.startsWith(base) ? folder.mid(base.size()) : fallback;
}

QString folderOfFile(const QString& file)
{
    return file.left(BackInstr(file, QStringLiteral("/")) - 1);
}

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

QString problemOf(const QString& path, const char16_t* reason)
{
    return QString::fromUtf16(T::BatchProblem)
        .arg(displayName(GetFileTitle(path)), QString::fromUtf16(reason));
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
    // The chooser's tree takes drops too, filed as a drop onto the vault tab's tree.
    m_chooser->TreeView1->setDropHandlers(
        [this, &context](
            const QString& path, const QMimeData& data) { return canDropInto(context, path, data); },
        [this, &context](const QString& path, const QMimeData& data, Qt::KeyboardModifiers keys) {
            dropInto(context, path, data, keys);
        });
    m_chooser->show();
    m_chooser->raise();
    m_chooser->activateWindow();
}

int VaultTransfer::fileByKey(OperationContext& context, const QString& destinationTreePath)
{
    m_filed = 0;
    const std::optional<Area> i = context.currentArea();
    if (!i || !take(context, *i == Area::Cd ? Mode::Copy : Mode::Move))
        return 0;
    fileInto(context, destinationTreePath);
    return m_filed;
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
    TransferSourceFolder = treeFolderOf(context, *i, TransferFile->path, area.CurrentNodePath());
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
    // A move within the vault files nothing new into it: only files from outside are asked about.
    QList<PictureChoice> asked { *TransferFile };
    if (TransferSourceArea != Area::Vault && !askAboutVaultCopies(context, asked))
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
    // A large file shows its progress, and Esc stops it.
    const FileResult copied
        = copyInRun(context.area(TransferSourceArea), context.services().fileOps, source, file, nullptr);
    if (!copied.ok()) {
        reportFilingFailure(context, copied);
        return;
    }
    step.copied(source, file, before);
    ++m_filed;
    context.area(Area::Vault).dropCacheEntries(file);
    openVaultAt(context, treePath);
}

void VaultTransfer::moveInto(
    OperationContext& context, const QString& treePath, const QString& source, const QString& file)
{
    // Never onto a stored file (refused before the journal hears of it); across file systems
    // the source goes only once the copy is complete and checked.
    if (Dup_Check(file)) {
        showError(context, T::FileExists, T::FilingError);
        return;
    }
    StepRecord step(context, JournalStep::Kind::Move, { { source, file, {}, {}, {}, false } });
    FolderFlushes folders;
    const FileResult moved
        = copyInRun(context.area(TransferSourceArea), context.services().fileOps, source, file, &folders);
    folders.flush();
    if (!moved.ok()) {
        reportFilingFailure(context, moved);
        return;
    }
    step.moved(source, file);
    ++m_filed;
    context.area(Area::Vault).moveCacheEntries(source, file);
    // A key files from the vault too: the page it was chosen on is the one listed again.
    reportBrowse(context,
        context.area(TransferSourceArea)
            .list(context.storagePaths().AreaBasePath[TransferSourceArea] + TransferSourceFolder,
                BrowsingArea::ListHow::AfterChange));
    openVaultAt(context, treePath);
    context.setPictureSelected(false);
}

void VaultTransfer::fileSeveralInto(OperationContext& context, const QString& destinationTreePath)
{
    Prompts& prompts = context.services().prompts;
    BrowsingArea& source = context.area(TransferSourceArea);
    if (!sameFiles(source.Chosen(), TransferFiles)) {
        reportChoiceGone(prompts, texts::display::ChoiceChanged, T::FilingError);
        return;
    }
    const std::optional<QList<PictureChoice>> files = source.chosenToActOn(prompts, T::FilingError);
    if (!files)
        return;
    fileBatchInto(
        context, { TransferSourceArea, TransferSourceFolder, *files, TransferMode, {} }, destinationTreePath);
}

void VaultTransfer::fileBatchInto(OperationContext& context, Batch batch, const QString& destinationTreePath)
{
    // A move within the vault files nothing new into it: only files from outside are asked about.
    if (batch.source != Area::Vault && !askAboutVaultCopies(context, batch.files) && batch.refused.isEmpty())
        return;
    const QString box
        = context.storagePaths().AreaBasePath[Area::Vault] + destinationTreePath + QLatin1Char('/');
    FileOps& ops = context.services().fileOps;
    BrowsingArea& vault = context.area(Area::Vault);
    const bool copy = batch.mode == Mode::Copy;
    QStringList planned;
    for (const PictureChoice& c : batch.files)
        planned << c.path;
    std::optional<StepRecord> step;
    step.emplace(context, copy ? JournalStep::Kind::Copy : JournalStep::Kind::Move,
        StepRecord::plan(planned, box.chopped(1)));
    // Files of another program run as a run of the vault tab, where they go.
    BrowsingArea& runner = context.area(batch.source.value_or(Area::Vault));
    FolderFlushes folders;
    BatchOutcome outcome = runBatch(runner, batch.files, T::FilingProgress, [&](const QString& from) {
        const QString to = box + GetFileTitle(from);
        if (copy) {
            if (Dup_Check(to))
                return FileResult { FileError::Exists, {} };
            const FileIdentity before = FilingJournal::identityAt(from);
            const FileResult copied = copyWatched(runner, ops, from, to, nullptr);
            if (copied.ok()) {
                step->copied(from, to, before);
                vault.dropCacheEntries(to);
            }
            return copied;
        }
        const FileResult moved = copyWatched(runner, ops, from, to, &folders);
        // The thumbnails go with the files, so the vault's listing makes none again.
        if (moved.ok()) {
            step->moved(from, to);
            vault.moveCacheEntries(from, to);
        }
        return moved;
    });
    folders.flush();
    step.reset(); // one step for the whole batch, marked done before anything is listed
    m_filed += outcome.done;
    outcome.total += int(batch.refused.size());
    outcome.problems = batch.refused + outcome.problems;
    if (outcome.done > 0) {
        // A move within the vault is seen in the box, which the vault page lists next.
        if (!copy && batch.source && *batch.source != Area::Vault)
            reportBrowse(context,
                context.area(*batch.source)
                    .list(context.storagePaths().AreaBasePath[*batch.source] + batch.sourceFolder,
                        BrowsingArea::ListHow::AfterChange));
        openVaultAt(context, destinationTreePath);
        if (!copy)
            context.setPictureSelected(false);
    }
    reportBatch(context, outcome, T::BatchFiled, T::FilingError);
}

bool VaultTransfer::canDropInto(
    OperationContext& context, const QString& treePath, const QMimeData& data) const
{
    // While a run has the window disabled, nothing else may file.
    if (const QWidget* window = context.ownerWindow(); window && !window->isEnabled())
        return false;
    const QString folder = context.storagePaths().AreaBasePath[Area::Vault] + treePath;
    if (const std::optional<PictureDrag> drag = PictureDrag::readFrom(data)) {
        // Onto the folder they lie in, a drop would file nothing but clashes.
        return !drag->files.isEmpty() && folderOfFile(drag->files.first().path) != folder;
    }
    return !droppedLocalFiles(data).isEmpty();
}

void VaultTransfer::dropInto(
    OperationContext& context, const QString& treePath, const QMimeData& data, Qt::KeyboardModifiers keys)
{
    if (!canDropInto(context, treePath, data))
        return;
    Prompts& prompts = context.services().prompts;
    if (const std::optional<PictureDrag> drag = PictureDrag::readFrom(data)) {
        // What was dragged must still be what the tab has chosen, each file as it was.
        BrowsingArea& source = context.area(drag->source);
        if (!sameFiles(source.Chosen(), drag->files)) {
            reportChoiceGone(prompts, texts::display::ChoiceChanged, T::FilingError);
            return;
        }
        const std::optional<QList<PictureChoice>> files = source.chosenToActOn(prompts, T::FilingError);
        if (!files)
            return;
        const bool copy = drag->source == Area::Cd || keys.testFlag(Qt::ControlModifier);
        const QString folder
            = treeFolderOf(context, drag->source, files->first().path, source.CurrentNodePath());
        fileBatchInto(
            context, { drag->source, folder, *files, copy ? Mode::Copy : Mode::Move, {} }, treePath);
        return;
    }
    // Another program's files are copied, never moved: its own files stay where they are.
    // They may lie on a share that stopped answering: looked at aside, so the window paints
    // and answers meanwhile.
    struct Checked {
        QList<PictureChoice> files;
        QStringList refused;
    };
    const QStringList paths = droppedLocalFiles(data);
    Checked checked = waitAside<Checked>([paths] {
        Checked out;
        for (const QString& path : paths) {
            if (!isPictureFile(path)) {
                out.refused << problemOf(path, T::DroppedNotPicture);
                continue;
            }
            if (const std::optional<PictureChoice> file = PictureChoice::of(path))
                out.files << *file;
            else
                out.refused << problemOf(path, T::DroppedUnreadable);
        }
        return out;
    });
    Batch batch;
    batch.files = std::move(checked.files);
    batch.refused = std::move(checked.refused);
    fileBatchInto(context, batch, treePath);
}

// The main window's vault tree opened at the destination and the vault page listing it; the
// vault's choice ends with the listing it was made in.
void VaultTransfer::openVaultAt(OperationContext& context, const QString& treePath)
{
    context.area(Area::Vault).ReopenTreePath(treePath);
    reportBrowse(context,
        context.area(Area::Vault)
            .list(context.storagePaths().AreaBasePath[Area::Vault] + treePath + QLatin1Char('/'),
                BrowsingArea::ListHow::AfterChange));
}

} // namespace ztv
