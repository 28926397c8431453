#pragma once

#include <functional>

namespace ztv {

// Lets pending window events run until the given time has passed; always at least one
// pass, so 0 is exactly one pass. Measured on a monotonic clock, so a change of day or
// of the wall clock cannot make it run on.
void WaitSeconds(float seconds);
// The same with the pass made injectable, for tests. Gives the number of passes made.
int WaitSeconds(float seconds, const std::function<void()>& pass);

} // namespace ztv
