#include "platform/WorkAside.h"

#include "platform/FileOps.h"

#include <QCoreApplication>
#include <QCursor>
#include <QElapsedTimer>
#include <QGuiApplication>
#include <QThread>
#include <QThreadPool>

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace ztv {

namespace {

constexpr qint64 BusyAfterMs = 150;

// The waits' own threads, apart from the thumbnail engine's: a call stuck on a share that
// stopped answering keeps its thread, and the next wait takes another. Never taken down: a
// stuck call must not hold the program's exit.
QThreadPool& asidePool()
{
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setObjectName(QStringLiteral("WorkAside"));
        p->setMaxThreadCount(64);
        return p;
    }();
    return *pool;
}

} // namespace

bool onMainThread()
{
    const QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

void waitAside(std::function<void()> work, int eventsAfterMs, bool withInput)
{
    struct Slot {
        std::mutex mutex;
        std::condition_variable done;
        bool finished = false;
    };
    auto slot = std::make_shared<Slot>();
    asidePool().start([slot, work = std::move(work)] {
        work();
        std::lock_guard lock(slot->mutex);
        slot->finished = true;
        slot->done.notify_all();
    });
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
        if (waited.elapsed() >= eventsAfterMs)
            QCoreApplication::processEvents(
                withInput ? QEventLoop::AllEvents : QEventLoop::ExcludeUserInputEvents);
        lock.lock();
    }
    lock.unlock();
    if (busy)
        QGuiApplication::restoreOverrideCursor();
}

namespace {

class AsideFileOps final : public FileOps {
public:
    explicit AsideFileOps(FileOps& inner)
        : m_inner(inner)
    {
    }
    FileResult makeDirectory(const QString& path) override
    {
        return run([&] { return m_inner.makeDirectory(path); });
    }
    FileResult removeEmptyDirectory(const QString& path) override
    {
        return run([&] { return m_inner.removeEmptyDirectory(path); });
    }
    FileResult removeFile(const QString& path) override
    {
        return run([&] { return m_inner.removeFile(path); });
    }
    FileResult moveNoReplace(const QString& from, const QString& to) override
    {
        return run([&] { return m_inner.moveNoReplace(from, to); });
    }
    FileResult moveNoReplace(const QString& from, const QString& to, FolderFlushes& later) override
    {
        return run([&] { return m_inner.moveNoReplace(from, to, later); });
    }
    FileResult copyNoReplace(const QString& from, const QString& to) override
    {
        return run([&] { return m_inner.copyNoReplace(from, to); });
    }
    FileResult copyNoReplace(const QString& from, const QString& to, const CopyProgress& progress) override
    {
        return run([&] { return m_inner.copyNoReplace(from, to, progress); }, true);
    }
    FileResult moveNoReplace(
        const QString& from, const QString& to, FolderFlushes& later, const CopyProgress& progress) override
    {
        return run([&] { return m_inner.moveNoReplace(from, to, later, progress); }, true);
    }
    FileResult writeFile(const QString& path, const QByteArray& bytes, bool replace) override
    {
        return run([&] { return m_inner.writeFile(path, bytes, replace); });
    }
    FileResult moveToTrash(const QString& path) override
    {
        return run([&] { return m_inner.moveToTrash(path); });
    }
    FileResult trashFile(const QString& path, TrashedFile& where) override
    {
        return run([&] { return m_inner.trashFile(path, where); });
    }

private:
    // The caller waits for the result, so what the call refers to outlives it.
    template <class Call> FileResult run(Call call, bool withInput = false)
    {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app || QThread::currentThread() != app->thread())
            return call();
        // A copy a run shows comes one after another: the window paints within each.
        return waitAside<FileResult>(call, withInput ? 10 : 40, withInput);
    }

    FileOps& m_inner;
};

} // namespace

FileOps& windowFileOps()
{
    static AsideFileOps ops(realFileOps());
    return ops;
}

std::unique_ptr<FileOps> asideFileOps(FileOps& inner)
{
    return std::make_unique<AsideFileOps>(inner);
}

} // namespace ztv
