#include "camera/dvscameramanager.h"

#include "driver/cameraregistry.h"
#include "driver/camerakind.h"
#include "driver/replaycamerakind.h"
#include "driver/simulatedcamerakind.h"
#include "driver/streamingcamera.h"

#include <set>

namespace vexadin {

DvsCameraManager::DvsCameraManager()
{
    // The table of camera kinds, in listing order.
    kinds_.push_back(std::make_unique<SimulatedCameraKind>());
    kinds_.push_back(std::make_unique<ReplayCameraKind>());
}

DvsCameraManager::~DvsCameraManager() = default;

std::vector<CameraDescription> DvsCameraManager::getCameraDescs()
{
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<CameraDescription> all;
    std::set<std::string> serials;
    for (const auto &kind : kinds_)
        for (CameraDescription &d : kind->list())
            if (serials.insert(d.serial).second) // a serial names one camera
                all.push_back(std::move(d));
    return all;
}

std::shared_ptr<DvsCamera> DvsCameraManager::openCamera(const std::string &serial)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto &kind : kinds_) {
        for (const CameraDescription &d : kind->list()) {
            if (d.serial != serial)
                continue;
            std::shared_ptr<StreamingCamera> camera = kind->openCamera(d);
            if (camera)
                CameraRegistry::instance().adopt(serial, camera);
            return camera;
        }
    }
    return nullptr;
}

std::shared_ptr<FusionCamera> DvsCameraManager::openFusionCamera(const std::string &serial)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto &kind : kinds_)
        for (const CameraDescription &d : kind->list())
            if (d.serial == serial)
                return kind->openFusionCamera(d);
    return nullptr;
}

} // namespace vexadin
