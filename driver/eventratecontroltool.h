#pragma once

#include "driver/eventfilterstage.h"
#include "driver/parametertool.h"

namespace vexadin {

class EventRateControlTool : public ParameterTool, public EventFilterStage {
public:
    EventRateControlTool();
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;
};

} // namespace vexadin
