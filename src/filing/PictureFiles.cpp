#include "filing/PictureFiles.h"

#include "display/SelectionState.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/texts.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "mainwindow/FolderList.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/PathText.h"
#include "platform/FileOps.h"
#include "platform/Prompts.h"

#include <QClipboard>
#include <QGuiApplication>

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

QString selectedFile(const MainForm& form, int tab)
{
    return form.HiddenList[tab].value(form.TabSelectedIndex[tab]);
}

QString currentFolder(const MainForm& form, int tab)
{
    return form.folderOf(tab, form.CurrentNodePath[tab]);
}

} // namespace

void PictureFiles::R_Del_Click(MainForm& form)
{
    deleteSelected(form);
}

void PictureFiles::RF_Del_Click(MainForm& form)
{
    deleteSelected(form);
}

void PictureFiles::deleteSelected(MainForm& form)
{
    const int tab = currentArea(form);
    if (PictureSelected != 1 || tab > 2)
        return;
    // Taken before the question: whatever the page does meanwhile, the file asked about goes.
    const QString chosen = selectedFile(form, tab);
    if (form.services().prompts.message(QString::fromUtf16(T::DeleteAsk), QString::fromUtf16(T::DeleteFileTitle),
                                        PromptIcon::None, PromptButtons::OkCancel)
        != PromptAnswer::Ok)
        return;
    // To the trash, so a wrong delete can be undone; where no trash takes the file it is
    // deleted as before, and a failure of that delete is what the user is told.
    FileOps& files = form.services().fileOps;
    FileResult removed = files.moveToTrash(chosen);
    if (!removed.ok())
        removed = files.removeFile(chosen);
    // The page is listed again in any case: a file that was already gone must leave it too.
    if (!removed.ok())
        showError(form, failureText(removed, T::DeleteFileFailed), T::DeleteError);
    const int code = form.ShowFolderThumbnails(tab, currentFolder(form, tab));
    reportBrowse(form, code);
    if (code == ThumbnailBrowser::ResultOk) {
        form.ComboSet(tab);
        form.LEAD1[tab]->ClearPicture(0, 1);
        form.TabHasSelection[tab] = 0;
    }
    PictureSelected = 0;
}

void PictureFiles::RF_Mod_Click(MainForm& form)
{
    const int tab = currentArea(form);
    if (PictureSelected != 1 || tab > 2)
        return;
    const QString oldPath = selectedFile(form, tab);
    const QString answer = form.services().prompts.input(QString::fromUtf16(T::RenameFilePrompt),
                                                         QString::fromUtf16(T::RenameFileTitle), QString());
    if (answer.isEmpty())
        return;
    const QString base = RenameBaseName(answer);
    if (base.isEmpty())
        return;
    const QString newName = base + KeptExtension(oldPath);
    // The file keeps its own folder: the page may show another folder than the tree's
    // current one (a collapsed node lists its folder without becoming current).
    const QString folder = oldPath.left(BackInstr(oldPath, QStringLiteral("/")) - 1);
    if (oldPath.isEmpty() || !isPlainName(newName)
        || !form.services().fileOps.moveNoReplace(oldPath, folder + u'/' + newName).ok()) {
        showError(form, T::FileExists, T::RenameError);
        return;
    }
    form.Dir1(tab).refresh();
    form.ShowFolderThumbnails(tab, currentFolder(form, tab));
    form.ComboSet(tab);
    form.LEAD1[tab]->ClearPicture(0, 1);
    form.TabHasSelection[tab] = 0;
    PictureSelected = 0;
}

void PictureFiles::RCD_Clip_Copy_Click(MainForm& form)
{
    copyToClipboard(form, 11);
}

void PictureFiles::R_Clip_Copy_Click(MainForm& form)
{
    copyToClipboard(form, 11);
}

void PictureFiles::RF_Clip_Copy_Click(MainForm& form)
{
    copyToClipboard(form, 31);
}

void PictureFiles::copyToClipboard(MainForm& form, int flags)
{
    QGuiApplication::clipboard()->clear();
    const int tab = currentArea(form);
    if (PictureSelected == 1 && tab <= 2)
        form.LEAD1[tab]->CopyPictureToClipboard(flags);
}

} // namespace ztv
