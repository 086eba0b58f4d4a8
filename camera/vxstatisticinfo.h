#pragma once

#include <cstdint>

namespace vexadin {

// Throughput of a camera's stream as delivered (after its tools), per second.
struct VxStatisticInfo {
    uint64_t bandwidth = 0; // bytes per second
    uint64_t eventRate = 0; // events per second
};

} // namespace vexadin
