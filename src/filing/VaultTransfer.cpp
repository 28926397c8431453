#include "filing/VaultTransfer.h"

#include "display/BrowseRun.h"
#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "display/PictureDrag.h"
#include "display/texts.h"
#include "filing/BoxKeyNotes.h"
#include "filing/SetFolder.h"
#include "filing/texts.h"
#include "imaging/FolderListing.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"
#include "platform/WorkAside.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QWidget>

namespace ztv {

namespace T = filingtexts;
using filing::fileRequest;

namespace {

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

QString problemOf(const QString& path, const char16_t* reason)
{
    return QString::fromUtf16(T::BatchProblem)
        .arg(displayName(GetFileTitle(path)), QString::fromUtf16(reason));
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
    std::optional<FilingRequest> asked = take(context, mode, FilingRequest::Who::Chooser);
    if (!asked)
        return;
    m_request = std::move(asked);
    // A chooser already open keeps its captions and acts on this request when pressed.
    if (!m_chooser)
        m_chooser = new SetFolder(
            context.ownerWindow(), context.storagePaths().AreaBasePath[Area::Vault], mode == Mode::Copy,
            [this, &context](const QString& destination) {
                if (const BrowseRun::Hold hold(context.operationRun()); hold)
                    fileInto(context, destination);
            },
            [this](SetFolder* closing) { chooserClosed(closing); });
    showBoxKeys(*m_chooser->TreeView1, context.boxKeys(), context.storagePaths());
    BrowseRun* run = context.operationRun();
    const std::function<bool()> busy = [run] { return run && run->busy(); };
    m_chooser->setBusy(busy);
    // The chooser's tree takes drops too, filed as a drop onto the vault tab's tree.
    m_chooser->TreeView1->setDropHandlers(
        [this, &context](
            const QString& path, const QMimeData& data) { return canDropInto(context, path, data); },
        [this, &context](const QString& path, const QMimeData& data, Qt::KeyboardModifiers keys) {
            dropInto(context, path, data, keys);
        },
        busy);
    m_chooser->show();
    m_chooser->raise();
    m_chooser->activateWindow();
}

FilingOutcome VaultTransfer::fileByKey(OperationContext& context, const QString& destinationTreePath)
{
    const std::optional<Area> i = context.currentArea();
    if (!i)
        return { .refused = true };
    std::optional<FilingRequest> asked
        = take(context, *i == Area::Cd ? Mode::Copy : Mode::Move, FilingRequest::Who::Key);
    if (!asked)
        return { .refused = true };
    asked->destination = destinationTreePath;
    return fileRequest(context, *asked);
}

std::optional<FilingRequest> VaultTransfer::take(OperationContext& context, Mode mode, FilingRequest::Who who)
{
    const std::optional<Area> i = context.currentArea();
    if (!i || !context.pictureSelected())
        return std::nullopt;
    BrowsingArea& area = context.area(*i);
    FilingRequest asked;
    if (area.chosenCount() > 1) {
        const std::optional<QList<PictureChoice>> files
            = area.chosenToActOn(context.services().prompts, T::FilingError);
        if (!files)
            return std::nullopt;
        asked.files = *files;
    } else {
        if (!area.fileToActOn(context.services().prompts, T::FilingError))
            return std::nullopt;
        asked.files = { *area.TabSelection() };
    }
    asked.source = *i;
    // The folder the pictures were listed from, which a move lists again.
    asked.sourceFolder = treeFolderOf(context, *i, area.TabSelection()->path, area.CurrentNodePath());
    asked.mode = mode;
    asked.who = who;
    return asked;
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

FilingOutcome VaultTransfer::fileInto(OperationContext& context, const QString& destinationTreePath)
{
    // The chooser may have stayed open while the user chose another picture on the tab, or
    // while the picture was moved, replaced or changed: the road then refuses the request.
    if (!m_request) {
        reportChoiceGone(context.services().prompts, texts::display::ChoiceChanged, T::FilingError);
        return { .refused = true };
    }
    FilingRequest asked = *m_request;
    asked.destination = destinationTreePath;
    return fileRequest(context, asked);
}

bool VaultTransfer::canDropInto(
    OperationContext& context, const QString& treePath, const QMimeData& data) const
{
    // While an operation or a run is under way, nothing else may file.
    if (const BrowseRun* run = context.operationRun(); run && run->busy())
        return false;
    const QString folder = context.storagePaths().AreaBasePath[Area::Vault] + treePath;
    if (const std::optional<PictureDrag> drag = PictureDrag::readFrom(data)) {
        // Onto the folder they lie in, a drop would file nothing but clashes.
        return !drag->files.isEmpty() && folderOfFile(drag->files.first().path) != folder;
    }
    return !droppedLocalFiles(data).isEmpty();
}

FilingOutcome VaultTransfer::dropInto(
    OperationContext& context, const QString& treePath, const QMimeData& data, Qt::KeyboardModifiers keys)
{
    if (!canDropInto(context, treePath, data))
        return { .refused = true };
    // The drop is an operation of its own: nothing else runs inside its waits.
    const BrowseRun::Hold hold(context.operationRun());
    FilingRequest asked;
    asked.destination = treePath;
    asked.who = FilingRequest::Who::Drop;
    if (const std::optional<PictureDrag> drag = PictureDrag::readFrom(data)) {
        // What was dragged must still be what the tab has chosen, each file as it was: the
        // road checks it.
        asked.source = drag->source;
        asked.sourceFolder = treeFolderOf(
            context, drag->source, drag->files.first().path, context.area(drag->source).CurrentNodePath());
        asked.files = drag->files;
        const bool copy = drag->source == Area::Cd || keys.testFlag(Qt::ControlModifier);
        asked.mode = copy ? Mode::Copy : Mode::Move;
        return fileRequest(context, asked);
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
    asked.files = std::move(checked.files);
    asked.refused = std::move(checked.refused);
    asked.mode = Mode::Copy;
    return fileRequest(context, asked);
}

} // namespace ztv
