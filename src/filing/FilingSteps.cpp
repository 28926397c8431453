#include "filing/FilingSteps.h"

#include "app/StoragePaths.h"
#include "filing/texts.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FolderTree.h"
#include "mainwindow/MainForm.h"
#include "platform/FileOps.h"

#include <QLabel>
#include <QTabWidget>

namespace ztv::filing {

int currentArea(const MainForm& form)
{
    return form.SSTab1->currentIndex();
}

void resetNodePaths(MainForm& form)
{
    form.CurrentNodePath[0] = QString();
    form.CurrentNodePath[1] = QString::fromUtf16(kStockYardName);
    form.CurrentNodePath[2] = QString::fromUtf16(kVaultName);
}

void rebuildTree(MainForm& form, int tab)
{
    form.RootBase[tab] = AreaBasePath[tab];
    FolderTree* tree = form.TreeView1[tab];
    tree->removeAllNodes();
    const QString key = form.RootBase[tab] + form.RootName[tab];
    tree->addRoot(key, form.RootName[tab], QString::fromUtf16(FolderTree::FoldClose));
    form.Dir1(tab).refresh();
    form.TreeEnum(tab, { key });
}

int browseRun(MainForm& form, int tab, const QString& folder, bool bracket)
{
    form.gBrowseQuit = 0;
    if (bracket) {
        form.gbBrowsing = true;
        form.setEnabled(false);
    }
    const int code = form.LEADThumb1[tab]->BrowseFolder(folder);
    form.BrowseStatus->hide();
    if (bracket) {
        form.gbBrowsing = false;
        form.setEnabled(true);
    }
    return code;
}

void reportBrowse(MainForm& form, int code)
{
    if (code == ThumbnailBrowser::ResultOk)
        return;
    const QString text = code == ThumbnailBrowser::ResultCancelled
        ? QString::fromUtf16(filingtexts::BrowseCancelled)
        : QString::fromUtf16(filingtexts::BrowseError) + QString::number(code);
    form.services().prompts.message(text);
}

void clearPage(MainForm& form, int tab)
{
    form.LEADImgList1[tab]->ClearThumbnails();
    form.HiddenList[tab].clear();
}

void showError(MainForm& form, const QString& text, const char16_t* title)
{
    form.services().prompts.message(text, QString::fromUtf16(title), PromptIcon::Critical, PromptButtons::Ok);
}

void showError(MainForm& form, const char16_t* text, const char16_t* title)
{
    showError(form, QString::fromUtf16(text), title);
}

QString failureText(const FileResult& result, const char16_t* fallback)
{
    return result.detail.isEmpty() ? QString::fromUtf16(fallback) : result.detail;
}

} // namespace ztv::filing
