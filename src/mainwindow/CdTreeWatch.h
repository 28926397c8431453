#pragma once

#include <QObject>

class QTimer;
class QWidget;

namespace ztv {

class BrowseRun;
class BrowsingArea;
class Drives;
class Media;

// The CD tab's tree follows the drive: a disc inserted, swapped or removed rebuilds the tree and
// the page as a click on the drive's root would, once the window is free. A removable medium
// mounted or pulled adds or removes its own root only (BrowsingArea::updateMediaRoots); a
// listing of a medium that went ends at once, the tree changes once the window is free.
class CdTreeWatch : public QObject {
public:
    CdTreeWatch(QWidget& window, BrowsingArea& cd, BrowseRun& run, Drives& drives, Media* media = nullptr);

private:
    void driveMayHaveChanged();
    // An operation or a run (BrowseRun::busy), a dialog or a menu is under way: the tree must
    // wait.
    bool windowBusy() const;

    BrowsingArea& m_cd;
    BrowseRun& m_run;
    Drives& m_drives;
    QTimer* m_retry; // looks again while a change waits for the window
};

} // namespace ztv
