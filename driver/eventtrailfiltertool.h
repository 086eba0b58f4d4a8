#pragma once

#include "driver/eventfilterstage.h"
#include "driver/parametertool.h"

#include <cstdint>
#include <memory>

namespace vexadin {

class EventTrailFilterTool : public ParameterTool, public EventFilterStage {
public:
    EventTrailFilterTool(uint16_t sensorWidth, uint16_t sensorHeight);
    ~EventTrailFilterTool() override;
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vexadin
