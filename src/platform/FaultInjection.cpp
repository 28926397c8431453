#include "FaultInjection.h"

#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>
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
                    verdict = err ? -1 : 1;
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
    return g_caseForcing.load();
}

void forceTrashTop(const std::string& folder)
{
    std::lock_guard lock(g_mutex);
    g_trashTop = folder;
}
std::string trashTopForcing()
{
    std::lock_guard lock(g_mutex);
    return g_trashTop;
}

} // namespace faults

namespace sys {

using faults::Op;

int openat(int dirfd, const char* path, int flags, mode_t mode)
{
    if (intercept(Op::Open) < 0)
        return -1;
    return ::openat(dirfd, path, flags | O_CLOEXEC, mode);
}

ssize_t read(int fd, void* buf, size_t n)
{
    if (intercept(Op::Read) < 0)
        return -1;
    return ::read(fd, buf, n);
}

ssize_t write(int fd, const void* buf, size_t n)
{
    const int verdict = intercept(Op::Write);
    if (verdict < 0)
        return -1;
    if (verdict > 0 && n > 1)
        n /= 2;
    return ::write(fd, buf, n);
}

int fsync(int fd)
{
    if (intercept(Op::Fsync) < 0)
        return -1;
    return ::fsync(fd);
}

int linkat(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, int flags)
{
    if (intercept(Op::Link) < 0)
        return -1;
    return ::linkat(olddirfd, oldpath, newdirfd, newpath, flags);
}

int renameat2(int olddirfd, const char* oldpath, int newdirfd, const char* newpath, unsigned flags)
{
    if (intercept(Op::Rename) < 0)
        return -1;
    // Called directly: the C library may lack the wrapper or emulate flags unsafely.
    return int(::syscall(SYS_renameat2, olddirfd, oldpath, newdirfd, newpath, flags));
}

int unlinkat(int dirfd, const char* path)
{
    if (intercept(Op::Unlink) < 0)
        return -1;
    return ::unlinkat(dirfd, path, 0);
}

int rmdirat(int dirfd, const char* path)
{
    if (intercept(Op::Rmdir) < 0)
        return -1;
    return ::unlinkat(dirfd, path, AT_REMOVEDIR);
}

int mkdirat(int dirfd, const char* path, mode_t mode)
{
    if (intercept(Op::Mkdir) < 0)
        return -1;
    return ::mkdirat(dirfd, path, mode);
}

} // namespace sys

} // namespace ztv
