#include "support/fusionrecording.h"

#include "camera/calibrationjson.h"
#include "support/apspattern.h"
#include "support/syntheticevents.h"

namespace vxtest {

vexadin::CalibratorParameters fusionScaleCalibration(uint16_t apsWidth, uint16_t apsHeight)
{
    vexadin::CalibratorParameters p;
    p.label = "scale";
    p.dvs_width = 1280;
    p.dvs_height = 720;
    p.aps_width = apsWidth;
    p.aps_height = apsHeight;
    const double sx = apsWidth / 1280.0;
    const double sy = apsHeight / 720.0;
    p.transforms["1"].shape = {2, 3, 1};
    p.transforms["1"].values = {sx, 0, 0, 0, sy, 0};
    p.transforms["0"].shape = {2, 3, 1};
    p.transforms["0"].values = {1 / sx, 0, 0, 0, 1 / sy, 0};
    return p;
}

bool writeFusionSet(const std::string &base, const FusionSetOptions &options)
{
    std::vector<uint64_t> stamps;
    for (size_t k = 0; k < options.frames; ++k)
        stamps.push_back(k * options.frameSpacingUs);
    if (!writeNumberedVideo(base + ".mp4", options.apsWidth, options.apsHeight, stamps))
        return false;
    vexadin::RawFileHeader header;
    header.apsTimeOffset = options.apsTimeOffset;
    header.product = "Omnira";
    if (!writeRecording(base + ".raw", options.events, {}, header))
        return false;
    if (!options.writeJson)
        return true;
    vexadin::CalibratorParameters calibration = options.calibration;
    if (calibration.transforms.empty())
        calibration = fusionScaleCalibration(options.apsWidth, options.apsHeight);
    return vexadin::paramToJsonFile(calibration, base + ".json");
}

} // namespace vxtest
