#pragma once

#include "camera/event2d.h"

#include <cstdint>
#include <vector>

namespace vexadin {

// Stages applied to every slice on the producer thread, in camera order:
// ROI, trail filter, anti-flicker, rate control. Each keeps its own per-pixel
// state; only the producer thread calls apply().
class EventFilterStage {
public:
    virtual ~EventFilterStage() = default;
    // Filters the slice [sliceStart, sliceEnd) in place (events stay in time order).
    virtual void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) = 0;
};

} // namespace vexadin
