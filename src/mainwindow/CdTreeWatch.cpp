#include "mainwindow/CdTreeWatch.h"

#include "display/BrowseRun.h"
#include "display/BrowsingArea.h"
#include "platform/Drives.h"
#include "platform/Media.h"

#include <QApplication>
#include <QTimer>
#include <QWidget>

namespace ztv {

CdTreeWatch::CdTreeWatch(QWidget& window, BrowsingArea& cd, BrowseRun& run, Drives& drives, Media* media)
    : QObject(&window)
    , m_cd(cd)
    , m_run(run)
    , m_drives(drives)
    , m_retry(new QTimer(this))
{
    m_retry->setInterval(100);
    connect(m_retry, &QTimer::timeout, this, [this] { driveMayHaveChanged(); });
    m_drives.watch(this, [this] { driveMayHaveChanged(); });
    if (media)
        media->watch(this, [this] { driveMayHaveChanged(); });
}

bool CdTreeWatch::windowBusy() const
{
    return m_run.busy() || QApplication::activeModalWidget() || QApplication::activePopupWidget();
}

void CdTreeWatch::driveMayHaveChanged()
{
    const bool discSame = FirstCdDrive(m_drives) == m_cd.cdDrive();
    const bool mediaSame = m_cd.currentMedia() == m_cd.shownMedia();
    if (discSame && mediaSame) {
        m_retry->stop(); // other mounts, or the disc came back before the window was free
        return;
    }
    if (windowBusy()) {
        // A listing of the disc that went away or was replaced ends with what it read, as
        // does a listing of a medium that was pulled; one of another medium goes on.
        if (m_run.area() == Area::Cd && (!discSame || m_cd.onGoneMedium(m_cd.ListedFolder())))
            m_run.askToStop();
        m_retry->start();
        return;
    }
    m_retry->stop();
    // The rebuild is an operation of its own: nothing else runs inside its disk calls.
    const BrowseRun::Hold hold(&m_run);
    if (discSame) {
        m_cd.updateMediaRoots();
        return;
    }
    // As a click on the drive's root would, without asking to mount: the desktop that just
    // unmounted a disc wants it so.
    // Without a disc the page selector counts the empty page, not the last disc's pages.
    m_cd.list(m_cd.reloadCdTree(false), BrowsingArea::ListHow::Show);
}

} // namespace ztv
