#include "driver/triggerintool.h"

#include <algorithm>

namespace vexadin {

namespace {

std::string channelName(int channel)
{
    return "channel_" + std::to_string(channel);
}

} // namespace

TriggerInTool::TriggerInTool(int channels) : channels_(std::max(channels, 0))
{
    for (int i = 0; i < channels_; ++i)
        addBool(channelName(i),
                "Delivers the signal edges of trigger input " + std::to_string(i) + " when on.",
                false);
}

int TriggerInTool::channelCount() const
{
    return channels_;
}

bool TriggerInTool::channelEnabled(int channel) const
{
    return channel >= 0 && boolValue(channelName(channel));
}

} // namespace vexadin
