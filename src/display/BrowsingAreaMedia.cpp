// The CD tab's removable media: one root each after the disc's.
#include "display/BrowsingArea.h"

#include "platform/Media.h"
#include "platform/Services.h"
#include "platform/WorkAside.h"
#include "widgets/FolderTree.h"

#include <QDir>
#include <QLabel>
#include <QRegularExpression>

namespace ztv {

namespace {

bool lies(const QString& path, const QString& top)
{
    return path == top || path.startsWith(top + QLatin1Char('/'));
}

} // namespace

QString cameraFolder(const QStringList& folders)
{
    if (folders.size() == 1)
        return folders.front();
    // A camera numbers its folders "100CANON", "101CANON", ... and writes into the highest; a
    // phone keeps its own pictures in "Camera" beside its screenshots and downloads.
    static const QRegularExpression dcf(QStringLiteral("^[1-9][0-9]{2}[0-9A-Z_]{5}$"));
    QString newest;
    int newestNumber = 0;
    for (const QString& f : folders) {
        const QString name = f.mid(f.lastIndexOf(QLatin1Char('/')) + 1);
        if (name.compare(QLatin1String("Camera"), Qt::CaseInsensitive) == 0)
            return f;
        if (dcf.match(name.toUpper()).hasMatch() && name.left(3).toInt() > newestNumber) {
            newestNumber = name.left(3).toInt();
            newest = f;
        }
    }
    return newest;
}

QList<Medium> BrowsingArea::currentMedia() const
{
    if (m_area != Area::Cd || !m_services.media)
        return {};
    const CdDrive disc = FirstCdDrive(m_services.drives);
    QList<Medium> media = m_services.media->media();
    // The disc has its own root; the storage root's own disk is never a medium to file from.
    media.removeIf([&](const Medium& m) {
        return (disc.mounted && (m.path == disc.name || (!m.device.isEmpty() && m.device == disc.device)))
            || (!m_paths.VaultPath.isEmpty() && lies(m_paths.VaultPath, m.path));
    });
    return media;
}

void BrowsingArea::addMediumRoot(const Medium& medium)
{
    // Phones and cameras come through GVfs's gphoto2, mtp and afc mounts, named by their URI.
    const QString scheme = medium.gvfs ? medium.id.section(QLatin1Char(':'), 0, 0) : QString();
    const bool phone = scheme == QLatin1String("mtp") || scheme == QLatin1String("gphoto2")
        || scheme == QLatin1String("afc");
    m_TreeView1->addRoot(medium.path, medium.path,
        QString::fromUtf16(phone ? FolderTree::Phone : FolderTree::Medium), medium.name);
    TreeEnum({ medium.path });
}

std::optional<Medium> BrowsingArea::mediumOf(const QString& treePath) const
{
    for (const Medium& m : m_media) {
        if (lies(treePath, m.path))
            return m;
    }
    return std::nullopt;
}

bool BrowsingArea::onGoneMedium(const QString& folder) const
{
    const std::optional<Medium> m = mediumOf(folder);
    return m && !holdsMount(currentMedia(), *m);
}

std::optional<Medium> BrowsingArea::markedMedium() const
{
    const QTreeWidgetItem* item = m_TreeView1->currentItem();
    if (!item || item->parent())
        return std::nullopt;
    const QString key = FolderTree::nodeKey(item);
    for (const Medium& m : m_media) {
        if (m.path == key)
            return m;
    }
    return std::nullopt;
}

QString BrowsingArea::markedFolder() const
{
    QTreeWidgetItem* item = m_TreeView1->currentItem();
    if (m_area != Area::Cd || !item)
        return {};
    QTreeWidgetItem* root = item;
    while (root->parent())
        root = root->parent();
    if (m_TreeView1->indexOfTopLevelItem(root) == 0 && !m_cdDrive.mounted)
        return {};
    return folderOf(m_TreeView1->treePath(item));
}

void BrowsingArea::updateMediaRoots()
{
    const QList<Medium> now = currentMedia();
    bool pageGone = false;
    for (const Medium& m : std::as_const(m_media)) {
        if (holdsMount(now, m))
            continue;
        pageGone = pageGone || lies(m_ListedFolder, m.path);
        if (lies(m_CurrentNodePath, m.path))
            m_CurrentNodePath = m_RootName;
        m_TreeView1->removeRoot(m.path);
    }
    const QList<Medium> before = m_media;
    m_media = now;
    for (const Medium& m : now) {
        if (!holdsMount(before, m))
            addMediumRoot(m);
    }
    if (pageGone) {
        m_LabelMedium->hide();
        list(QString(), ListHow::Show); // the page, the display and the choice empty
    }
}

QString BrowsingArea::openMediumRoot(const Medium& medium)
{
    // A camera card: its pictures lie below DCIM, and nothing else on it is the user's.
    const QStringList folders = m_TreeView1->Dir1().setPath(medium.path + QLatin1Char('/'))
        ? m_TreeView1->Dir1().folders()
        : QStringList();
    QStringList shown;
    for (const QString& f : folders) {
        if (!isMediumHousekeeping(f.mid(f.lastIndexOf(QLatin1Char('/')) + 1)))
            shown << f;
    }
    if (shown.size() == 1 && shown.front().endsWith(QLatin1String("/DCIM"), Qt::CaseInsensitive)) {
        Node_Exp(medium.path);
        Node_Exp(shown.front());
        // DCIM holds no pictures of its own: the page shows its camera folder's at once.
        QStringList cameraFolders;
        if (const QTreeWidgetItem* dcim = m_TreeView1->node(shown.front())) {
            for (int i = 0; i < dcim->childCount(); ++i)
                cameraFolders << FolderTree::nodeKey(dcim->child(i));
        }
        const QString camera = cameraFolder(cameraFolders);
        return camera.isEmpty() ? shown.front() : camera;
    }
    return medium.path;
}

bool BrowsingArea::openMediumAt(const QString& path)
{
    QString p = QDir::cleanPath(path);
    for (int i = 0; i < m_TreeView1->topLevelItemCount(); ++i) {
        QTreeWidgetItem* root = m_TreeView1->topLevelItem(i);
        const QString top = FolderTree::nodeKey(root);
        if (i == 0 || !lies(p, top))
            continue;
        m_TreeView1->setCurrentItem(root);
        if (p == top) {
            TreeView1_NodeClick(root);
            return true;
        }
        // A folder on it: opened down to there, as clicks would.
        QString at = top;
        Node_Exp(at);
        for (const QString& part : p.mid(top.size() + 1).split(QLatin1Char('/'))) {
            at += QLatin1Char('/') + part;
            Node_Exp(at);
        }
        list(p, ListHow::Open);
        return true;
    }
    return false;
}

Removal BrowsingArea::removeMedium(const Medium& medium)
{
    if (!m_services.media)
        return { Removal::Result::Failed, QString() };
    // The page's pictures are read again as it scrolls: it lets the medium go first, and
    // shows them again when the medium stays.
    const QString shown = m_ListedFolder;
    const bool letGo = lies(shown, medium.path);
    if (letGo) {
        m_LabelMedium->hide();
        list(QString(), ListHow::Show);
    }
    const Removal removal = m_services.media->remove(medium);
    if (removal.result == Removal::Result::Done)
        updateMediaRoots();
    else if (letGo)
        list(shown, ListHow::Show);
    return removal;
}

} // namespace ztv
