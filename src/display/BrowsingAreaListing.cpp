// Listing a folder as thumbnails on a browsing tab, choosing a picture and the preview.
#include "display/BrowsingArea.h"

#include "display/BrowseRun.h"
#include "display/ThumbnailScale.h"
#include "display/texts.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "platform/ContentIndex.h"
#include "platform/FolderList.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"
#include "platform/Services.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QSet>
#include <QTimer>
#include <algorithm>

namespace ztv {

int BrowsingArea::Listing::code() const
{
    switch (result) {
    case ListResult::Done:
        return ThumbnailBrowser::ResultOk;
    case ListResult::Stopped:
        return ThumbnailBrowser::ResultCancelled;
    case ListResult::Failed:
        break;
    }
    return error;
}

BrowsingArea::Listing BrowsingArea::list(const QString& folder, ListHow how)
{
    const bool afterChange = how == ListHow::AfterChange || how == ListHow::Quietly;
    int r = ThumbnailBrowser::ResultFolderUnreadable;
    // No folder at all (the area root could not be read at start): nothing to list.
    if (folder.isEmpty()) {
        clearPage();
        m_ListedFolder.clear();
    } else {
        r = m_run.run(m_area, how != ListHow::Quietly, [&] {
            m_LEADThumb1->setThumbnailSize(
                thumbnailDecodeBox(kThumbnailBox, m_LEADImgList1->devicePixelRatioF()));
            // Esc ends the run even while it waits on a slow decode.
            m_LEADThumb1->setCancelCheck([this] { return m_run.gBrowseQuit(); });
            if (afterChange) {
                if (const std::optional<int> changes = listChanges(folder))
                    return *changes;
            }
            return listWhole(folder);
        });
    }
    // A choice that ends anyway is not drawn first: that would scroll to it, and the page
    // shown would lose its pictures for a moment.
    if (afterChange)
        clearSelection();
    afterListing();
    // Only a medium's (or the disc's) page has pictures that may be new.
    m_OnlyNew->setVisible(m_area == Area::Cd && !m_ListedFolder.isEmpty());
    markVaultCopies();
    Listing listing;
    if (r == ThumbnailBrowser::ResultCancelled)
        listing.result = ListResult::Stopped;
    else if (r != ThumbnailBrowser::ResultOk)
        listing = { ListResult::Failed, r };
    // The selector never offers pages the list no longer has, nor hides new ones; a listing
    // done shows its first page.
    if (listing.done() || m_Combo1->count() != PagesFor(m_LEADImgList1->PageCount()))
        ComboSet();
    if (afterChange || (how == ListHow::Open && listing.done()))
        clearSelection();
    return listing;
}

void BrowsingArea::load()
{
    m_LEAD1->setDisplayScaleMode(3);
    ClearTabPictures();
    BuildAreaTree();
    if (m_area == Area::Cd)
        return; // the CD tab lists nothing until a node is clicked
    // The folder the tree fill left the folder list on: the area's root when it could be read.
    list(Dir1().path(), ListHow::Show);
}

int BrowsingArea::listWhole(const QString& folder)
{
    clearPage();
    m_named.clear();
    m_examined.clear();
    m_ListedFolder = folder.endsWith(QLatin1Char('/')) && folder.size() > 1 ? folder.chopped(1) : folder;
    const int result = m_LEADThumb1->BrowseFolder(folder);
    m_LEADImgList1->commitAdded();
    const QStringList& paths = m_LEADThumb1->listedPaths();
    const std::vector<FileStamp>& stamps = m_LEADThumb1->listedStamps();
    // Kept for the next re-listing only when every file found its row.
    if (result == ThumbnailBrowser::ResultOk && m_examined.size() == size_t(paths.size())
        && stamps.size() == size_t(paths.size())) {
        m_named.reserve(m_examined.size());
        for (qsizetype i = 0; i < paths.size(); ++i)
            m_named.push_back({ paths.at(i), stamps.at(size_t(i)), m_examined.at(size_t(i)) });
        m_namedBox = m_LEADThumb1->thumbnailSize();
    }
    m_examined.clear();
    return result;
}

std::optional<int> BrowsingArea::listChanges(const QString& folder)
{
    const QString listed
        = folder.endsWith(QLatin1Char('/')) && folder.size() > 1 ? folder.chopped(1) : folder;
    if (m_named.empty() || listed != m_ListedFolder || m_namedBox != m_LEADThumb1->thumbnailSize()
        || m_LEADImgList1->ThumbnailCount() != m_HiddenList.size())
        return std::nullopt;
    // Only rows that still show what that listing gave them are taken over.
    auto rowsAsListed = [this](const std::vector<Named>& named) {
        return std::all_of(named.cbegin(), named.cend(),
            [&](const Named& n) { return n.row < 0 || m_HiddenList.value(n.row) == n.path; });
    };
    if (!rowsAsListed(m_named))
        return std::nullopt;
    std::vector<Named> before = std::move(m_named);
    m_named.clear();
    const int named = m_LEADThumb1->listNames(folder);
    if (named != ThumbnailBrowser::ResultOk) {
        clearPage();
        return named;
    }
    const QStringList& paths = m_LEADThumb1->listedPaths();
    const std::vector<FileStamp>& stamps = m_LEADThumb1->listedStamps();
    QHash<QString, int> old;
    old.reserve(qsizetype(before.size()));
    for (size_t i = 0; i < before.size(); ++i)
        old.insert(before[i].path, int(i));

    // Each file: the row (or no row) it had, when unchanged since; else it is read again.
    // The first page's pictures not held now are read with them, so the page the listing
    // shows is whole when it ends.
    struct Plan {
        int oldRow = Vanished; // >= 0: the row taken over; Unlisted: known not to be a picture
        int made = -1; // its place in the files read again
    };
    std::vector<Plan> plan(size_t(paths.size()));
    QStringList toMake;
    int rowsAhead = 0;
    for (qsizetype i = 0; i < paths.size(); ++i) {
        Plan& p = plan[size_t(i)];
        const int at = old.value(paths.at(i), -1);
        const bool same = at >= 0 && before[size_t(at)].stamp == stamps.at(size_t(i))
            && before[size_t(at)].row != Vanished && stamps.at(size_t(i)) != FileStamp();
        if (same)
            p.oldRow = before[size_t(at)].row;
        else if (at >= 0)
            // The shared cache knows a file by its time in whole seconds and its size: a file
            // replaced within the second its entry was made would get the old picture back.
            m_LEADThumb1->dropCacheEntries(paths.at(i));
        const bool firstPage = rowsAhead < kThumbnailsPerPage && p.oldRow != Unlisted;
        if (!same || (firstPage && p.oldRow >= 0 && m_LEADImgList1->keptItem(p.oldRow).image.isNull())) {
            p.made = int(toMake.size());
            toMake.append(paths.at(i));
        }
        if (p.oldRow != Unlisted)
            ++rowsAhead;
    }

    std::vector<ThumbnailResult> made;
    made.reserve(size_t(toMake.size()));
    const int result = m_LEADThumb1->makeEach(toMake, [&](ThumbnailResult& r) {
        made.push_back(std::move(r));
        m_run.fileDone(made.back().status != ThumbnailResult::Vanished);
        m_LEADThumb1->setContinueBrowsing(!m_run.gBrowseQuit());
    });

    // A listing of this tab started meanwhile (a plain run leaves the window usable) changed
    // the rows: none of them is taken over then.
    if (!rowsAsListed(before))
        return listWhole(folder);
    // The page as a whole listing would leave it: every file in order up to the first one not
    // read (a stop), each row counted as the run counts files.
    std::vector<ThumbnailModel::Kept> kept(plan.size());
    for (size_t i = 0; i < plan.size(); ++i) {
        if (plan[i].made < 0 && plan[i].oldRow >= 0)
            kept[i] = m_LEADImgList1->keptItem(plan[i].oldRow);
    }
    clearPage();
    int counted = 0;
    bool whole = true;
    m_named.reserve(plan.size());
    for (size_t i = 0; i < plan.size(); ++i) {
        const Plan& p = plan[i];
        const QString& path = paths.at(qsizetype(i));
        int row = p.oldRow;
        if (p.made >= 0) {
            if (size_t(p.made) >= made.size()) {
                whole = false;
                break;
            }
            const ThumbnailResult& r = made[size_t(p.made)];
            row = r.status == ThumbnailResult::Made     ? int(m_HiddenList.size())
                : r.status == ThumbnailResult::Vanished ? Vanished
                                                        : Unlisted;
            // Each row carries the count of files before it, as a whole listing numbers them.
            if (row >= 0) {
                m_HiddenList.append(path);
                m_LEADImgList1->AddThumbnail(
                    withThumbnailRatio(r.image, kThumbnailBox, m_LEADImgList1->devicePixelRatioF()),
                    displayName(GetFileTitle(path)), counted);
            }
            if (row != Vanished)
                ++counted;
        } else {
            if (row >= 0) {
                row = int(m_HiddenList.size());
                m_HiddenList.append(path);
                m_LEADImgList1->AddKeptThumbnail(kept[i], displayName(GetFileTitle(path)), counted);
            }
            ++counted;
        }
        m_named.push_back({ path, stamps.at(i), row });
    }
    m_LEADImgList1->commitAdded();
    if (!whole || result != ThumbnailBrowser::ResultOk)
        m_named.clear();
    return result;
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
        connect(index, &ContentIndex::copyFound, this,
            [this](quint64 ticket, int position, const QString& file, const QString& vaultCopy) {
                // Only answers about the page listed last, for the file each position still holds.
                if (ticket != m_markTicket || m_lookedUp.value(position) != file)
                    return;
                m_markCopies.insert(position, vaultCopy);
                m_markFound.insert(position);
                const int row = shownRow(position);
                if (row >= 0)
                    m_LEADImgList1->setMark(row, markText(vaultCopy));
                if (m_OnlyNew->isChecked())
                    m_filterTimer->start();
            });
        // A position that lost its mark comes back on a filtered page.
        auto unmark = [this](QHash<int, QString>::iterator it) {
            const int row = shownRow(it.key());
            if (row >= 0)
                m_LEADImgList1->setMark(row, QString());
            else if (m_hiddenRows.contains(it.key()))
                m_filterTimer->start();
            m_markFound.remove(it.key());
            return m_markCopies.erase(it);
        };
        // Asked again after the program's own changes: a row the answers no longer name loses
        // its mark.
        connect(index, &ContentIndex::lookUpDone, this, [this, unmark](quint64 ticket) {
            if (ticket != m_markTicket)
                return;
            for (auto it = m_markCopies.begin(); it != m_markCopies.end();)
                it = m_markFound.contains(it.key()) ? std::next(it) : unmark(it);
            m_markFound.clear();
        });
        // A copy the program deleted, moved or renamed is not named a moment longer.
        connect(index, &ContentIndex::forgotten, this, [this, unmark](const QStringList& paths) {
            for (auto it = m_markCopies.begin(); it != m_markCopies.end();) {
                const QString& copy = it.value();
                const bool gone = std::any_of(paths.cbegin(), paths.cend(),
                    [&](const QString& p) { return copy == p || copy.startsWith(p + QLatin1Char('/')); });
                it = gone ? unmark(it) : std::next(it);
            }
        });
    }
    // The page is drawn first; the marks come as the index answers, in the background.
    m_markCopies.clear();
    m_markFound.clear();
    if (!m_hiddenRows.isEmpty())
        applyOnlyNew(); // the page whole again before it is asked about
    m_lookedUp = m_HiddenList;
    m_markTicket = index->lookUp(m_HiddenList, int(m_area));
}

void BrowsingArea::ThumbnailReady(const QImage& bitmap, const QString& path, int status)
{
    if (status == ThumbnailResult::Made)
        AddThumbnailItem(path, bitmap);
    m_examined.push_back(status == ThumbnailResult::Made ? int(m_HiddenList.size()) - 1
            : status == ThumbnailResult::Vanished        ? Vanished
                                                         : Unlisted);
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
