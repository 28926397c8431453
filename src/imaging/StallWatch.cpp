#include "StallWatch.h"

#include <pthread.h>

namespace ztv {

void StallWatch::Threads::addCurrent()
{
    clockid_t clock;
    if (pthread_getcpuclockid(pthread_self(), &clock) != 0)
        return;
    std::lock_guard hold(m_lock);
    m_clocks.push_back(clock);
}

std::vector<clockid_t> StallWatch::Threads::clocks() const
{
    std::lock_guard hold(m_lock);
    return m_clocks;
}

StallWatch::StallWatch(int limitMs)
    : m_limitMs(limitMs)
{
    m_still.start();
}

void StallWatch::progressed()
{
    m_still.restart();
}

bool StallWatch::stalled()
{
    const std::vector<clockid_t> clocks = m_threads->clocks();
    m_last.resize(clocks.size(), -1);
    for (size_t i = 0; i < clocks.size(); ++i) {
        timespec ts {};
        // A thread that has ended has no clock any more: it neither works nor blocks.
        const qint64 ns
            = clock_gettime(clocks[i], &ts) == 0 ? qint64(ts.tv_sec) * 1000000000 + ts.tv_nsec : -1;
        if (ns != m_last[i]) {
            m_last[i] = ns;
            m_still.restart();
        }
    }
    return m_limitMs > 0 && m_still.elapsed() >= m_limitMs;
}

} // namespace ztv
