// Start-up, the spreadsheet check and closing of the main window.
#include "mainwindow/MainForm.h"

#include "app/StoragePaths.h"
#include "display/PreviewForm.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FolderTree.h"
#include "mainwindow/texts.h"
#include "platform/Prompts.h"
#include "platform/Spreadsheet.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>

namespace ztv {

void MainForm::Form_Load()
{
    SetStoragePaths(GetSpecialFolderPath(m_services.drives, CSIDL_PROFILE));
    CurrentNodePath[0] = QString();
    CurrentNodePath[1] = QString::fromUtf16(kStockYardName);
    CurrentNodePath[2] = QString::fromUtf16(kVaultName);
    for (int tab = 0; tab < 3; ++tab) {
        // A failed tab keeps what it had built so far; the others are still built.
        try {
            LoadTab(tab);
        } catch (...) {
            setEnabled(true);
            gbBrowsing = false;
            m_services.prompts.message(QString::fromUtf16(texts::DriveNotReady));
        }
    }
    SpreadsheetCheck();
}

void MainForm::LoadTab(int tab)
{
    TabHasSelection[tab] = 0;
    ThumbnailBrowserSetup(tab);
    BuildAreaTree(tab);
    if (tab == 0)
        return; // the CD tab lists nothing until a node is clicked
    // The folder the tree fill left the folder list on: the area's root when it could be read.
    const int r = ShowFolderThumbnails(tab, Dir1(tab).path());
    if (r == ThumbnailBrowser::ResultOk)
        ComboSet(tab);
}

void MainForm::SpreadsheetCheck()
{
    bool usable = false;
    try {
        usable = Spreadsheet::usable(m_services.spreadsheet.applicationInfo());
    } catch (...) {
        usable = false;
    }
    for (QAction* item : { Exl_copy0, Exl_copy1, Exl_copy2 })
        item->setEnabled(usable);
}

void MainForm::Form_Unload()
{
    // A run still going would keep the event loop busy after the window is gone.
    gBrowseQuit = -1;
    if (m_preview)
        delete m_preview.data();
    if (m_quit)
        m_quit();
    else
        QCoreApplication::quit();
}

void MainForm::closeEvent(QCloseEvent* event)
{
    event->accept();
    Form_Unload();
}

bool MainForm::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Paint) {
        for (int tab = 0; tab < 3; ++tab) {
            if (watched == LEAD1[tab])
                Label2[tab]->setVisible(!LEAD1[tab]->hasPicture());
        }
    }
    return QWidget::eventFilter(watched, event);
}

void MainForm::connectTab(int tab)
{
    FolderTree* tree = TreeView1[tab];
    connect(tree, &QTreeWidget::itemExpanded, this, [this, tab](QTreeWidgetItem* node) { TreeView1_Expand(tab, node); });
    connect(tree, &QTreeWidget::itemCollapsed, this,
            [this, tab](QTreeWidgetItem* node) { TreeView1_Collapse(tab, node); });
    connect(tree, &QTreeWidget::itemClicked, this, [this, tab](QTreeWidgetItem* node) { TreeView1_NodeClick(tab, node); });
    connect(tree, &FolderTree::MouseButton, this,
            [this, tab](int button, int shift, int x, int y) { TreeView1_MouseButton(tab, button, shift, x, y); });

    connect(LEADThumb1[tab], &ThumbnailBrowser::ThumbnailReady, this,
            [this, tab](const QImage& bitmap, const QString& path, int status) {
                LEADThumb1_ThumbnailReady(tab, bitmap, path, status);
            });
    connect(LEADThumb1[tab], &ThumbnailBrowser::BrowseStarted, this, [this](int files) {
        m_browseFiles = files;
        showBrowseProgress();
    });
    connect(LEADImgList1[tab], &ThumbnailList::ThumbnailClicked, this, [this, tab](int item) { LEADImgList1_Click(tab, item); });
    connect(LEADImgList1[tab], &ThumbnailList::ThumbnailMouseButton, this,
            [this, tab](int button, int shift, int x, int y) { LEADImgList1_MouseButton(tab, button, shift, x, y); });
    connect(LEAD1[tab], &PictureDisplay::clicked, this, [this, tab] { LEAD1_Click(tab); });
    connect(Combo1[tab], &QComboBox::activated, this, [this, tab] { Combo1_Click(tab); });
}

} // namespace ztv
