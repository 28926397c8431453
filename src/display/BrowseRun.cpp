#include "display/BrowseRun.h"

#include "display/BrowseKeyWatch.h"
#include "display/texts.h"

#include <QApplication>
#include <QLabel>
#include <QPointer>

namespace ztv {

BrowseRun::BrowseRun(QWidget& window, QLabel& status, BrowseKeyWatch& keys)
    : m_window(window)
    , m_status(status)
    , m_keys(keys)
{
}

bool BrowseRun::busy() const
{
    return m_holds > 0 || m_gbBrowsing || m_area.has_value();
}

int BrowseRun::run(Area area, bool bracketed, const std::function<int()>& browse)
{
    // A run started from inside another (a plain run leaves the window usable) must hand the
    // outer run back its own counts, its area and its Esc watch.
    const bool nested = m_area.has_value();
    const std::optional<Area> outerArea = m_area;
    const int outerIndex = m_gBrowseIndex;
    const int outerFiles = m_files;
    // A stop asked of an earlier run must not cut this one short. The progress line counts
    // this run's files against this run's folder.
    m_gBrowseQuit = m_closing;
    m_gBrowseIndex = 0;
    m_files = 0;
    // Disabling the window takes the focus away; it comes back after the run so keyboard
    // users keep their place.
    const QPointer<QWidget> focus = QApplication::focusWidget();
    if (bracketed) {
        m_gbBrowsing = true;
        m_window.setEnabled(false);
    }
    m_area = area;
    if (!nested)
        m_keys.start(&m_gBrowseQuit);
    const int r = browse();
    if (nested) {
        m_area = outerArea;
        m_gBrowseIndex = outerIndex;
        m_files = outerFiles;
        showProgress();
    } else {
        m_keys.stop();
        m_area.reset();
        m_status.hide();
    }
    if (bracketed) {
        m_window.setEnabled(true);
        m_gbBrowsing = false;
        if (focus && focus->isVisible() && focus->isEnabled())
            focus->setFocus(Qt::OtherFocusReason);
    }
    return r;
}

void BrowseRun::showLine(const QString& text)
{
    m_status.setText(text);
    m_status.show();
}

void BrowseRun::started(int files)
{
    m_files = files;
    showProgress();
}

void BrowseRun::fileDone(bool counted)
{
    if (counted)
        ++m_gBrowseIndex;
    showProgress();
}

void BrowseRun::showProgress()
{
    m_status.setText(QString::fromUtf16(texts::display::BrowseProgress).arg(m_gBrowseIndex).arg(m_files));
    m_status.show();
}

} // namespace ztv
