#include "camera/fusioncamera.h"

#include <utility>

namespace vexadin {

FusionCamera::FusionCamera(const CameraDescription &description) : description_(description) {}

FusionCamera::~FusionCamera() = default;

void FusionCamera::setStatisticInfoCallback(std::function<void(VxStatisticInfo)>) {}

CameraDescription FusionCamera::getDescription() const { return description_; }

std::shared_ptr<CameraTool> FusionCamera::getTool(ToolType type) const
{
    const auto it = tools_.find(type);
    return it == tools_.end() ? nullptr : it->second;
}

void FusionCamera::registerTool(ToolType type, std::shared_ptr<CameraTool> tool)
{
    tools_[type] = std::move(tool);
}

} // namespace vexadin
