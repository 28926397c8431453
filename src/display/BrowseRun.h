#pragma once

#include "values/Area.h"

#include <QString>
#include <functional>
#include <optional>

class QLabel;
class QWidget;

namespace ztv {

class BrowseKeyWatch;

// The browse run the window's tabs share: whether one is under way (gbBrowsing), asked to
// stop (gBrowseQuit), the files it examined so far (gBrowseIndex) and the progress line that
// counts them. One tab lists at a time; a listing started inside another hands the outer one
// back its counts.
//
// It is also the window's one operation under way: a command, a drop or a box key holds it
// (Hold) while it runs, and a listing run counts too. While a disk call waits aside the
// window's timers, queued calls and drops from other programs still run; each of them asks
// busy() and refuses, or comes back once it is false, so nothing runs inside the operation.
class BrowseRun {
public:
    // Holds the operation under way for its life, unless one is under way already: then it
    // holds nothing and is false, and the caller does nothing. Made with no run (a window that
    // has none), it is true and holds nothing.
    class Hold {
    public:
        explicit Hold(BrowseRun* run)
            : m_run(run && !run->busy() ? run : nullptr)
            , m_entered(!run || m_run)
        {
            if (m_run)
                ++m_run->m_holds;
        }
        ~Hold()
        {
            if (m_run)
                --m_run->m_holds;
        }
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;
        explicit operator bool() const { return m_entered; }

    private:
        BrowseRun* m_run;
        bool m_entered;
    };

    // Whether an operation or a listing is under way.
    bool busy() const;

    // window is disabled for a bracketed run; status is the progress line; Esc is watched
    // through keys.
    BrowseRun(QWidget& window, QLabel& status, BrowseKeyWatch& keys);

    bool gbBrowsing() const { return m_gbBrowsing; }
    bool gBrowseQuit() const { return m_gBrowseQuit; }
    int gBrowseIndex() const { return m_gBrowseIndex; }
    // The tab being listed; none between runs.
    std::optional<Area> area() const { return m_area; }
    void askToStop() { m_gBrowseQuit = true; }
    // The window is closing: this run stops and every later one stops at once.
    void closeDown() { m_closing = m_gBrowseQuit = true; }
    // Tests set these to stand for a run.
    void setBrowsing(bool browsing) { m_gbBrowsing = browsing; }
    void setLeft(bool quit, int index)
    {
        m_gBrowseQuit = quit;
        m_gBrowseIndex = index;
    }

    // Runs browse as area's listing: with the window disabled when bracketed (the focus
    // comes back after), Esc watched, the counts this run's own. Gives browse's result.
    int run(Area area, bool bracketed, const std::function<int()>& browse);
    // The progress line of a run that is not a listing.
    void showLine(const QString& text);
    // The listing found files in all.
    void started(int files);
    // One file examined; counted unless it vanished before it could be read.
    void fileDone(bool counted);

private:
    void showProgress();

    QWidget& m_window;
    QLabel& m_status;
    BrowseKeyWatch& m_keys;
    bool m_gbBrowsing = false;
    bool m_gBrowseQuit = false;
    bool m_closing = false;
    int m_gBrowseIndex = 0;
    int m_files = 0;
    int m_holds = 0;
    std::optional<Area> m_area;
};

} // namespace ztv
