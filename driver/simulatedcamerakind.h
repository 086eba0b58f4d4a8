#pragma once

#include "driver/camerakind.h"
#include "driver/streamingcamera.h"

#include <functional>
#include <string>

namespace vexadin {

class EventSource;
class SimulatedSource;

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

    // A simulated sensor of the description's size with the six tools in camera
    // order. wrap, when given, turns the sensor into the camera's source (a fusion
    // camera adds its frame sensor's signals).
    static StreamingCamera::Setup setupFor(
        const CameraDescription &description, uint64_t seed,
        const std::function<std::unique_ptr<EventSource>(std::unique_ptr<SimulatedSource>)> &wrap = {});
    // The scene a serial looks at: the same serial always shows the same scene.
    static uint64_t sceneSeed(const std::string &serial);
};

} // namespace vexadin
