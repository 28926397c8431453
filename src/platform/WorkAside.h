#pragma once

#include <functional>
#include <memory>
#include <optional>

namespace ztv {

class FileOps;

// Whether this is the application's main thread, the window's.
bool onMainThread();

// Runs work on a thread of the waits' own pool and waits for it. A wait longer than eventsAfterMs lets the
// calling (window's) thread paint and run its timers meanwhile (input waits, unless withInput:
// a run that has disabled the window and watches Esc takes input as between its steps), and
// after a little longer turns the pointer busy. work must own what it uses.
void waitAside(std::function<void()> work, int eventsAfterMs = 40, bool withInput = false);

template <class T> T waitAside(std::function<T()> work, int eventsAfterMs = 40, bool withInput = false)
{
    auto result = std::make_shared<std::optional<T>>();
    waitAside(std::function<void()>([result, work = std::move(work)] { *result = work(); }), eventsAfterMs,
        withInput);
    return std::move(**result);
}

// work aside (as above) on the main thread, where a slow disk must not stop the window; on any
// other thread where it is called. A disk call that is not answered at once is a slow disk's:
// the window's events run after 10 ms.
template <class T> T offMainThread(std::function<T()> work)
{
    return onMainThread() ? waitAside<T>(std::move(work), 10) : work();
}

// The real file operations as the window uses them: called on the application's main thread,
// each runs aside, so a slow disk or network share never stops the window painting; on any
// other thread it runs where it is called. A copy given a progress callback is one a run shows
// (window disabled, Esc watched): its wait takes input, so an Esc can stop it.
FileOps& windowFileOps();
// The same around any file operations (tests give their own).
std::unique_ptr<FileOps> asideFileOps(FileOps& inner);

} // namespace ztv
