#include "platform/WorkAside.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QCursor>
#include <QGuiApplication>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

namespace ztv {

namespace {

constexpr qint64 EventsAfterMs = 40;
constexpr qint64 BusyAfterMs = 150;

} // namespace

void waitAside(std::function<void()> work)
{
    struct Slot {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto slot = std::make_shared<Slot>();
    std::thread([slot, work = std::move(work)] {
        work();
        std::lock_guard lock(slot->mutex);
        slot->finished = true;
        slot->done.notify_all();
    }).detach();
    QElapsedTimer waited;
    waited.start();
    bool busy = false;
    std::unique_lock lock(slot->mutex);
    while (!slot->done.wait_for(lock, std::chrono::milliseconds(10), [&] { return slot->finished; })) {
        lock.unlock();
        if (!busy && waited.elapsed() >= BusyAfterMs
            && qobject_cast<QGuiApplication*>(QCoreApplication::instance())) {
            QGuiApplication::setOverrideCursor(Qt::BusyCursor);
            busy = true;
        }
        if (waited.elapsed() >= EventsAfterMs)
            QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
        lock.lock();
    }
    lock.unlock();
    if (busy)
        QGuiApplication::restoreOverrideCursor();
}

} // namespace ztv
