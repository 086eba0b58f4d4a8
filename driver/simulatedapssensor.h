#pragma once

#include "camera/apsframe.h"
#include "driver/framesyncsource.h"

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace vexadin {

class ApsTool;
class FusionRecordingSet;
class SimulatedScene;

// The frame sensor of a simulated fusion camera, on a thread of its own: each
// finished exposure is drawn from the scene (at the middle of the exposure, as
// bright as exposure x gain make it, through the lens mapping frame pixels onto
// the event sensor), handed to a running recording, then to the frame callbacks.
// Auto exposure measures every frame and sets the next exposures.
//
// The producer posts exposures and never waits. Frames are not dropped for a
// slow consumer (each frame has its trigger edges, and a consumer pairing them by
// order would lose step), unless kMaxPendingFrames exposures wait: then the
// oldest is dropped, counted and logged.
//
// Frame buffers are reused once no one else holds them: a callback that keeps a
// picture clones it, and callbacks must not write into the frame.
class SimulatedApsSensor {
public:
    static constexpr size_t kMaxPendingFrames = 64;

    // frameToSensor: frame pixel -> event sensor coordinates (a00 a01 a02 a10 a11 a12).
    // The frames' time stamps are on the APS clock: camera time + apsClockLeadUs.
    SimulatedApsSensor(const SimulatedScene &scene, uint16_t width, uint16_t height, const double frameToSensor[6],
                       std::shared_ptr<ApsTool> aps, uint64_t apsClockLeadUs, std::string name);
    ~SimulatedApsSensor(); // joins; waiting exposures are dropped

    SimulatedApsSensor(const SimulatedApsSensor &) = delete;
    SimulatedApsSensor &operator=(const SimulatedApsSensor &) = delete;

    // Any thread. Ids from 1.
    int addFrameCallback(std::function<void(ApsFrame)> callback);

    // Producer: a finished exposure, to be read out (and recorded when recording is set).
    void post(const FrameExposure &exposure, std::shared_ptr<FusionRecordingSet> recording);
    // Returns once every exposure posted before is delivered (at once from a callback).
    void drain();

    uint16_t width() const { return width_; }
    uint16_t height() const { return height_; }
    uint64_t framesDelivered() const { return delivered_.load(); }
    uint64_t framesDropped() const { return dropped_.load(); }
    // Bytes of frames read out since the last call (statistics).
    std::shared_ptr<std::atomic<uint64_t>> byteCounter() const { return bytes_; }

private:
    struct Job {
        FrameExposure exposure;
        std::shared_ptr<FusionRecordingSet> recording;
    };
    void run();
    void readOut(const Job &job);
    ApsFrame freeBuffer();

    const SimulatedScene &scene_;
    const uint16_t width_, height_;
    double frameToSensor_[6];
    const std::shared_ptr<ApsTool> aps_;
    const uint64_t apsClockLeadUs_;
    const std::string name_;

    std::mutex mutex_;
    std::condition_variable wake_;
    std::condition_variable idle_;
    bool quit_ = false;
    bool busy_ = false;
    std::deque<Job> queue_;
    std::vector<std::shared_ptr<std::function<void(ApsFrame)>>> callbacks_;
    int nextId_ = 1;

    std::vector<ApsFrame> buffers_; // frame thread only
    std::atomic<uint64_t> delivered_{0};
    std::atomic<uint64_t> dropped_{0};
    const std::shared_ptr<std::atomic<uint64_t>> bytes_ = std::make_shared<std::atomic<uint64_t>>(0);
    std::thread thread_;
};

} // namespace vexadin
