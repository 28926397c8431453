// The folder tree of a browsing tab and its handlers.
#include "display/BrowsingArea.h"

#include "platform/Drives.h"
#include "platform/FolderList.h"
#include "platform/Services.h"
#include "platform/WorkAside.h"
#include "widgets/FolderTree.h"

#include <QDir>
#include <QLabel>
#include <QMetaObject>

namespace ztv {

namespace {
QString image(const char16_t* key)
{
    return QString::fromUtf16(key);
}
} // namespace

QString BrowsingArea::folderOf(const QString& treePath) const
{
    return m_paths.AreaBasePath[m_area] + treePath;
}

void BrowsingArea::setRoot(const QString& key, const QString& icon)
{
    m_TreeView1->addRoot(key, m_RootName, icon);
    TreeEnum({ key });
}

void BrowsingArea::BuildAreaTree()
{
    if (m_area == Area::Cd) {
        m_cdDrive = FirstCdDrive(m_services.drives);
        m_RootName = m_cdDrive.name.isEmpty() ? QStringLiteral(":") : m_cdDrive.name;
        setRoot(m_RootName, image(FolderTree::Drive));
        m_media = currentMedia();
        for (const Medium& m : std::as_const(m_media))
            addMediumRoot(m);
        return;
    }
    m_RootName = QString::fromUtf16(m_area == Area::StockYard ? kStockYardName : kVaultName);
    setRoot(folderOf(m_RootName), image(FolderTree::FoldClose));
}

void BrowsingArea::rebuildTree()
{
    m_TreeView1->removeAllNodes();
    const QString key = folderOf(m_RootName);
    m_TreeView1->addRoot(key, m_RootName, image(FolderTree::FoldClose));
    Dir1().refresh();
    TreeEnum({ key });
}

QString BrowsingArea::reloadCdTree(bool mountIfNeeded)
{
    Drives& drives = m_services.drives;
    CdDrive drive = FirstCdDrive(drives);
    // A disc in the drive that the desktop did not mount: ask for it as a file manager
    // would. Refused or impossible, the root stays without children.
    if (mountIfNeeded && !drive.mounted && !drive.device.isEmpty() && drives.mediumPresent(drive.device)) {
        // The window waits, disabled, while the desktop spins the disc up.
        window()->setEnabled(false);
        const bool mounted = drives.mountMedium(drive.device);
        window()->setEnabled(true);
        if (mounted)
            drive = FirstCdDrive(drives);
    }
    m_cdDrive = drive;
    ClearTabPictures();
    // Only the disc's root is read again: the media's roots keep their open folders, and the
    // current node stays where it was on them.
    QTreeWidgetItem* current = m_TreeView1->currentItem();
    while (current && current->parent())
        current = current->parent();
    const bool onDisc = !current || m_TreeView1->indexOfTopLevelItem(current) == 0;
    if (m_TreeView1->topLevelItemCount() > 0)
        m_TreeView1->removeRoot(FolderTree::nodeKey(m_TreeView1->topLevelItem(0)));
    m_RootName = drive.name.isEmpty() ? QStringLiteral(":") : drive.name;
    setRoot(m_RootName, image(FolderTree::Drive));
    QTreeWidgetItem* disc = m_TreeView1->takeTopLevelItem(m_TreeView1->topLevelItemCount() - 1);
    m_TreeView1->insertTopLevelItem(0, disc);
    if (onDisc) {
        m_CurrentNodePath = m_RootName;
        m_TreeView1->setCurrentItem(disc);
    }
    updateMediaRoots();
    return drive.mounted ? drive.name : QString();
}

void BrowsingArea::TreeEnum(const QStringList& parentKeys)
{
    m_TreeView1->TreeEnum(parentKeys);
}

void BrowsingArea::Node_Exp(const QString& treePath)
{
    m_TreeView1->Node_Exp(treePath);
    m_CurrentNodePath = m_TreeView1->markedPath();
}

void BrowsingArea::ReopenTreePath(const QString& treePath)
{
    const QStringList parts = treePath.split(QLatin1Char('/'));
    QString path;
    for (const QString& part : parts) {
        path = path.isEmpty() ? part : path + QLatin1Char('/') + part;
        Node_Exp(path);
    }
}

QString BrowsingArea::markedCurrentPath() const
{
    return m_CurrentNodePath == m_TreeView1->markedPath() ? m_CurrentNodePath : QString();
}

void BrowsingArea::TreeView1_Expand(QTreeWidgetItem* node)
{
    // The CD root keeps its drive picture.
    if (!(m_area == Area::Cd && !node->parent()))
        m_TreeView1->setImage(node, image(FolderTree::FoldOpen));
    const QString folder = folderOf(m_TreeView1->treePath(node)) + QLatin1Char('/');
    if (!Dir1().setPath(folder)) {
        // The disc changed or went away under the tree: rebuild it from the drive as it is
        // now. Done after the tree has finished expanding the node that is about to go.
        // The stock yard and the vault keep their trees. A medium pulled under the tree
        // takes only its own root.
        if (m_area == Area::Cd && mediumOf(folder.chopped(1)))
            QMetaObject::invokeMethod(
                this, [this] { updateMediaRoots(); }, Qt::QueuedConnection);
        else if (m_area == Area::Cd)
            QMetaObject::invokeMethod(
                this, [this] { reloadCdTree(false); }, Qt::QueuedConnection);
        return;
    }
    TreeEnum(Dir1().folders());
}

void BrowsingArea::TreeView1_Collapse(QTreeWidgetItem* node)
{
    list(folderOf(m_TreeView1->treePath(node)), ListHow::Show);
    if (!(m_area == Area::Cd && !node->parent()))
        m_TreeView1->setImage(node, image(FolderTree::FoldClose));
}

void BrowsingArea::TreeView1_NodeClick(QTreeWidgetItem* node)
{
    const QString path = m_TreeView1->treePath(node);
    m_CurrentNodePath = path;
    // The drive's root, whatever it is called now: read the drive afresh, the disc may have
    // been changed, put in or taken out since the tree was built.
    const bool cdRoot = m_area == Area::Cd && !node->parent();
    m_LabelMedium->hide();
    if (cdRoot && m_TreeView1->indexOfTopLevelItem(node) > 0) {
        const std::optional<Medium> medium = mediumOf(path);
        if (!medium)
            return;
        list(openMediumRoot(*medium), ListHow::Open);
        // A phone that is locked, or not set to file transfer, shows an empty root.
        const QString root = medium->path;
        if (medium->gvfs && m_HiddenList.isEmpty() && offMainThread<bool>([root] {
                return QDir(root)
                    .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System)
                    .isEmpty();
            }))
            m_LabelMedium->show();
        return;
    }
    list(cdRoot ? reloadCdTree(true) : folderOf(path), ListHow::Open);
}

// Any button over a tree ends PictureSelected: the next file operation needs a fresh click on
// a picture. The display keeps its picture until a click lists another folder.
void BrowsingArea::TreeView1_MouseButton(Qt::MouseButton button, QPoint at)
{
    m_window.setPictureSelected(false);
    if (m_area == Area::Cd && button == Qt::RightButton) {
        // A medium's root offers its safe removal; its folders, and the disc's, the copy of
        // their new pictures into the vault.
        QTreeWidgetItem* hit = m_TreeView1->itemAt(at);
        if (hit && (hit->parent() || m_TreeView1->indexOfTopLevelItem(hit) > 0 || m_cdDrive.mounted)) {
            m_TreeView1->setCurrentItem(hit);
            m_window.popupMenu(m_area, TabWindow::Menu::Medium);
        }
        return;
    }
    if (m_area != Area::Vault || button != Qt::RightButton)
        return;
    QTreeWidgetItem* hit = m_TreeView1->itemAt(at);
    m_TreeView1->setDropHighlight(hit);
    m_TreeView1->setCurrentItem(hit);
    if (hit) {
        m_CurrentNodePath = m_TreeView1->treePath(m_TreeView1->currentItem());
        m_window.popupMenu(m_area, TabWindow::Menu::Boxes);
        m_TreeView1->setDropHighlight(nullptr);
    }
}

} // namespace ztv
