#include "filing/Boxes.h"

#include "app/StoragePaths.h"
#include "display/SelectionState.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/texts.h"
#include "mainwindow/FolderList.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/PathText.h"
#include "platform/FileOps.h"
#include "platform/Prompts.h"

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

bool isTopFolder(const QString& treePath)
{
    return treePath == QString::fromUtf16(kVaultName) || treePath == QString::fromUtf16(kStockYardName);
}

// After a change to a box: the tree opened down to reopenAt, the pictures of the folder that
// holds the box listed (no trailing "/" in either), and no selection left pointing into the
// old listing.
void relistParent(MainForm& form, const QString& reopenAt, const QString& parentFolder)
{
    const AreaPlace place = AreaFromPath(reopenAt);
    if (place.tab > 0)
        form.ReopenTreePath(place.tab, place.treePath);
    clearPage(form, place.tab);
    browseRun(form, place.tab, parentFolder + QLatin1Char('/'), false);
    form.TabHasSelection[place.tab] = 0;
    PictureSelected = 0;
}

} // namespace

void Boxes::dirpopup_new_Click(MainForm& form)
{
    const int i = currentArea(form);
    if (i > 2)
        return;
    if (form.CurrentNodePath[i].isEmpty()) {
        form.services().prompts.message(QString::fromUtf16(T::SelectFolder));
        return;
    }
    const QString name
        = form.services().prompts.input(QString::fromUtf16(T::AddPrompt), QString::fromUtf16(T::AddTitle), QString());
    if (name.isEmpty())
        return;
    // "../x" or "a/b" would create a folder somewhere other than in the selected one.
    if (!isPlainName(name)
        || !form.services().fileOps.makeDirectory(form.folderOf(i, form.CurrentNodePath[i]) + u'/' + name).ok()) {
        showError(form, T::BoxExists, T::AddError);
        return;
    }
    rebuildTree(form, i);
    const QString p = form.CurrentNodePath[i];
    resetNodePaths(form);
    form.ReopenTreePath(i, p);
    resetNodePaths(form);
}

void Boxes::dirpopup_del_Click(MainForm& form)
{
    const int i = currentArea(form);
    if (i > 2)
        return;
    const QString path = form.CurrentNodePath[i];
    if (isTopFolder(path)) {
        showError(form, T::VaultNotDeletable, T::DeleteError);
        return;
    }
    const QString name = path.mid(BackInstr(path, QStringLiteral("/")));
    // Only a box named in the tree is removed; anything else is not a box of this folder.
    if (!isPlainName(name) || BackInstr(path, QStringLiteral("/")) == 0) {
        showError(form, T::BoxNotEmpty, T::DeleteError);
        return;
    }
    const QString ask = QString::fromUtf16(T::DeleteBoxAsk1) + name + QString::fromUtf16(T::DeleteBoxAsk2);
    if (form.services().prompts.message(ask, QString::fromUtf16(T::DeleteBoxTitle), PromptIcon::None,
                                        PromptButtons::OkCancel)
        != PromptAnswer::Ok)
        return;
    const QString full = form.folderOf(i, path);
    // Only an empty folder goes; a box still holding anything is refused and kept.
    if (!form.services().fileOps.removeEmptyDirectory(full).ok()) {
        showError(form, T::BoxNotEmpty, T::DeleteError);
        return;
    }
    rebuildTree(form, i);
    const QString parent = full.left(BackInstr(full, QStringLiteral("/")) - 1);
    relistParent(form, parent, parent);
    resetNodePaths(form);
}

void Boxes::dirpopup_mod_Click(MainForm& form)
{
    const int i = currentArea(form);
    if (i > 2)
        return;
    const QString path = form.CurrentNodePath[i];
    if (isTopFolder(path)) {
        showError(form, T::VaultNotRenamable, T::RenameError);
        return;
    }
    const QString name = form.services().prompts.input(QString::fromUtf16(T::RenameBoxPrompt),
                                                       QString::fromUtf16(T::RenameBoxTitle), QString());
    if (name.isEmpty())
        return;
    const QString parentPath = path.left(BackInstr(path, QStringLiteral("/")));
    // A name with "/" or ".." would move the box out of its folder; the top folder has no
    // parent inside the area and is never renamed.
    const QString newFull = AreaBasePath[i] + parentPath + name;
    if (!isPlainName(name) || parentPath.isEmpty()
        || !form.services().fileOps.moveNoReplace(form.folderOf(i, path), newFull).ok()) {
        showError(form, T::BoxExists, T::RenameError);
        return;
    }
    rebuildTree(form, i);
    // The top folder's pictures are added to the page as it stands; the parent's listing
    // below replaces them.
    form.gBrowseIndex = 0;
    const int code = browseRun(form, i, form.Dir1(i).path(), true);
    reportBrowse(form, code);
    relistParent(form, newFull, newFull.left(BackInstr(newFull, QStringLiteral("/")) - 1));
    resetNodePaths(form);
}

} // namespace ztv
