#pragma once

#include <cstdint>
#include <string>

namespace vxraw {

// The event sensors older AEDAT files name, with their size and how AEDAT 2.0
// packs their event addresses.
struct SensorModel {
    enum class Layout {
        Dvs128, // 16-bit addresses: polarity, x, y
        Davis,  // 32-bit addresses with frame and IMU samples beside the events
    };

    const char *name; // as given to --sensor
    uint16_t width;
    uint16_t height;
    Layout layout;

    // By --sensor name ("dvs128", "davis240", "davis346"); null when unknown.
    static const SensorModel *byName(const std::string &name);
    // By the chip name a recording tool writes, e.g. "ch.unizh.ini.jaer.chip.retina.DVS128"
    // or "DAVIS240C" (case does not matter); null when no known model is named.
    static const SensorModel *byChipName(const std::string &chip);
    // "dvs128, davis240, davis346", for messages.
    static std::string knownNames();
};

} // namespace vxraw
