#pragma once

#include <QElapsedTimer>

#include <ctime>
#include <memory>
#include <mutex>
#include <vector>

namespace ztv {

// Tells a run whose threads are blocked in calls that never return (a phone pulled out while
// its FUSE mount was being read: the call waits for an answer that never comes) from one that
// is only slow. A thread at work spends processor time, however little, on every call that
// returns and on every decode; a blocked one spends none. So the run has stalled once none of
// its threads spent any for the limit and no outcome came meanwhile.
class StallWatch {
public:
    // The threads of one run; each adds itself. Shared with the threads, which may outlive
    // the watch (a stuck one is left behind).
    class Threads {
    public:
        void addCurrent(); // called on the thread to be watched
        std::vector<clockid_t> clocks() const;

    private:
        mutable std::mutex m_lock;
        std::vector<clockid_t> m_clocks;
    };

    explicit StallWatch(int limitMs);
    const std::shared_ptr<Threads>& threads() const { return m_threads; }
    // An outcome came: the count starts again.
    void progressed();
    // Samples the threads' processor time; true once nothing moved for the limit.
    bool stalled();

private:
    int m_limitMs;
    std::shared_ptr<Threads> m_threads = std::make_shared<Threads>();
    std::vector<qint64> m_last; // each thread's processor time at the last sample, ns
    QElapsedTimer m_still;
};

} // namespace ztv
