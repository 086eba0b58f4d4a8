#include "driver/cameraregistry.h"

#include "driver/streamingcamera.h"

namespace vexadin {

CameraRegistry &CameraRegistry::instance()
{
    static CameraRegistry registry;
    return registry;
}

void CameraRegistry::adopt(const std::string &serial, const std::shared_ptr<StreamingCamera> &camera)
{
    std::shared_ptr<StreamingCamera> previous;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        // Forget handles that are gone, so the map does not grow with every open.
        for (auto it = cameras_.begin(); it != cameras_.end();)
            it = it->second.expired() ? cameras_.erase(it) : std::next(it);
        previous = cameras_[serial].lock();
        cameras_[serial] = camera;
    }
    if (previous && previous != camera)
        previous->takeOver();
    // previous may be the last reference: it is released here, outside the lock.
}

std::shared_ptr<StreamingCamera> CameraRegistry::find(const std::string &serial)
{
    std::lock_guard<std::mutex> lock(mutex_);
    const auto it = cameras_.find(serial);
    return it == cameras_.end() ? nullptr : it->second.lock();
}

} // namespace vexadin
