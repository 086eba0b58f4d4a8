#pragma once

#include "camera/event2d.h"

#include <cstddef>
#include <vector>

namespace vexadin {

// Per-pixel filter state is touched in no order of memory; asking for the state
// of an event a few places ahead hides most of the cache misses.
template <class State>
inline void prefetchPixel(const std::vector<State> &states, const std::vector<Event2D> &events,
                          size_t i, uint16_t width, uint16_t height)
{
    constexpr size_t kAhead = 8;
    if (i + kAhead >= events.size())
        return;
    const Event2D &e = events[i + kAhead];
    if (e.x < width && e.y < height) {
#if defined(__GNUC__)
        __builtin_prefetch(&states[size_t(e.y) * width + e.x], 1);
#endif
    }
}

} // namespace vexadin
