#include "app/WaitSeconds.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace ztv {

int WaitSeconds(float seconds, const std::function<void()>& pass)
{
    QElapsedTimer clock;
    clock.start();
    int passes = 0;
    double elapsed = 0;
    do {
        pass();
        ++passes;
        elapsed = clock.nsecsElapsed() / 1e9;
    } while (elapsed < seconds);
    return passes;
}

void WaitSeconds(float seconds)
{
    WaitSeconds(seconds, [] { QCoreApplication::processEvents(); });
}

} // namespace ztv
