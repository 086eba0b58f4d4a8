#pragma once

#include "driver/eventsource.h"
#include "driver/simulatedscene.h"

#include <cstdint>
#include <memory>

namespace vexadin {

class BiasesTool;
class TriggerInTool;

// The simulated sensor of a simulated camera: the scene's events under the
// current biases, and on every enabled trigger input a square wave (edge 1 at each
// whole period of camera time, edge 0 half a period later).
class SimulatedSource : public EventSource {
public:
    static constexpr uint64_t kTriggerPeriodUs = 1000000; // 1 Hz

    SimulatedSource(uint16_t width, uint16_t height, uint64_t seed, std::shared_ptr<BiasesTool> biases,
                    std::shared_ptr<TriggerInTool> triggerIn);
    ~SimulatedSource() override;

    void startAt(uint64_t t) override;
    void produce(uint64_t t0, uint64_t t1, std::vector<Event2D> &events,
                 std::vector<EventTriggerIn> &triggers) override;

private:
    SimulatedScene scene_;
    std::shared_ptr<BiasesTool> biases_;
    std::shared_ptr<TriggerInTool> triggerIn_;
};

} // namespace vexadin
