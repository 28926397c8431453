// The folder trees of the three browsing tabs.
#include "mainwindow/MainForm.h"

#include "app/StoragePaths.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/FolderTree.h"

#include <QMenu>
#include <QMetaObject>

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
        a.RootName = CdRootName(m_services.drives);
        a.RootBase = QString();
        key = a.RootName;
        icon = image(FolderTree::Drive);
    } else {
        a.RootName = QString::fromUtf16(ar == Area::StockYard ? kStockYardName : kVaultName);
        a.RootBase = m_paths.AreaBasePath[ar];
        key = a.RootBase + a.RootName;
        icon = image(FolderTree::FoldClose);
    }
    a.TreeView1->addRoot(key, a.RootName, icon);
    TreeEnum(ar, { key });
}

void MainForm::TreeEnum(Area ar, const QStringList& parentKeys)
{
    area(ar).TreeView1->TreeEnum(parentKeys);
}

void MainForm::Node_Exp(Area ar, const QString& treePath)
{
    area(ar).TreeView1->Node_Exp(treePath);
}

void MainForm::ReopenTreePath(Area ar, const QString& treePath)
{
    const QStringList parts = treePath.split(QLatin1Char('/'));
    QString path;
    for (const QString& part : parts) {
        path = path.isEmpty() ? part : path + QLatin1Char('/') + part;
        Node_Exp(ar, path);
    }
}

void MainForm::rebuildTree(Area ar)
{
    BrowsingArea& a = area(ar);
    a.RootBase = m_paths.AreaBasePath[ar];
    a.TreeView1->removeAllNodes();
    const QString key = a.RootBase + a.RootName;
    a.TreeView1->addRoot(key, a.RootName, image(FolderTree::FoldClose));
    Dir1(ar).refresh();
    TreeEnum(ar, { key });
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
    const QString folder = (ar == Area::Cd ? path : area(ar).RootBase + path) + QLatin1Char('/');
    if (!tree->Dir1().setPath(folder)) {
        // The disc changed or went away under the tree: rebuild it from the drive as it is
        // now. Done after the tree has finished expanding the node that is about to go.
        // The stock yard and the vault keep their trees.
        if (ar == Area::Cd)
            QMetaObject::invokeMethod(this, [this] { rebuildCdTree(); }, Qt::QueuedConnection);
        return;
    }
    TreeEnum(ar, tree->Dir1().folders());
}

void MainForm::rebuildCdTree()
{
    BrowsingArea& cd = area(Area::Cd);
    cd.ClearTabPictures();
    FolderTree* tree = cd.TreeView1;
    tree->removeAllNodes();
    const QString root = CdRootName(m_services.drives);
    tree->addRoot(root, root, image(FolderTree::Drive));
    TreeEnum(Area::Cd, { root });
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
    const QString cdRoot = CdRootName(m_services.drives);
    if (ar == Area::Cd && path == cdRoot) {
        // The drive's root: read the disc afresh, it may have been changed.
        a.RootName = cdRoot;
        tree->removeAllNodes();
        tree->addRoot(a.RootName, a.RootName, image(FolderTree::Drive));
        TreeEnum(ar, { a.RootName });
        r = ShowFolderThumbnails(ar, tree->Dir1().path());
    } else {
        r = ShowFolderThumbnails(ar, folderOf(ar, path));
    }
    if (r == ThumbnailBrowser::ResultOk) {
        ComboSet(ar);
        a.clearSelection();
    }
}

// Any button over a tree ends the tab's choice: the next file operation needs a fresh click
// on a picture.
void MainForm::TreeView1_MouseButton(Area ar, Qt::MouseButton button, QPoint at)
{
    BrowsingArea& a = area(ar);
    a.clearSelection();
    if (ar != Area::Vault || button != Qt::RightButton)
        return;
    FolderTree* tree = a.TreeView1;
    QTreeWidgetItem* hit = tree->itemAt(at);
    tree->setDropHighlight(hit);
    tree->setCurrentItem(hit);
    if (hit) {
        a.CurrentNodePath = tree->treePath(tree->currentItem());
        PopupMenu(menu_L);
        tree->setDropHighlight(nullptr);
    }
}

} // namespace ztv
