#pragma once

#include "driver/eventfilterstage.h"
#include "driver/parametertool.h"

namespace vexadin {

class EventRateControlTool : public ParameterTool, public EventFilterStage {
public:
    EventRateControlTool();
    void apply(std::vector<Event2D> &events, uint64_t sliceStart, uint64_t sliceEnd) override;

private:
    // Producer-thread copies of the parameters.
    uint64_t seenChanges_ = ~uint64_t(0);
    bool enabled_ = false;
    double maxRate_ = 0; // events per second
    // Fraction of an event the previous slice's allowance left over, so that short
    // slices still add up to the allowed rate.
    double carry_ = 0;
};

} // namespace vexadin
