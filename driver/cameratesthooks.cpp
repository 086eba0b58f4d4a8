#include "driver/cameratesthooks.h"

#include "driver/cameraregistry.h"
#include "driver/streamingcamera.h"

#include <mutex>

namespace vexadin::testhooks {

namespace {

std::mutex g_firmwareMutex;
std::string g_firmwareVersion;

} // namespace

bool unplugCamera(const std::string &serial)
{
    const std::shared_ptr<StreamingCamera> camera = CameraRegistry::instance().find(serial);
    if (!camera)
        return false;
    camera->unplug();
    return true;
}

bool injectTriggerIn(const std::string &serial, int16_t edge, int16_t channel)
{
    const std::shared_ptr<StreamingCamera> camera = CameraRegistry::instance().find(serial);
    if (!camera)
        return false;
    camera->injectTrigger(edge, channel);
    return true;
}

void setFusionFirmwareVersion(const std::string &version)
{
    std::lock_guard<std::mutex> lock(g_firmwareMutex);
    g_firmwareVersion = version;
}

std::string fusionFirmwareVersion()
{
    std::lock_guard<std::mutex> lock(g_firmwareMutex);
    return g_firmwareVersion.empty() ? std::string(kDefaultFusionFirmwareVersion) : g_firmwareVersion;
}

} // namespace vexadin::testhooks
