#include "FaultInjection.h"

#include <atomic>
#include <cerrno>
#include <mutex>
#include <vector>

namespace ztv {

namespace {

struct Arm {
    faults::Op op;
    int remaining; // calls still to let through before failing
    int err;
};

std::mutex g_mutex;
std::vector<Arm> g_arms;
std::function<void(faults::Op, int)> g_hook;
std::atomic<bool> g_active { false }; // anything armed or hooked: skip the lock otherwise
std::atomic<int> g_calls[faults::kOpCount];
std::atomic<int> g_caseForcing { -1 };
std::string g_trashTop; // guarded by g_mutex

// Counts the call and tells whether it must fail (-1 with errno set), be shortened (1) or run (0).
int intercept(faults::Op op)
{
    const int n = g_calls[int(op)].fetch_add(1, std::memory_order_relaxed) + 1;
    if (!g_active.load(std::memory_order_acquire))
        return 0;
    std::function<void(faults::Op, int)> hook;
    int verdict = 0;
    int err = 0;
    {
        std::lock_guard lock(g_mutex);
        hook = g_hook;
        // Every arm of this op counts the call; all that are due fire together, as one failure.
        for (auto it = g_arms.begin(); it != g_arms.end();) {
            if (it->op == op && --it->remaining <= 0) {
                if (verdict == 0) {
                    err = it->err;
                    verdict = err == faults::kFlipByte ? 2 : err ? -1 : 1;
                }
                it = g_arms.erase(it);
            } else {
                ++it;
            }
        }
    }
    if (hook)
        hook(op, n);
    if (verdict < 0)
        errno = err;
    return verdict;
}

int caseForcing()
{
    return g_caseForcing.load();
}

std::string trashTop()
{
    std::lock_guard lock(g_mutex);
    return g_trashTop;
}

const sys::Seam kSeam { intercept, caseForcing, trashTop };
// A test that uses the switches links this file, and the seam is in place before main.
const bool g_seamSet = (sys::setSeam(&kSeam), true);

void updateActive()
{
    g_active.store(!g_arms.empty() || bool(g_hook), std::memory_order_release);
}

} // namespace

namespace faults {

void arm(Op op, int nth, int err)
{
    std::lock_guard lock(g_mutex);
    g_arms.push_back({ op, nth < 1 ? 1 : nth, err });
    updateActive();
}

void disarm()
{
    std::lock_guard lock(g_mutex);
    g_arms.clear();
    updateActive();
}

void reset()
{
    std::lock_guard lock(g_mutex);
    g_arms.clear();
    g_hook = nullptr;
    for (auto& c : g_calls)
        c.store(0);
    g_caseForcing.store(-1);
    g_trashTop.clear();
    updateActive();
}

int calls(Op op)
{
    return g_calls[int(op)].load();
}

void setHook(std::function<void(Op, int)> hook)
{
    std::lock_guard lock(g_mutex);
    g_hook = std::move(hook);
    updateActive();
}

void forceCaseInsensitive(bool on)
{
    g_caseForcing.store(on ? 1 : 0);
}
int caseInsensitiveForcing()
{
    return caseForcing();
}

void forceTrashTop(const std::string& folder)
{
    std::lock_guard lock(g_mutex);
    g_trashTop = folder;
}
std::string trashTopForcing()
{
    return trashTop();
}

} // namespace faults

} // namespace ztv
