#pragma once

#include "driver/parametertool.h"

#include <cstdint>

namespace vexadin {

// The frame sensor's settings of a simulated fusion camera (tool type APS):
// exposure time, analog gain and an auto exposure that keeps the picture's mean
// brightness at a target. The picture's brightness follows exposure x gain, with
// the nominal brightness at 10 ms and gain 1.
class ApsTool : public ParameterTool {
public:
    static constexpr int kMinExposureUs = 50;
    static constexpr int kNominalExposureUs = 10000;

    struct Settings {
        int exposureUs = kNominalExposureUs;
        float gain = 1.0f;
        bool autoExposure = false;
        int autoExposureTarget = 118; // mean level 0..255 that auto exposure aims at
    };

    // maxExposureUs: the longest exposure the frame rate leaves room for.
    explicit ApsTool(int maxExposureUs);

    Settings settings() const; // one consistent snapshot
    int maxExposureUs() const { return maxExposureUs_; }

    // Auto exposure: the frame sensor's measured mean level (0..255) of a frame taken
    // with `used` settings; moves the exposure time towards the target, also shown as
    // the exposure_time value. Does nothing while auto exposure is off.
    void adjustExposure(const Settings &used, double meanLevel);

    // Brightness factor of a picture taken with these settings (1 = nominal).
    static double brightness(const Settings &s);

private:
    const int maxExposureUs_;
};

} // namespace vexadin
