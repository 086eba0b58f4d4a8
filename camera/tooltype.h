#pragma once

#include <string>

namespace vexadin {

// Camera tools by the codes the camera library gives them (2 exists and is unused).
enum ToolType : int {
    TOOL_BIASES = 0,
    TOOL_TRIGGER_IN = 1,
    TOOL_ANTI_FLICKER = 3,
    TOOL_EVENT_TRAIL_FILTER = 4,
    TOOL_EVENT_RATE_CONTROL = 5,
    TOOL_ROI = 6,
    TOOL_APS = 7,
};

struct ToolInfo {
    ToolType type = TOOL_BIASES;
    std::string name; // e.g. "Biases"; for logs and tools, not shown by the viewer
};

} // namespace vexadin
