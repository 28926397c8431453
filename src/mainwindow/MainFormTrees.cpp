// The folder trees of the three browsing tabs.
#include "mainwindow/MainForm.h"

#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/Drives.h"
#include "values/StoragePaths.h"
#include "widgets/FolderTree.h"

#include <QApplication>
#include <QMenu>
#include <QMetaObject>
#include <QTimer>

namespace ztv {

namespace {
QString image(const char16_t* key)
{
    return QString::fromUtf16(key);
}
}

void MainForm::BuildAreaTree(Area ar)
{
    BrowsingArea& a = area(ar);
    QString key;
    QString icon;
    if (ar == Area::Cd) {
        m_cdDrive = FirstCdDrive(m_services.drives);
        a.RootName = m_cdDrive.name.isEmpty() ? QStringLiteral(":") : m_cdDrive.name;
        key = a.RootName;
        icon = image(FolderTree::Drive);
    } else {
        a.RootName = QString::fromUtf16(ar == Area::StockYard ? kStockYardName : kVaultName);
        key = folderOf(ar, a.RootName);
        icon = image(FolderTree::FoldClose);
    }
    a.TreeView1->addRoot(key, a.RootName, icon);
    area(ar).TreeEnum({ key });
}

void MainForm::rebuildTree(Area ar)
{
    BrowsingArea& a = area(ar);
    a.TreeView1->removeAllNodes();
    const QString key = folderOf(ar, a.RootName);
    a.TreeView1->addRoot(key, a.RootName, image(FolderTree::FoldClose));
    Dir1(ar).refresh();
    area(ar).TreeEnum({ key });
}

QString MainForm::folderOf(Area ar, const QString& treePath) const
{
    return m_paths.AreaBasePath[ar] + treePath;
}

void MainForm::TreeView1_Expand(Area ar, QTreeWidgetItem* node)
{
    FolderTree* tree = area(ar).TreeView1;
    // The CD root keeps its drive picture.
    if (!(ar == Area::Cd && !node->parent()))
        tree->setImage(node, image(FolderTree::FoldOpen));
    const QString path = tree->treePath(node);
    const QString folder = folderOf(ar, path) + QLatin1Char('/');
    if (!tree->Dir1().setPath(folder)) {
        // The disc changed or went away under the tree: rebuild it from the drive as it is
        // now. Done after the tree has finished expanding the node that is about to go.
        // The stock yard and the vault keep their trees.
        if (ar == Area::Cd)
            QMetaObject::invokeMethod(
                this, [this] { rebuildCdTree(); }, Qt::QueuedConnection);
        return;
    }
    area(ar).TreeEnum(tree->Dir1().folders());
}

void MainForm::rebuildCdTree()
{
    reloadCdTree(false);
}

QString MainForm::reloadCdTree(bool mountIfNeeded)
{
    Drives& drives = m_services.drives;
    CdDrive drive = FirstCdDrive(drives);
    // A disc in the drive that the desktop did not mount: ask for it as a file manager
    // would. Refused or impossible, the root stays without children.
    if (mountIfNeeded && !drive.mounted && !drive.device.isEmpty() && drives.mediumPresent(drive.device)) {
        // The window waits, disabled, while the desktop spins the disc up.
        setEnabled(false);
        const bool mounted = drives.mountMedium(drive.device);
        setEnabled(true);
        if (mounted)
            drive = FirstCdDrive(drives);
    }
    m_cdDrive = drive;
    BrowsingArea& cd = area(Area::Cd);
    cd.ClearTabPictures();
    cd.RootName = drive.name.isEmpty() ? QStringLiteral(":") : drive.name;
    cd.CurrentNodePath = cd.RootName;
    FolderTree* tree = cd.TreeView1;
    tree->removeAllNodes();
    tree->addRoot(cd.RootName, cd.RootName, image(FolderTree::Drive));
    area(Area::Cd).TreeEnum({ cd.RootName });
    return drive.mounted ? drive.name : QString();
}

void MainForm::startCdWatch()
{
    if (m_cdRetry)
        return;
    m_cdRetry = new QTimer(this);
    m_cdRetry->setInterval(100);
    connect(m_cdRetry, &QTimer::timeout, this, [this] { cdDriveMayHaveChanged(); });
    m_services.drives.watch(this, [this] { cdDriveMayHaveChanged(); });
}

bool MainForm::busyForCdReload() const
{
    return m_gbBrowsing || m_browseArea.has_value() || !isEnabled() || QApplication::activeModalWidget()
        || QApplication::activePopupWidget();
}

void MainForm::cdDriveMayHaveChanged()
{
    if (FirstCdDrive(m_services.drives) == m_cdDrive) {
        m_cdRetry->stop(); // other mounts, or the disc came back before the window was free
        return;
    }
    if (busyForCdReload()) {
        // A listing of the disc that went away or was replaced ends with what it read.
        if (m_browseArea == Area::Cd)
            m_gBrowseQuit = true;
        m_cdRetry->start();
        return;
    }
    m_cdRetry->stop();
    // As a click on the drive's root would, without asking to mount: the desktop that just
    // unmounted a disc wants it so.
    const QString folder = reloadCdTree(false);
    const int r = ShowFolderThumbnails(Area::Cd, folder);
    // Without a disc the page selector counts the empty page, not the last disc's pages.
    if (r == ThumbnailBrowser::ResultOk || folder.isEmpty())
        ComboSet(Area::Cd);
}

void MainForm::TreeView1_Collapse(Area ar, QTreeWidgetItem* node)
{
    FolderTree* tree = area(ar).TreeView1;
    const int r = ShowFolderThumbnails(ar, folderOf(ar, tree->treePath(node)));
    if (r == ThumbnailBrowser::ResultOk)
        ComboSet(ar);
    if (!(ar == Area::Cd && !node->parent()))
        tree->setImage(node, image(FolderTree::FoldClose));
}

void MainForm::TreeView1_NodeClick(Area ar, QTreeWidgetItem* node)
{
    BrowsingArea& a = area(ar);
    FolderTree* tree = a.TreeView1;
    const QString path = tree->treePath(node);
    a.CurrentNodePath = path;
    int r = 0;
    if (ar == Area::Cd && !node->parent()) {
        // The drive's root, whatever it is called now: read the drive afresh, the disc may
        // have been changed, put in or taken out since the tree was built.
        const QString folder = reloadCdTree(true);
        r = ShowFolderThumbnails(ar, folder);
        if (folder.isEmpty())
            ComboSet(ar);
    } else {
        r = ShowFolderThumbnails(ar, folderOf(ar, path));
    }
    if (r == ThumbnailBrowser::ResultOk) {
        ComboSet(ar);
        a.clearSelection();
    }
}

// Any button over a tree ends PictureSelected: the next file operation needs a fresh click on
// a picture. The display keeps its picture until a click lists another folder.
void MainForm::TreeView1_MouseButton(Area ar, Qt::MouseButton button, QPoint at)
{
    BrowsingArea& a = area(ar);
    m_PictureSelected = false;
    if (ar != Area::Vault || button != Qt::RightButton)
        return;
    FolderTree* tree = a.TreeView1;
    QTreeWidgetItem* hit = tree->itemAt(at);
    tree->setDropHighlight(hit);
    tree->setCurrentItem(hit);
    if (hit) {
        a.CurrentNodePath = tree->treePath(tree->currentItem());
        PopupMenu(m_menu_L);
        tree->setDropHighlight(nullptr);
    }
}

} // namespace ztv
