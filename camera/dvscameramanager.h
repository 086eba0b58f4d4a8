#pragma once

#include "camera/cameradescription.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vexadin {

class CameraKind;
class DvsCamera;
class FusionCamera;

// Finds and opens cameras. Besides hardware (none is supported here) it lists:
// - the simulated event cameras "EVK4" (1280 x 720) and "Taskelo" (640 x 480),
//   unless VEXADIN_SIMULATED_CAMERAS=0;
// - one replay camera per .raw recording in the cameras folder
//   ($VEXADIN_CAMERA_DIR, else "cameras" in the application data folder).
// A serial names one camera: a later kind's camera with a serial already listed
// is left out. Thread-safe.
class DvsCameraManager {
public:
    DvsCameraManager();
    ~DvsCameraManager();

    DvsCameraManager(const DvsCameraManager &) = delete;
    DvsCameraManager &operator=(const DvsCameraManager &) = delete;

    // The cameras present now; may be empty.
    std::vector<CameraDescription> getCameraDescs();

    // Null for an unknown serial, a fusion camera, or a camera that fails to open.
    // Opening a serial again gives a working camera; an earlier handle of that
    // serial stops streaming and reports itself disconnected.
    std::shared_ptr<DvsCamera> openCamera(const std::string &serial);
    // Null for an unknown serial or a camera that is not a fusion camera.
    std::shared_ptr<FusionCamera> openFusionCamera(const std::string &serial);

private:
    std::mutex mutex_;
    std::vector<std::unique_ptr<CameraKind>> kinds_; // listing order
};

} // namespace vexadin
