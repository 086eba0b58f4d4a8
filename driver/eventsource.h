#pragma once

#include "camera/event2d.h"
#include "camera/eventtriggerin.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vexadin {

// Where a camera's events come from (a simulated sensor, a recording played as a
// live stream). Called by the camera's producer thread only, except connected().
class EventSource {
public:
    virtual ~EventSource() = default;

    // Streaming (re)starts at camera time t (µs since the camera was opened).
    virtual void startAt(uint64_t t) = 0;
    // Appends the events and trigger-in edges of camera time [t0, t1), each in
    // time order, before the camera's filter tools. t0 is the previous call's t1,
    // or the time given to startAt().
    virtual void produce(uint64_t t0, uint64_t t1, std::vector<Event2D> &events,
                         std::vector<EventTriggerIn> &triggers) = 0;
    // False once the device is gone for good. Thread-safe.
    virtual bool connected() const { return true; }
    // Why connected() turned false, for the log.
    virtual std::string lostReason() const { return {}; }
};

} // namespace vexadin
