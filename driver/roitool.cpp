#include "driver/roitool.h"

#include <algorithm>

namespace vexadin {

RoiTool::RoiTool(uint16_t sensorWidth, uint16_t sensorHeight)
    : sensorWidth_(std::max<uint16_t>(sensorWidth, 1)),
      sensorHeight_(std::max<uint16_t>(sensorHeight, 1))
{
    addBool("enable", "Delivers only the events inside the window when on.", false);
    addInt("x", "Left column of the window.", 0, sensorWidth_ - 1, 0, "px");
    addInt("y", "Top row of the window.", 0, sensorHeight_ - 1, 0, "px");
    addInt("width", "Width of the window; it must end inside the sensor.", 1, sensorWidth_,
           sensorWidth_, "px");
    addInt("height", "Height of the window; it must end inside the sensor.", 1, sensorHeight_,
           sensorHeight_, "px");
}

bool RoiTool::fits(int x, int y, int width, int height) const
{
    // 64-bit sums: no overflow whatever the caller passes.
    return x >= 0 && y >= 0 && width >= 1 && height >= 1
           && int64_t(x) + width <= sensorWidth_ && int64_t(y) + height <= sensorHeight_;
}

bool RoiTool::acceptInt(const std::string &name, int value)
{
    if (settingWindow_)
        return true; // setWindow() checked the whole window already
    int x = intValue("x"), y = intValue("y");
    int width = intValue("width"), height = intValue("height");
    if (name == "x")
        x = value;
    else if (name == "y")
        y = value;
    else if (name == "width")
        width = value;
    else if (name == "height")
        height = value;
    return fits(x, y, width, height);
}

bool RoiTool::setWindow(int x, int y, int width, int height)
{
    if (!fits(x, y, width, height))
        return false;
    bool ok = true;
    underLock([&] {
        settingWindow_ = true;
        ok = setIntValue("x", x) && setIntValue("y", y) && setIntValue("width", width)
             && setIntValue("height", height);
        settingWindow_ = false;
    });
    return ok;
}

void RoiTool::apply(std::vector<Event2D> &events, uint64_t, uint64_t)
{
    refreshIfChanged(seenChanges_, [&] {
        enabled_ = boolValue("enable");
        x_ = intValue("x");
        y_ = intValue("y");
        width_ = intValue("width");
        height_ = intValue("height");
    });
    if (!enabled_)
        return;
    const unsigned x0 = unsigned(x_), y0 = unsigned(y_);
    const unsigned w = unsigned(width_), h = unsigned(height_);
    // Unsigned differences: one comparison per axis. Every event is written and
    // only the kept ones advance, so that no branch depends on the scene.
    size_t kept = 0;
    for (size_t i = 0; i < events.size(); ++i) {
        const Event2D e = events[i];
        events[kept] = e;
        kept += (unsigned(e.x) - x0 < w) & (unsigned(e.y) - y0 < h);
    }
    events.resize(kept);
}

} // namespace vexadin
