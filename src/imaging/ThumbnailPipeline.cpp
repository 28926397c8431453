#include "ThumbnailPipeline.h"

#include <chrono>

namespace ztv {

namespace {
std::atomic<int> g_running { 0 };
}

int defaultWorkerCount()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 2 : int(std::min(n, 16u));
}

int ThumbnailPipeline::workersStillRunning()
{
    return g_running.load();
}

ThumbnailPipeline::ThumbnailPipeline(
    QStringList paths, int workers, int window, Maker maker, std::shared_ptr<StallWatch::Threads> watched)
    : m_shared(std::make_shared<Shared>())
{
    Shared& s = *m_shared;
    s.paths = std::move(paths);
    s.window = std::max(1, window);
    s.maker = std::move(maker);
    // A file's result waits in the slot of its index modulo the window: a worker never runs
    // a window ahead of the consumer, so slots are reused and memory does not grow with the list.
    s.results.resize(size_t(std::min<qsizetype>(s.paths.size(), s.window)));
    const int n = std::clamp(workers, 1, std::max(1, int(s.paths.size())));
    m_threads.reserve(size_t(n));
    for (int i = 0; i < n && !s.paths.isEmpty(); ++i) {
        ++g_running;
        m_threads.emplace_back([shared = m_shared, watched] {
            if (watched)
                watched->addCurrent();
            work(shared);
            --g_running;
        });
    }
}

ThumbnailPipeline::~ThumbnailPipeline()
{
    stop();
    // Each worker holds the shared state it needs; one still in a decode that cannot be cut
    // short ends on its own.
    for (std::thread& t : m_threads)
        t.detach();
}

void ThumbnailPipeline::stop()
{
    {
        std::lock_guard lock(m_shared->mutex);
        m_shared->stop = true;
    }
    m_shared->space.notify_all();
    m_shared->ready.notify_all();
}

void ThumbnailPipeline::work(const std::shared_ptr<Shared>& shared)
{
    Shared& s = *shared;
    for (;;) {
        int index;
        {
            std::unique_lock lock(s.mutex);
            s.space.wait(lock, [&s] {
                return s.stop || s.nextClaim >= s.paths.size() || s.nextClaim < s.nextTake + s.window;
            });
            if (s.stop || s.nextClaim >= s.paths.size())
                return;
            index = s.nextClaim++;
        }
        ThumbnailResult result = s.maker(s.paths.at(index), &s.stop);
        {
            std::lock_guard lock(s.mutex);
            if (s.stop)
                return; // nobody takes it any more
            s.results[size_t(index % s.window)] = std::move(result);
        }
        s.ready.notify_all();
    }
}

ThumbnailResult ThumbnailPipeline::takeNext(const std::function<void()>& idle, int idleIntervalMs)
{
    Shared& s = *m_shared;
    std::unique_lock lock(s.mutex);
    if (s.nextTake >= s.paths.size())
        return {};
    const size_t index = size_t(s.nextTake);
    const size_t slot = index % size_t(s.window);
    const auto interval = std::chrono::milliseconds(std::max(1, idleIntervalMs));
    while (!s.results[slot]) {
        if (s.stop) {
            ThumbnailResult none;
            none.path = s.paths.at(qsizetype(index));
            return none; // stopped before its worker finished, or before any took it
        }
        if (s.ready.wait_for(lock, interval, [&] { return s.results[slot].has_value() || s.stop; }))
            continue;
        if (idle) {
            lock.unlock();
            idle();
            lock.lock();
        }
    }
    ThumbnailResult result = std::move(*s.results[slot]);
    s.results[slot].reset();
    ++s.nextTake;
    lock.unlock();
    s.space.notify_all();
    return result;
}

} // namespace ztv
