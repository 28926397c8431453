#include "filing/VaultTransfer.h"

#include "app/StoragePaths.h"
#include "display/SelectionState.h"
#include "filing/FilingPaths.h"
#include "filing/FilingSteps.h"
#include "filing/SetFolder.h"
#include "filing/texts.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "mainwindow/MainForm.h"
#include "mainwindow/PathText.h"
#include "platform/FileOps.h"

namespace ztv {

namespace T = filingtexts;
using namespace filing;

namespace {

// A refused copy or move: a name that is taken says so; any other failure says what failed.
void reportFilingFailure(MainForm& form, const FileResult& result)
{
    showError(form, result.error == FileError::Exists ? QString::fromUtf16(T::FileExists)
                                                      : failureText(result, T::FileExists),
              T::FilingError);
}

} // namespace

void VaultTransfer::RCD_Fav_Copy_Click(MainForm& form)
{
    request(form, Copy);
}

void VaultTransfer::R_Fav_Copy_Click(MainForm& form)
{
    request(form, Move);
}

void VaultTransfer::request(MainForm& form, Mode mode)
{
    if (PictureSelected != 1)
        return;
    const int i = currentArea(form);
    if (i > 2)
        return;
    TransferFile = form.HiddenList[i].value(form.TabSelectedIndex[i]);
    TransferSourceFolder = form.CurrentNodePath[i];
    TransferMode = mode;
    // A chooser already open keeps its captions and acts on this request when pressed.
    if (!m_chooser)
        m_chooser = new SetFolder(form, *this);
    m_chooser->show();
    m_chooser->raise();
    m_chooser->activateWindow();
}

SetFolder* VaultTransfer::chooser() const
{
    return m_chooser.data();
}

void VaultTransfer::unloadChooser()
{
    if (SetFolder* chooser = m_chooser.data()) {
        m_chooser = nullptr;
        chooser->close();
    }
}

void VaultTransfer::chooserClosed(SetFolder* chooser)
{
    if (m_chooser == chooser)
        m_chooser = nullptr;
}

void VaultTransfer::fileInto(MainForm& form, const QString& destinationTreePath)
{
    const QString folder = AreaBasePath[2] + destinationTreePath + QLatin1Char('/');
    const QString file = folder + GetFileTitle(TransferFile);
    if (TransferMode == Copy)
        copyInto(form, folder, file);
    else if (TransferMode == Move)
        moveInto(form, folder, file);
}

void VaultTransfer::copyInto(MainForm& form, const QString& folder, const QString& file)
{
    if (Dup_Check(file)) {
        showError(form, T::FileExists, T::FilingError);
        return;
    }
    // Created exclusively: a stored file whose name differs only in case on a file system
    // that ignores case is refused too, and a failed copy leaves nothing behind.
    const FileResult copied = form.services().fileOps.copyNoReplace(TransferFile, file);
    if (!copied.ok()) {
        reportFilingFailure(form, copied);
        return;
    }
    openVaultAt(form, folder);
}

void VaultTransfer::moveInto(MainForm& form, const QString& folder, const QString& file)
{
    // Never onto a stored file; across file systems the source goes only once the copy is
    // complete and checked.
    const FileResult moved = form.services().fileOps.moveNoReplace(TransferFile, file);
    if (!moved.ok()) {
        reportFilingFailure(form, moved);
        return;
    }
    clearPage(form, 1);
    const int code = browseRun(form, 1, AreaBasePath[1] + TransferSourceFolder, true);
    reportBrowse(form, code);
    if (code == ThumbnailBrowser::ResultOk)
        form.ComboSet(1);
    form.LEAD1[1]->ClearPicture(0, 1);
    form.TabHasSelection[1] = 0;
    openVaultAt(form, folder);
    PictureSelected = 0;
}

// The main window's vault tree opened at the destination and the vault page listing it.
void VaultTransfer::openVaultAt(MainForm& form, const QString& folder)
{
    const AreaPlace place = AreaFromPath(folder);
    if (place.tab > 0)
        form.ReopenTreePath(place.tab, place.treePath);
    clearPage(form, 2);
    const int code = browseRun(form, 2, folder, true);
    reportBrowse(form, code);
    if (code == ThumbnailBrowser::ResultOk)
        form.ComboSet(2);
    form.TabHasSelection[2] = 0;
}

} // namespace ztv
