#include "ThumbnailPipeline.h"

#include <chrono>

namespace ztv {

int defaultWorkerCount()
{
    const unsigned n = std::thread::hardware_concurrency();
    return n == 0 ? 2 : int(std::min(n, 16u));
}

ThumbnailPipeline::ThumbnailPipeline(QStringList paths, int workers, int window, Maker maker)
    : m_paths(std::move(paths))
    , m_window(std::max(1, window))
    , m_maker(std::move(maker))
    , m_results(size_t(m_paths.size()))
{
    const int n = std::clamp(workers, 1, std::max(1, int(m_paths.size())));
    m_threads.reserve(size_t(n));
    for (int i = 0; i < n && !m_paths.isEmpty(); ++i)
        m_threads.emplace_back([this] { work(); });
}

ThumbnailPipeline::~ThumbnailPipeline()
{
    stop();
    for (std::thread& t : m_threads)
        t.join();
}

void ThumbnailPipeline::stop()
{
    {
        std::lock_guard lock(m_mutex);
        m_stop = true;
    }
    m_space.notify_all();
    m_ready.notify_all();
}

void ThumbnailPipeline::work()
{
    for (;;) {
        int index;
        {
            std::unique_lock lock(m_mutex);
            m_space.wait(lock, [this] {
                return m_stop || m_nextClaim >= m_paths.size() || m_nextClaim < m_nextTake + m_window;
            });
            if (m_stop || m_nextClaim >= m_paths.size())
                return;
            index = m_nextClaim++;
        }
        ThumbnailResult result = m_maker(m_paths[index], &m_stop);
        {
            std::lock_guard lock(m_mutex);
            m_results[size_t(index)] = std::move(result);
        }
        m_ready.notify_all();
    }
}

ThumbnailResult ThumbnailPipeline::takeNext(const std::function<void()>& idle, int idleIntervalMs)
{
    std::unique_lock lock(m_mutex);
    const size_t index = size_t(m_nextTake);
    if (index >= m_results.size())
        return {};
    const auto interval = std::chrono::milliseconds(std::max(1, idleIntervalMs));
    while (!m_results[index]) {
        if (m_stop && int(index) >= m_nextClaim) {
            ThumbnailResult none;
            none.path = m_paths[qsizetype(index)];
            return none; // stopped before any worker took it
        }
        if (m_ready.wait_for(lock, interval, [&] { return m_results[index].has_value(); }))
            break;
        if (idle) {
            lock.unlock();
            idle();
            lock.lock();
        }
    }
    ThumbnailResult result = std::move(*m_results[index]);
    m_results[index].reset();
    ++m_nextTake;
    lock.unlock();
    m_space.notify_all();
    return result;
}

} // namespace ztv
