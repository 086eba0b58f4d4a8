#include "driver/simulatedsource.h"

#include "driver/biasestool.h"
#include "driver/triggerintool.h"

#include <algorithm>

namespace vexadin {

SimulatedSource::SimulatedSource(uint16_t width, uint16_t height, uint64_t seed, std::shared_ptr<BiasesTool> biases,
                                 std::shared_ptr<TriggerInTool> triggerIn)
    : scene_(width, height, seed), biases_(std::move(biases)), triggerIn_(std::move(triggerIn))
{
}

SimulatedSource::~SimulatedSource() = default;

void SimulatedSource::startAt(uint64_t)
{
    // The scene runs on camera time: after a pause it continues where the world is now.
}

void SimulatedSource::produce(uint64_t t0, uint64_t t1, std::vector<Event2D> &events,
                              std::vector<EventTriggerIn> &triggers)
{
    scene_.generate(t0, t1, biases_->settings(), events);

    const size_t firstTrigger = triggers.size();
    const uint64_t half = kTriggerPeriodUs / 2;
    for (int channel = 0; channel < triggerIn_->channelCount(); ++channel) {
        if (!triggerIn_->channelEnabled(channel))
            continue;
        // Edges lie on multiples of half a period: 1 on even ones, 0 on odd ones.
        for (uint64_t k = (t0 + half - 1) / half; k * half < t1; ++k)
            triggers.emplace_back(static_cast<int16_t>(channel), static_cast<int16_t>(k % 2 == 0 ? 1 : 0),
                                  k * half);
    }
    std::stable_sort(triggers.begin() + static_cast<std::ptrdiff_t>(firstTrigger), triggers.end(),
                     [](const EventTriggerIn &a, const EventTriggerIn &b) { return a.timestamp < b.timestamp; });
}

} // namespace vexadin
