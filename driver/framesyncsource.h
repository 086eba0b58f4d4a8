#pragma once

#include "driver/eventsource.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace vexadin {

class ApsTool;
class SimulatedScene;
class SimulatedSource;

// One exposure of a fusion camera's frame sensor, in camera time (µs since open).
struct FrameExposure {
    uint64_t index = 0; // frame number: exposure k starts at k * 1,000,000 / fps
    uint64_t start = 0;
    uint64_t end = 0;   // start + exposure time
};

// The event side of a simulated fusion camera: the simulated sensor's events and
// trigger inputs, plus the frame sensor's exposure signal wired to the trigger
// input kSyncChannel: edge 1 when an exposure starts and edge 0 when it ends, at
// a fixed frame rate. The exposure time is read from the APS tool when an exposure
// starts.
//
// Every exposure whose edge 1 went out is completed with an edge 0 (and reported
// through takeCompleted), so a consumer that pairs frames with edges by order
// never loses step. When streaming starts, the exposure under way (begun before
// the stream) is reported too, without its edge 1: the events up to the next
// edge 1 belong to it. After a gap in the stream (a producer that fell behind)
// the next frame starts with its edge 1 as usual.
class FrameSyncSource : public EventSource {
public:
    static constexpr int16_t kSyncChannel = 2;

    FrameSyncSource(std::unique_ptr<SimulatedSource> sensor, uint32_t fps, std::shared_ptr<ApsTool> aps);
    ~FrameSyncSource() override;

    void startAt(uint64_t t) override;
    void produce(uint64_t t0, uint64_t t1, std::vector<Event2D> &events,
                 std::vector<EventTriggerIn> &triggers) override;
    bool connected() const override;
    std::string lostReason() const override;

    // Producer thread: moves the exposures that ended in the produce() calls so far
    // into out, in order.
    void takeCompleted(std::vector<FrameExposure> &out);

    const SimulatedScene &scene() const;
    uint32_t fps() const { return fps_; }
    uint64_t startOf(uint64_t index) const { return index * 1000000u / fps_; }
    // The frame whose period [startOf(k), startOf(k + 1)) holds t.
    uint64_t indexAt(uint64_t t) const;

private:
    // Exposure `index` with the exposure time set now.
    FrameExposure exposureOf(uint64_t index) const;

    std::unique_ptr<SimulatedSource> sensor_;
    const uint32_t fps_;
    std::shared_ptr<ApsTool> aps_;

    // Producer thread only.
    std::optional<FrameExposure> open_; // exposing now
    uint64_t next_ = 0;                 // the next exposure to start
    std::vector<FrameExposure> completed_;
};

} // namespace vexadin
