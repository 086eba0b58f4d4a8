#pragma once

#include "driver/camerakind.h"

#include <string>

namespace vexadin {

// One replay camera per .raw recording in the cameras folder ($VEXADIN_CAMERA_DIR,
// else "cameras" in the application data folder). Serial: the file's base name;
// product: the recording's when it is "EVK4" or "Taskelo", else "EVK4"; sensor
// size: the recording's. Tools: ROI, Event Rate Control and Trigger In (the
// recording's own trigger edges); no biases.
class ReplayCameraKind : public CameraKind {
public:
    static constexpr const char *kKind = "replay";

    std::vector<CameraDescription> list() override;
    std::shared_ptr<StreamingCamera> openCamera(const CameraDescription &description) override;
};

} // namespace vexadin
