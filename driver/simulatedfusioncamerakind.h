#pragma once

#include "driver/camerakind.h"
#include "driver/simulatedfusioncamera.h"

#include <string>

namespace vexadin {

// The simulated fusion camera "Omnira", listed beside the simulated event
// cameras and hidden with them by VEXADIN_SIMULATED_CAMERAS=0. It looks at the
// same scene as the simulated "EVK4".
//
// Slow machines and tests can lower its frame sensor:
//   VEXADIN_FUSION_FRAME_SIZE=WxH  (even, from 16 x 16 up to 3840 x 2160)
//   VEXADIN_FUSION_FPS=N           (1 to 120)
// read when a camera is opened; a value out of range is ignored with a log line.
class SimulatedFusionCameraKind : public CameraKind {
public:
    static constexpr const char *kSerial = "VXSIM-OMNIRA-0001";
    static constexpr const char *kProduct = "Omnira";
    static constexpr const char *kKind = "fusion";

    std::vector<CameraDescription> list() override;
    std::shared_ptr<FusionCamera> openFusionCamera(const CameraDescription &description) override;

    // The options a camera opened now gets (environment and firmware test hook).
    static SimulatedFusionCamera::Options optionsFromEnvironment();
};

} // namespace vexadin
