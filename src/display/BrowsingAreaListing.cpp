// Listing a folder as thumbnails on a browsing tab, choosing a picture and the preview.
#include "display/BrowsingArea.h"

#include "display/BrowseRun.h"
#include "display/ThumbnailScale.h"
#include "display/texts.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/ContentIndex.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QSet>
#include <algorithm>

namespace ztv {

int BrowsingArea::ShowFolderThumbnails(const QString& folder)
{
    clearPage();
    // No folder at all (the area root could not be read at start): nothing to list.
    if (folder.isEmpty()) {
        m_ListedFolder.clear();
        afterListing();
        return ThumbnailBrowser::ResultFolderUnreadable;
    }
    return relist(folder, Run::Bracketed);
}

int BrowsingArea::relist(const QString& folder, Run how)
{
    const int r = m_run.run(m_area, how == Run::Bracketed, [&] {
        m_LEADThumb1->setThumbnailSize(
            thumbnailDecodeBox(kThumbnailBox, m_LEADImgList1->devicePixelRatioF()));
        m_ListedFolder = folder.endsWith(QLatin1Char('/')) && folder.size() > 1 ? folder.chopped(1) : folder;
        // Esc ends the run even while it waits on a slow decode.
        m_LEADThumb1->setCancelCheck([this] { return m_run.gBrowseQuit(); });
        const int result = m_LEADThumb1->BrowseFolder(folder);
        m_LEADImgList1->commitAdded();
        return result;
    });
    afterListing();
    markVaultCopies();
    // The selector never offers pages the list no longer has, nor hides new ones, even where
    // the caller does not set it again (a run cut short, the box operations).
    if (m_Combo1->count() != PagesFor(m_LEADImgList1->PageCount()))
        ComboSet();
    return r;
}

QString BrowsingArea::currentFolder() const
{
    // A collapsed node lists its folder without becoming current, and the user expects the
    // page they acted on back.
    return m_ListedFolder.isEmpty() ? folderOf(m_CurrentNodePath) : m_ListedFolder;
}

void BrowsingArea::dropCacheEntries(const QString& file)
{
    m_LEADThumb1->dropCacheEntries(file);
    if (ContentIndex* index = m_window.contentIndex())
        index->pathChanged(file);
}

void BrowsingArea::moveCacheEntries(const QString& from, const QString& to)
{
    m_LEADThumb1->moveCacheEntries(from, to);
    if (ContentIndex* index = m_window.contentIndex())
        index->pathMoved(from, to);
}

void BrowsingArea::markVaultCopies()
{
    ContentIndex* index = m_window.contentIndex();
    if (!index)
        return;
    if (m_area == Area::Vault) {
        index->checkForOutsideChanges();
        return;
    }
    if (index != m_connectedIndex) {
        m_connectedIndex = index;
        // Shown from the vault's own name on ("保管庫/旅行/写真1.jpg").
        const qsizetype cut = index->vaultRoot().lastIndexOf(QLatin1Char('/')) + 1;
        connect(index, &ContentIndex::copyFound, this,
            [this, cut](quint64 ticket, int position, const QString& file, const QString& vaultCopy) {
                // Only answers about the page listed last, for the file each row still shows.
                if (ticket != m_markTicket || m_HiddenList.value(position) != file)
                    return;
                m_markCopies.insert(position, vaultCopy);
                m_markFound.insert(position);
                m_LEADImgList1->setMark(position,
                    QString::fromUtf16(texts::display::InVaultMark).arg(displayName(vaultCopy.mid(cut))));
            });
        // Asked again after the program's own changes: a row the answers no longer name loses
        // its mark.
        connect(index, &ContentIndex::lookUpDone, this, [this](quint64 ticket) {
            if (ticket != m_markTicket)
                return;
            for (auto it = m_markCopies.begin(); it != m_markCopies.end();) {
                if (m_markFound.contains(it.key())) {
                    ++it;
                    continue;
                }
                m_LEADImgList1->setMark(it.key(), QString());
                it = m_markCopies.erase(it);
            }
            m_markFound.clear();
        });
        // A copy the program deleted, moved or renamed is not named a moment longer.
        connect(index, &ContentIndex::forgotten, this, [this](const QStringList& paths) {
            for (auto it = m_markCopies.begin(); it != m_markCopies.end();) {
                const QString& copy = it.value();
                const bool gone = std::any_of(paths.cbegin(), paths.cend(),
                    [&](const QString& p) { return copy == p || copy.startsWith(p + QLatin1Char('/')); });
                if (!gone) {
                    ++it;
                    continue;
                }
                m_LEADImgList1->setMark(it.key(), QString());
                m_markFound.remove(it.key());
                it = m_markCopies.erase(it);
            }
        });
    }
    // The page is drawn first; the marks come as the index answers, in the background.
    m_markCopies.clear();
    m_markFound.clear();
    m_markTicket = index->lookUp(m_HiddenList, int(m_area));
}

void BrowsingArea::ThumbnailReady(const QImage& bitmap, const QString& path, int status)
{
    if (status == ThumbnailResult::Made)
        AddThumbnailItem(path, bitmap);
    m_run.fileDone(status != ThumbnailResult::Vanished);
    m_LEADThumb1->setContinueBrowsing(!m_run.gBrowseQuit());
    QCoreApplication::processEvents();
    // An Esc seen during that pass stops the run at this file rather than the next one.
    m_LEADThumb1->setContinueBrowsing(!m_run.gBrowseQuit());
}

void BrowsingArea::AddThumbnailItem(const QString& path, const QImage& bitmap)
{
    m_HiddenList.append(path);
    // The caption is only shown: a name that is not UTF-8 reads as well as it can.
    m_LEADImgList1->AddThumbnail(
        withThumbnailRatio(bitmap, kThumbnailBox, m_LEADImgList1->devicePixelRatioF()),
        displayName(GetFileTitle(path)), m_run.gBrowseIndex());
    m_LEADImgList1->ScrollToThumbnail(m_LEADImgList1->ThumbnailCount() - 1);
}

void BrowsingArea::LEADImgList1_Click(int item)
{
    if (choose(item)) {
        m_window.setPictureSelected(true);
        return;
    }
    // The page was emptied: the selector must not offer its pages any more.
    ComboSet();
}

QString BrowsingArea::pictureAfterChoice() const
{
    qsizetype last = -1;
    QSet<QString> chosen;
    for (const PictureChoice& c : m_Chosen) {
        chosen.insert(c.path);
        last = std::max(last, m_HiddenList.indexOf(c.path));
    }
    for (qsizetype i = last + 1; i < m_HiddenList.size(); ++i)
        if (!chosen.contains(m_HiddenList[i]))
            return m_HiddenList[i];
    return QString();
}

bool BrowsingArea::chooseNext(const QString& next)
{
    const qsizetype item = next.isEmpty() ? -1 : m_HiddenList.indexOf(next);
    if (item < 0)
        return false;
    if (choose(int(item))) {
        m_window.setPictureSelected(true);
        return true;
    }
    // The page was emptied: the selector must not offer its pages any more.
    ComboSet();
    return false;
}

void BrowsingArea::LEADImgList1_ClickWith(int item, Qt::KeyboardModifiers modifiers)
{
    if (chooseWith(item, modifiers)) {
        m_window.setPictureSelected(true);
        return;
    }
    if (m_HiddenList.isEmpty())
        ComboSet();
}

void BrowsingArea::LEADImgList1_MouseButton(Qt::MouseButton button, QPoint at)
{
    const int hit = m_LEADImgList1->HitTest(at.x(), at.y());
    if (button != Qt::RightButton)
        return;
    if (hit >= 0 && hit < m_LEADImgList1->ThumbnailCount()) {
        // The menu over one of several chosen acts on them all; elsewhere the press chooses.
        const bool amongSeveral = m_Chosen.size() > 1
            && std::any_of(m_Chosen.cbegin(), m_Chosen.cend(),
                [&](const PictureChoice& c) { return c.path == m_HiddenList.value(hit); });
        if (amongSeveral)
            m_window.setPictureSelected(true);
        else
            LEADImgList1_Click(hit);
        m_window.popupMenu(m_area, TabWindow::Menu::Picture);
    } else {
        m_window.popupMenu(m_area, TabWindow::Menu::Empty);
    }
}

void BrowsingArea::LEAD1_Click()
{
    // A chosen file changed since is reported and no preview opens.
    const std::optional<QString> path = fileOrNothingToActOn(m_services.prompts);
    if (!path)
        return;
    m_PreviewPath = *path;
    m_window.showPreview(m_area, m_PreviewPath);
}

} // namespace ztv
