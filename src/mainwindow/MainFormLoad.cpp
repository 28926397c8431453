// Start-up, the spreadsheet check and closing of the main window.
#include "mainwindow/MainForm.h"

#include "display/PreviewForm.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/texts.h"
#include "platform/Prompts.h"
#include "platform/Spreadsheet.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QAction>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>

namespace ztv {

void MainForm::Form_Load()
{
    m_paths = SetStoragePaths(GetSpecialFolderPath(m_services.drives, CSIDL_PROFILE));
    area(Area::Cd).CurrentNodePath = QString();
    area(Area::StockYard).CurrentNodePath = QString::fromUtf16(kStockYardName);
    area(Area::Vault).CurrentNodePath = QString::fromUtf16(kVaultName);
    for (Area a : kAreas) {
        // A failed tab keeps what it had built so far; the others are still built.
        try {
            LoadTab(a);
        } catch (...) {
            setEnabled(true);
            m_gbBrowsing = false;
            m_services.prompts.message(QString::fromUtf16(texts::DriveNotReady));
        }
    }
    SpreadsheetCheck();
    startCdWatch();
}

void MainForm::LoadTab(Area a)
{
    ThumbnailBrowserSetup(a);
    BuildAreaTree(a);
    if (a == Area::Cd)
        return; // the CD tab lists nothing until a node is clicked
    // The folder the tree fill left the folder list on: the area's root when it could be read.
    const int r = ShowFolderThumbnails(a, Dir1(a).path());
    if (r == ThumbnailBrowser::ResultOk)
        ComboSet(a);
}

void MainForm::SpreadsheetCheck()
{
    bool usable = false;
    try {
        usable = Spreadsheet::usable(m_services.spreadsheet.applicationInfo());
    } catch (...) {
        usable = false;
    }
    for (QAction* item : { m_Exl_copy0, m_Exl_copy1, m_Exl_copy2 })
        item->setEnabled(usable);
}

void MainForm::Form_Unload()
{
    // A run still going would keep the event loop busy after the window is gone.
    m_gBrowseQuit = true;
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

void MainForm::connectTab(Area ar)
{
    const BrowsingArea& a = area(ar);
    FolderTree* tree = a.TreeView1;
    connect(tree, &QTreeWidget::itemExpanded, this,
        [this, ar](QTreeWidgetItem* node) { TreeView1_Expand(ar, node); });
    connect(tree, &QTreeWidget::itemCollapsed, this,
        [this, ar](QTreeWidgetItem* node) { TreeView1_Collapse(ar, node); });
    connect(tree, &QTreeWidget::itemClicked, this,
        [this, ar](QTreeWidgetItem* node) { TreeView1_NodeClick(ar, node); });
    connect(tree, &FolderTree::MouseButton, this,
        [this, ar](Qt::MouseButton button, Qt::KeyboardModifiers, QPoint at) {
            TreeView1_MouseButton(ar, button, at);
        });

    connect(a.LEADThumb1, &ThumbnailBrowser::ThumbnailReady, this,
        [this, ar](const QImage& bitmap, const QString& path, int status) {
            LEADThumb1_ThumbnailReady(ar, bitmap, path, status);
        });
    connect(a.LEADThumb1, &ThumbnailBrowser::BrowseStarted, this, [this](int files) {
        m_browseFiles = files;
        showBrowseProgress();
    });
    connect(a.LEADImgList1, &ThumbnailList::ThumbnailClicked, this,
        [this, ar](int item) { LEADImgList1_Click(ar, item); });
    connect(a.LEADImgList1, &ThumbnailList::ThumbnailMouseButton, this,
        [this, ar](Qt::MouseButton button, Qt::KeyboardModifiers, QPoint at) {
            LEADImgList1_MouseButton(ar, button, at);
        });
    connect(a.LEAD1, &PictureDisplay::clicked, this, [this, ar] { LEAD1_Click(ar); });
}

} // namespace ztv
