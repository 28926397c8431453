// Listing a folder as thumbnails on a browsing tab, choosing a picture and the preview.
#include "mainwindow/MainForm.h"

#include "display/BrowseKeyWatch.h"
#include "display/PreviewForm.h"
#include "display/ThumbnailScale.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/texts.h"
#include "platform/PathCodec.h"
#include "platform/PathText.h"

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPointer>

namespace ztv {

void MainForm::ThumbnailBrowserSetup(Area ar)
{
    BrowsingArea& a = area(ar);
    a.LEAD1->setDisplayScaleMode(3);
    a.ClearTabPictures();
}

int MainForm::ShowFolderThumbnails(Area ar, const QString& folder)
{
    BrowsingArea& a = area(ar);
    a.clearPage();
    // No folder at all (the area root could not be read at start): nothing to list.
    if (folder.isEmpty()) {
        a.ListedFolder.clear();
        a.afterListing();
        return ThumbnailBrowser::ResultFolderUnreadable;
    }
    return relist(ar, folder, Run::Bracketed);
}

int MainForm::relist(Area ar, const QString& folder, Run how)
{
    BrowsingArea& a = area(ar);
    const bool bracket = how == Run::Bracketed;
    // A run started from inside another (a plain run leaves the window usable) must hand the
    // outer run back its own counts, its area and its Esc watch.
    const bool nested = m_browseArea.has_value();
    const std::optional<Area> outerArea = m_browseArea;
    const int outerIndex = m_gBrowseIndex;
    const int outerFiles = m_browseFiles;
    // A stop asked of an earlier run must not cut this one short. The progress line counts
    // this run's files against this run's folder.
    m_gBrowseQuit = false;
    m_gBrowseIndex = 0;
    m_browseFiles = 0;
    // Disabling the window takes the focus away; it comes back after the run so keyboard
    // users keep their place.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    if (bracket) {
        m_gbBrowsing = true;
        setEnabled(false);
    }
    m_browseArea = ar;
    if (!nested)
        m_keyWatch->start(&m_gBrowseQuit);
    a.LEADThumb1->setThumbnailSize(thumbnailDecodeBox(kThumbnailBox, a.LEADImgList1->devicePixelRatioF()));
    a.ListedFolder = folder.endsWith(QLatin1Char('/')) && folder.size() > 1 ? folder.chopped(1) : folder;
    // Esc ends the run even while it waits on a slow decode.
    a.LEADThumb1->setCancelCheck([this] { return m_gBrowseQuit; });
    const int r = a.LEADThumb1->BrowseFolder(folder);
    a.LEADImgList1->commitAdded();
    if (nested) {
        m_browseArea = outerArea;
        m_gBrowseIndex = outerIndex;
        m_browseFiles = outerFiles;
        showBrowseProgress();
    } else {
        m_keyWatch->stop();
        m_browseArea.reset();
        m_BrowseStatus->hide();
    }
    if (bracket) {
        setEnabled(true);
        m_gbBrowsing = false;
        if (focus && focus->isVisible() && focus->isEnabled())
            focus->setFocus(Qt::OtherFocusReason);
    }
    a.afterListing();
    // The selector never offers pages the list no longer has, nor hides new ones, even where
    // the caller does not set it again (a run cut short, the box operations).
    if (a.Combo1->count() != PagesFor(a.LEADImgList1->PageCount()))
        ComboSet(ar);
    return r;
}

void MainForm::showBrowseProgress()
{
    m_BrowseStatus->setText(QString::fromUtf16(texts::BrowseProgress).arg(m_gBrowseIndex).arg(m_browseFiles));
    m_BrowseStatus->show();
}

void MainForm::LEADThumb1_ThumbnailReady(Area ar, const QImage& bitmap, const QString& path, int status)
{
    ThumbnailBrowser* browser = area(ar).LEADThumb1;
    if (status == ThumbnailResult::Made) {
        AddThumbnailItem(ar, path, bitmap);
        ++m_gBrowseIndex;
    } else if (status != ThumbnailResult::Vanished) {
        ++m_gBrowseIndex;
    }
    browser->setContinueBrowsing(!m_gBrowseQuit);
    showBrowseProgress();
    QCoreApplication::processEvents();
    // An Esc seen during that pass stops the run at this file rather than the next one.
    browser->setContinueBrowsing(!m_gBrowseQuit);
}

void MainForm::AddThumbnailItem(Area ar, const QString& path, const QImage& bitmap)
{
    BrowsingArea& a = area(ar);
    a.HiddenList.append(path);
    ThumbnailList* list = a.LEADImgList1;
    // The caption is only shown: a name that is not UTF-8 reads as well as it can.
    list->AddThumbnail(withThumbnailRatio(bitmap, kThumbnailBox, list->devicePixelRatioF()),
        displayName(GetFileTitle(path)), m_gBrowseIndex);
    list->ScrollToThumbnail(list->ThumbnailCount() - 1);
}

void MainForm::LEADImgList1_Click(Area ar, int item)
{
    BrowsingArea& a = area(ar);
    if (a.choose(item)) {
        m_PictureSelected = true;
        return;
    }
    // The page was emptied: the selector must not offer its pages any more.
    ComboSet(ar);
}

void MainForm::LEADImgList1_MouseButton(Area ar, Qt::MouseButton button, QPoint at)
{
    ThumbnailList* list = area(ar).LEADImgList1;
    const int hit = list->HitTest(at.x(), at.y());
    if (button != Qt::RightButton)
        return;
    if (hit >= 0 && hit < list->ThumbnailCount()) {
        LEADImgList1_Click(ar, hit);
        QMenu* menus[kAreaCount] = { m_menu_RCD, m_menu_R, m_menu_RF };
        PopupMenu(menus[tabIndex(ar)]);
    } else {
        PopupMenu(m_menu_EX);
    }
}

PreviewForm* MainForm::previewForm() const
{
    return qobject_cast<PreviewForm*>(m_preview.data());
}

void MainForm::LEAD1_Click(Area ar)
{
    BrowsingArea& a = area(ar);
    // A chosen file changed since is reported and no preview opens.
    const std::optional<QString> path = a.fileOrNothingToActOn(m_services.prompts);
    if (!path)
        return;
    a.PreviewPath = *path;
    if (m_preview) {
        m_preview->show();
        m_preview->raise();
        m_preview->activateWindow();
        return;
    }
    m_previewArea = ar;
    // A failed load empties the tab the picture was chosen on.
    m_preview = new PreviewForm(a.PreviewPath, [this] {
        area(m_previewArea).ClearTabPictures();
        ComboSet(m_previewArea);
    });
    m_preview->show();
}

} // namespace ztv
