#include "filing/Boxes.h"

#include "display/BrowsingArea.h"
#include "display/OperationContext.h"
#include "filing/BoxKeys.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/History.h"
#include "filing/texts.h"
#include "platform/ContentIndex.h"
#include "platform/FileOps.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Prompts.h"
#include "platform/Services.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QDir>

#include <sys/stat.h>

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

// Anything at all under that name, a dangling link included.
bool placeTaken(const QString& path)
{
    struct stat st;
    return lstatPath(path, &st);
}

bool isTopFolder(const QString& treePath)
{
    return treePath == QString::fromUtf16(kVaultName) || treePath == QString::fromUtf16(kStockYardName);
}

// After a change to a box: the tree opened down to reopenAt, the pictures of the folder that
// holds the box listed (no trailing "/" in either), and no selection left pointing into the
// old listing.
void relistParent(OperationContext& context, const QString& reopenAt, const QString& parentFolder)
{
    const AreaPlace place = AreaFromPath(reopenAt, context.storagePaths());
    if (!place.area)
        return;
    context.area(*place.area).ReopenTreePath(place.treePath);
    context.area(*place.area).list(parentFolder + QLatin1Char('/'), BrowsingArea::ListHow::Quietly);
}

QString folderOf(OperationContext& context, Area area, const QString& treePath)
{
    return context.storagePaths().AreaBasePath[area] + treePath;
}

// A box whose name begins with "." would exist on disk but never be shown ("." and ".."
// themselves are refused as unusable names further on).
bool refusedAsHidden(OperationContext& context, const QString& name, const char16_t* title)
{
    if (!isPlainName(name) || !name.startsWith(u'.'))
        return false;
    showError(context, T::HiddenBoxName, title);
    return true;
}

// The folder the box buttons act on: the tab's current one, only while the tree marks it (the
// keyboard may have moved the mark without choosing); none otherwise, and the user is asked
// to choose a folder.
std::optional<QString> boxFolder(OperationContext& context, Area area)
{
    const QString marked = context.area(area).markedCurrentPath();
    if (marked.isEmpty()) {
        context.services().prompts.message(QString::fromUtf16(T::SelectFolder));
        return std::nullopt;
    }
    return marked;
}

} // namespace

QString vaultBoxPath(const QString& treePath)
{
    const QString root = QString::fromUtf16(kVaultName);
    return treePath == root ? QString() : treePath.mid(root.size() + 1);
}

void Boxes::dirpopup_new_Click(OperationContext& context)
{
    const std::optional<Area> i = context.currentArea();
    if (!i)
        return;
    const Services& s = context.services();
    const std::optional<QString> chosen = boxFolder(context, *i);
    if (!chosen)
        return;
    const QString current = *chosen;
    const QString name
        = s.prompts.input(QString::fromUtf16(T::AddPrompt), QString::fromUtf16(T::AddTitle), QString());
    if (name.isEmpty())
        return;
    if (refusedAsHidden(context, name, T::AddError))
        return;
    // "../x" or "a/b" would create a folder somewhere other than in the selected one.
    const QString made = folderOf(context, *i, current) + u'/' + name;
    // Refused before the journal hears of it: a refused box is no step.
    if (!isPlainName(name) || placeTaken(made)) {
        showError(context, T::BoxExists, T::AddError);
        return;
    }
    StepRecord step(context, JournalStep::Kind::BoxAdd, { { made, {}, {}, {}, {}, false } });
    if (!s.fileOps.makeDirectory(made).ok()) {
        showError(context, T::BoxExists, T::AddError);
        return;
    }
    step.folder(made);
    if (ContentIndex* index = context.contentIndex())
        index->pathChanged(made);
    context.area(*i).rebuildTree();
    context.area(*i).ReopenTreePath(current);
}

void Boxes::dirpopup_del_Click(OperationContext& context)
{
    const std::optional<Area> i = context.currentArea();
    if (!i)
        return;
    const std::optional<QString> chosen = boxFolder(context, *i);
    if (!chosen)
        return;
    const QString path = *chosen;
    if (isTopFolder(path)) {
        showError(context, T::VaultNotDeletable, T::DeleteError);
        return;
    }
    const QString name = path.mid(BackInstr(path, QStringLiteral("/")));
    // Only a box named in the tree is removed; anything else is not a box of this folder.
    if (!isPlainName(name) || BackInstr(path, QStringLiteral("/")) == 0) {
        showError(context, T::BoxNotEmpty, T::DeleteError);
        return;
    }
    const QString ask = QString::fromUtf16(T::DeleteBoxAsk1) + name + QString::fromUtf16(T::DeleteBoxAsk2);
    if (context.services().prompts.message(
            ask, QString::fromUtf16(T::DeleteBoxTitle), PromptIcon::None, PromptButtons::OkCancel)
        != PromptAnswer::Ok)
        return;
    const QString full = folderOf(context, *i, path);
    // Only an empty folder goes; a box still holding anything is refused and kept.
    if (!QDir(full).isEmpty(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)) {
        showError(context, T::BoxNotEmpty, T::DeleteError);
        return;
    }
    {
        StepRecord step(context, JournalStep::Kind::BoxDelete, { { full, {}, {}, {}, {}, false } });
        if (!context.services().fileOps.removeEmptyDirectory(full).ok()) {
            showError(context, T::BoxNotEmpty, T::DeleteError);
            return;
        }
        step.folder(full);
    }
    if (ContentIndex* index = context.contentIndex())
        index->pathChanged(full);
    if (BoxKeys* keys = context.boxKeys(); keys && *i == Area::Vault)
        keys->boxDeleted(vaultBoxPath(path));
    context.area(*i).rebuildTree();
    const QString parent = full.left(BackInstr(full, QStringLiteral("/")) - 1);
    relistParent(context, parent, parent);
}

void Boxes::dirpopup_mod_Click(OperationContext& context)
{
    const std::optional<Area> i = context.currentArea();
    if (!i)
        return;
    const std::optional<QString> chosen = boxFolder(context, *i);
    if (!chosen)
        return;
    const QString path = *chosen;
    if (isTopFolder(path)) {
        showError(context, T::VaultNotRenamable, T::RenameError);
        return;
    }
    const QString name = context.services().prompts.input(
        QString::fromUtf16(T::RenameBoxPrompt), QString::fromUtf16(T::RenameBoxTitle), QString());
    if (name.isEmpty())
        return;
    if (refusedAsHidden(context, name, T::RenameError))
        return;
    const QString parentPath = path.left(BackInstr(path, QStringLiteral("/")));
    // A name with "/" or ".." would move the box out of its folder; the top folder has no
    // parent inside the area and is never renamed.
    const QString newFull = folderOf(context, *i, parentPath + name);
    if (!isPlainName(name) || parentPath.isEmpty() || placeTaken(newFull)) {
        showError(context, T::BoxExists, T::RenameError);
        return;
    }
    {
        StepRecord step(context, JournalStep::Kind::BoxRename,
            { { folderOf(context, *i, path), newFull, {}, {}, {}, false } });
        if (!context.services().fileOps.moveNoReplace(folderOf(context, *i, path), newFull).ok()) {
            showError(context, T::BoxExists, T::RenameError);
            return;
        }
        step.folder(folderOf(context, *i, path), newFull);
    }
    if (ContentIndex* index = context.contentIndex())
        index->pathMoved(folderOf(context, *i, path), newFull);
    if (BoxKeys* keys = context.boxKeys(); keys && *i == Area::Vault)
        keys->boxRenamed(vaultBoxPath(path), vaultBoxPath(parentPath + name));
    context.area(*i).rebuildTree();
    // The top folder is listed first, as a run the user sees; the parent's listing below
    // replaces it.
    reportBrowse(
        context, context.area(*i).list(context.area(*i).Dir1().path(), BrowsingArea::ListHow::AfterChange));
    relistParent(context, newFull, newFull.left(BackInstr(newFull, QStringLiteral("/")) - 1));
}

} // namespace ztv
