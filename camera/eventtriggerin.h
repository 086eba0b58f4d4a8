#pragma once

#include <cstdint>

namespace vexadin {

// An external trigger-in signal edge. edge: 1 and 0 are the two edges
// (rising / falling); id is the camera's second value (channel), not used by the viewer.
struct EventTriggerIn {
    int16_t edge = 0;
    uint64_t timestamp = 0;
    int16_t id = 0;

    EventTriggerIn() = default;
    // Argument order follows the camera library: (second value, edge, timestamp).
    EventTriggerIn(int16_t id_, int16_t edge_, uint64_t timestamp_)
        : edge(edge_), timestamp(timestamp_), id(id_) {}

    bool operator==(const EventTriggerIn &o) const {
        return edge == o.edge && timestamp == o.timestamp && id == o.id;
    }
    bool operator!=(const EventTriggerIn &o) const { return !(*this == o); }
};

} // namespace vexadin
