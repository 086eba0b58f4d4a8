#include "driver/eventratecontroltool.h"

#include <cmath>

namespace vexadin {

EventRateControlTool::EventRateControlTool()
{
    addBool("enable", "Thins the stream evenly when it exceeds the maximum rate when on.", false);
    addInt("max_event_rate", "Highest event rate delivered, in thousands of events per second.", 1,
           100000, 1000, "kev/s");
}

void EventRateControlTool::apply(std::vector<Event2D> &events, uint64_t sliceStart,
                                 uint64_t sliceEnd)
{
    refreshIfChanged(seenChanges_, [&] {
        enabled_ = boolValue("enable");
        maxRate_ = intValue("max_event_rate") * 1000.0;
    });
    if (!enabled_ || sliceEnd <= sliceStart) {
        carry_ = 0;
        return;
    }
    const double allowance = maxRate_ * double(sliceEnd - sliceStart) / 1e6 + carry_;
    const double whole = std::floor(allowance);
    if (double(events.size()) <= whole) {
        carry_ = 0;
        return;
    }
    carry_ = allowance - whole;
    const size_t keep = size_t(whole);
    const size_t count = events.size();
    // Every (count / keep)-th event in time order, the steps spread by integer
    // error accumulation: evenly over time and, as the events of a moment lie all
    // over the sensor, evenly over the sensor; the same input keeps the same events.
    size_t out = 0;
    size_t acc = 0;
    for (size_t i = 0; i < count && out < keep; ++i) {
        acc += keep;
        if (acc >= count) {
            acc -= count;
            events[out++] = events[i];
        }
    }
    events.resize(out);
}

} // namespace vexadin
