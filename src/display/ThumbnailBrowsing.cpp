// Listing a folder as thumbnails on a browsing tab, choosing a picture and the preview.
#include "mainwindow/MainForm.h"

#include "display/BrowseKeyWatch.h"
#include "display/PreviewForm.h"
#include "display/SelectionState.h"
#include "display/ThumbnailScale.h"
#include "imaging/PictureDisplay.h"
#include "imaging/ThumbnailBrowser.h"
#include "imaging/ThumbnailList.h"
#include "mainwindow/PathText.h"
#include "mainwindow/texts.h"
#include "platform/PathCodec.h"

#include <QApplication>
#include <QCoreApplication>
#include <QLabel>
#include <QPointer>

namespace ztv {

void MainForm::ThumbnailBrowserSetup(int tab)
{
    TabHasSelection[tab] = 0;
    LEADImgList1[tab]->setIntegerOption(1);
    LEAD1[tab]->setDisplayScaleMode(3);
    LEADImgList1[tab]->ClearThumbnails();
    HiddenList[tab].clear();
    ThumbnailBrowser* browser = LEADThumb1[tab];
    browser->setFileFilter(QStringLiteral("*.*"));
    static constexpr bool flags[7] = { false, false, false, true, false, false, false };
    for (int i = 0; i < 7; ++i)
        browser->setBooleanOption(i, flags[i]);
    browser->setIntegerOption(0, 24);
    browser->setIntegerOption(1, 0);
}

int MainForm::ShowFolderThumbnails(int tab, const QString& folder)
{
    LEADImgList1[tab]->ClearThumbnails();
    HiddenList[tab].clear();
    // No folder at all (the area root could not be read at start): nothing to list.
    if (folder.isEmpty())
        return ThumbnailBrowser::ResultFolderUnreadable;
    gBrowseQuit = 0;
    gBrowseIndex = 0;
    gbBrowsing = true;
    // Disabling the window takes the focus away; it comes back after the run so keyboard
    // users keep their place.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    setEnabled(false);
    m_browseTab = tab;
    m_browseFiles = 0;
    m_keyWatch->start(&gBrowseQuit);
    LEADThumb1[tab]->setThumbnailSize(thumbnailDecodeBox(kThumbnailBox, LEADImgList1[tab]->devicePixelRatioF()));
    const int r = LEADThumb1[tab]->BrowseFolder(folder);
    LEADImgList1[tab]->commitAdded();
    m_keyWatch->stop();
    m_browseTab = -1;
    BrowseStatus->hide();
    setEnabled(true);
    if (focus && focus->isVisible() && focus->isEnabled())
        focus->setFocus(Qt::OtherFocusReason);
    gbBrowsing = false;
    return r;
}

void MainForm::showBrowseProgress()
{
    BrowseStatus->setText(QString::fromUtf16(texts::BrowseProgress).arg(gBrowseIndex).arg(m_browseFiles));
    BrowseStatus->show();
}

void MainForm::LEADThumb1_ThumbnailReady(int tab, const QImage& bitmap, const QString& path, int status)
{
    if (status == ThumbnailResult::Made) {
        AddThumbnailItem(tab, path, bitmap);
        ++gBrowseIndex;
    } else if (status != ThumbnailResult::Vanished) {
        ++gBrowseIndex;
    }
    LEADThumb1[tab]->setContinueBrowsing(!gBrowseQuit);
    showBrowseProgress();
    QCoreApplication::processEvents();
    // An Esc seen during that pass stops the run at this file rather than the next one.
    LEADThumb1[tab]->setContinueBrowsing(!gBrowseQuit);
}

void MainForm::AddThumbnailItem(int tab, const QString& path, const QImage& bitmap)
{
    HiddenList[tab].append(path);
    ThumbnailList* list = LEADImgList1[tab];
    // The caption is only shown: a name that is not UTF-8 reads as well as it can.
    list->AddThumbnail(withThumbnailRatio(bitmap, kThumbnailBox, list->devicePixelRatioF()),
        displayName(GetFileTitle(path)), gBrowseIndex);
    list->ScrollToThumbnail(list->ThumbnailCount() - 1);
}

void MainForm::ClearTabPictures(int tab)
{
    LEADImgList1[tab]->ClearThumbnails();
    HiddenList[tab].clear();
    LEAD1[tab]->ClearPicture(0, 1);
}

void MainForm::LEADImgList1_Click(int tab, int item)
{
    TabHasSelection[tab] = 1;
    const bool known = item >= 0 && item < HiddenList[tab].size();
    if (known && LEAD1[tab]->LoadPicture(HiddenList[tab].at(item), 0, 0, 1)) {
        TabSelectedIndex[tab] = item;
        PictureSelected = 1;
        return;
    }
    // The file went away or cannot be read: the listing no longer describes the folder.
    ClearTabPictures(tab);
    PreviewPath.clear();
}

void MainForm::LEADImgList1_MouseButton(int tab, int button, int /*shift*/, int x, int y)
{
    ThumbnailList* list = LEADImgList1[tab];
    list->setHitTestOption(false);
    const int hit = list->HitTest(x, y);
    list->setHitTestOption(true);
    if (button != 2)
        return;
    if (hit >= 0 && hit < list->ThumbnailCount()) {
        list->SetAllSelected(false);
        list->SetItemSelected(hit);
        LEADImgList1_Click(tab, hit);
        QMenu* menus[3] = { menu_RCD, menu_R, menu_RF };
        PopupMenu(menus[tab]);
    } else {
        PopupMenu(menu_EX);
    }
}

PreviewForm* MainForm::previewForm() const
{
    return qobject_cast<PreviewForm*>(m_preview.data());
}

void MainForm::LEAD1_Click(int tab)
{
    PreviewPath = TabHasSelection[tab] == 1 ? HiddenList[tab].value(TabSelectedIndex[tab]) : QString();
    if (m_preview) {
        m_preview->show();
        m_preview->raise();
        m_preview->activateWindow();
        return;
    }
    m_previewTab = tab;
    // The preview knows only the path; a failed load empties the tab it was chosen on.
    m_preview = new PreviewForm([this] { ClearTabPictures(m_previewTab); });
    m_preview->show();
}

} // namespace ztv
