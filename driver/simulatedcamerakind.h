#pragma once

#include "driver/camerakind.h"

#include <string>

namespace vexadin {

// The simulated event cameras: an "EVK4" (1280 x 720) and a "Taskelo" (640 x 480),
// each in front of the same kind of simulated scene, with all six camera tools.
// VEXADIN_SIMULATED_CAMERAS=0 hides them.
class SimulatedCameraKind : public CameraKind {
public:
    static constexpr const char *kManufacturer = "Vexadin";
    static constexpr const char *kEvk4Serial = "VXSIM-EVK4-0001";
    static constexpr const char *kTaskeloSerial = "VXSIM-TSK-0001";
    static constexpr const char *kKind = "simulated";

    std::vector<CameraDescription> list() override;
    std::shared_ptr<StreamingCamera> openCamera(const CameraDescription &description) override;

    // False when VEXADIN_SIMULATED_CAMERAS is "0".
    static bool enabled();
};

} // namespace vexadin
