#pragma once

#include "driver/eventfilterstage.h"
#include "driver/parametertool.h"

#include <cstdint>

namespace vexadin {

class RoiTool : public ParameterTool, public EventFilterStage {
public:
    RoiTool(uint16_t sensorWidth, uint16_t sensorHeight);
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;

    // Moves the whole window at once (a config file may move and resize it, which
    // one value at a time could refuse half-way); false keeps the old window.
    bool setWindow(int x, int y, int width, int height);

protected:
    bool acceptInt(const std::string &name, int value) override;

private:
    bool fits(int x, int y, int width, int height) const;

    uint16_t sensorWidth_;
    uint16_t sensorHeight_;
    bool settingWindow_ = false; // only touched under the parameter lock

    // The producer's copy of the window, refreshed when the parameters change.
    uint64_t seenChanges_ = ~uint64_t(0);
    bool enabled_ = false;
    int x_ = 0, y_ = 0, width_ = 0, height_ = 0;
};

} // namespace vexadin
