#include "driver/apstool.h"

#include <algorithm>
#include <cmath>

namespace vexadin {

ApsTool::ApsTool(int maxExposureUs) : maxExposureUs_(std::max(maxExposureUs, kMinExposureUs))
{
    addInt("exposure_time",
           "Time each frame collects light; longer gives a brighter picture and more motion "
           "blur. Set by the camera while auto exposure is on.",
           kMinExposureUs, maxExposureUs_, std::min(kNominalExposureUs, maxExposureUs_), "us");
    addFloat("analog_gain", "Amplification of the frame sensor's signal; higher gives a brighter, noisier picture.",
             1.0f, 16.0f, 1.0f, "x");
    addBool("auto_exposure", "Lets the camera choose the exposure time so the picture keeps the target brightness.",
            false);
    addInt("auto_exposure_target", "Mean picture brightness (0 black, 255 white) that auto exposure aims at.", 16,
           240, 118, "level");
}

ApsTool::Settings ApsTool::settings() const
{
    Settings s;
    underLock([&] {
        s.exposureUs = intValue("exposure_time");
        s.gain = floatValue("analog_gain");
        s.autoExposure = boolValue("auto_exposure");
        s.autoExposureTarget = intValue("auto_exposure_target");
    });
    return s;
}

double ApsTool::brightness(const Settings &s)
{
    return double(s.gain) * s.exposureUs / kNominalExposureUs;
}

void ApsTool::adjustExposure(const Settings &used, double meanLevel)
{
    if (!used.autoExposure || !(meanLevel >= 0))
        return;
    // Half of the way (in log terms) per frame: settles within a few frames without
    // overshooting on a picture that clips. A black picture counts as very dark.
    const double ratio = std::clamp(used.autoExposureTarget / std::max(meanLevel, 1.0), 0.25, 4.0);
    const double wanted = used.exposureUs * std::sqrt(ratio);
    const int next = int(std::clamp(std::lround(wanted), long(kMinExposureUs), long(maxExposureUs_)));
    underLock([&] {
        // The user may have switched auto exposure off meanwhile: keep their value then.
        if (boolValue("auto_exposure") && next != intValue("exposure_time"))
            setIntValue("exposure_time", next);
    });
}

} // namespace vexadin
