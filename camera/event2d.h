#pragma once

#include <cstdint>

namespace vexadin {

// One change-detection event. polarity: 1 = ON (brighter), 0 = OFF (darker).
// Timestamps are microseconds on the camera's clock.
struct Event2D {
    uint16_t x = 0;
    uint16_t y = 0;
    uint8_t polarity = 0;
    uint64_t timestamp = 0;

    Event2D() = default;
    Event2D(uint16_t x_, uint16_t y_, uint8_t polarity_, uint64_t timestamp_)
        : x(x_), y(y_), polarity(polarity_), timestamp(timestamp_) {}

    bool operator==(const Event2D &o) const {
        return x == o.x && y == o.y && polarity == o.polarity && timestamp == o.timestamp;
    }
    bool operator!=(const Event2D &o) const { return !(*this == o); }
};

} // namespace vexadin
