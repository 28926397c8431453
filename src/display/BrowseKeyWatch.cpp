#include "display/BrowseKeyWatch.h"

#include <QCoreApplication>
#include <QKeyEvent>

namespace ztv {

BrowseKeyWatch::BrowseKeyWatch(QObject* parent)
    : QObject(parent)
{
}

BrowseKeyWatch::~BrowseKeyWatch()
{
    stop();
}

void BrowseKeyWatch::start(bool* quitFlag)
{
    m_flag = quitFlag;
    if (QCoreApplication* app = QCoreApplication::instance())
        app->installEventFilter(this);
}

void BrowseKeyWatch::stop()
{
    if (m_flag) {
        if (QCoreApplication* app = QCoreApplication::instance())
            app->removeEventFilter(this);
    }
    m_flag = nullptr;
}

bool BrowseKeyWatch::eventFilter(QObject* watched, QEvent* event)
{
    if (m_flag && event->type() == QEvent::KeyPress
        && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape) {
        *m_flag = true;
        return true;
    }
    return QObject::eventFilter(watched, event);
}

} // namespace ztv
