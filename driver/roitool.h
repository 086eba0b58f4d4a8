#pragma once

#include "driver/eventfilterstage.h"
#include "driver/parametertool.h"

#include <cstdint>

namespace vexadin {

class RoiTool : public ParameterTool, public EventFilterStage {
public:
    RoiTool(uint16_t sensorWidth, uint16_t sensorHeight);
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;

protected:
    bool acceptInt(const std::string &name, int value) override;

private:
    uint16_t sensorWidth_;
    uint16_t sensorHeight_;
};

} // namespace vexadin
