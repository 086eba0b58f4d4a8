#pragma once

#include "driver/eventfilterstage.h"
#include "driver/parametertool.h"

#include <cstdint>
#include <memory>

namespace vexadin {

class AntiFlickerTool : public ParameterTool, public EventFilterStage {
public:
    AntiFlickerTool(uint16_t sensorWidth, uint16_t sensorHeight);
    ~AntiFlickerTool() override;
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;

private:
    struct State;
    std::unique_ptr<State> state_;
};

} // namespace vexadin
