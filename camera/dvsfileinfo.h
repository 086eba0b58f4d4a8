#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vexadin {

// Facts about an event recording, read from its header and index.
struct DvsFileInfo {
    uint64_t startTimestamp = 0;   // first event or trigger timestamp, µs
    uint64_t endTimestamp = 0;     // last event or trigger timestamp, µs
    int64_t apsTimeOffset = 0;     // µs; event time = APS time + offset (0 without an APS stream)
    uint64_t eventCount = 0;
    uint64_t triggerCount = 0;
    uint16_t width = 0;
    uint16_t height = 0;
    std::string serial;
    std::string product;
    uint64_t recordingStartUnixUs = 0; // wall-clock start of the recording, µs since the Unix epoch
    std::vector<std::pair<std::string, std::string>> metadata;
};

} // namespace vexadin
