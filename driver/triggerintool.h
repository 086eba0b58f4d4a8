#pragma once

#include "driver/parametertool.h"

namespace vexadin {

class TriggerInTool : public ParameterTool {
public:
    explicit TriggerInTool(int channels = 2);
    int channelCount() const;
    bool channelEnabled(int channel) const;

private:
    int channels_;
};

} // namespace vexadin
