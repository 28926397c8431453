// The folder trees of the three browsing tabs.
#include "mainwindow/MainForm.h"

#include "app/StoragePaths.h"
#include "display/SelectionState.h"
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

void MainForm::BuildAreaTree(int tab)
{
    QString key;
    QString icon;
    if (tab == 0) {
        RootName[0] = CdRootName(m_services.drives);
        RootBase[0] = QString();
        key = RootName[0];
        icon = image(FolderTree::Drive);
    } else {
        RootName[tab] = QString::fromUtf16(tab == 1 ? kStockYardName : kVaultName);
        RootBase[tab] = AreaBasePath[tab];
        key = RootBase[tab] + RootName[tab];
        icon = image(FolderTree::FoldClose);
    }
    TreeView1[tab]->addRoot(key, RootName[tab], icon);
    TreeEnum(tab, { key });
}

void MainForm::TreeEnum(int tab, const QStringList& parentKeys)
{
    TreeView1[tab]->TreeEnum(parentKeys);
}

void MainForm::Node_Exp(int tab, const QString& treePath)
{
    TreeView1[tab]->Node_Exp(treePath);
}

void MainForm::ReopenTreePath(int tab, const QString& treePath)
{
    const QStringList parts = treePath.split(QLatin1Char('/'));
    QString path;
    for (const QString& part : parts) {
        path = path.isEmpty() ? part : path + QLatin1Char('/') + part;
        Node_Exp(tab, path);
    }
}

QString MainForm::folderOf(int tab, const QString& treePath) const
{
    return AreaBasePath[tab] + treePath;
}

void MainForm::TreeView1_Expand(int tab, QTreeWidgetItem* node)
{
    FolderTree* tree = TreeView1[tab];
    // The CD root keeps its drive picture.
    if (!(tab == 0 && !node->parent()))
        tree->setImage(node, image(FolderTree::FoldOpen));
    const QString path = tree->treePath(node);
    const QString folder = (tab == 0 ? path : RootBase[tab] + path) + QLatin1Char('/');
    if (!tree->Dir1().setPath(folder)) {
        // The disc changed or went away under the tree: rebuild it from the drive as it is
        // now. Done after the tree has finished expanding the node that is about to go.
        // The stock yard and the vault keep their trees.
        if (tab == 0)
            QMetaObject::invokeMethod(this, [this, tab] { rebuildCdTree(tab); }, Qt::QueuedConnection);
        return;
    }
    TreeEnum(tab, tree->Dir1().folders());
}

void MainForm::rebuildCdTree(int tab)
{
    LEADImgList1[tab]->ClearThumbnails();
    FolderTree* tree = TreeView1[0];
    tree->removeAllNodes();
    const QString root = CdRootName(m_services.drives);
    tree->addRoot(root, root, image(FolderTree::Drive));
    TreeEnum(0, { root });
}

void MainForm::TreeView1_Collapse(int tab, QTreeWidgetItem* node)
{
    FolderTree* tree = TreeView1[tab];
    const int r = ShowFolderThumbnails(tab, folderOf(tab, tree->treePath(node)));
    if (r == ThumbnailBrowser::ResultOk)
        ComboSet(tab);
    if (!(tab == 0 && !node->parent()))
        tree->setImage(node, image(FolderTree::FoldClose));
}

void MainForm::TreeView1_NodeClick(int tab, QTreeWidgetItem* node)
{
    FolderTree* tree = TreeView1[tab];
    const QString path = tree->treePath(node);
    CurrentNodePath[tab] = path;
    int r = 0;
    const QString cdRoot = CdRootName(m_services.drives);
    if (tab == 0 && path == cdRoot) {
        // The drive's root: read the disc afresh, it may have been changed.
        RootName[tab] = cdRoot;
        tree->removeAllNodes();
        tree->addRoot(RootName[tab], RootName[tab], image(FolderTree::Drive));
        TreeEnum(tab, { RootName[tab] });
        LEADThumb1[tab]->setFileFilter(QStringLiteral("*.*"));
        r = ShowFolderThumbnails(tab, tree->Dir1().path());
    } else {
        LEADThumb1[tab]->setFileFilter(QStringLiteral("*.*"));
        r = ShowFolderThumbnails(tab, folderOf(tab, path));
    }
    if (r == ThumbnailBrowser::ResultOk) {
        ComboSet(tab);
        LEAD1[tab]->ClearPicture(0, 1);
        TabHasSelection[tab] = 0;
    }
}

void MainForm::TreeView1_MouseButton(int tab, int button, int /*shift*/, int x, int y)
{
    PictureSelected = 0;
    if (tab != 2 || button != 2)
        return;
    FolderTree* tree = TreeView1[2];
    QTreeWidgetItem* hit = tree->itemAt(x, y);
    tree->setDropHighlight(hit);
    tree->setCurrentItem(hit);
    if (hit) {
        CurrentNodePath[2] = tree->treePath(tree->currentItem());
        PopupMenu(menu_L);
        tree->setDropHighlight(nullptr);
    }
}

} // namespace ztv
