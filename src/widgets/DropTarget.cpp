#include "widgets/DropTarget.h"

#include <QDropEvent>
#include <QMetaObject>
#include <QMimeData>
#include <QTimer>
#include <QWidget>

namespace ztv {

std::shared_ptr<QMimeData> copyMimeData(const QMimeData& data)
{
    auto copy = std::make_shared<QMimeData>();
    const QStringList formats = data.formats();
    for (const QString& format : formats)
        copy->setData(format, data.data(format));
    // A picture of this process is held as a value, not as bytes of its format.
    if (data.hasImage())
        copy->setImageData(data.imageData());
    return copy;
}

namespace {

void runWhenFree(QObject* context, Busy busy, std::function<void()> run, int afterMs)
{
    QTimer::singleShot(afterMs, context, [context, busy = std::move(busy), run = std::move(run)]() mutable {
        if (busy && busy())
            runWhenFree(context, std::move(busy), std::move(run), 10);
        else
            run();
    });
}

} // namespace

void whenFree(QObject* context, const Busy& busy, std::function<void()> run)
{
    runWhenFree(context, busy, std::move(run), 0);
}

DropTarget::DropTarget(QWidget* widget, CanDrop canDrop, Dropped dropped, Busy busy)
    : QObject(widget)
    , m_canDrop(std::move(canDrop))
    , m_dropped(std::move(dropped))
    , m_busy(std::move(busy))
{
    widget->setAcceptDrops(true);
    widget->installEventFilter(this);
}

bool DropTarget::eventFilter(QObject* watched, QEvent* event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto* move = static_cast<QDragMoveEvent*>(event);
        // canDrop may read files: once per drag, not at every move of the pointer.
        if (event->type() == QEvent::DragEnter)
            m_accepting = move->mimeData() && m_canDrop(*move->mimeData());
        if (m_busy && m_busy()) {
            move->ignore(); // later, once the operation under way has ended
            return true;
        }
        // Taken as a copy: the other program keeps its file.
        if (m_accepting)
            move->setDropAction(Qt::CopyAction);
        move->setAccepted(m_accepting);
        return true;
    }
    case QEvent::DragLeave:
        m_accepting = false;
        return true;
    case QEvent::Drop: {
        auto* drop = static_cast<QDropEvent*>(event);
        if (!m_accepting || !drop->mimeData() || (m_busy && m_busy())) {
            drop->ignore();
            return true;
        }
        m_accepting = false;
        drop->setDropAction(Qt::CopyAction);
        drop->accept();
        std::shared_ptr<QMimeData> data = copyMimeData(*drop->mimeData());
        whenFree(this, m_busy, [this, data] { m_dropped(*data); });
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace ztv
