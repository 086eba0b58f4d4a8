#include "camera/dvscamera.h"

#include "driver/cameraconfigfile.h"
#include "driver/driverlog.h"

#include <algorithm>

namespace vexadin {

DvsCamera::DvsCamera(CameraDescription description,
                     std::vector<std::pair<ToolType, std::shared_ptr<CameraTool>>> tools)
    : description_(std::move(description)), tools_(std::move(tools))
{
    tools_.erase(std::remove_if(tools_.begin(), tools_.end(), [](const auto &t) { return !t.second; }), tools_.end());
    std::stable_sort(tools_.begin(), tools_.end(), [](const auto &a, const auto &b) { return a.first < b.first; });
}

DvsCamera::~DvsCamera() = default;

CameraDescription DvsCamera::getDescription() const
{
    return description_;
}

std::shared_ptr<CameraTool> DvsCamera::getTool(ToolType type) const
{
    for (const auto &t : tools_)
        if (t.first == type)
            return t.second;
    return nullptr;
}

std::vector<ToolInfo> DvsCamera::getAllToolsInfo() const
{
    std::vector<ToolInfo> infos;
    for (const auto &t : tools_) {
        ToolInfo info;
        info.type = t.first;
        info.name = CameraConfigFile::toolName(t.first);
        infos.push_back(info);
    }
    return infos;
}

bool DvsCamera::exportCameraConfigParams(const std::string &path) const
{
    std::string error;
    if (CameraConfigFile::save(path, description_, tools_, &error))
        return true;
    driverLog(DriverLogLevel::Warning,
              "camera " + description_.serial + ": cannot export the configuration to '" + path + "': " + error);
    return false;
}

bool DvsCamera::loadCameraConfigParams(const std::string &path)
{
    std::string error;
    if (CameraConfigFile::load(path, description_, tools_, &error))
        return true;
    driverLog(DriverLogLevel::Warning,
              "camera " + description_.serial + ": configuration '" + path + "' not loaded: " + error);
    return false;
}

} // namespace vexadin
