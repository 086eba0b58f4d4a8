#pragma once

// Fusion recording sets (name.raw + name.mp4 + name.json) written with our own
// writers, for the fusion worker's tests and benchmarks.

#include "camera/calibratorparameters.h"
#include "camera/event2d.h"

#include <cstdint>
#include <string>
#include <vector>

namespace vxtest {

struct FusionSetOptions {
    uint16_t apsWidth = 320;
    uint16_t apsHeight = 180;
    // Frames numbered 0, 1, ... (drawNumberedFrame) at APS times k * frameSpacingUs.
    size_t frames = 40;
    uint64_t frameSpacingUs = 33333;
    // Event time = APS time + offset.
    int64_t apsTimeOffset = 5000000;
    // Event times on the event clock, sorted.
    std::vector<vexadin::Event2D> events;
    bool writeJson = true;
    // Empty: the scale calibration of fusionScaleCalibration for the two sizes.
    vexadin::CalibratorParameters calibration;
};

// A calibration whose DVS-to-APS affine is a pure scale between a 1280 x 720 event
// grid and a frame of apsWidth x apsHeight (APS-to-DVS its inverse).
vexadin::CalibratorParameters fusionScaleCalibration(uint16_t apsWidth, uint16_t apsHeight);

// Writes base.raw, base.mp4 and (if asked) base.json. True when all were written.
bool writeFusionSet(const std::string &base, const FusionSetOptions &options);

} // namespace vxtest
