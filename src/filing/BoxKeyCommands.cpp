#include "filing/BoxKeyCommands.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "filing/BoxKeys.h"
#include "filing/Boxes.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/VaultTransfer.h"
#include "filing/texts.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QApplication>
#include <QPointer>
#include <QWidget>
#include <functional>

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

QString vaultFolder(OperationContext& context)
{
    return context.storagePaths().AreaBasePath[Area::Vault] + QString::fromUtf16(kVaultName);
}

// Whether the key's box is there to file into: a folder that is, or lies below, the vault,
// links resolved.
bool boxIsThere(OperationContext& context, int key)
{
    const BoxKeys* keys = context.boxKeys();
    const std::optional<QString> box = keys ? keys->boxOf(key) : std::nullopt;
    return box && BoxKeys::folderInVault(vaultFolder(context), *box);
}

} // namespace

QString BoxKeyCommands::treePathOf(OperationContext& context, int key)
{
    const BoxKeys* keys = context.boxKeys();
    const std::optional<QString> box = keys ? keys->boxOf(key) : std::nullopt;
    if (!box)
        return {};
    const QString root = QString::fromUtf16(kVaultName);
    return box->isEmpty() ? root : root + u'/' + *box;
}

void BoxKeyCommands::reportSetAside(OperationContext& context)
{
    const BoxKeys* keys = context.boxKeys();
    if (keys && !keys->setAside().isEmpty())
        showError(
            context, QString::fromUtf16(T::KeysSetAside).arg(displayName(keys->setAside())), T::FilingError);
}

QString BoxKeyCommands::itemText(OperationContext& context, int key)
{
    const QString treePath = treePathOf(context, key);
    if (treePath.isEmpty())
        return QString::fromUtf16(T::KeyAssign).arg(key);
    const QString shown = displayName(treePath);
    return boxIsThere(context, key) ? QString::fromUtf16(T::KeyAssignedTo).arg(key).arg(shown)
                                    : QString::fromUtf16(T::KeyAssignedGone).arg(key).arg(shown);
}

namespace {

// Gives change the keys and the box the vault tree marks, as the box menu acts on it.
void changeMarkedBox(OperationContext& context, const std::function<bool(BoxKeys&, const QString&)>& change)
{
    BoxKeys* keys = context.boxKeys();
    if (!keys || context.currentArea() != Area::Vault)
        return;
    const QString marked = context.area(Area::Vault).markedCurrentPath();
    if (marked.isEmpty()) {
        context.services().prompts.message(QString::fromUtf16(T::SelectFolder));
        return;
    }
    if (!change(*keys, vaultBoxPath(marked)))
        showError(context, T::KeysNotSaved, T::FilingError);
    FolderTree::refreshNotes();
}

} // namespace

void BoxKeyCommands::assign(OperationContext& context, int key)
{
    changeMarkedBox(context, [key](BoxKeys& keys, const QString& box) { return keys.assign(key, box); });
}

void BoxKeyCommands::remove(OperationContext& context)
{
    changeMarkedBox(context, [](BoxKeys& keys, const QString& box) { return keys.remove(box); });
}

void BoxKeyCommands::press(OperationContext& context, int key)
{
    const std::optional<Area> tab = context.currentArea();
    const QString treePath = treePathOf(context, key);
    if (!tab || treePath.isEmpty() || !context.pictureSelected())
        return;
    const StoragePaths& paths = context.storagePaths();
    // The box the files go into is checked here, whatever the keys hold: never outside the vault.
    if (!boxIsThere(context, key)) {
        showError(
            context, QString::fromUtf16(T::KeyBoxGone).arg(key).arg(displayName(treePath)), T::FilingError);
        return;
    }
    BrowsingArea& area = context.area(*tab);
    const QStringList page = area.HiddenList();
    QStringList chosen;
    for (const PictureChoice& c : area.Chosen())
        chosen << c.path;
    qsizetype last = -1;
    for (const QString& c : std::as_const(chosen))
        last = std::max(last, page.indexOf(c));
    QString next;
    for (qsizetype i = last + 1; i < page.size() && next.isEmpty(); ++i)
        if (!chosen.contains(page[i]))
            next = page[i];
    const QString sourceFolder = area.currentFolder();
    // Opening the box's node gives the vault tree the focus; the next key goes where this one did.
    const QPointer<QWidget> focus = QApplication::focusWidget();

    const bool filed = m_transfer.fileByKey(context, treePath) > 0;

    // Filing within the vault lists the box; the user goes on with the folder they were looking at.
    if (*tab == Area::Vault && filed) {
        const AreaPlace place = AreaFromPath(sourceFolder, paths);
        if (place.area == Area::Vault)
            area.ReopenTreePath(place.treePath);
        reportBrowse(
            context, context.area(Area::Vault).list(sourceFolder, BrowsingArea::ListHow::AfterChange));
    }
    if (filed && !next.isEmpty()) {
        const qsizetype index = area.HiddenList().indexOf(next);
        if (index >= 0)
            area.LEADImgList1_Click(int(index));
    }
    if (focus && focus->isVisible() && focus->isEnabled())
        focus->setFocus(Qt::OtherFocusReason);
}

} // namespace ztv
