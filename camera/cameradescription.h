#pragma once

#include <cstdint>
#include <string>

namespace vexadin {

// One connected (or simulated, or replayed) camera as the camera manager lists it.
// The viewer reads serial, product and manufacturer; the rest is the driver's.
struct CameraDescription {
    std::string serial;
    std::string product;      // "EVK4", "Taskelo" (event cameras), "Omnira" (fusion camera)
    std::string manufacturer;
    uint16_t width = 0;       // event sensor size in pixels
    uint16_t height = 0;
    std::string kind;         // "simulated", "replay" or "fusion"
    std::string source;       // replay cameras: the recording they play; empty otherwise
};

} // namespace vexadin
